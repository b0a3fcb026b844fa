// Fixed-width text fields of CAR and MDF lines, written without the locale into a buffer that
// is reused line after line (it grows to the longest text held and then allocates no more).
// The field calls sit on the writer's per-atom path, so the short ones are inline and each
// writes straight into the buffer after one room check.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <ctime>
#include <memory>
#include <string>
#include <string_view>

#include "datamodel/geometry.h"

namespace cartovane::carmdf {

class TextBuffer {
public:
    void Clear() { size_ = 0; }
    std::size_t Size() const { return size_; }
    std::string_view View() const { return {data_.get(), size_}; }

    TextBuffer& Text(std::string_view text) {
        CopyShort(Room(text.size()), text.data(), text.size());
        size_ += text.size();
        return *this;
    }
    TextBuffer& Char(char c) {
        *Room(1) = c;
        ++size_;
        return *this;
    }
    TextBuffer& Char(char c, std::size_t count) {
        char* out = Room(count);
        std::memset(out, c, count);
        size_ += count;
        return *this;
    }
    // Padded with blanks on the right to width; longer text is kept whole.
    TextBuffer& Left(std::string_view text, std::size_t width) {
        const std::size_t size = std::max(text.size(), width);
        char* out = Room(size);
        // The room always reaches kSlack past what was asked: blank a whole short field at once.
        if (width <= kSlack)
            std::memset(out, ' ', kSlack);
        else
            std::memset(out + text.size(), ' ', size - text.size());
        CopyShort(out, text.data(), text.size());
        size_ += size;
        return *this;
    }
    // Fixed-point with the decimals, padded on the left to width; a longer text is kept whole.
    TextBuffer& Fixed(double value, int decimals, std::size_t width);
    // As Fixed, then cut to width: a value too wide for its field loses its last characters.
    TextBuffer& FixedCut(double value, int decimals, std::size_t width);
    TextBuffer& Int(long long value);
    // A formal charge: "0", or the absolute numerator, "/" and the denominator unless it is 1,
    // and the sign.
    TextBuffer& Fraction(const xxRational& charge);
    TextBuffer& EndLine(bool crlf) {
        char* out = Room(2);
        if (crlf) *out++ = '\r', ++size_;
        *out = '\n';
        ++size_;
        return *this;
    }

private:
    static constexpr std::size_t kSlack = 16;

    // memcpy for the few characters of a field, in fixed-size pieces the compiler keeps inline.
    static void CopyShort(char* out, const char* in, std::size_t count) {
        if (count >= 8) {
            if (count > 32) {
                std::memcpy(out, in, count);
            } else if (count > 16) {
                std::memcpy(out, in, 16);
                std::memcpy(out + count - 16, in + count - 16, 16);
            } else {
                std::memcpy(out, in, 8);
                std::memcpy(out + count - 8, in + count - 8, 8);
            }
        } else if (count >= 4) {
            std::memcpy(out, in, 4);
            std::memcpy(out + count - 4, in + count - 4, 4);
        } else if (count > 0) {
            out[0] = in[0];
            out[count / 2] = in[count / 2];
            out[count - 1] = in[count - 1];
        }
    }

    // Where count more characters go; kSlack characters beyond them may be scribbled on.
    char* Room(std::size_t count) {
        if (capacity_ - size_ < count + kSlack) Grow(count);
        return data_.get() + size_;
    }
    void Grow(std::size_t count);
    TextBuffer& Digits(std::string_view digits, std::size_t width, bool cut);
    TextBuffer& Number(double value, int decimals, std::size_t width, bool cut);

    std::unique_ptr<char[]> data_;
    std::size_t size_ = 0;
    std::size_t capacity_ = 0;
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
