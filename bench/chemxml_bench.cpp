// ChemistryXML as the host runs it: the ChemistryXML component writes and reads a generated
// molecule (one molecule element, its atoms bonded in a chain) on the host's memory stream.
//
//   BM_ChemXmlWrite/N   export of an N-atom chain
//   BM_ChemXmlRead/N    import of the text that export wrote, into a fresh document
//
// Counters: MB_per_s (the text's bytes, MB of 10^6 bytes, per second) and atoms_per_s. The 10k
// and 100k runs differ by about tenfold: no pass is quadratic.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "bench/component_host.h"
#include "datamodel/atomistic.h"
#include "host/streams.h"

namespace {

constexpr char kComponent[] = "SDCartovane.ChemistryXMLImportExport";

// A zigzag chain of carbons with a nitrogen every seventh atom, charged every eleventh, the bond
// types cycling through the format's seven.
CfxComPtr<host::Model3dDocument> Chain(std::int64_t atoms) {
    CfxComPtr<host::Model3dDocument> document = cvbench::TheHost().NewDocument("");
    auto& molecule = document->Tree().CreateChild<xxMultiScaleMolecule>();
    xxAtom3d* previous = nullptr;
    for (std::int64_t i = 0; i < atoms; ++i) {
        xxAtom3d& atom = molecule.CreateChild<xxAtom3d>(i % 7 == 3 ? "N" : "C");
        atom.SetXYZ({1.2547 * static_cast<double>(i), i % 2 ? 0.8862 : 0.0, 0.0313 * static_cast<double>(i % 13)});
        if (i % 11 == 5) atom.SetFormalCharge(1, 1);
        if (previous) xxBondable::MakeBond(*previous, atom, static_cast<xxBondType>(i % 7 + 1));
        previous = &atom;
    }
    return document;
}

std::vector<char> Written(host::Model3dDocument& document) {
    CfxComPtr<ISBStream> stream = host::CreateMemoryStream();
    if (!cvbench::TheHost().Export(kComponent, document, stream.Get())) return {};
    return host::MemoryStreamBytes(stream.Get());
}

void Report(benchmark::State& state, std::size_t bytes, std::int64_t atoms) {
    const auto iterations = static_cast<double>(state.iterations());
    state.counters["MB"] = static_cast<double>(bytes) / 1e6;
    state.counters["MB_per_s"] =
        benchmark::Counter(iterations * static_cast<double>(bytes) / 1e6, benchmark::Counter::kIsRate);
    state.counters["atoms_per_s"] =
        benchmark::Counter(iterations * static_cast<double>(atoms), benchmark::Counter::kIsRate);
}

void BM_ChemXmlWrite(benchmark::State& state) {
    CfxComPtr<host::Model3dDocument> document = Chain(state.range(0));
    const std::size_t bytes = Written(*document.Get()).size();
    if (bytes == 0) return state.SkipWithError(Cfx::GetLastError().description.c_str());
    for (auto _ : state) {
        CfxComPtr<ISBStream> stream = host::CreateMemoryStream();
        if (!cvbench::TheHost().Export(kComponent, *document.Get(), stream.Get()))
            return state.SkipWithError(Cfx::GetLastError().description.c_str());
    }
    Report(state, bytes, state.range(0));
}

void BM_ChemXmlRead(benchmark::State& state) {
    const std::vector<char> bytes = Written(*Chain(state.range(0)).Get());
    if (bytes.empty()) return state.SkipWithError(Cfx::GetLastError().description.c_str());
    std::size_t atoms = 0;
    for (auto _ : state) {
        state.PauseTiming();
        CfxComPtr<ISBStream> stream = host::CreateMemoryStream(bytes);
        CfxComPtr<host::Model3dDocument> document = cvbench::TheHost().NewDocument("");
        state.ResumeTiming();
        if (!cvbench::TheHost().Import(kComponent, stream.Get(), *document.Get()))
            return state.SkipWithError(Cfx::GetLastError().description.c_str());
        state.PauseTiming();
        atoms = document->Tree().DescendentsOf<xxAtom3d>().size();
        document = nullptr;  // freeing the model is no part of the read
        state.ResumeTiming();
    }
    if (atoms != static_cast<std::size_t>(state.range(0))) return state.SkipWithError("the chain is not complete");
    Report(state, bytes.size(), state.range(0));
}

BENCHMARK(BM_ChemXmlWrite)->Arg(10'000)->Arg(100'000)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ChemXmlRead)->Arg(10'000)->Arg(100'000)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
