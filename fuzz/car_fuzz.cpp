// The CAR reader on any text. The text is read as a CAR file with no MDF beside it, so every
// load also takes the missing-MDF path (bond perception and the posted problem text).
// Fuzz with the keywords of CAR texts: -dict=fuzz/car_fuzz.dict.
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <system_error>
#include <unistd.h>

#include "cfx/cfx.h"
#include "datamodel/atomistic.h"
#include "formats/carmdf/car_reader.h"
#include "host/diagnostics.h"

namespace {

// A directory of the process's own, removed when the process ends.
struct ScratchDirectory {
    std::filesystem::path path;
    ScratchDirectory() {
        std::string pattern = (std::filesystem::temp_directory_path() / "cartovane-car-fuzz-XXXXXX").string();
        if (!::mkdtemp(pattern.data())) std::abort();
        path = pattern;
    }
    ~ScratchDirectory() {
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    }
};

const std::string& CarPath() {
    static const ScratchDirectory directory;
    static const std::string path = (directory.path / "fuzz.car").string();
    return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static CfxComPtr<host::DiagnosticsManager> manager = host::DiagnosticsManager::Create();
    CfxComPtr<ISBDiagnosticsConnection> connection;
    CfxBSTR source("CAR/MDF importer");
    manager->GetConnection(source.Get(), connection.Out());
    manager->Clear();

    std::istringstream in(std::string(reinterpret_cast<const char*>(data), size));
    xxAtomisticTreeRoot root;
    xxLoadCAR reader;
    const HRESULT hr = reader.LoadCarMdfFile(in, root, CarPath(), connection.Get(), true);
    // Only a text that is no CAR file fails, and then nothing was made.
    if (hr != S_OK && (hr != E_UNEXPECTED || root.NumChildren() != 0)) std::abort();
    if (hr == S_OK && manager->Messages().empty()) std::abort();  // the missing MDF is always posted
    return 0;
}
