// XTL crystals as the host imports them: the XTL component reads a generated file of sites on a
// grid in a 100 Angstrom cell from the host's memory stream into a host document.
//
//   BM_XtlP1/N      N sites in P1: the reading path (the rows are the atoms)
//   BM_XtlP21c/N    the same sites in P21/c: four atoms per site after the cell is completed
//
// Counters: MB_per_s (the file's bytes, MB of 10^6 bytes, per second) and atoms_per_s (atoms in
// the document); BM_XtlP21c also symmetry_share, the part of its time the P1 import of the
// same rows does not spend (resolving the group, completing the cell, the display). The 10k
// and 100k runs of each differ by about tenfold: completion is linear.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "base/text.h"
#include "bench/bench_support.h"
#include "bench/component_host.h"
#include "datamodel/symmetry/system.h"
#include "host/streams.h"

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

std::vector<char> Bytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<char>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// One import of the bytes into a fresh document: the atoms of its crystal, 0 when it failed.
std::size_t Import(const std::vector<char>& bytes) {
    const cvbench::ComponentHost& host = cvbench::TheHost();
    CfxComPtr<host::Model3dDocument> document = host.NewDocument("crystal.xtl");
    CfxComPtr<ISBStream> stream = host::CreateMemoryStream(bytes);
    if (!host.Import("SDCartovane.XTLImportExport", stream.Get(), *document.Get())) return 0;
    const xxMatterSymmetrySystem* system = xxMatterSymmetrySystem::FirstOf(document->Tree());
    return system ? system->NumChildren() : 0;
}

double SecondsPerImport(const std::vector<char>& bytes, int times) {
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < times; ++i) Import(bytes);
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() / times;
}

void Run(benchmark::State& state, const char* group, std::size_t perSite) {
    const int sites = static_cast<int>(state.range(0));
    const std::string path = XtlFile(group, sites);
    if (path.empty()) return state.SkipWithError("the XTL file could not be written");
    const std::vector<char> bytes = Bytes(path);
    std::size_t atoms = 0;
    for (auto _ : state) atoms = Import(bytes);
    if (atoms != perSite * static_cast<std::size_t>(sites)) return state.SkipWithError("the cell is not complete");
    const auto iterations = static_cast<double>(state.iterations());
    state.counters["MB_per_s"] =
        benchmark::Counter(static_cast<double>(bytes.size()) * iterations / 1e6, benchmark::Counter::kIsRate);
    state.counters["atoms_per_s"] =
        benchmark::Counter(static_cast<double>(atoms) * iterations, benchmark::Counter::kIsRate);
    if (perSite > 1) {
        // The same rows in P1, timed as often as this group's import once more, after it.
        const std::vector<char> p1 = Bytes(XtlFile("P1", sites));
        const int times = std::max(1, static_cast<int>(state.iterations()));
        const double withGroup = SecondsPerImport(bytes, times), rowsOnly = SecondsPerImport(p1, times);
        state.counters["symmetry_share"] = withGroup > 0 ? 1 - rowsOnly / withGroup : 0;
    }
}

void BM_XtlP1(benchmark::State& state) { Run(state, "P1", 1); }
void BM_XtlP21c(benchmark::State& state) { Run(state, "P21/c", 4); }

BENCHMARK(BM_XtlP1)->Arg(10'000)->Arg(100'000)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_XtlP21c)->Arg(10'000)->Arg(100'000)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
