// The atomistic data model: tree and bonds, properties, registered classes, references that
// outlive nothing they point at (run under the sanitizers), charge groups, pi systems, sets,
// restrictions and monitors.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <functional>
#include <limits>
#include <memory>
#include <numbers>
#include <string>
#include <vector>

#include "datamodel/atomistic.h"
#include "datamodel/iterator.h"
#include "datamodel/reference.h"
#include "datamodel/sets.h"
#include "datamodel/symmetry/system.h"
#include "datamodel/tree_size.h"

namespace {

HRESULT ResultOf(const std::function<void()>& f) {
    try {
        f();
    } catch (const Cfx::CfxResult& r) {
        return r.Hr();
    }
    return S_OK;
}

xxAtom3d& AddAtom(xxTreeNode& parent, std::string_view element, xxPoint3d xyz, std::string name = {}) {
    auto& atom = parent.CreateChild<xxAtom3d>(element);
    atom.SetXYZ(xyz);
    if (!name.empty()) atom.SetName(std::move(name));
    return atom;
}

// A root with two molecules; the first has two sub-units.
struct Model : ::testing::Test {
    std::unique_ptr<xxAtomisticTreeRoot> root = std::make_unique<xxAtomisticTreeRoot>();
    xxMolecule& mol1 = root->CreateChild<xxMultiScaleMolecule>();
    xxSubUnit& su1 = mol1.CreateChild<xxMultiScaleSubUnit>();
    xxSubUnit& su2 = mol1.CreateChild<xxMultiScaleSubUnit>();
    xxMolecule& mol2 = root->CreateChild<xxMultiScaleMolecule>();
    xxAtom3d& a = AddAtom(su1, "C", {0, 0, 0}, "A");
    xxAtom3d& b = AddAtom(su1, "C", {1.5, 0, 0}, "B");
    xxAtom3d& c = AddAtom(su2, "O", {3, 0, 0}, "C");
    xxAtom3d& d = AddAtom(mol2, "H", {4, 0, 0}, "D");
};

std::size_t CountBondsIn(const xxTreeNode& node) { return node.DescendentsOf<xxBond>().size(); }

// ---- tree and bonds --------------------------------------------------------------------------

TEST_F(Model, ChildrenKeepInsertionOrderAndNamesFindThem) {
    auto names = [](const xxTreeNode& n) {
        std::vector<std::string> out;
        for (const auto& child : n.Children()) out.push_back(child->GetName());
        return out;
    };
    AddAtom(su1, "N", {}, "E");
    EXPECT_EQ(names(su1), (std::vector<std::string>{"A", "B", "E"}));
    EXPECT_EQ(su1.FindChild("B", xxBondable::classType), &b);
    EXPECT_EQ(su1.FindChild("B", xxMolecule::classType), nullptr);
    EXPECT_EQ(root->ChildrenOf<xxMolecule>(), (std::vector<xxMolecule*>{&mol1, &mol2}));
    EXPECT_EQ(a.GetTreeRoot(), root.get());
}

TEST_F(Model, BondLivesUnderTheLowestCommonNodeOfItsAtoms) {
    struct Case {
        xxBondable* first;
        xxBondable* second;
        xxTreeNode* home;
    } cases[] = {{&a, &b, &su1}, {&b, &c, &mol1}, {&c, &d, root.get()}};
    for (const Case& k : cases) {
        xxBond& bond = xxBondable::MakeBond(*k.first, *k.second);
        EXPECT_EQ(bond.GetParent(), k.home) << k.first->GetName() << "-" << k.second->GetName();
        EXPECT_TRUE(bond.Joins(*k.first, *k.second));
    }
}

TEST_F(Model, MakeBondFromEitherSideGivesOneBondAndKeepsItsType) {
    xxBond& first = xxBondable::MakeBond(a, b, xxBondType::Double);
    xxBond& again = xxBondable::MakeBond(b, a, xxBondType::Triple);
    EXPECT_EQ(&first, &again);
    EXPECT_EQ(first.GetOrder(), 2.0);
    EXPECT_EQ(CountBondsIn(*root), 1u);
    EXPECT_EQ(a.GetBonds().size(), 1u);
    EXPECT_EQ(b.GetBonds().size(), 1u);
    EXPECT_EQ(a.GetAttached(), (std::vector<xxBondable*>{&b}));
    EXPECT_EQ(first.GetPartner(a), &b);
    EXPECT_EQ(first.GetPartner(c), nullptr);
}

TEST_F(Model, BondTypesGiveTheirOrders) {
    struct Case {
        xxBondType type;
        double order;
        bool stored;  // the order alone does not tell the type
    } cases[] = {{xxBondType::Single, 1.0, false},       {xxBondType::Partial, 1.5, false},
                 {xxBondType::Aromatic, 1.5, true},      {xxBondType::Double, 2.0, false},
                 {xxBondType::TriplePartial, 2.5, true}, {xxBondType::Triple, 3.0, false},
                 {xxBondType::Quadruple, 4.0, true}};
    for (const Case& k : cases) {
        auto& x = AddAtom(su1, "C", {});
        auto& y = AddAtom(su1, "C", {});
        xxBond& bond = xxBondable::MakeBond(x, y, k.type);
        EXPECT_EQ(bond.GetOrder(), k.order);
        EXPECT_EQ(bond.GetBondType(), k.type);
        EXPECT_EQ(bond.GetHeavy(), static_cast<int>(k.type));
        EXPECT_EQ(xxBond::m_pptBondType.IsAssigned(bond), k.stored) << bond.GetHeavy();
    }
    for (int code : {0, 8, -1}) EXPECT_THROW(BondOrderOf(static_cast<xxBondType>(code)), Cfx::CfxResult) << code;
}

TEST_F(Model, AnOrderSetLaterReplacesTheStoredType) {
    auto& x = AddAtom(su1, "C", {});
    auto& y = AddAtom(su1, "C", {});
    xxBond& bond = xxBondable::MakeBond(x, y, xxBondType::Aromatic);
    bond.SetOrder(1.5);
    EXPECT_EQ(bond.GetBondType(), xxBondType::Partial);
    EXPECT_FALSE(xxBond::m_pptBondType.IsAssigned(bond));
    bond.SetBondType(xxBondType::Aromatic);
    // Through the properties, as a document reader sets them: the order wins over a type it no
    // longer matches.
    ASSERT_TRUE(xxBond::m_pptOrder.SetFromText(bond, "2"));
    EXPECT_EQ(bond.GetBondType(), xxBondType::Double);
    EXPECT_FALSE(xxBond::m_pptBondType.SetFromText(bond, "8"));
    EXPECT_FALSE(xxBond::m_pptBondType.SetFromText(bond, "-1"));
}

TEST_F(Model, MakeBondRefusesWhatCannotBeBonded) {
    auto loose = std::make_unique<xxAtom3d>("C");
    EXPECT_EQ(ResultOf([&] { xxBondable::MakeBond(a, a); }), E_INVALIDARG);
    EXPECT_EQ(ResultOf([&] { xxBondable::MakeBond(a, *loose); }), E_INVALIDARG);
    EXPECT_EQ(ResultOf([&] { xxBondable::MakeBond(a, b, static_cast<xxBondType>(8)); }), E_INVALIDARG);
    EXPECT_TRUE(a.GetBonds().empty());
    EXPECT_TRUE(loose->GetBonds().empty());
}

TEST_F(Model, BreakBondRemovesItFromBothAtomsAndTheTree) {
    xxBondable::MakeBond(a, b);
    xxBondable::MakeBond(a, c);
    EXPECT_TRUE(a.BreakBond(b));
    EXPECT_FALSE(a.BreakBond(b));
    EXPECT_EQ(a.GetAttached(), (std::vector<xxBondable*>{&c}));
    EXPECT_TRUE(b.GetBonds().empty());
    EXPECT_EQ(CountBondsIn(*root), 1u);
}

TEST_F(Model, DeletingAnAtomTakesItsBondsAlong) {
    xxBondable::MakeBond(a, b);
    xxBondable::MakeBond(b, c);
    xxBondable::MakeBond(b, d);
    b.Delete();
    EXPECT_EQ(CountBondsIn(*root), 0u);
    EXPECT_TRUE(a.GetBonds().empty());
    EXPECT_TRUE(c.GetBonds().empty());
    EXPECT_TRUE(d.GetBonds().empty());
    EXPECT_EQ(su1.NumChildren(), 1u);
}

TEST_F(Model, DestroyingTheTreeCopesWithBondsAndMembersInAnyOrder) {
    // Bonds made before later atoms, bonds in ancestors, sets before and after their members:
    // every order in which the tree destroys them must leave no dangling pointer.
    auto& early = root->CreateChild<xxSet>();
    auto& mol3 = root->CreateChild<xxMolecule>();
    auto& e = AddAtom(mol3, "C", {});
    early.Add(e);  // dies after its member e
    early.Add(a);  // dies before its member a
    xxBondable::MakeBond(a, d);
    xxBondable::MakeBond(e, d);
    xxBondable::MakeBond(a, c);  // lives in mol1, after both sub-units
    auto& su3 = mol1.CreateChild<xxSubUnit>();
    c.SetParent(su3);  // c now dies before its bond
    auto& r = mol2.CreateChild<xxCompleteRestriction>();
    r.AddRestrictable(a.GetXYZRestrictable());
    auto& group = su2.CreateChild<xxChargeGroup>();
    xxAtom* members[] = {&a, &c};
    group.SetAtoms(members);
    mol1.CreateChild<xxDistanceStretcher>(a, d);
    root.reset();
    EXPECT_EQ(xxRestrictable::Count(), 0u);
}

TEST_F(Model, SetParentMovesBondsToTheNewCommonNode) {
    xxBond& ab = xxBondable::MakeBond(a, b);
    xxBond& bc = xxBondable::MakeBond(b, c);
    b.SetParent(su2);  // b and c now share su2; a and b only mol1
    EXPECT_EQ(bc.GetParent(), &su2);
    EXPECT_EQ(ab.GetParent(), &mol1);
    su2.SetParent(mol2);  // a (mol1) and b (mol2) share the root; b and c still su2
    EXPECT_EQ(ab.GetParent(), root.get());
    EXPECT_EQ(bc.GetParent(), &su2);
    EXPECT_EQ(su2.GetParent(), &mol2);
    EXPECT_EQ(mol1.NumChildren(), 1u);
}

TEST_F(Model, AnAtomMovedIntoAnotherTreeLeavesItsBondsBehind) {
    xxBondable::MakeBond(a, b);
    xxAtomisticTreeRoot other;
    a.SetParent(other);
    EXPECT_TRUE(a.GetBonds().empty());
    EXPECT_TRUE(b.GetBonds().empty());
    EXPECT_EQ(CountBondsIn(*root), 0u);
    a.Delete();
}

TEST_F(Model, SetParentAndDeleteRefuseWhatTheTreeCannotDo) {
    EXPECT_EQ(ResultOf([&] { mol1.SetParent(su1); }), E_INVALIDARG);
    xxAtom3d loose("C");
    EXPECT_EQ(ResultOf([&] { loose.Delete(); }), E_INVALIDARG);
}

TEST_F(Model, MatterCountHoldsAtomsAndDummiesOnly) {
    su2.CreateChild<xxDummy>();
    auto& pi = mol1.CreateChild<xxPiSystem>();
    pi.MakePiSystemBond(a);
    xxBondable::MakeBond(a, b);
    EXPECT_EQ(mol1.CalculateNumMatterObjects(), 4);
    EXPECT_EQ(su1.CalculateNumMatterObjects(), 2);
    EXPECT_EQ(mol2.CalculateNumMatterObjects(), 1);
}

// Past the two bonds an atom holds in place: whichever bond goes, by breaking it or by deleting
// the partner, the others stay in the order made.
TEST(Bonds, ManyBondsKeepTheirOrderWhicheverGoes) {
    constexpr int kPartners = 5;
    for (bool deletePartner : {false, true}) {
        for (int gone = 0; gone < kPartners; ++gone) {
            SCOPED_TRACE((deletePartner ? "delete partner " : "break bond ") + std::to_string(gone));
            auto root = std::make_unique<xxAtomisticTreeRoot>();
            auto& mol = root->CreateChild<xxMolecule>();
            auto& centre = AddAtom(mol, "C", {});
            std::vector<xxBondable*> partners;
            for (int i = 0; i < kPartners; ++i) {
                partners.push_back(&AddAtom(mol, "H", {1.0 + i, 0, 0}));
                xxBondable::MakeBond(centre, *partners.back());
            }
            if (deletePartner) partners[static_cast<std::size_t>(gone)]->Delete();
            else EXPECT_TRUE(centre.BreakBond(*partners[static_cast<std::size_t>(gone)]));
            partners.erase(partners.begin() + gone);
            EXPECT_EQ(centre.GetAttached(), partners);
            EXPECT_EQ(centre.GetBonds().size(), partners.size());
            for (xxBondable* partner : partners) EXPECT_EQ(partner->GetAttached(), (std::vector<xxBondable*>{&centre}));
            EXPECT_EQ(CountBondsIn(mol), partners.size());
        }
    }
}

TEST(LargeModel, HundredThousandBondedAtomsBuildAndGo) {
    constexpr int kAtoms = 100'000;
    auto root = std::make_unique<xxAtomisticTreeRoot>();
    auto& mol = root->CreateChild<xxMolecule>();
    xxAtom3d* previous = nullptr;
    for (int i = 0; i < kAtoms; ++i) {
        auto& atom = AddAtom(mol, "C", {1.5 * i, 0, 0});
        atom.SetID(i + 1);
        if (previous) xxBondable::MakeBond(*previous, atom);
        previous = &atom;
    }
    EXPECT_EQ(mol.CalculateNumMatterObjects(), kAtoms);
    EXPECT_EQ(mol.NumChildren(), 2u * kAtoms - 1);
    auto& set = root->CreateChild<xxSet>();
    for (xxAtom* atom : mol.ChildrenOf<xxAtom>()) set.Add(*atom);
    EXPECT_EQ(set.GetNumFilteredItems(xxAtom3d::classType), static_cast<std::size_t>(kAtoms));
    previous->Delete();
    EXPECT_EQ(set.GetSize(), static_cast<std::size_t>(kAtoms - 1));
    EXPECT_EQ(mol.DescendentsOf<xxBond>().size(), static_cast<std::size_t>(kAtoms - 2));
    root.reset();
}

// ---- properties ------------------------------------------------------------------------------

struct PropertyCase {
    const char* label;
    std::function<std::unique_ptr<xxObject>()> make;
    const xxPropertyBase* property;
    std::string defaultText;
    std::string text;  // a value to set; read back as is
};

std::vector<PropertyCase> PropertyCases() {
    auto atom = [] { return std::make_unique<xxAtom3d>(); };
    auto dummy = [] { return std::make_unique<xxDummy>(); };
    auto pi = [] { return std::make_unique<xxPiSystem>(); };
    auto bond = [] { return std::make_unique<xxBond>(); };
    auto monitor = [] { return std::make_unique<xxDistanceStretcher>(); };
    auto root = [] { return std::make_unique<xxAtomisticTreeRoot>(); };
    auto system = [] { return std::make_unique<xxMatterSymmetrySystem>(); };
    const std::string zeroTensor = "0,0,0,0,0,0,0,0,0";
    std::vector<PropertyCase> cases = {
        {"XYZ", atom, &xxMatter::m_pptXYZ, "0,0,0", "1.5,-2,0.25"},
        {"Velocity", dummy, &xxMatter::m_pptVelocity, "0,0,0", "0,0,1e-05"},
        {"Charge", atom, &xxMatter::m_pptCharge, "0", "-0.82"},
        {"ForcefieldType", atom, &xxMatter::m_pptForcefieldType, "", "o*"},
        {"ImportOrder", dummy, &xxBondable::m_pptImportOrder, "0", "2"},
        {"IsOutOfPlane", atom, &xxAtom::m_pptIsOutOfPlane, "0", "1"},
        {"IsBackboneAtom", atom, &xxAtom::m_pptIsBackboneAtom, "0", "1"},
        {"Element", atom, &xxAtom3d::m_pptElement, "0", "17"},
        {"Isotope", atom, &xxAtom3d::m_pptIsotope, "0", "2"},
        {"FormalCharge", atom, &xxAtom3d::m_pptFormalCharge, "0/1", "-1/3"},
        {"Occupancy", atom, &xxAtom3d::m_pptOccupancy, "1", "0.5"},
        {"IsotropicTF", atom, &xxAtom3d::m_pptIsotropicTF, "0", "0.0125"},
        {"AppliedTF", atom, &xxAtom3d::m_pptAppliedTF, "0", "1"},
        {"DummySymbol", dummy, &xxDummyBase::m_pptDummySymbol, "", "Du"},
        {"HasDynamicPosition", pi, &xxPiSystem::m_pptHasDynamicPosition, "0", "1"},
        {"Order", bond, &xxBond::m_pptOrder, "1", "1.5"},
        {"LabeledMeasurement", monitor, &xxGeometryMonitor::m_pptLabeledMeasurement, "1", "0"},
        {"PotentialStress", system, &xxMatterSymmetrySystem::m_pptPotentialStress, zeroTensor,
         "1,0.5,-0.25,0.5,2,0,-0.25,0,3"},
        {"TrajectoryStress", system, &xxMatterSymmetrySystem::m_ppt_TrajectoryStress, zeroTensor,
         "-1e-05,0,0,0,-2e-05,0,0,0,7"},
    };
    for (const xxPropertyTemplate<double>* energy : xxClassicalEnergyHolder::EnergyTemplates())
        cases.push_back({energy->Name(), root, energy, "0", "-1234.5"});
    return cases;
}

TEST(Properties, AssignUnassignAndTextForEveryTemplate) {
    for (const PropertyCase& k : PropertyCases()) {
        SCOPED_TRACE(k.label);
        auto object = k.make();
        const xxPropertyBase& p = *k.property;
        EXPECT_STREQ(p.Name(), k.label);
        EXPECT_FALSE(p.IsAssigned(*object));
        EXPECT_EQ(p.GetFromDifferentType(*object), k.defaultText);
        ASSERT_TRUE(p.SetFromText(*object, k.text));
        EXPECT_TRUE(p.IsAssigned(*object));
        EXPECT_EQ(p.GetFromDifferentType(*object), k.text);
        p.UnassignValue(*object);
        EXPECT_FALSE(p.IsAssigned(*object));
        EXPECT_EQ(p.GetFromDifferentType(*object), k.defaultText);
        ASSERT_TRUE(p.SetFromText(*object, k.text));
        object->InitialiseObjectToDefault();
        EXPECT_FALSE(p.IsAssigned(*object));
        EXPECT_EQ(p.GetFromDifferentType(*object), k.defaultText);
    }
}

TEST(Properties, EveryTemplateOfAClassChainHasItsOwnBit) {
    // Setting one value must not mark any other as assigned.
    for (const PropertyCase& k : PropertyCases()) {
        auto object = k.make();
        ASSERT_TRUE(k.property->SetFromText(*object, k.text));
        for (const xxPropertyBase* other : object->PropertyTemplates())
            if (other != k.property) {
                EXPECT_FALSE(other->IsAssigned(*object)) << k.label << " marks " << other->Name();
            }
    }
}

// A frame's relative velocity and force live beside the atom: the atom stays as small as it is,
// and what it had goes with it.
TEST(Properties, DetachedValuesAreAssignedUnassignedAndForgottenWithTheirObject) {
    const std::size_t before = xxMatter::m_pptForce.NumValues();
    const std::size_t velocitiesBefore = xxMatter::m_pptRelativeVelocity.NumValues();
    {
        xxAtom3d atom("C"), other("O");
        for (const auto* p : {&xxMatter::m_pptRelativeVelocity, &xxMatter::m_pptForce}) {
            SCOPED_TRACE(p->Name());
            EXPECT_FALSE(p->IsAssigned(atom));
            EXPECT_EQ(p->GetValue(atom), xxPoint3d{});
            p->SetValue(atom, {1, 2, 3});
            p->SetValue(other, {4, 5, 6});
            EXPECT_TRUE(p->IsAssigned(atom));
            EXPECT_EQ(p->GetValue(atom), (xxPoint3d{1, 2, 3}));
            EXPECT_EQ(p->GetValue(other), (xxPoint3d{4, 5, 6}));
            EXPECT_EQ(p->GetFromDifferentType(atom), xxValueText::ToText(xxPoint3d{1, 2, 3}));
            p->UnassignValue(atom);
            EXPECT_FALSE(p->IsAssigned(atom));
            EXPECT_EQ(p->GetValue(atom), xxPoint3d{});
            ASSERT_TRUE(p->SetFromText(atom, "7,8,9"));
            EXPECT_EQ(p->GetValue(atom), (xxPoint3d{7, 8, 9}));
        }
        // Neither takes a bit another template of the chain has, nor goes into a saved document.
        for (const xxPropertyBase* p : atom.PropertyTemplates()) {
            EXPECT_NE(p->Bit(), xxMatter::m_pptRelativeVelocity.Bit()) << p->Name();
            EXPECT_NE(p->Bit(), xxMatter::m_pptForce.Bit()) << p->Name();
        }
        other.InitialiseObjectToDefault();
        EXPECT_FALSE(xxMatter::m_pptForce.IsAssigned(other));
        EXPECT_EQ(xxMatter::m_pptForce.NumValues(), before + 1);
    }
    EXPECT_EQ(xxMatter::m_pptForce.NumValues(), before);
    EXPECT_EQ(xxMatter::m_pptRelativeVelocity.NumValues(), velocitiesBefore);
}

TEST(Properties, AtomTemplatesComeBasesFirst) {
    xxAtom3d atom("C");
    std::vector<std::string> names;
    for (const xxPropertyBase* p : atom.PropertyTemplates()) names.emplace_back(p->Name());
    EXPECT_EQ(names, (std::vector<std::string>{"XYZ", "Velocity", "Charge", "ForcefieldType", "ImportOrder",
                                               "IsOutOfPlane", "IsBackboneAtom", "IsChiralCenter", "Element", "Isotope",
                                               "FormalCharge", "Occupancy", "IsotropicTF", "AppliedTF", "Hybridization",
                                               "AnisotropicTF"}));
}

TEST(Properties, TextOutsideTheValueRangeIsRefused) {
    struct Case {
        const xxPropertyBase* property;
        const char* text;
    } cases[] = {
        {&xxAtom3d::m_pptOccupancy, "1.5"},   {&xxAtom3d::m_pptOccupancy, "nan"},
        {&xxAtom3d::m_pptAppliedTF, "3"},     {&xxAtom3d::m_pptElement, "119"},
        {&xxAtom3d::m_pptElement, "Cl"},      {&xxAtom3d::m_pptIsotope, "-1"},
        {&xxAtom3d::m_pptFormalCharge, "2/4"}, {&xxAtom3d::m_pptFormalCharge, "1/0"},
        {&xxAtom3d::m_pptIsotropicTF, "inf"}, {&xxMatter::m_pptXYZ, "1,2"},
        {&xxAtom::m_pptIsOutOfPlane, "yes"},
    };
    for (const Case& k : cases) {
        xxAtom3d atom;
        EXPECT_FALSE(k.property->SetFromText(atom, k.text)) << k.property->Name() << " " << k.text;
        EXPECT_FALSE(k.property->IsAssigned(atom));
    }
    xxBond bond;
    EXPECT_FALSE(xxBond::m_pptOrder.SetFromText(bond, "-1"));
    // A tensor is nine numbers, no more, no fewer.
    for (const char* text : {"1,2,3,4,5,6,7,8", "1,2,3,4,5,6,7,8,9,10", "1,2,3,4,,6,7,8,9", "1,2,3,4,5,6,7,8,9,",
                             "1 2 3 4 5 6 7 8 9", "", "1,2,3,4,x,6,7,8,9"}) {
        xxMatterSymmetrySystem system;
        EXPECT_FALSE(xxMatterSymmetrySystem::m_pptPotentialStress.SetFromText(system, text)) << text;
        EXPECT_FALSE(xxMatterSymmetrySystem::m_pptPotentialStress.IsAssigned(system));
    }
}

TEST(Properties, ATemplateRefusesAnObjectOfAnotherClass) {
    // Energies belong to the roots that hold them, stresses to matter symmetry systems.
    xxTreeRoot plainRoot;
    EXPECT_EQ(ResultOf([&] { xxClassicalEnergyHolder::m_pptTotalEnergy.SetValue(plainRoot, 1); }), E_INVALIDARG);
    xxSymmetrySystem plainSystem;
    EXPECT_EQ(ResultOf([&] { (void)xxMatterSymmetrySystem::m_ppt_TrajectoryStress.IsAssigned(plainSystem); }),
              E_INVALIDARG);
    xxDummy dummy;
    EXPECT_EQ(ResultOf([&] { xxAtom3d::m_pptOccupancy.SetValue(dummy, 0.5); }), E_INVALIDARG);
    EXPECT_EQ(ResultOf([&] { (void)xxAtom::m_pptIsBackboneAtom.IsAssigned(dummy); }), E_INVALIDARG);
    EXPECT_EQ(ResultOf([&] { (void)xxMatter::m_pptXYZ.GetAsRestrictable(*std::make_unique<xxSet>()); }), E_INVALIDARG);
}

TEST(Properties, AccessorsAndTemplatesShareTheValue) {
    xxAtom3d atom("C");
    atom.SetCharge(-0.5);
    atom.SetForcefieldType("c3");
    EXPECT_TRUE(xxMatter::m_pptCharge.IsAssigned(atom));
    EXPECT_EQ(xxMatter::m_pptForcefieldType.GetValue(atom), "c3");
    xxMatter::m_pptXYZ.SetValue(atom, {1, 2, 3});
    EXPECT_EQ(atom.GetXYZ(), (xxPoint3d{1, 2, 3}));
    xxAtom3d::m_pptIsotope.SetValue(atom, 13);
    EXPECT_TRUE(atom.IsIsotope());
    xxAtom3d::m_pptIsotope.UnassignValue(atom);
    EXPECT_FALSE(atom.IsIsotope());
}

// ---- atoms ----------------------------------------------------------------------------------

TEST(Atom3d, ElementFromTextAnyCase) {
    struct Case {
        const char* text;
        int number;
        const char* symbol;
    } cases[] = {{"C", 6, "C"}, {"CL", 17, "Cl"}, {"cl", 17, "Cl"}, {"unknown", 0, "Xx"}, {"UNKNOWN", 0, "Xx"}, {"Xx", 0, "Xx"}};
    for (const Case& k : cases) {
        xxAtom3d atom(k.text);
        EXPECT_EQ(atom.GetElementNumber(), k.number) << k.text;
        EXPECT_EQ(atom.GetElementSymbol(), k.symbol) << k.text;
    }
    for (const char* bad : {"", "Qq", "Du", "D", "Carbon"})
        EXPECT_EQ(ResultOf([&] { xxAtom3d atom(bad); }), E_INVALIDARG) << '"' << bad << '"';
    xxAtom3d atom("C");
    EXPECT_EQ(ResultOf([&] { atom.SetElementNumber(119); }), E_INVALIDARG);
    EXPECT_EQ(atom.GetElementNumber(), 6);
}

TEST(Atom3d, FormalChargeIsStoredReduced) {
    struct Case {
        int numerator, denominator;
        xxRational stored;
    } cases[] = {{1, 1, {1, 1}},   {2, 4, {1, 2}},  {1, -3, {-1, 3}}, {-2, -6, {1, 3}},
                 {0, 5, {0, 1}},   {-4, 2, {-2, 1}}, {std::numeric_limits<int>::min(), 2, {std::numeric_limits<int>::min() / 2, 1}}};
    for (const Case& k : cases) {
        xxAtom3d atom("N");
        atom.SetFormalCharge(k.numerator, k.denominator);
        EXPECT_EQ(atom.GetFormalCharge(), k.stored) << k.numerator << "/" << k.denominator;
    }
    xxAtom3d atom("N");
    EXPECT_EQ(ResultOf([&] { atom.SetFormalCharge(1, 0); }), E_INVALIDARG);
    EXPECT_EQ(ResultOf([&] { atom.SetFormalCharge(0, 0); }), E_INVALIDARG);
    EXPECT_EQ(ResultOf([&] { atom.SetFormalCharge(std::numeric_limits<int>::min(), -1); }), E_INVALIDARG);
    EXPECT_FALSE(xxAtom3d::m_pptFormalCharge.IsAssigned(atom));
}

TEST(Atom3d, IsotopeOccupancyAndTemperatureFactors) {
    xxAtom3d atom("H");
    EXPECT_FALSE(atom.IsIsotope());
    atom.SetIsotope(2);
    EXPECT_TRUE(atom.IsIsotope());
    EXPECT_EQ(atom.GetIsotope(), 2);
    EXPECT_EQ(ResultOf([&] { atom.SetIsotope(-1); }), E_INVALIDARG);

    EXPECT_EQ(atom.GetOccupancy(), 1.0);
    atom.SetOccupancy(0.25);
    EXPECT_EQ(atom.GetOccupancy(), 0.25);
    for (double bad : {-0.01, 1.01, std::nan("")}) EXPECT_EQ(ResultOf([&] { atom.SetOccupancy(bad); }), E_INVALIDARG);
    EXPECT_EQ(atom.GetOccupancy(), 0.25);

    atom.SetIsotropicTF(0.05, xxAtom3d::kTFFormatU);
    EXPECT_DOUBLE_EQ(atom.GetIsotropicTF(xxAtom3d::kTFFormatB), 0.05 * 8 * std::numbers::pi * std::numbers::pi);
    atom.SetIsotropicTF(4.0, xxAtom3d::kTFFormatB);
    EXPECT_DOUBLE_EQ(atom.GetIsotropicTF(), 4.0 / (8 * std::numbers::pi * std::numbers::pi));
    EXPECT_DOUBLE_EQ(atom.GetUeqTF(), atom.GetIsotropicTF());
    EXPECT_EQ(ResultOf([&] { atom.SetIsotropicTF(1, 2); }), E_INVALIDARG);
    EXPECT_EQ(ResultOf([&] { (void)atom.GetIsotropicTF(7); }), E_INVALIDARG);
    EXPECT_EQ(ResultOf([&] { atom.SetIsotropicTF(HUGE_VAL); }), E_INVALIDARG);

    for (int applied : {0, 1, 2}) {
        atom.SetAppliedTF(applied);
        EXPECT_EQ(atom.GetAppliedTF(), applied);
    }
    EXPECT_EQ(ResultOf([&] { atom.SetAppliedTF(3); }), E_INVALIDARG);
    EXPECT_EQ(ResultOf([&] { atom.SetAppliedTF(-1); }), E_INVALIDARG);
}

// ---- registered classes ------------------------------------------------------------------------

TEST(Registry, ClassesAreFoundByTheirDocumentNames) {
    struct Case {
        const char* name;
        unsigned type;
        bool creatable;
    } cases[] = {
        {"Matter", xxMatter::classType, false},
        {"Bondable", xxBondable::classType, false},
        {"Atom", xxAtom::classType, false},
        {"Atom3d", xxAtom3d::classType, true},
        {"DummyBase", xxDummyBase::classType, false},
        {"Dummy", xxDummy::classType, true},
        {"BondableInteraction", xxBondableInteraction::classType, false},
        {"Bond", xxBond::classType, true},
        {"PiSystem", xxPiSystem::classType, true},
        {"PiSystemBond", xxPiSystemBond::classType, true},
        {"MatterContainer", xxMatterContainer::classType, false},
        {"Molecule", xxMolecule::classType, true},
        {"MultiScaleMolecule", xxMultiScaleMolecule::classType, true},
        {"SubUnit", xxSubUnit::classType, true},
        {"MultiScaleSubUnit", xxMultiScaleSubUnit::classType, true},
        {"ClassicalEnergyHolder", xxClassicalEnergyHolder::classType, false},
        {"AtomisticTreeRoot", xxAtomisticTreeRoot::classType, true},
        {"ChargeGroup", xxChargeGroup::classType, true},
        {"OrdCollection", xxOrdCollection::classType, true},
        {"Set", xxSet::classType, true},
        {"Restrictable", xxRestrictable::classType, false},
        {"Restriction", xxRestriction::classType, false},
        {"CompleteRestriction", xxCompleteRestriction::classType, true},
        {"Monitor", xxMonitor::classType, false},
        {"GeometryMonitor", xxGeometryMonitor::classType, false},
        {"UnMappedMonitor", xxUnMappedMonitor::classType, false},
        {"DistanceStretcher", xxDistanceStretcher::classType, true},
        {"PlanarAngleBender", xxPlanarAngleBender::classType, true},
        {"TorsionTwister", xxTorsionTwister::classType, true},
        {"Substructure", xxSubstructure::classType, true},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        const xxClass& cls = xxClass::FindClass(k.name);
        EXPECT_EQ(cls.TypeId(), k.type);
        EXPECT_EQ(cls.IsAbstract(), !k.creatable);
        if (!k.creatable) {
            EXPECT_EQ(ResultOf([&] { (void)cls.CreateNew(); }), E_NOTIMPL);
            continue;
        }
        std::unique_ptr<xxClassInstance> instance = cls.CreateNew();
        EXPECT_EQ(&instance->GetClass(), &cls);
        EXPECT_TRUE(instance->IsA(xxObject::classType));
    }
}

TEST(Registry, KindsFollowTheClassChains) {
    xxAtom3d atom("C");
    xxDummy dummy;
    xxMultiScaleSubUnit sub;
    EXPECT_TRUE(atom.IsA(xxBondable::classType) && atom.IsA(xxMatter::classType));
    EXPECT_FALSE(atom.IsA(xxDummyBase::classType));
    EXPECT_FALSE(dummy.IsA(xxAtom::classType));
    EXPECT_TRUE(sub.IsA(xxSubUnit::classType) && sub.IsA(xxMatterContainer::classType));
    EXPECT_FALSE(sub.IsA(xxMolecule::classType));
    EXPECT_NE(atom.As<xxAtom>(), nullptr);
    EXPECT_EQ(dummy.As<xxAtom>(), nullptr);
    // An atomistic document's root holds its energies; a plain root does not.
    xxAtomisticTreeRoot root;
    xxTreeRoot plain;
    EXPECT_NE(root.As<xxClassicalEnergyHolder>(), nullptr);
    EXPECT_TRUE(root.IsA(xxTreeRoot::classType));
    EXPECT_EQ(plain.As<xxClassicalEnergyHolder>(), nullptr);
}

// ---- walks over a model ---------------------------------------------------------------------

std::vector<xxObject*> Walk(xxIterator& it) {
    std::vector<xxObject*> out;
    while (xxObject* o = it.GetNext()) out.push_back(o);
    return out;
}

TEST_F(Model, TheModelIteratorYieldsObjectsOfItsClassTypesInTreeOrder) {
    auto& dummy = su2.CreateChild<xxDummy>();
    xxBondable::MakeBond(a, b);
    struct Case {
        const char* name;
        std::vector<unsigned> types;
        std::vector<xxObject*> expected;
    } cases[] = {
        {"bondables", {xxBondable::classType}, {&a, &b, &c, &dummy, &d}},
        {"atoms", {xxAtom::classType}, {&a, &b, &c, &d}},
        {"atoms or dummies, each once", {xxAtom::classType, xxDummy::classType, xxMatter::classType}, {&a, &b, &c, &dummy, &d}},
        {"containers too: depth first", {xxMolecule::classType, xxAtom::classType}, {&mol1, &a, &b, &c, &mol2, &d}},
        {"nothing asked", {}, {}},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        xxModelIterator it(*root, k.types);
        EXPECT_EQ(Walk(it), k.expected);
        EXPECT_EQ(it.GetNext(), nullptr) << "the end is the end";
        it.Reset();
        EXPECT_EQ(Walk(it), k.expected) << "after Reset";
    }
    // Below another node only what lies below it; the node itself is not yielded.
    xxModelIterator inner(su1, {xxBondable::classType, xxSubUnit::classType});
    EXPECT_EQ(Walk(inner), (std::vector<xxObject*>{&a, &b}));
    xxAtomisticTreeRoot nothing;
    xxModelIterator empty(nothing, {xxAtom::classType});
    EXPECT_EQ(empty.GetNext(), nullptr);
    EXPECT_EQ(empty.GetNext(), nullptr);
}

TEST_F(Model, ASnapshotHoldsWhatTheWalkYieldsAndKeepsItsRoom) {
    xxModelIterator it(*root, {xxAtom::classType});
    EXPECT_EQ(it.GetNext(), &a);  // partway: Copy starts from the first all the same
    xxObjectSnapshot snapshot;
    it.Copy(snapshot);
    ASSERT_EQ(snapshot.GetSize(), 4u);
    EXPECT_EQ(&snapshot.GetAt(0), &a);
    EXPECT_EQ(&snapshot.GetAt(3), &d);
    EXPECT_EQ(ResultOf([&] { (void)snapshot.GetAt(4); }), E_INVALIDARG);
    EXPECT_EQ(it.GetNext(), &a) << "Copy leaves the iterator at the first object";

    const xxObject* const* room = snapshot.Objects().data();
    it.Copy(snapshot);  // the next frame's snapshot
    EXPECT_EQ(snapshot.GetSize(), 4u) << "a copy replaces what the snapshot held";
    EXPECT_EQ(snapshot.Objects().data(), room) << "a second copy allocated";
}

// What was found by walking a tree stays valid exactly while no tree changes shape.
TEST_F(Model, TheStructureGenerationChangesWithEveryChangeOfShapeAndOnlyThen) {
    auto spare = std::make_unique<xxMultiScaleMolecule>();
    spare->CreateChild<xxAtom3d>("C");
    struct Case {
        const char* name;
        std::function<void()> change;
        bool shape;
    } cases[] = {
        {"a position set", [&] { a.SetXYZ({9, 9, 9}); }, false},
        {"a name set", [&] { b.SetName("renamed"); }, false},
        {"a walk", [&] { (void)root->DescendentsOf<xxAtom>(); }, false},
        {"nothing to remove", [&] { xxMultiScaleMolecule().RemoveDescendents(); }, false},
        {"a child created", [&] { AddAtom(mol2, "N", {5, 0, 0}); }, true},
        {"a child adopted", [&] { mol2.AdoptChild(std::make_unique<xxAtom3d>("S")); }, true},
        {"an object moved", [&] { d.SetParent(su2); }, true},
        {"an object deleted", [&] { c.Delete(); }, true},
        {"a bond made", [&] { xxBondable::MakeBond(a, b); }, true},
        {"a child taken out", [&] { (void)root->DetachChild(mol2); }, true},
        {"the descendents removed", [&] { su1.RemoveDescendents(); }, true},
        {"a node with children destroyed", [&] { spare.reset(); }, true},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        const std::uint64_t before = xxTreeNode::StructureGeneration();
        k.change();
        EXPECT_EQ(xxTreeNode::StructureGeneration() != before, k.shape);
    }
}

// ---- charge groups, pi systems -----------------------------------------------------------------

TEST_F(Model, ChargeGroupForgetsMembersAndCentreAsTheyGo) {
    auto& group = su1.CreateChild<xxChargeGroup>();
    group.InitialiseObjectToDefault();
    group.SetName("G1");
    xxAtom* members[] = {&a, &b, &c};
    group.SetAtoms(members);
    group.SetSwitchingCenter(&b);
    EXPECT_EQ(group.GetAtoms(), (std::vector<xxAtom*>{&a, &b, &c}));
    b.Delete();
    EXPECT_EQ(group.GetAtoms(), (std::vector<xxAtom*>{&a, &c}));
    EXPECT_EQ(group.GetSwitchingCenter(), nullptr);
    xxAtom* withNull[] = {&a, nullptr};
    EXPECT_EQ(ResultOf([&] { group.SetAtoms(withNull); }), E_POINTER);
    EXPECT_EQ(group.GetAtoms().size(), 2u);
}

// A metal above a ring of three carbons, bonded to each.
struct PiModel : Model {
    xxAtom3d& metal = AddAtom(mol1, "Fe", {0, 0, 2});
    xxAtom3d& r1 = AddAtom(su2, "C", {1, 0, 0});
    xxAtom3d& r2 = AddAtom(su2, "C", {-0.5, 0.8, 0});
    xxAtom3d& r3 = AddAtom(su2, "C", {-0.5, -0.8, 0});
    void SetUp() override {
        for (xxAtom3d* r : {&r1, &r2, &r3}) xxBondable::MakeBond(metal, *r);
    }
};

TEST_F(PiModel, CoordinatedAtomBondsToThePiSystemInsteadOfItsMembers) {
    auto& pi = su2.CreateChild<xxPiSystem>();  // under the members' common node
    pi.SetName("Ring");
    for (xxAtom3d* r : {&r1, &r2, &r3}) pi.MakePiSystemBond(*r);
    EXPECT_EQ(&pi.MakePiSystemBond(r2), &pi.MakePiSystemBond(r2));
    pi.SetHasDynamicPosition(true);
    for (xxAtom3d* r : {&r1, &r2, &r3}) EXPECT_TRUE(metal.BreakBond(*r));
    xxBond& bond = xxBondable::MakeBond(metal, pi);

    EXPECT_EQ(pi.GetPiSystemAtoms(), (std::vector<xxBondable*>{&r1, &r2, &r3}));
    EXPECT_EQ(metal.GetAttached(), (std::vector<xxBondable*>{&pi}));
    EXPECT_EQ(bond.GetParent(), &mol1);
    EXPECT_TRUE(r1.GetAttached().empty());
    EXPECT_EQ(r1.GetPiSystems(), (std::vector<xxPiSystem*>{&pi}));
    ASSERT_EQ(r1.GetBonds().size(), 1u);
    EXPECT_TRUE(r1.GetBonds()[0]->IsPiSystemBond());
    EXPECT_FALSE(metal.GetBonds()[0]->IsPiSystemBond());
    const xxPoint3d centre = pi.GetXYZ();
    EXPECT_NEAR(centre.x, 0, 1e-12);
    EXPECT_NEAR(centre.y, 0, 1e-12);
    pi.SetHasDynamicPosition(false);
    EXPECT_EQ(pi.GetXYZ(), xxPoint3d{});
}

TEST_F(PiModel, PiSystemRefusesWhatCannotBeAMember) {
    auto& pi = root->CreateChild<xxPiSystem>();
    auto& other = root->CreateChild<xxPiSystem>();
    pi.MakePiSystemBond(r1);
    xxBondable::MakeBond(pi, metal);
    EXPECT_EQ(ResultOf([&] { pi.MakePiSystemBond(pi); }), E_INVALIDARG);
    EXPECT_EQ(ResultOf([&] { pi.MakePiSystemBond(other); }), E_INVALIDARG);
    EXPECT_EQ(ResultOf([&] { pi.MakePiSystemBond(metal); }), E_INVALIDARG);
    EXPECT_EQ(ResultOf([&] { xxBondable::MakeBond(r1, pi); }), E_INVALIDARG);
    auto loose = std::make_unique<xxAtom3d>("C");
    EXPECT_EQ(ResultOf([&] { pi.MakePiSystemBond(*loose); }), E_INVALIDARG);
}

TEST_F(PiModel, ASetOfMembersJoinsWholeOrNotAtAll) {
    auto& pi = su2.CreateChild<xxPiSystem>();
    pi.MakePiSystemBond(r2);
    const std::vector<xxBondable*> members{&r1, &r2, &r3, &r1};
    pi.SetPiSystemAtoms(members);
    EXPECT_EQ(pi.GetPiSystemAtoms(), (std::vector<xxBondable*>{&r2, &r1, &r3}));
    const std::vector<xxPiSystemBond*> links = pi.GetPiSystemBonds();
    ASSERT_EQ(links.size(), 3u);
    for (std::size_t i = 0; i < links.size(); ++i) EXPECT_EQ(links[i]->GetAtoms()[1], pi.GetPiSystemAtoms()[i]);

    // One member it cannot take (the metal is bonded to it) refuses the whole set.
    auto& other = su2.CreateChild<xxPiSystem>();
    xxBondable::MakeBond(other, metal);
    const std::vector<xxBondable*> refused{&r1, &metal};
    EXPECT_EQ(ResultOf([&] { other.SetPiSystemAtoms(refused); }), E_INVALIDARG);
    EXPECT_TRUE(other.GetPiSystemAtoms().empty());
    const std::vector<xxBondable*> withNull{&r1, nullptr};
    EXPECT_EQ(ResultOf([&] { other.SetPiSystemAtoms(withNull); }), E_POINTER);
    EXPECT_TRUE(other.GetPiSystemBonds().empty());
    EXPECT_FALSE(other.IsMember(other));
}

TEST_F(PiModel, MembersAndPiSystemsDieApart) {
    auto& pi = root->CreateChild<xxPiSystem>();
    for (xxAtom3d* r : {&r1, &r2, &r3}) pi.MakePiSystemBond(*r);
    r2.Delete();
    EXPECT_EQ(pi.GetPiSystemAtoms(), (std::vector<xxBondable*>{&r1, &r3}));
    pi.Delete();
    EXPECT_TRUE(r1.GetPiSystems().empty());
    EXPECT_EQ(r1.GetBonds().size(), 1u);  // the bond to the metal stays
    EXPECT_TRUE(root->DescendentsOf<xxPiSystemBond>().empty());
}

// ---- sets, restrictions, monitors ------------------------------------------------------------

TEST_F(Model, SetKeepsOrderFiltersByClassAndDropsTheDead) {
    auto& set = root->CreateChild<xxSet>();
    auto& dummy = su2.CreateChild<xxDummy>();
    set.Add(c);
    set.Add(a);
    set.Add(dummy);
    set.Add(c);
    EXPECT_FALSE(set.AddUnique(a));
    EXPECT_TRUE(set.AddUnique(b));
    EXPECT_EQ(set.GetMembers(), (std::vector<xxObject*>{&c, &a, &dummy, &c, &b}));
    EXPECT_EQ(set.GetNumFilteredItems(xxAtom::classType), 4u);
    EXPECT_EQ(set.GetNumFilteredItems(xxDummy::classType), 1u);
    EXPECT_EQ(set.GetNumFilteredItems(xxBondable::classType), 5u);
    c.Delete();
    EXPECT_EQ(set.GetMembers(), (std::vector<xxObject*>{&a, &dummy, &b}));
    EXPECT_EQ(&set.GetAt(2), &b);
    EXPECT_EQ(ResultOf([&] { (void)set.GetAt(3); }), E_INVALIDARG);
    EXPECT_EQ(ResultOf([&] { set.Add(set); }), E_INVALIDARG);
    EXPECT_TRUE(set.Remove(a));
    EXPECT_FALSE(set.Contains(a));
    EXPECT_EQ(set.GetMembersOf<xxAtom>(), (std::vector<xxAtom*>{&b}));
}

TEST_F(Model, SetMovesUnderTheCommonAncestorOfItsMembers) {
    auto& set = root->CreateChild<xxSet>();
    set.Add(a);
    set.Add(c);
    xxTreeNode* ancestor = xxUnMappedMonitor::FindCommonAncestor(set.GetMembers());
    ASSERT_EQ(ancestor, &mol1);
    set.SetParent(*ancestor);
    EXPECT_EQ(set.GetParent(), &mol1);
    EXPECT_EQ(set.GetSize(), 2u);
    EXPECT_EQ(xxUnMappedMonitor::FindCommonAncestor({}), nullptr);
    EXPECT_EQ(xxUnMappedMonitor::FindCommonAncestor({&a, nullptr, &d}), root.get());
}

TEST_F(Model, RestrictableIsOnePerValueAndDiesWithItsObject) {
    const std::size_t before = xxRestrictable::Count();
    xxRestrictable* ra = xxMatter::m_pptXYZ.GetAsRestrictable(a);
    ASSERT_NE(ra, nullptr);
    EXPECT_EQ(xxMatter::m_pptXYZ.GetAsRestrictable(a), ra);
    EXPECT_EQ(&a.GetXYZRestrictable(), ra);
    EXPECT_EQ(ra->GetAssociatedObject(), &a);
    EXPECT_EQ(&ra->GetProperty(), &xxMatter::m_pptXYZ);
    EXPECT_EQ(xxMatter::m_pptCharge.GetAsRestrictable(a), nullptr);

    auto& fixed = root->CreateChild<xxCompleteRestriction>();
    fixed.InitialiseObjectToDefault();
    fixed.AddRestrictable(*ra);
    fixed.AddRestrictable(b.GetXYZRestrictable());
    EXPECT_EQ(xxRestrictable::Count(), before + 2);
    a.Delete();
    EXPECT_EQ(xxRestrictable::Count(), before + 1);
    ASSERT_EQ(fixed.GetRestrictables().size(), 1u);
    EXPECT_EQ(fixed.GetRestrictables()[0]->GetAssociatedObject(), &b);
}

TEST(Monitors, MeasureTheirGeometry) {
    xxAtomisticTreeRoot root;
    auto& p0 = AddAtom(root, "C", {1, 0, 0});
    auto& p1 = AddAtom(root, "C", {0, 0, 0});
    auto& p2 = AddAtom(root, "C", {0, 0, 1});
    auto& p3 = AddAtom(root, "C", {0, 1, 1});
    auto& distance = root.CreateChild<xxDistanceStretcher>(p0, p2);
    auto& angle = root.CreateChild<xxPlanarAngleBender>(p0, p1, p2);
    auto& torsion = root.CreateChild<xxTorsionTwister>(p0, p1, p2, p3);
    auto& mirrored = root.CreateChild<xxTorsionTwister>(p3, p2, p1, p0);
    EXPECT_DOUBLE_EQ(distance.Measure(), std::sqrt(2.0));
    EXPECT_DOUBLE_EQ(angle.Measure(), 90.0);
    EXPECT_DOUBLE_EQ(torsion.Measure(), 90.0);  // the front bond turns clockwise onto the back one
    EXPECT_DOUBLE_EQ(mirrored.Measure(), 90.0);
    p3.SetXYZ({0, -1, 1});
    EXPECT_DOUBLE_EQ(torsion.Measure(), -90.0);
    p3.SetXYZ({-1, 0, 1});
    EXPECT_DOUBLE_EQ(std::fabs(torsion.Measure()), 180.0);
}

TEST(Monitors, ReportWhatTheyWatchUntilItGoes) {
    xxAtomisticTreeRoot root;
    auto& a = AddAtom(root, "C", {});
    auto& b = AddAtom(root, "C", {1, 0, 0});
    auto& m = root.CreateChild<xxDistanceStretcher>(a, b);
    EXPECT_TRUE(m.IsLabeledMeasurement());
    m.SetLabeledMeasurement(false);
    EXPECT_FALSE(m.IsLabeledMeasurement());
    auto data = m.GetMonitoredData();
    ASSERT_EQ(data.size(), 2u);
    EXPECT_EQ(data[0]->GetAssociatedObject(), &a);
    EXPECT_EQ(data[1], &b.GetXYZRestrictable());
    b.Delete();
    EXPECT_FALSE(m.IsComplete());
    EXPECT_TRUE(std::isnan(m.Measure()));

    xxDistanceStretcher byName;
    xxMatter* three[] = {&a, &a, &a};
    EXPECT_EQ(ResultOf([&] { byName.SetMonitoredObjects(three); }), E_INVALIDARG);
}

TEST_F(Model, SubstructureHoldsItsTuple) {
    auto& s = mol1.CreateChild<xxSubstructure>();
    s.InitialiseObjectToDefault();
    for (xxAtom3d* x : {&a, &b, &c}) s.AddAtom(*x);
    s.SetID(1);
    s.SetName("S_Tuple1");
    EXPECT_EQ(s.GetAtoms(), (std::vector<xxBondable*>{&a, &b, &c}));
    b.Delete();
    EXPECT_EQ(s.NumAtoms(), 2u);
}

// ---- references ------------------------------------------------------------------------------

TEST(References, CopiesAndMovesAllClearWhenTheObjectDies) {
    auto atom = std::make_unique<xxAtom3d>("C");
    xxReference<xxAtom3d> first(atom.get());
    xxReference<xxAtom3d> copy = first;
    std::vector<xxReferenceBase> moved;
    for (int i = 0; i < 100; ++i) moved.emplace_back(atom.get());  // reallocations move them
    xxReferenceBase assigned;
    assigned = std::move(moved.back());
    moved.pop_back();
    EXPECT_EQ(xxReferenceBase::CountReferencesTo(*atom), 102u);
    EXPECT_EQ(copy.Get(), atom.get());
    EXPECT_FALSE(moved.back().GetObject() == nullptr);
    atom.reset();
    EXPECT_EQ(first.Get(), nullptr);
    EXPECT_EQ(copy.Get(), nullptr);
    EXPECT_EQ(assigned.GetObject(), nullptr);
    for (const auto& r : moved) EXPECT_FALSE(r);
}

TEST(References, ResetLeavesTheOldObject) {
    xxAtom3d x("C"), y("O");
    xxReference<xxAtom3d> r(&x);
    r.Reset(&y);
    EXPECT_EQ(xxReferenceBase::CountReferencesTo(x), 0u);
    EXPECT_EQ(xxReferenceBase::CountReferencesTo(y), 1u);
    r.Reset();
    EXPECT_EQ(xxReferenceBase::CountReferencesTo(y), 0u);
}

TEST(Atom3d, MassIsTheIsotopesOrTheElementsWeight) {
    struct Case {
        const char* element;
        int isotope;
        double mass;
    } cases[] = {
        {"H", 0, 1.008}, {"H", 2, 2.014101778}, {"C", 13, 13.003354835},
        {"C", 20, 20.0},  // not in the isotope table: its mass number
        {"unknown", 0, 0.0},
    };
    for (const Case& c : cases) {
        xxAtom3d atom(c.element);
        atom.SetIsotope(c.isotope);
        EXPECT_NEAR(atom.GetMass(), c.mass, 1e-8) << c.element << c.isotope;
    }
}

// ---- estimated tree size -----------------------------------------------------------------------

// Tables are sized from the estimate: it follows a regular model down its levels, and a model
// whose first nodes are unlike the rest cannot make it ask for more than its bound.
TEST(TreeSize, EstimateFollowsRegularModelsAndStaysBounded) {
    xxAtomisticTreeRoot regular;
    for (int m = 0; m < 200; ++m) {
        auto& molecule = regular.CreateChild<xxMultiScaleMolecule>();
        for (int r = 0; r < 10; ++r) {
            auto& residue = molecule.CreateChild<xxMultiScaleSubUnit>();
            for (int k = 0; k < 10; ++k) AddAtom(residue, "C", {1.0 * k, 1.0 * r, 1.0 * m});
        }
    }
    EXPECT_EQ(EstimatedObjectsBelow(regular), 1u + 200 + 2000 + 20000);

    // Huge first molecules among many empty ones: extrapolated far beyond what is there.
    xxAtomisticTreeRoot skewed;
    for (int m = 0; m < 70; ++m) {
        auto& residue = skewed.CreateChild<xxMultiScaleMolecule>().CreateChild<xxMultiScaleSubUnit>();
        for (int k = 0; k < 300; ++k) residue.CreateChild<xxMultiScaleSubUnit>();
    }
    for (int m = 0; m < 20000; ++m) skewed.CreateChild<xxMultiScaleMolecule>();
    const std::size_t estimate = EstimatedObjectsBelow(skewed);
    EXPECT_GT(estimate, std::size_t{1} << 20);
    EXPECT_LE(estimate, kMaxEstimatedObjects);

    xxAtomisticTreeRoot empty;
    EXPECT_EQ(EstimatedObjectsBelow(empty), 1u);
}

}  // namespace
