// The MDF reader on any text, beside a fixed CAR model. Byte 0 modulo 3 picks the periodicity
// (none, three- or two-dimensional) and, with bit 2, bond perception when the MDF fails; the rest
// is written to the MDF file the load finds.
// Fuzz with the keywords of MDF texts: -dict=fuzz/mdf_fuzz.dict.
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <system_error>
#include <string_view>
#include <unistd.h>

#include "cfx/cfx.h"
#include "datamodel/atomistic.h"
#include "formats/carmdf/car_reader.h"
#include "host/diagnostics.h"

namespace {

// Molecule 1: WAT_1 (O1 H1 H2); molecule 2: RNG_1 (C1 C2 C3 M1) and SID_2 (S1).
constexpr std::string_view kAtoms =
    "O1       1.000000000    1.000000000    1.000000000 WAT  1      o*      O  -0.820\n"
    "H1       1.960000000    1.000000000    1.000000000 WAT  1      h*      H   0.410\n"
    "H2       0.760000000    1.930000000    1.000000000 WAT  1      h*      H   0.410\n"
    "end\n"
    "C1       5.000000000    5.000000000    5.000000000 RNG  1      c       C   0.000\n"
    "C2       6.400000000    5.000000000    5.000000000 RNG  1      c       C   0.000\n"
    "C3       5.700000000    6.200000000    5.000000000 RNG  1      c       C   0.000\n"
    "M1       5.700000000    5.400000000    7.000000000 RNG  1      fe      Fe  0.000\n"
    "S1       4.000000000    4.000000000    5.000000000 SID  2      c       C   0.000\n"
    "end\n"
    "end\n";

std::string CarText(std::uint8_t choice) {
    std::string text = "!KORVEN archive 3\n";
    switch (choice % 3) {
        case 0:
            text += "PBC=OFF\ntitle\n!DATE Thu Dec 10 12:00:00 2026\n";
            break;
        case 1:
            text += "PBC=ON\ntitle\n!DATE Thu Dec 10 12:00:00 2026\n"
                    "PBC   10.0000   10.0000   10.0000   90.0000   90.0000   90.0000 (P1)\n";
            break;
        default:
            text += "PBC=2D\ntitle\n!DATE Thu Dec 10 12:00:00 2026\nPBC    10.0000   10.0000   90.0000(p1)\n";
            break;
    }
    return text + std::string(kAtoms);
}

// A directory of the process's own, removed when the process ends.
struct ScratchDirectory {
    std::filesystem::path path;
    ScratchDirectory() {
        std::string pattern = (std::filesystem::temp_directory_path() / "cartovane-mdf-fuzz-XXXXXX").string();
        if (!::mkdtemp(pattern.data())) std::abort();
        path = pattern;
    }
    ~ScratchDirectory() {
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    }
};

const std::filesystem::path& Directory() {
    static const ScratchDirectory directory;
    return directory.path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    const std::string carPath = (Directory() / "fuzz.car").string();
    {
        std::ofstream mdf(Directory() / "fuzz.mdf", std::ios::binary | std::ios::trunc);
        mdf.write(reinterpret_cast<const char*>(data + 1), static_cast<std::streamsize>(size - 1));
        if (!mdf) std::abort();
    }
    static CfxComPtr<host::DiagnosticsManager> manager = host::DiagnosticsManager::Create();
    CfxComPtr<ISBDiagnosticsConnection> connection;
    CfxBSTR source("CAR/MDF importer");
    manager->GetConnection(source.Get(), connection.Out());
    manager->Clear();

    std::istringstream in(CarText(data[0]));
    xxAtomisticTreeRoot root;
    xxLoadCAR reader;
    if (reader.LoadCarMdfFile(in, root, carPath, connection.Get(), (data[0] & 4) != 0) != S_OK) std::abort();
    // Whatever the MDF says, the CAR's atoms stay.
    std::size_t atoms = 0;
    root.ForEachDescendent([&](xxObject& o) {
        if (o.IsA(xxAtom3d::classType) && o.GetID() > 0) ++atoms;
        return true;
    });
    if (atoms < 8) std::abort();
    return 0;
}
