// XSD save and load of generated water boxes (one molecule of three atoms and two bonds per
// three atoms): MB (10^6 bytes) of XML per second, atoms per second, the peak of heap bytes held
// during the operation per atom, and for loads the MB per second of the first load of each size;
// and the document copy an export hands off to, of the same models.
#include <benchmark/benchmark.h>

#include <istream>
#include <memory>
#include <ostream>
#include <streambuf>
#include <string>

#include "bench/bench_models.h"
#include "bench/bench_support.h"
#include "datamodel/atomistic.h"
#include "documents/xsd_file.h"
#include "host/document_copy.h"

namespace {

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

void Report(benchmark::State& state, std::size_t bytes, std::int64_t atoms, const cvbench::CountedPass& counted, bool first) {
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
    auto root = cvbench::WaterBox(state.range(0));
    StringSink sink;
    SaveInto(*root, sink);  // the output buffer is allocated once, outside the counted pass
    const cvbench::CountedPass counted = cvbench::Counted([&] { SaveInto(*root, sink); });
    for (auto _ : state) {
        SaveInto(*root, sink);
        benchmark::DoNotOptimize(sink.text.data());
    }
    Report(state, sink.text.size(), state.range(0) / 3 * 3, counted, false);
}

void BM_XsdLoad(benchmark::State& state) {
    const std::string text = Save(*cvbench::WaterBox(state.range(0)));
    auto load = [&](xxAtomisticTreeRoot& target) {
        StringSource source(text);
        std::istream in(&source);
        return xxLoadXSD().LoadObjectFromStreamHR(in, &target, "") == S_OK;
    };
    auto first = std::make_unique<xxAtomisticTreeRoot>();
    bool loaded = false;
    const cvbench::CountedPass counted = cvbench::Counted([&] { loaded = load(*first); });
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

// The copy an export hands off to, of the same models: it should cost no more than their save.
// The figures count the XML the save of the model writes, so that they compare with BM_XsdSave.
void BM_DocumentCopy(benchmark::State& state) {
    auto root = cvbench::WaterBox(state.range(0));
    const std::size_t bytes = Save(*root).size();
    auto copy = [&] {
        auto target = std::make_unique<xxAtomisticTreeRoot>();
        host::CopyTree(*root, *target);
        return target;
    };
    copy();  // the heap has seen a copy of this size before the counted one
    std::unique_ptr<xxAtomisticTreeRoot> kept;
    const cvbench::CountedPass counted = cvbench::Counted([&] { kept = copy(); });
    kept.reset();
    for (auto _ : state) {
        auto target = copy();
        state.PauseTiming();
        target.reset();
        state.ResumeTiming();
    }
    Report(state, bytes, state.range(0) / 3 * 3, counted, false);
    // What the copy held beyond the copied model itself.
    state.counters["overhead_bytes_per_atom"] =
        static_cast<double>(counted.peak - counted.held) / static_cast<double>(state.range(0) / 3 * 3);
}

// One XML token of many MB: an attribute value, a comment or an element name (of the root
// object's element, whose name the reader does not look up). The parser is fed the stream in
// pieces; it must not scan the unfinished token again for each of them.
void BM_XsdLongToken(benchmark::State& state) {
    static const char* const kinds[] = {"attribute", "comment", "element name"};
    const auto kind = static_cast<std::size_t>(state.range(0));
    const std::string token(static_cast<std::size_t>(state.range(1)) << 20, 'a');
    const std::string text =
        kind == 0   ? "<XSD Version=\"5.5\"><TreeRoot ID=\"1\" Name=\"" + token + "\"/></XSD>"
        : kind == 1 ? "<XSD Version=\"5.5\"><!--" + token + "--><TreeRoot ID=\"1\"/></XSD>"
                    : "<XSD Version=\"5.5\"><" + token + " ID=\"1\"/></XSD>";
    for (auto _ : state) {
        xxTreeRoot target;
        StringSource source(text);
        std::istream in(&source);
        const bool loaded = xxLoadXSD().LoadObjectFromStreamHR(in, &target, "") == S_OK;
        if (!loaded) state.SkipWithError("load failed");
    }
    state.SetLabel(kinds[kind]);
    state.counters["MB_per_s"] = benchmark::Counter(
        static_cast<double>(state.iterations()) * static_cast<double>(text.size()) / 1e6, benchmark::Counter::kIsRate);
}

}  // namespace

BENCHMARK(BM_XsdSave)->Arg(10'000)->Arg(100'000)->Arg(1'000'000)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_XsdLoad)->Arg(10'000)->Arg(100'000)->Arg(1'000'000)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_DocumentCopy)->Arg(10'000)->Arg(100'000)->Arg(1'000'000)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_XsdLongToken)
    ->ArgsProduct({{0, 1, 2}, {16, 32, 64, 200}})
    ->ArgNames({"kind", "MiB"})
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_MAIN();
