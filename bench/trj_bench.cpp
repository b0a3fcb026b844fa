// Playing TRJ trajectories as the host does: a model of 100k atoms (IDs 1 ... 100k, a P1 cell)
// built in memory in a host document whose file lies beside a generated TRJ file, and the
// document's trajectory showing one frame after another. 100 frames, version 3000, periodic,
// velocities in every frame, every atom moving; in our byte order and in the other; and a
// version 2000 file (f32 coordinates).
//
// Each timed iteration shows a frame other than the one shown (cycling through the frames): the
// read and the model update (positions, relative velocities, cell, vector velocities, stress,
// energies). Counters: MB_per_s (the frame's bytes in the file, MB of 10^6 bytes, per second),
// frames_per_s, heap_growth_per_frame_bytes (what the loader held more after the last frame than
// after the first, playing every frame in order, per frame: the offset table). The first visit
// of the last frame times a fresh loader (Init, the frame count, the frames before it passed in
// skip mode, then the frame).
#include <benchmark/benchmark.h>

#include <fstream>
#include <map>
#include <memory>
#include <string>

#include "bench/bench_support.h"
#include "formats/qor_trj_xtl_chemxml/trj_loader.h"
#include "tests/support/trj_file.h"
#include "tests/support/trj_model.h"

namespace {

constexpr int kFrames = 100;
constexpr int kAtoms = 100'000;

cvtest::TrjParameters Run(int version, bool reversed) {
    cvtest::TrjParameters p;
    p.version = version;
    p.reversed = reversed;
    p.periodicity = 3;
    p.totalAtoms = kAtoms;
    p.movingIds = cvtest::TrjModel::Ids(kAtoms);
    p.frames = kFrames;
    p.velocities = [](int) { return true; };
    return p;
}

// The TRJ file of the run, written once; its path.
const std::string& RunFile(int version, bool reversed) {
    static std::map<std::pair<int, bool>, std::string> made;
    std::string& path = made[{version, reversed}];
    if (path.empty()) {
        const std::string file =
            cvbench::ScratchFile(std::to_string(version) + (reversed ? "-reversed" : "-native")) + ".trj";
        const std::string bytes = cvtest::MakeTrj(Run(version, reversed)).Bytes();
        std::ofstream out(file, std::ios::binary);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        if (out.flush()) path = file;
    }
    return path;
}

// The bytes of a frame with velocities.
double FrameBytes(const xxLoadTRJ& loader) {
    return static_cast<double>(loader.GetFrameSize() + 3 * loader.GetCoordinateRecordSize());
}

void PlayFrames(benchmark::State& state, int version, bool reversed) {
    const std::string& path = RunFile(version, reversed);
    if (path.empty()) return state.SkipWithError("the run could not be written");
    cvtest::TrjModel model(path, cvtest::TrjModel::Ids(kAtoms), 3);
    xxTrajectory& trajectory = model.Trajectory();
    if (trajectory.GetNumFrames() != kFrames || !trajectory.SetCurrentFrame(1))
        return state.SkipWithError("the trajectory does not play every frame");
    const auto* loader = dynamic_cast<const xxLoadTRJ*>(trajectory.GetFrameLoader());

    // Every frame in order once, counting what the loader holds.
    cvbench::BeginCounting();
    for (int frame = 2; frame <= kFrames; ++frame)
        if (!trajectory.SetCurrentFrame(frame)) return state.SkipWithError("a frame did not load");
    const std::int64_t growth = cvbench::CountedHeld();
    cvbench::EndCounting();

    int frame = trajectory.GetCurrentFrame();
    for (auto _ : state) {
        frame = frame % kFrames + 1;
        if (!trajectory.SetCurrentFrame(frame)) return state.SkipWithError("a frame did not load");
    }
    const double frames = static_cast<double>(state.iterations());
    state.counters["MB_per_s"] = benchmark::Counter(frames * FrameBytes(*loader) / 1e6, benchmark::Counter::kIsRate);
    state.counters["frames_per_s"] = benchmark::Counter(frames, benchmark::Counter::kIsRate);
    state.counters["heap_growth_per_frame_bytes"] = static_cast<double>(growth) / (kFrames - 1);
}

void BM_TrjFrameNative(benchmark::State& state) { PlayFrames(state, 3000, false); }
void BM_TrjFrameReversed(benchmark::State& state) { PlayFrames(state, 3000, true); }
void BM_TrjFrameVersion2000(benchmark::State& state) { PlayFrames(state, 2000, false); }

void BM_TrjFirstVisitOfTheLastFrame(benchmark::State& state) {
    const std::string& path = RunFile(3000, false);
    if (path.empty()) return state.SkipWithError("the run could not be written");
    cvtest::TrjModel model(path, cvtest::TrjModel::Ids(kAtoms), 3);
    xxTrajectory& trajectory = model.Trajectory();
    for (auto _ : state) {
        trajectory.SetTrajectoryType("trj");  // a fresh loader
        if (!trajectory.SetCurrentFrame(kFrames)) return state.SkipWithError("the last frame did not load");
    }
    state.counters["frames_per_s"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

BENCHMARK(BM_TrjFrameNative)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_TrjFrameReversed)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_TrjFrameVersion2000)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_TrjFirstVisitOfTheLastFrame)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
