#include "datamodel/energy_holder.h"

#include "datamodel/property_bits.h"

template <std::size_t I>
double& EnergyField(xxObject& object) {
    return static_cast<xxClassicalEnergyHolder&>(object).energies_[I];
}

#define CV_ENERGY(Name, index)                                                                                   \
    const xxPropertyTemplate<double> xxClassicalEnergyHolder::m_ppt##Name(#Name, &xxClassicalEnergyHolder::Class, \
                                                                          &EnergyField<index>,                   \
                                                                          xxPropertyBit::kFirstEnergy + (index));
CV_ENERGY(TotalEnergy, 0)
CV_ENERGY(KineticEnergy, 1)
CV_ENERGY(PotentialEnergy, 2)
CV_ENERGY(BondEnergy, 3)
CV_ENERGY(AngleEnergy, 4)
CV_ENERGY(TorsionEnergy, 5)
CV_ENERGY(InversionEnergy, 6)
CV_ENERGY(VanDerWaalsEnergy, 7)
CV_ENERGY(ElectrostaticEnergy, 8)
CV_ENERGY(HydrogenBondEnergy, 9)
CV_ENERGY(RestraintEnergy, 10)
CV_ENERGY(ThreeBodyNonBondEnergy, 11)
CV_ENERGY(ValenceCrossTermEnergy, 12)
CV_ENERGY(BendBendEnergy, 13)
CV_ENERGY(StretchStretchEnergy, 14)
CV_ENERGY(StretchBendStretchEnergy, 15)
CV_ENERGY(StretchTorsionStretchEnergy, 16)
CV_ENERGY(BendTorsionBendEnergy, 17)
CV_ENERGY(TorsionBendBendEnergy, 18)
CV_ENERGY(SeparatedStretchStretchEnergy, 19)
CV_ENERGY(TorsionStretchEnergy, 20)
CV_ENERGY(ValenceDiagonalEnergy, 21)
CV_ENERGY(NonBondEnergy, 22)
CV_ENERGY(Temperature, 23)
#undef CV_ENERGY

#define CV_ENERGY_LIST                                                                                        \
    &m_pptTotalEnergy, &m_pptKineticEnergy, &m_pptPotentialEnergy, &m_pptBondEnergy, &m_pptAngleEnergy,      \
        &m_pptTorsionEnergy, &m_pptInversionEnergy, &m_pptVanDerWaalsEnergy, &m_pptElectrostaticEnergy,       \
        &m_pptHydrogenBondEnergy, &m_pptRestraintEnergy, &m_pptThreeBodyNonBondEnergy,                        \
        &m_pptValenceCrossTermEnergy, &m_pptBendBendEnergy, &m_pptStretchStretchEnergy,                       \
        &m_pptStretchBendStretchEnergy, &m_pptStretchTorsionStretchEnergy, &m_pptBendTorsionBendEnergy,       \
        &m_pptTorsionBendBendEnergy, &m_pptSeparatedStretchStretchEnergy, &m_pptTorsionStretchEnergy,         \
        &m_pptValenceDiagonalEnergy, &m_pptNonBondEnergy, &m_pptTemperature

XX_IMPLEMENT_ABSTRACT_CLASS(xxClassicalEnergyHolder, "ClassicalEnergyHolder", xxTreeRoot, 1, CV_ENERGY_LIST)

std::span<const xxPropertyTemplate<double>* const, xxClassicalEnergyHolder::kNumEnergies>
xxClassicalEnergyHolder::EnergyTemplates() {
    static const xxPropertyTemplate<double>* const all[] = {CV_ENERGY_LIST};
    return std::span<const xxPropertyTemplate<double>* const, kNumEnergies>(all);
}
#undef CV_ENERGY_LIST
