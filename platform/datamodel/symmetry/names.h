// Name matching shared by the group factories (internal).
#pragma once

#include <string>
#include <string_view>

namespace xxSymmetryNames {

// Lower case without blanks, tabs and underscores: "P 1 2_1/c 1" -> "p121/c1". Group symbols
// stay unambiguous without case because only their first letter is a capital.
std::string Normalize(std::string_view name);

// A qualifier word for comparison: lower case without blanks, '-' and '_' ("B_UNIQUE" and
// "B-Unique" -> "bunique").
std::string NormalizeQualifier(std::string_view word);

}  // namespace xxSymmetryNames
