#include "datamodel/symmetry/plane_groups.h"

#include <algorithm>
#include <array>
#include <initializer_list>

#include "cfx/cfx.h"
#include "datamodel/symmetry/names.h"

namespace {

struct PlaneGroupRow {
    int number;
    std::string_view name;
    std::string_view fullName;
    std::string_view oldName;  // empty when the same as name
    std::initializer_list<std::string_view> operators;
};

// International Tables, Vol. A, plane groups: coordinates of the general position.
const std::array<PlaneGroupRow, 17> kPlaneGroups{{
    {1, "p1", "p1", "", {"x,y,z"}},
    {2, "p2", "p2", "", {"x,y,z", "-x,-y,z"}},
    {3, "pm", "p1m1", "", {"x,y,z", "-x,y,z"}},
    {4, "pg", "p1g1", "", {"x,y,z", "-x,y+1/2,z"}},
    {5, "cm", "c1m1", "", {"x,y,z", "-x,y,z", "x+1/2,y+1/2,z", "-x+1/2,y+1/2,z"}},
    {6, "p2mm", "p2mm", "pmm", {"x,y,z", "-x,-y,z", "-x,y,z", "x,-y,z"}},
    {7, "p2mg", "p2mg", "pmg", {"x,y,z", "-x,-y,z", "-x+1/2,y,z", "x+1/2,-y,z"}},
    {8, "p2gg", "p2gg", "pgg", {"x,y,z", "-x,-y,z", "-x+1/2,y+1/2,z", "x+1/2,-y+1/2,z"}},
    {9, "c2mm", "c2mm", "cmm",
     {"x,y,z", "-x,-y,z", "-x,y,z", "x,-y,z", "x+1/2,y+1/2,z", "-x+1/2,-y+1/2,z", "-x+1/2,y+1/2,z",
      "x+1/2,-y+1/2,z"}},
    {10, "p4", "p4", "", {"x,y,z", "-x,-y,z", "-y,x,z", "y,-x,z"}},
    {11, "p4mm", "p4mm", "p4m", {"x,y,z", "-x,-y,z", "-y,x,z", "y,-x,z", "-x,y,z", "x,-y,z", "y,x,z", "-y,-x,z"}},
    {12, "p4gm", "p4gm", "p4g",
     {"x,y,z", "-x,-y,z", "-y,x,z", "y,-x,z", "-x+1/2,y+1/2,z", "x+1/2,-y+1/2,z", "y+1/2,x+1/2,z",
      "-y+1/2,-x+1/2,z"}},
    {13, "p3", "p3", "", {"x,y,z", "-y,x-y,z", "-x+y,-x,z"}},
    {14, "p3m1", "p3m1", "", {"x,y,z", "-y,x-y,z", "-x+y,-x,z", "-y,-x,z", "-x+y,y,z", "x,x-y,z"}},
    {15, "p31m", "p31m", "", {"x,y,z", "-y,x-y,z", "-x+y,-x,z", "y,x,z", "x-y,-y,z", "-x,-x+y,z"}},
    {16, "p6", "p6", "", {"x,y,z", "-y,x-y,z", "-x+y,-x,z", "-x,-y,z", "y,-x+y,z", "x-y,x,z"}},
    {17, "p6mm", "p6mm", "p6m",
     {"x,y,z", "-y,x-y,z", "-x+y,-x,z", "-x,-y,z", "y,-x+y,z", "x-y,x,z", "-y,-x,z", "-x+y,y,z", "x,x-y,z",
      "y,x,z", "x-y,-y,z", "-x,-x+y,z"}},
}};

}  // namespace

const xxPlaneGroupFactory& xxPlaneGroupFactory::Instantiate() {
    static const xxPlaneGroupFactory factory;
    return factory;
}

xxPlaneGroupFactory::xxPlaneGroupFactory() {
    descriptions_.reserve(kPlaneGroups.size());
    for (const PlaneGroupRow& row : kPlaneGroups) {
        xxPlaneGroupDescription d;
        d.number_ = row.number;
        d.name_ = row.name;
        d.fullName_ = row.fullName;
        for (std::string_view alias : {row.name, row.fullName, row.oldName})
            if (!alias.empty()) d.aliases_.push_back(xxSymmetryNames::Normalize(alias));
        std::vector<xxSymmetryOperator> ops;
        for (std::string_view symbol : row.operators) ops.push_back(xxSymmetryOperator::FromSymbol(symbol));
        d.group_ = xxSymmetryGroup(xxSymmetryGroup::Trusted{}, std::move(ops));
        descriptions_.push_back(std::move(d));
    }
}

const xxPlaneGroupDescription* xxPlaneGroupFactory::FindPlaneGroupByName(std::string_view name) const {
    const std::string key = xxSymmetryNames::Normalize(name);
    for (const auto& d : descriptions_)
        if (std::find(d.aliases_.begin(), d.aliases_.end(), key) != d.aliases_.end()) return &d;
    return nullptr;
}

const xxPlaneGroupDescription* xxPlaneGroupFactory::FindPlaneGroupByNumber(int number) const {
    if (number < 1 || number > static_cast<int>(descriptions_.size())) return nullptr;
    return &descriptions_[static_cast<std::size_t>(number - 1)];
}

const xxPlaneGroupDescription* xxPlaneGroupFactory::FindPlaneGroupByOperators(
    const std::vector<xxSymmetryOperator>& operators) const {
    if (xxSymmetryGroup::CheckOperators(operators)) return nullptr;
    const xxSymmetryGroup group = xxSymmetryGroup::FromOperators(operators);
    for (const auto& d : descriptions_)
        if (d.group_.IsSameGroup(group)) return &d;
    return nullptr;
}

const xxPlaneGroupDescription& xxPlaneGroupFactory::GetPlaneGroupByName(std::string_view name) const {
    if (const auto* d = FindPlaneGroupByName(name)) return *d;
    throw Cfx::CfxResult(E_INVALIDARG, "Symmetry group name " + std::string(name) + " not recognised.");
}

const xxPlaneGroupDescription& xxPlaneGroupFactory::GetPlaneGroupByNumber(int number) const {
    if (const auto* d = FindPlaneGroupByNumber(number)) return *d;
    throw Cfx::CfxResult(E_INVALIDARG, "Plane group number " + std::to_string(number) + " not recognised.");
}
