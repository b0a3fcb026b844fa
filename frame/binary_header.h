// Reading the header of a binary trajectory file (HIS, TRJ) through its frame loader, with
// count of what is left of the file: a count whose bytes do not fit what is left is refused
// before anything is sized by it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "utilities/frame_loader.h"

namespace cartovane {

// a * b and a + b, or nothing when either is nothing or the result overflows.
inline std::optional<std::uint64_t> Times(std::optional<std::uint64_t> a, std::uint64_t b) {
    std::uint64_t out;
    if (!a || __builtin_mul_overflow(*a, b, &out)) return std::nullopt;
    return out;
}
inline std::optional<std::uint64_t> Plus(std::optional<std::uint64_t> a, std::optional<std::uint64_t> b) {
    std::uint64_t out;
    if (!a || !b || __builtin_add_overflow(*a, *b, &out)) return std::nullopt;
    return out;
}
// A count already checked to be >= 0.
inline std::uint64_t Count(int n) { return static_cast<std::uint64_t>(n); }

// Reads from the stream's current position, taken as offset start of a file of size bytes.
class HeaderCursor {
public:
    HeaderCursor(xxFrameLoader& loader, std::uint64_t size, std::uint64_t start = 0)
        : loader_(loader), size_(size), at_(start) {}

    std::uint64_t At() const { return at_; }
    std::uint64_t Left() const { return size_ - at_; }
    bool Fits(std::optional<std::uint64_t> bytes) const { return bytes && at_ <= size_ && *bytes <= size_ - at_; }

    template <class T>
    bool Read(T* into, std::size_t count) {
        if (!Fits(Times(count, sizeof(T)))) return false;
        at_ += count * sizeof(T);
        return loader_.ReadTranslate(into, sizeof(T), count, false);
    }
    // length characters as they stand.
    bool ReadText(std::string& text, std::size_t length) {
        if (!Fits(length)) return false;
        at_ += length;
        return loader_.Read(text, length, false);
    }
    bool Skip(std::optional<std::uint64_t> bytes) {
        if (!Fits(bytes)) return false;
        at_ += *bytes;
        std::string none;
        return loader_.Read(none, static_cast<std::size_t>(*bytes), true);
    }
    // Over one record's closing length word and the next one's opening.
    bool NextRecord() { return Skip(8); }
    // A count of the header: false when negative.
    bool ReadCount(int& count) { return Read(&count, 1) && count >= 0; }

private:
    xxFrameLoader& loader_;
    std::uint64_t size_;
    std::uint64_t at_;
};

}  // namespace cartovane
