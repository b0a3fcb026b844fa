#include "utilities/import_utilities.h"

#include "datamodel/atomistic.h"

namespace ImportUtilities {

xxTrajectory* CreateDefaultedTrajectory(ISBContainerRoot* containerRoot, xxTreeRoot& tree, const std::string& type,
                                        unsigned classType) {
    if (!containerRoot) throw Cfx::CfxResult(E_INVALIDARG, "No container root for the trajectory");
    xxTrajectory& trajectory = tree.CreateChild<xxTrajectory>();
    trajectory.SetName("Trajectory");
    trajectory.SetTrajectoryType(type);
    trajectory.SetClassTypes({classType});
    return &trajectory;
}

unsigned Mattertype(const xxTreeRoot*) { return xxMatter::classType; }

}  // namespace ImportUtilities
