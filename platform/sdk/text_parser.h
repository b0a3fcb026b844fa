// Line readers over text sources.
#pragma once

#include <cstddef>
#include <cstdint>
#include <istream>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

// Reads a text line by line. A line ends at LF, at CR LF, at a CR alone, or at the end of the
// text; the line end is not part of the line, so text with any of the three line ends reads
// alike. The text is read in large blocks; lines are handed out from the block where they lie
// whole and copied only when they cross a block boundary, into a buffer that grows only when a
// longer such line comes.
//
// The line a call returns stays valid until the next read or Rewind. Read failures of the
// source throw Cfx::CfxResult STG_E_READFAULT.
class CTextParser {
public:
    static constexpr std::size_t kDefaultBlockSize = 64 * 1024;
    static constexpr std::size_t kDefaultMaxLineLength = 64 * 1024 * 1024;

    virtual ~CTextParser();
    CTextParser(const CTextParser&) = delete;
    CTextParser& operator=(const CTextParser&) = delete;

    // The next line into buffer, NUL-terminated; buffer holds limit bytes, so at most limit - 1
    // characters are stored (fgets counts the same way). The rest of a longer line is skipped,
    // not returned by the next call: readers treat each call as one line of the file, and a
    // line's tail taken as a line of its own would be misread. Null at the end of the text.
    // Throws CfxResult E_POINTER for a null buffer and E_INVALIDARG for a limit of 0.
    char* ReadString(char* buffer, std::size_t limit);

    // The next line as a view into the parser's block, nothing copied: its first limit
    // characters (the rest skipped as ReadString skips it), ending before a NUL the line may
    // hold, as a reader of ReadString's buffer would see it; nullopt at the end of the text.
    std::optional<std::string_view> ReadLine(std::size_t limit);

    // The next line whole, NUL-terminated, in a buffer the parser owns; null at the end of the
    // text. A line longer than GetMaxLineLength() throws CfxResult E_FAIL instead of growing
    // the buffer without bound.
    char* ReadStringAlloc();

    // Of the line last returned: its length as stored (embedded NULs included, so it can
    // exceed strlen), whether ReadString or ReadLine cut it, and its number from 1 (0 before
    // the first).
    std::size_t GetLineLength() const noexcept { return lineLength_; }
    bool WasLineTruncated() const noexcept { return truncated_; }
    std::size_t GetLineNumber() const noexcept { return lineNumber_; }

    std::size_t GetMaxLineLength() const noexcept { return maxLineLength_; }
    void SetMaxLineLength(std::size_t length) noexcept { maxLineLength_ = length; }

    // Back to the start of the text, line number 0; false when the source cannot go back.
    [[nodiscard]] bool Rewind();

    // Where the next unread line starts, in bytes from the start of the text (every byte
    // counts, CR included); the size of the text at its end. After a line that ended in a CR
    // at the end of a block this reads on to see whether an LF follows, so the line last
    // returned is no longer valid.
    std::uint64_t GetLinePosition();
    // Goes to a position GetLinePosition gave (any byte offset works: reading starts there),
    // dropping what was read ahead; line numbers then count from there. False when the source
    // cannot seek there.
    [[nodiscard]] bool SetLinePosition(std::uint64_t position);

protected:
    explicit CTextParser(std::size_t blockSize = kDefaultBlockSize);

    // Up to size bytes of the text into destination; 0 only at its end.
    virtual std::size_t ReadBlock(char* destination, std::size_t size) = 0;
    // Repositions the source at offset bytes from the start of the text.
    virtual bool SeekSource(std::uint64_t offset) = 0;

private:
    bool Refill();
    [[noreturn]] void ThrowTooLong(std::size_t limit) const;
    // Finds the next line and keeps its first `keep` characters in line_/lineLength_.
    bool Advance(std::size_t keep, bool throwWhenLonger);

    std::unique_ptr<char[]> block_;  // blockSize_ + 1: room for a NUL after the last line
    std::size_t blockSize_;
    std::size_t begin_ = 0, end_ = 0;
    std::uint64_t blockStart_ = 0;  // offset of the block's first byte in the text
    bool atEnd_ = false;
    std::vector<char> spill_;  // a line that crosses a block boundary
    char* line_ = nullptr;
    std::size_t lineLength_ = 0;
    std::size_t lineNumber_ = 0;
    bool truncated_ = false;
    bool skipLF_ = false;  // the last line ended in a CR that closed a block; an LF next is its
    bool crInBlock_ = false, nulInBlock_ = false;  // of the block as read
    bool mayHoldNul_ = false;                      // the line last found
    std::size_t maxLineLength_ = kDefaultMaxLineLength;
};

// A line reader over a standard input stream, from its current position. The stream is read
// ahead by whole blocks, so its position says nothing about the parser's; line positions count
// from where the parser started (for a parser made at the start of a file, they are file
// positions), and Rewind and SetLinePosition seek the stream (false for a stream that cannot).
class CTextIOStreamParser : public CTextParser {
public:
    explicit CTextIOStreamParser(std::istream& stream, std::size_t blockSize = kDefaultBlockSize);

protected:
    std::size_t ReadBlock(char* destination, std::size_t size) override;
    bool SeekSource(std::uint64_t offset) override;

private:
    std::istream& stream_;
    std::istream::pos_type start_;
};
