#include "formats/carmdf/frame_atom_map.h"

#include "datamodel/atomistic.h"
#include "datamodel/iterator.h"
#include "datamodel_extras/carmdf_atom_order.h"

namespace cartovane {

void FrameAtomMap::Build(xxObject* model, std::span<const unsigned> classTypes, xxIterator& objects) {
    Clear();
    const std::uint64_t version = xxTreeNode::StructureGeneration();
    xxCarMdfAtomOrder order;
    const bool ordered = model && order.DefineAtomOrder(*model, classTypes);
    const std::vector<xxCARAtomSubunitDef>& atoms = order.GetAtomOrderArray();
    objects.Reset();
    std::size_t seen = 0;
    while (xxObject* object = objects.GetNext()) {
        // The iterator walks the tree in the order's own order, so the next position is the
        // likely one.
        const std::size_t position = ordered ? order.FindPositionNear(*object, seen) : xxCarMdfAtomOrder::npos;
        ++seen;
        // The order lists bondable objects only.
        if (position != xxCarMdfAtomOrder::npos) mapped_.push_back({atoms[position].atom, position});
    }
    objects.Reset();
    builtAt_ = version;
}

void FrameAtomMap::Clear() {
    mapped_.clear();
    builtAt_ = 0;
}

bool FrameAtomMap::IsCurrent() const { return builtAt_ != 0 && builtAt_ == xxTreeNode::StructureGeneration(); }

}  // namespace cartovane
