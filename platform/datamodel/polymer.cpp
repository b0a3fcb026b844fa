#include "datamodel/polymer.h"

#include <algorithm>

#include "datamodel/object_serialise.h"
#include "datamodel/property_bits.h"

const xxPropertyTemplate<int> xxLinkage::m_pptHeadTail("HeadTail", &xxLinkage::Class, XX_FIELD(xxLinkage, headTail_),
                                                       xxPropertyBit::kHeadTail, xxLinkage::kHead);

// The names of the document format's class table; our own concrete classes as MultiScale...
XX_IMPLEMENT_CLASS(xxLinkage, "Linkage", xxObject, 1, &xxLinkage::m_pptHeadTail)
XX_IMPLEMENT_ABSTRACT_CLASS(xxRepeatUnit, "RepeatUnitBase", xxSubUnit, 2)
XX_IMPLEMENT_ABSTRACT_CLASS(xxMultipleBondingAtomsRepeatUnitBase, "MultipleBondingAtomsRepeatUnitBase", xxRepeatUnit, 1)
XX_IMPLEMENT_CLASS(xxMultiScaleRepeatUnit, "MultiScaleRepeatUnit", xxMultipleBondingAtomsRepeatUnitBase, 1)
XX_IMPLEMENT_ABSTRACT_CLASS(xxBlock, "AbstractBlock", xxMatterContainer, 1)
XX_IMPLEMENT_CLASS(xxMultiScaleBlock, "MultiScaleBlock", xxBlock, 1)

void xxLinkage::SetHeadTail(int kind) {
    headTail_ = kind;
    AssignedMask() |= m_pptHeadTail.Mask();
}

void xxLinkage::SetLinkAtoms(std::span<xxBondable* const> atoms) {
    if (std::find(atoms.begin(), atoms.end(), nullptr) != atoms.end())
        throw Cfx::CfxResult(E_POINTER, "A linkage cannot hold a null link atom");
    atoms_.Clear();
    for (xxBondable* atom : atoms) atoms_.Add(*atom);
}

xxLinkage* xxRepeatUnit::FindLinkage(int kind) const {
    for (const auto& child : Children())
        if (auto* linkage = child->As<xxLinkage>(); linkage && linkage->GetHeadTail() == kind) return linkage;
    return nullptr;
}

xxBondable* xxRepeatUnit::GetLinkAtom(int kind) const {
    const xxLinkage* linkage = FindLinkage(kind);
    if (!linkage) return nullptr;
    const auto atoms = linkage->GetLinkAtoms();
    return atoms.empty() ? nullptr : atoms.front();
}

void xxRepeatUnit::SetLinkAtom(int kind, xxBondable* atom) {
    xxLinkage* linkage = FindLinkage(kind);
    if (!atom) {
        if (linkage) linkage->Delete();
        return;
    }
    if (!linkage) {
        linkage = &CreateChild<xxLinkage>();
        linkage->SetHeadTail(kind);
    }
    linkage->SetLinkAtoms(std::span<xxBondable* const>(&atom, 1));
}

namespace {

void SaveLinkage(const xxObject& object, xxOutput& out) {
    const std::vector<xxBondable*> atoms = static_cast<const xxLinkage&>(object).GetLinkAtoms();
    out.WriteReferenceCollection("LinkAtoms", xxPointerCollection<xxBondable>(atoms));
}

void LoadLinkage(xxObject& object, xxInput& in) {
    std::vector<xxBondable*> atoms;
    xxPointerCollection<xxBondable> collection(atoms);
    in.ReadReferenceCollection("LinkAtoms", collection);
    std::erase(atoms, nullptr);  // deleted while loading
    static_cast<xxLinkage&>(object).SetLinkAtoms(atoms);
}

[[maybe_unused]] const bool registered = RegisterClassSerialiser(xxLinkage::Class(), {SaveLinkage, LoadLinkage});

}  // namespace
