// The undo/redo component's save and restore of generated water boxes, as the host runs them:
// through the component on the host's memory stream and on a file stream, beside the XSD
// component's save and load of the same documents. MB (10^6 bytes) of stream per second, atoms
// per second, and the peak of heap bytes held per atom.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

#include "bench/bench_models.h"
#include "bench/bench_support.h"
#include "documents/binary_component.h"
#include "documents/xsd_components.h"
#include "host/documents.h"
#include "host/streams.h"

namespace {

enum Component { kBinary, kXsd };
enum Medium { kMemory, kFile };

host::ContainerRoot& Host() {
    static CfxComPtr<host::ContainerRoot> root = [] {
        host::RegisterHostClasses();
        return host::ContainerRoot::Create();
    }();
    return *root.Get();
}

// A component connected to the host, as the host creates them.
template <class Interface>
CfxComPtr<Interface> Create(Component which, REFIID iid) {
    CCfxUnknown* created = nullptr;
    const HRESULT hr = which == kBinary ? cartovane::CBinaryImportExport::CreateInstance(&created)
                                        : cartovane::XSDImportExport::CreateInstance(&created);
    CfxComPtr<Interface> component;
    if (SUCCEEDED(hr)) {
        created->DelegatedQueryInterface(iid, component.OutVoid());
        created->DelegatedRelease();
        Host().Connect(component.Get());
    }
    return component;
}

// A document holding a water box of that many atoms.
CfxComPtr<host::Model3dDocument> Document(std::int64_t atoms) {
    CfxComPtr<host::Model3dDocument> document = host::Model3dDocument::Create(kAtomistic3dDocumentProgID);
    document->SetContainerRoot(&Host());
    auto box = cvbench::WaterBox(atoms);
    while (box->NumChildren()) box->Children().front()->SetParent(document->Tree());
    document->Tree().SetName(box->GetName());
    return document;
}

std::string FilePath() {
    static const std::string path = [] {
        std::string pattern = (std::filesystem::temp_directory_path() / "cartovane-binary-bench-XXXXXX").string();
        if (!::mkdtemp(pattern.data())) return std::string("/tmp/cartovane-binary-bench");
        return pattern + "/document";
    }();
    return path;
}

CfxComPtr<ISBStream> Stream(Medium medium, bool write, const std::vector<char>& bytes = {}) {
    if (medium == kMemory) return host::CreateMemoryStream(bytes);
    CfxComPtr<ISBStream> stream;
    host::CreateFileStream(FilePath(), write ? host::FileMode::Write : host::FileMode::Read, stream.Out());
    return stream;
}

// The bytes the export writes: from the memory stream, or the file's.
std::vector<char> Saved(Component which, host::Model3dDocument& document) {
    CfxComPtr<ISBStream> stream = host::CreateMemoryStream();
    // The XSD export of a host document hands off to a copy; the binary one writes directly.
    Create<ISBExporter>(which, IID_ISBExporter)->Export(stream.Get(), static_cast<ISBDocumentRoot*>(&document), {});
    return host::MemoryStreamBytes(stream.Get());
}

void Report(benchmark::State& state, std::size_t bytes, std::int64_t atoms, const cvbench::CountedPass& counted) {
    state.SetItemsProcessed(state.iterations() * atoms);
    state.counters["MB"] = static_cast<double>(bytes) / 1e6;
    state.counters["MB_per_s"] = benchmark::Counter(
        static_cast<double>(state.iterations()) * static_cast<double>(bytes) / 1e6, benchmark::Counter::kIsRate);
    state.counters["peak_bytes_per_atom"] = static_cast<double>(counted.peak) / static_cast<double>(atoms);
}

void BM_Save(benchmark::State& state, Component which, Medium medium) {
    CfxComPtr<host::Model3dDocument> document = Document(state.range(0));
    auto root = static_cast<ISBDocumentRoot*>(document.Get());
    CfxComPtr<ISBExporter> exporter = Create<ISBExporter>(which, IID_ISBExporter);
    const std::size_t bytes = Saved(which, *document.Get()).size();
    const cvbench::CountedPass counted = cvbench::Counted([&] { exporter->Export(Stream(medium, true).Get(), root, {}); });
    for (auto _ : state) {
        CfxComPtr<ISBStream> stream = Stream(medium, true);
        if (FAILED(exporter->Export(stream.Get(), root, {}))) state.SkipWithError("export failed");
    }
    Report(state, bytes, state.range(0) / 3 * 3, counted);
}

void BM_Load(benchmark::State& state, Component which, Medium medium) {
    const std::vector<char> bytes = Saved(which, *Document(state.range(0)).Get());
    if (medium == kFile) {
        CfxComPtr<ISBStream> file = Stream(kFile, true);
        ULONG written = 0;
        file->Write(bytes.data(), static_cast<ULONG>(bytes.size()), &written);
    }
    CfxComPtr<ISBImporter> importer = Create<ISBImporter>(which, IID_ISBImporter);
    auto load = [&] {
        CfxComPtr<host::Model3dDocument> target = host::Model3dDocument::Create(kAtomistic3dDocumentProgID);
        CfxComPtr<ISBStream> stream = Stream(medium, false, bytes);
        if (FAILED(importer->Import(stream.Get(), static_cast<ISBDocumentRoot*>(target.Get()), {})))
            state.SkipWithError("import failed");
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

#define CARTOVANE_BINARY_BENCH(name, ...)                                                   \
    BENCHMARK_CAPTURE(name, __VA_ARGS__)->Arg(10'000)->Arg(100'000)->Arg(1'000'000)->Unit(benchmark::kMillisecond)->UseRealTime()
CARTOVANE_BINARY_BENCH(BM_Save, binary_memory, kBinary, kMemory);
CARTOVANE_BINARY_BENCH(BM_Save, binary_file, kBinary, kFile);
CARTOVANE_BINARY_BENCH(BM_Save, xsd_memory, kXsd, kMemory);
CARTOVANE_BINARY_BENCH(BM_Load, binary_memory, kBinary, kMemory);
CARTOVANE_BINARY_BENCH(BM_Load, binary_file, kBinary, kFile);
CARTOVANE_BINARY_BENCH(BM_Load, xsd_memory, kXsd, kMemory);
BENCHMARK_MAIN();
