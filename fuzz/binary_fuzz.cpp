// The undo/redo component's import on any bytes, from a memory stream into a fresh atomistic
// document: a stream it refuses leaves the document empty; one it restores saves again, and
// that stream restores into the same document and saves the same bytes.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "documents/binary_component.h"
#include "host/documents.h"
#include "host/streams.h"

namespace {

template <class Interface>
CfxComPtr<Interface> Component(REFIID iid) {
    CCfxUnknown* created = nullptr;
    if (FAILED(cartovane::CBinaryImportExport::CreateInstance(&created))) std::abort();
    CfxComPtr<Interface> component;
    created->DelegatedQueryInterface(iid, component.OutVoid());
    created->DelegatedRelease();
    if (!component) std::abort();
    return component;
}

HRESULT Restore(const std::vector<char>& bytes, host::Model3dDocument& document) {
    CfxComPtr<ISBStream> stream = host::CreateMemoryStream(bytes);
    return Component<ISBImporter>(IID_ISBImporter)
        ->Import(stream.Get(), static_cast<ISBDocumentRoot*>(&document), CfxVariant().Get());
}

std::vector<char> Save(host::Model3dDocument& document) {
    CfxComPtr<ISBStream> stream = host::CreateMemoryStream();
    if (FAILED(Component<ISBExporter>(IID_ISBExporter)
                   ->Export(stream.Get(), static_cast<ISBDocumentRoot*>(&document), CfxVariant().Get())))
        std::abort();
    return host::MemoryStreamBytes(stream.Get());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const bool registered = [] {
        host::RegisterHostClasses();
        return true;
    }();
    (void)registered;
    const std::vector<char> bytes(reinterpret_cast<const char*>(data), reinterpret_cast<const char*>(data) + size);
    CfxComPtr<host::Model3dDocument> document = host::Model3dDocument::Create(kAtomistic3dDocumentProgID);
    if (FAILED(Restore(bytes, *document.Get()))) {
        if (document->Tree().NumChildren() != 0) std::abort();
        return 0;
    }
    const std::vector<char> saved = Save(*document.Get());
    CfxComPtr<host::Model3dDocument> again = host::Model3dDocument::Create(kAtomistic3dDocumentProgID);
    if (FAILED(Restore(saved, *again.Get()))) std::abort();
    if (Save(*again.Get()) != saved) std::abort();
    return 0;
}
