// Fixed-width text fields of CAR and MDF lines, written without the locale into a buffer that
// is reused line after line (it grows to the longest line and then allocates no more).
#pragma once

#include <cstddef>
#include <ctime>
#include <string>
#include <string_view>

#include "datamodel/geometry.h"

namespace cartovane::carmdf {

class TextBuffer {
public:
    void Clear() { text_.clear(); }
    std::size_t Size() const { return text_.size(); }
    std::string_view View() const { return text_; }

    TextBuffer& Text(std::string_view text) {
        text_.append(text);
        return *this;
    }
    TextBuffer& Char(char c, std::size_t count = 1) {
        text_.append(count, c);
        return *this;
    }
    // Padded with blanks on the right to width; longer text is kept whole.
    TextBuffer& Left(std::string_view text, std::size_t width);
    // Fixed-point with the decimals, padded on the left to width; a longer text is kept whole.
    TextBuffer& Fixed(double value, int decimals, std::size_t width);
    // As Fixed, then cut to width: a value too wide for its field loses its last characters.
    TextBuffer& FixedCut(double value, int decimals, std::size_t width);
    TextBuffer& Int(long long value);
    // A formal charge: "0", or the absolute numerator, "/" and the denominator unless it is 1,
    // and the sign.
    TextBuffer& Fraction(const xxRational& charge);
    TextBuffer& EndLine(bool crlf) {
        if (crlf) text_.push_back('\r');
        text_.push_back('\n');
        return *this;
    }

private:
    std::string text_;
};

// Fixed-point with the decimals, right-justified in width and cut to width.
std::string FormatFixed(double value, int decimals, std::size_t width);

// The formal-charge text of a fraction ("0", "2-", "1/3+").
std::string FormatFraction(const xxRational& charge);

// The date as the C library's ctime lays it out, without its line feed:
// "Thu Dec 10 13:36:50 2026" (24 characters for four-digit years).
std::string DateText(const std::tm& time);

// The cell line of a periodic CAR file; lengths in the model's unit, angles in degrees.
std::string CellLine3d(double a, double b, double c, double alpha, double beta, double gamma,
                       std::string_view groupName);
std::string CellLine2d(double a, double b, double gamma, std::string_view groupName);

}  // namespace cartovane::carmdf
