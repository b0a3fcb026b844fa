// The 230 space groups in all their tabulated settings (530 Hall symbols), from spglib's database.
#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "datamodel/symmetry/group.h"

// Lattice centring, numbered as the model files number it.
enum class xxCentering {
    Primitive = 0,
    BodyCentered = 1,
    FaceCentered = 2,
    AFaceCentered = 3,
    BFaceCentered = 4,
    CFaceCentered = 5,
    Rhombohedral = 6,  // R lattice on hexagonal axes
};

enum class xxCrystalSystem { Triclinic, Monoclinic, Orthorhombic, Tetragonal, Trigonal, Hexagonal, Cubic };

// One setting of one space group.
class xxSpaceGroupDescription {
public:
    int GetITNumber() const { return itNumber_; }
    int GetHallNumber() const { return hallNumber_; }      // 1..530
    int GetOptionNumber() const { return optionNumber_; }  // this setting among its group's, from 1
    // Short Hermann-Mauguin symbol of this setting, screw axes without '_': "P21/n", "Pbnm", "R-3".
    const std::string& GetName() const { return name_; }
    const std::string& GetFullName() const { return fullName_; }  // "P 1 21/n 1"
    const std::string& GetHallSymbol() const { return hallSymbol_; }
    const std::string& GetSchoenfliesSymbol() const { return schoenflies_; }
    const std::string& GetPointGroupName() const { return pointGroup_; }  // "2/m"
    // What tells this setting from the group's others, comma-separated: the unique axis and cell
    // choice of monoclinic groups ("B-Unique,Cell-2"), the origin choice ("Origin-2"), the axes
    // of rhombohedral groups ("Hexagonal", "Rhombohedral"), the axes of the few orthorhombic
    // settings whose symbols repeat another's ("Origin-1,Axes ba-c"); empty when the name says
    // it all.
    const std::string& GetQualifier() const { return qualifier_; }
    // The database's own setting code ("b2", "-b1", "1cab", "H", ...), empty for the standard.
    const std::string& GetSettingChoice() const { return choice_; }
    xxCentering GetCenteringType() const { return centering_; }
    xxCrystalSystem GetCrystalSystem() const;

    // All operators of the conventional cell, centring translations included; the first is the
    // identity.
    const xxSymmetryGroup& GetGroup() const { return group_; }
    std::size_t GetNumOperators() const { return group_.GetNumOperators(); }

    // Operator numbers in files from the older writer. No renumbering between its order and
    // this database's is known, so numbers pass unchanged; out of range gives 0.
    int GetOperatorFromDravik4(int number) const;

private:
    friend class xxSpaceGroupFactory;
    xxSpaceGroupDescription() = default;

    int itNumber_ = 0, hallNumber_ = 0, optionNumber_ = 0;
    std::string name_, fullName_, hallSymbol_, schoenflies_, pointGroup_, qualifier_, choice_;
    xxCentering centering_ = xxCentering::Primitive;
    xxSymmetryGroup group_;
};

// Finds space groups as files name them. Built once, on first use; read-only after.
//
// Names: short or full Hermann-Mauguin symbols in any setting tabulated, with or without
// blanks, in any letter case, screw axes as "21" or "2_1"; cubic groups also without the bar
// ("Fm3m"); a ":" suffix selects a setting as well (":1"/":2" origin, ":H"/":R" axes, or a
// setting code such as ":b2"). Qualifiers: comma-separated words, each of which the setting
// must carry ("A-Unique", "B-Unique", "C-Unique", "Cell-1".."Cell-3", "Origin-1", "Origin-2",
// "Hexagonal", "Rhombohedral", "Axes ba-c"; '_' for '-' and any case accepted). Groups on hexagonal axes
// also answer to "Hexagonal". Among the settings that fit, one whose own symbol is the name
// wins over one that only shares its group's standard symbol, then the first tabulated: the
// standard setting, b unique and cell choice 1, origin choice 1, hexagonal axes.
class xxSpaceGroupFactory {
public:
    static const xxSpaceGroupFactory& Instantiate();

    const xxSpaceGroupDescription* FindSpaceGroupByName(std::string_view name,
                                                        std::string_view qualifier = {}) const;
    const xxSpaceGroupDescription* FindSpaceGroupByNumber(int itNumber, std::string_view qualifier = {}) const;
    // The setting of the group whose GetOptionNumber is optionNumber; null when there is none.
    const xxSpaceGroupDescription* FindSpaceGroupByNumber(int itNumber, int optionNumber) const;
    const xxSpaceGroupDescription* FindSpaceGroupByHallNumber(int hallNumber) const;
    // The setting whose operators are exactly these (in any order, modulo whole-cell
    // translations); null when there is none or they form no group.
    const xxSpaceGroupDescription* FindSpaceGroupByOperators(const std::vector<xxSymmetryOperator>& operators) const;

    // As the Find calls, but throw CfxResult E_INVALIDARG "Space group ... not recognised".
    const xxSpaceGroupDescription& GetSpaceGroupByName(std::string_view name, std::string_view qualifier = {}) const;
    const xxSpaceGroupDescription& GetSpaceGroupByNumber(int itNumber, std::string_view qualifier = {}) const;

    std::span<const xxSpaceGroupDescription> GetDescriptions() const { return descriptions_; }

    xxSpaceGroupFactory(const xxSpaceGroupFactory&) = delete;
    xxSpaceGroupFactory& operator=(const xxSpaceGroupFactory&) = delete;

private:
    xxSpaceGroupFactory();

    struct Alias {
        std::string name;  // normalised
        int rank;          // 0: the setting's own symbol, 1: its group's standard symbol
        std::size_t index;
        friend bool operator<(const Alias& a, const Alias& b) { return a.name < b.name; }
    };
    const xxSpaceGroupDescription* Select(std::span<const Alias> candidates, std::string_view qualifier,
                                          std::string_view choice) const;

    std::vector<xxSpaceGroupDescription> descriptions_;
    std::vector<Alias> aliases_;  // sorted by name
    std::vector<std::vector<std::string>> tags_;  // per description, normalised qualifier words
};
