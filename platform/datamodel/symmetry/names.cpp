#include "datamodel/symmetry/names.h"

namespace {
char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }
}  // namespace

std::string xxSymmetryNames::Normalize(std::string_view name) {
    std::string out;
    out.reserve(name.size());
    for (char c : name)
        if (c != ' ' && c != '\t' && c != '_') out += Lower(c);
    return out;
}

std::string xxSymmetryNames::NormalizeQualifier(std::string_view word) {
    std::string out;
    out.reserve(word.size());
    for (char c : word)
        if (c != ' ' && c != '\t' && c != '_' && c != '-') out += Lower(c);
    return out;
}
