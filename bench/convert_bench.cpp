// Conversions as the tool runs them: a host file stream, the import component created by ProgID
// through the library's registered components, a host document, the export component (an XSD
// export hands off to a copy of the document) and another host file stream. CAR->XSD, XSD->CAR,
// CAR->CAR and XSD->XSD of generated models (molecules of 100 atoms in residues of 10, each
// residue a bonded chain; the CAR input comes with its MDF).
//
// Counters: MB_per_s (input and output files, MB of 10^6 bytes, per second), atoms_per_s,
// peak_bytes_per_atom (the most heap the conversion held, from one counted pass before the timed
// ones), parts_ms (the import alone, file -> tree through the reader, plus the export alone,
// tree -> file through the writer, of the same files) and vs_parts (conversion / parts).
#include <benchmark/benchmark.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>

#include "bench/bench_models.h"
#include "bench/bench_support.h"
#include "bench/component_host.h"
#include "documents/xsd_file.h"
#include "formats/carmdf/car_reader.h"
#include "formats/carmdf/car_writer.h"
#include "host/documents.h"

namespace {

constexpr char kCar[] = "SDCartovane.CARImportExport";
constexpr char kXsd[] = "SDCartovane.XSDImportExport";

enum class Format { Car, Xsd };

const char* Extension(Format f) { return f == Format::Car ? "car" : "xsd"; }
const char* ProgId(Format f) { return f == Format::Car ? kCar : kXsd; }

std::uintmax_t FileBytes(const std::string& path) {
    std::error_code ec;
    std::uintmax_t n = std::filesystem::file_size(path, ec);
    return ec ? 0 : n;
}

// A file with its MDF companion, when it has one.
std::uintmax_t FilesBytes(const std::string& path) {
    std::filesystem::path mdf(path);
    mdf.replace_extension(".mdf");
    return FileBytes(path) + (path.ends_with(".car") ? FileBytes(mdf.string()) : 0);
}

bool SaveDirect(Format f, xxTreeRoot& tree, const std::string& path) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (f == Format::Xsd) return xxSaveXSD().SaveObjectToStream(out, &tree, "") && out.flush();
    xxBool allSets = true;
    return xxSaveCAR().WriteCarAndMdf(out, tree, path, nullptr, allSets, true) && out.flush();
}

bool LoadDirect(Format f, const std::string& path, xxAtomisticTreeRoot& tree) {
    std::ifstream in(path, std::ios::binary);
    if (f == Format::Xsd) return xxLoadXSD().LoadObjectFromStreamHR(in, &tree, "") == S_OK;
    return xxLoadCAR().LoadCarMdfFile(in, tree, path, nullptr, false) == S_OK;
}

// The input file of a format and size, written once.
const std::string& InputFile(Format f, int atoms) {
    static std::map<std::pair<Format, int>, std::string> made;
    std::string& path = made[{f, atoms}];
    if (path.empty()) {
        std::string name = "model_" + std::to_string(atoms) + "." + Extension(f);
        path = cvbench::ScratchFile(name);
        if (!SaveDirect(f, *cvbench::ResidueChains(atoms), path)) path.clear();
    }
    return path;
}

bool ConvertOnce(Format from, const std::string& input, Format to, const std::string& output) {
    const cvbench::ComponentHost& host = cvbench::TheHost();
    CfxComPtr<host::Model3dDocument> document = host.NewDocument(input);
    CfxComPtr<host::Arguments> arguments = host::Arguments::Create();
    return host.Import(ProgId(from), input, *document.Get(), arguments->AsImportArgument()) &&
           host.Export(ProgId(to), *document.Get(), output, arguments->AsExportArgument());
}

double Seconds(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

void Convert(benchmark::State& state, Format from, Format to) {
    const int atoms = static_cast<int>(state.range(0));
    const std::string& input = InputFile(from, atoms);
    const std::string output =
        cvbench::ScratchFile("converted_" + std::to_string(atoms) + "_from_" + Extension(from) + "." + Extension(to));
    if (input.empty()) return state.SkipWithError("the input file could not be written");
    bool converted = false;
    const cvbench::CountedPass counted = cvbench::Counted([&] { converted = ConvertOnce(from, input, to, output); });
    if (!converted) return state.SkipWithError("the conversion failed");
    for (auto _ : state)
        if (!ConvertOnce(from, input, to, output)) return state.SkipWithError("the conversion failed");
    const double iterations = static_cast<double>(state.iterations());

    // The same work through the reader and the writer alone, as often.
    double parts = 0;
    for (double i = 0; i < iterations; ++i) {
        auto tree = std::make_unique<xxAtomisticTreeRoot>();
        auto start = std::chrono::steady_clock::now();
        if (!LoadDirect(from, input, *tree)) return state.SkipWithError("the import alone failed");
        parts += Seconds(start);
        start = std::chrono::steady_clock::now();
        if (!SaveDirect(to, *tree, cvbench::ScratchFile("parts." + std::string(Extension(to)))))
            return state.SkipWithError("the export alone failed");
        parts += Seconds(start);
    }

    const auto bytes = static_cast<double>(FilesBytes(input) + FilesBytes(output));
    state.counters["MB_per_s"] = benchmark::Counter(bytes * iterations / 1e6, benchmark::Counter::kIsRate);
    state.counters["atoms_per_s"] = benchmark::Counter(atoms * iterations, benchmark::Counter::kIsRate);
    state.counters["peak_bytes_per_atom"] = static_cast<double>(counted.peak) / atoms;
    state.counters["parts_ms"] = parts / iterations * 1e3;
    // The elapsed time over the parts' time.
    state.counters["vs_parts"] =
        benchmark::Counter(parts, benchmark::Counter::Flags(benchmark::Counter::kIsRate | benchmark::Counter::kInvert));
}

void BM_CarToXsd(benchmark::State& state) { Convert(state, Format::Car, Format::Xsd); }
void BM_XsdToCar(benchmark::State& state) { Convert(state, Format::Xsd, Format::Car); }
void BM_CarToCar(benchmark::State& state) { Convert(state, Format::Car, Format::Car); }
void BM_XsdToXsd(benchmark::State& state) { Convert(state, Format::Xsd, Format::Xsd); }

BENCHMARK(BM_CarToXsd)->Arg(100'000)->Arg(1'000'000)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_XsdToCar)->Arg(100'000)->Arg(1'000'000)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_CarToCar)->Arg(100'000)->Arg(1'000'000)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_XsdToXsd)->Arg(100'000)->Arg(1'000'000)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
