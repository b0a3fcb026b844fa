// The open-addressing index of platform/base against std::unordered_map on seeded random
// operations: inserts that keep the first entry, finds, clears (with stamps that wrap), growth
// from empty and from a reserve, and hashes that crowd every key into a few slots.
#include "base/name_index.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

namespace {

using Entry = std::pair<std::uint64_t, int>;  // key, payload

struct EntryMatch {
    bool operator()(const Entry& entry, std::uint64_t key) const { return entry.first == key; }
};
// Every key on a handful of hashes: long probe runs, wrapping round the table's end.
struct CrowdedHash {
    std::size_t operator()(std::uint64_t key) const noexcept { return static_cast<std::size_t>(key % 3); }
};

struct Mix {
    int inserts, finds, clears, reserves;  // weights
};

template <class Index>
void RunAgainstMap(Index& index, std::uint32_t seed, std::uint64_t keySpace, const Mix& mix, int steps) {
    std::mt19937 random(seed);
    std::uniform_int_distribution<std::uint64_t> key(0, keySpace - 1);
    std::discrete_distribution<int> op({static_cast<double>(mix.inserts), static_cast<double>(mix.finds),
                                        static_cast<double>(mix.clears), static_cast<double>(mix.reserves)});
    std::unordered_map<std::uint64_t, int> model;
    for (int step = 0; step < steps; ++step) {
        const std::uint64_t k = key(random);
        switch (op(random)) {
            case 0: {
                const bool entered = index.Insert(k, Entry{k, step});
                ASSERT_EQ(entered, model.try_emplace(k, step).second) << "step " << step << " key " << k;
                break;
            }
            case 1: {
                const Entry* found = index.Find(k);
                const auto it = model.find(k);
                ASSERT_EQ(found != nullptr, it != model.end()) << "step " << step << " key " << k;
                if (found) {
                    ASSERT_EQ(found->second, it->second) << "the first entry stays";
                }
                break;
            }
            case 2:
                index.Clear();
                model.clear();
                break;
            default:
                index.Reserve(static_cast<std::size_t>(key(random)));
                break;
        }
        ASSERT_EQ(index.Size(), model.size()) << "step " << step;
    }
    // Every key the model holds, and none it does not.
    for (std::uint64_t k = 0; k < keySpace; ++k) {
        const Entry* found = index.Find(k);
        ASSERT_EQ(found != nullptr, model.contains(k)) << "key " << k;
    }
}

TEST(NameIndex, BehavesAsAMapOnRandomOperations) {
    struct Case {
        const char* what;
        std::uint64_t keySpace;
        Mix mix;
        int steps;
    } cases[] = {
        {"mostly inserts: growth from empty", 100'000, {8, 2, 0, 0}, 40'000},
        {"inserts and finds over few keys: duplicates", 64, {5, 5, 0, 0}, 20'000},
        {"clears between small groups", 200, {10, 10, 1, 0}, 50'000},
        {"reserves among the rest", 5'000, {10, 5, 1, 1}, 30'000},
    };
    for (const Case& c : cases) {
        for (std::uint32_t seed : {1u, 7u, 2024u}) {
            SCOPED_TRACE(std::string(c.what) + ", seed " + std::to_string(seed));
            cartovane::NameIndex<Entry, EntryMatch, std::uint64_t, cartovane::MixedHash> mixed;
            RunAgainstMap(mixed, seed, c.keySpace, c.mix, c.steps);
            if (c.keySpace <= 5'000) {  // every probe walks a crowded run: keep them short
                cartovane::NameIndex<Entry, EntryMatch, std::uint64_t, CrowdedHash> crowded;
                RunAgainstMap(crowded, seed, c.keySpace, c.mix, c.steps / 4);
            }
        }
    }
}

// Stamps of 8 bits wrap after 255 clears; no entry from before a clear may come back then.
TEST(NameIndex, ClearsSurviveTheWrapOfTheirStamps) {
    cartovane::NameIndex<Entry, EntryMatch, std::uint64_t, cartovane::MixedHash, std::uint8_t> index;
    RunAgainstMap(index, 3, 40, {6, 6, 2, 0}, 60'000);

    // Entries made once, then many clears with other keys only, which all take one slot away
    // from them: the old entries keep their stamps until those come round again.
    struct ApartHash {
        std::size_t operator()(std::uint64_t key) const noexcept { return key < 100 ? key : 200; }
    };
    cartovane::NameIndex<Entry, EntryMatch, std::uint64_t, ApartHash, std::uint8_t> filled;
    for (std::uint64_t k = 0; k < 100; ++k) filled.Insert(k, Entry{k, 0});
    for (int round = 1; round <= 600; ++round) {
        filled.Clear();
        const auto other = static_cast<std::uint64_t>(1000 + round);
        ASSERT_TRUE(filled.Insert(other, Entry{other, round}));
        ASSERT_EQ(filled.Find(other)->second, round);
        for (std::uint64_t k = 0; k < 100; ++k) ASSERT_EQ(filled.Find(k), nullptr) << "round " << round << " key " << k;
    }
}

// The readers' use: names kept in their objects, read back through the entry.
TEST(NameIndex, KeysReadBackFromTheEntries) {
    std::vector<std::string> names;
    for (int i = 0; i < 3000; ++i) names.push_back("C" + std::to_string(i % 1500) + (i < 1500 ? "" : "'"));
    struct NameMatch {
        const std::vector<std::string>* names;
        bool operator()(std::uint32_t entry, std::string_view key) const { return (*names)[entry] == key; }
    };
    cartovane::NameIndex<std::uint32_t, NameMatch> index(NameMatch{&names});
    for (std::uint32_t i = 0; i < names.size(); ++i) ASSERT_TRUE(index.Insert(names[i], i)) << names[i];
    EXPECT_FALSE(index.Insert("C7", 99));
    ASSERT_NE(index.Find("C7'"), nullptr);
    EXPECT_EQ(*index.Find("C7'"), 1507u);
    EXPECT_EQ(index.Find("C1500"), nullptr);
    index.Clear();
    EXPECT_EQ(index.Find("C7"), nullptr);
    EXPECT_EQ(index.Size(), 0u);
}

}  // namespace
