#include "formats/carmdf/carmdf_text.h"

#include <array>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdlib>

#include "cfx/cfx.h"

namespace cartovane::carmdf {
namespace {

// Wide enough for the fixed-point text of any double with the decimals written here.
constexpr std::size_t kNumberText = 400;

// Fixed-point text by integer arithmetic, the same as printf's correctly rounded text; empty when
// the value is too large, or so close to a rounding tie that the scaled product cannot tell.
std::string_view FastFixedText(std::array<char, kNumberText>& buffer, double value, int decimals) {
    static constexpr double kScale[] = {1, 1e1, 1e2, 1e3, 1e4, 1e5, 1e6, 1e7, 1e8, 1e9, 1e10};
    static constexpr std::uint64_t kPower[] = {1,      10,      100,      1000,      10000,      100000,
                                               1000000, 10000000, 100000000, 1000000000, 10000000000};
    if (decimals < 0 || decimals > 10) return {};
    const double magnitude = std::fabs(value);
    const double scaled = magnitude * kScale[decimals];  // one rounding: within half an ulp
    if (!(scaled < 0x1p52)) return {};
    const double whole = std::floor(scaled);
    const double fraction = scaled - whole;  // exact below 2^52
    // The product is off by at most half an ulp (at most scaled * 2^-53); only a tie closer
    // than that is ambiguous.
    if (std::fabs(fraction - 0.5) <= scaled * 0x1p-50) return {};
    const std::uint64_t units = static_cast<std::uint64_t>(whole) + (fraction > 0.5 ? 1 : 0);
    const std::uint64_t integer = units / kPower[decimals];
    std::uint64_t rest = units % kPower[decimals];

    char* out = buffer.data();
    if (std::signbit(value)) *out++ = '-';
    auto [end, ec] = std::to_chars(out, buffer.data() + buffer.size(), integer);
    out = end;
    if (decimals > 0) {
        *out++ = '.';
        for (int i = decimals; i-- > 0;) {
            out[i] = static_cast<char>('0' + rest % 10);
            rest /= 10;
        }
        out += decimals;
    }
    return {buffer.data(), static_cast<std::size_t>(out - buffer.data())};
}

std::string_view FixedText(std::array<char, kNumberText>& buffer, double value, int decimals) {
    if (std::string_view fast = FastFixedText(buffer, value, decimals); !fast.empty()) return fast;
    auto [end, ec] = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value, std::chars_format::fixed,
                                   decimals);
    if (ec != std::errc{}) return "*";
    return {buffer.data(), static_cast<std::size_t>(end - buffer.data())};
}

}  // namespace

TextBuffer& TextBuffer::Left(std::string_view text, std::size_t width) {
    text_.append(text);
    if (text.size() < width) text_.append(width - text.size(), ' ');
    return *this;
}

TextBuffer& TextBuffer::Fixed(double value, int decimals, std::size_t width) {
    std::array<char, kNumberText> buffer;
    std::string_view digits = FixedText(buffer, value, decimals);
    if (digits.size() < width) text_.append(width - digits.size(), ' ');
    text_.append(digits);
    return *this;
}

TextBuffer& TextBuffer::FixedCut(double value, int decimals, std::size_t width) {
    std::array<char, kNumberText> buffer;
    std::string_view digits = FixedText(buffer, value, decimals);
    if (digits.size() < width) text_.append(width - digits.size(), ' ');
    text_.append(digits.substr(0, width));
    return *this;
}

TextBuffer& TextBuffer::Int(long long value) {
    std::array<char, 24> buffer;
    auto [end, ec] = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value);
    text_.append(buffer.data(), static_cast<std::size_t>(end - buffer.data()));
    return *this;
}

TextBuffer& TextBuffer::Fraction(const xxRational& charge) {
    if (charge.numerator == 0) {
        text_.push_back('0');
        return *this;
    }
    // The numerator's magnitude may be 2^31, which int cannot hold.
    long long numerator = std::llabs(static_cast<long long>(charge.numerator));
    Int(numerator);
    if (charge.denominator != 1) text_.push_back('/'), Int(charge.denominator);
    text_.push_back(charge.numerator >= 1 ? '+' : '-');
    return *this;
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
