// What the writers ask of a document before they write it.
#pragma once

class xxTreeNode;
class xxTreeRoot;
class xxSymmetrySystem;

namespace exportUtilities {

// The document's symmetry system: the first direct child of the tree root that is a matter
// symmetry system; null for a model that is not periodic.
xxSymmetrySystem* GetSymmetrySystem(const xxTreeRoot& root);
// The periodic dimension of that system (3 for a crystal, 2 for a slab), 0 without one.
int GetPeriodicity(const xxTreeRoot& root);
// The atoms directly below the node.
int GetNumChildAtoms(const xxTreeNode& parent);

}  // namespace exportUtilities
