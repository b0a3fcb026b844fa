#pragma once

#include <cstddef>
#include <memory>
#include <vector>

// Items in chunks: stable addresses, one allocation per chunk.
template <class T, std::size_t N = 1024>
class ChunkedList {
public:
    T& emplace_back() {
        if (size_ == chunks_.size() * N) chunks_.push_back(std::make_unique<T[]>(N));
        return (*this)[size_++];
    }
    T& operator[](std::size_t i) { return chunks_[i / N][i % N]; }
    const T& operator[](std::size_t i) const { return chunks_[i / N][i % N]; }
    T& front() { return (*this)[0]; }
    std::size_t size() const { return size_; }
    void clear() {
        chunks_.clear();
        size_ = 0;
    }

private:
    std::vector<std::unique_ptr<T[]>> chunks_;
    std::size_t size_ = 0;
};
