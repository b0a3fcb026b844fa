#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "documents/xsd_format.h"
#include "xml/xml.h"

namespace {

std::string Repeated(const std::vector<std::string>& items) {
    RepeatListWriter w;
    for (const auto& i : items) w.Add(i);
    return w.Finish();
}

TEST(XsdFormat, ValueListsCompressRunsOfEqualTexts) {
    struct Case {
        std::vector<std::string> items;
        const char* text;
    };
    const Case cases[] = {
        {{}, ""},
        {{"7"}, "7"},
        {{"5", "5", "5", "5", "7"}, "5,x3,7"},
        {{"2", "2", "2"}, "2,x2"},
        {{"1", "2", "2", "3", "3", "3"}, "1,2,x1,3,x2"},
        {{"0", "0", "1", "1"}, "0,x1,1,x1"},
    };
    for (const Case& c : cases) EXPECT_EQ(Repeated(c.items), c.text);
}

std::vector<std::uint32_t> IdRun(std::uint32_t first, std::uint32_t n) {
    std::vector<std::uint32_t> ids;
    for (std::uint32_t i = 0; i < n; ++i) ids.push_back(first + i);
    return ids;
}

TEST(XsdFormat, ReferenceListsOfTenOrMoreAreCompressed) {
    struct Case {
        std::vector<std::uint32_t> ids;
        const char* text;
    };
    std::vector<std::uint32_t> mixed = {4, 4};
    for (std::uint32_t id = 5; id <= 12; ++id) mixed.push_back(id);
    std::vector<std::uint32_t> singleBetween = {1, 1, 1, 7, 20, 21, 22, 23, 24, 25};
    const Case cases[] = {
        {{}, ""},
        {{0}, "0"},
        {IdRun(1, 9), "1,2,3,4,5,6,7,8,9"},
        {{3, 3, 0, 9, 9, 9, 9, 9, 9}, "3,3,0,9,9,9,9,9,9"},
        {IdRun(3, 10), "ci(10):10+3"},
        {std::vector<std::uint32_t>(10, 0), "ci(10):10x0"},
        {mixed, "ci(10):2x4,8+5"},
        {singleBetween, "ci(10):3x1,7,6+20"},
        {{9, 8, 7, 6, 5, 4, 3, 2, 1, 0}, "ci(10):9,8,7,6,5,4,3,2,1,0"},
        {{1, 2, 2, 2, 3, 4, 5, 5, 0, 1}, "ci(10):2+1,2x2,3+3,5,2+0"},  // a null counts as 0
    };
    for (const Case& c : cases) EXPECT_EQ(ReferenceListText(c.ids), c.text);
}

TEST(XsdFormat, StringListItemsAreEscapedAndEmptyItemsRefused) {
    EXPECT_EQ(StringListText({"a,b", "c\\d", "e"}, "S"), "a\\,b,c\\\\d,e");
    EXPECT_EQ(StringListText({}, "S"), "");
    try {
        StringListText({"a", ""}, "S");
        ADD_FAILURE();
    } catch (const xmlException& e) {
        EXPECT_STREQ(e.what(), "An empty string cannot be written in the string list 'S'");
    }
}

}  // namespace
