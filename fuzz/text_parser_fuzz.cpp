// The line reader against a plain split of the same text.
//
// Input: byte 0 picks the block size (small ones put line ends across block boundaries), byte 1
// the ReadString and ReadLine limit, byte 2 the line-length cap of ReadStringAlloc (top bit set)
// and byte 3, two bits a line, which read each line takes; the rest is the text.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "cfx/cfx.h"
#include "sdk/text_parser.h"

namespace {

std::vector<std::string_view> Split(std::string_view text) {
    std::vector<std::string_view> lines;
    while (!text.empty()) {
        const std::size_t end = text.find_first_of("\r\n");
        lines.push_back(text.substr(0, end));
        if (end == std::string_view::npos) break;
        const bool pair = text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n';
        text.remove_prefix(end + (pair ? 2 : 1));
    }
    return lines;
}

void Check(bool ok) {
    if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 4) return 0;
    const std::size_t blockSize = data[0] < 16 ? std::size_t{1} + data[0] : std::size_t{data[0]} * 64;
    const std::size_t limit = std::size_t{1} + data[1];
    const bool capped = (data[2] & 0x80) != 0;
    const std::size_t cap = data[2] & 0x7f;
    const unsigned pattern = data[3];
    const std::string text(reinterpret_cast<const char*>(data + 4), size - 4);
    const std::vector<std::string_view> expected = Split(text);

    std::istringstream in(text);
    CTextIOStreamParser parser(in, blockSize);
    if (capped) parser.SetMaxLineLength(cap);
    std::vector<char> buffer(limit);
    for (std::size_t i = 0; i < expected.size(); ++i) {
        const std::string_view want = expected[i];
        const unsigned read = (pattern >> (i % 4 * 2)) & 3;
        if (read == 1) {
            Check(parser.ReadString(buffer.data(), limit) == buffer.data());
            const std::size_t kept = std::min(want.size(), limit - 1);
            Check(parser.GetLineLength() == kept && std::string_view(buffer.data(), kept) == want.substr(0, kept));
            Check(buffer[kept] == '\0' && parser.WasLineTruncated() == (want.size() > kept));
        } else if (read == 2) {
            const std::optional<std::string_view> line = parser.ReadLine(limit);
            const std::string_view kept = want.substr(0, std::min(want.size(), limit));
            Check(line && *line == kept.substr(0, kept.find('\0')) && parser.GetLineLength() == kept.size());
            Check(parser.WasLineTruncated() == (want.size() > kept.size()));
        } else {
            try {
                const char* line = parser.ReadStringAlloc();
                Check(!capped || want.size() <= cap);
                Check(line && std::string_view(line, parser.GetLineLength()) == want && line[want.size()] == '\0');
            } catch (const Cfx::CfxResult& r) {
                Check(capped && want.size() > cap && r.Hr() == E_FAIL);
                return 0;  // the rest of an overlong line is not for reading on
            }
        }
        Check(parser.GetLineNumber() == i + 1);
    }
    Check(parser.ReadStringAlloc() == nullptr && parser.ReadString(buffer.data(), limit) == nullptr);
    Check(parser.Rewind() && parser.GetLineNumber() == 0);
    if (!expected.empty()) {
        Check(parser.ReadString(buffer.data(), limit) != nullptr);
        Check(std::string_view(buffer.data(), parser.GetLineLength()) == expected[0].substr(0, limit - 1));
    }
    return 0;
}
