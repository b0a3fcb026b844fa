#include "sdk/text_parser.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <string>

#include "cfx/cfx.h"

CTextParser::CTextParser(std::size_t blockSize)
    : block_(std::make_unique<char[]>(std::max<std::size_t>(blockSize, 1) + 1)),
      blockSize_(std::max<std::size_t>(blockSize, 1)) {}

CTextParser::~CTextParser() = default;

void CTextParser::ThrowTooLong(std::size_t limit) const {
    throw Cfx::CfxResult(E_FAIL, "Line " + std::to_string(lineNumber_) + " is longer than " + std::to_string(limit) +
                                     " characters.");
}

bool CTextParser::Refill() {
    if (atEnd_) return false;
    const std::size_t n = ReadBlock(block_.get(), blockSize_);
    blockStart_ += end_;
    begin_ = 0;
    end_ = n;
    if (n == 0) atEnd_ = true;
    // One look per block spares every line of most texts the search for a CR or a NUL.
    crInBlock_ = std::memchr(block_.get(), '\r', n) != nullptr;
    nulInBlock_ = std::memchr(block_.get(), '\0', n) != nullptr;
    return n != 0;
}

bool CTextParser::Advance(std::size_t keep, bool throwWhenLonger) {
    if (begin_ == end_ && !Refill()) return false;
    if (skipLF_) {
        skipLF_ = false;
        if (block_[begin_] == '\n') ++begin_;
        if (begin_ == end_ && !Refill()) return false;
    }
    ++lineNumber_;
    bool spilled = false;
    std::size_t total = 0;  // characters of the line so far
    spill_.clear();
    while (true) {
        char* p = block_.get() + begin_;
        const std::size_t available = end_ - begin_;
        const char* lf = static_cast<const char*>(std::memchr(p, '\n', available));
        std::size_t piece = lf ? static_cast<std::size_t>(lf - p) : available;
        std::size_t ending = lf ? 1 : 0;  // characters of the line end in this block
        if (const char* cr = crInBlock_ ? static_cast<const char*>(std::memchr(p, '\r', piece)) : nullptr) {
            piece = static_cast<std::size_t>(cr - p);
            ending = piece + 1 < available && p[piece + 1] == '\n' ? 2 : 1;
            skipLF_ = piece + 1 == available;  // the LF of a CR LF may open the next block
        }
        total += piece;
        if (throwWhenLonger && total > keep) ThrowTooLong(keep);
        if (ending != 0 && !spilled) {  // the whole line lies in the block: hand it out where it is
            line_ = p;
            lineLength_ = std::min(piece, keep);
            truncated_ = piece > keep;
            mayHoldNul_ = nulInBlock_;
            begin_ += piece + ending;
            return true;
        }
        if (spill_.size() < keep) spill_.insert(spill_.end(), p, p + std::min(piece, keep - spill_.size()));
        spilled = true;
        begin_ += piece + ending;
        if (ending != 0) break;
        if (!Refill()) break;  // the text ends without a line end
    }
    lineLength_ = spill_.size();
    truncated_ = total > keep;
    mayHoldNul_ = true;
    spill_.push_back('\0');
    line_ = spill_.data();
    return true;
}

char* CTextParser::ReadString(char* buffer, std::size_t limit) {
    if (!buffer) throw Cfx::CfxResult(E_POINTER, "ReadString needs a buffer.");
    if (limit == 0) throw Cfx::CfxResult(E_INVALIDARG, "ReadString needs room for at least the terminating NUL.");
    if (!Advance(limit - 1, false)) return nullptr;
    std::memcpy(buffer, line_, lineLength_);
    buffer[lineLength_] = '\0';
    return buffer;
}

std::optional<std::string_view> CTextParser::ReadLine(std::size_t limit) {
    if (!Advance(limit, false)) return std::nullopt;
    const void* nul = mayHoldNul_ ? std::memchr(line_, '\0', lineLength_) : nullptr;
    return std::string_view(line_, nul ? static_cast<std::size_t>(static_cast<const char*>(nul) - line_) : lineLength_);
}

char* CTextParser::ReadStringAlloc() {
    if (!Advance(maxLineLength_, true)) return nullptr;
    line_[lineLength_] = '\0';  // in the block this overwrites the CR or LF, already consumed
    return line_;
}

bool CTextParser::Rewind() { return SetLinePosition(0); }

std::uint64_t CTextParser::GetLinePosition() {
    if (skipLF_ && (begin_ < end_ || Refill())) {
        skipLF_ = false;
        if (block_[begin_] == '\n') ++begin_;
    }
    return blockStart_ + begin_;
}

bool CTextParser::SetLinePosition(std::uint64_t position) {
    if (!SeekSource(position)) return false;
    begin_ = end_ = 0;
    blockStart_ = position;
    atEnd_ = false;
    lineNumber_ = 0;
    lineLength_ = 0;
    truncated_ = false;
    skipLF_ = false;
    line_ = nullptr;
    return true;
}

CTextIOStreamParser::CTextIOStreamParser(std::istream& stream, std::size_t blockSize)
    : CTextParser(blockSize), stream_(stream), start_(stream.tellg()) {}

std::size_t CTextIOStreamParser::ReadBlock(char* destination, std::size_t size) {
    if (stream_.bad()) throw Cfx::CfxResult(STG_E_READFAULT, "The text could not be read.");
    stream_.read(destination, static_cast<std::streamsize>(size));
    if (stream_.bad())
        throw Cfx::CfxResult(STG_E_READFAULT, "The text could not be read after line " +
                                                  std::to_string(GetLineNumber()) + ".");
    return static_cast<std::size_t>(stream_.gcount());
}

bool CTextIOStreamParser::SeekSource(std::uint64_t offset) {
    using Offset = std::istream::off_type;
    if (start_ == std::istream::pos_type(-1)) return false;
    if (offset > static_cast<std::uint64_t>(std::numeric_limits<Offset>::max() - Offset(start_))) return false;
    stream_.clear();
    stream_.seekg(start_ + static_cast<Offset>(offset));
    return !stream_.fail();
}
