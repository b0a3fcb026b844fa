#pragma once

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstring>
#include <memory>
#include <new>
#include <string_view>
#include <vector>

#include "base/huge_pages.h"

// Items in chunks that double in size (First items, then 2 * First, ...): stable addresses, a
// few allocations however long the list grows, and little unused room in a short one; reserve
// on an empty list sizes the first chunk to fit. Large chunks sit on huge pages; items are made
// as they are added.
template <class T, std::size_t First = 1024>
class ChunkedList {
    static_assert(alignof(T) <= __STDCPP_DEFAULT_NEW_ALIGNMENT__);

public:
    ChunkedList() = default;
    ChunkedList(const ChunkedList&) = delete;
    ChunkedList& operator=(const ChunkedList&) = delete;
    ~ChunkedList() { clear(); }

    T& emplace_back() {
        if (size_ == capacity_) {
            const std::size_t items = first_ << chunks_.size();
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
        if (chunks_.empty()) first_ = std::max(First, n);
    }
    void clear() {
        while (size_) (*this)[--size_].~T();
        chunks_.clear();
        capacity_ = 0;
        first_ = First;
    }

private:
    // Chunk k holds items first_ * (2^k - 1) up to first_ * (2^(k+1) - 1).
    T* Address(std::size_t i) const {
        if (i < first_) return reinterpret_cast<T*>(chunks_[0].get()) + i;
        const std::size_t k = static_cast<std::size_t>(std::bit_width(i / first_ + 1)) - 1;
        return reinterpret_cast<T*>(chunks_[k].get()) + (i - first_ * ((std::size_t{1} << k) - 1));
    }
    std::size_t first_ = First;
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
