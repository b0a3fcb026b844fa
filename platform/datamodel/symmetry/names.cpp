#include "datamodel/symmetry/names.h"

#include "base/text.h"
using cartovane::text::ToLower;

std::string xxSymmetryNames::Normalize(std::string_view name) {
    std::string out;
    out.reserve(name.size());
    for (char c : name)
        if (c != ' ' && c != '\t' && c != '_') out += ToLower(c);
    return out;
}

std::string xxSymmetryNames::NormalizeQualifier(std::string_view word) {
    std::string out;
    out.reserve(word.size());
    for (char c : word)
        if (c != ' ' && c != '\t' && c != '_' && c != '-') out += ToLower(c);
    return out;
}
