// Polymers: repeat units with their head and tail linkages, and blocks that hold repeat units.
// A repeat unit is a sub-unit; its head and tail are xxLinkage children naming their link atoms.
#pragma once

#include <span>
#include <vector>

#include "datamodel/atomistic.h"
#include "datamodel/reference.h"

// Where a repeat unit joins the next one: a head or tail kind and its link atoms (weak
// references: a link atom that dies leaves the list).
class xxLinkage : public xxObject {
    XX_DECLARE_CLASS(xxLinkage)
public:
    static constexpr int kHead = 0;
    static constexpr int kTail = 1;
    static const xxPropertyTemplate<int> m_pptHeadTail;

    xxLinkage() = default;

    int GetHeadTail() const { return headTail_; }
    void SetHeadTail(int kind);
    std::vector<xxBondable*> GetLinkAtoms() const { return atoms_.ObjectsOf<xxBondable>(); }
    // Replaces the link atoms. Throws Cfx::CfxResult E_POINTER for a null entry.
    void SetLinkAtoms(std::span<xxBondable* const> atoms);

private:
    int headTail_ = kHead;
    xxReferenceList atoms_;
};

// A sub-unit that repeats along a chain; its tail is the linkage of kind kTail.
class xxRepeatUnit : public xxSubUnit {
    XX_DECLARE_CLASS(xxRepeatUnit)
public:
    // The first link atom of the unit's linkage of that kind; null when it has none.
    xxBondable* GetLinkAtom(int kind) const;
    xxLinkage* FindLinkage(int kind) const;
    xxBondable* GetTailAtom() const { return GetLinkAtom(xxLinkage::kTail); }
    // Makes atom the one link atom of the tail linkage (created when missing); null removes it.
    void SetTailAtom(xxBondable* atom) { SetLinkAtom(xxLinkage::kTail, atom); }

protected:
    xxRepeatUnit() = default;
    void SetLinkAtom(int kind, xxBondable* atom);
};

// A repeat unit whose head may bond through several atoms.
class xxMultipleBondingAtomsRepeatUnitBase : public xxRepeatUnit {
    XX_DECLARE_CLASS(xxMultipleBondingAtomsRepeatUnitBase)
public:
    xxBondable* GetHeadAtom() const { return GetLinkAtom(xxLinkage::kHead); }
    void SetHeadAtom(xxBondable* atom) { SetLinkAtom(xxLinkage::kHead, atom); }

protected:
    xxMultipleBondingAtomsRepeatUnitBase() = default;
};

class xxMultiScaleRepeatUnit : public xxMultipleBondingAtomsRepeatUnitBase {
    XX_DECLARE_CLASS(xxMultiScaleRepeatUnit)
public:
    xxMultiScaleRepeatUnit() = default;
};

// A run of repeat units of one kind inside a chain; a container, not a sub-unit.
class xxBlock : public xxMatterContainer {
    XX_DECLARE_CLASS(xxBlock)
protected:
    xxBlock() = default;
};

class xxMultiScaleBlock : public xxBlock {
    XX_DECLARE_CLASS(xxMultiScaleBlock)
public:
    xxMultiScaleBlock() = default;
};
