// ARC trajectories as the host plays them: the ARC component imports a generated file of 100
// periodic frames of 10k atoms with its companion CAR into a host document (which shows frame
// 1), then the trajectory goes to frames through the frame loader.
//
//   BM_ArcImport                the import alone
//   BM_ArcImportThenLastFrame   the import, then frame 100
//   BM_ArcImportThenEveryFrame  the import, then frames 1 .. 100 in order
//   BM_ArcUnequalThenLastFrame  as the second, on frames whose lengths differ a little (some
//                               carry a comment line), so they are counted by one skimming pass
//                               and the last is reached through the offsets that pass recorded
//
// Counters: MB_per_s (the ARC file's bytes, MB of 10^6 bytes, per second) and index_bytes_per_frame
// (what the loader keeps to find its frames; it keeps no frame's data but the one last read).
#include <benchmark/benchmark.h>

#include <fstream>
#include <string>

#include "bench/arc_files.h"
#include "bench/bench_support.h"
#include "bench/component_host.h"
#include "formats/carmdf/arc_loader.h"
#include "utilities/trajectory.h"

namespace {

constexpr int kFrames = cvbench::kArcFrames;

// Imports the file, then shows each frame of frames (1-based) in turn; the trajectory, or null.
template <class Frames>
bool Play(const std::string& arc, const Frames& frames, std::size_t* indexBytes = nullptr) {
    const cvbench::ComponentHost& host = cvbench::TheHost();
    CfxComPtr<host::Model3dDocument> document = host.NewDocument(arc);
    if (!host.Import("SDCartovane.ARCImportExport", arc, *document.Get())) return false;
    std::vector<xxTrajectory*> trajectories = document->Tree().ChildrenOf<xxTrajectory>();
    if (trajectories.size() != 1 || trajectories.front()->GetCurrentFrame() != 1 ||
        trajectories.front()->GetNumFrames() != kFrames)
        return false;
    for (int frame : frames)
        if (!trajectories.front()->SetCurrentFrame(frame)) return false;
    if (indexBytes) {
        const auto* loader = dynamic_cast<const xxLoadArc*>(trajectories.front()->GetFrameLoader());
        *indexBytes = loader ? loader->FrameIndexBytes() : 0;
    }
    return true;
}

template <class Frames>
void Run(benchmark::State& state, bool unequal, const Frames& frames) {
    const std::string& arc = cvbench::ArcInput(unequal);
    if (arc.empty()) return state.SkipWithError("the ARC file could not be written");
    std::size_t indexBytes = 0;
    if (!Play(arc, frames, &indexBytes)) return state.SkipWithError("the trajectory did not play");
    for (auto _ : state)
        if (!Play(arc, frames)) return state.SkipWithError("the trajectory did not play");
    std::ifstream in(arc, std::ios::binary | std::ios::ate);
    const auto bytes = static_cast<double>(in.tellg());
    state.counters["MB_per_s"] = benchmark::Counter(bytes * static_cast<double>(state.iterations()) / 1e6,
                                                    benchmark::Counter::kIsRate);
    state.counters["index_bytes_per_frame"] = static_cast<double>(indexBytes) / kFrames;
}

std::vector<int> EveryFrame() {
    std::vector<int> all;
    for (int f = 1; f <= kFrames; ++f) all.push_back(f);
    return all;
}

void BM_ArcImport(benchmark::State& state) { Run(state, false, std::vector<int>{}); }
void BM_ArcImportThenLastFrame(benchmark::State& state) { Run(state, false, std::vector<int>{kFrames}); }
void BM_ArcImportThenEveryFrame(benchmark::State& state) { Run(state, false, EveryFrame()); }
void BM_ArcUnequalThenLastFrame(benchmark::State& state) { Run(state, true, std::vector<int>{kFrames}); }

BENCHMARK(BM_ArcImport)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ArcImportThenLastFrame)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ArcImportThenEveryFrame)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ArcUnequalThenLastFrame)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
