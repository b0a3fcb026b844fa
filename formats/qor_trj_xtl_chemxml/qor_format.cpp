#include "formats/qor_trj_xtl_chemxml/qor_format.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace cartovane::qor {

namespace {

template <std::size_t N>
std::optional<std::size_t> RowOf(const std::array<std::string_view, N>& names, std::string_view name) {
    for (std::size_t i = 0; i < N; ++i)
        if (names[i] == name) return i;
    return std::nullopt;
}

}  // namespace

RecordKind KindOf(std::string_view text) {
    for (const RecordKindRow& row : kRecordKinds)
        if (text.substr(0, row.prefix) == row.name.substr(0, row.prefix)) return row.kind;
    return RecordKind::Unknown;
}

std::optional<AtomAttribute> FindAtomAttribute(std::string_view name) {
    if (auto row = RowOf(kAtomAttributeNames, name)) return static_cast<AtomAttribute>(*row);
    return std::nullopt;
}

std::optional<BondAttribute> FindBondAttribute(std::string_view name) {
    if (auto row = RowOf(kBondAttributeNames, name)) return static_cast<BondAttribute>(*row);
    return std::nullopt;
}

const AclCode* FindAclCode(int code) {
    for (const AclCode& row : kAclCodes)
        if (row.code == code) return &row;
    return nullptr;
}

int PseudoElementCode(std::string_view symbol) {
    for (const AclCode& row : kAclCodes)
        if ((row.kind == AclKind::Dummy || row.kind == AclKind::PiCentre) && row.symbol == symbol) return row.code;
    return kUnlistedDummyCode;
}

int CenteringCode(std::string_view name) {
    for (std::size_t i = 0; i < kUnknownCentering; ++i)
        if (kCenteringNames[i] == name) return static_cast<int>(i);
    return kUnknownCentering;
}

int HybridizationValue(std::string_view name) {
    for (const NamedValue& row : kHybridizations)
        if (row.name == name) return row.value;
    return kUnknownHybridization;
}

std::optional<std::string_view> HybridizationName(int value) {
    if (value == 0) return std::nullopt;  // "None" is the default and is not written
    for (const NamedValue& row : kHybridizations)
        if (row.value == value) return row.name;
    return std::nullopt;
}

namespace {
// The characters quoted texts carry behind a backslash.
bool IsEscapedInText(char c) { return c == '"' || c == '\\' || c == '(' || c == ')'; }
}  // namespace

bool IsEscaped(std::string_view text, std::size_t pos) {
    std::size_t backslashes = 0;
    while (pos > backslashes && text[pos - backslashes - 1] == '\\') ++backslashes;
    return backslashes % 2 == 1;
}

bool BlankLastUnescaped(std::span<char> text, char c) {
    const std::string_view view(text.data(), text.size());
    for (std::size_t i = text.size(); i-- > 0;)
        if (text[i] == c && !IsEscaped(view, i)) {
            text[i] = ' ';
            return true;
        }
    return false;
}

bool BlankFirstUnescaped(std::span<char> text, char c) {
    const std::string_view view(text.data(), text.size());
    for (std::size_t i = 0; i < text.size(); ++i)
        if (text[i] == c && !IsEscaped(view, i)) {
            text[i] = ' ';
            return true;
        }
    return false;
}

void BlankAllUnescaped(std::span<char> text, std::string_view chars) {
    // The delimiters are below 64, so a bit mask tells them; any other is matched one by one.
    std::uint64_t mask = 0;
    std::string_view others;
    for (std::size_t i = 0; i < chars.size(); ++i) {
        const auto u = static_cast<unsigned char>(chars[i]);
        if (u >= 64) {
            others = chars.substr(i);
            break;
        }
        mask |= std::uint64_t{1} << u;
    }
    const auto blanked = [&](char c) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 64) return ((mask >> u) & 1) != 0;
        return others.find(c) != std::string_view::npos;
    };
    if (text.empty()) return;
    if (std::memchr(text.data(), '\\', text.size()) == nullptr) {
        // Nothing is escaped: most lines.
        for (char& c : text)
            if (blanked(c)) c = ' ';
        return;
    }
    // Left to right with the parity of the backslash run so far: a character right after an
    // unescaped backslash is escaped.
    bool escaped = false;
    for (char& c : text) {
        if (escaped) {
            escaped = false;
        } else if (c == '\\') {
            escaped = true;
        } else if (blanked(c)) {
            c = ' ';
        }
    }
}

std::string UnescapeBackslashes(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 1 < text.size() && IsEscapedInText(text[i + 1])) ++i;
        out += text[i];
    }
    return out;
}

std::string EscapeQuotes(std::string_view text) {
    std::string out;
    out.reserve(text.size() + 2);
    for (char c : text) {
        if (IsEscapedInText(c)) out += '\\';
        out += (c == '\n' || c == '\r') ? ' ' : c;
    }
    return out;
}

}  // namespace cartovane::qor
