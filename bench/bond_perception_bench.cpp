// Bond perception over simple cubic carbon lattices (1.54 Angstrom, three bonds per atom):
// the pair search alone, the same with the lattice as a periodic cell, and ConstructBonds
// making the bond objects in a molecule. Reported as atoms per second.
#include <benchmark/benchmark.h>

#include <cmath>
#include <memory>
#include <vector>

#include "datamodel/atomistic.h"
#include "datamodel/bond_perception.h"

namespace {

constexpr double kSpacing = 1.54;

int Side(std::int64_t atoms) { return static_cast<int>(std::lround(std::cbrt(static_cast<double>(atoms)))); }

std::vector<xxPoint3d> Lattice(int side) {
    std::vector<xxPoint3d> out;
    out.reserve(static_cast<std::size_t>(side) * static_cast<std::size_t>(side) * static_cast<std::size_t>(side));
    for (int i = 0; i < side; ++i)
        for (int j = 0; j < side; ++j)
            for (int k = 0; k < side; ++k) out.push_back({kSpacing * i, kSpacing * j, kSpacing * k});
    return out;
}

void Report(benchmark::State& state, std::size_t atoms, std::size_t bonds) {
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(atoms));
    state.counters["atoms"] = static_cast<double>(atoms);
    state.counters["bonds"] = static_cast<double>(bonds);
}

void FindPairs(benchmark::State& state, bool periodic) {
    const int side = Side(state.range(0));
    const std::vector<xxPoint3d> positions = Lattice(side);
    const std::vector<double> radii(positions.size(), 0.76);
    const double length = kSpacing * side;
    const xxPeriodicCell cell{{{{length, 0, 0}, {0, length, 0}, {0, 0, length}}}};
    std::size_t bonds = 0;
    for (auto _ : state) {
        auto pairs = xxBondPerception::FindCovalentPairs(positions, radii, periodic ? &cell : nullptr);
        bonds = pairs.size();
        benchmark::DoNotOptimize(pairs.data());
    }
    Report(state, positions.size(), bonds);
}

void BM_FindCovalentPairs(benchmark::State& state) { FindPairs(state, false); }
void BM_FindCovalentPairsPeriodic(benchmark::State& state) { FindPairs(state, true); }

void BM_ConstructBonds(benchmark::State& state) {
    const std::vector<xxPoint3d> positions = Lattice(Side(state.range(0)));
    std::size_t bonds = 0;
    for (auto _ : state) {
        state.PauseTiming();
        auto root = std::make_unique<xxAtomisticTreeRoot>();
        auto& molecule = root->CreateChild<xxMolecule>();
        for (const xxPoint3d& p : positions) molecule.CreateChild<xxAtom3d>("C").SetXYZ(p);
        state.ResumeTiming();
        bonds = xxAtom::ConstructBonds(molecule);
        state.PauseTiming();
        root.reset();
        state.ResumeTiming();
    }
    Report(state, positions.size(), bonds);
}

BENCHMARK(BM_FindCovalentPairs)->Arg(10'000)->Arg(100'000)->Arg(1'000'000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FindCovalentPairsPeriodic)->Arg(10'000)->Arg(100'000)->Arg(1'000'000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ConstructBonds)->Arg(10'000)->Arg(100'000)->Arg(1'000'000)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
