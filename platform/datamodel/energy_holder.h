// The energies of a classical simulation of a model (the frame a trajectory shows, say), kept as
// properties of the model's tree root: each is unassigned until something sets it.
#pragma once

#include <array>
#include <cstddef>
#include <span>

#include "datamodel/object.h"

class xxClassicalEnergyHolder : public xxTreeRoot {
    XX_DECLARE_CLASS(xxClassicalEnergyHolder)
public:
    static constexpr std::size_t kNumEnergies = 24;

    static const xxPropertyTemplate<double> m_pptTotalEnergy;
    static const xxPropertyTemplate<double> m_pptKineticEnergy;
    static const xxPropertyTemplate<double> m_pptPotentialEnergy;
    static const xxPropertyTemplate<double> m_pptBondEnergy;
    static const xxPropertyTemplate<double> m_pptAngleEnergy;
    static const xxPropertyTemplate<double> m_pptTorsionEnergy;
    static const xxPropertyTemplate<double> m_pptInversionEnergy;
    static const xxPropertyTemplate<double> m_pptVanDerWaalsEnergy;
    static const xxPropertyTemplate<double> m_pptElectrostaticEnergy;
    static const xxPropertyTemplate<double> m_pptHydrogenBondEnergy;
    static const xxPropertyTemplate<double> m_pptRestraintEnergy;
    static const xxPropertyTemplate<double> m_pptThreeBodyNonBondEnergy;
    static const xxPropertyTemplate<double> m_pptValenceCrossTermEnergy;
    static const xxPropertyTemplate<double> m_pptBendBendEnergy;
    static const xxPropertyTemplate<double> m_pptStretchStretchEnergy;
    static const xxPropertyTemplate<double> m_pptStretchBendStretchEnergy;
    static const xxPropertyTemplate<double> m_pptStretchTorsionStretchEnergy;
    static const xxPropertyTemplate<double> m_pptBendTorsionBendEnergy;
    static const xxPropertyTemplate<double> m_pptTorsionBendBendEnergy;
    static const xxPropertyTemplate<double> m_pptSeparatedStretchStretchEnergy;
    static const xxPropertyTemplate<double> m_pptTorsionStretchEnergy;
    static const xxPropertyTemplate<double> m_pptValenceDiagonalEnergy;
    static const xxPropertyTemplate<double> m_pptNonBondEnergy;
    static const xxPropertyTemplate<double> m_pptTemperature;

    // The templates above in that order.
    static std::span<const xxPropertyTemplate<double>* const, kNumEnergies> EnergyTemplates();

protected:
    xxClassicalEnergyHolder() = default;

private:
    template <std::size_t I>
    friend double& EnergyField(xxObject& object);
    std::array<double, kNumEnergies> energies_{};
};
