#include "documents/xsd_file.h"

#include <exception>
#include <istream>
#include <ostream>

#include "datamodel/object.h"
#include "documents/xsd_reader.h"
#include "documents/xsd_writer.h"
#include "frame/component_frame.h"
#include "xml/xml.h"

namespace {

// Clears what a failed load left below the target, dropping any failure of that.
class ClearTargetOnFailure {
public:
    explicit ClearTargetOnFailure(xxObject& target) : node_(target.As<xxTreeNode>()) {}
    ~ClearTargetOnFailure() {
        if (!armed_ || !node_) return;
        try {
            node_->RemoveDescendents();
        } catch (...) {
        }
    }
    ClearTargetOnFailure(const ClearTargetOnFailure&) = delete;
    ClearTargetOnFailure& operator=(const ClearTargetOnFailure&) = delete;
    void Disarm() { armed_ = false; }

private:
    xxTreeNode* node_;
    bool armed_ = true;
};

}  // namespace

HRESULT xxLoadXSD::LoadObjectFromStreamHR(std::istream& in, xxObject* target, std::string) {
    return Cfx::Guarded(GUID_NULL, GUID_NULL, [&]() -> HRESULT {
        if (!target) throw Cfx::CfxResult(E_POINTER, "No object to load into");
        ClearTargetOnFailure guard(*target);
        XSDToDM reader(*target);  // parses as it reads; goes before the guard clears the target
        try {
            reader.Load(in);
        } catch (const XSDToDM::ParseFailure& failure) {
            // Not well-formed XML: found before the target began to load (within the first piece
            // of the stream, for a small document), it leaves the target as it was.
            if (!reader.TargetTouched()) guard.Disarm();
            Cfx::WithinPrefixedLevels("Unable to parse XSD as valid XML",
                                            [&] { std::rethrow_exception(failure.Cause()); });
        }
        guard.Disarm();
        return S_OK;
    });
}

xxBool xxSaveXSD::SaveObjectToStream(std::ostream& out, xxObject* source, std::string) {
    if (!source) throw Cfx::CfxResult(E_POINTER, "No object to save");
    xmlTree tree;
    xmlTreeSaver saver(out, tree, true);
    DMToXSD writer(tree, &saver);
    writer.WriteObjectTree(*source, "XSD");
    return true;
}
