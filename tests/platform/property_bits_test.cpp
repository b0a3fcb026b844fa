// The bits of the assignment mask: no two property templates of one class (its bases' included)
// share a bit, over every class the platform registers.
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "datamodel/atomistic.h"
#include "datamodel/energy_holder.h"
#include "datamodel/legacy_surface.h"
#include "datamodel/object.h"
#include "datamodel/polymer.h"
#include "datamodel/symmetry/system.h"
#include "utilities/trajectory.h"

namespace {

// "Class: template and template share bit n" for every clash, and templates beyond the mask.
std::vector<std::string> Clashes(const xxClass& cls) {
    std::vector<std::string> out;
    std::map<unsigned, const xxPropertyBase*> byBit;
    for (const xxPropertyBase* p : xxObject::PropertyTemplatesOf(cls)) {
        if (p->Bit() >= 32) out.push_back(cls.GetName() + ": " + p->Name() + " has bit " + std::to_string(p->Bit()));
        auto [it, fresh] = byBit.try_emplace(p->Bit(), p);
        if (!fresh)
            out.push_back(cls.GetName() + ": " + it->second->Name() + " and " + p->Name() + " share bit " +
                          std::to_string(p->Bit()));
    }
    return out;
}

TEST(PropertyBits, NoTwoTemplatesOfAClassShareABit) {
    // The libraries whose classes must be among those walked.
    for (const char* name : {"Atom3d", "Bond", "PiSystem", "Trajectory", "ClassicalEnergyHolder", "MatterSymmetrySystem"})
        ASSERT_NE(xxClass::FindClassIfExists(name), nullptr) << name;
    ASSERT_NE(xxTrajectory::classType, 0u);

    std::size_t withTemplates = 0;
    xxClass::ForEach([&](const xxClass& cls) {
        const std::vector<std::string> clashes = Clashes(cls);
        for (const std::string& clash : clashes) ADD_FAILURE() << clash;
        if (!xxObject::PropertyTemplatesOf(cls).empty()) ++withTemplates;
    });
    EXPECT_GT(withTemplates, 5u);
}

// A class that takes a bit of its base is one the walk above would report.
TEST(PropertyBits, ATemplateOnABaseBitIsReported) {
    static int field = 0;
    const xxPropertyTemplate<int> clash("Clash", nullptr, +[](xxObject&) -> int& { return field; }, 16);
    const xxPropertyBase* const own[] = {&clash};
    const xxPropertyTable table{own};
    const xxClass* const bases[] = {&xxAtom3d::Class()};
    const xxClass derived("PropertyBitsTestDerived", nullptr, nullptr, bases, 1, 1, &table);
    const std::vector<std::string> clashes = Clashes(derived);
    ASSERT_EQ(clashes.size(), 1u);
    EXPECT_EQ(clashes[0], "PropertyBitsTestDerived: Element and Clash share bit 16");
}

// Setters that assign their field themselves mark the bit their template reads.
TEST(PropertyBits, SettersMarkTheirTemplatesBit) {
    struct Case {
        const char* what;
        std::function<std::unique_ptr<xxObject>()> make;  // every template of the object set
    } cases[] = {
        {"atom",
         [] {
             auto atom = std::make_unique<xxAtom3d>("C");
             atom->SetXYZ({1, 2, 3});
             atom->SetVelocity({0, 0, 1});
             atom->SetCharge(0.5);
             atom->SetForcefieldType("c3");
             atom->SetImportOrder(4);
             atom->SetIsOutOfPlane(true);
             atom->SetIsBackboneAtom(true);
             atom->SetElement("N");
             atom->SetIsotope(15);
             atom->SetFormalCharge(1, 2);
             atom->SetOccupancy(0.5);
             atom->SetIsotropicTF(0.05, xxAtom3d::kTFFormatU);
             atom->SetAppliedTF(xxAtom3d::kIsotropicTF);
             atom->SetIsChiralCenter(true);
             atom->SetHybridization(3);
             atom->SetAnisotropicTF(xxMatrix3x3({1, 0, 0, 0, 1, 0, 0, 0, 1}));
             return atom;
         }},
        {"dummy",
         [] {
             auto dummy = std::make_unique<xxDummy>();
             dummy->SetXYZ({1, 2, 3});
             dummy->SetVelocity({0, 0, 1});
             dummy->SetCharge(0.5);
             dummy->SetForcefieldType("lp");
             dummy->SetImportOrder(4);
             dummy->SetDummySymbol("X");
             dummy->SetDummyKind("Geometry Aid");
             return dummy;
         }},
        {"linkage",
         [] {
             auto linkage = std::make_unique<xxLinkage>();
             linkage->SetHeadTail(xxLinkage::kTail);
             return linkage;
         }},
        {"legacy surface",
         [] {
             auto surface = std::make_unique<xxLegacySurfaceObject>();
             surface->SetXYZ({1, 2, 3});
             return surface;
         }},
        {"pi system",
         [] {
             auto pi = std::make_unique<xxPiSystem>();
             pi->SetXYZ({1, 2, 3});
             pi->SetVelocity({0, 0, 1});
             pi->SetCharge(0.5);
             pi->SetForcefieldType("pi");
             pi->SetImportOrder(4);
             pi->SetHasDynamicPosition(true);
             return pi;
         }},
        {"bond",
         [] {
             auto bond = std::make_unique<xxBond>();
             bond->SetBondType(xxBondType::Aromatic);  // a type its order (1.5) does not tell
             return bond;
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::unique_ptr<xxObject> object = c.make();
        for (const xxPropertyBase* p : object->PropertyTemplates()) EXPECT_TRUE(p->IsAssigned(*object)) << p->Name();
        object->InitialiseObjectToDefault();
        for (const xxPropertyBase* p : object->PropertyTemplates()) EXPECT_FALSE(p->IsAssigned(*object)) << p->Name();
    }
}

}  // namespace
