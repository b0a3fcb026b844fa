#include "datamodel_extras/qor_atom_data.h"

#include "datamodel/class.h"
#include "datamodel/object.h"

void xxQorAtomData::Initialize(xxObject* root, const xxClass& atomClass) {
    root_ = root;
    class_ = &atomClass;
}

int xxQorAtomData::GetNonSymmetricID(const xxObject& object) const {
    if (!root_ || !class_ || !object.IsA(class_->TypeId())) return 0;
    if (&object != root_ && !object.IsDescendentOf(*root_)) return 0;
    return object.GetID();
}
