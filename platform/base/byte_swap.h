// Byte-order reversal of values read from binary files written on a machine of the other byte
// order (trajectories, coordinate files). The typed forms reverse one value in place; the raw
// form reverses each element of an unaligned run of elements on its own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>

namespace cartovane {

namespace detail {
inline std::uint16_t Reversed(std::uint16_t v) { return __builtin_bswap16(v); }
inline std::uint32_t Reversed(std::uint32_t v) { return __builtin_bswap32(v); }
inline std::uint64_t Reversed(std::uint64_t v) { return __builtin_bswap64(v); }

// The value's bytes reversed through an unsigned integer of its size (any trivially copyable T:
// an int, a float, a double).
template <class U>
inline void ReverseAt(void* at) {
    U bits;
    std::memcpy(&bits, at, sizeof bits);
    bits = Reversed(bits);
    std::memcpy(at, &bits, sizeof bits);
}
template <class U, class T>
inline void ReverseValue(T& value) {
    static_assert(sizeof(T) == sizeof(U) && std::is_trivially_copyable_v<T>);
    ReverseAt<U>(&value);
}
}  // namespace detail

// Byte 0 with 7, 1 with 6, 2 with 5, 3 with 4.
template <class T>
    requires(sizeof(T) == 8)
inline void ByteSwap8(T& value) {
    detail::ReverseValue<std::uint64_t>(value);
}
// Byte 0 with 3, 1 with 2.
template <class T>
    requires(sizeof(T) == 4)
inline void ByteSwap4(T& value) {
    detail::ReverseValue<std::uint32_t>(value);
}
// The two bytes exchanged.
template <class T>
    requires(sizeof(T) == 2)
inline void ByteSwap2(T& value) {
    detail::ReverseValue<std::uint16_t>(value);
}

// Reverses count elements of width bytes (2, 4 or 8) lying end to end at data, which need not
// be aligned. Width 1 has nothing to reverse; any other width leaves the bytes as they are and
// answers false.
inline bool ByteSwapEach(void* data, std::size_t width, std::size_t count) {
    auto* bytes = static_cast<unsigned char*>(data);
    auto each = [&](auto unit) {
        using U = decltype(unit);
        for (std::size_t i = 0; i < count; ++i) detail::ReverseAt<U>(bytes + i * sizeof(U));
        return true;
    };
    switch (width) {
    case 1: return true;
    case 2: return each(std::uint16_t{});
    case 4: return each(std::uint32_t{});
    case 8: return each(std::uint64_t{});
    default: return false;
    }
}

}  // namespace cartovane
