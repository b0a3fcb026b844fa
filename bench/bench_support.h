// What the benchmarks share: a scratch directory for their files, and the heap accounting for
// their peak-memory figures.
#pragma once

#include <chrono>

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

namespace cvbench {

// The directory for a benchmark's files: $CARTOVANE_BENCH_DIR when set (the files stay, so that
// the tool can be timed on them), else a fresh temporary directory removed when the program ends.
const std::filesystem::path& ScratchDirectory();
std::string ScratchFile(std::string_view name);

// Heap bytes held at most during a counted pass and at its end, above what was held when it began,
// and the time it took. Only a counted pass pays for the accounting.
struct CountedPass {
    std::int64_t peak = 0;
    std::int64_t held = 0;
    double seconds = 0;
};
void BeginCounting();
CountedPass EndCounting();
// Heap bytes held now above what was held when the counted pass began (during a pass).
std::int64_t CountedHeld();

// The process's resident bytes now, and the most it has had since ResetPeak (from /proc).
std::size_t Resident();
void ResetPeak();
std::size_t Peak();
// Gives the heap's free memory back to the kernel.
void TrimHeap();

// The first load of a model, after the heap gave its free memory back so that every page the
// model takes is a fresh one from the kernel: whether load() succeeded, how long it took, the
// most the process held during it and what it kept once the heap was trimmed again (the model
// still alive), per atom.
struct FirstLoad {
    bool loaded = false;
    double seconds = 0, peakPerAtom = 0, residentPerAtom = 0;
};
template <class Load>
FirstLoad MeasureFirstLoad(double atoms, Load&& load) {
    TrimHeap();
    const std::size_t before = Resident();
    ResetPeak();
    const auto start = std::chrono::steady_clock::now();
    FirstLoad first;
    first.loaded = load();
    first.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    first.peakPerAtom = static_cast<double>(Peak() - before) / atoms;
    TrimHeap();  // what the reader freed is no part of the model
    first.residentPerAtom = static_cast<double>(Resident() - before) / atoms;
    return first;
}

template <class F>
CountedPass Counted(F&& pass) {
    BeginCounting();
    pass();
    return EndCounting();
}

}  // namespace cvbench
