// CAR/MDF writing speed: generated models of 10k, 100k and 1M atoms (molecules of 100 atoms in
// residues of 10, each residue a bonded chain), exported through xxSaveCAR to files on disk;
// and the full round trip, file -> document -> file, through xxLoadCAR and xxSaveCAR.
//
// Counters: text_MBps (CAR and MDF written per second), car_MBps (the CAR alone) and
// atoms_per_s; for the round trip, text_MBps counts the text read and the text written.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>

#include "datamodel/atomistic.h"
#include "formats/carmdf/car_reader.h"
#include "formats/carmdf/car_writer.h"

namespace {

constexpr int kAtomsPerResidue = 10;
constexpr int kResiduesPerMolecule = 10;

std::filesystem::path Directory() {
    static const std::filesystem::path dir = [] {
        std::string pattern = (std::filesystem::temp_directory_path() / "cartovane-writer-bench-XXXXXX").string();
        if (!::mkdtemp(pattern.data())) std::abort();
        return std::filesystem::path(pattern);
    }();
    return dir;
}

std::string Numbered(std::string_view stem, int n) {
    std::string name(stem);
    name += std::to_string(n);
    return name;
}

std::unique_ptr<xxAtomisticTreeRoot> MakeModel(int atoms) {
    static const char* const elements[kAtomsPerResidue] = {"C", "C", "H", "H", "N", "C", "O", "H", "C", "H"};
    auto root = std::make_unique<xxAtomisticTreeRoot>();
    root->SetName("bench");
    const int perMolecule = kAtomsPerResidue * kResiduesPerMolecule;
    for (int first = 0, molecule = 1; first < atoms; first += perMolecule, ++molecule) {
        auto& mol = root->CreateChild<xxMultiScaleMolecule>();
        mol.SetName(Numbered("M", molecule));
        xxMultiScaleSubUnit* sub = nullptr;
        xxAtom3d* previous = nullptr;
        for (int k = 0; k < perMolecule && first + k < atoms; ++k) {
            const int i = k % kAtomsPerResidue;
            if (i == 0) {
                sub = &mol.CreateChild<xxMultiScaleSubUnit>();
                sub->SetName(Numbered("RES_", k / kAtomsPerResidue + 1));
                previous = nullptr;
            }
            const int id = first + k;
            auto& atom = sub->CreateChild<xxAtom3d>(elements[i]);
            atom.SetName(Numbered(elements[i], i + 1));
            atom.SetXYZ({(id % 100) * 1.5, (id / 100 % 100) * 1.5, (id / 10000) * 1.5 + 0.123456789});
            atom.SetCharge(0.01 * (i - 4));
            atom.SetForcefieldType("c3");
            if (previous) xxBondable::MakeBond(*previous, atom);
            previous = &atom;
        }
    }
    return root;
}

const xxAtomisticTreeRoot& ModelOf(int atoms) {
    static std::map<int, std::unique_ptr<xxAtomisticTreeRoot>> made;
    auto& model = made[atoms];
    if (!model) model = MakeModel(atoms);
    return *model;
}

void Export(xxObject& model, const std::string& carPath) {
    std::ofstream car(carPath, std::ios::binary | std::ios::trunc);
    xxSaveCAR writer;
    xxBool allSets = true;
    if (!writer.WriteCarAndMdf(car, model, carPath, nullptr, allSets, true)) std::abort();
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
    const std::string car = (Directory() / ("export_" + std::to_string(atoms) + ".car")).string();
    for (auto _ : state) Export(model, car);
    SetCounters(state, static_cast<double>(std::filesystem::file_size(car)),
                static_cast<double>(std::filesystem::file_size(Directory() / ("export_" + std::to_string(atoms) + ".mdf"))),
                atoms);
}

void BM_RoundTrip(benchmark::State& state) {
    const int atoms = static_cast<int>(state.range(0));
    const std::string source = (Directory() / ("source_" + std::to_string(atoms) + ".car")).string();
    const std::string copy = (Directory() / ("copy_" + std::to_string(atoms) + ".car")).string();
    Export(const_cast<xxAtomisticTreeRoot&>(ModelOf(atoms)), source);
    for (auto _ : state) {
        auto document = std::make_unique<xxAtomisticTreeRoot>();
        {
            std::ifstream in(source, std::ios::binary);
            xxLoadCAR reader;
            if (FAILED(reader.LoadCarMdfFile(in, *document, source, nullptr, false))) std::abort();
        }
        Export(*document, copy);
        state.PauseTiming();
        document.reset();
        state.ResumeTiming();
    }
    const double car = static_cast<double>(std::filesystem::file_size(source));
    const double mdf = static_cast<double>(std::filesystem::file_size(Directory() / ("source_" + std::to_string(atoms) + ".mdf")));
    // Read once and written once per round.
    SetCounters(state, 2 * car, 2 * mdf, atoms);
}

BENCHMARK(BM_Export)->Arg(10'000)->Arg(100'000)->Arg(1'000'000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RoundTrip)->Arg(10'000)->Arg(100'000)->Arg(1'000'000)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::error_code ignored;
    std::filesystem::remove_all(Directory(), ignored);
    return 0;
}
