// QOR reading and writing speed: the CAR benchmarks' generated models of 10k, 100k and 1M atoms
// (molecules of 100 atoms in residues of 10, charges, force-field types, bonded chains), written
// through xxSaveQOR to a file and read back from disk through xxLoadQOR.
//
// Counters: write_MBps / read_MBps (QOR text per second) and atoms_per_s; for reading also
// resident_B_per_atom (what the loaded model keeps) and peak_B_per_atom (the most the load
// held), both measured on the first load.
#include <benchmark/benchmark.h>
#include <malloc.h>

#include <filesystem>
#include <fstream>
#include <limits>
#include <map>
#include <memory>
#include <string>

#include "bench/bench_models.h"
#include "bench/bench_support.h"
#include "datamodel/atomistic.h"
#include "formats/qor_trj_xtl_chemxml/qor_reader.h"
#include "formats/qor_trj_xtl_chemxml/qor_writer.h"

namespace {

std::string FileFor(int atoms) { return cvbench::ScratchFile("model_" + std::to_string(atoms) + ".qor"); }

bool Write(xxObject& model, const std::string& path) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    return xxSaveQOR().SaveObjectToStream(out, &model, "qor") && out.flush();
}

// The file of a model of that size, written once.
const std::string& WrittenFile(int atoms) {
    static std::map<int, std::string> written;
    std::string& path = written[atoms];
    if (path.empty()) {
        auto model = cvbench::ResidueChains(atoms);
        path = FileFor(atoms);
        if (!Write(*model, path)) path.clear();
    }
    return path;
}

bool LoadOnce(const std::string& path, std::unique_ptr<xxAtomisticTreeRoot>& root) {
    root = std::make_unique<xxAtomisticTreeRoot>();
    std::ifstream in(path, std::ios::binary);
    return xxLoadQOR().LoadObjectFromStreamHR(in, root.get(), "bench") == S_OK;
}

void BM_WriteQor(benchmark::State& state) {
    const int atoms = static_cast<int>(state.range(0));
    auto model = cvbench::ResidueChains(atoms);
    const std::string path = FileFor(atoms);
    for (auto _ : state)
        if (!Write(*model, path)) return state.SkipWithError("the write failed");
    const double n = static_cast<double>(state.iterations());
    state.counters["write_MBps"] = benchmark::Counter(
        static_cast<double>(std::filesystem::file_size(path)) * n / 1e6, benchmark::Counter::kIsRate);
    state.counters["atoms_per_s"] = benchmark::Counter(atoms * n, benchmark::Counter::kIsRate);
}

void BM_ReadQor(benchmark::State& state) {
    const int atoms = static_cast<int>(state.range(0));
    const std::string& path = WrittenFile(atoms);
    if (path.empty()) return state.SkipWithError("the file was not written");
    std::unique_ptr<xxAtomisticTreeRoot> root;
    const cvbench::FirstLoad first = cvbench::MeasureFirstLoad(atoms, [&] {
        return LoadOnce(path, root) && root->DescendentsOf<xxAtom>().size() == static_cast<std::size_t>(atoms);
    });
    if (!first.loaded) return state.SkipWithError("the model did not load");
    root.reset();
    for (auto _ : state) {
        const bool loaded = LoadOnce(path, root);
        state.PauseTiming();
        if (!loaded) {
            state.SkipWithError("the model did not load");
            break;
        }
        root.reset();
        state.ResumeTiming();
    }
    const double n = static_cast<double>(state.iterations());
    state.counters["read_MBps"] = benchmark::Counter(
        static_cast<double>(std::filesystem::file_size(path)) * n / 1e6, benchmark::Counter::kIsRate);
    state.counters["atoms_per_s"] = benchmark::Counter(atoms * n, benchmark::Counter::kIsRate);
    state.counters["resident_B_per_atom"] = first.residentPerAtom;
    state.counters["peak_B_per_atom"] = first.peakPerAtom;
}

BENCHMARK(BM_WriteQor)->Arg(10'000)->Arg(100'000)->Arg(1'000'000)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ReadQor)->Arg(10'000)->Arg(100'000)->Arg(1'000'000)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
    // Freed memory stays with the heap between loads, as in a host that opens one document after
    // another; the memory figures come from the first load after an explicit trim.
    mallopt(M_TRIM_THRESHOLD, std::numeric_limits<int>::max());
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
