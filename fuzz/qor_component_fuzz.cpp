// The QOR component's import on any bytes, from a host memory stream through the stream
// adapter, as the host drives it. A failed import is a reported error or a refused value,
// never anything else.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "formats/qor_trj_xtl_chemxml/qor_component.h"
#include "fuzz/fuzz_importer.h"
#include "host/documents.h"
#include "host/streams.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static CfxComPtr<host::ContainerRoot> root = [] {
        host::RegisterHostClasses();
        return host::ContainerRoot::Create();
    }();
    CfxComPtr<ISBImporter> importer = ConnectedImporter<cartovane::CQORImportExport>(*root.Get());
    CfxComPtr<host::Model3dDocument> document = host::Model3dDocument::Create(kAtomistic3dDocumentProgID);
    CfxComPtr<ISBStream> stream = host::CreateMemoryStream(std::vector<char>(data, data + size));
    const HRESULT hr = importer->Import(stream.Get(), static_cast<ISBDocumentRoot*>(document.Get()), CfxVariant().Get());
    if (FAILED(hr) && hr != E_UNEXPECTED && hr != E_INVALIDARG && hr != E_FAIL) std::abort();
    return 0;
}
