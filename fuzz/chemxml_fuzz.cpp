// The ChemistryXML import on any bytes; whatever imports is exported and imported again, which
// must succeed; a file written by molecules writes the same text once more (a flat one is read
// back in the order of its ids' text, so its numbers change).
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "formats/qor_trj_xtl_chemxml/chemxml_component.h"
#include "fuzz/fuzz_importer.h"
#include "host/documents.h"
#include "host/streams.h"

namespace {

// The component has no use for a container root; the helper connects it to none.
CfxComPtr<ISBImporter> Importer() {
    static CfxComPtr<host::ContainerRoot> root = [] {
        host::RegisterHostClasses();
        return host::ContainerRoot::Create();
    }();
    return ConnectedImporter<cartovane::ChemistryXMLImportExport>(*root.Get());
}

HRESULT Import(const std::vector<char>& bytes, host::Model3dDocument& document) {
    CfxComPtr<ISBStream> stream = host::CreateMemoryStream(bytes);
    return Importer()->Import(stream.Get(), static_cast<ISBDocumentRoot*>(&document), CfxVariant().Get());
}

std::vector<char> Export(host::Model3dDocument& document) {
    CfxComPtr<ISBExporter> exporter;
    if (FAILED(Importer()->QueryInterface(IID_ISBExporter, exporter.OutVoid()))) std::abort();
    CfxComPtr<ISBStream> stream = host::CreateMemoryStream();
    if (FAILED(exporter->Export(stream.Get(), static_cast<ISBDocumentRoot*>(&document), CfxVariant().Get())))
        std::abort();
    return host::MemoryStreamBytes(stream.Get());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const bool ready = static_cast<bool>(Importer());  // the host's classes are registered first
    (void)ready;
    CfxComPtr<host::Model3dDocument> document = host::Model3dDocument::Create(kAtomistic3dDocumentProgID);
    const HRESULT hr = Import(std::vector<char>(data, data + size), *document.Get());
    // A failed import leaves the document as it was.
    if (FAILED(hr)) {
        if (document->Tree().NumChildren() != 0) std::abort();
        return 0;
    }
    const std::vector<char> first = Export(*document.Get());
    CfxComPtr<host::Model3dDocument> again = host::Model3dDocument::Create(kAtomistic3dDocumentProgID);
    if (FAILED(Import(first, *again.Get()))) std::abort();
    const std::string text(first.begin(), first.end());
    if (text.find("<molecule") != std::string::npos && Export(*again.Get()) != first) std::abort();
    return 0;
}
