// Helpers the host offers import components.
#pragma once

#include <string>

#include "host/interfaces.h"
#include "utilities/trajectory.h"

namespace ImportUtilities {

// A new trajectory of the given type, moving objects of classType, as the last child of tree.
// The caller decides whether it stays (delete it through xxObject::Delete otherwise).
xxTrajectory* CreateDefaultedTrajectory(ISBContainerRoot* containerRoot, xxTreeRoot& tree, const std::string& type,
                                        unsigned classType);

// The class type a trajectory over the tree moves: matter, for the atomistic trees (the same
// objects as bondables there; pi systems and dummies included).
unsigned Mattertype(const xxTreeRoot* tree);

}  // namespace ImportUtilities
