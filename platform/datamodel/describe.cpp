#include "datamodel/describe.h"

#include <numbers>

#include "datamodel/atomistic.h"
#include "datamodel/legacy_surface.h"
#include "datamodel/polymer.h"
#include "datamodel/symmetry/definition.h"
#include "datamodel/symmetry/system.h"

xxDescription DescribeObject(const xxObject& object) {
    xxDescription d;
    if (const auto* atom = object.As<xxAtom>()) {
        d.element = std::string(atom->GetElement().symbol);
    } else if (const auto* dummy = object.As<xxDummyBase>()) {
        d.element = dummy->GetDummySymbol().empty() ? std::string("Du") : dummy->GetDummySymbol();
    }
    if (d.element) {
        const auto& matter = static_cast<const xxMatter&>(object);
        d.xyz = matter.GetXYZ();
        d.charge = matter.GetCharge();
    }
    if (const auto* bond = object.As<xxBond>()) {
        auto ends = bond->GetAtoms();
        if (ends[0] && ends[1]) d.bondAtoms = std::pair{ends[0]->GetID(), ends[1]->GetID()};
        d.bondOrder = bond->GetOrder();
    }
    if (const auto* system = object.As<xxSymmetrySystem>()) {
        const xxSymmetryDefinition& definition = system->GetSymmetryDefinition();
        if (definition.GetDimension() >= 2) {
            constexpr double degrees = 180.0 / std::numbers::pi;
            d.cell = xxCellParameters{definition.GetA(),           definition.GetB(),
                                      definition.GetC(),           definition.GetAlpha() * degrees,
                                      definition.GetBeta() * degrees, definition.GetGamma() * degrees};
            d.group = definition.GetGroupName();
            d.qualifier = definition.GetQualifier();
        }
    }
    if (const auto* surface = object.As<xxLegacySurfaceObject>()) {
        if (const xxTriangleMesh* mesh = surface->GetTriangleMesh())
            d.mesh = xxDescription::Mesh{mesh->Vertices().size(), mesh->Triangles().size(), mesh->GetColor()};
    }
    if (const auto* unit = object.As<xxRepeatUnit>()) {
        d.repeatUnit = true;
        if (const xxBondable* head = unit->GetLinkAtom(xxLinkage::kHead)) d.head = head->GetID();
        if (const xxBondable* tail = unit->GetTailAtom()) d.tail = tail->GetID();
    }
    if (const auto* group = object.As<xxChargeGroup>()) {
        d.chargeGroup = true;
        for (const xxBondable* member : group->GetMembers()) d.members.push_back(member->GetID());
        if (const xxBondable* center = group->GetSwitchingCenter()) d.center = center->GetID();
    }
    return d;
}
