#include "datamodel/bead_types.h"

namespace {
constexpr unsigned kMassBit = 0;
constexpr unsigned kColorBit = 1;
}  // namespace

const xxPropertyTemplate<double> xxBeadType::m_pptMass("Mass", &xxBeadType::Class, XX_FIELD(xxBeadType, mass_), kMassBit);
const xxPropertyTemplate<xxColor> xxBeadType::m_pptColor("Color", &xxBeadType::Class, XX_FIELD(xxBeadType, color_),
                                                         kColorBit);
XX_IMPLEMENT_CLASS(xxBeadType, "BeadType", xxObject, 1, &xxBeadType::m_pptMass, &xxBeadType::m_pptColor)
XX_IMPLEMENT_CLASS(xxBeadTypeManager, "BeadTypeManager", xxTreeNode, 1)

xxBeadTypeManager& xxBeadTypeManager::Instance() {
    static xxBeadTypeManager manager;
    return manager;
}

void xxBeadTypeManager::Install(xxBeadTypeManager& loaded) {
    xxBeadTypeManager& manager = Instance();
    if (&loaded == &manager) return;
    manager.RemoveDescendents();
    manager.SetName(loaded.GetName());
    manager.SetID(loaded.GetID());
    while (loaded.NumChildren()) manager.AdoptChild(loaded.DetachChild(loaded.GetChild(0)));
}

void xxBeadTypeManager::Reset() {
    xxBeadTypeManager& manager = Instance();
    manager.RemoveDescendents();
    manager.SetName({});
    manager.SetID(0);
}

xxBeadType* xxBeadTypeManager::FindBeadType(std::string_view name) const {
    for (xxBeadType* type : ChildrenOf<xxBeadType>())
        if (type->GetName() == name) return type;
    return nullptr;
}
