// The 32 crystallographic point groups.
#pragma once

#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "datamodel/symmetry/group.h"
#include "datamodel/symmetry/space_groups.h"

// Rotations (no translations) in the lattice basis of the point group's crystal system:
// hexagonal axes (gamma 120 degrees) for the trigonal and hexagonal groups.
class xxPointGroupDescription {
public:
    const std::string& GetName() const { return name_; }                // "m-3m"
    const std::string& GetSchoenfliesSymbol() const { return schoenflies_; }  // "Oh"
    xxCrystalSystem GetCrystalSystem() const { return system_; }
    bool IsCentrosymmetric() const;
    const xxSymmetryGroup& GetGroup() const { return group_; }
    std::size_t GetOrder() const { return group_.GetNumOperators(); }

private:
    friend class xxPointGroupFactory;
    xxPointGroupDescription() = default;
    std::string name_, schoenflies_;
    std::vector<std::string> aliases_;  // normalised
    xxCrystalSystem system_ = xxCrystalSystem::Triclinic;
    xxSymmetryGroup group_;
};

// Taken from the space-group database: each point group with the rotations of the first space
// group that has it. Names: Hermann-Mauguin ("4/mmm", "-42m", also "-4m2", "m3m", "3m1", ...)
// or Schoenflies ("D4h", "Oh", also "S6", "V"), any case, blanks ignored.
class xxPointGroupFactory {
public:
    static const xxPointGroupFactory& Instantiate();

    const xxPointGroupDescription* FindPointGroupByName(std::string_view name) const;
    const xxPointGroupDescription& GetPointGroupByName(std::string_view name) const;  // throws E_INVALIDARG
    // The point group of the operators' rotation parts, whatever their translations and basis:
    // the rotations are classified by kind (spglib), so a group in another orientation still
    // answers. Null when the rotations are not integral or do not form a group.
    const xxPointGroupDescription* FindPointGroupByOperatorClassification(
        const std::vector<xxSymmetryOperator>& operators) const;

    std::span<const xxPointGroupDescription> GetDescriptions() const { return descriptions_; }

    xxPointGroupFactory(const xxPointGroupFactory&) = delete;
    xxPointGroupFactory& operator=(const xxPointGroupFactory&) = delete;

private:
    xxPointGroupFactory();
    std::vector<xxPointGroupDescription> descriptions_;
};
