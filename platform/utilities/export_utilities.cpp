#include "utilities/export_utilities.h"

#include "datamodel/atomistic.h"
#include "datamodel/symmetry/system.h"

namespace exportUtilities {

xxSymmetrySystem* GetSymmetrySystem(const xxTreeRoot& root) { return xxMatterSymmetrySystem::FirstOf(root); }

int GetPeriodicity(const xxTreeRoot& root) {
    const xxSymmetrySystem* system = GetSymmetrySystem(root);
    return system ? system->GetPeriodicDimension() : 0;
}

int GetNumChildAtoms(const xxTreeNode& parent) {
    int count = 0;
    for (const auto& child : parent.Children()) count += child->IsA(xxAtom::classType) ? 1 : 0;
    return count;
}

}  // namespace exportUtilities
