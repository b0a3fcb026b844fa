// Making symmetry definitions from group descriptions, building them into symmetry systems,
// and making the tuples of atom sets visible across images.
#pragma once

#include <cstddef>
#include <memory>

#include "datamodel/symmetry/definition.h"
#include "datamodel/symmetry/plane_groups.h"
#include "datamodel/symmetry/point_groups.h"
#include "datamodel/symmetry/space_groups.h"
#include "datamodel/symmetry/system.h"

class xxSymmetryCreator {
public:
    // A definition of the described group for the system: its operators in the database order,
    // its name, qualifier, IT number (the plane-group number for plane groups), centring and
    // lattice representation, on a default cell that has its symmetry (10-unit axes, hexagonal
    // where the group is). The system only takes it when it is built in.
    static void CreateSymmetryDefinition(const xxSpaceGroupDescription& description, const xxSymmetrySystem& system,
                                         std::unique_ptr<xxSpaceGroup>& definition);
    static void CreateSymmetryDefinition(const xxPlaneGroupDescription& description, const xxSymmetrySystem& system,
                                         std::unique_ptr<xxPlaneGroup>& definition);
    static void CreateSymmetryDefinition(const xxPointGroupDescription& description, const xxSymmetrySystem& system,
                                         std::unique_ptr<xxPointGroup>& definition);
    static std::unique_ptr<xxSpaceGroup> CreateSymmetryDefinition(const xxSpaceGroupDescription& description,
                                                                  const xxSymmetrySystem& system);
    static std::unique_ptr<xxPlaneGroup> CreateSymmetryDefinition(const xxPlaneGroupDescription& description,
                                                                  const xxSymmetrySystem& system);
};

class xxSymmetryChanger {
public:
    // Replaces the system's definition with this one and works out the symmetry relation:
    // walking the bondable matter below the system in tree order, an object that coincides with
    // an operator image of an earlier parent (same class, element and isotope, or dummy symbol;
    // within tolerance, Cartesian, across cell boundaries along the periodic axes) becomes that
    // parent's image under the element that puts it there; the others are parents. Images the
    // system made on demand before are destroyed first.
    //
    // findEquivalents false makes every object a parent. completeCell also makes, for every
    // parent, the images inside the cell (fractional positions in [0, 1) along the periodic
    // axes) that no object stands for.
    //
    // Linear in the number of objects (a hashed grid over the cell). Throws CfxResult
    // E_INVALIDARG, leaving the system as it was, for a null definition, a tolerance that is
    // negative, not finite or half the cell's thickness or more along a periodic axis, a cell
    // without the group's symmetry, or an object whose position is not finite or lies more than
    // a million cells away.
    static void Build(xxSymmetrySystem& system, std::unique_ptr<xxSymmetryDefinition> definition, bool findEquivalents,
                      double tolerance, bool completeCell);
    // The same with the system's current definition (after the model changed).
    static void Rebuild(xxSymmetrySystem& system, bool findEquivalents, double tolerance, bool completeCell);
};

class xxSymmetryVisibilityUtility {
public:
    // The tuples of the atom sets below the system (monitors and substructures in xxSet
    // objects) often join a parent to images in other cells. For every tuple this makes each
    // member's image visible in the system's display (xxSymmetryDisplay::MakeVisible), so that
    // a view shows every tuple whole. Returns the number of images it added.
    static std::size_t MakeVisibleNTupleSets(xxSymmetrySystem& system);
};
