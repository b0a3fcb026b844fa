// The 17 plane groups.
#pragma once

#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "datamodel/symmetry/group.h"

// Operators act on (x, y) and leave z alone; centring translations are in the list.
class xxPlaneGroupDescription {
public:
    int GetNumber() const { return number_; }                     // 1..17
    const std::string& GetName() const { return name_; }          // "p2mg"
    const std::string& GetFullName() const { return fullName_; }  // "p1m1" for pm
    const xxSymmetryGroup& GetGroup() const { return group_; }
    std::size_t GetNumOperators() const { return group_.GetNumOperators(); }

private:
    friend class xxPlaneGroupFactory;
    xxPlaneGroupDescription() = default;
    int number_ = 0;
    std::string name_, fullName_;
    std::vector<std::string> aliases_;  // normalised
    xxSymmetryGroup group_;
};

// Names match without regard to case and blanks: short ("p2mm"), full ("p1m1") and the older
// short symbols ("pmm", "cmm", "p4m", "p4g", "p6m").
class xxPlaneGroupFactory {
public:
    static const xxPlaneGroupFactory& Instantiate();

    const xxPlaneGroupDescription* FindPlaneGroupByName(std::string_view name) const;
    const xxPlaneGroupDescription* FindPlaneGroupByNumber(int number) const;
    // The group with exactly these operators (any order, modulo whole-cell translations).
    const xxPlaneGroupDescription* FindPlaneGroupByOperators(const std::vector<xxSymmetryOperator>& operators) const;
    // Throw CfxResult E_INVALIDARG "Symmetry group name ... not recognised".
    const xxPlaneGroupDescription& GetPlaneGroupByName(std::string_view name) const;
    const xxPlaneGroupDescription& GetPlaneGroupByNumber(int number) const;

    std::span<const xxPlaneGroupDescription> GetDescriptions() const { return descriptions_; }

    xxPlaneGroupFactory(const xxPlaneGroupFactory&) = delete;
    xxPlaneGroupFactory& operator=(const xxPlaneGroupFactory&) = delete;

private:
    xxPlaneGroupFactory();
    std::vector<xxPlaneGroupDescription> descriptions_;
};
