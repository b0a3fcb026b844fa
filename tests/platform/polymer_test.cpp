// Repeat units and their linkages, blocks, the values kept beside objects (object numbers,
// visibility, anisotropic factors, mixed sites), moving children, and fixed positions.
#include <gtest/gtest.h>

#include <set>
#include <vector>

#include "cfx/cfx.h"
#include "datamodel/atomistic.h"
#include "datamodel/legacy_surface.h"
#include "datamodel/polymer.h"
#include "datamodel/sets.h"

namespace {

TEST(RepeatUnit, HeadAndTailAreLinkageChildrenThatForgetDeadAtoms) {
    xxTreeRoot root;
    auto& unit = root.CreateChild<xxMultiScaleRepeatUnit>();
    EXPECT_TRUE(unit.IsA(xxSubUnit::classType));
    EXPECT_TRUE(unit.IsA(xxRepeatUnit::classType));
    auto& a = unit.CreateChild<xxAtom3d>("C");
    auto& b = unit.CreateChild<xxAtom3d>("O");
    unit.SetHeadAtom(&a);
    unit.SetTailAtom(&b);
    ASSERT_EQ(unit.ChildrenOf<xxLinkage>().size(), 2u);
    EXPECT_EQ(unit.FindLinkage(xxLinkage::kHead)->GetHeadTail(), xxLinkage::kHead);
    EXPECT_EQ(unit.GetHeadAtom(), &a);
    EXPECT_EQ(unit.GetTailAtom(), &b);
    unit.SetHeadAtom(&b);  // the same linkage, another atom
    EXPECT_EQ(unit.ChildrenOf<xxLinkage>().size(), 2u);
    EXPECT_EQ(unit.GetHeadAtom(), &b);
    b.Delete();
    EXPECT_EQ(unit.GetHeadAtom(), nullptr);
    EXPECT_TRUE(unit.FindLinkage(xxLinkage::kTail)->GetLinkAtoms().empty());
    unit.SetHeadAtom(nullptr);
    EXPECT_EQ(unit.FindLinkage(xxLinkage::kHead), nullptr);
    xxBondable* none = nullptr;
    EXPECT_THROW(unit.FindLinkage(xxLinkage::kTail)->SetLinkAtoms(std::span<xxBondable* const>(&none, 1)), Cfx::CfxResult);
}

TEST(RepeatUnit, ClassesGoByTheDocumentNames) {
    struct Case {
        const char* name;
        bool creatable;
    } cases[] = {{"RepeatUnitBase", false}, {"MultipleBondingAtomsRepeatUnitBase", false}, {"MultiScaleRepeatUnit", true},
                 {"Linkage", true},         {"AbstractBlock", false},                      {"MultiScaleBlock", true},
                 {"LegacySurfaceObject", true}};
    for (const Case& c : cases) {
        const xxClass* cls = xxClass::FindClassIfExists(c.name);
        ASSERT_NE(cls, nullptr) << c.name;
        EXPECT_EQ(!cls->IsAbstract(), c.creatable) << c.name;
    }
    EXPECT_FALSE(xxMultiScaleBlock().IsA(xxSubUnit::classType));  // a block is a container only
}

TEST(TreeNode, MoveChildrenKeepsTheirOrderAndBonds) {
    xxTreeRoot root;
    auto& from = root.CreateChild<xxMultiScaleSubUnit>();
    auto& to = root.CreateChild<xxMultiScaleBlock>();
    auto& a = from.CreateChild<xxAtom3d>("C");
    auto& b = from.CreateChild<xxAtom3d>("C");
    auto& outside = root.CreateChild<xxAtom3d>("O");
    xxBondable::MakeBond(a, b);
    xxBond& across = xxBondable::MakeBond(b, outside);
    from.MoveChildrenTo(to);
    EXPECT_EQ(from.NumChildren(), 0u);
    ASSERT_EQ(to.NumChildren(), 3u);
    EXPECT_EQ(&to.GetChild(0), &a);
    EXPECT_EQ(&to.GetChild(1), &b);
    EXPECT_NE(to.GetChild(2).As<xxBond>(), nullptr);
    EXPECT_EQ(a.GetParent(), &to);
    EXPECT_EQ(across.GetParent(), &root);
    EXPECT_THROW(root.MoveChildrenTo(to), Cfx::CfxResult);
    EXPECT_THROW(to.MoveChildrenTo(to), Cfx::CfxResult);
}

TEST(Object, NumbersAndVisibilityLiveBesideTheTree) {
    std::set<std::uint64_t> seen;
    for (int i = 0; i < 3; ++i) {
        xxTreeRoot root;
        auto& surface = root.CreateChild<xxLegacySurfaceObject>();
        const std::uint64_t oid = surface.GetOID();
        EXPECT_EQ(surface.GetOID(), oid);  // kept
        EXPECT_TRUE(seen.insert(oid).second) << "never reused";
        EXPECT_TRUE(surface.IsVisible());
        surface.SetVisibility(false);
        EXPECT_FALSE(surface.IsVisible());
        EXPECT_TRUE(root.IsVisible());
        surface.SetVisibility(true);
        EXPECT_TRUE(surface.IsVisible());
        surface.SetVisibility(false);
    }
    xxAtom3d fresh("C");  // whatever address it has, nothing is left over from the dead objects
    EXPECT_TRUE(fresh.IsVisible());
}

TEST(Atom3d, ValuesFewAtomsHave) {
    xxAtom3d atom("C");
    EXPECT_TRUE(atom.IsHybridizationDefault());
    atom.SetHybridization(13);
    EXPECT_EQ(atom.GetHybridization(), 13);
    EXPECT_THROW(atom.SetHybridization(14), Cfx::CfxResult);
    EXPECT_THROW(atom.SetHybridization(-1), Cfx::CfxResult);

    EXPECT_EQ(atom.GetAnisotropicTF(), xxMatrix3x3{});
    const xxMatrix3x3 u({1, 4, 6, 4, 2, 5, 6, 5, 3});
    atom.SetAnisotropicTF(u);
    EXPECT_EQ(atom.GetAnisotropicTF(), u);
    EXPECT_THROW(atom.SetAnisotropicTF(u, xxAtom3d::kTFFormatU), Cfx::CfxResult);
    EXPECT_THROW(atom.SetAnisotropicTF(xxMatrix3x3({1, 0, 0, 0, 1, 0, 0, 0, std::nan("")})), Cfx::CfxResult);

    EXPECT_FALSE(atom.IsMixture());
    const xxElement& si = xxElementFactory::GetElement("Si");
    const xxElement& al = xxElementFactory::GetElement("Al");
    atom.SetMixtureProperties({xxAtomComponent(al, 0.25), xxAtomComponent(si, 0.75)});
    EXPECT_TRUE(atom.IsMixture());
    EXPECT_EQ(atom.GetElementSymbol(), "Si");  // the major component
    EXPECT_EQ(atom.GetMixtureProperties().size(), 2u);
    EXPECT_THROW(atom.SetMixtureProperties({xxAtomComponent(si, 1.5)}), Cfx::CfxResult);
    EXPECT_THROW(atom.SetMixtureProperties({xxAtomComponent()}), Cfx::CfxResult);
    atom.SetMixtureProperties({});
    EXPECT_FALSE(atom.IsMixture());

    EXPECT_TRUE(atom.IsFormalChargeDefault());
    atom.SetFormalCharge(1);
    EXPECT_FALSE(atom.IsFormalChargeDefault());
    EXPECT_FALSE(atom.IsChiralCenter());
    atom.SetIsChiralCenter(true);
    EXPECT_TRUE(atom.IsChiralCenter());
}

TEST(Matter, IsMoveableWhileNoCompleteRestrictionHoldsIt) {
    xxTreeRoot root;
    auto& atom = root.CreateChild<xxAtom3d>("C");
    EXPECT_TRUE(atom.IsMoveable());
    auto& first = root.CreateChild<xxCompleteRestriction>();
    auto& second = root.CreateChild<xxCompleteRestriction>();
    first.AddRestrictable(atom.GetXYZRestrictable());
    second.AddRestrictable(atom.GetXYZRestrictable());
    EXPECT_FALSE(atom.IsMoveable());
    EXPECT_TRUE(first.RemoveRestrictable(atom.GetXYZRestrictable()));
    EXPECT_FALSE(atom.IsMoveable());
    second.Delete();
    EXPECT_TRUE(atom.IsMoveable());
}

TEST(ChargeGroup, MembersMayBeAnyBondable) {
    xxTreeRoot root;
    auto& atom = root.CreateChild<xxAtom3d>("C");
    auto& dummy = root.CreateChild<xxDummy>();
    auto& group = root.CreateChild<xxChargeGroup>();
    xxBondable* members[] = {&dummy, &atom};
    group.SetMembers(members);
    group.SetSwitchingCenter(&dummy);
    EXPECT_EQ(group.GetMembers(), (std::vector<xxBondable*>{&dummy, &atom}));
    EXPECT_EQ(group.GetAtoms(), (std::vector<xxAtom*>{&atom}));
    EXPECT_EQ(group.GetSwitchingCenter(), &dummy);
}

}  // namespace
