#include "formats/carmdf/frame_atom_map.h"

#include <climits>

#include "datamodel_extras/carmdf_atom_order.h"
#include "datamodel/iterator.h"

namespace cartovane {

void FrameAtomMap::Build(xxObject* model, std::span<const unsigned> classTypes, xxIterator& objects) {
    Clear();
    xxCarMdfAtomOrder order;
    const bool ordered = model && order.DefineAtomOrder(*model, classTypes);
    objects.Reset();
    while (xxObject* object = objects.GetNext()) {
        // The iterator walks the tree in the order's own order, so the next position is the
        // likely one.
        const std::size_t position = ordered ? order.FindPositionNear(*object, atoms_.size()) : xxCarMdfAtomOrder::npos;
        const bool found = position != xxCarMdfAtomOrder::npos && position <= static_cast<std::size_t>(INT_MAX);
        atoms_.push_back(found ? static_cast<int>(position) : kUnmapped);
        if (found) ++mapped_;
    }
    objects.Reset();
    built_ = true;
}

void FrameAtomMap::Clear() {
    atoms_.clear();
    mapped_ = 0;
    built_ = false;
}

}  // namespace cartovane
