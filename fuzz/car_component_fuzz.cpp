// The CAR/MDF component's import on any bytes: the file stream, the stream adapter, the options
// and the reader together, as the host drives them. The file has no MDF beside it.
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

#include "formats/carmdf/car_component.h"
#include "host/documents.h"
#include "fuzz/fuzz_importer.h"
#include "host/streams.h"

namespace {

const std::string& CarPath() {
    static const std::string path = [] {
        std::string pattern = (std::filesystem::temp_directory_path() / "cartovane-component-fuzz-XXXXXX").string();
        if (!::mkdtemp(pattern.data())) std::abort();
        return pattern + "/fuzz.car";
    }();
    return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static CfxComPtr<host::ContainerRoot> root = [] {
        host::RegisterHostClasses();
        return host::ContainerRoot::Create();
    }();
    {
        std::ofstream out(CarPath(), std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
        if (!out) std::abort();
    }
    CfxComPtr<ISBImporter> importer = ConnectedImporter<cartovane::CCARImportExport>(*root.Get());

    CfxComPtr<host::Model3dDocument> document = host::Model3dDocument::Create(kAtomistic3dDocumentProgID);
    CfxComPtr<ISBStream> stream;
    if (FAILED(host::CreateFileStream(CarPath(), host::FileMode::Read, stream.Out()))) std::abort();
    const HRESULT hr = importer->Import(stream.Get(), static_cast<ISBDocumentRoot*>(document.Get()), CfxVariant().Get());
    // Only an empty file or a text that is no CAR file fails, and then nothing was made.
    if (FAILED(hr) && (hr != E_UNEXPECTED || document->Tree().NumChildren() != 0)) std::abort();
    return 0;
}
