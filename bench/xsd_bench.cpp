// XSD save and load of generated water boxes (one molecule of three atoms and two bonds per
// three atoms): MB (10^6 bytes) of XML per second, atoms per second, the peak of heap bytes held
// during the operation per atom, and for loads the MB per second of the first load of each size.
#include <benchmark/benchmark.h>

#include <malloc.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <new>
#include <istream>
#include <ostream>
#include <streambuf>
#include <string>

#include "datamodel/atomistic.h"
#include "documents/xsd_file.h"

// Heap accounting for the peak-memory figure, only while a counted pass runs: the timed passes
// pay nothing for it.
namespace {
std::atomic<bool> gCounting{false};
std::atomic<std::int64_t> gHeld{0};
std::atomic<std::int64_t> gPeak{0};
void Count(void* p, std::int64_t sign) {
    if (!gCounting.load(std::memory_order_relaxed)) return;
    std::int64_t held = gHeld += sign * static_cast<std::int64_t>(malloc_usable_size(p));
    std::int64_t peak = gPeak.load();
    while (held > peak && !gPeak.compare_exchange_weak(peak, held)) {
    }
}
void* Allocate(std::size_t n) {
    void* p = std::malloc(n ? n : 1);
    if (!p) throw std::bad_alloc();
    Count(p, 1);
    return p;
}
void* AllocateAligned(std::size_t n, std::align_val_t align) {
    const auto a = static_cast<std::size_t>(align);
    void* p = std::aligned_alloc(a, (std::max<std::size_t>(n, 1) + a - 1) / a * a);
    if (!p) throw std::bad_alloc();
    Count(p, 1);
    return p;
}
void Free(void* p) noexcept {
    if (!p) return;
    Count(p, -1);
    std::free(p);
}
}  // namespace

void* operator new(std::size_t n) { return Allocate(n); }
void* operator new[](std::size_t n) { return Allocate(n); }
void operator delete(void* p) noexcept { Free(p); }
void operator delete[](void* p) noexcept { Free(p); }
void operator delete(void* p, std::size_t) noexcept { Free(p); }
void operator delete[](void* p, std::size_t) noexcept { Free(p); }
void* operator new(std::size_t n, std::align_val_t a) { return AllocateAligned(n, a); }
void* operator new[](std::size_t n, std::align_val_t a) { return AllocateAligned(n, a); }
void operator delete(void* p, std::align_val_t) noexcept { Free(p); }
void operator delete[](void* p, std::align_val_t) noexcept { Free(p); }
void operator delete(void* p, std::size_t, std::align_val_t) noexcept { Free(p); }
void operator delete[](void* p, std::size_t, std::align_val_t) noexcept { Free(p); }

namespace {

std::unique_ptr<xxAtomisticTreeRoot> WaterBox(std::int64_t atoms) {
    auto root = std::make_unique<xxAtomisticTreeRoot>();
    root->SetName("box");
    const std::int64_t molecules = atoms / 3;
    const int side = static_cast<int>(std::cbrt(static_cast<double>(molecules))) + 1;
    for (std::int64_t m = 0; m < molecules; ++m) {
        const double x = 3.1 * static_cast<double>(m % side);
        const double y = 3.1 * static_cast<double>((m / side) % side);
        const double z = 3.1 * static_cast<double>(m / (static_cast<std::int64_t>(side) * side));
        auto& molecule = root->CreateChild<xxMolecule>();
        molecule.SetName("HOH");
        auto& o = molecule.CreateChild<xxAtom3d>("O");
        o.SetName("O");
        o.SetXYZ({x + 0.1234567, y - 0.7654321, z + 1.0 / 3});
        o.SetCharge(-0.8476);
        o.SetForcefieldType("o*");
        for (int h = 0; h < 2; ++h) {
            auto& atom = molecule.CreateChild<xxAtom3d>("H");
            atom.SetName(h ? "H2" : "H1");
            atom.SetXYZ({x + 0.9572 * (h ? -0.24 : 1.0), y + (h ? 0.927 : 0.0), z});
            atom.SetCharge(0.4238);
            atom.SetForcefieldType("h*");
            xxBondable::MakeBond(o, atom);
        }
    }
    return root;
}

// Streams over strings without copies, so that the figures are the serialisers' own.
class StringSink : public std::streambuf {
public:
    std::string text;

protected:
    std::streamsize xsputn(const char* s, std::streamsize n) override {
        text.append(s, static_cast<std::size_t>(n));
        return n;
    }
    int_type overflow(int_type c) override {
        if (c != traits_type::eof()) text.push_back(static_cast<char>(c));
        return c;
    }
};
class StringSource : public std::streambuf {
public:
    explicit StringSource(const std::string& text) {
        char* p = const_cast<char*>(text.data());
        setg(p, p, p + text.size());
    }
};

void SaveInto(xxObject& root, StringSink& sink) {
    sink.text.clear();
    std::ostream out(&sink);
    xxSaveXSD().SaveObjectToStream(out, &root, "");
}

std::string Save(xxObject& root) {
    StringSink sink;
    SaveInto(root, sink);
    return std::move(sink.text);
}

struct Pass {
    std::int64_t peak;  // heap bytes held at most above what was held before
    double seconds;
};

// Runs one pass with the heap counted, before the timed passes. A load's counted pass is the first
// of its size, so its time also shows what the system costs while it hands the process memory.
template <class F>
Pass Counted(F&& pass) {
    gCounting = true;
    const std::int64_t base = gHeld.load();
    gPeak = base;
    const auto start = std::chrono::steady_clock::now();
    pass();
    const auto end = std::chrono::steady_clock::now();
    gCounting = false;
    return {gPeak.load() - base, std::chrono::duration<double>(end - start).count()};
}

void Report(benchmark::State& state, std::size_t bytes, std::int64_t atoms, const Pass& counted, bool first) {
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(bytes));
    state.SetItemsProcessed(state.iterations() * atoms);
    state.counters["MB"] = static_cast<double>(bytes) / 1e6;
    // bytes_per_second counts in MiB; the targets are in MB of 10^6 bytes.
    state.counters["MB_per_s"] = benchmark::Counter(
        static_cast<double>(state.iterations()) * static_cast<double>(bytes) / 1e6, benchmark::Counter::kIsRate);
    state.counters["peak_bytes_per_atom"] = static_cast<double>(counted.peak) / static_cast<double>(atoms);
    if (first) state.counters["first_MB_per_s"] = static_cast<double>(bytes) / 1e6 / counted.seconds;
}

void BM_XsdSave(benchmark::State& state) {
    auto root = WaterBox(state.range(0));
    StringSink sink;
    SaveInto(*root, sink);  // the output buffer is allocated once, outside the counted pass
    const Pass counted = Counted([&] { SaveInto(*root, sink); });
    for (auto _ : state) {
        SaveInto(*root, sink);
        benchmark::DoNotOptimize(sink.text.data());
    }
    Report(state, sink.text.size(), state.range(0) / 3 * 3, counted, false);
}

void BM_XsdLoad(benchmark::State& state) {
    const std::string text = Save(*WaterBox(state.range(0)));
    auto load = [&](xxAtomisticTreeRoot& target) {
        StringSource source(text);
        std::istream in(&source);
        return xxLoadXSD().LoadObjectFromStreamHR(in, &target, "") == S_OK;
    };
    auto first = std::make_unique<xxAtomisticTreeRoot>();
    bool loaded = false;
    const Pass counted = Counted([&] { loaded = load(*first); });
    first.reset();
    // One more pass before the timed ones: the heap keeps what the first gave back only once it
    // has seen a load of this size, and the figure is meant to show the reader, not the system
    // handing the process its memory (first_MB_per_s shows that).
    loaded = loaded && load(*std::make_unique<xxAtomisticTreeRoot>());
    if (!loaded) state.SkipWithError("load failed");
    for (auto _ : state) {
        auto target = std::make_unique<xxAtomisticTreeRoot>();
        if (!load(*target)) state.SkipWithError("load failed");
        state.PauseTiming();
        target.reset();
        state.ResumeTiming();
    }
    Report(state, text.size(), state.range(0) / 3 * 3, counted, true);
}

}  // namespace

BENCHMARK(BM_XsdSave)->Arg(10'000)->Arg(100'000)->Arg(1'000'000)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_XsdLoad)->Arg(10'000)->Arg(100'000)->Arg(1'000'000)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_MAIN();
