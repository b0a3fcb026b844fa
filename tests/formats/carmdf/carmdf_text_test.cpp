// Field formatting of CAR and MDF lines: widths, cutting, fraction texts, dates, cell lines.
#include "formats/carmdf/carmdf_text.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

namespace {

using cartovane::carmdf::CellLine2d;
using cartovane::carmdf::CellLine3d;
using cartovane::carmdf::DateText;
using cartovane::carmdf::FormatFixed;
using cartovane::carmdf::FormatFraction;
using cartovane::carmdf::TextBuffer;

struct FixedCase {
    double value;
    int decimals;
    std::size_t width;
    const char* text;
};

TEST(CarMdfText, FormatFixedPadsAndCutsToTheWidth) {
    const FixedCase cases[] = {
        {1.0, 9, 14, "   1.000000000"},
        {-2.5, 9, 14, "  -2.500000000"},
        {9999.999999999, 9, 14, "9999.999999999"},
        // Too wide for the field: the last characters go.
        {10000.0, 9, 14, "10000.00000000"},
        {-10000.125, 9, 14, "-10000.1250000"},
        {123456789.0, 9, 14, "123456789.0000"},
        {0.0000000004, 9, 14, "   0.000000000"},
        {-0.0000000004, 9, 14, "  -0.000000000"},  // as printf rounds it
        {0.5, 3, 6, " 0.500"},
    };
    for (const auto& c : cases) EXPECT_EQ(FormatFixed(c.value, c.decimals, c.width), c.text) << c.value;
}

TEST(CarMdfText, FixedTextIsPrintfText) {
    // printf in the C locale is the reference: random magnitudes, values on and next to
    // rounding ties, and the extremes.
    std::mt19937_64 random(12345);
    std::uniform_real_distribution<double> unit(-1, 1);
    std::vector<double> values = {0.0, -0.0, 0.5, 1.5, 2.5, 0.125, 0.0625, -0.0005, 0.0005, 1e15, -1e16, 1e300,
                                  5e-324, 4503599627370495.5, 123456.7890125};
    for (int i = 0; i < 50000; ++i) {
        double v = unit(random) * std::pow(10.0, static_cast<double>(i % 14) - 3);
        values.push_back(v);
        values.push_back(std::nextafter(v, 0.0));
        // Ties of the decimal grid.
        values.push_back(std::round(v * 1000) / 1000 + 0.0005);
    }
    char expected[512];
    for (double v : values) {
        for (int decimals : {1, 3, 4, 9}) {
            std::snprintf(expected, sizeof expected, "%.*f", decimals, v);
            TextBuffer text;
            text.Fixed(v, decimals, 0);
            ASSERT_EQ(text.View(), expected) << v << " with " << decimals;
        }
    }
}

TEST(CarMdfText, FixedKeepsWideNumbersWhole) {
    TextBuffer text;
    text.Fixed(-12.34567, 4, 7).Char('|').Fixed(123.0, 3, 6).Char('|').Fixed(1.5, 1, 0);
    EXPECT_EQ(text.View(), "-12.3457|123.000|1.5");
}

TEST(CarMdfText, LeftPadsShortTextAndKeepsLongText) {
    TextBuffer text;
    text.Left("WAT", 4).Char('|').Left("", 2).Char('|').Left("toolong", 4).Char('|');
    EXPECT_EQ(text.View(), "WAT |  |toolong|");
}

TEST(CarMdfText, FieldsOfEveryLengthAndWidthInAGrowingBuffer) {
    // Field writers copy short texts in pieces and blank ahead of them: every length on both
    // sides of those pieces, with the buffer growing under them many times.
    const std::string source = "abcdefghijklmnopqrstuvwxyz0123456789ABCDEFGHIJ";
    TextBuffer text;
    std::string expected;
    for (int round = 0; round < 40; ++round) {
        for (std::size_t length = 0; length <= 45; ++length) {
            const std::string piece = source.substr(0, length);
            text.Text(piece).Char('|');
            expected += piece + '|';
            for (std::size_t width : {0, 1, 5, 16, 17, 32, 33, 50}) {
                text.Left(piece, width).Char('|');
                expected += piece + std::string(width > length ? width - length : 0, ' ') + '|';
            }
        }
        for (double v : {0.0, -1.5, 123.456789, -98765.4321, 1e20, -1e300})
            for (std::size_t width : {0, 6, 14, 31, 32, 33, 40}) {
                char digits[512];
                std::snprintf(digits, sizeof digits, "%.4f", v);
                std::string field = digits;
                if (field.size() < width) field.insert(0, width - field.size(), ' ');
                text.Fixed(v, 4, width).Char('|');
                expected += field + '|';
                text.FixedCut(v, 4, width).Char('|');
                expected += field.substr(0, width) + '|';
            }
        text.EndLine(round % 2 == 0);
        expected += round % 2 == 0 ? "\r\n" : "\n";
    }
    ASSERT_EQ(text.Size(), expected.size());
    EXPECT_EQ(text.View(), expected);
    text.Clear();
    text.Left("x", 3);
    EXPECT_EQ(text.View(), "x  ");
}

TEST(CarMdfText, FormalChargeTexts) {
    struct Case {
        xxRational charge;
        const char* text;
    };
    const Case cases[] = {
        {{0, 1}, "0"},        {{1, 1}, "1+"},          {{-2, 1}, "2-"},
        {{1, 3}, "1/3+"},     {{-1, 3}, "1/3-"},       {{3, 2}, "3/2+"},
        {{-2147483647 - 1, 1}, "2147483648-"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(FormatFraction(c.charge), c.text);
        TextBuffer text;
        text.Fraction(c.charge);
        EXPECT_EQ(text.View(), c.text);
    }
}

TEST(CarMdfText, DatesAreLaidOutAsCtimeDoes) {
    std::tm t{};
    t.tm_year = 126;
    t.tm_mon = 11;
    t.tm_mday = 10;
    t.tm_hour = 8;
    t.tm_min = 5;
    t.tm_sec = 0;
    t.tm_wday = 4;
    EXPECT_EQ(DateText(t), "Thu Dec 10 08:05:00 2026");
    t.tm_mday = 1;
    t.tm_mon = 0;
    t.tm_wday = 0;
    t.tm_hour = 23;
    EXPECT_EQ(DateText(t), "Sun Jan  1 23:05:00 2026");
    // The same text the C library gives.
    std::tm probe = t;
    std::mktime(&probe);
    char buffer[32];
    ASSERT_NE(asctime_r(&probe, buffer), nullptr);
    EXPECT_EQ(DateText(probe) + "\n", buffer);
}

TEST(CarMdfText, CellLines) {
    EXPECT_EQ(CellLine3d(10, 11, 12.5, 90, 90, 120, "P1"),
              "PBC   10.0000   11.0000   12.5000   90.0000   90.0000  120.0000 (P1)");
    EXPECT_EQ(CellLine3d(5, 5, 5, 90, 90, 90, "unknown"),
              "PBC    5.0000    5.0000    5.0000   90.0000   90.0000   90.0000 (unknown)");
    EXPECT_EQ(CellLine2d(4.2, 5, 90, "p2mg"), "PBC     4.2000    5.0000   90.0000(p2mg)");
}

}  // namespace
