// The HIS frame loader on any bytes: the bytes are the HIS file beside a fixed model of three
// atoms (read from its CAR file once, one model with a cell and one without), played through a
// fresh trajectory of each document as the host plays it: Init, the frame count, frames 1, 2
// and the last, and the frame after the last, which must be refused.
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

#include "fuzz/fuzz_trajectory.h"
#include "tests/formats/carmdf/his_support.h"

namespace {

struct Model {
    std::string his;
    cvtest::carmdf::HisDocument document;

    explicit Model(bool periodic) : his(Directory() + (periodic ? "/cell.his" : "/plain.his")), document(his, Car(periodic)) {}

    static const std::string& Directory() {
        static const std::string path = [] {
            std::string pattern = (std::filesystem::temp_directory_path() / "cartovane-his-fuzz-XXXXXX").string();
            if (!::mkdtemp(pattern.data())) std::abort();
            return pattern;
        }();
        return path;
    }
    static std::string Car(bool periodic) {
        cvtest::HisParameters params;
        params.atoms = 3;
        params.periodic = periodic;
        return cvtest::carmdf::HisModelCar(params);
    }
};

void Play(Model& model, const std::uint8_t* data, std::size_t size) {
    cvfuzz::PlayTrajectoryFile(model.his, data, size, model.document.Tree(), xxBondable::classType,
                               [&]() -> xxTrajectory& { return model.document.Trajectory(); });
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static Model withCell(true), withoutCell(false);
    Play(withCell, data, size);
    Play(withoutCell, data, size);
    return 0;
}
