// How many objects lie below a tree node, estimated without walking them: for the tables a walk
// over a whole model fills (serialiser records, symmetry images), so that they are sized once
// instead of regrown while the walk runs.
#pragma once

#include <algorithm>
#include <cstddef>

#include "datamodel/object.h"

// The node's children counted, and each level further down extrapolated from a few tree nodes of
// the level above (models are mostly alike throughout: molecules of residues of atoms). A guess
// for sizing only: nothing relies on it being exact, and it looks at a few hundred objects. At
// most kMaxEstimatedObjects, so that a few unlike nodes sampled cannot make a table reserve
// gigabytes.
inline constexpr std::size_t kMaxEstimatedObjects = std::size_t{1} << 22;

inline std::size_t EstimatedObjectsBelow(const xxTreeNode& node) {
    constexpr std::size_t kSample = 64;     // tree nodes followed down per level
    constexpr std::size_t kExamined = 256;  // children of each looked at for tree nodes
    constexpr int kLevels = 5;
    double total = 1;
    double level = 1;  // tree nodes on the level whose children are counted
    const xxTreeNode* sample[kSample] = {&node};
    std::size_t sampled = 1;
    for (int depth = 0; depth < kLevels && sampled > 0; ++depth) {
        double children = 0, nodes = 0;
        const xxTreeNode* next[kSample];
        std::size_t kept = 0;
        for (std::size_t i = 0; i < sampled; ++i) {
            const auto& list = sample[i]->Children();
            const std::size_t examined = std::min(list.size(), kExamined);
            std::size_t found = 0;
            for (std::size_t k = 0; k < examined; ++k) {
                if (!list[k]->IsA(xxTreeNode::classType)) continue;
                ++found;
                if (kept < kSample) next[kept++] = static_cast<const xxTreeNode*>(list[k].get());
            }
            children += static_cast<double>(list.size());
            if (examined) nodes += static_cast<double>(found) * static_cast<double>(list.size()) / static_cast<double>(examined);
        }
        total += children * level / static_cast<double>(sampled);
        level = nodes * level / static_cast<double>(sampled);
        std::copy(next, next + kept, sample);
        sampled = kept;
    }
    return static_cast<std::size_t>(std::min(total, static_cast<double>(kMaxEstimatedObjects)));
}
