// Core COM-style value types: HRESULT, GUID, string and boolean types.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

using HRESULT = std::int32_t;
using ULONG = std::uint32_t;
using LONG = std::int32_t;
using DWORD = std::uint32_t;
using BOOL = std::int32_t;
using VARIANT_BOOL = std::int16_t;
using OLECHAR = char16_t;
using LPOLESTR = OLECHAR*;
using LPCOLESTR = const OLECHAR*;
using BSTR = OLECHAR*;

// Typed constants, so that `throw E_UNEXPECTED` is caught by `catch (HRESULT)`.
constexpr HRESULT MakeHresult(std::uint32_t bits) { return static_cast<HRESULT>(bits); }
inline constexpr HRESULT S_OK = 0;
inline constexpr HRESULT S_FALSE = 1;
inline constexpr HRESULT E_NOTIMPL = MakeHresult(0x80004001u);
inline constexpr HRESULT E_NOINTERFACE = MakeHresult(0x80004002u);
inline constexpr HRESULT E_POINTER = MakeHresult(0x80004003u);
inline constexpr HRESULT E_ABORT = MakeHresult(0x80004004u);
inline constexpr HRESULT E_FAIL = MakeHresult(0x80004005u);
inline constexpr HRESULT E_UNEXPECTED = MakeHresult(0x8000FFFFu);
inline constexpr HRESULT E_ACCESSDENIED = MakeHresult(0x80070005u);
inline constexpr HRESULT E_HANDLE = MakeHresult(0x80070006u);
inline constexpr HRESULT E_OUTOFMEMORY = MakeHresult(0x8007000Eu);
inline constexpr HRESULT E_INVALIDARG = MakeHresult(0x80070057u);
inline constexpr HRESULT CLASS_E_NOAGGREGATION = MakeHresult(0x80040110u);
inline constexpr HRESULT CLASS_E_CLASSNOTAVAILABLE = MakeHresult(0x80040111u);
inline constexpr HRESULT REGDB_E_CLASSNOTREG = MakeHresult(0x80040154u);
inline constexpr HRESULT CO_E_CLASSSTRING = MakeHresult(0x800401F3u);
inline constexpr HRESULT DISP_E_TYPEMISMATCH = MakeHresult(0x80020005u);
inline constexpr HRESULT DISP_E_BADINDEX = MakeHresult(0x8002000Bu);
inline constexpr HRESULT STG_E_READFAULT = MakeHresult(0x8003001Eu);
inline constexpr HRESULT STG_E_WRITEFAULT = MakeHresult(0x8003001Du);
inline constexpr HRESULT STG_E_FILENOTFOUND = MakeHresult(0x80030002u);
inline constexpr HRESULT STG_E_INVALIDFUNCTION = MakeHresult(0x80030001u);

inline constexpr bool SUCCEEDED(HRESULT hr) { return hr >= 0; }
inline constexpr bool FAILED(HRESULT hr) { return hr < 0; }

inline constexpr VARIANT_BOOL VARIANT_TRUE = -1;
inline constexpr VARIANT_BOOL VARIANT_FALSE = 0;
inline constexpr BOOL TRUE = 1;
inline constexpr BOOL FALSE = 0;

struct GUID {
    std::uint32_t Data1 = 0;
    std::uint16_t Data2 = 0;
    std::uint16_t Data3 = 0;
    std::uint8_t Data4[8] = {};

    friend constexpr bool operator==(const GUID& a, const GUID& b) {
        if (a.Data1 != b.Data1 || a.Data2 != b.Data2 || a.Data3 != b.Data3) return false;
        for (int i = 0; i < 8; ++i)
            if (a.Data4[i] != b.Data4[i]) return false;
        return true;
    }
    friend constexpr bool operator<(const GUID& a, const GUID& b) {
        if (a.Data1 != b.Data1) return a.Data1 < b.Data1;
        if (a.Data2 != b.Data2) return a.Data2 < b.Data2;
        if (a.Data3 != b.Data3) return a.Data3 < b.Data3;
        for (int i = 0; i < 8; ++i)
            if (a.Data4[i] != b.Data4[i]) return a.Data4[i] < b.Data4[i];
        return false;
    }
};
using IID = GUID;
using CLSID = GUID;
using REFIID = const IID&;
using REFCLSID = const CLSID&;
using REFGUID = const GUID&;
using nsID = GUID;

inline constexpr GUID GUID_NULL{};

namespace com {

namespace detail {
constexpr int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}
}  // namespace detail

// Parses "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" (braces optional); nullopt when malformed.
constexpr std::optional<GUID> ParseGuid(std::string_view s) {
    if (s.size() == 38) {
        if (s.front() != '{' || s.back() != '}') return std::nullopt;
        s = s.substr(1, 36);
    }
    if (s.size() != 36 || s[8] != '-' || s[13] != '-' || s[18] != '-' || s[23] != '-')
        return std::nullopt;
    std::uint8_t bytes[16] = {};
    int n = 0;
    for (std::size_t i = 0; i < s.size();) {
        if (s[i] == '-') { ++i; continue; }
        int hi = detail::HexDigit(s[i]);
        int lo = i + 1 < s.size() ? detail::HexDigit(s[i + 1]) : -1;
        if (hi < 0 || lo < 0 || n >= 16) return std::nullopt;
        bytes[n++] = static_cast<std::uint8_t>(hi * 16 + lo);
        i += 2;
    }
    if (n != 16) return std::nullopt;
    GUID g;
    g.Data1 = (std::uint32_t{bytes[0]} << 24) | (std::uint32_t{bytes[1]} << 16) |
              (std::uint32_t{bytes[2]} << 8) | bytes[3];
    g.Data2 = static_cast<std::uint16_t>((bytes[4] << 8) | bytes[5]);
    g.Data3 = static_cast<std::uint16_t>((bytes[6] << 8) | bytes[7]);
    for (int i = 0; i < 8; ++i) g.Data4[i] = bytes[8 + i];
    return g;
}

// For constants written in source: a malformed literal fails the build.
consteval GUID MakeGuid(std::string_view s) {
    auto g = ParseGuid(s);
    if (!g) throw "malformed GUID literal";
    return *g;
}

// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}", upper-case hex.
std::string FormatGuid(const GUID& g);

}  // namespace com
