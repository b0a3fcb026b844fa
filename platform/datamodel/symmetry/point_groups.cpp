#include "datamodel/symmetry/point_groups.h"

#include <spglib.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <memory>

#include "cfx/cfx.h"
#include "datamodel/symmetry/names.h"

namespace {

// Other spellings: orientations of the same class and older or alternative symbols.
struct Synonyms {
    std::string_view name;
    std::array<std::string_view, 4> others;
};
constexpr std::array<Synonyms, 15> kSynonyms{{
    {"-1", {"S2"}},
    {"m", {"C1h"}},
    {"mmm", {"2/m2/m2/m", "Vh"}},
    {"222", {"V"}},
    {"-42m", {"-4m2", "Vd"}},
    {"4/mmm", {"4/m2/m2/m"}},
    {"-3", {"S6"}},
    {"32", {"321", "312"}},
    {"3m", {"3m1", "31m"}},
    {"-3m", {"-3m1", "-31m", "-32/m"}},
    {"-6m2", {"-62m"}},
    {"6/mmm", {"6/m2/m2/m"}},
    {"m-3", {"m3", "2/m-3"}},
    {"m-3m", {"m3m", "4/m-32/m"}},
    {"-6", {"3/m"}},
}};

std::vector<xxMatrix3> DistinctRotations(const std::vector<xxSymmetryOperator>& ops, bool& integral) {
    std::vector<xxMatrix3> rotations;
    integral = true;
    for (const auto& op : ops) {
        xxMatrix3 r = op.Rotation();
        for (int i = 0; i < 3; ++i)
            for (int j = 0; j < 3; ++j) {
                if (!std::isfinite(r(i, j)) || std::fabs(r(i, j) - std::nearbyint(r(i, j))) > 1e-3) integral = false;
                r(i, j) = std::nearbyint(r(i, j));
            }
        if (std::find(rotations.begin(), rotations.end(), r) == rotations.end()) rotations.push_back(r);
    }
    return rotations;
}

}  // namespace

bool xxPointGroupDescription::IsCentrosymmetric() const {
    xxMatrix3 inversion;
    inversion(0, 0) = inversion(1, 1) = inversion(2, 2) = -1;
    return group_.FindOperator(xxSymmetryOperator(inversion, {})).has_value();
}

const xxPointGroupFactory& xxPointGroupFactory::Instantiate() {
    static const xxPointGroupFactory factory;
    return factory;
}

xxPointGroupFactory::xxPointGroupFactory() {
    const auto& spaceGroups = xxSpaceGroupFactory::Instantiate();
    for (const auto& sg : spaceGroups.GetDescriptions()) {
        const std::string& name = sg.GetPointGroupName();
        if (std::any_of(descriptions_.begin(), descriptions_.end(),
                        [&](const xxPointGroupDescription& d) { return d.name_ == name; }))
            continue;
        xxPointGroupDescription d;
        d.name_ = name;
        d.schoenflies_ = spg_get_spacegroup_type(sg.GetHallNumber()).pointgroup_schoenflies;
        d.system_ = sg.GetCrystalSystem();
        bool integral = true;
        std::vector<xxSymmetryOperator> ops;
        for (const xxMatrix3& r : DistinctRotations(sg.GetGroup().GetOperators(), integral))
            ops.emplace_back(r, xxVector3{});
        d.group_ = xxSymmetryGroup(xxSymmetryGroup::Trusted{}, std::move(ops));
        d.aliases_ = {xxSymmetryNames::Normalize(d.name_), xxSymmetryNames::Normalize(d.schoenflies_)};
        for (const Synonyms& s : kSynonyms)
            if (s.name == d.name_)
                for (std::string_view other : s.others)
                    if (!other.empty()) d.aliases_.push_back(xxSymmetryNames::Normalize(other));
        descriptions_.push_back(std::move(d));
    }
}

const xxPointGroupDescription* xxPointGroupFactory::FindPointGroupByName(std::string_view name) const {
    const std::string key = xxSymmetryNames::Normalize(name);
    if (key.empty()) return nullptr;
    for (const auto& d : descriptions_)
        if (std::find(d.aliases_.begin(), d.aliases_.end(), key) != d.aliases_.end()) return &d;
    return nullptr;
}

const xxPointGroupDescription& xxPointGroupFactory::GetPointGroupByName(std::string_view name) const {
    if (const auto* d = FindPointGroupByName(name)) return *d;
    throw Cfx::CfxResult(E_INVALIDARG, "Point group name " + std::string(name) + " not recognised.");
}

const xxPointGroupDescription* xxPointGroupFactory::FindPointGroupByOperatorClassification(
    const std::vector<xxSymmetryOperator>& operators) const {
    bool integral = true;
    const std::vector<xxMatrix3> rotations = DistinctRotations(operators, integral);
    if (!integral || rotations.empty() || rotations.size() > 48) return nullptr;
    std::vector<xxSymmetryOperator> pure;
    for (const auto& r : rotations) pure.emplace_back(r, xxVector3{});
    if (xxSymmetryGroup::CheckOperators(pure)) return nullptr;

    auto flat = std::make_unique<int[][3][3]>(rotations.size());
    for (std::size_t k = 0; k < rotations.size(); ++k)
        for (int i = 0; i < 3; ++i)
            for (int j = 0; j < 3; ++j) flat[k][i][j] = static_cast<int>(rotations[k](i, j));
    char symbol[6] = {};
    int transform[3][3];
    const int number = spg_get_pointgroup(symbol, transform, flat.get(), static_cast<int>(rotations.size()));
    if (number <= 0) return nullptr;
    return FindPointGroupByName(symbol);
}
