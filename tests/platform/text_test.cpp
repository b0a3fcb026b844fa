// The shared text layer: scans against what the C conversions give, whole-text numbers, number
// texts, rounding, and the ASCII, trimming and splitting helpers.
#include "base/text.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

namespace tx = cartovane::text;

namespace {

TEST(TextScan, RealsAsStrtodReadsThem) {
    const double inf = std::numeric_limits<double>::infinity();
    struct Case {
        std::string_view text;
        tx::Conversion conversion;
        double value;  // NaN: any NaN
        std::size_t end;
    };
    const double nan = std::nan("");
    const Case cases[] = {
        {"  1.5", tx::Conversion::Finite, 1.5, 5},
        {"+2", tx::Conversion::Finite, 2, 2},
        {"-.5e1x", tx::Conversion::Finite, -5, 5},
        {"1e", tx::Conversion::Finite, 1, 1},                // an exponent mark without digits stays
        {"0x1p3", tx::Conversion::Finite, 8, 5},             // hexadecimal floats
        {"-0X1.8p1", tx::Conversion::Finite, -3, 8},
        {"0x10", tx::Conversion::Finite, 16, 4},
        {"0xg", tx::Conversion::Finite, 0, 1},               // "0" and no hexadecimal digits
        {"1e-999", tx::Conversion::Finite, 0, 6},            // too small: zero
        {"0x1p-99999", tx::Conversion::Finite, 0, 10},
        {"1e999", tx::Conversion::NotFinite, inf, 5},        // too large: infinity
        {"-1e999", tx::Conversion::NotFinite, -inf, 6},
        {"0.0000001e999", tx::Conversion::NotFinite, inf, 13},
        {"100000e-999", tx::Conversion::Finite, 0, 11},
        {"inf", tx::Conversion::NotFinite, inf, 3},
        {"-Infinity", tx::Conversion::NotFinite, -inf, 9},
        {"nan", tx::Conversion::NotFinite, nan, 3},
        {"NaN(1)", tx::Conversion::NotFinite, nan, 6},
        {"+-1", tx::Conversion::None, 0, 0},
        {"--1", tx::Conversion::None, 0, 0},
        {"abc", tx::Conversion::None, 0, 0},
        {"", tx::Conversion::None, 0, 0},
        {" \t\r\n", tx::Conversion::None, 0, 0},
        {"-", tx::Conversion::None, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        std::size_t pos = 0;
        double v = -7;
        EXPECT_EQ(tx::ScanReal(c.text, pos, v), c.conversion);
        EXPECT_EQ(pos, c.end);
        if (c.conversion == tx::Conversion::None) EXPECT_EQ(v, -7);
        else if (std::isnan(c.value)) EXPECT_TRUE(std::isnan(v));
        else EXPECT_EQ(v, c.value);

        // The finite-only scans take exactly the finite ones and leave pos otherwise.
        std::size_t finitePos = 0;
        double d = -7;
        EXPECT_EQ(tx::ScanDouble(c.text, finitePos, d), c.conversion == tx::Conversion::Finite);
        EXPECT_EQ(finitePos, c.conversion == tx::Conversion::Finite ? c.end : 0u);
    }
    // "%f" overflows at float's range, not double's.
    std::size_t pos = 0;
    float f = 0;
    EXPECT_EQ(tx::ScanReal(std::string_view("1e39"), pos, f), tx::Conversion::NotFinite);
    pos = 0;
    EXPECT_FALSE(tx::ScanFloat("1e39", pos, f));
    EXPECT_TRUE(tx::ScanFloat(" -0.82", pos, f));
    EXPECT_EQ(f, -0.82f);
}

TEST(TextScan, StringsAndIntegers) {
    std::size_t pos = 0;
    const std::string_view line = "  O1     WATER\tx";
    EXPECT_EQ(tx::ScanString(line, pos, 5), std::optional<std::string_view>("O1"));
    EXPECT_EQ(tx::ScanString(line, pos, 3), std::optional<std::string_view>("WAT"));  // "%3s" stops at 3
    EXPECT_EQ(tx::ScanString(line, pos), std::optional<std::string_view>("ER"));
    EXPECT_EQ(tx::ScanString(line, pos), std::optional<std::string_view>("x"));
    EXPECT_EQ(tx::ScanString(line, pos), std::nullopt);
    EXPECT_EQ(pos, line.size());

    struct IntCase {
        std::string_view text;
        bool converts;
        int value;
    };
    for (const IntCase& c : {IntCase{"1.0", true, 1}, IntCase{" +12", true, 12}, IntCase{"-3x", true, -3},
                             IntCase{"+-1", false, 0}, IntCase{"+", false, 0}, IntCase{"99999999999", false, 0},
                             IntCase{"", false, 0}}) {
        std::size_t p = 0;
        int i = -7;
        EXPECT_EQ(tx::ScanInt(c.text, p, i), c.converts) << c.text;
        EXPECT_EQ(i, c.converts ? c.value : -7) << c.text;
    }
    struct UnsignedCase {
        std::string_view text;
        std::size_t width;
        bool converts;
        unsigned value;
        std::size_t end;
    };
    for (const UnsignedCase& c : {UnsignedCase{"123", 2, true, 12, 2}, UnsignedCase{" +7", 2, true, 7, 3},
                                  UnsignedCase{"+12", 2, true, 1, 2}, UnsignedCase{"-1", 2, false, 0, 0},
                                  UnsignedCase{"99999999999", 20, false, 0, 0}, UnsignedCase{"x", 2, false, 0, 0}}) {
        std::size_t p = 0;
        unsigned u = 77;
        EXPECT_EQ(tx::ScanUnsigned(c.text, p, c.width, u), c.converts) << c.text;
        EXPECT_EQ(u, c.converts ? c.value : 77u) << c.text;
        EXPECT_EQ(p, c.end) << c.text;
    }
}

TEST(TextNumbers, WholeTextsAndAtoiTexts) {
    struct Case {
        std::string_view text;
        std::errc ec;
        double value;
    };
    for (const Case& c : {Case{"1.25", std::errc{}, 1.25}, Case{"-3", std::errc{}, -3}, Case{"1e3", std::errc{}, 1000},
                          Case{"+1", std::errc::invalid_argument, 0}, Case{" 1", std::errc::invalid_argument, 0},
                          Case{"1 ", std::errc::invalid_argument, 0}, Case{"", std::errc::invalid_argument, 0},
                          Case{"1e999", std::errc::result_out_of_range, 0}}) {
        double v = -7;
        EXPECT_EQ(tx::ParseExact(c.text, v), c.ec) << c.text;
        EXPECT_EQ(v, c.ec == std::errc{} ? c.value : -7) << c.text;
    }
    int i = 0;
    EXPECT_EQ(tx::ParseExact("2147483648", i), std::errc::result_out_of_range);
    EXPECT_EQ(tx::ParseExact("1.5", i), std::errc::invalid_argument);

    struct AtoiCase {
        const char* text;
        std::optional<std::int64_t> value;
    };
    const AtoiCase atoi[] = {
        {"7", 7},           {"  +12x", 12},        {"-3", -3},       {"7abc", 7},
        {"abc", 0},         {"", 0},               {"\v\f\r-4", -4}, {"2147483647", 2147483647},
        {"-2147483648", -2147483647 - 1},          {"2147483648", std::nullopt},
        {"4294967297", std::nullopt},              {"99999999999999999999999", std::nullopt},
    };
    for (const AtoiCase& c : atoi) EXPECT_EQ(tx::LeadingInteger(c.text), c.value) << c.text;
}

TEST(TextNumbers, GeneralNotationAsPercentG) {
    struct Case {
        double value;
        int precision;
        const char* text;
    } cases[] = {
        {0.1f, 13, "0.1000000014901"},  // a float widened
        {-0.82f, 13, "-0.8199999928474"},
        {1.0 / 3, 13, "0.3333333333333"},
        {10, 13, "10"},
        {0.05, 13, "0.05"},
        {1e-20, 13, "1e-20"},
        {123456789012345.0, 13, "1.234567890123e+14"},
        {1e12, 13, "1000000000000"},
        {1e13, 13, "1e+13"},
        {-0.0, 13, "-0"},
        {0.0001, 13, "0.0001"},
        {0.00001, 13, "1e-05"},
        {2.5, 1, "2"},
    };
    for (const Case& c : cases) {
        char buffer[tx::kNumberTextSize];
        char* end = tx::WriteGeneral(buffer, buffer + sizeof buffer, c.value, c.precision);
        ASSERT_NE(end, nullptr) << c.text;
        EXPECT_EQ(std::string(buffer, end), c.text);
    }
    char small[3];
    EXPECT_EQ(tx::WriteGeneral(small, small + sizeof small, 1.0 / 3, 13), nullptr);
}

// Values whose shortest digits are few are laid out from them: the text must stay what %g
// makes of every value, at every precision, in both notations and at the edges of the normal
// range.
TEST(TextNumbers, GeneralNotationMatchesPrintf) {
    std::vector<double> values = {1e-5, 1e-4, 9.99999999999995e-5, 1e12, 9999999999999.0, 99999999999995.0,
                                  0.5, 1.5e15, 1e16, 1e100, -1e-100, 1e308, 2.2250738585072014e-308,
                                  4.9e-324, 1e-310, 123.456, -7.25e-3, 0.1 + 0.2};
    std::uint64_t state = 12345;
    auto next = [&] {
        state = state * 6364136223846793005ull + 1442695040888963407ull;
        return state >> 11;
    };
    for (int i = 0; i < 20000; ++i) {
        const double scale = std::pow(10.0, static_cast<int>(next() % 40) - 20);
        values.push_back(static_cast<double>(next() % 100000) / 1000.0 * scale);                         // short digits
        values.push_back(static_cast<double>(static_cast<float>(static_cast<double>(next() % 100000) * scale)));  // widened floats
        values.push_back(std::ldexp(static_cast<double>(next()), static_cast<int>(next() % 400) - 250));       // any digits
    }
    for (double v : values)
        for (int precision : {1, 6, 13, 15, 16, 17}) {
            char expected[64];
            std::snprintf(expected, sizeof expected, "%.*g", precision, v);
            char buffer[tx::kNumberTextSize];
            char* end = tx::WriteGeneral(buffer, buffer + sizeof buffer, v, precision);
            ASSERT_NE(end, nullptr) << expected;
            ASSERT_EQ(std::string(buffer, end), expected) << "precision " << precision;
        }
}

TEST(TextNumbers, ShortestAndFixedTexts) {
    EXPECT_EQ(tx::NumberText(0.1), "0.1");
    EXPECT_EQ(tx::NumberText(1e300), "1e+300");
    EXPECT_EQ(tx::NumberText(-2.5), "-2.5");
    EXPECT_EQ(tx::NumberText(1.0 / 3.0), "0.3333333333333333");
    EXPECT_EQ(tx::NumberText(std::numeric_limits<double>::infinity()), "inf");
    EXPECT_EQ(tx::NumberText(-1234567), "-1234567");
    EXPECT_EQ(tx::NumberText(std::numeric_limits<std::int64_t>::min()), "-9223372036854775808");
    EXPECT_EQ(tx::NumberText(4294967295u), "4294967295");
    for (double v : {0.1, 1.0 / 3.0, -1e-310, 6.02214076e23, std::numeric_limits<double>::max()}) {
        double back = 0;
        EXPECT_EQ(tx::ParseExact(tx::NumberText(v), back), std::errc{});
        EXPECT_EQ(back, v);
    }
    EXPECT_EQ(tx::FixedText(1.5, 4), "1.5000");
    EXPECT_EQ(tx::FixedText(-0.0004, 3), "-0.000");
    EXPECT_EQ(tx::FixedText(2.5, 0), "2");  // as "%.0f": the nearest, ties to even
    EXPECT_EQ(tx::FixedText(1e20, 1), "100000000000000000000.0");
    EXPECT_EQ(tx::FixedText(-1.7976931348623157e308, 2).size(), 313u);  // a sign, 309 digits, ".00"

    char small[4];
    EXPECT_EQ(tx::WriteFixed(small, small + sizeof small, 12.5, 2), nullptr);  // "12.50" needs 5
    char* end = tx::WriteNumber(small, small + sizeof small, 123);
    ASSERT_NE(end, nullptr);
    EXPECT_EQ(std::string(small, end), "123");
}

TEST(TextNumbers, RoundHalfAwayFromZero) {
    struct Case {
        double x;
        int rounded;
    };
    const double inf = std::numeric_limits<double>::infinity();
    for (const Case& c : {Case{0.0, 0}, Case{-0.0, 0}, Case{2.5, 3}, Case{-2.5, -3}, Case{0.49999, 0},
                          Case{-0.5, -1}, Case{1.5, 2}, Case{-1.4, -1}, Case{2147483646.6, INT_MAX},
                          Case{-2147483647.6, INT_MIN},
                          // where the cast would be undefined: saturated
                          Case{2147483647.5, INT_MAX}, Case{3e9, INT_MAX}, Case{inf, INT_MAX},
                          Case{-2147483648.5, INT_MIN}, Case{-1e300, INT_MIN}, Case{-inf, INT_MIN}})
        EXPECT_EQ(tx::RoundHalfAwayFromZero(c.x), c.rounded) << c.x;
    EXPECT_EQ(tx::RoundHalfAwayFromZero(std::nan("")), 0);
    static_assert(tx::RoundHalfAwayFromZero(-2.5) == -3);
}

TEST(TextAscii, CaseAndSpaceIgnoreTheLocale) {
    EXPECT_TRUE(tx::EqualsNoCase("PbC=oN", "pbc=ON"));
    EXPECT_FALSE(tx::EqualsNoCase("pbc", "pbc="));
    EXPECT_FALSE(tx::EqualsNoCase("\xc9", "\xe9"));  // no letters beyond ASCII
    EXPECT_TRUE(tx::StartsWithNoCase("PBC=2D extra", "pbc=2d"));
    EXPECT_FALSE(tx::StartsWithNoCase("PBC", "pbc=2d"));
    EXPECT_EQ(tx::ToLower("AbC-\xc9z"), "abc-\xc9z");
    EXPECT_EQ(tx::ToUpper("xyz_1"), "XYZ_1");
    for (char c : std::string_view(" \t\n\v\f\r")) EXPECT_TRUE(tx::IsScanSpace(c)) << int(c);
    for (char c : std::string_view("a\xa0\x85")) EXPECT_FALSE(tx::IsScanSpace(c)) << int(c);
    EXPECT_TRUE(tx::IsBlankLine(""));
    EXPECT_TRUE(tx::IsBlankLine(" \t\n"));
    EXPECT_FALSE(tx::IsBlankLine(" \r"));  // a CR is no blank
}

TEST(TextSplit, TokensFieldsAndTrimming) {
    auto all = [](tx::Tokens t) {
        std::vector<std::string_view> out;
        while (auto token = t.Next()) out.push_back(*token);
        return out;
    };
    using Views = std::vector<std::string_view>;
    EXPECT_EQ(all(tx::Tokens("  a b\t c\n", tx::Tokens::kBlanks)), (Views{"a", "b\t", "c\n"}));
    EXPECT_EQ(all(tx::Tokens("  a b\t c\n", tx::Tokens::kWhiteSpace)), (Views{"a", "b", "c"}));
    EXPECT_EQ(all(tx::Tokens("", tx::Tokens::kBlanks)), Views{});
    tx::Tokens rest("name  x y", tx::Tokens::kBlanks);
    rest.Next();
    EXPECT_EQ(rest.Rest(), "  x y");

    EXPECT_EQ(tx::SplitFields(" a , b,,c ", ','), (Views{"a", "b", "", "c"}));
    EXPECT_EQ(tx::SplitFields("", ','), (Views{""}));
    EXPECT_EQ(tx::TrimBlanks("\t x y \t"), "x y");
    EXPECT_EQ(tx::TrimBlanks(" \t "), "");
}

}  // namespace
