// Byte reversal of file values, and the test-side writer of length-framed binary records that
// the binary trajectory tests build their files with.
#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <cstring>
#include <string>

#include "base/byte_swap.h"
#include "support/binary_records.h"
#include "support/his_file.h"

namespace {

template <class T>
std::string Raw(const T& v) {
    std::string bytes(sizeof v, '\0');
    std::memcpy(bytes.data(), &v, sizeof v);
    return bytes;
}

TEST(ByteSwap, EachFormReversesTheBytesOfOneValue) {
    std::uint64_t u8 = 0x0102030405060708u;
    cartovane::ByteSwap8(u8);
    EXPECT_EQ(u8, 0x0807060504030201u);
    std::uint32_t u4 = 0x01020304u;
    cartovane::ByteSwap4(u4);
    EXPECT_EQ(u4, 0x04030201u);
    std::uint16_t u2 = 0x0102u;
    cartovane::ByteSwap2(u2);
    EXPECT_EQ(u2, 0x0201u);

    // Reals go by their bytes, not their value; twice gives the value back.
    const double d = 2.9;
    double swapped = d;
    cartovane::ByteSwap8(swapped);
    std::string expected = Raw(d);
    EXPECT_EQ(Raw(swapped), std::string(expected.rbegin(), expected.rend()));
    cartovane::ByteSwap8(swapped);
    EXPECT_EQ(swapped, d);
    float f = -1.5f;
    cartovane::ByteSwap4(f);
    cartovane::ByteSwap4(f);
    EXPECT_EQ(f, -1.5f);
    std::int16_t s = -2;
    cartovane::ByteSwap2(s);
    EXPECT_EQ(static_cast<std::uint16_t>(s), 0xFEFFu);
}

TEST(ByteSwap, RunsOfElementsAreReversedElementByElementAtAnyAddress) {
    struct Case {
        std::size_t width;
        bool accepted;
        const char* after;  // "0123456789abcdef" after the reversal, each character a byte
    } cases[] = {
        {1, true, "0123456789abcdef"}, {2, true, "1032547698badcfe"}, {4, true, "32107654ba98fedc"},
        {8, true, "76543210fedcba98"}, {3, false, "0123456789abcdef"}, {0, false, "0123456789abcdef"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("width " + std::to_string(c.width));
        std::string bytes = "x0123456789abcdef";  // one byte in, so the run is unaligned
        const std::size_t count = c.width ? 16 / c.width : 16;
        EXPECT_EQ(cartovane::ByteSwapEach(bytes.data() + 1, c.width, count), c.accepted);
        EXPECT_EQ(bytes.substr(1), c.after);
    }
}

// ---- the record writer ----------------------------------------------------------------

std::int32_t WordAt(const std::string& bytes, std::size_t at, bool reversed) {
    std::int32_t v;
    std::memcpy(&v, bytes.data() + at, sizeof v);
    if (reversed) cartovane::ByteSwap4(v);
    return v;
}

TEST(BinaryRecordWriter, RecordsAreFramedByTheirLengthInEitherByteOrder) {
    for (bool reversed : {false, true}) {
        SCOPED_TRACE(reversed ? "reversed" : "native");
        cvtest::BinaryRecordWriter w(reversed);
        w.Begin().Int(0).End();
        w.Begin().Text("title", 8).Double(2.9).End();
        w.Begin().End();  // an empty record is two length words
        w.Begin().Floats({1.0f, 2.0f}).Ints({7, -1}).End();
        const std::string& bytes = w.Bytes();

        EXPECT_EQ(bytes.size(), 12u + 24u + 8u + 24u);
        EXPECT_EQ(w.RecordStart(1), 12u);
        EXPECT_EQ(w.DataStart(1), 16u);
        EXPECT_EQ(w.DataSize(1), 16u);
        EXPECT_EQ(WordAt(bytes, 12, reversed), 16);
        EXPECT_EQ(WordAt(bytes, 32, reversed), 16);
        EXPECT_EQ(bytes.substr(16, 8), "title   ") << "texts are blank-padded and never reversed";
        double v;
        std::memcpy(&v, bytes.data() + 24, 8);
        if (reversed) cartovane::ByteSwap8(v);
        EXPECT_EQ(v, 2.9);

        cvtest::RecordLayout layout = cvtest::ValidateRecords(bytes, reversed);
        EXPECT_FALSE(layout.problem) << *layout.problem;
        EXPECT_EQ(layout.starts, (std::vector<std::size_t>{0, 12, 36, 44}));
        EXPECT_EQ(layout.sizes, (std::vector<std::size_t>{4, 16, 0, 16}));
        // Read in the wrong order the lengths are nonsense.
        EXPECT_TRUE(cvtest::ValidateRecords(bytes, !reversed).problem);
    }
}

TEST(BinaryRecordWriter, TheValidatorFindsEveryDamageTheFaultHooksMake) {
    auto make = [] {
        cvtest::BinaryRecordWriter w;
        w.Begin().Int(1).End();
        w.Begin().Doubles({1, 2, 3}).End();
        return w;
    };
    struct Case {
        const char* name;
        std::string (*damage)(cvtest::BinaryRecordWriter&);
        const char* problem;  // part of the validator's text; null: the layout stays sound
    } cases[] = {
        {"cut inside a record", [](cvtest::BinaryRecordWriter& w) { return w.Truncated(w.Size() - 1); }, "does not fit"},
        {"cut to a stub", [](cvtest::BinaryRecordWriter& w) { return w.Truncated(w.RecordStart(1) + 5); }, "too few"},
        {"leading length lies",
         [](cvtest::BinaryRecordWriter& w) {
             w.SetLengthWord(1, 16);
             return w.Bytes();
         },
         "closed by"},
        {"trailing length lies",
         [](cvtest::BinaryRecordWriter& w) {
             w.SetLengthWord(0, 5, true);
             return w.Bytes();
         },
         "closed by 5"},
        {"negative length",
         [](cvtest::BinaryRecordWriter& w) {
             w.SetLengthWord(0, -4);
             return w.Bytes();
         },
         "length -4"},
        {"wrong flag: data patched, framing sound",
         [](cvtest::BinaryRecordWriter& w) {
             w.PatchInt32(w.DataStart(0), 7);
             return w.Bytes();
         },
         nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        cvtest::BinaryRecordWriter w = make();
        const std::string bytes = c.damage(w);
        cvtest::RecordLayout layout = cvtest::ValidateRecords(bytes, false);
        if (!c.problem) {
            EXPECT_FALSE(layout.problem);
            EXPECT_EQ(WordAt(bytes, w.DataStart(0), false), 7);
        } else {
            ASSERT_TRUE(layout.problem);
            EXPECT_NE(layout.problem->find(c.problem), std::string::npos) << *layout.problem;
        }
    }
}

// ---- HIS files built on the writer -----------------------------------------------------

// Worked out by hand from the record layout, so that the maker and a reader cannot share a
// misreading: V = 2.9, N = M = 2, every other count 0.
TEST(HisFileMaker, TheSmallestFileLiesWhereItWasWorkedOutByHand) {
    for (bool reversed : {false, true}) {
        SCOPED_TRACE(reversed ? "reversed" : "native");
        cvtest::HisParameters params;
        params.reversed = reversed;
        params.frames = 3;
        const cvtest::HisFile his = cvtest::MakeHis(params);
        cvtest::RecordLayout layout = cvtest::ValidateRecords(his.writer.Bytes(), reversed);
        ASSERT_FALSE(layout.problem) << *layout.problem;
        const std::vector<std::size_t> header = {0, 12, 108, 196, 284, 296, 308, 338, 362, 374, 386, 398, 33710, 33738,
                                                 34218, 34250};
        ASSERT_GE(layout.starts.size(), header.size());
        EXPECT_EQ(std::vector<std::size_t>(layout.starts.begin(), layout.starts.begin() + 16), header);
        EXPECT_EQ(layout.sizes[11], 33304u) << "H13";
        EXPECT_EQ(layout.sizes[13], 472u) << "the energy record: 59 doubles";
        EXPECT_EQ(his.velocityEnd, 34278u) << "P";
        EXPECT_EQ(his.frameFlags, (std::vector<std::size_t>{4, 34286, 34286 + 684}));
        EXPECT_EQ(his.writer.Size(), 34282u + 684u * 2) << "n frames make 34282 + 684 (n - 1) bytes";
        // V sits at byte 96.
        double v;
        std::memcpy(&v, his.writer.Bytes().data() + 96, 8);
        if (reversed) cartovane::ByteSwap8(v);
        EXPECT_EQ(v, 2.9);
    }
}

// The frame size F = 4 (6m + 2 (5G + E (1 + G) + 74)) + 44 for every mix of counts, and the
// header grows by what the counts add.
TEST(HisFileMaker, FramesHaveTheSizeOfTheFormula) {
    auto make = [](double version, int atoms, std::vector<int> movable) {
        cvtest::HisParameters s;
        s.version = version;
        s.atoms = atoms;
        s.movable = std::move(movable);
        return s;
    };
    cvtest::HisParameters counts = make(2.9, 3, {});
    counts.k1 = 2, counts.k2 = 1, counts.g = 2, counts.k5 = 1, counts.k6 = 2, counts.e = 3;
    struct Case {
        const char* name;
        cvtest::HisParameters params;
    } cases[] = {
        {"2.9, all movable", make(2.9, 2, {})},
        {"2.6 within 1e-4, two of five movable", make(2.6 - 5e-5, 5, {2, 5})},
        {"2.55, every atom stored", make(2.55, 4, {1})},
        {"every count", counts},
    };
    for (Case& c : cases) {
        SCOPED_TRACE(c.name);
        c.params.frames = 4;
        const cvtest::HisFile his = cvtest::MakeHis(c.params);
        ASSERT_FALSE(cvtest::ValidateRecords(his.writer.Bytes(), false).problem);
        const std::size_t m = static_cast<std::size_t>(c.params.StoredPerFrame());
        const auto g = static_cast<std::size_t>(c.params.g), e = static_cast<std::size_t>(c.params.e);
        const std::size_t frame = 4 * (6 * m + 2 * (5 * g + e * (1 + g) + 74)) + 44;
        for (std::size_t i = 2; i < his.frameFlags.size(); ++i) EXPECT_EQ(his.frameFlags[i] - his.frameFlags[i - 1], frame);
        EXPECT_EQ(his.frameFlags[1], his.velocityEnd + 8);
        EXPECT_EQ(his.writer.Size(), his.velocityEnd + 4 + 3 * frame);
    }
}

TEST(BinaryRecordWriter, MisuseIsRefused) {
    cvtest::BinaryRecordWriter w;
    EXPECT_THROW(w.End(), std::logic_error);
    w.Begin();
    EXPECT_THROW(w.Begin(), std::logic_error);
    EXPECT_THROW((void)w.Bytes(), std::logic_error);
    w.End();
    EXPECT_THROW(w.PatchInt32(w.Size() - 2, 1), std::out_of_range);
}

}  // namespace
