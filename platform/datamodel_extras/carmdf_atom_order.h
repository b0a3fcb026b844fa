// The CAR/MDF atom order: which bondable objects a CAR/MDF file lists, in which order, grouped
// into molecules and sub-units, and the names they carry there. The CAR/MDF writer lays its files
// out by it and the ARC and HIS frame loaders match a file's atom lines to the model's atoms by it.
//
// The order is the one in which the CAR reader creates atoms: molecules in child order,
// sub-units in child order, atoms in child order (a depth-first walk of the tree), so a model
// read from a CAR file is listed in its file order. Objects outside a molecule form a molecule
// of their own per run of them, objects outside a sub-unit a sub-unit of their own. Symmetry
// images are left out (their parents stand for them), and so are pseudo-atoms whose position
// follows their members: the MDF lists them as pseudo-atoms, not as atom records.
//
// Names fit the CAR file's fixed columns and read back to the same objects: an atom name is at
// most 5 characters and unique in its sub-unit; a sub-unit name is "RES_NUM" with a residue
// name of at most 4 characters and a residue number of at most 7, unique in its molecule and
// different in number from the sub-unit before it (the reader starts a sub-unit when the number
// changes); a molecule name is one token, unique in the model; a charge-group name is at most 5
// characters and unique among the charge groups of its sub-unit. None holds white space, ":"
// or one of "#%/," (the MDF's separators), and an atom name never starts with "!", "#", "@" or
// "end" (a CAR or MDF line that starts so means something else). A name of the model that
// obeys these is kept; any other is replaced by a generated one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/name_index.h"
#include "datamodel/forward.h"

class xxBondable;
class xxMolecule;
class xxSubUnit;
class xxChargeGroup;
class xxTreeNode;

struct xxCARAtomSubunitDef {
    xxBondable* atom = nullptr;
    int subunit = 0;   // running number of its sub-unit over the whole order, from 0
    int molecule = 0;  // running number of its molecule, from 0
};

class xxCarMdfAtomOrder {
public:
    static constexpr std::size_t kAtomNameWidth = 5;
    static constexpr std::size_t kResidueNameWidth = 4;
    static constexpr std::size_t kResidueNumberWidth = 7;
    static constexpr std::size_t kChargeGroupNameWidth = 5;
    static constexpr std::size_t npos = static_cast<std::size_t>(-1);

    xxCarMdfAtomOrder();
    ~xxCarMdfAtomOrder();
    xxCarMdfAtomOrder(const xxCarMdfAtomOrder&) = delete;
    xxCarMdfAtomOrder& operator=(const xxCarMdfAtomOrder&) = delete;

    // Orders the objects at or below model that are of classType (xxBondable::classType for
    // the CAR/MDF files). Returns IsValid(). Names are made by GenerateObjectNames, from the
    // objects' names as they are here.
    bool DefineAtomOrder(xxObject& model, unsigned classType);
    // The same for the bondable objects of any of the class types (a trajectory's list).
    bool DefineAtomOrder(xxObject& model, std::span<const unsigned> classTypes);

    // Class types whose objects below the model (the model itself aside) DefineAtomOrder lists
    // as well, in tree order, for a caller that would otherwise walk the tree once more; at
    // most kMaxCollected of them. The walk enters every tree node below the model.
    static constexpr std::size_t kMaxCollected = 8;
    void SetCollectedTypes(std::vector<unsigned> classTypes);
    // The objects of the type at that place of SetCollectedTypes; empty for another place.
    const std::vector<xxObject*>& GetCollected(std::size_t which) const;
    // False before DefineAtomOrder, and when the objects cannot be put into one CAR/MDF order:
    // the model holds several symmetry systems, or objects both inside and outside its
    // symmetry system.
    bool IsValid() const { return state_.valid; }
    // The symmetry system the ordered objects lie in (the model's own, or the one ancestor or
    // descendent of the model that is one); null for a model without one.
    xxSymmetrySystem* GetSymmetrySystem() const { return state_.symmetrySystem; }

    const std::vector<xxCARAtomSubunitDef>& GetAtomOrderArray() const { return state_.order; }
    std::size_t GetNumSubunits() const { return state_.subunits.size(); }
    std::size_t GetNumMolecules() const { return state_.molecules.size(); }
    // The position of an object in the order; npos when it is not ordered.
    std::size_t FindPosition(const xxObject& object) const;
    // The same, looking first next to position near (a bond partner usually stands close by).
    std::size_t FindPositionNear(const xxObject& object, std::size_t near) const;
    // What the object at a position is, found once when the order is made.
    bool IsAtom(std::size_t position) const { return (state_.kinds[position] & kAtomKind) != 0; }
    bool IsAtom3d(std::size_t position) const { return (state_.kinds[position] & kAtom3dKind) != 0; }

    // Makes the names of every ordered object, sub-unit, molecule and charge group. False when
    // the order is not valid or a name that fits its column cannot be found.
    bool GenerateObjectNames();
    bool HasNames() const { return state_.named; }

    // Each name call is false (name untouched) before the names are made or for a number or
    // object outside the order.
    bool GetMdfObjectName(const xxObject& object, std::string& name) const;
    bool GetMdfObjectName(std::size_t position, std::string& name) const;
    bool GetSubunitName(std::size_t subunit, std::string& name) const;
    bool GetMoleculeName(std::size_t molecule, std::string& name) const;

    // Whether the model's charge groups map onto MDF charge groups whole: each lies in one
    // sub-unit, has a switching centre among its members, and no atom is in two groups.
    bool GetChargeGroupStatus() const { return state_.chargeGroupStatus; }
    // The charge groups that hold an ordered atom.
    int GetNumberOfChargeGroups() const { return static_cast<int>(state_.chargeGroups.size()); }
    // The charge-group name of the object at that position ("?" when it is in none) and
    // whether it is the group's switching centre (1) or not (0).
    bool GetChargeGroupName(std::size_t position, std::string& name, int& switching) const;

    // The same names without a copy; empty before the names are made or out of range.
    std::string_view AtomName(std::size_t position) const;
    std::string_view SubunitName(std::size_t subunit) const;
    std::string_view MoleculeName(std::size_t molecule) const;
    // As GetChargeGroupName; switching is untouched when the view is empty.
    std::string_view ChargeGroupName(std::size_t position, int& switching) const;

    // The number in at most width characters: decimal while it fits, then letter-led base-36
    // texts ("A" .. "Z", "A0" .. "ZZ", ...), so no two numbers give the same text. False (text
    // untouched) when the number needs more than width characters.
    static bool IntegerToAlphaNumeric(std::uint64_t number, std::size_t width, std::string& text);

    // The name rules above, for callers that make names of their own.
    static bool IsValidAtomName(std::string_view name);
    static bool IsValidSubunitName(std::string_view name);
    static bool IsValidMoleculeName(std::string_view name);
    static bool IsValidChargeGroupName(std::string_view name);

private:
    struct Molecule {
        xxObject* object;  // null for a run of objects outside any molecule
        std::string name;
    };
    struct Subunit {
        xxObject* object;  // null for a run of objects outside any sub-unit
        int molecule;
        std::size_t first;  // position of its first object
        std::string name;
    };
    struct ChargeGroup {
        xxChargeGroup* group;
        bool whole;
    };
    // Positions by object, read back from the order.
    struct PositionMatch {
        const xxCarMdfAtomOrder* owner;
        bool operator()(std::uint32_t position, const xxObject* object) const;
    };
    using PositionIndex = cartovane::NameIndex<std::uint32_t, PositionMatch, const xxObject*, cartovane::MixedHash>;
    class KindCache;
    // A name of at most kAtomNameWidth characters, kept in place.
    struct ShortName {
        char text[7] = {};
        std::uint8_t size = 0;
        std::string_view View() const { return {text, size}; }
    };
    static constexpr std::uint8_t kAtomKind = 1, kAtom3dKind = 2;

    void Reset();
    void Walk(const xxTreeNode& node, xxObject* molecule, xxObject* subunit, KindCache& kinds);
    void Append(xxBondable& object, const xxTreeNode& parent, xxObject* molecule, xxObject* subunit, std::uint8_t kind);
    void Collect(xxObject& object, unsigned which);
    void CollectChargeGroups();
    const PositionIndex& Index() const;
    bool NameAtoms();
    void SetAtomName(std::size_t position, std::string_view name);
    void NameSubunits();
    void NameMolecules();
    bool NameChargeGroups();

    // Everything one DefineAtomOrder makes, made afresh by each (Reset).
    struct State {
        State(const xxCarMdfAtomOrder* owner, std::size_t collectedTypes)
            : collected(collectedTypes), index(PositionMatch{owner}) {}

        bool valid = false;
        bool named = false;
        bool outside = false;  // an ordered object lies outside the symmetry system
        xxSymmetrySystem* symmetrySystem = nullptr;
        std::vector<xxCARAtomSubunitDef> order;
        std::vector<std::uint8_t> kinds;
        // Per position: after DefineAtomOrder the object's own name when it is a valid atom
        // name, else empty; after GenerateObjectNames the name written.
        std::vector<ShortName> atomNames;
        std::vector<std::vector<xxObject*>> collected;  // one list per collected type
        std::vector<Subunit> subunits;
        std::vector<Molecule> molecules;
        // Run keys of the last entry, to tell where a molecule or sub-unit starts.
        const xxObject* lastMoleculeKey = nullptr;
        const xxObject* lastSubunitKey = nullptr;
        std::vector<xxChargeGroup*> foundChargeGroups;
        std::vector<ChargeGroup> chargeGroups;
        bool chargeGroupStatus = true;
        // Per position: the charge group's index + 1, 0 for none; empty without charge groups.
        std::vector<std::uint32_t> groupOfPosition;
        // Per position: index into chargeGroupNames, whose entry 0 is "?".
        std::vector<std::uint32_t> positionGroupName;
        std::vector<std::string> chargeGroupNames;
        // Made on the first lookup that the nearby search does not answer.
        mutable PositionIndex index;
        mutable bool indexed = false;
    };

    std::vector<unsigned> collectedTypes_;
    State state_;
};
