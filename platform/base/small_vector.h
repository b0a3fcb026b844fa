// A vector of trivially copyable values that keeps its first N values in the object and moves to
// a heap block only when it outgrows them (a contiguous range: it converts to std::span). Bondable
// objects keep their bond lists in one: most atoms have one or two bonds, and a std::vector would
// cost each of them a heap block.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <limits>
#include <memory>
#include <stdexcept>
#include <type_traits>

template <class T, std::size_t N>
class xxSmallVector {
    static_assert(std::is_trivially_copyable_v<T> && N > 0 && N <= std::numeric_limits<std::uint32_t>::max());

public:
    using value_type = T;
    using iterator = T*;
    using const_iterator = const T*;
    using reverse_iterator = std::reverse_iterator<iterator>;
    using const_reverse_iterator = std::reverse_iterator<const_iterator>;

    xxSmallVector() = default;
    xxSmallVector(const xxSmallVector&) = delete;
    xxSmallVector& operator=(const xxSmallVector&) = delete;

    static constexpr std::size_t max_size() { return std::numeric_limits<std::uint32_t>::max(); }

    std::size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
    // N while the values sit in the object; the heap block's size once they moved there (they
    // never move back).
    std::size_t capacity() const { return heap_ ? capacity_ : N; }

    T* data() { return heap_ ? heap_.get() : inline_; }
    const T* data() const { return heap_ ? heap_.get() : inline_; }
    iterator begin() { return data(); }
    iterator end() { return data() + size_; }
    const_iterator begin() const { return data(); }
    const_iterator end() const { return data() + size_; }
    reverse_iterator rbegin() { return reverse_iterator(end()); }
    reverse_iterator rend() { return reverse_iterator(begin()); }
    const_reverse_iterator rbegin() const { return const_reverse_iterator(end()); }
    const_reverse_iterator rend() const { return const_reverse_iterator(begin()); }
    T& operator[](std::size_t i) { return data()[i]; }
    const T& operator[](std::size_t i) const { return data()[i]; }
    T& back() { return data()[size_ - 1]; }
    const T& back() const { return data()[size_ - 1]; }

    // Room for n values. On failure (std::bad_alloc, std::length_error beyond max_size) the
    // vector is unchanged.
    void reserve(std::size_t n) {
        if (n <= capacity()) return;
        if (n > max_size()) throw std::length_error("xxSmallVector::reserve");
        auto block = std::make_unique_for_overwrite<T[]>(n);
        std::copy_n(data(), size_, block.get());
        heap_ = std::move(block);
        capacity_ = static_cast<std::uint32_t>(n);
    }
    // By value: the argument may be an element, and growing moves the elements. Throws
    // std::length_error when the vector holds max_size values.
    void push_back(T value) {
        if (size_ == capacity()) {
            if (size_ == max_size()) throw std::length_error("xxSmallVector::push_back");
            reserve(std::min(max_size(), std::max<std::size_t>(2 * capacity(), 4)));
        }
        data()[size_++] = value;
    }
    void pop_back() { --size_; }
    // Removes the value at pos; the others keep their order.
    iterator erase(const_iterator pos) {
        T* first = data();
        T* at = first + (pos - first);
        std::copy(at + 1, first + size_, at);
        --size_;
        return at;
    }
    // Removes every value equal to value (by value, as it may be an element); returns how many went.
    std::size_t erase_value(T value) {
        T* first = data();
        T* last = std::remove(first, first + size_, value);
        const auto removed = static_cast<std::size_t>(first + size_ - last);
        size_ = static_cast<std::uint32_t>(last - first);
        return removed;
    }

private:
    std::unique_ptr<T[]> heap_;
    T inline_[N]{};
    std::uint32_t size_ = 0;
    std::uint32_t capacity_ = 0;  // of heap_
};
