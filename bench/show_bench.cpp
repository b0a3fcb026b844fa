// The tool's show of a model, as `cartovane show` prints it after the import: the tree written
// as text, or as one JSON document, to a stream that keeps nothing. Generated models (molecules
// of 100 atoms in residues of 10, each residue a bonded chain).
//
// And `cartovane frames` (text and --json) as the tool runs it, import included, over a generated
// ARC trajectory of 100 periodic frames of 10k atoms with its companion CAR.
//
// Counters: MB_per_s (output, MB of 10^6 bytes, per second), atoms_per_s, peak_bytes_per_atom
// (the most heap the printing held, from one counted pass before the timed ones); for frames,
// frames_per_s and peak_bytes_per_atom (the whole command: import, play and output).
#include <benchmark/benchmark.h>

#include <cstdint>
#include <memory>
#include <ostream>
#include <streambuf>
#include <string>

#include "bench/arc_files.h"
#include "bench/bench_models.h"
#include "bench/bench_support.h"
#include "bench/component_host.h"
#include "tools/cartovane/commands.h"
#include "tools/cartovane/show.h"

namespace {

// Counts what is written and keeps none of it.
class CountingBuffer : public std::streambuf {
public:
    std::int64_t bytes = 0;

protected:
    std::streamsize xsputn(const char*, std::streamsize n) override {
        bytes += n;
        return n;
    }
    int_type overflow(int_type c) override {
        ++bytes;
        return traits_type::not_eof(c);
    }
};

template <class Print>
void Show(benchmark::State& state, Print print) {
    const int atoms = static_cast<int>(state.range(0));
    const std::unique_ptr<xxAtomisticTreeRoot> model = cvbench::ResidueChains(atoms);
    CountingBuffer sink;
    std::ostream out(&sink);
    const cvbench::CountedPass counted = cvbench::Counted([&] { print(out, *model); });
    const std::int64_t bytes = sink.bytes;
    for (auto _ : state) print(out, *model);
    const double iterations = static_cast<double>(state.iterations());
    state.counters["MB_per_s"] =
        benchmark::Counter(static_cast<double>(bytes) * iterations / 1e6, benchmark::Counter::kIsRate);
    state.counters["atoms_per_s"] = benchmark::Counter(atoms * iterations, benchmark::Counter::kIsRate);
    state.counters["peak_bytes_per_atom"] = static_cast<double>(counted.peak) / atoms;
}

void BM_ShowText(benchmark::State& state) {
    Show(state, [](std::ostream& out, const xxObject& root) { cartovane::tool::PrintTree(out, root); });
}

void BM_ShowJson(benchmark::State& state) {
    const cartovane::tool::Outcome outcome;
    const std::vector<host::DiagnosticMessage> none;
    Show(state, [&](std::ostream& out, const xxObject& root) { cartovane::tool::PrintJson(out, outcome, none, &root); });
}

// The whole command, as main runs it after loading the library.
void Frames(benchmark::State& state, bool json) {
    const std::string& arc = cvbench::ArcInput();
    if (arc.empty()) return state.SkipWithError("the ARC file could not be written");
    (void)cvbench::TheHost();  // the library's components, registered
    CountingBuffer sink;
    std::ostream out(&sink);
    auto run = [&] {
        cartovane::tool::Session session;
        cartovane::tool::Options options;
        options.positional = {arc};
        options.json = json;
        return cartovane::tool::Frames(session, options, out);
    };
    int status = 0;
    const cvbench::CountedPass counted = cvbench::Counted([&] { status = run(); });
    if (status != 0) return state.SkipWithError("frames failed");
    const std::int64_t bytes = sink.bytes;
    for (auto _ : state)
        if (run() != 0) return state.SkipWithError("frames failed");
    const double iterations = static_cast<double>(state.iterations());
    state.counters["MB_per_s"] =
        benchmark::Counter(static_cast<double>(bytes) * iterations / 1e6, benchmark::Counter::kIsRate);
    state.counters["frames_per_s"] = benchmark::Counter(cvbench::kArcFrames * iterations, benchmark::Counter::kIsRate);
    state.counters["peak_bytes_per_atom"] = static_cast<double>(counted.peak) / cvbench::kArcAtoms;
}

void BM_FramesText(benchmark::State& state) { Frames(state, false); }
void BM_FramesJson(benchmark::State& state) { Frames(state, true); }

}  // namespace

BENCHMARK(BM_FramesText)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_FramesJson)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ShowText)->Arg(100'000)->Arg(1'000'000)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ShowJson)->Arg(100'000)->Arg(1'000'000)->Unit(benchmark::kMillisecond)->UseRealTime();

BENCHMARK_MAIN();
