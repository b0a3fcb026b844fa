// Coarse-grained bead types: the process-wide list of them ("BeadTypeManager"), empty by
// default, that the bead-type component reads and writes and the coarse-grained conversions use.
#pragma once

#include <cstdint>
#include <memory>

#include "datamodel/object.h"

// A bead type: its name (the object's), its mass and its colour.
class xxBeadType : public xxObject {
    XX_DECLARE_CLASS(xxBeadType)
public:
    xxBeadType() = default;
    static const xxPropertyTemplate<double> m_pptMass;
    static const xxPropertyTemplate<xxColor> m_pptColor;

    double GetMass() const { return m_pptMass.GetValue(*this); }
    void SetMass(double mass) { m_pptMass.SetValue(*this, mass); }
    const xxColor& GetColor() const { return m_pptColor.GetValue(*this); }
    void SetColor(const xxColor& color) { m_pptColor.SetValue(*this, color); }

private:
    double mass_ = 0;
    xxColor color_;
};

// The bead types, as children in order.
class xxBeadTypeManager : public xxTreeNode {
    XX_DECLARE_CLASS(xxBeadTypeManager)
public:
    xxBeadTypeManager() = default;

    static xxBeadTypeManager& Instance();
    // The list becomes that of loaded (which is emptied): bead types are replaced whole.
    static void Install(xxBeadTypeManager& loaded);
    // Back to the built-in state, an empty list (tests).
    static void Reset();

    xxBeadType* FindBeadType(std::string_view name) const;
};
