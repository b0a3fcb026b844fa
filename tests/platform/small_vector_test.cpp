// xxSmallVector against std::vector: every script of operations leaves the same values, in place
// and after the move to the heap.
#include <gtest/gtest.h>

#include <span>
#include <stdexcept>
#include <string>
#include <vector>

#include "base/small_vector.h"

namespace {

using Small = xxSmallVector<int, 2>;

enum class Op { Push, PushOwn, Pop, EraseAt, EraseValue, Reserve };
struct Step {
    Op op;
    int arg = 0;  // value, index or count
};
struct Case {
    const char* label;
    std::vector<Step> steps;
    std::vector<int> values;
    std::size_t capacity;
};

Step Push(int v) { return {Op::Push, v}; }
Step PushOwn(int index) { return {Op::PushOwn, index}; }  // push_back(v[index])
Step Pop() { return {Op::Pop}; }
Step EraseAt(int index) { return {Op::EraseAt, index}; }
Step EraseValue(int v) { return {Op::EraseValue, v}; }
Step Reserve(int n) { return {Op::Reserve, n}; }

TEST(SmallVector, ScriptsMatchStdVector) {
    const std::vector<Case> cases = {
        {"empty", {}, {}, 2},
        {"two stay in place", {Push(1), Push(2)}, {1, 2}, 2},
        {"the third moves all to the heap", {Push(1), Push(2), Push(3)}, {1, 2, 3}, 4},
        {"the heap grows by doubling", {Push(1), Push(2), Push(3), Push(4), Push(5)}, {1, 2, 3, 4, 5}, 8},
        {"erase first in place", {Push(1), Push(2), EraseAt(0)}, {2}, 2},
        {"erase last in place", {Push(1), Push(2), EraseAt(1)}, {1}, 2},
        {"erase middle on the heap", {Push(1), Push(2), Push(3), Push(4), EraseAt(1)}, {1, 3, 4}, 4},
        {"erase every copy of a value", {Push(1), Push(2), Push(1), Push(3), Push(1), EraseValue(1)}, {2, 3}, 8},
        {"erase a value that is not there", {Push(1), EraseValue(9)}, {1}, 2},
        {"the heap stays after emptying", {Push(1), Push(2), Push(3), Pop(), Pop(), Pop(), Push(4)}, {4}, 4},
        {"pop then push in place", {Push(1), Push(2), Pop(), Push(5)}, {1, 5}, 2},
        {"push an own element while growing", {Push(7), Push(8), PushOwn(0)}, {7, 8, 7}, 4},
        {"push an own element on a full heap", {Push(1), Push(2), Push(3), Push(4), PushOwn(3)}, {1, 2, 3, 4, 4}, 8},
        {"reserve in place is no change", {Push(1), Reserve(2)}, {1}, 2},
        {"reserve moves the values", {Push(1), Push(2), Reserve(3), Push(3)}, {1, 2, 3}, 3},
        {"reserve below the heap block is no change", {Push(1), Push(2), Push(3), Reserve(1)}, {1, 2, 3}, 4},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        Small small;
        std::vector<int> model;
        for (const Step& s : c.steps) {
            switch (s.op) {
                case Op::Push:
                    small.push_back(s.arg);
                    model.push_back(s.arg);
                    break;
                case Op::PushOwn: {
                    const int v = model[static_cast<std::size_t>(s.arg)];
                    small.push_back(small[static_cast<std::size_t>(s.arg)]);
                    model.push_back(v);
                    break;
                }
                case Op::Pop:
                    small.pop_back();
                    model.pop_back();
                    break;
                case Op::EraseAt: {
                    auto next = small.erase(small.begin() + s.arg);
                    EXPECT_EQ(next - small.begin(), s.arg);
                    model.erase(model.begin() + s.arg);
                    break;
                }
                case Op::EraseValue:
                    EXPECT_EQ(small.erase_value(s.arg), static_cast<std::size_t>(std::erase(model, s.arg)));
                    break;
                case Op::Reserve:
                    small.reserve(static_cast<std::size_t>(s.arg));
                    break;
            }
            ASSERT_EQ(std::vector<int>(small.begin(), small.end()), model);
            ASSERT_EQ(small.size(), model.size());
            ASSERT_EQ(small.empty(), model.empty());
            ASSERT_GE(small.capacity(), small.size());
        }
        EXPECT_EQ(std::vector<int>(small.begin(), small.end()), c.values);
        EXPECT_EQ(small.capacity(), c.capacity);
        const std::span<const int> view = small;
        EXPECT_EQ(std::vector<int>(view.begin(), view.end()), c.values);
        EXPECT_EQ(std::vector<int>(small.rbegin(), small.rend()), std::vector<int>(c.values.rbegin(), c.values.rend()));
        if (!c.values.empty()) {
            EXPECT_EQ(small.back(), c.values.back());
        }
    }
}

TEST(SmallVector, ReserveBeyondTheLimitThrowsAndKeepsTheValues) {
    for (int n : {1, 3}) {  // in place and on the heap
        SCOPED_TRACE(n);
        Small small;
        for (int i = 0; i < n; ++i) small.push_back(i);
        const std::size_t capacity = small.capacity();
        EXPECT_THROW(small.reserve(Small::max_size() + 1), std::length_error);
        EXPECT_EQ(small.size(), static_cast<std::size_t>(n));
        EXPECT_EQ(small.capacity(), capacity);
        for (int i = 0; i < n; ++i) EXPECT_EQ(small[static_cast<std::size_t>(i)], i);
    }
}

}  // namespace
