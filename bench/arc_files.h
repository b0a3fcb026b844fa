// The ARC trajectories the benchmarks play: 100 periodic frames of 10k atoms (molecules of 100),
// the atoms moving and the cell growing a little from frame to frame, with the first frame as
// the companion CAR file beside it.
#pragma once

#include <string>

namespace cvbench {

inline constexpr int kArcFrames = 100;
inline constexpr int kArcAtoms = 10'000;

// The path of "equal.arc" (every frame of the same length) or, with unequal, "unequal.arc"
// (some frames carry a comment line, so their lengths differ a little), written once in the
// scratch directory with its companion; empty when it cannot be written.
const std::string& ArcInput(bool unequal = false);

}  // namespace cvbench
