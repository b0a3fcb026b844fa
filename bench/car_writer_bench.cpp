// CAR/MDF writing speed: generated models of 10k, 100k and 1M atoms (molecules of 100 atoms in
// residues of 10, each residue a bonded chain), exported through xxSaveCAR to files on disk;
// and the full round trip, file -> document -> file, through xxLoadCAR and xxSaveCAR. A hub
// model (one atom bonded to every other) shows what one record with many connections costs.
//
// Counters: text_MBps (CAR and MDF written per second), car_MBps (the CAR alone) and
// atoms_per_s; for the round trip, text_MBps counts the text read and the text written.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <utility>

#include "bench/bench_models.h"
#include "bench/bench_support.h"
#include "datamodel/atomistic.h"
#include "formats/carmdf/car_reader.h"
#include "formats/carmdf/car_writer.h"

namespace {

const xxAtomisticTreeRoot& ModelOf(int atoms, bool hub = false) {
    static std::map<std::pair<int, bool>, std::unique_ptr<xxAtomisticTreeRoot>> made;
    auto& model = made[{atoms, hub}];
    if (!model) model = hub ? cvbench::Hub(atoms) : cvbench::ResidueChains(atoms);
    return *model;
}

bool Export(xxObject& model, const std::string& carPath) {
    std::ofstream car(carPath, std::ios::binary | std::ios::trunc);
    xxSaveCAR writer;
    xxBool allSets = true;
    return writer.WriteCarAndMdf(car, model, carPath, nullptr, allSets, true);
}

void SetCounters(benchmark::State& state, double carBytes, double mdfBytes, int atoms) {
    const auto n = static_cast<double>(state.iterations());
    state.counters["text_MBps"] = benchmark::Counter((carBytes + mdfBytes) * n / 1e6, benchmark::Counter::kIsRate);
    state.counters["car_MBps"] = benchmark::Counter(carBytes * n / 1e6, benchmark::Counter::kIsRate);
    state.counters["atoms_per_s"] = benchmark::Counter(atoms * n, benchmark::Counter::kIsRate);
}

void BM_Export(benchmark::State& state) {
    const int atoms = static_cast<int>(state.range(0));
    auto& model = const_cast<xxAtomisticTreeRoot&>(ModelOf(atoms));
    const std::string car = (cvbench::ScratchDirectory() / ("export_" + std::to_string(atoms) + ".car")).string();
    for (auto _ : state)
        if (!Export(model, car)) return state.SkipWithError("the export failed");
    SetCounters(state, static_cast<double>(std::filesystem::file_size(car)),
                static_cast<double>(std::filesystem::file_size(cvbench::ScratchDirectory() / ("export_" + std::to_string(atoms) + ".mdf"))),
                atoms);
}

void BM_ExportHub(benchmark::State& state) {
    const int partners = static_cast<int>(state.range(0));
    auto& model = const_cast<xxAtomisticTreeRoot&>(ModelOf(partners, true));
    const std::string car = (cvbench::ScratchDirectory() / ("hub_" + std::to_string(partners) + ".car")).string();
    for (auto _ : state)
        if (!Export(model, car)) return state.SkipWithError("the export failed");
    SetCounters(state, static_cast<double>(std::filesystem::file_size(car)),
                static_cast<double>(std::filesystem::file_size(cvbench::ScratchDirectory() / ("hub_" + std::to_string(partners) + ".mdf"))),
                partners + 1);
}

void BM_RoundTrip(benchmark::State& state) {
    const int atoms = static_cast<int>(state.range(0));
    const std::string source = (cvbench::ScratchDirectory() / ("source_" + std::to_string(atoms) + ".car")).string();
    const std::string copy = (cvbench::ScratchDirectory() / ("copy_" + std::to_string(atoms) + ".car")).string();
    if (!Export(const_cast<xxAtomisticTreeRoot&>(ModelOf(atoms)), source)) return state.SkipWithError("the export failed");
    for (auto _ : state) {
        auto document = std::make_unique<xxAtomisticTreeRoot>();
        {
            std::ifstream in(source, std::ios::binary);
            xxLoadCAR reader;
            if (FAILED(reader.LoadCarMdfFile(in, *document, source, nullptr, false)))
                return state.SkipWithError("the import failed");
        }
        if (!Export(*document, copy)) return state.SkipWithError("the export failed");
        state.PauseTiming();
        document.reset();
        state.ResumeTiming();
    }
    const double car = static_cast<double>(std::filesystem::file_size(source));
    const double mdf = static_cast<double>(std::filesystem::file_size(cvbench::ScratchDirectory() / ("source_" + std::to_string(atoms) + ".mdf")));
    // Read once and written once per round.
    SetCounters(state, 2 * car, 2 * mdf, atoms);
}

BENCHMARK(BM_Export)->Arg(10'000)->Arg(100'000)->Arg(1'000'000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ExportHub)->Arg(10'000)->Arg(100'000)->Arg(1'000'000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RoundTrip)->Arg(10'000)->Arg(100'000)->Arg(1'000'000)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
