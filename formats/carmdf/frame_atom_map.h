// Which atom of a trajectory file each object of the model stands for. The CAR/MDF trajectory
// files (ARC, HIS) list a frame's atoms in the model's CAR/MDF atom order, so the k-th atom of a
// frame belongs to the object at position k of that order.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "datamodel/forward.h"

class xxBondable;
class xxIterator;

namespace cartovane {

class FrameAtomMap {
public:
    // An object the iterator yields that stands at a position of the order.
    struct Mapped {
        xxBondable* object;
        std::size_t atom;  // its position in the order: the file atom it takes
    };

    // Orders the bondable objects of the class types at or below model and finds, for every
    // object the iterator yields, its position there; objects the order does not list (images,
    // objects of a model without a valid order) are left out. The iterator is reset before and
    // after. A null model maps nothing.
    void Build(xxObject* model, std::span<const unsigned> classTypes, xxIterator& objects);
    void Clear();
    // Built, and no tree has changed shape since: the objects are still there and in place.
    bool IsCurrent() const;

    // The mapped objects in the iterator's order.
    std::span<const Mapped> Objects() const { return mapped_; }
    std::size_t MappedCount() const { return mapped_.size(); }

private:
    std::vector<Mapped> mapped_;
    std::uint64_t builtAt_ = 0;  // the trees' structure version when built; 0: never
};

}  // namespace cartovane
