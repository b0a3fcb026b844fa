// Which atom of a trajectory file each object of the model stands for. The CAR/MDF trajectory
// files (ARC, HIS) list a frame's atoms in the model's CAR/MDF atom order, so the k-th atom of a
// frame belongs to the object at position k of that order.
#pragma once

#include <cstddef>
#include <span>
#include <vector>

#include "datamodel/forward.h"

class xxIterator;

namespace cartovane {

class FrameAtomMap {
public:
    static constexpr int kUnmapped = -1;

    // Orders the objects of the class types at or below model and finds, for every object the
    // iterator yields (in its order), its position there, or kUnmapped for an object the order
    // does not list (an image, a model without a valid order). The iterator is reset before
    // and after. A null model maps nothing.
    void Build(xxObject* model, std::span<const unsigned> classTypes, xxIterator& objects);
    void Clear();
    bool IsBuilt() const { return built_; }

    // Per object of the iterator, in its order: the file atom it takes, or kUnmapped.
    std::span<const int> Atoms() const { return atoms_; }
    // The objects that take a file atom.
    std::size_t MappedCount() const { return mapped_; }

private:
    std::vector<int> atoms_;
    std::size_t mapped_ = 0;
    bool built_ = false;
};

}  // namespace cartovane
