// Playing HIS trajectories as the host does: the HIS component imports a generated run (its
// model from the CAR file beside it) into a host document through the library's registered
// components, then the document's trajectory shows one frame after another. 100 frames of 100k
// atoms, version 2.9, every atom movable, periodic; in our byte order and in the other.
//
// Each timed iteration shows a frame other than the one shown (cycling through the frames):
// the read, the model update (positions, velocities, cell, energies, stresses) and the images.
// Counters: MB_per_s (the frame's bytes in the file, MB of 10^6 bytes, per second), frames_per_s,
// import_ms (the import, which shows frame 1), heap_growth_bytes (what the loader held more after
// the last frame than after the first, playing every frame in order) and play_peak_bytes (the
// most it held above that while doing so).
#include <benchmark/benchmark.h>

#include <chrono>
#include <fstream>
#include <map>
#include <string>

#include "bench/bench_support.h"
#include "bench/component_host.h"
#include "formats/carmdf/his_loader.h"
#include "host/documents.h"
#include "tests/formats/carmdf/his_support.h"

namespace {

constexpr int kFrames = 100;
constexpr int kAtoms = 100'000;

cvtest::HisParameters Run(bool reversed) {
    cvtest::HisParameters params;
    params.version = 2.9;
    params.atoms = kAtoms;
    params.frames = kFrames;
    params.reversed = reversed;
    return params;
}

// The HIS file of the run and its CAR file, written once; the path of the HIS file.
const std::string& RunFile(bool reversed) {
    static std::map<bool, std::string> made;
    std::string& path = made[reversed];
    if (path.empty()) {
        const std::string stem = cvbench::ScratchFile(reversed ? "reversed" : "native");
        const cvtest::HisParameters params = Run(reversed);
        std::ofstream(stem + ".car", std::ios::binary) << cvtest::carmdf::HisModelCar(params);
        const cvtest::HisFile run = cvtest::MakeHis(params);
        const std::string& bytes = run.writer.Bytes();
        std::ofstream his(stem + ".his", std::ios::binary);
        his.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        if (his.flush()) path = stem + ".his";
    }
    return path;
}

// A host document the HIS component imported the file into, through the registered components.
CfxComPtr<host::Model3dDocument> Import(const std::string& path) {
    const cvbench::ComponentHost& components = cvbench::TheHost();
    CfxComPtr<host::Model3dDocument> document = components.NewDocument(path);
    if (!components.Import("SDCartovane.HistImportExport", path, *document.Get())) return {};
    return document;
}

void PlayFrames(benchmark::State& state, bool reversed) {
    const std::string& path = RunFile(reversed);
    if (path.empty()) return state.SkipWithError("the run could not be written");
    const auto start = std::chrono::steady_clock::now();
    CfxComPtr<host::Model3dDocument> document = Import(path);
    const double importSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (!document) return state.SkipWithError("the import failed");
    std::vector<xxTrajectory*> trajectories = document->Tree().ChildrenOf<xxTrajectory>();
    if (trajectories.size() != 1 || trajectories.front()->GetNumFrames() != kFrames)
        return state.SkipWithError("the import gave no trajectory of every frame");
    xxTrajectory& trajectory = *trajectories.front();
    const auto* loader = dynamic_cast<const xxLoadHIS*>(trajectory.GetFrameLoader());
    if (!loader || trajectory.GetCurrentFrame() != 1) return state.SkipWithError("frame 1 is not shown");

    // Every frame in order once, counting what the loader holds.
    cvbench::BeginCounting();
    for (int frame = 2; frame <= kFrames; ++frame)
        if (!trajectory.SetCurrentFrame(frame)) return state.SkipWithError("a frame did not load");
    const std::int64_t growth = cvbench::CountedHeld();
    const cvbench::CountedPass played = cvbench::EndCounting();

    double bytes = 0;
    int frame = trajectory.GetCurrentFrame();
    for (auto _ : state) {
        frame = frame % kFrames + 1;
        if (!trajectory.SetCurrentFrame(frame)) return state.SkipWithError("a frame did not load");
        bytes += static_cast<double>(loader->FrameBytes(frame - 1));
    }
    state.counters["MB_per_s"] = benchmark::Counter(bytes / 1e6, benchmark::Counter::kIsRate);
    state.counters["frames_per_s"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
    state.counters["import_ms"] = importSeconds * 1e3;
    state.counters["heap_growth_bytes"] = static_cast<double>(growth);
    state.counters["play_peak_bytes"] = static_cast<double>(played.peak);
}

void BM_HisFrameNative(benchmark::State& state) { PlayFrames(state, false); }
void BM_HisFrameReversed(benchmark::State& state) { PlayFrames(state, true); }

BENCHMARK(BM_HisFrameNative)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_HisFrameReversed)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
