// A deep copy of a data-model tree: the source saves itself to an in-memory record, which the
// target loads back; references between copied objects are mapped to the copies.
#pragma once

#include "datamodel/object.h"

namespace host {

// Replaces target's content (name, ID, values, descendants) with a copy of source's. Throws
// Cfx::CfxResult E_INVALIDARG when the two roots are of different classes; the target is left
// empty when a load fails.
void CopyTree(const xxTreeRoot& source, xxTreeRoot& target);

}  // namespace host
