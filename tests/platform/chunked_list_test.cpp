#include "base/chunked_list.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct Counted {
    static inline int alive = 0;
    int value = -1;
    Counted() { ++alive; }
    ~Counted() { --alive; }
};

// Chunks double from the first: from 4 the boundaries fall at 4, 12, 28, 60; reserved to 10,
// at 10, 30, 70 (and 101 items fit in the first chunk when 101 are reserved).
TEST(ChunkedList, ItemsAcrossChunkBoundariesKeepTheirPlaceAndValue) {
    for (std::size_t reserved : {0u, 10u, 101u}) {
        SCOPED_TRACE(reserved);
        {
            ChunkedList<Counted, 4> list;
            list.reserve(reserved);
            std::vector<const Counted*> addresses;
            for (int i = 0; i < 100; ++i) {
                Counted& c = list.emplace_back();
                EXPECT_EQ(c.value, -1);
                c.value = i;
                addresses.push_back(&c);
            }
            EXPECT_EQ(Counted::alive, 100);
            ASSERT_EQ(list.size(), 100u);
            for (std::size_t i : {0u, 3u, 4u, 9u, 10u, 11u, 12u, 27u, 28u, 29u, 30u, 59u, 60u, 69u, 70u, 99u}) {
                EXPECT_EQ(list[i].value, static_cast<int>(i));
                EXPECT_EQ(&list[i], addresses[i]);
            }
            list.clear();
            EXPECT_EQ(Counted::alive, 0);
            EXPECT_EQ(list.emplace_back().value, -1);  // usable again after clear
        }
        EXPECT_EQ(Counted::alive, 0);  // the destructor ends what is left
    }
}

// With a largest chunk of 16 from 4: boundaries at 4, 12, 28, 44, 60, ...; a reserve beyond the
// largest makes every chunk that large (rounded up to a power of two).
TEST(ChunkedList, ChunksStopGrowingAtTheLargest) {
    for (std::size_t reserved : {std::size_t{0}, std::size_t{20}}) {
        SCOPED_TRACE(reserved);
        ChunkedList<Counted, 4, 16> list;
        list.reserve(reserved);
        std::vector<const Counted*> addresses;
        for (int i = 0; i < 200; ++i) {
            list.emplace_back().value = i;
            addresses.push_back(&list[static_cast<std::size_t>(i)]);
        }
        for (std::size_t i : std::initializer_list<std::size_t>{0, 3, 4, 11, 12, 27, 28, 43, 44, 59, 60, 61, 100, 199}) {
            EXPECT_EQ(list[i].value, static_cast<int>(i));
            EXPECT_EQ(&list[i], addresses[i]);
        }
        // Items of one chunk lie side by side, so a chunk of 16 ends where the next begins.
        if (reserved == 0) {
            EXPECT_EQ(&list[43] - &list[28], 15);
            EXPECT_NE(&list[44], &list[43] + 1);
        }
        list.clear();
    }
    EXPECT_EQ(Counted::alive, 0);
}

TEST(ChunkedText, ViewsOutliveLaterStoresIncludingTextsLargerThanAChunk) {
    ChunkedText texts;
    const std::string big(100000, 'x');
    std::vector<std::pair<std::string_view, std::string>> stored;
    for (int i = 0; i < 20000; ++i) {
        std::string text = i % 5000 == 7 ? big : "id" + std::to_string(i);
        stored.emplace_back(texts.Store(text), text);
    }
    for (const auto& [view, text] : stored) ASSERT_EQ(view, text);
    EXPECT_TRUE(texts.Store("").empty());
}

}  // namespace
