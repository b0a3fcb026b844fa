// XTL crystals as the host imports them: the XTL component reads a generated file of sites on a
// grid in a 100 Angstrom cell into a host document.
//
//   BM_XtlP1/N      N sites in P1: the reading path (the rows are the atoms)
//   BM_XtlP21c/N    the same sites in P21/c: four atoms per site after the cell is completed
//
// Counters: MB_per_s (the file's bytes, MB of 10^6 bytes, per second) and atoms_per_s (atoms in
// the document). The 10k and 100k runs of each differ by about tenfold: completion is linear.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <fstream>
#include <string>

#include "base/text.h"
#include "bench/bench_support.h"
#include "bench/component_host.h"
#include "datamodel/symmetry/system.h"

namespace {

// Sites off the grid points by different fractions per axis, so that no operator image of a
// site falls onto another site.
std::string XtlFile(const char* group, int sites) {
    std::string name = std::string("crystal_") + group + "_" + std::to_string(sites) + ".xtl";
    std::replace(name.begin(), name.end(), '/', '_');  // "P21/c"
    const std::string path = cvbench::ScratchFile(name);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << "TITLE generated\nDIMENSION 3\nCELL\n 100 100 100 90 90 90\nSYMMETRY LABEL " << group
        << "\nATOMS\nNAME X Y Z OCC\n";
    constexpr int n = 47;  // odd, so that the half shifts of P21/c leave the grid too
    for (int i = 0; i < sites; ++i) {
        const int x = i % n, y = i / n % n, z = i / (n * n);
        out << "C" << i + 1 << ' ' << cartovane::text::FixedText((x + 0.13) / n, 6) << ' '
            << cartovane::text::FixedText((y + 0.29) / n, 6) << ' ' << cartovane::text::FixedText((z + 0.41) / n, 6)
            << " 1.0\n";
    }
    return out ? path : std::string();
}

void Run(benchmark::State& state, const char* group, std::size_t perSite) {
    const int sites = static_cast<int>(state.range(0));
    const std::string path = XtlFile(group, sites);
    if (path.empty()) return state.SkipWithError("the XTL file could not be written");
    const cvbench::ComponentHost& host = cvbench::TheHost();
    std::size_t atoms = 0;
    for (auto _ : state) {
        CfxComPtr<host::Model3dDocument> document = host.NewDocument(path);
        if (!host.Import("SDCartovane.XTLImportExport", path, *document.Get()))
            return state.SkipWithError("the import failed");
        const xxMatterSymmetrySystem* system = xxMatterSymmetrySystem::FirstOf(document->Tree());
        atoms = system ? system->NumChildren() : 0;
    }
    if (atoms != perSite * static_cast<std::size_t>(sites)) return state.SkipWithError("the cell is not complete");
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    const auto bytes = static_cast<double>(in.tellg());
    const auto iterations = static_cast<double>(state.iterations());
    state.counters["MB_per_s"] = benchmark::Counter(bytes * iterations / 1e6, benchmark::Counter::kIsRate);
    state.counters["atoms_per_s"] =
        benchmark::Counter(static_cast<double>(atoms) * iterations, benchmark::Counter::kIsRate);
}

void BM_XtlP1(benchmark::State& state) { Run(state, "P1", 1); }
void BM_XtlP21c(benchmark::State& state) { Run(state, "P21/c", 4); }

BENCHMARK(BM_XtlP1)->Arg(10'000)->Arg(100'000)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_XtlP21c)->Arg(10'000)->Arg(100'000)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
