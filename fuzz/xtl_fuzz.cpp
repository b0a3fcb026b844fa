// The XTL component's import on any bytes, into a fresh document, with a container root whose
// diagnostics record what is posted.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "formats/qor_trj_xtl_chemxml/xtl_component.h"
#include "fuzz/fuzz_importer.h"
#include "host/documents.h"
#include "host/streams.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static CfxComPtr<host::ContainerRoot> root = [] {
        host::RegisterHostClasses();
        return host::ContainerRoot::Create();
    }();
    CfxComPtr<ISBImporter> importer = ConnectedImporter<cartovane::CXTLImportExport>(*root.Get());

    CfxComPtr<host::Model3dDocument> document = host::Model3dDocument::Create(kAtomistic3dDocumentProgID);
    document->SetName("fuzz");
    CfxComPtr<ISBStream> stream = host::CreateMemoryStream(std::vector<char>(data, data + size));
    const HRESULT hr = importer->Import(stream.Get(), static_cast<ISBDocumentRoot*>(document.Get()), CfxVariant().Get());
    // A failed import leaves the document as it was; a successful one holds one symmetry system.
    if (FAILED(hr) && document->Tree().NumChildren() != 0) std::abort();
    if (SUCCEEDED(hr) && document->Tree().NumChildren() != 1) std::abort();
    for (const host::DiagnosticMessage& m : root->Diagnostics().Messages())
        if (m.severity != 2 || m.source != "XTL importer") std::abort();
    return 0;
}
