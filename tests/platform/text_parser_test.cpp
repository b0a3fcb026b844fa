#include "sdk/text_parser.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <new>
#include <optional>
#include <sstream>
#include <streambuf>
#include <string>
#include <string_view>
#include <vector>

#include "cfx/cfx.h"

// Counts heap allocations, for the check that reading lines allocates nothing per line.
namespace {
std::atomic<long> gAllocations{0};
}  // namespace
void* operator new(std::size_t size) {
    ++gAllocations;
    if (void* p = std::malloc(size ? size : 1)) return p;
    throw std::bad_alloc();
}
// Out of line, so that the compiler does not pair an inlined free with operator new.
[[gnu::noinline]] void operator delete(void* p) noexcept { std::free(p); }
[[gnu::noinline]] void operator delete(void* p, std::size_t) noexcept { std::free(p); }

namespace {

using namespace std::string_literals;

// Block sizes small enough to put every line end, CR LF pair included, across a boundary.
constexpr std::size_t kBlockSizes[] = {1, 2, 3, 7, CTextParser::kDefaultBlockSize};

std::vector<std::string> ReadAll(const std::string& text, std::size_t blockSize) {
    std::istringstream in(text);
    CTextIOStreamParser parser(in, blockSize);
    std::vector<std::string> lines;
    while (const char* line = parser.ReadStringAlloc()) {
        lines.emplace_back(line, parser.GetLineLength());
        EXPECT_EQ(parser.GetLineNumber(), lines.size());
        EXPECT_FALSE(parser.WasLineTruncated());
    }
    EXPECT_EQ(parser.ReadStringAlloc(), nullptr);  // the end stays the end
    EXPECT_EQ(parser.GetLineNumber(), lines.size());
    return lines;
}

Cfx::CfxResult Thrown(const std::function<void()>& call) {
    try {
        call();
    } catch (const Cfx::CfxResult& r) {
        return r;
    }
    ADD_FAILURE() << "no CfxResult thrown";
    return {};
}

TEST(TextParser, SplitsLinesAlikeForEveryLineEndAndBlockSize) {
    const std::string longLine(100000, 'x');  // longer than a default block
    struct Case {
        const char* what;
        std::string text;
        std::vector<std::string> lines;
    };
    const Case cases[] = {
        {"empty", "", {}},
        {"one empty line", "\n", {""}},
        {"two empty lines", "\n\n", {"", ""}},
        {"LF", "ab\ncd\n", {"ab", "cd"}},
        {"no final line end", "ab\ncd", {"ab", "cd"}},
        {"CR LF", "ab\r\ncd\r\n", {"ab", "cd"}},
        {"CR LF, empty line between", "ab\r\n\r\ncd", {"ab", "", "cd"}},
        {"CR before the end of the text", "ab\r", {"ab"}},
        {"lone CR", "ab\rcd\r", {"ab", "cd"}},
        {"lone CR, no final line end", "ab\rcd", {"ab", "cd"}},
        {"CR then CR LF", "a\r\r\n", {"a", ""}},
        {"LF then CR", "a\n\rb", {"a", "", "b"}},
        {"empty lines of each end", "\r\n\n\r", {"", "", ""}},
        {"all three ends mixed", "a\rb\r\nc\nd", {"a", "b", "c", "d"}},
        {"embedded NUL", "a\0b\nc\n"s, {"a\0b"s, "c"}},
        {"line longer than a block", longLine + "\r\ntail", {longLine, "tail"}},
    };
    for (const Case& c : cases)
        for (std::size_t blockSize : kBlockSizes) {
            SCOPED_TRACE(std::string(c.what) + ", block size " + std::to_string(blockSize));
            EXPECT_EQ(ReadAll(c.text, blockSize), c.lines);
        }
}

// ReadLine(limit - 1) views what ReadString(buffer, limit) stores, up to a NUL as strlen would
// read the buffer; both at every block size, so CR LF pairs fall across boundaries.
TEST(TextParser, ReadStringAndReadLineKeepLimitMinusOneCharactersAndSkipTheRest) {
    struct Expected {
        std::string line;
        bool truncated;
    };
    struct Case {
        std::string text;
        std::size_t limit;
        std::vector<Expected> lines;
    };
    const Case cases[] = {
        {"abcdef\nxy\n", 4, {{"abc", true}, {"xy", false}}},
        {"abc\n", 4, {{"abc", false}}},
        {"abc\r\n", 4, {{"abc", false}}},        // the CR is no character of the line
        {"abcd\r\nz", 4, {{"abc", true}, {"z", false}}},
        {"abc\r\r\n", 4, {{"abc", false}, {"", false}}},
        {"abcd\rxy", 4, {{"abc", true}, {"xy", false}}},
        {"ab\ncd\n", 1, {{"", true}, {"", true}}},
        {"!KORVEN archive 3\rPBC=OFF\rtitle\r", 512, {{"!KORVEN archive 3", false}, {"PBC=OFF", false}, {"title", false}}},
        {"ab\0cd\nef\n"s, 512, {{"ab", false}, {"ef", false}}},
        {std::string(70000, 'y') + "\nok", 512, {{std::string(511, 'y'), true}, {"ok", false}}},
        {std::string(600, 'z') + "\rtail", 512, {{std::string(511, 'z'), true}, {"tail", false}}},
    };
    for (const Case& c : cases)
        for (std::size_t blockSize : kBlockSizes) {
            SCOPED_TRACE(c.text.substr(0, 12) + " limit " + std::to_string(c.limit) + " block " +
                         std::to_string(blockSize));
            std::istringstream in(c.text), again(c.text);
            CTextIOStreamParser parser(in, blockSize), viewer(again, blockSize);
            std::vector<char> buffer(c.limit, '#');
            for (std::size_t i = 0; i < c.lines.size(); ++i) {
                ASSERT_EQ(parser.ReadString(buffer.data(), c.limit), buffer.data());
                EXPECT_EQ(std::string(buffer.data()), c.lines[i].line);
                EXPECT_EQ(parser.WasLineTruncated(), c.lines[i].truncated);
                EXPECT_EQ(parser.GetLineNumber(), i + 1);
                EXPECT_EQ(viewer.ReadLine(c.limit - 1), std::optional<std::string_view>(c.lines[i].line));
                EXPECT_EQ(viewer.WasLineTruncated(), c.lines[i].truncated);
                EXPECT_EQ(viewer.GetLineNumber(), i + 1);
            }
            EXPECT_EQ(parser.ReadString(buffer.data(), c.limit), nullptr);
            EXPECT_EQ(viewer.ReadLine(c.limit - 1), std::nullopt);
        }
}

TEST(TextParser, BothReadsTakeTurnsOnOneText) {
    std::istringstream in("one\r\ntwo\r\nthree\r\nfour\r");
    CTextIOStreamParser parser(in, 2);
    char buffer[16];
    EXPECT_STREQ(parser.ReadString(buffer, sizeof buffer), "one");
    EXPECT_STREQ(parser.ReadStringAlloc(), "two");
    EXPECT_STREQ(parser.ReadString(buffer, sizeof buffer), "three");
    EXPECT_EQ(parser.ReadLine(511), std::optional<std::string_view>("four"));
    EXPECT_EQ(parser.GetLineNumber(), 4u);
}

TEST(TextParser, BadArgumentsAndOverlongLinesAreErrors) {
    std::istringstream in("12345\n12345\r\n123456\n");
    CTextIOStreamParser parser(in, 3);
    EXPECT_EQ(Thrown([&] { parser.ReadString(nullptr, 10); }).Hr(), E_POINTER);
    char buffer[4];
    EXPECT_EQ(Thrown([&] { parser.ReadString(buffer, 0); }).Hr(), E_INVALIDARG);

    parser.SetMaxLineLength(5);
    EXPECT_STREQ(parser.ReadStringAlloc(), "12345");
    EXPECT_STREQ(parser.ReadStringAlloc(), "12345");
    const Cfx::CfxResult r = Thrown([&] { parser.ReadStringAlloc(); });
    EXPECT_EQ(r.Hr(), E_FAIL);
    EXPECT_EQ(r.Description(), "Line 3 is longer than 5 characters.");
}

TEST(TextParser, RewindGoesBackToWhereTheParserStarted) {
    std::istringstream in("skip\nfirst\nsecond\n");
    in.seekg(5);
    CTextIOStreamParser parser(in);
    EXPECT_STREQ(parser.ReadStringAlloc(), "first");
    EXPECT_STREQ(parser.ReadStringAlloc(), "second");
    EXPECT_EQ(parser.ReadStringAlloc(), nullptr);
    ASSERT_TRUE(parser.Rewind());
    EXPECT_EQ(parser.GetLineNumber(), 0u);
    EXPECT_STREQ(parser.ReadStringAlloc(), "first");
    EXPECT_EQ(parser.GetLineNumber(), 1u);
}

// Every line's start, as GetLinePosition gives it before the line is read, counts every byte
// of the text; SetLinePosition goes back to any of them, and reading from there gives the same
// lines again, at every block size (so CR LF pairs split by a block boundary count whole).
TEST(TextParser, LinePositionsCountEveryByteAndLeadBackToTheirLines) {
    struct Case {
        const char* what;
        std::string text;
        std::vector<std::uint64_t> starts;  // of each line, then the size of the text
    };
    const Case cases[] = {
        {"LF", "ab\ncd\n", {0, 3, 6}},
        {"CR LF", "ab\r\ncd\r\n", {0, 4, 8}},
        {"lone CR", "ab\rcd\r", {0, 3, 6}},
        {"mixed, no final line end", "a\r\n\nbc\rd", {0, 3, 4, 7, 8}},
        {"CR then CR LF", "a\r\r\n", {0, 2, 4}},
        {"empty lines", "\r\n\r\n\n", {0, 2, 4, 5}},
        {"a line cut by the limit", std::string(20, 'x') + "\r\nyz\n", {0, 22, 25}},
    };
    for (const Case& c : cases)
        for (std::size_t blockSize : kBlockSizes) {
            SCOPED_TRACE(std::string(c.what) + ", block size " + std::to_string(blockSize));
            std::istringstream in(c.text);
            CTextIOStreamParser parser(in, blockSize);
            std::vector<std::uint64_t> starts;
            std::vector<std::string> lines;
            while (true) {
                starts.push_back(parser.GetLinePosition());
                const std::optional<std::string_view> line = parser.ReadLine(8);
                if (!line) break;
                lines.emplace_back(*line);
            }
            EXPECT_EQ(parser.GetLinePosition(), c.text.size()) << "the end stays the end";
            EXPECT_EQ(starts, c.starts);
            for (std::size_t i = lines.size(); i-- > 0;) {  // backwards, so every step seeks
                ASSERT_TRUE(parser.SetLinePosition(starts[i]));
                EXPECT_EQ(parser.GetLineNumber(), 0u);
                EXPECT_EQ(parser.ReadLine(8), std::optional<std::string_view>(lines[i]));
                EXPECT_EQ(parser.GetLinePosition(), starts[i + 1]);
            }
        }
}

TEST(TextParser, LinePositionsCountFromWhereTheParserStartedAndMayFallInsideALine) {
    for (std::size_t blockSize : kBlockSizes) {
        SCOPED_TRACE(blockSize);
        std::istringstream in("skip\nfirst\r\nsecond\n");
        in.seekg(5);
        CTextIOStreamParser parser(in, blockSize);
        EXPECT_EQ(parser.GetLinePosition(), 0u);
        EXPECT_EQ(parser.ReadLine(511), std::optional<std::string_view>("first"));
        EXPECT_EQ(parser.GetLinePosition(), 7u);
        ASSERT_TRUE(parser.SetLinePosition(2));
        EXPECT_EQ(parser.ReadLine(511), std::optional<std::string_view>("rst"));
        ASSERT_TRUE(parser.SetLinePosition(14));  // the end of the text
        EXPECT_EQ(parser.ReadLine(511), std::nullopt);
        ASSERT_TRUE(parser.Rewind());
        EXPECT_EQ(parser.ReadLine(511), std::optional<std::string_view>("first"));
    }
}

// Positions beyond 4 GiB are not cut to 32 bits on their way to the stream.
TEST(TextParser, LinePositionsAreSixtyFourBit) {
    class Offsets : public std::streambuf {
    protected:
        pos_type seekoff(off_type off, std::ios::seekdir dir, std::ios::openmode) override {
            if (dir == std::ios::beg) at_ = off;
            return at_;
        }
        pos_type seekpos(pos_type pos, std::ios::openmode) override { return at_ = pos; }
        int_type underflow() override {
            text_ = "line " + std::to_string(static_cast<long long>(at_)) + "\n";
            setg(text_.data(), text_.data(), text_.data() + text_.size());
            at_ += static_cast<off_type>(text_.size());
            return traits_type::to_int_type(text_[0]);
        }

    private:
        off_type at_ = 0;
        std::string text_;
    } source;
    std::istream in(&source);
    CTextIOStreamParser parser(in, 64);
    const std::uint64_t far = (std::uint64_t{1} << 32) + 7;
    ASSERT_TRUE(parser.SetLinePosition(far));
    EXPECT_EQ(parser.ReadLine(511), std::optional<std::string_view>("line 4294967303"));
    EXPECT_EQ(parser.GetLinePosition(), far + 16);
}

// A source that cannot seek, and one that fails after some text.
class ForwardOnlyBuffer : public std::streambuf {
public:
    explicit ForwardOnlyBuffer(std::string text, bool failAtEnd) : text_(std::move(text)), failAtEnd_(failAtEnd) {
        setg(text_.data(), text_.data(), text_.data() + text_.size());
    }

protected:
    int_type underflow() override {
        if (failAtEnd_) throw std::runtime_error("device error");
        return traits_type::eof();
    }

private:
    std::string text_;
    bool failAtEnd_;
};

TEST(TextParser, SourcesThatCannotRewindOrRead) {
    ForwardOnlyBuffer forward("a\nb\n", false);
    std::istream forwardStream(&forward);
    CTextIOStreamParser forwardParser(forwardStream);
    EXPECT_STREQ(forwardParser.ReadStringAlloc(), "a");
    EXPECT_FALSE(forwardParser.Rewind());
    EXPECT_FALSE(forwardParser.SetLinePosition(0));

    ForwardOnlyBuffer failing("a\nb\n", true);
    std::istream failingStream(&failing);
    CTextIOStreamParser failingParser(failingStream);
    EXPECT_EQ(Thrown([&] { failingParser.ReadStringAlloc(); }).Hr(), STG_E_READFAULT);
}

TEST(TextParser, AllocatesNothingPerLine) {
    std::string text;
    for (int i = 0; i < 2000; ++i) text += std::string(static_cast<std::size_t>(40 + i % 60), static_cast<char>('a' + i % 26)) + "\r\n";
    std::istringstream in(text);
    CTextIOStreamParser parser(in, 256);  // most lines cross a block boundary at some point
    char buffer[512];
    const long before = gAllocations;
    std::size_t lines = 0;
    while (parser.ReadStringAlloc() && parser.ReadString(buffer, sizeof buffer) && parser.ReadLine(511)) lines += 3;
    const long allocations = gAllocations - before;
    EXPECT_EQ(lines, 1998u);
    EXPECT_LT(allocations, 16) << "the line buffer should grow a few times, not per line";
}

}  // namespace
