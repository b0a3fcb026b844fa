#include "bench/arc_files.h"

#include <fstream>

#include "bench/bench_support.h"
#include "tests/support/car_lines.h"

namespace cvbench {

namespace {

constexpr int kMoleculeSize = 100;

std::string ArcFile(bool unequal) {
    using namespace cvtest::carmdf;
    const std::string name = unequal ? "unequal" : "equal";
    const std::string arc = ScratchFile(name + ".arc");
    const ArcLayout layout{.periodicity = "PBC=ON"};
    std::ofstream out(arc, std::ios::binary | std::ios::trunc);
    std::ofstream car(ScratchFile(name + ".car"), std::ios::binary | std::ios::trunc);
    const std::string header = ArcHeader(layout);
    out << header;
    car << header;
    for (int f = 0; f < kArcFrames; ++f) {
        ArcFrame frame;
        frame.value = -1000.0 - f;
        frame.cell = {40 + f / 100.0, 40, 40, 90, 90, 90};
        for (int i = 0; i < kArcAtoms; ++i) {
            if (i % kMoleculeSize == 0) frame.molecules.emplace_back();
            frame.molecules.back().push_back({"C" + std::to_string(i % kMoleculeSize + 1), (i % 25) * 1.5 + f / 100.0,
                                              (i / 25 % 25) * 1.5, (i / 625) * 1.5 - f / 100.0});
        }
        if (unequal && f % 7 == 3) frame.comments = {"restart"};
        const std::string text = ArcFrameText(layout, frame);
        out << text;
        if (f == 0) car << text;
    }
    return out && car ? arc : std::string();
}

}  // namespace

const std::string& ArcInput(bool unequal) {
    static const std::string equal = ArcFile(false), differing = ArcFile(true);
    return unequal ? differing : equal;
}

}  // namespace cvbench
