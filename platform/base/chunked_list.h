#pragma once

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstring>
#include <limits>
#include <memory>
#include <new>
#include <string_view>
#include <vector>

#include "base/huge_pages.h"

// Items in chunks that double in size (First items, then 2 * First, ...) up to Largest items
// each (rounded up to a power of two): stable addresses, a few allocations however long the list grows, and little unused room
// in a short one (nor more than one chunk in a long one, with Largest); reserve on an empty list
// sizes the first chunk to fit. Large chunks sit on huge pages; items are made as they are added.
template <class T, std::size_t First = 1024, std::size_t Largest = SIZE_MAX>
class ChunkedList {
    static_assert(alignof(T) <= __STDCPP_DEFAULT_NEW_ALIGNMENT__);
    static_assert(First > 0 && Largest >= First);

public:
    ChunkedList() { Shape(First); }
    ChunkedList(const ChunkedList&) = delete;
    ChunkedList& operator=(const ChunkedList&) = delete;
    ~ChunkedList() { clear(); }

    T& emplace_back() {
        if (size_ == capacity_) {
            const std::size_t k = chunks_.size();
            const std::size_t items = k < doubling_ ? first_ << k : largest_;
            chunks_.push_back(AllocateLargeBlock(items * sizeof(T)));
            capacity_ += items;
        }
        T* item = ::new (static_cast<void*>(Address(size_))) T();
        ++size_;
        return *item;
    }
    T& operator[](std::size_t i) { return *std::launder(Address(i)); }
    const T& operator[](std::size_t i) const { return *std::launder(Address(i)); }
    T& front() { return (*this)[0]; }
    std::size_t size() const { return size_; }
    void reserve(std::size_t n) {
        if (chunks_.empty()) Shape(std::max(First, n));
    }
    void clear() {
        while (size_) (*this)[--size_].~T();
        chunks_.clear();
        capacity_ = 0;
        Shape(First);
    }

private:
    // Chunks 0 to doubling_ - 1 hold first_ << k items (first_ * (2^k - 1) up to first_ *
    // (2^(k+1) - 1)); the later ones largest_ each, from first_ * (2^doubling_ - 1) on. The
    // largest is a power of two, so that finding an item there takes no division.
    void Shape(std::size_t first) {
        first_ = first;
        largest_ = Largest == SIZE_MAX ? SIZE_MAX : std::bit_ceil(std::max(Largest, first));
        largestShift_ = static_cast<unsigned>(std::countr_zero(largest_));
        doubling_ = 0;
        const std::size_t limit = static_cast<std::size_t>(std::numeric_limits<std::size_t>::digits - std::bit_width(first));
        while (doubling_ < limit && (first << doubling_) < largest_) ++doubling_;
        doubled_ = first * ((std::size_t{1} << doubling_) - 1);
    }
    T* Address(std::size_t i) const {
        if (i < first_) return reinterpret_cast<T*>(chunks_[0].get()) + i;
        if (i >= doubled_) {
            const std::size_t past = i - doubled_;
            return reinterpret_cast<T*>(chunks_[doubling_ + (past >> largestShift_)].get()) + (past & (largest_ - 1));
        }
        // Unreserved lists keep First, whose division the compiler turns into a shift.
        const std::size_t firsts = first_ == First ? i / First : i / first_;
        const std::size_t k = static_cast<std::size_t>(std::bit_width(firsts + 1)) - 1;
        return reinterpret_cast<T*>(chunks_[k].get()) + (i - first_ * ((std::size_t{1} << k) - 1));
    }
    std::size_t first_ = First;
    std::size_t largest_ = Largest;
    unsigned largestShift_ = 0;
    std::size_t doubling_ = 0;
    std::size_t doubled_ = 0;
    std::vector<LargeBlock> chunks_;
    std::size_t size_ = 0;
    std::size_t capacity_ = 0;
};

// Texts copied into chunks: views that stay valid until clear, one allocation per chunk.
class ChunkedText {
public:
    std::string_view Store(std::string_view text) {
        if (text.empty()) return "";
        if (text.size() > static_cast<std::size_t>(end_ - next_)) {
            const std::size_t size = std::max(text.size(), kChunk);
            chunks_.push_back(std::make_unique_for_overwrite<char[]>(size));
            next_ = chunks_.back().get();
            end_ = next_ + size;
        }
        std::memcpy(next_, text.data(), text.size());
        const std::string_view stored(next_, text.size());
        next_ += text.size();
        return stored;
    }
    void clear() {
        chunks_.clear();
        next_ = end_ = nullptr;
    }

private:
    static constexpr std::size_t kChunk = 65536;
    std::vector<std::unique_ptr<char[]>> chunks_;
    char* next_ = nullptr;
    char* end_ = nullptr;
};
