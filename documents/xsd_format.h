// The texts of XML document attribute values that are lists: repeat-compressed value lists
// ("5,x3,7"), escaped string lists, bit vectors and reference lists ("ci(10):2x4,8+5"). The
// writer and the reader share them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/text.h"

// Joins item texts with ","; a run of equal texts is the first text then "x" and the number of
// further repetitions. The first item is never a repeat.
class RepeatListWriter {
public:
    void Add(std::string text);
    std::string Finish();

private:
    void Close();
    std::string out_;
    std::string previous_;
    std::uint64_t repeats_ = 0;
    bool any_ = false;
};

// Items escaped with "\" before "\" and ","; an empty item cannot be written (the reader skips
// empty items) and throws xmlException naming the attribute.
std::string StringListText(const std::vector<std::string>& items, const char* name);

// Identifiers of a reference collection; 0 stands for null. Fewer than 10: joined by ","; else
// "ci(N):" and runs: "id", "NxID" (N times ID) or "N+F" (N consecutive IDs from F).
std::string ReferenceListText(const std::vector<std::uint32_t>& ids);

// Identifier and count texts read as atoi reads them (base/text.h).
using cartovane::text::LeadingInteger;
