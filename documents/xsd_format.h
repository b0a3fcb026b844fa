// The texts of XML document attribute values that are lists: repeat-compressed value lists
// ("5,x3,7"), escaped string lists, bit vectors and reference lists ("ci(10):2x4,8+5"). The
// writer and the reader share them.
#pragma once

#include <array>
#include <cstddef>
#include <cstring>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

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

// A number read as atoi reads it (leading white space and a sign, digits up to the first other
// character; no digits read as 0); nullopt when it does not fit in 32 bits signed.
std::optional<std::int64_t> LeadingInteger(std::string_view text);

// Interned XML classes by the callers' name pointers. Names are mostly string constants, so
// the address finds the class without hashing the text; the text is compared all the same, as
// an address may be reused for another name. A name without a class is remembered too (the
// reader asks for every property an object may have), so the classes must not change while
// the cache is in use.
template <class C>
class NameCache {
public:
    // lookup(name) gives the class, or null.
    template <class Lookup>
    const C* Get(const char* name, Lookup&& lookup) {
        Entry& e = entries_[(reinterpret_cast<std::uintptr_t>(name) >> 3) % entries_.size()];
        if (e.name == name && std::strcmp(e.cls ? e.cls->GetName().c_str() : e.text.data(), name) == 0) return e.cls;
        const C* cls = lookup(name);
        const std::size_t length = std::strlen(name);
        if (cls || length < e.text.size()) {
            e.name = name;
            e.cls = cls;
            if (!cls) std::memcpy(e.text.data(), name, length + 1);
        }
        return cls;
    }
    void Clear() { entries_ = {}; }

private:
    struct Entry {
        const char* name = nullptr;
        const C* cls = nullptr;
        std::array<char, 32> text{};  // the name, when it has no class
    };
    std::array<Entry, 256> entries_{};
};
