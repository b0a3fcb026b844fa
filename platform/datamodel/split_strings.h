// Splitting a text of separated items, as lists of identifiers are written.
#pragma once

#include <string_view>
#include <vector>

// The pieces between single separators, untrimmed; empty pieces are kept, so a text of n
// separators has n + 1 pieces (the empty text is one empty piece).
inline std::vector<std::string_view> SplitStrings(std::string_view text, char separator) {
    std::vector<std::string_view> pieces;
    for (std::size_t start = 0;;) {
        const std::size_t end = text.find(separator, start);
        pieces.push_back(text.substr(start, end == std::string_view::npos ? end : end - start));
        if (end == std::string_view::npos) return pieces;
        start = end + 1;
    }
}
