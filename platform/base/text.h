// Text and numbers for every reader and writer: ASCII character rules that no locale changes,
// trimming and splitting, scans that read the way the C conversions of the file formats read
// ("%lf", "%5s", ...), whole-text numbers, number texts, and rounding. Nothing here allocates
// except the functions that return a std::string or a vector.
#pragma once

#include <charconv>
#include <climits>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <type_traits>
#include <vector>

namespace cartovane::text {

// ---- characters: ASCII only, the same in every locale ---------------------------------------

constexpr bool IsDigit(char c) noexcept { return c >= '0' && c <= '9'; }
constexpr char ToLower(char c) noexcept { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }
constexpr char ToUpper(char c) noexcept { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }
// White space as isspace in the "C" locale has it, which is what the C conversions skip.
constexpr bool IsScanSpace(char c) noexcept {
    return c == ' ' || (c >= '\t' && c <= '\r');  // tab, line feed, vertical tab, form feed, CR
}
// A blank or a tab.
constexpr bool IsBlank(char c) noexcept { return c == ' ' || c == '\t'; }

constexpr bool EqualsNoCase(std::string_view a, std::string_view b) noexcept {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (ToLower(a[i]) != ToLower(b[i])) return false;
    return true;
}
constexpr bool StartsWithNoCase(std::string_view text, std::string_view prefix) noexcept {
    return text.size() >= prefix.size() && EqualsNoCase(text.substr(0, prefix.size()), prefix);
}
inline std::string ToLower(std::string_view text) {
    std::string out(text);
    for (char& c : out) c = ToLower(c);
    return out;
}
inline std::string ToUpper(std::string_view text) {
    std::string out(text);
    for (char& c : out) c = ToUpper(c);
    return out;
}

// Only blanks, tabs and line feeds (the empty line included).
constexpr bool IsBlankLine(std::string_view line) noexcept {
    for (char c : line)
        if (c != ' ' && c != '\t' && c != '\n') return false;
    return true;
}

// ---- trimming and splitting -------------------------------------------------------------------

// Without blanks and tabs at either end.
constexpr std::string_view TrimBlanks(std::string_view s) noexcept {
    while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
    while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
    return s;
}

// The tokens of a text between runs of separator characters; no token is empty.
class Tokens {
public:
    static constexpr std::string_view kBlanks = " ";
    static constexpr std::string_view kWhiteSpace = " \t\n";  // blanks, tabs and line feeds

    constexpr Tokens(std::string_view text, std::string_view separators) noexcept
        : text_(text), separators_(separators) {}
    constexpr std::optional<std::string_view> Next() noexcept {
        while (pos_ < text_.size() && IsSeparator(text_[pos_])) ++pos_;
        if (pos_ >= text_.size()) return std::nullopt;
        const std::size_t start = pos_;
        while (pos_ < text_.size() && !IsSeparator(text_[pos_])) ++pos_;
        return text_.substr(start, pos_ - start);
    }
    // What follows the last token taken, separators included.
    constexpr std::string_view Rest() const noexcept { return text_.substr(pos_); }

private:
    constexpr bool IsSeparator(char c) const noexcept {
        for (char s : separators_)
            if (c == s) return true;
        return false;
    }
    std::string_view text_;
    std::string_view separators_;
    std::size_t pos_ = 0;
};

// The fields between single separators, each trimmed of blanks and tabs; empty fields are kept,
// so a text of n separators has n + 1 fields.
inline std::vector<std::string_view> SplitFields(std::string_view text, char separator) {
    std::vector<std::string_view> fields;
    for (std::size_t start = 0;;) {
        const std::size_t end = text.find(separator, start);
        fields.push_back(TrimBlanks(text.substr(start, end == std::string_view::npos ? end : end - start)));
        if (end == std::string_view::npos) return fields;
        start = end + 1;
    }
}

// ---- scanning as the C conversions read ---------------------------------------------------------
// Each scan skips white space (IsScanSpace) from pos, converts, and moves pos past what it took;
// when nothing converts it answers false (or nullopt) and leaves pos and the value alone.

// "%s", "%5s": up to width characters that are not white space.
constexpr std::optional<std::string_view> ScanString(std::string_view text, std::size_t& pos,
                                                     std::size_t width = std::string_view::npos) noexcept {
    std::size_t p = pos;
    while (p < text.size() && IsScanSpace(text[p])) ++p;
    std::size_t end = p;
    while (end < text.size() && end - p < width && !IsScanSpace(text[end])) ++end;
    if (end == p) return std::nullopt;
    pos = end;
    return text.substr(p, end - p);
}

// How a real number converted.
enum class Conversion { None, Finite, NotFinite };

namespace detail {
// The value a number too large or too small for Real stands for, as strtod gives it: infinity
// when its magnitude is large, zero when it is small. digits is the text from_chars matched
// (no sign, no "0x"); only a number far outside the range gets here, so the decimal (or, for
// hexadecimal, binary) exponent of its first significant digit tells which.
template <class Real>
[[gnu::noinline, gnu::cold]] Real OutOfRange(std::string_view digits, bool hex, bool negative) noexcept {
    const char exponentMark = hex ? 'p' : 'e';
    std::size_t mark = 0;
    while (mark < digits.size() && ToLower(digits[mark]) != exponentMark) ++mark;
    long long exponent = 0;
    if (mark < digits.size()) {
        std::size_t p = mark + 1;
        const bool down = p < digits.size() && digits[p] == '-';
        if (p < digits.size() && (digits[p] == '-' || digits[p] == '+')) ++p;
        for (; p < digits.size() && IsDigit(digits[p]); ++p)
            if (exponent < 1'000'000'000) exponent = exponent * 10 + (digits[p] - '0');
        if (down) exponent = -exponent;
    }
    // Places of the first significant digit left of the point (zero or less: right of it).
    const std::string_view mantissa = digits.substr(0, mark);
    const std::size_t point = mantissa.find('.');
    const std::string_view whole = mantissa.substr(0, point);
    const std::string_view fraction = point == std::string_view::npos ? std::string_view{} : mantissa.substr(point + 1);
    long long places = 0;
    if (const std::size_t i = whole.find_first_not_of('0'); i != std::string_view::npos)
        places = static_cast<long long>(whole.size() - i);
    else if (const std::size_t j = fraction.find_first_not_of('0'); j != std::string_view::npos)
        places = -static_cast<long long>(j);
    const long long scale = exponent + (hex ? 4 : 1) * places;
    const Real magnitude = scale > 0 ? std::numeric_limits<Real>::infinity() : Real{0};
    return negative ? -magnitude : magnitude;
}
}  // namespace detail

// "%lf" (double) and "%f" (float), as strtod and strtof read: an optional sign, then a decimal
// number, a hexadecimal one ("0x1p3" is 8), or "inf", "infinity", "nan", "nan(...)" in any case.
// A number beyond the type's range reads as infinity, one too small for it as zero. Finite or
// NotFinite when a number converted (value and pos set); None otherwise.
template <class Real>
Conversion ScanReal(std::string_view text, std::size_t& pos, Real& value) noexcept {
    static_assert(std::is_floating_point_v<Real>);
    std::size_t p = pos;
    while (p < text.size() && IsScanSpace(text[p])) ++p;
    if (p >= text.size()) return Conversion::None;
    const char* const last = text.data() + text.size();
    const char* first = text.data() + p;
    if (*first == '+') {  // from_chars takes a "-" itself, but no "+"
        ++first;
        if (first == last || *first == '+' || *first == '-') return Conversion::None;
    }
    Real v{};
    std::from_chars_result r{};
    bool hex = false, negative = false;
    const char* body = first;
    if (*first == '0' || *first == '-') {  // perhaps "0x...", whose prefix from_chars does not take
        negative = *first == '-';
        body = negative ? first + 1 : first;
        if (last - body > 2 && body[0] == '0' && (body[1] == 'x' || body[1] == 'X') && body[2] != '+' &&
            body[2] != '-') {
            r = std::from_chars(body + 2, last, v, std::chars_format::hex);
            hex = r.ec != std::errc::invalid_argument;
            if (hex && r.ec == std::errc{} && negative) v = -v;
        }
    }
    if (!hex) r = std::from_chars(first, last, v, std::chars_format::general);  // "0x" alone reads as 0
    if (r.ec != std::errc{}) [[unlikely]] {
        if (r.ec != std::errc::result_out_of_range) return Conversion::None;
        const char* const digits = hex ? body + 2 : body;
        v = detail::OutOfRange<Real>({digits, static_cast<std::size_t>(r.ptr - digits)}, hex, negative);
    }
    value = v;
    pos = static_cast<std::size_t>(r.ptr - text.data());
    return std::isfinite(v) ? Conversion::Finite : Conversion::NotFinite;
}

// "%lf" and "%f" for readers that take finite values only: a number that reads as infinity or
// NaN counts as not converting.
template <class Real>
bool ScanFinite(std::string_view text, std::size_t& pos, Real& value) noexcept {
    std::size_t p = pos;
    Real v{};
    if (ScanReal(text, p, v) != Conversion::Finite) return false;
    pos = p;
    value = v;
    return true;
}
inline bool ScanDouble(std::string_view text, std::size_t& pos, double& value) noexcept {
    return ScanFinite(text, pos, value);
}
inline bool ScanFloat(std::string_view text, std::size_t& pos, float& value) noexcept {
    return ScanFinite(text, pos, value);
}

// "%d": an optional sign and decimal digits; a value beyond int does not convert.
inline bool ScanInt(std::string_view text, std::size_t& pos, int& value) noexcept {
    std::size_t p = pos;
    while (p < text.size() && IsScanSpace(text[p])) ++p;
    if (p < text.size() && text[p] == '+') {
        ++p;
        if (p >= text.size() || !IsDigit(text[p])) return false;
    }
    if (p >= text.size()) return false;
    int v = 0;
    const auto [end, ec] = std::from_chars(text.data() + p, text.data() + text.size(), v);
    if (ec != std::errc{}) return false;
    value = v;
    pos = static_cast<std::size_t>(end - text.data());
    return true;
}

// "%2u": decimal digits (after an optional "+") within width characters. Unlike the C
// conversion, a minus sign does not convert, nor does a value beyond unsigned.
inline bool ScanUnsigned(std::string_view text, std::size_t& pos, std::size_t width, unsigned& value) noexcept {
    std::size_t p = pos;
    while (p < text.size() && IsScanSpace(text[p])) ++p;
    std::size_t used = 0;
    if (p < text.size() && text[p] == '+' && width > 0) {
        ++p;
        ++used;
    }
    unsigned v = 0;
    std::size_t digits = 0;
    for (; p < text.size() && used < width && IsDigit(text[p]); ++p, ++used, ++digits) {
        const unsigned d = static_cast<unsigned>(text[p] - '0');
        if (v > (UINT_MAX - d) / 10) return false;
        v = v * 10 + d;
    }
    if (digits == 0) return false;
    value = v;
    pos = p;
    return true;
}

// ---- whole texts as numbers -----------------------------------------------------------------

// The whole text as one number, as from_chars reads it: no white space, no "+", decimal
// integers, reals in fixed or scientific form (and "inf", "nan"). On failure the value stays
// and the answer is invalid_argument (no number, or text after it) or result_out_of_range.
template <class N>
std::errc ParseExact(std::string_view text, N& value) noexcept {
    if (text.empty()) return std::errc::invalid_argument;
    N v{};
    const char* const end = text.data() + text.size();
    const auto result = std::from_chars(text.data(), end, v);
    if (result.ec != std::errc{}) return result.ec;
    if (result.ptr != end) return std::errc::invalid_argument;
    value = v;
    return {};
}

// A number as atoi reads it: white space (IsScanSpace), an optional sign, the decimal digits up
// to the first other character; no digits read as 0. nullopt when the value does not fit in a
// 32-bit int (where atoi's result is undefined).
constexpr std::optional<std::int64_t> LeadingInteger(std::string_view text) noexcept {
    std::size_t i = 0;
    while (i < text.size() && IsScanSpace(text[i])) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    constexpr std::int64_t kMax = std::numeric_limits<std::int32_t>::max();
    std::int64_t value = 0;
    for (; i < text.size() && IsDigit(text[i]); ++i) {
        value = value * 10 + (text[i] - '0');
        if (value > kMax + 1) return std::nullopt;
    }
    if (negative) value = -value;
    if (value > kMax || value < std::numeric_limits<std::int32_t>::min()) return std::nullopt;
    return value;
}

// ---- numbers as text ------------------------------------------------------------------------

// The longest number text below: a double's shortest form needs 24 characters, an integer 20.
inline constexpr std::size_t kNumberTextSize = 32;

// Integers in decimal; reals in the shortest form that reads back to the same value ("0.1",
// "1e+300", "inf", "nan"), in every locale alike. The end of the text written from first, or
// nullptr when it does not fit before last.
template <class N>
char* WriteNumber(char* first, char* last, N value) noexcept {
    const auto [end, ec] = std::to_chars(first, last, value);
    return ec == std::errc{} ? end : nullptr;
}
// "%.*f" in the "C" locale: fixed-point with that many decimals, rounded to nearest.
inline char* WriteFixed(char* first, char* last, double value, int decimals) noexcept {
    const auto [end, ec] = std::to_chars(first, last, value, std::chars_format::fixed, decimals);
    return ec == std::errc{} ? end : nullptr;
}

namespace detail {
// "%.*g" laid out from a value's shortest digits when they are no more than precision (at most
// 15): rounding a normal double to that many digits then gives those digits, as the shortest
// lie within half an ulp of the value, far less than half a unit of the 15th digit. Null when
// the value does not qualify or the text does not fit; the caller then converts the slow way.
inline char* WriteGeneralFromShortest(char* first, char* last, double value, int precision) noexcept {
    const double magnitude = std::fabs(value);
    if (precision > 15 || !(magnitude >= std::numeric_limits<double>::min()) || magnitude > std::numeric_limits<double>::max())
        return nullptr;
    char sci[kNumberTextSize];  // "-d.ddde-XXX"
    const auto [sciEnd, ec] = std::to_chars(sci, sci + sizeof sci, value, std::chars_format::scientific);
    if (ec != std::errc{}) return nullptr;
    const char* p = sci;
    const bool negative = *p == '-';
    if (negative) ++p;
    char digits[20];
    int count = 0;
    for (; p < sciEnd && *p != 'e'; ++p)
        if (*p != '.') digits[count++] = *p;
    if (count > precision || p == sciEnd) return nullptr;
    int exponent = 0;
    std::from_chars(p + 1 + (p[1] == '+'), sciEnd, exponent);
    // At most 22 characters: "-0.0000" and 15 digits, or "-d." and 14 digits and "e-308".
    if (last - first < 22) return nullptr;
    char* out = first;
    if (negative) *out++ = '-';
    if (exponent >= -4 && exponent < precision) {
        if (exponent < 0) {
            *out++ = '0';
            *out++ = '.';
            for (int i = -1; i > exponent; --i) *out++ = '0';
            for (int i = 0; i < count; ++i) *out++ = digits[i];
        } else {
            for (int i = 0; i <= exponent; ++i) *out++ = i < count ? digits[i] : '0';
            if (count > exponent + 1) {
                *out++ = '.';
                for (int i = exponent + 1; i < count; ++i) *out++ = digits[i];
            }
        }
        return out;
    }
    *out++ = digits[0];
    if (count > 1) {
        *out++ = '.';
        for (int i = 1; i < count; ++i) *out++ = digits[i];
    }
    *out++ = 'e';
    *out++ = exponent < 0 ? '-' : '+';
    const int e = exponent < 0 ? -exponent : exponent;
    if (e >= 100) *out++ = static_cast<char>('0' + e / 100);
    *out++ = static_cast<char>('0' + e / 10 % 10);
    *out++ = static_cast<char>('0' + e % 10);
    return out;
}
}  // namespace detail

// "%.*g" in the "C" locale: that many significant digits (1..17 fit kNumberTextSize), fixed or
// scientific by the exponent as %g chooses, trailing zeros dropped ("0.1000000014901", "1e-20").
inline char* WriteGeneral(char* first, char* last, double value, int precision) noexcept {
    if (value == 0 && last - first >= 2) {  // "0" or "-0", as %g writes a zero
        char* out = first;
        if (std::signbit(value)) *out++ = '-';
        *out++ = '0';
        return out;
    }
    if (char* end = detail::WriteGeneralFromShortest(first, last, value, precision)) return end;
    const auto [end, ec] = std::to_chars(first, last, value, std::chars_format::general, precision);
    return ec == std::errc{} ? end : nullptr;
}

template <class N>
std::string NumberText(N value) {
    char buffer[kNumberTextSize];
    return std::string(buffer, WriteNumber(buffer, buffer + sizeof buffer, value));
}
inline std::string FixedText(double value, int decimals) {
    // A large double has up to 309 digits before the point.
    std::string out(kNumberTextSize + 320 + static_cast<std::size_t>(decimals > 0 ? decimals : 0), '\0');
    out.resize(static_cast<std::size_t>(WriteFixed(out.data(), out.data() + out.size(), value, decimals) - out.data()));
    return out;
}

// ---- rounding -----------------------------------------------------------------------------

// Half away from zero, as (int)(x + 0.5) for x > 0 and (int)(x - 0.5) otherwise: 2.5 -> 3,
// -2.5 -> -3, -0.5 -> -1, 0.49999 -> 0. Where that cast is undefined the answer is defined:
// values beyond int saturate to INT_MAX or INT_MIN (infinities too), and NaN gives 0.
constexpr int RoundHalfAwayFromZero(double x) noexcept {
    if (x != x) return 0;
    const double shifted = x > 0 ? x + 0.5 : x - 0.5;
    if (shifted >= 2147483648.0) return INT_MAX;
    if (shifted <= -2147483649.0) return INT_MIN;
    return static_cast<int>(shifted);
}

// Hashes a std::string key by its characters, so an unordered table keyed by strings can be
// searched with a string_view (with std::equal_to<>), no string made for the lookup.
struct StringHash {
    using is_transparent = void;
    std::size_t operator()(std::string_view s) const noexcept { return std::hash<std::string_view>{}(s); }
};

}  // namespace cartovane::text
