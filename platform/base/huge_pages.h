// Heap blocks for big tables that are filled once and dropped whole (parse trees, record
// tables). A block of 2 MiB or more is aligned to 2 MiB and marked for transparent huge pages
// where the system offers them: filling a gigabyte then takes a few hundred page faults instead
// of a quarter of a million, and walking it misses the TLB far less. The blocks are ordinary heap
// memory (operator new), so they are counted and freed like any other.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>

#if defined(__linux__)
#include <sys/mman.h>
#endif

inline constexpr std::size_t kHugePageSize = std::size_t{1} << 21;

struct LargeBlockDelete {
    std::size_t size = 0;
    void operator()(std::byte* block) const noexcept {
        if (size >= kHugePageSize)
            ::operator delete[](block, std::align_val_t{kHugePageSize});
        else
            ::operator delete[](block);
    }
};
using LargeBlock = std::unique_ptr<std::byte[], LargeBlockDelete>;

// An uninitialised block of `size` bytes, on huge pages from 2 MiB up (a hint: where the system
// refuses, the block is an ordinary one).
inline LargeBlock AllocateLargeBlock(std::size_t size) {
    if (size < kHugePageSize) return LargeBlock(static_cast<std::byte*>(::operator new[](size)), {size});
    LargeBlock block(static_cast<std::byte*>(::operator new[](size, std::align_val_t{kHugePageSize})), {size});
#if defined(__linux__) && defined(MADV_HUGEPAGE)
    madvise(block.get(), size & ~(kHugePageSize - 1), MADV_HUGEPAGE);
#endif
    return block;
}

// For std::vector and the like: storage of 2 MiB or more comes as a LargeBlock, so a big table
// made and dropped on every call costs a few huge-page faults rather than thousands of small
// ones, and probing it at random misses the TLB far less.
template <class T>
struct LargeBlockAllocator {
    static_assert(alignof(T) <= __STDCPP_DEFAULT_NEW_ALIGNMENT__);
    using value_type = T;
    LargeBlockAllocator() = default;
    template <class U>
    LargeBlockAllocator(const LargeBlockAllocator<U>&) noexcept {}
    T* allocate(std::size_t n) {
        if (n > SIZE_MAX / sizeof(T)) throw std::bad_alloc();
        return reinterpret_cast<T*>(AllocateLargeBlock(n * sizeof(T)).release());
    }
    void deallocate(T* p, std::size_t n) noexcept { LargeBlockDelete{n * sizeof(T)}(reinterpret_cast<std::byte*>(p)); }
    template <class U>
    bool operator==(const LargeBlockAllocator<U>&) const noexcept {
        return true;
    }
};
