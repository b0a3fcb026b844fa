#include "datamodel/periodic_table.h"

#include <algorithm>
#include <array>
#include <vector>

#include "cfx/cfx.h"

namespace {
// Bits of each class's own chain.
constexpr unsigned kFirstBit = 0, kSecondBit = 1, kThirdBit = 2, kFourthBit = 3;
}  // namespace

const xxPropertyTemplate<int> xxPeriodicIsotope::m_pptMassNumber("MassNumber", &xxPeriodicIsotope::Class,
                                                         XX_FIELD(xxPeriodicIsotope, massNumber_), kFirstBit);
const xxPropertyTemplate<double> xxPeriodicIsotope::m_pptMass("Mass", &xxPeriodicIsotope::Class, XX_FIELD(xxPeriodicIsotope, mass_), kSecondBit);
XX_IMPLEMENT_CLASS(xxPeriodicIsotope, "Isotope", xxObject, 1, &xxPeriodicIsotope::m_pptMassNumber, &xxPeriodicIsotope::m_pptMass)

const xxPropertyTemplate<int> xxOxidationState::m_pptValue("Value", &xxOxidationState::Class,
                                                           XX_FIELD(xxOxidationState, value_), kFirstBit);
XX_IMPLEMENT_CLASS(xxOxidationState, "OxidationState", xxObject, 1, &xxOxidationState::m_pptValue)

const xxPropertyTemplate<int> xxPeriodicElement::m_pptAtomicNumber("AtomicNumber", &xxPeriodicElement::Class,
                                                                   XX_FIELD(xxPeriodicElement, number_), kFirstBit);
const xxPropertyTemplate<std::string> xxPeriodicElement::m_pptSymbol("Symbol", &xxPeriodicElement::Class,
                                                                     XX_FIELD(xxPeriodicElement, symbol_), kSecondBit);
const xxPropertyTemplate<double> xxPeriodicElement::m_pptMass("Mass", &xxPeriodicElement::Class,
                                                              XX_FIELD(xxPeriodicElement, mass_), kThirdBit);
const xxPropertyTemplate<double> xxPeriodicElement::m_pptCovalentRadius("CovalentRadius", &xxPeriodicElement::Class,
                                                                        XX_FIELD(xxPeriodicElement, radius_), kFourthBit);
XX_IMPLEMENT_CLASS(xxPeriodicElement, "Element", xxTreeNode, 1, &xxPeriodicElement::m_pptAtomicNumber,
                   &xxPeriodicElement::m_pptSymbol, &xxPeriodicElement::m_pptMass,
                   &xxPeriodicElement::m_pptCovalentRadius)
XX_IMPLEMENT_CLASS(xxPeriodicTable, "PeriodicTable", xxTreeNode, 1)

xxPeriodicTable& xxElementFactory::Instantiate() { return xxPeriodicTable::Instance(); }

void xxPeriodicTable::Fill() {
    RemoveDescendents();
    for (const xxElement& e : kElementTable) {
        auto& element = CreateChild<xxPeriodicElement>();
        element.SetName(std::string(e.name));
        xxPeriodicElement::m_pptAtomicNumber.SetValue(element, e.number);
        xxPeriodicElement::m_pptSymbol.SetValue(element, std::string(e.symbol));
        xxPeriodicElement::m_pptMass.SetValue(element, e.mass);
        xxPeriodicElement::m_pptCovalentRadius.SetValue(element, e.covalentRadius);
        for (const xxIsotope& i : e.Isotopes()) {
            auto& isotope = element.CreateChild<xxPeriodicIsotope>();
            xxPeriodicIsotope::m_pptMassNumber.SetValue(isotope, i.massNumber);
            xxPeriodicIsotope::m_pptMass.SetValue(isotope, i.mass);
        }
    }
}

xxPeriodicTable& xxPeriodicTable::Instance() {
    static xxPeriodicTable& table = [&]() -> xxPeriodicTable& {
        static xxPeriodicTable built;
        built.Fill();
        return built;
    }();
    return table;
}

xxPeriodicElement& xxPeriodicTable::ElementOf(int number) const {
    if (number < 0 || number > kMaxElementNumber || static_cast<std::size_t>(number) >= NumChildren())
        throw Cfx::CfxResult(E_INVALIDARG, "No element has the atomic number " + std::to_string(number));
    return static_cast<xxPeriodicElement&>(GetChild(static_cast<std::size_t>(number)));
}

void xxPeriodicTable::Install(xxPeriodicTable& loaded) {
    xxPeriodicTable& table = Instance();
    if (&loaded == &table) return;
    // Everything is checked before anything changes: the data model needs every element.
    std::array<xxPeriodicElement*, kElementTable.size()> listed{};
    for (const auto& child : loaded.Children()) {
        auto* element = child->As<xxPeriodicElement>();
        if (!element)
            throw Cfx::CfxResult(E_UNEXPECTED, "The periodic table holds a " + child->GetClass().GetName());
        const int number = element->GetAtomicNumber();
        if (number < 0 || number > kMaxElementNumber)
            throw Cfx::CfxResult(E_UNEXPECTED, "The periodic table lists the element " + std::to_string(number) +
                                                   ", beyond 0 to " + std::to_string(kMaxElementNumber));
        xxPeriodicElement*& slot = listed[static_cast<std::size_t>(number)];
        if (slot) throw Cfx::CfxResult(E_UNEXPECTED, "The periodic table lists the element " + std::to_string(number) + " twice");
        slot = element;
        std::vector<int> massNumbers;
        for (const xxPeriodicIsotope* isotope : element->ChildrenOf<xxPeriodicIsotope>())
            massNumbers.push_back(isotope->GetMassNumber());
        std::sort(massNumbers.begin(), massNumbers.end());
        if (auto twice = std::adjacent_find(massNumbers.begin(), massNumbers.end()); twice != massNumbers.end())
            throw Cfx::CfxResult(E_UNEXPECTED, "The periodic table lists the isotope " + std::to_string(*twice) +
                                                   " of the element " + std::to_string(number) + " twice");
    }
    std::vector<xxIsotope> isotopes;
    for (xxPeriodicElement* from : listed) {
        if (!from) continue;
        xxPeriodicElement& to = table.ElementOf(from->GetAtomicNumber());
        if (!from->GetName().empty()) to.SetName(from->GetName());
        // The values it gives; one it leaves out keeps the table's.
        if (xxPeriodicElement::m_pptSymbol.IsAssigned(*from)) xxPeriodicElement::m_pptSymbol.SetValue(to, from->symbol_);
        if (xxPeriodicElement::m_pptMass.IsAssigned(*from)) xxPeriodicElement::m_pptMass.SetValue(to, from->mass_);
        if (xxPeriodicElement::m_pptCovalentRadius.IsAssigned(*from)) xxPeriodicElement::m_pptCovalentRadius.SetValue(to, from->radius_);
        to.RemoveDescendents();
        while (from->NumChildren()) to.AdoptChild(from->DetachChild(from->GetChild(0)));
        isotopes.clear();
        for (const xxPeriodicIsotope* isotope : to.ChildrenOf<xxPeriodicIsotope>())
            isotopes.push_back({to.GetAtomicNumber(), isotope->GetMassNumber(), isotope->GetMass()});
        xxElementFactory::SetElementData(to.GetAtomicNumber(), to.GetSymbol(), to.GetName(), to.GetMass(),
                                         to.GetCovalentRadius(), isotopes);
    }
}

void xxPeriodicTable::Reset() {
    // Fill reads the isotopes the lookups answer with, so they go back first.
    xxElementFactory::ResetElementData();
    Instance().Fill();
}
