#include "bench/bench_support.h"

#include <malloc.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <string>
#include <new>
#include <stdexcept>
#include <system_error>

namespace {

std::atomic<bool> gCounting{false};
std::atomic<std::int64_t> gHeld{0};
std::atomic<std::int64_t> gPeak{0};
std::int64_t gBase = 0;
std::chrono::steady_clock::time_point gStart;

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

// Removes a directory it made when the program ends; keeps one it was given.
class Scratch {
public:
    Scratch() {
        if (const char* given = std::getenv("CARTOVANE_BENCH_DIR"); given && *given) {
            path_ = given;
            std::filesystem::create_directories(path_);
            return;
        }
        std::string pattern = (std::filesystem::temp_directory_path() / "cartovane-bench-XXXXXX").string();
        if (!::mkdtemp(pattern.data())) throw std::system_error(errno, std::generic_category(), "mkdtemp");
        path_ = pattern;
        owned_ = true;
    }
    ~Scratch() {
        std::error_code ignored;
        if (owned_) std::filesystem::remove_all(path_, ignored);
    }
    Scratch(const Scratch&) = delete;
    Scratch& operator=(const Scratch&) = delete;
    const std::filesystem::path& Path() const { return path_; }

private:
    std::filesystem::path path_;
    bool owned_ = false;
};

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

namespace cvbench {

const std::filesystem::path& ScratchDirectory() {
    static const Scratch scratch;
    return scratch.Path();
}

std::string ScratchFile(std::string_view name) { return (ScratchDirectory() / name).string(); }

void BeginCounting() {
    gCounting = true;
    gBase = gHeld.load();
    gPeak = gBase;
    gStart = std::chrono::steady_clock::now();
}

std::int64_t CountedHeld() { return gHeld.load() - gBase; }

CountedPass EndCounting() {
    const auto end = std::chrono::steady_clock::now();
    gCounting = false;
    return {gPeak.load() - gBase, gHeld.load() - gBase, std::chrono::duration<double>(end - gStart).count()};
}


std::size_t Resident() {
    std::ifstream statm("/proc/self/statm");
    std::size_t size = 0, resident = 0;
    statm >> size >> resident;
    return resident * static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
}

void TrimHeap() { malloc_trim(0); }

void ResetPeak() {
    std::ofstream clear("/proc/self/clear_refs");
    clear << "5";
}

std::size_t Peak() {
    std::ifstream status("/proc/self/status");
    std::string key;
    while (status >> key) {
        if (key == "VmHWM:") {
            std::size_t kb = 0;
            status >> kb;
            return kb * 1024;
        }
        status.ignore(1 << 20, '\n');
    }
    return 0;
}

}  // namespace cvbench
