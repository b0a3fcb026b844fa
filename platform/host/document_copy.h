// A deep copy of a data-model tree: each source object saves itself into a compact in-memory
// record that its copy loads back at once, an owned child in its turn when the copy reads it, so
// only the records along the current path are held; references between copied objects are
// mapped to the copies.
#pragma once

#include "datamodel/object.h"

namespace host {

// Replaces target's content (name, ID, values, descendants) with a copy of source's. Throws
// Cfx::CfxResult E_INVALIDARG when the two roots are of different classes; the target is left
// empty when a load, or a save it reads from, fails.
void CopyTree(const xxTreeRoot& source, xxTreeRoot& target);

}  // namespace host
