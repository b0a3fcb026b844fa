// Small models for the CAR/MDF tests, built in code, and a fixed clock for the date lines.
#pragma once

#include <ctime>
#include <memory>
#include <string>
#include <string_view>

#include "datamodel/atomistic.h"
#include "datamodel/sets.h"
#include "datamodel/symmetry/builder.h"
#include "formats/carmdf/car_writer.h"

namespace cvtest::carmdf {

// Thu Dec 10 08:28:00 2026: the clock of the writers of the tests (xxSaveCAR::SetClock).
inline std::tm FixedTime() {
    std::tm t{};
    t.tm_year = 126;
    t.tm_mon = 11;
    t.tm_mday = 10;
    t.tm_hour = 8;
    t.tm_min = 28;
    t.tm_wday = 4;
    return t;
}

inline constexpr std::string_view kDateText = "Thu Dec 10 08:28:00 2026";

struct Model {
    std::unique_ptr<xxAtomisticTreeRoot> root = std::make_unique<xxAtomisticTreeRoot>();
    xxMultiScaleSymmetrySystem* system = nullptr;

    // Where molecules go: the symmetry system once there is one.
    xxTreeNode& Top() { return system ? static_cast<xxTreeNode&>(*system) : *root; }

    xxMultiScaleMolecule& Molecule(std::string name) {
        auto& m = Top().CreateChild<xxMultiScaleMolecule>();
        m.SetName(std::move(name));
        return m;
    }
    static xxMultiScaleSubUnit& SubUnit(xxTreeNode& parent, std::string name) {
        auto& s = parent.CreateChild<xxMultiScaleSubUnit>();
        s.SetName(std::move(name));
        return s;
    }
    static xxAtom3d& Atom(xxTreeNode& parent, std::string name, std::string_view element, xxPoint3d xyz,
                          double charge = 0, std::string type = {}) {
        auto& a = parent.CreateChild<xxAtom3d>(element);
        a.SetName(std::move(name));
        a.SetXYZ(xyz);
        a.SetCharge(charge);
        if (!type.empty()) a.SetForcefieldType(std::move(type));
        return a;
    }

    // A periodic system holding the space group of that name on the cell (angles in degrees).
    xxMultiScaleSymmetrySystem& SpaceGroup(std::string_view name, double a, double b, double c, double alpha,
                                           double beta, double gamma) {
        system = &root->CreateChild<xxMultiScaleSymmetrySystem>();
        const xxSpaceGroupDescription* description = xxSpaceGroupFactory::Instantiate().FindSpaceGroupByName(name);
        auto group = xxSymmetryCreator::CreateSymmetryDefinition(*description, *system);
        const double r = std::atan(1.0) / 45.0;
        group->SetCellParameters(a, b, c, alpha * r, beta * r, gamma * r, false);
        pending3d = std::move(group);
        return *system;
    }
    xxMultiScaleSymmetrySystem& PlaneGroup(std::string_view name, double a, double b, double gamma) {
        system = &root->CreateChild<xxMultiScaleSymmetrySystem>();
        const xxPlaneGroupDescription* description = xxPlaneGroupFactory::Instantiate().FindPlaneGroupByName(name);
        auto group = xxSymmetryCreator::CreateSymmetryDefinition(*description, *system);
        group->SetCellParameters(a, b, gamma * std::atan(1.0) / 45.0, false);
        pending2d = std::move(group);
        return *system;
    }
    // Builds the pending group into the system once its atoms are in place.
    void Build() {
        if (pending3d) xxSymmetryChanger::Build(*system, std::move(pending3d), true, 0.05, false);
        if (pending2d) xxSymmetryChanger::Build(*system, std::move(pending2d), true, 0.05, false);
    }

    std::unique_ptr<xxSpaceGroup> pending3d;
    std::unique_ptr<xxPlaneGroup> pending2d;
};

}  // namespace cvtest::carmdf
