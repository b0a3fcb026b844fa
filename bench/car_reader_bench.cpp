// CAR/MDF reading speed: generated models of 10k, 100k and 1M atoms (molecules of 100 atoms in
// residues of 10), loaded from disk through xxLoadCAR, with and without a companion MDF.
//
// Counters: car_MBps (CAR text read per second), text_MBps (CAR and MDF together) and atoms_per_s,
// all in steady state (memory the heap kept from earlier loads); cold_car_MBps for the first load
// into memory fresh from the kernel; resident_B_per_atom (what the loaded model keeps) and
// peak_B_per_atom (the most the load held), both measured on that first load.
#include <benchmark/benchmark.h>
#include <malloc.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <limits>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <tuple>

#include "bench/bench_support.h"
#include "datamodel/atomistic.h"
#include "formats/carmdf/car_reader.h"

namespace {

constexpr int kAtomsPerResidue = 10;
constexpr int kResiduesPerMolecule = 10;

struct Files {
    std::string car, mdf;
    std::uintmax_t carBytes = 0, mdfBytes = 0;
};

const char* ElementOf(int i) {
    static const char* const elements[kAtomsPerResidue] = {"C", "C", "H", "H", "N", "C", "O", "H", "C", "H"};
    return elements[i % kAtomsPerResidue];
}

// The CAR file of n atoms and its MDF; written once per size.
// Periodic models sit in a P1 cell of 150 units that holds every atom.
const Files& FilesFor(int atoms, bool withMdf, bool periodic = false) {
    static std::map<std::tuple<int, bool, bool>, Files> made;
    Files& f = made[{atoms, withMdf, periodic}];
    if (!f.car.empty()) return f;
    const std::string stem =
        "model_" + std::to_string(atoms) + (withMdf ? "_mdf" : "") + (periodic ? "_periodic" : "");
    f.car = (cvbench::ScratchDirectory() / (stem + ".car")).string();
    f.mdf = (cvbench::ScratchDirectory() / (stem + ".mdf")).string();

    std::ofstream car(f.car, std::ios::binary);
    car << "!KORVEN archive 3\n" << (periodic ? "PBC=ON" : "PBC=OFF")
        << "\nGenerated for the reader benchmark\n!DATE Thu Dec 10 12:00:00 2026\n";
    if (periodic) car << "PBC  150.0000  150.0000  150.0000   90.0000   90.0000   90.0000 (P1)\n";
    std::ofstream mdf;
    if (withMdf) {
        mdf.open(f.mdf, std::ios::binary);
        mdf << "!KORVEN molecular_data 4\n \n!Date: Thu Dec 10 12:00:00 2026   Orbanite Generated MDF file\n \n"
               "#topology\n\n@column 1 element\n@column 2 atom_type\n@column 3 charge_group\n@column 4 isotope\n"
               "@column 5 formal_charge\n@column 6 charge\n@column 7 switching_atom\n@column 8 oop_flag\n"
               "@column 9 chirality_flag\n@column 10 occupancy\n@column 11 xray_temp_factor\n"
               "@column 12 connections\n";
    }
    char line[256];
    const int perMolecule = kAtomsPerResidue * kResiduesPerMolecule;
    for (int first = 0, molecule = 1; first < atoms; first += perMolecule, ++molecule) {
        if (withMdf) mdf << "\n@molecule M" << molecule << "\n\n";
        for (int k = 0; k < perMolecule && first + k < atoms; ++k) {
            const int residue = k / kAtomsPerResidue + 1;
            const int i = k % kAtomsPerResidue;
            const int id = first + k;
            const double x = (id % 100) * 1.5, y = (id / 100 % 100) * 1.5, z = (id / 10000) * 1.5 + 0.123456789;
            std::snprintf(line, sizeof line, "%s%-4d %14.9f %14.9f %14.9f %-4s %-7d%-7s %-2s %6.3f\n", ElementOf(i),
                          i + 1, x, y, z, "RES", residue, "c3", ElementOf(i), 0.01 * (i - 4));
            car << line;
            if (!withMdf) continue;
            std::snprintf(line, sizeof line, "RES_%d:%s%d", residue, ElementOf(i), i + 1);
            std::string record;
            char fields[160];
            std::snprintf(fields, sizeof fields, "%-19s %-2s %-7s %-5s %-1s  %-4s %7.4f %d %d 8 %6.4f %7.4f", line,
                          ElementOf(i), "c3", "1", "0", "0", 0.01 * (i - 4), 0, 0, 1.0, 0.0);
            record = fields;
            if (i > 0) record += std::string(" ") + ElementOf(i - 1) + std::to_string(i);
            if (i + 1 < kAtomsPerResidue && first + k + 1 < atoms)
                record += std::string(" ") + ElementOf(i + 1) + std::to_string(i + 2);
            if (i == 0 && residue > 1) {
                record += " RES_" + std::to_string(residue - 1) + ":" + ElementOf(kAtomsPerResidue - 1) +
                          std::to_string(kAtomsPerResidue) + "/1.5";
            }
            if (i == kAtomsPerResidue - 1 && residue < kResiduesPerMolecule && first + k + 1 < atoms)
                record += " RES_" + std::to_string(residue + 1) + ":" + ElementOf(0) + "1/1.5";
            mdf << record << " \n";
        }
        car << "end\n";
    }
    car << "end\n";
    if (withMdf) mdf << "\n!\n#end\n";
    car.close();
    mdf.close();
    f.carBytes = std::filesystem::file_size(f.car);
    f.mdfBytes = withMdf ? std::filesystem::file_size(f.mdf) : 0;
    return f;
}

// One load into a fresh tree.
bool LoadOnce(const Files& files, std::unique_ptr<xxAtomisticTreeRoot>& root) {
    root = std::make_unique<xxAtomisticTreeRoot>();
    std::ifstream in(files.car, std::ios::binary);
    xxLoadCAR reader;
    return reader.LoadCarMdfFile(in, *root, files.car, nullptr, false) == S_OK;
}

void LoadCar(benchmark::State& state, bool withMdf, bool periodic = false) {
    const int atoms = static_cast<int>(state.range(0));
    const Files& files = FilesFor(atoms, withMdf, periodic);
    std::unique_ptr<xxAtomisticTreeRoot> root;

    // Cold: the first load into memory fresh from the kernel; it also gives the memory figures.
    const cvbench::FirstLoad first = cvbench::MeasureFirstLoad(atoms, [&] {
        return LoadOnce(files, root) && root->DescendentsOf<xxAtom>().size() == static_cast<std::size_t>(atoms);
    });
    if (!first.loaded) {
        state.SkipWithError("the model did not load");
        return;
    }
    const double coldSeconds = first.seconds;
    root.reset();

    // Warm: loads into memory the heap has kept from the loads before (see main).
    for (auto _ : state) {
        const bool loaded = LoadOnce(files, root);
        state.PauseTiming();
        if (!loaded) {
            state.SkipWithError("the model did not load");
            break;
        }
        root.reset();
        state.ResumeTiming();
    }
    const double iterations = static_cast<double>(state.iterations());
    state.counters["car_MBps"] =
        benchmark::Counter(static_cast<double>(files.carBytes) * iterations / 1e6, benchmark::Counter::kIsRate);
    state.counters["text_MBps"] = benchmark::Counter(
        static_cast<double>(files.carBytes + files.mdfBytes) * iterations / 1e6, benchmark::Counter::kIsRate);
    state.counters["atoms_per_s"] = benchmark::Counter(atoms * iterations, benchmark::Counter::kIsRate);
    state.counters["cold_car_MBps"] = static_cast<double>(files.carBytes) / 1e6 / coldSeconds;
    state.counters["resident_B_per_atom"] = first.residentPerAtom;
    state.counters["peak_B_per_atom"] = first.peakPerAtom;
}

void BM_LoadCar(benchmark::State& state) { LoadCar(state, false); }
void BM_LoadCarMdf(benchmark::State& state) { LoadCar(state, true); }
// With the symmetry built (P1) and its display generated.
void BM_LoadCarMdfPeriodic(benchmark::State& state) { LoadCar(state, true, true); }

BENCHMARK(BM_LoadCar)->Arg(10'000)->Arg(100'000)->Arg(1'000'000)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_LoadCarMdf)->Arg(10'000)->Arg(100'000)->Arg(1'000'000)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_LoadCarMdfPeriodic)->Arg(100'000)->Arg(1'000'000)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
    // Freed memory stays with the heap between loads, as in a host that opens one document after
    // another; the cold figures come from the first load after an explicit trim.
    mallopt(M_TRIM_THRESHOLD, std::numeric_limits<int>::max());
    mallopt(M_MMAP_THRESHOLD, 32 * 1024 * 1024);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
