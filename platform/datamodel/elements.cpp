#include "datamodel/elements.h"

#include <algorithm>
#include <array>
#include <string>
#include <vector>

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

// Sorted by element, then mass number, every isotope of an element that exists.
constexpr bool IsotopesAreSorted() {
    for (std::size_t i = 0; i < kIsotopeTable.size(); ++i) {
        const xxIsotope& x = kIsotopeTable[i];
        if (x.element < 1 || x.element > kMaxElementNumber || x.massNumber < x.element || x.mass <= 0) return false;
        if (i == 0) continue;
        const xxIsotope& before = kIsotopeTable[i - 1];
        if (before.element > x.element || (before.element == x.element && before.massNumber >= x.massNumber))
            return false;
    }
    return true;
}
static_assert(IsotopesAreSorted());

[[noreturn]] void ThrowNotFound(std::string_view what, std::string_view value) {
    throw Cfx::CfxResult(E_INVALIDARG, std::string("No element has the ") + std::string(what) +
                                           " \"" + std::string(value) + "\".");
}

// The table the lookups read: the built-in one until an element is set. Constant-initialised,
// so it serves static initialisers of any file.
constinit std::array<xxElement, kElementTable.size()> current = kElementTable;

// Each element's slice of kIsotopeTable.
using IsotopeLists = std::array<std::span<const xxIsotope>, kElementTable.size()>;
constexpr IsotopeLists BuiltInIsotopes() {
    IsotopeLists lists{};
    std::size_t i = 0;
    for (std::size_t z = 0; z < lists.size(); ++z) {
        const std::size_t first = i;
        while (i < kIsotopeTable.size() && kIsotopeTable[i].element == static_cast<int>(z)) ++i;
        lists[z] = std::span<const xxIsotope>(kIsotopeTable.data() + first, i - first);
    }
    return lists;
}
// The isotopes the lookups read, by atomic number.
constinit IsotopeLists currentIsotopes = BuiltInIsotopes();

// What the elements set own: symbols, names and isotopes.
struct SetData {
    std::array<std::string, kElementTable.size()> symbols, names;
    std::array<std::vector<xxIsotope>, kElementTable.size()> isotopes;
};
SetData& Set() {
    static SetData data;
    return data;
}

}  // namespace

std::span<const xxIsotope> xxElement::Isotopes() const noexcept {
    if (number < 0 || number > kMaxElementNumber) return {};
    return currentIsotopes[static_cast<std::size_t>(number)];
}

const xxIsotope* xxElement::FindIsotope(int massNumber) const noexcept {
    const std::span<const xxIsotope> own = Isotopes();
    const xxIsotope* end = own.data() + own.size();
    const xxIsotope* it =
        std::lower_bound(own.data(), end, massNumber, [](const xxIsotope& x, int a) { return x.massNumber < a; });
    return it != end && it->massNumber == massNumber ? it : nullptr;
}

std::span<const xxElement> xxElementFactory::Table() noexcept { return current; }

void xxElementFactory::SetElementData(int number, std::string_view symbol, std::string_view name, double mass,
                                      double covalentRadius, std::span<const xxIsotope> isotopes) {
    if (number < 0 || number > kMaxElementNumber) ThrowNotFound("atomic number", std::to_string(number));
    const auto i = static_cast<std::size_t>(number);
    SetData& data = Set();
    data.symbols[i].assign(symbol);
    data.names[i].assign(name);
    std::vector<xxIsotope>& own = data.isotopes[i];
    own.assign(isotopes.begin(), isotopes.end());
    for (xxIsotope& isotope : own) isotope.element = number;
    std::sort(own.begin(), own.end(), [](const xxIsotope& a, const xxIsotope& b) { return a.massNumber < b.massNumber; });
    current[i] = {number, data.symbols[i], data.names[i], mass, covalentRadius};
    currentIsotopes[i] = own;
}

void xxElementFactory::ResetElementData() {
    current = kElementTable;
    currentIsotopes = BuiltInIsotopes();
}

const xxElement* xxElementFactory::FindElementByType(int number) noexcept {
    if (number < 0 || number > kMaxElementNumber) return nullptr;
    return &current[static_cast<std::size_t>(number)];
}

const xxElement* xxElementFactory::FindElement(std::string_view symbol) noexcept {
    if (symbol.empty()) return nullptr;
    for (const xxElement& e : current)
        if (EqualsNoCase(e.symbol, symbol)) return &e;
    return nullptr;
}

const xxElement* xxElementFactory::FindElementByName(std::string_view name) noexcept {
    for (const xxElement& e : current)
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
