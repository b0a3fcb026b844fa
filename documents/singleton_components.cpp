#include "documents/singleton_components.h"

#include <istream>
#include <memory>
#include <string>

#include "datamodel/bead_types.h"
#include "datamodel/periodic_table.h"
#include "documents/xsd_reader.h"
#include "documents/xsd_writer.h"
#include "frame/component_io.h"
#include "xml/xml.h"

namespace cartovane {

namespace {

// Parses the stream, with prefix before a parse failure's text when one is given.
void Parse(ISBStream* stream, xmlTree& tree, const char* prefix) {
    auto parse = [&] {
        Cfx::CheckNullDereference(stream);
        CSBStreamBuf buffer(stream);
        std::istream in(&buffer);
        xmlTreeLoader(in, tree).Load();
    };
    if (prefix) Cfx::WithinPrefixedLevels(prefix, parse);
    else parse();
}

// Loads the data into a fresh object of the singleton's class and installs it only when the
// whole load succeeded. The document element's name is not checked; its object's must be the
// singleton's class.
template <class Singleton>
void ImportInto(ISBStream* stream, const char* parsePrefix) {
    xmlTree tree;
    Parse(stream, tree, parsePrefix);
    const std::string& expected = Singleton::Class().GetName();
    if (const xmlElement* document = tree.GetDocumentElement()) {
        for (std::size_t i = 0; i < document->ChildCount(); ++i) {
            const xmlElement* object = document->Child(i).AsElement();
            if (!object) continue;
            if (object->GetName() != expected)
                throw Cfx::CfxResult(E_UNEXPECTED, "The data holds a " + object->GetName() + ", not a " + expected);
            break;
        }
    }
    auto loaded = std::make_unique<Singleton>();
    XSDToDM(*loaded).Load(tree);
    Singleton::Install(*loaded);
}

template <class Singleton>
void ExportFrom(ISBStream* stream, const char* documentElement) {
    xmlTree tree;
    DMToXSD(tree, nullptr).WriteObjectTree(Singleton::Instance(), documentElement);
    Cfx::CheckNullDereference(stream);
    bool saved = false;
    // A host stream records why it refuses bytes; that reason, not the saver's, is the export's.
    Cfx::ClearLastError();
    WriteOutcome outcome = WriteOutcome::Written;
    try {
        // The stream is judged by what reached it, the saver by its answer.
        outcome = WriteThrough(stream, [&](std::ostream& out) {
            saved = xmlTreeSaver(out, tree, false).Save(0, 0);
            return true;
        });
    } catch (...) {
        if (FAILED(Cfx::GetLastError().hr)) Cfx::CfxResult::LastError();
        throw;
    }
    if (outcome != WriteOutcome::Written) Cfx::CfxResult::LastErrorCheckNotS_OK(E_FAIL);
    if (!saved) throw Cfx::CfxResult(E_FAIL, "Cannot write the " + Singleton::Class().GetName() + " data");
}

}  // namespace

HRESULT PeriodicTableImportExport::Import(ISBStream* stream, ISBDocumentRoot*, const VARIANT&) {
    return Cfx::Guarded(CLSID_PeriodicTableImportExport, IID_ISBImporter, [&]() -> HRESULT {
        ImportInto<xxPeriodicTable>(stream, kPeriodicTableParsePrefix);
        return S_OK;
    });
}

HRESULT PeriodicTableImportExport::Export(ISBStream* stream, ISBDocumentRoot*, const VARIANT&) {
    return Cfx::Guarded(CLSID_PeriodicTableImportExport, IID_ISBExporter, [&]() -> HRESULT {
        ExportFrom<xxPeriodicTable>(stream, "PTData");
        return S_OK;
    });
}

HRESULT BeadTypesImportExport::Import(ISBStream* stream, ISBDocumentRoot*, const VARIANT&) {
    return Cfx::Guarded(CLSID_BeadTypesImportExport, IID_ISBImporter, [&]() -> HRESULT {
        ImportInto<xxBeadTypeManager>(stream, nullptr);
        return S_OK;
    });
}

HRESULT BeadTypesImportExport::Export(ISBStream* stream, ISBDocumentRoot*, const VARIANT&) {
    return Cfx::Guarded(CLSID_BeadTypesImportExport, IID_ISBExporter, [&]() -> HRESULT {
        ExportFrom<xxBeadTypeManager>(stream, "BeadTypeData");
        return S_OK;
    });
}

}  // namespace cartovane
