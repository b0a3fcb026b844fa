#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "datamodel/value_types.h"

namespace {

template <class F>
void ExpectRoundTrip(F value) {
    std::string text = ToString(value);
    F back{};
    FromString(text, back);
    if (std::isnan(value)) {
        EXPECT_TRUE(std::isnan(back)) << text;
        EXPECT_EQ(std::signbit(value), std::signbit(back)) << text;
    } else {
        using Bits = std::conditional_t<sizeof(F) == 4, std::uint32_t, std::uint64_t>;
        EXPECT_EQ(std::bit_cast<Bits>(value), std::bit_cast<Bits>(back)) << text;
    }
}

TEST(ValueTypes, FloatsAndDoublesReadBackExactly) {
    using FL = std::numeric_limits<float>;
    using DL = std::numeric_limits<double>;
    for (float f : {0.1f, 1.0f / 3, -0.0f, FL::min(), FL::denorm_min(), FL::max(), -FL::max(), FL::infinity(),
                    -FL::infinity(), FL::quiet_NaN(), -FL::quiet_NaN(), 16777217.0f, 3.4028234e38f})
        ExpectRoundTrip(f);
    for (double d : {0.1, 1.0 / 3, -0.0, DL::min(), DL::denorm_min(), DL::max(), DL::infinity(), -DL::infinity(),
                     DL::quiet_NaN(), -DL::quiet_NaN(), 9007199254740993.0, 2.718281828459045})
        ExpectRoundTrip(d);
    // Shortest text, not a fixed number of digits.
    EXPECT_EQ(ToString(0.1), "0.1");
    EXPECT_EQ(ToString(0.1f), "0.1");
    EXPECT_EQ(ToString(1e300), "1e+300");
}

TEST(ValueTypes, TextsOfTheSmallTypes) {
    EXPECT_EQ(ToString(true), "1");
    EXPECT_EQ(ToString(false), "0");
    EXPECT_EQ(ToString(static_cast<unsigned char>(200)), "200");  // a number, not a character
    EXPECT_EQ(ToString(static_cast<short>(-32768)), "-32768");
    EXPECT_EQ(ToString(static_cast<unsigned short>(65535)), "65535");
    EXPECT_EQ(ToString(4294967295u), "4294967295");
    EXPECT_EQ(ToString(-2147483647 - 1), "-2147483648");
    EXPECT_EQ(ToString("a,b\\c"), "a,b\\c");  // strings pass through untouched
}

// A colour property's text is its packed 0xAARRGGBB in decimal.
TEST(ValueTypes, ColoursGoByTheirPackedNumber) {
    EXPECT_EQ(xxValueText::ToText(xxColor(0x12, 0x34, 0x56, 0x78)), "2014458966");
    xxColor c;
    ASSERT_TRUE(xxValueText::FromText("4278190335", c));
    EXPECT_EQ(c, xxColor(0, 0, 0xFF));
    for (const char* bad : {"", "-1", "4294967296", "0xFF", "12 "}) {
        xxColor kept(1, 2, 3, 4);
        EXPECT_FALSE(xxValueText::FromText(bad, kept)) << bad;
        EXPECT_EQ(kept, xxColor(1, 2, 3, 4)) << bad;
    }
}

struct BadText {
    const char* type;
    const char* text;
    const char* message;
};

template <class T>
void ExpectRefused(const BadText& c) {
    T value{};
    T before = value;
    try {
        FromString(c.text, value);
        ADD_FAILURE() << c.type << " accepted '" << c.text << "'";
    } catch (const FromStringException& e) {
        EXPECT_EQ(e.InvalidText(), c.text);
        EXPECT_EQ(e.Conversion(), c.type);
        EXPECT_EQ(e.Message(), c.message) << c.text;
        EXPECT_EQ(std::string(e.what()),
                  std::string("Unable to convert the value '") + c.text + "' for type " + c.type + ": Error: " + c.message);
    }
    EXPECT_EQ(value, before);
}

TEST(ValueTypes, UnconvertibleTextsAreRefusedWithTheirParts) {
    const BadText cases[] = {
        {"int", "", "not a number"},
        {"int", "1.5", "not a number"},
        {"int", " 1", "not a number"},
        {"int", "+1", "not a number"},
        {"int", "2147483648", "value out of range"},
        {"unsigned int", "-1", "not a number"},
        {"unsigned int", "4294967296", "value out of range"},
        {"unsigned char", "256", "value out of range"},
        {"short", "40000", "value out of range"},
        {"unsigned short", "1e3", "not a number"},
        {"double", "1,5", "not a number"},
        {"double", "1e999", "value out of range"},
        {"float", "1e39", "value out of range"},
        {"bool", "2", "not a truth value"},
        {"bool", "", "not a truth value"},
    };
    for (const BadText& c : cases) {
        std::string type = c.type;
        if (type == "int") ExpectRefused<int>(c);
        else if (type == "unsigned int") ExpectRefused<unsigned>(c);
        else if (type == "unsigned char") ExpectRefused<unsigned char>(c);
        else if (type == "short") ExpectRefused<short>(c);
        else if (type == "unsigned short") ExpectRefused<unsigned short>(c);
        else if (type == "double") ExpectRefused<double>(c);
        else if (type == "float") ExpectRefused<float>(c);
        else if (type == "bool") ExpectRefused<bool>(c);
    }
}

std::vector<std::string> Tokens(std::string_view text) {
    StrToken tokens(text, ',', '\\');
    std::vector<std::string> out;
    std::string item;
    while (tokens.Next(item)) out.push_back(item);
    return out;
}

TEST(ValueTypes, TokensSplitAtUnescapedSeparators) {
    struct Case {
        const char* text;
        std::vector<std::string> items;
        std::size_t separators;
    };
    const Case cases[] = {
        {"", {""}, 0},
        {"a", {"a"}, 0},
        {"a,b", {"a", "b"}, 1},
        {"a,,b,", {"a", "", "b", ""}, 3},
        {"a\\,b", {"a,b"}, 0},
        {"a\\\\,b", {"a\\", "b"}, 1},
        {"a\\", {"a\\"}, 0},
        {"\\x,y", {"x", "y"}, 1},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Tokens(c.text), c.items) << c.text;
        EXPECT_EQ(StrToken(c.text, ',', '\\').CountSeparators(), c.separators) << c.text;
    }
    for (std::string s : {"plain", "a,b", "back\\slash", "\\,\\", "end\\"})
        EXPECT_EQ(Tokens(EscapeToken(s, ',', '\\')), std::vector<std::string>{s}) << s;
    EXPECT_EQ(ConcatenateStrings({"1", "x3", "7"}, ","), "1,x3,7");
    EXPECT_EQ(ConcatenateStrings({}, ","), "");
}

}  // namespace
