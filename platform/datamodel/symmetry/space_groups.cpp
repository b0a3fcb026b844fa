#include "datamodel/symmetry/space_groups.h"

#include <spglib.h>

#include <algorithm>
#include <memory>

#include "base/text.h"
#include "cfx/cfx.h"
#include "datamodel/symmetry/names.h"

namespace {

using cartovane::text::SplitFields;
using cartovane::text::ToLower;
using cartovane::text::TrimBlanks;

constexpr int kHallEntries = 530;

std::string Without(std::string_view s, char drop) {
    std::string out;
    for (char c : s)
        if (c != drop) out += c;
    return out;
}

std::string ReplaceAll(std::string s, std::string_view from, std::string_view to) {
    for (std::size_t pos = s.find(from); pos != std::string::npos; pos = s.find(from, pos + to.size()))
        s.replace(pos, from.size(), to);
    return s;
}

bool IsMonoclinic(int number) { return number >= 3 && number <= 15; }
bool IsCubic(int number) { return number >= 195; }
bool OnHexagonalAxes(int number, std::string_view choice) {
    return number >= 143 && number <= 194 && choice != "R";
}

// "P 1 2_1/c 1" -> "P 2_1/c": monoclinic short symbols of every setting drop the 1 axes.
std::string ShortFromFull(std::string_view full) {
    std::string out;
    for (std::string_view token : SplitFields(full, ' ')) {
        if (token.empty() || token == "1") continue;
        if (!out.empty()) out += ' ';
        out += token;
    }
    return out;
}

xxCentering CenteringFromHall(std::string_view hall) {
    if (!hall.empty() && hall.front() == '-') hall.remove_prefix(1);
    switch (hall.empty() ? 'P' : hall.front()) {
        case 'I': return xxCentering::BodyCentered;
        case 'F': return xxCentering::FaceCentered;
        case 'A': return xxCentering::AFaceCentered;
        case 'B': return xxCentering::BFaceCentered;
        case 'C': return xxCentering::CFaceCentered;
        case 'R': return xxCentering::Rhombohedral;
        default: return xxCentering::Primitive;
    }
}

std::string QualifierFor(int number, std::string_view choice) {
    if (choice.empty()) return {};
    if (IsMonoclinic(number)) {
        std::string_view c = choice;
        if (c.front() == '-') c.remove_prefix(1);
        std::string q(1, cartovane::text::ToUpper(c.front()));
        q += "-Unique";
        if (c.size() > 1) q += std::string(",Cell-") + c[1];
        return q;
    }
    if (choice == "H") return "Hexagonal";
    if (choice == "R") return "Rhombohedral";
    if (choice.front() == '1' || choice.front() == '2') return std::string("Origin-") + choice.front();
    return {};  // orthorhombic axis permutations: the symbol tells them apart
}

std::vector<std::string> NormalisedWords(std::string_view list) {
    std::vector<std::string> words;
    for (std::string_view w : SplitFields(list, ','))
        if (!w.empty()) words.push_back(xxSymmetryNames::NormalizeQualifier(w));
    return words;
}

}  // namespace

xxCrystalSystem xxSpaceGroupDescription::GetCrystalSystem() const {
    if (itNumber_ <= 2) return xxCrystalSystem::Triclinic;
    if (itNumber_ <= 15) return xxCrystalSystem::Monoclinic;
    if (itNumber_ <= 74) return xxCrystalSystem::Orthorhombic;
    if (itNumber_ <= 142) return xxCrystalSystem::Tetragonal;
    if (itNumber_ <= 167) return xxCrystalSystem::Trigonal;
    if (itNumber_ <= 194) return xxCrystalSystem::Hexagonal;
    return xxCrystalSystem::Cubic;
}

int xxSpaceGroupDescription::GetOperatorFromDravik4(int number) const {
    return number >= 1 && static_cast<std::size_t>(number) <= GetNumOperators() ? number : 0;
}

const xxSpaceGroupFactory& xxSpaceGroupFactory::Instantiate() {
    static const xxSpaceGroupFactory factory;
    return factory;
}

xxSpaceGroupFactory::xxSpaceGroupFactory() {
    descriptions_.reserve(kHallEntries);
    tags_.reserve(kHallEntries);
    // spglib's largest group has 192 operators.
    auto rotations = std::make_unique<int[][3][3]>(192);
    auto translations = std::make_unique<double[][3]>(192);
    int previousNumber = 0, option = 0;
    std::size_t firstOfNumber = 0;
    for (int hall = 1; hall <= kHallEntries; ++hall) {
        const SpglibSpacegroupType type = spg_get_spacegroup_type(hall);
        const int n = spg_get_symmetry_from_database(rotations.get(), translations.get(), hall);
        if (type.number < 1 || type.number > 230 || n < 1 || n > 192)
            throw Cfx::CfxResult(E_FAIL, "The space-group database has no entry for Hall number " +
                                             std::to_string(hall) + ".");
        if (type.number != previousNumber) {
            previousNumber = type.number;
            option = 0;
            firstOfNumber = descriptions_.size();
        }
        xxSpaceGroupDescription d;
        d.itNumber_ = type.number;
        d.hallNumber_ = hall;
        d.optionNumber_ = ++option;
        d.choice_ = type.choice;
        d.hallSymbol_ = type.hall_symbol;
        d.schoenflies_ = type.schoenflies;
        d.pointGroup_ = TrimBlanks(type.pointgroup_international);
        d.fullName_ = Without(type.international_full, '_');
        d.name_ = Without(Without(IsMonoclinic(type.number) ? ShortFromFull(type.international_full)
                                                             : std::string(type.international_short),
                                  '_'),
                          ' ');
        d.qualifier_ = QualifierFor(type.number, d.choice_);
        d.centering_ = CenteringFromHall(d.hallSymbol_);
        std::vector<xxSymmetryOperator> ops;
        ops.reserve(static_cast<std::size_t>(n));
        for (std::size_t k = 0; k < static_cast<std::size_t>(n); ++k) {
            xxMatrix3 r;
            xxVector3 t;
            for (int i = 0; i < 3; ++i) {
                for (int j = 0; j < 3; ++j) r(i, j) = rotations[k][i][j];
                t[i] = translations[k][i];
            }
            ops.emplace_back(r, t);
        }
        d.group_ = xxSymmetryGroup(xxSymmetryGroup::Trusted{}, std::move(ops));

        // A few orthorhombic settings share their short or full symbol with another setting of
        // the group; the axes of the setting then join the qualifier.
        for (std::size_t i = firstOfNumber; i < descriptions_.size(); ++i)
            if ((descriptions_[i].name_ == d.name_ || descriptions_[i].fullName_ == d.fullName_) &&
                descriptions_[i].qualifier_ == d.qualifier_) {
                std::string_view axes = d.choice_;
                if (!axes.empty() && (axes.front() == '1' || axes.front() == '2')) axes.remove_prefix(1);
                d.qualifier_ += (d.qualifier_.empty() ? "Axes " : ",Axes ") + std::string(axes);
                break;
            }
        std::vector<std::string> tags = NormalisedWords(d.qualifier_);
        if (OnHexagonalAxes(d.itNumber_, d.choice_) && d.choice_ != "H") tags.push_back("hexagonal");
        tags_.push_back(std::move(tags));

        const std::size_t index = descriptions_.size();
        // Monoclinic short symbols and the first of several "="-joined symbols are the group's
        // standard symbol, not this setting's.
        std::vector<std::string> own = {d.name_, type.international_full};
        if (!IsMonoclinic(d.itNumber_)) own.emplace_back(type.international_short);
        const std::vector<std::string_view> parts = SplitFields(type.international, '=');
        for (std::size_t i = parts.size() > 1 ? 1 : 0; i < parts.size(); ++i) own.emplace_back(parts[i]);
        std::vector<std::string> standard = {descriptions_.size() == firstOfNumber
                                                 ? d.name_
                                                 : descriptions_[firstOfNumber].name_};
        for (auto* list : {&own, &standard}) {
            const int rank = list == &own ? 0 : 1;
            for (const std::string& alias : *list) {
                aliases_.push_back({xxSymmetryNames::Normalize(alias), rank, index});
                if (IsCubic(d.itNumber_) && alias.find("-3") != std::string::npos)
                    aliases_.push_back({xxSymmetryNames::Normalize(ReplaceAll(alias, "-3", "3")), rank, index});
            }
        }
        descriptions_.push_back(std::move(d));
    }
    std::stable_sort(aliases_.begin(), aliases_.end());
}

const xxSpaceGroupDescription* xxSpaceGroupFactory::Select(std::span<const Alias> candidates,
                                                           std::string_view qualifier,
                                                           std::string_view choice) const {
    const std::vector<std::string> words = NormalisedWords(qualifier);
    const std::string code = ToLower(choice);
    const Alias* best = nullptr;
    for (const Alias& a : candidates) {
        const xxSpaceGroupDescription& d = descriptions_[a.index];
        const std::vector<std::string>& tags = tags_[a.index];
        auto tagged = [&](std::string_view w) { return std::find(tags.begin(), tags.end(), w) != tags.end(); };
        if (!code.empty()) {
            const bool fits = code == "1" || code == "2" ? tagged("origin" + code)
                              : code == "h"              ? tagged("hexagonal")
                              : code == "r"              ? tagged("rhombohedral")
                                                         : ToLower(d.choice_) == code;
            if (!fits) continue;
        }
        if (!std::all_of(words.begin(), words.end(), tagged)) continue;
        if (!best || a.rank < best->rank || (a.rank == best->rank && a.index < best->index)) best = &a;
    }
    return best ? &descriptions_[best->index] : nullptr;
}

const xxSpaceGroupDescription* xxSpaceGroupFactory::FindSpaceGroupByName(std::string_view name,
                                                                         std::string_view qualifier) const {
    std::string_view choice;
    if (const std::size_t colon = name.rfind(':'); colon != std::string_view::npos) {
        choice = TrimBlanks(name.substr(colon + 1));
        name = name.substr(0, colon);
        if (choice.empty()) return nullptr;
    }
    const std::string key = xxSymmetryNames::Normalize(name);
    if (key.empty()) return nullptr;
    const Alias probe{key, 0, 0};
    const auto [first, last] = std::equal_range(aliases_.begin(), aliases_.end(), probe);
    return Select(std::span<const Alias>(first, last), qualifier, choice);
}

const xxSpaceGroupDescription* xxSpaceGroupFactory::FindSpaceGroupByNumber(int itNumber,
                                                                           std::string_view qualifier) const {
    if (itNumber < 1 || itNumber > 230) return nullptr;
    std::vector<Alias> candidates;
    for (std::size_t i = 0; i < descriptions_.size(); ++i)
        if (descriptions_[i].itNumber_ == itNumber) candidates.push_back({{}, 0, i});
    return Select(candidates, qualifier, {});
}

const xxSpaceGroupDescription* xxSpaceGroupFactory::FindSpaceGroupByNumber(int itNumber, int optionNumber) const {
    if (itNumber < 1 || itNumber > 230) return nullptr;
    for (const xxSpaceGroupDescription& d : descriptions_)
        if (d.itNumber_ == itNumber && d.optionNumber_ == optionNumber) return &d;
    return nullptr;
}

const xxSpaceGroupDescription* xxSpaceGroupFactory::FindSpaceGroupByHallNumber(int hallNumber) const {
    if (hallNumber < 1 || hallNumber > static_cast<int>(descriptions_.size())) return nullptr;
    return &descriptions_[static_cast<std::size_t>(hallNumber - 1)];
}

const xxSpaceGroupDescription* xxSpaceGroupFactory::FindSpaceGroupByOperators(
    const std::vector<xxSymmetryOperator>& operators) const {
    if (xxSymmetryGroup::CheckOperators(operators)) return nullptr;
    const xxSymmetryGroup group = xxSymmetryGroup::FromOperators(operators);
    for (const auto& d : descriptions_)
        if (d.GetNumOperators() == group.GetNumOperators() && d.group_.IsSameGroup(group)) return &d;
    return nullptr;
}

const xxSpaceGroupDescription& xxSpaceGroupFactory::GetSpaceGroupByName(std::string_view name,
                                                                        std::string_view qualifier) const {
    if (const auto* d = FindSpaceGroupByName(name, qualifier)) return *d;
    std::string text = "Space group name " + std::string(name);
    if (!qualifier.empty()) text += " [" + std::string(qualifier) + "]";
    throw Cfx::CfxResult(E_INVALIDARG, text + " not recognised.");
}

const xxSpaceGroupDescription& xxSpaceGroupFactory::GetSpaceGroupByNumber(int itNumber,
                                                                          std::string_view qualifier) const {
    if (const auto* d = FindSpaceGroupByNumber(itNumber, qualifier)) return *d;
    std::string text = "Space group number " + std::to_string(itNumber);
    if (!qualifier.empty()) text += " [" + std::string(qualifier) + "]";
    throw Cfx::CfxResult(E_INVALIDARG, text + " not recognised.");
}
