#include "formats/carmdf/carmdf_text.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "base/text.h"
#include "cfx/cfx.h"

namespace cartovane::carmdf {
namespace {

// Wide enough for the fixed-point text of any double with the decimals written here.
constexpr std::size_t kNumberText = 400;
// Wide enough for the fast path's text: a sign, 16 integer digits, a point and 10 decimals.
constexpr std::size_t kFastText = 32;

constexpr char kPairs[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

// Writes the decimal digits of value backwards, ending before end, at least count of them
// (leading zeros); returns where they start.
template <class Unsigned>
char* DigitsBackwards(char* end, Unsigned value, int count) {
    while (count >= 2 || value >= 10) {
        const auto pair = static_cast<std::size_t>(value % 100) * 2;
        value /= 100;
        end -= 2;
        end[0] = kPairs[pair];
        end[1] = kPairs[pair + 1];
        count -= 2;
    }
    if (count >= 1 || value != 0) *--end = static_cast<char>('0' + value % 10);
    return end;
}

constexpr std::uint64_t Power10(int n) { return n == 0 ? 1 : 10 * Power10(n - 1); }

// Fixed-point text by integer arithmetic, the same as printf's correctly rounded text, laid out
// backwards so that it ends at the buffer's end (the divisions by powers of ten are by
// constants, hence the template); empty when the value is too large, or so close to a rounding
// tie that the scaled product cannot tell.
template <int Decimals>
std::string_view FastFixedText(std::array<char, kFastText>& buffer, double value) {
    constexpr auto kPower = Power10(Decimals);
    constexpr auto kScale = static_cast<double>(kPower);
    const double magnitude = std::fabs(value);
    const double scaled = magnitude * kScale;  // one rounding: within half an ulp
    if (!(scaled < 0x1p52)) return {};
    // Truncation is the floor here (not negative) and exact below 2^52.
    const auto truncated = static_cast<std::uint64_t>(static_cast<std::int64_t>(scaled));
    const double fraction = scaled - static_cast<double>(truncated);  // exact below 2^52
    // The product is off by at most half an ulp (at most scaled * 2^-53); only a tie closer
    // than that is ambiguous.
    if (std::fabs(fraction - 0.5) <= scaled * 0x1p-50) return {};
    const std::uint64_t units = truncated + (fraction > 0.5 ? 1 : 0);
    const std::uint64_t integer = units / kPower;

    char* const end = buffer.data() + buffer.size();
    char* out = end;
    if constexpr (Decimals > 0) {
        const std::uint64_t rest = units % kPower;
        // Below 10^9 the 32-bit division is the cheaper one.
        if constexpr (Decimals <= 9)
            out = DigitsBackwards(out, static_cast<std::uint32_t>(rest), Decimals);
        else
            out = DigitsBackwards(out, rest, Decimals);
        *--out = '.';
    }
    out = integer <= UINT32_MAX ? DigitsBackwards(out, static_cast<std::uint32_t>(integer), 1)
                                : DigitsBackwards(out, integer, 1);
    if (std::signbit(value)) *--out = '-';
    return {out, static_cast<std::size_t>(end - out)};
}

std::string_view FastFixedText(std::array<char, kFastText>& buffer, double value, int decimals) {
    switch (decimals) {
    case 0: return FastFixedText<0>(buffer, value);
    case 1: return FastFixedText<1>(buffer, value);
    case 2: return FastFixedText<2>(buffer, value);
    case 3: return FastFixedText<3>(buffer, value);
    case 4: return FastFixedText<4>(buffer, value);
    case 5: return FastFixedText<5>(buffer, value);
    case 6: return FastFixedText<6>(buffer, value);
    case 7: return FastFixedText<7>(buffer, value);
    case 8: return FastFixedText<8>(buffer, value);
    case 9: return FastFixedText<9>(buffer, value);
    case 10: return FastFixedText<10>(buffer, value);
    default: return {};
    }
}

}  // namespace

void TextBuffer::Grow(std::size_t count) {
    std::size_t capacity = std::max<std::size_t>(capacity_ * 2, 4096);
    while (capacity - size_ < count + kSlack) capacity *= 2;
    auto data = std::make_unique_for_overwrite<char[]>(capacity);
    if (size_ > 0) std::memcpy(data.get(), data_.get(), size_);
    data_ = std::move(data);
    capacity_ = capacity;
}

TextBuffer& TextBuffer::Digits(std::string_view digits, std::size_t width, bool cut) {
    const std::size_t shown = cut ? std::min(digits.size(), width) : digits.size();
    const std::size_t pad = digits.size() < width ? width - digits.size() : 0;
    char* out = Room(pad + shown);
    if (pad > 0) std::memset(out, ' ', pad);
    CopyShort(out + pad, digits.data(), shown);
    size_ += pad + shown;
    return *this;
}

TextBuffer& TextBuffer::Fixed(double value, int decimals, std::size_t width) {
    return Number(value, decimals, width, false);
}

TextBuffer& TextBuffer::FixedCut(double value, int decimals, std::size_t width) {
    return Number(value, decimals, width, true);
}

TextBuffer& TextBuffer::Number(double value, int decimals, std::size_t width, bool cut) {
    std::array<char, kFastText> fast;
    std::memset(fast.data(), ' ', fast.size());
    if (std::string_view digits = FastFixedText(fast, value, decimals); !digits.empty()) {
        // The text ends the blanked buffer: a field it fits is the buffer's last width characters.
        if (digits.size() <= width && width <= fast.size()) {
            CopyShort(Room(width), fast.data() + fast.size() - width, width);
            size_ += width;
            return *this;
        }
        return Digits(digits, width, cut);
    }
    std::array<char, kNumberText> buffer;
    const char* end = cartovane::text::WriteFixed(buffer.data(), buffer.data() + buffer.size(), value, decimals);
    if (!end) return Digits("*", width, cut);
    return Digits({buffer.data(), static_cast<std::size_t>(end - buffer.data())}, width, cut);
}

TextBuffer& TextBuffer::Int(long long value) {
    char* out = Room(24);
    size_ += static_cast<std::size_t>(cartovane::text::WriteNumber(out, out + 24, value) - out);
    return *this;
}

TextBuffer& TextBuffer::Fraction(const xxRational& charge) {
    if (charge.numerator == 0) return Char('0');
    // The numerator's magnitude may be 2^31, which int cannot hold.
    long long numerator = std::llabs(static_cast<long long>(charge.numerator));
    Int(numerator);
    if (charge.denominator != 1) Char('/').Int(charge.denominator);
    return Char(charge.numerator >= 1 ? '+' : '-');
}

std::string FormatFixed(double value, int decimals, std::size_t width) {
    TextBuffer text;
    text.FixedCut(value, decimals, width);
    return std::string(text.View());
}

std::string FormatFraction(const xxRational& charge) {
    if (charge.numerator == 0) return "0";
    std::string numerator = std::to_string(std::llabs(static_cast<long long>(charge.numerator)));
    std::string_view sign = charge.numerator >= 1 ? "+" : "-";
    if (charge.denominator == 1) return Cfx::CfxFormat("%1%2", {numerator, sign});
    return Cfx::CfxFormat("%1/%2%3", {numerator, std::to_string(charge.denominator), sign});
}

std::string DateText(const std::tm& time) {
    static constexpr const char* kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                              "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    auto pick = [](const char* const* names, int count, int i) { return i >= 0 && i < count ? names[i] : "???"; };
    auto two = [](std::string& out, int v, char pad) {
        if (v >= 0 && v < 10) {
            out.push_back(pad);
            out.push_back(static_cast<char>('0' + v));
        } else {
            out.append(std::to_string(v));
        }
    };
    std::string out;
    out.reserve(24);
    out.append(pick(kDays, 7, time.tm_wday)).push_back(' ');
    out.append(pick(kMonths, 12, time.tm_mon));
    // ctime pads the day of the month with a blank, the clock fields with zeros.
    out.push_back(' ');
    two(out, time.tm_mday, ' ');
    out.push_back(' ');
    two(out, time.tm_hour, '0');
    out.push_back(':');
    two(out, time.tm_min, '0');
    out.push_back(':');
    two(out, time.tm_sec, '0');
    out.push_back(' ');
    out.append(std::to_string(static_cast<long long>(time.tm_year) + 1900));
    return out;
}

std::string CellLine3d(double a, double b, double c, double alpha, double beta, double gamma,
                       std::string_view groupName) {
    TextBuffer text;
    text.Text("PBC");
    for (double v : {a, b, c, alpha, beta, gamma}) text.Fixed(v, 4, 10);
    text.Text(" (").Text(groupName).Char(')');
    return std::string(text.View());
}

std::string CellLine2d(double a, double b, double gamma, std::string_view groupName) {
    TextBuffer text;
    text.Text("PBC ");
    for (double v : {a, b, gamma}) text.Fixed(v, 4, 10);
    text.Char('(').Text(groupName).Char(')');
    return std::string(text.View());
}

}  // namespace cartovane::carmdf
