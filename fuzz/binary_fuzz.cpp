// The undo/redo component's import on any bytes, from a memory stream into a fresh atomistic
// document: a stream it refuses leaves the document empty; one it restores saves again, and
// that stream restores into the same document and saves the same bytes.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "documents/binary_component.h"
#include "fuzz/fuzz_importer.h"
#include "host/documents.h"
#include "host/streams.h"

namespace {

HRESULT Restore(const std::vector<char>& bytes, host::Model3dDocument& document) {
    CfxComPtr<ISBStream> stream = host::CreateMemoryStream(bytes);
    return ConnectedImporter<cartovane::CBinaryImportExport>(FuzzContainerRoot())
        ->Import(stream.Get(), static_cast<ISBDocumentRoot*>(&document), CfxVariant().Get());
}

std::vector<char> Save(host::Model3dDocument& document) {
    CfxComPtr<ISBStream> stream = host::CreateMemoryStream();
    if (FAILED(ConnectedComponent<cartovane::CBinaryImportExport, ISBExporter>(FuzzContainerRoot(), IID_ISBExporter)
                   ->Export(stream.Get(), static_cast<ISBDocumentRoot*>(&document), CfxVariant().Get())))
        std::abort();
    return host::MemoryStreamBytes(stream.Get());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzContainerRoot();
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
