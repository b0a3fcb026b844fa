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

}  // namespace ImportUtilities
