// The TRJ frame loader on any bytes: the bytes are the TRJ file beside a model of three atoms
// with IDs 1 ... 3, built in code without a cell, with a P1 cell and with a p1 plane cell, played
// through a fresh trajectory of each document as the host plays it: Init, the frame count,
// frames 1, 2 and the last, and the frame after the last, which must be refused.
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>

#include "fuzz/fuzz_trajectory.h"
#include "tests/support/trj_model.h"

namespace {

const std::string& Directory() {
    static const std::string path = [] {
        std::string pattern = (std::filesystem::temp_directory_path() / "cartovane-trj-fuzz-XXXXXX").string();
        if (!::mkdtemp(pattern.data())) std::abort();
        return pattern;
    }();
    return path;
}

struct Model {
    std::string trj;
    cvtest::TrjModel model;
    explicit Model(int dimension)
        : trj(Directory() + "/model" + std::to_string(dimension) + ".trj"), model(trj, cvtest::TrjModel::Ids(3), dimension) {}
};

void Play(Model& m, const std::uint8_t* data, std::size_t size) {
    cvfuzz::PlayTrajectoryFile(m.trj, data, size, m.model.Tree(), xxMatter::classType,
                               [&]() -> xxTrajectory& { return m.model.Trajectory(); });
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static Model plain(0), space(3), plane(2);
    Play(plain, data, size);
    Play(space, data, size);
    Play(plane, data, size);
    return 0;
}
