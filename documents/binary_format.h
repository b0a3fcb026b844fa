// The binary document stream that the undo/redo component writes and reads: what the writer and
// the reader share of its layout.
//
//   u32 trailer position T (kUnfinished until the save ends), u32 root identifier 1,
//   the root's data (one encoding per serialiser call, children nested), then at T:
//   i32 bit count b, ceil(b/8) bytes of bits, u64 class count n, n u32 class types.
//
// Numbers are little-endian, floating-point values their IEEE bits. Booleans and the presence
// flags of values with a default live in the bit table, never in the data: bit k is bit k mod 8
// of byte k div 8. A bit vector is its u64 bit count and ceil(c/32) u32 words, bit j in bit
// j mod 32 of word j div 32. Unused bits are 0 in both.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <type_traits>
#include <vector>

#include "base/byte_swap.h"
#include "datamodel/serialise_adapter.h"

namespace cartovane::binary {

inline constexpr std::uint32_t kUnfinished = 0xFFFFFFFFu;
// Seek takes a signed 32-bit offset, so a position beyond this cannot be reached again.
inline constexpr std::uint64_t kMaxPosition = 0x7FFFFFFFu;
inline constexpr std::uint32_t kRootIdentifier = 1;
// The bytes before the root's data, and the smallest trailer (b, no bits, n).
inline constexpr std::uint64_t kHeaderBytes = 8;
inline constexpr std::uint64_t kTrailerFixedBytes = 4 + 8;
// Contained objects nest no deeper than the XML loader lets elements nest.
inline constexpr std::size_t kMaxDepth = 256;

// The stream's type for an operation's kind: xxBool is one byte.
template <class K, class T>
using Stored = std::conditional_t<xxIsBoolKind<K>, std::uint8_t, T>;

// A fixed-width number in its little-endian bytes.
template <class T>
    requires std::is_arithmetic_v<T>
inline void PutNumber(unsigned char* at, T value) {
    if constexpr (std::endian::native == std::endian::big && sizeof(T) == 8) ByteSwap8(value);
    else if constexpr (std::endian::native == std::endian::big && sizeof(T) == 4) ByteSwap4(value);
    else if constexpr (std::endian::native == std::endian::big && sizeof(T) == 2) ByteSwap2(value);
    std::memcpy(at, &value, sizeof value);
}
template <class T>
    requires std::is_arithmetic_v<T>
inline T GetNumber(const unsigned char* at) {
    T value;
    std::memcpy(&value, at, sizeof value);
    if constexpr (std::endian::native == std::endian::big && sizeof(T) == 8) ByteSwap8(value);
    else if constexpr (std::endian::native == std::endian::big && sizeof(T) == 4) ByteSwap4(value);
    else if constexpr (std::endian::native == std::endian::big && sizeof(T) == 2) ByteSwap2(value);
    return value;
}

// Whether a run of numbers lies in memory as it lies in the stream.
template <class T>
inline constexpr bool kSameInMemory = std::endian::native == std::endian::little && std::is_arithmetic_v<T> &&
                                      !std::is_same_v<T, bool>;

// Whether a value with a default is stored: numbers by value (NaN always, -0.0 as 0.0), texts by
// content, xxBool as true or false.
template <class T>
inline bool DiffersFromDefault(const T& value, const T& defaultValue) {
    if constexpr (std::is_floating_point_v<T>) return !(value == defaultValue);
    else return value != defaultValue;
}

inline constexpr std::uint64_t BitVectorWords(std::uint64_t bits) { return bits / 32 + (bits % 32 != 0); }
inline constexpr std::uint64_t BitTableBytes(std::uint64_t bits) { return bits / 8 + (bits % 8 != 0); }

// The words of a bit vector; the high bits of the last word are 0.
template <class Bits>
inline void PackBits(const Bits& bits, std::vector<std::uint32_t>& words) {
    words.assign(static_cast<std::size_t>(BitVectorWords(bits.size())), 0u);
    std::size_t j = 0;
    for (const bool b : bits) {
        if (b) words[j / 32] |= std::uint32_t{1} << (j % 32);
        ++j;
    }
}
inline bool WordBit(const std::vector<std::uint32_t>& words, std::uint64_t j) {
    return (words[static_cast<std::size_t>(j / 32)] >> (j % 32)) & 1u;
}

// The bit table: the writer appends, the reader takes from bit 0. The buffer grows by its size
// with new bytes zero, so false bits need no writing.
class BitTable {
public:
    BitTable() { bytes_.reserve(1024); }

    void Append(bool bit) {
        const std::size_t index = static_cast<std::size_t>(cursor_ / 8);
        if (bytes_.size() <= index) bytes_.resize(2 * index + 2, 0);
        if (bit) bytes_[index] = static_cast<unsigned char>(bytes_[index] | (1u << (cursor_ % 8)));
        ++cursor_;
    }
    // False once every bit has been taken.
    bool HasNext() const { return cursor_ < count_; }
    bool Take() {
        const bool bit = (bytes_[static_cast<std::size_t>(cursor_ / 8)] >> (cursor_ % 8)) & 1u;
        ++cursor_;
        return bit;
    }
    // The table as read: count bits in bytes (at least BitTableBytes(count) of them).
    void Assign(std::vector<unsigned char> bytes, std::uint64_t count) {
        bytes_ = std::move(bytes);
        count_ = count;
        cursor_ = 0;
    }

    std::uint64_t Cursor() const { return cursor_; }
    std::uint64_t Count() const { return count_; }
    const unsigned char* Bytes() const { return bytes_.data(); }

private:
    std::vector<unsigned char> bytes_;
    std::uint64_t cursor_ = 0;
    std::uint64_t count_ = 0;  // read only
};

}  // namespace cartovane::binary
