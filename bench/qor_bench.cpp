// QOR reading and writing speed: the CAR benchmarks' generated models of 10k, 100k and 1M atoms
// (molecules of 100 atoms in residues of 10, charges, force-field types, bonded chains), written
// through xxSaveQOR to a file and read back from disk through xxLoadQOR; the same models in a P1
// cell (the second argument 1) measure the periodic paths: the symmetry build and display on
// reading, the lattice and image lookups on writing.
//
// The polymer series is the same model with every residue a repeat unit (head its first atom,
// tail its last), so the file carries a Monomer line and two linkage records per residue.
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
#include "datamodel/polymer.h"
#include "datamodel/symmetry/builder.h"
#include "formats/qor_trj_xtl_chemxml/qor_reader.h"
#include "formats/qor_trj_xtl_chemxml/qor_writer.h"

namespace {

// The residue chains with each residue a repeat unit in its molecule.
std::unique_ptr<xxAtomisticTreeRoot> PolymerChains(int atoms) {
    auto root = cvbench::ResidueChains(atoms);
    for (xxMultiScaleSubUnit* residue : root->DescendentsOf<xxMultiScaleSubUnit>()) {
        auto& unit = residue->GetParent()->CreateChild<xxMultiScaleRepeatUnit>();
        unit.SetName(residue->GetName());
        auto members = residue->ChildrenOf<xxAtom3d>();
        residue->MoveChildrenTo(unit);
        residue->Delete();
        if (!members.empty()) {
            unit.SetHeadAtom(members.front());
            unit.SetTailAtom(members.back());
        }
    }
    return root;
}

// The model moved into a P1 cell that holds all of it.
std::unique_ptr<xxAtomisticTreeRoot> P1Chains(int atoms) {
    auto model = cvbench::ResidueChains(atoms);
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

using ModelMaker = std::unique_ptr<xxAtomisticTreeRoot> (*)(int);

std::string FileFor(int atoms, const char* series = "model") {
    return cvbench::ScratchFile(std::string(series) + "_" + std::to_string(atoms) + ".qor");
}

bool Write(xxObject& model, const std::string& path) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    return xxSaveQOR().SaveObjectToStream(out, &model, "qor") && out.flush();
}

// The file of a model of that size, written once.
const std::string& WrittenFile(int atoms, ModelMaker make = cvbench::ResidueChains, const char* series = "model") {
    static std::map<std::pair<std::string, int>, std::string> written;
    std::string& path = written[{series, atoms}];
    if (path.empty()) {
        auto model = make(atoms);
        path = FileFor(atoms, series);
        if (!Write(*model, path)) path.clear();
    }
    return path;
}

bool LoadOnce(const std::string& path, std::unique_ptr<xxAtomisticTreeRoot>& root) {
    root = std::make_unique<xxAtomisticTreeRoot>();
    std::ifstream in(path, std::ios::binary);
    return xxLoadQOR().LoadObjectFromStreamHR(in, root.get(), "bench") == S_OK;
}

void WriteSeries(benchmark::State& state, ModelMaker make, const char* series) {
    const int atoms = static_cast<int>(state.range(0));
    auto model = make(atoms);
    const std::string path = FileFor(atoms, series);
    for (auto _ : state)
        if (!Write(*model, path)) return state.SkipWithError("the write failed");
    const double n = static_cast<double>(state.iterations());
    state.counters["write_MBps"] = benchmark::Counter(
        static_cast<double>(std::filesystem::file_size(path)) * n / 1e6, benchmark::Counter::kIsRate);
    state.counters["atoms_per_s"] = benchmark::Counter(atoms * n, benchmark::Counter::kIsRate);
}

void ReadSeries(benchmark::State& state, ModelMaker make, const char* series) {
    const int atoms = static_cast<int>(state.range(0));
    const std::string& path = WrittenFile(atoms, make, series);
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

void BM_WriteQor(benchmark::State& state) { WriteSeries(state, cvbench::ResidueChains, "model"); }
void BM_ReadQor(benchmark::State& state) { ReadSeries(state, cvbench::ResidueChains, "model"); }
void BM_WriteQorPolymer(benchmark::State& state) { WriteSeries(state, PolymerChains, "polymer"); }
void BM_ReadQorPolymer(benchmark::State& state) { ReadSeries(state, PolymerChains, "polymer"); }
void BM_WriteQorP1(benchmark::State& state) { WriteSeries(state, P1Chains, "p1"); }
void BM_ReadQorP1(benchmark::State& state) { ReadSeries(state, P1Chains, "p1"); }

BENCHMARK(BM_WriteQor)->Arg(10'000)->Arg(100'000)->Arg(1'000'000)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ReadQor)->Arg(10'000)->Arg(100'000)->Arg(1'000'000)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_WriteQorPolymer)->Arg(100'000)->Arg(1'000'000)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ReadQorPolymer)->Arg(100'000)->Arg(1'000'000)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_WriteQorP1)->Arg(10'000)->Arg(100'000)->Arg(1'000'000)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ReadQorP1)->Arg(10'000)->Arg(100'000)->Arg(1'000'000)->Unit(benchmark::kMillisecond)->UseRealTime();

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
