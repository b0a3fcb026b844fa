// The process-wide periodic table as a data-model object ("PeriodicTable" holding one
// "Element" per atomic number 0..118, each with its "Isotope" and "OxidationState" children),
// which the periodic-table component reads and writes. Installing one changes what every
// element lookup answers (elements.h), isotopes included.
#pragma once

#include <string>

#include "datamodel/elements.h"
#include "datamodel/object.h"

class xxPeriodicIsotope : public xxObject {
    XX_DECLARE_CLASS(xxPeriodicIsotope)
public:
    xxPeriodicIsotope() = default;
    static const xxPropertyTemplate<int> m_pptMassNumber;
    static const xxPropertyTemplate<double> m_pptMass;

    int GetMassNumber() const { return m_pptMassNumber.GetValue(*this); }
    double GetMass() const { return m_pptMass.GetValue(*this); }

private:
    int massNumber_ = 0;
    double mass_ = 0;
};

class xxOxidationState : public xxObject {
    XX_DECLARE_CLASS(xxOxidationState)
public:
    xxOxidationState() = default;
    static const xxPropertyTemplate<int> m_pptValue;

private:
    int value_ = 0;
};

// One element; its name is the object's.
class xxPeriodicElement : public xxTreeNode {
    XX_DECLARE_CLASS(xxPeriodicElement)
public:
    xxPeriodicElement() = default;
    static const xxPropertyTemplate<int> m_pptAtomicNumber;
    static const xxPropertyTemplate<std::string> m_pptSymbol;
    static const xxPropertyTemplate<double> m_pptMass;
    static const xxPropertyTemplate<double> m_pptCovalentRadius;

    int GetAtomicNumber() const { return m_pptAtomicNumber.GetValue(*this); }
    const std::string& GetSymbol() const { return m_pptSymbol.GetValue(*this); }
    double GetMass() const { return m_pptMass.GetValue(*this); }
    double GetCovalentRadius() const { return m_pptCovalentRadius.GetValue(*this); }

private:
    friend class xxPeriodicTable;
    int number_ = 0;
    std::string symbol_;
    double mass_ = 0;
    double radius_ = 0;
};

class xxPeriodicTable : public xxTreeNode {
    XX_DECLARE_CLASS(xxPeriodicTable)
public:
    xxPeriodicTable() = default;

    // The process's table (xxElementFactory::Instantiate), built from the built-in data.
    static xxPeriodicTable& Instance();
    // Merges loaded by atomic number: each element it lists takes its values, isotopes and
    // oxidation states; the others stay. Throws Cfx::CfxResult E_UNEXPECTED, changing nothing,
    // for an element number out of 0..118 or listed twice, an isotope's mass number listed twice
    // for one element, or a child that is no element.
    static void Install(xxPeriodicTable& loaded);
    // Back to the built-in data (tests).
    static void Reset();

    xxPeriodicElement& ElementOf(int number) const;

private:
    void Fill();
};
