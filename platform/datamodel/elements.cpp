#include "datamodel/elements.h"

#include <string>

#include "base/text.h"
#include "cfx/cfx.h"

namespace {

using cartovane::text::EqualsNoCase;

// The lookups index the table by number and rely on unique symbols.
constexpr bool TableIsConsistent() {
    for (std::size_t i = 0; i < kElementTable.size(); ++i) {
        if (kElementTable[i].number != static_cast<int>(i)) return false;
        for (std::size_t j = 0; j < i; ++j)
            if (EqualsNoCase(kElementTable[i].symbol, kElementTable[j].symbol) ||
                EqualsNoCase(kElementTable[i].name, kElementTable[j].name))
                return false;
    }
    return kElementTable.size() == kMaxElementNumber + 1;
}
static_assert(TableIsConsistent());

[[noreturn]] void ThrowNotFound(std::string_view what, std::string_view value) {
    throw Cfx::CfxResult(E_INVALIDARG, std::string("No element has the ") + std::string(what) +
                                           " \"" + std::string(value) + "\".");
}

}  // namespace

const xxElement* xxElementFactory::FindElementByType(int number) noexcept {
    if (number < 0 || number > kMaxElementNumber) return nullptr;
    return &kElementTable[static_cast<std::size_t>(number)];
}

const xxElement* xxElementFactory::FindElement(std::string_view symbol) noexcept {
    if (symbol.empty() || symbol.size() > 2) return nullptr;
    for (const xxElement& e : kElementTable)
        if (EqualsNoCase(e.symbol, symbol)) return &e;
    return nullptr;
}

const xxElement* xxElementFactory::FindElementByName(std::string_view name) noexcept {
    for (const xxElement& e : kElementTable)
        if (EqualsNoCase(e.name, name)) return &e;
    return nullptr;
}

const xxElement& xxElementFactory::GetElementByType(int number) {
    if (const xxElement* e = FindElementByType(number)) return *e;
    ThrowNotFound("atomic number", std::to_string(number));
}

const xxElement& xxElementFactory::GetElement(std::string_view symbol) {
    if (const xxElement* e = FindElement(symbol)) return *e;
    ThrowNotFound("symbol", symbol);
}

const xxElement& xxElementFactory::GetElementByName(std::string_view name) {
    if (const xxElement* e = FindElementByName(name)) return *e;
    ThrowNotFound("name", name);
}
