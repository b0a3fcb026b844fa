// The undo/redo component's save and restore of generated water boxes, as the host runs them:
// through the component, by ProgID, on the host's memory stream and on a file stream, beside the
// XSD component's save and load of the same documents on the memory stream; and of a periodic
// box (a P1 cell with symmetry images, bench_models.h) on the memory stream. MB (10^6 bytes) of
// stream per second, atoms per second (the cell's, images aside), and the peak of heap bytes
// held per atom.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

#include "bench/bench_models.h"
#include "bench/bench_support.h"
#include "bench/component_host.h"
#include "host/streams.h"

namespace {

constexpr char kBinary[] = "SDCartovane.BinaryImportExport";
constexpr char kXsd[] = "SDCartovane.XSDImportExport";
enum Medium { kMemory, kFile };
enum Shape { kBox, kPeriodic };

// A document holding a water box of that many atoms.
CfxComPtr<host::Model3dDocument> Document(std::int64_t atoms, Shape shape) {
    CfxComPtr<host::Model3dDocument> document = cvbench::TheHost().NewDocument("");
    auto box = shape == kPeriodic ? cvbench::PeriodicWaterBox(atoms) : cvbench::WaterBox(atoms);
    // Detached from the back, where detaching costs nothing, and adopted in their order.
    std::vector<std::unique_ptr<xxObject>> molecules;
    while (box->NumChildren()) molecules.push_back(box->DetachChild(*box->Children().back()));
    for (auto it = molecules.rbegin(); it != molecules.rend(); ++it) document->Tree().AdoptChild(std::move(*it));
    document->Tree().SetName(box->GetName());
    return document;
}

const std::string& FilePath() {
    static const std::string path = [] {
        std::string pattern = (std::filesystem::temp_directory_path() / "cartovane-binary-bench-XXXXXX").string();
        if (!::mkdtemp(pattern.data())) return std::string("/tmp/cartovane-binary-bench");
        return pattern + "/document";
    }();
    return path;
}

CfxComPtr<ISBStream> Stream(Medium medium, host::FileMode mode, const std::vector<char>& bytes = {}) {
    if (medium == kMemory) return host::CreateMemoryStream(bytes);
    CfxComPtr<ISBStream> stream;
    host::CreateFileStream(FilePath(), mode, stream.Out());
    return stream;
}

std::vector<char> Saved(const char* component, host::Model3dDocument& document) {
    CfxComPtr<ISBStream> stream = host::CreateMemoryStream();
    if (!cvbench::TheHost().Export(component, document, stream.Get())) return {};
    return host::MemoryStreamBytes(stream.Get());
}

void Report(benchmark::State& state, std::size_t bytes, std::int64_t atoms, const cvbench::CountedPass& counted) {
    state.SetItemsProcessed(state.iterations() * atoms);
    state.counters["MB"] = static_cast<double>(bytes) / 1e6;
    state.counters["MB_per_s"] = benchmark::Counter(
        static_cast<double>(state.iterations()) * static_cast<double>(bytes) / 1e6, benchmark::Counter::kIsRate);
    state.counters["peak_bytes_per_atom"] = static_cast<double>(counted.peak) / static_cast<double>(atoms);
}

void BM_Save(benchmark::State& state, const char* component, Medium medium, Shape shape = kBox) {
    CfxComPtr<host::Model3dDocument> document = Document(state.range(0), shape);
    const std::size_t bytes = Saved(component, *document.Get()).size();
    if (!bytes) state.SkipWithError(Cfx::GetLastError().description.c_str());
    auto save = [&] {
        CfxComPtr<ISBStream> stream = Stream(medium, host::FileMode::Write);
        if (!cvbench::TheHost().Export(component, *document.Get(), stream.Get()) ||
            FAILED(host::CommitFileStream(stream.Get())))
            state.SkipWithError(Cfx::GetLastError().description.c_str());
    };
    const cvbench::CountedPass counted = cvbench::Counted(save);
    for (auto _ : state) save();
    Report(state, bytes, state.range(0) / 3 * 3, counted);
}

void BM_Load(benchmark::State& state, const char* component, Medium medium, Shape shape = kBox) {
    const std::vector<char> bytes = Saved(component, *Document(state.range(0), shape).Get());
    if (bytes.empty()) state.SkipWithError(Cfx::GetLastError().description.c_str());
    if (medium == kFile) {
        CfxComPtr<ISBStream> file = Stream(kFile, host::FileMode::Write);
        file->SetBinaryMode(VARIANT_TRUE);
        ULONG written = 0;
        // Written files take their place only when committed.
        if (FAILED(file->Write(bytes.data(), static_cast<ULONG>(bytes.size()), &written)) ||
            FAILED(host::CommitFileStream(file.Get())))
            state.SkipWithError(Cfx::GetLastError().description.c_str());
    }
    auto load = [&] {
        CfxComPtr<host::Model3dDocument> target = cvbench::TheHost().NewDocument("");
        CfxComPtr<ISBStream> stream = Stream(medium, host::FileMode::Read, bytes);
        if (!cvbench::TheHost().Import(component, stream.Get(), *target.Get()))
            state.SkipWithError(Cfx::GetLastError().description.c_str());
        return target;
    };
    load();  // the heap has seen a load of this size before the counted one
    CfxComPtr<host::Model3dDocument> kept;
    const cvbench::CountedPass counted = cvbench::Counted([&] { kept = load(); });
    kept.Reset();
    for (auto _ : state) {
        CfxComPtr<host::Model3dDocument> target = load();
        state.PauseTiming();
        target.Reset();
        state.ResumeTiming();
    }
    Report(state, bytes.size(), state.range(0) / 3 * 3, counted);
}

}  // namespace

#define CARTOVANE_BINARY_BENCH(name, ...)                                                              \
    BENCHMARK_CAPTURE(name, __VA_ARGS__)->Arg(10'000)->Arg(100'000)->Arg(1'000'000)->Unit(benchmark::kMillisecond) \
        ->UseRealTime()
CARTOVANE_BINARY_BENCH(BM_Save, binary_memory, kBinary, kMemory);
CARTOVANE_BINARY_BENCH(BM_Save, binary_file, kBinary, kFile);
CARTOVANE_BINARY_BENCH(BM_Save, xsd_memory, kXsd, kMemory);
CARTOVANE_BINARY_BENCH(BM_Load, binary_memory, kBinary, kMemory);
CARTOVANE_BINARY_BENCH(BM_Load, binary_file, kBinary, kFile);
CARTOVANE_BINARY_BENCH(BM_Load, xsd_memory, kXsd, kMemory);
#define CARTOVANE_PERIODIC_BENCH(name, ...) \
    BENCHMARK_CAPTURE(name, __VA_ARGS__)->Arg(100'000)->Unit(benchmark::kMillisecond)->UseRealTime()
CARTOVANE_PERIODIC_BENCH(BM_Save, binary_memory_periodic, kBinary, kMemory, kPeriodic);
CARTOVANE_PERIODIC_BENCH(BM_Save, xsd_memory_periodic, kXsd, kMemory, kPeriodic);
CARTOVANE_PERIODIC_BENCH(BM_Load, binary_memory_periodic, kBinary, kMemory, kPeriodic);
CARTOVANE_PERIODIC_BENCH(BM_Load, xsd_memory_periodic, kXsd, kMemory, kPeriodic);
BENCHMARK_MAIN();
