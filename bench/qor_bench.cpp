// QOR reading and writing speed: the CAR benchmarks' generated models of 10k, 100k and 1M atoms
// (molecules of 100 atoms in residues of 10, charges, force-field types, bonded chains), written
// through xxSaveQOR to a file and read back from disk through xxLoadQOR; the same models in a P1
// cell (the second argument 1) measure the periodic paths: the symmetry build and display on
// reading, the lattice and image lookups on writing.
//
// Counters: write_MBps / read_MBps (QOR text per second) and atoms_per_s; for reading also
// resident_B_per_atom (what the loaded model keeps) and peak_B_per_atom (the most the load
// held), both measured on the first load.
#include <benchmark/benchmark.h>
#include <malloc.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <limits>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "bench/bench_models.h"
#include "bench/bench_support.h"
#include "datamodel/atomistic.h"
#include "datamodel/symmetry/builder.h"
#include "formats/qor_trj_xtl_chemxml/qor_reader.h"
#include "formats/qor_trj_xtl_chemxml/qor_writer.h"

namespace {

std::string FileFor(int atoms, bool periodic) {
    return cvbench::ScratchFile("model_" + std::to_string(atoms) + (periodic ? "_p1" : "") + ".qor");
}

// The model moved into a P1 cell that holds all of it.
std::unique_ptr<xxAtomisticTreeRoot> Model(int atoms, bool periodic) {
    auto model = cvbench::ResidueChains(atoms);
    if (!periodic) return model;
    double extent = 10;
    model->ForEachDescendent([&](xxObject& o) {
        const xxPoint3d p = o.GetXYZ();
        extent = std::max({extent, std::abs(p.x), std::abs(p.y), std::abs(p.z)});
        return true;
    });
    auto& system = model->CreateChild<xxMultiScaleSymmetrySystem>();
    std::vector<xxObject*> content;
    for (const auto& child : model->Children())
        if (child.get() != &system) content.push_back(child.get());
    for (xxObject* o : content) o->SetParent(system);
    auto group = xxSymmetryCreator::CreateSymmetryDefinition(xxSpaceGroupFactory::Instantiate().GetSpaceGroupByName("P1"), system);
    const double a = 2 * extent + 10;
    group->SetCellVectors({a, 0, 0}, {0, a, 0}, {0, 0, a}, false);
    xxSymmetryChanger::Build(system, std::move(group), true, 0.05, false);
    system.GetSymmetryDisplay().GenerateDisplay();
    return model;
}

bool Write(xxObject& model, const std::string& path) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    return xxSaveQOR().SaveObjectToStream(out, &model, "qor") && out.flush();
}

// The file of a model of that size, written once.
const std::string& WrittenFile(int atoms, bool periodic) {
    static std::map<std::pair<int, bool>, std::string> written;
    std::string& path = written[{atoms, periodic}];
    if (path.empty()) {
        auto model = Model(atoms, periodic);
        path = FileFor(atoms, periodic);
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
    const bool periodic = state.range(1) != 0;
    auto model = Model(atoms, periodic);
    const std::string path = FileFor(atoms, periodic);
    for (auto _ : state)
        if (!Write(*model, path)) return state.SkipWithError("the write failed");
    const double n = static_cast<double>(state.iterations());
    state.counters["write_MBps"] = benchmark::Counter(
        static_cast<double>(std::filesystem::file_size(path)) * n / 1e6, benchmark::Counter::kIsRate);
    state.counters["atoms_per_s"] = benchmark::Counter(atoms * n, benchmark::Counter::kIsRate);
}

void BM_ReadQor(benchmark::State& state) {
    const int atoms = static_cast<int>(state.range(0));
    const std::string& path = WrittenFile(atoms, state.range(1) != 0);
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

BENCHMARK(BM_WriteQor)
    ->ArgsProduct({{10'000, 100'000, 1'000'000}, {0, 1}})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(BM_ReadQor)
    ->ArgsProduct({{10'000, 100'000, 1'000'000}, {0, 1}})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

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
