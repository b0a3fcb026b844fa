// The CAR/MDF atom order: which objects, in which order and groups, under which names.
#include "datamodel_extras/carmdf_atom_order.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "carmdf_models.h"
#include "datamodel/sets.h"

namespace {

using cvtest::carmdf::Model;

struct Listed {
    std::string name;
    int subunit;
    int molecule;
    friend bool operator==(const Listed&, const Listed&) = default;
};
std::ostream& operator<<(std::ostream& os, const Listed& l) {
    return os << l.name << "/" << l.subunit << "/" << l.molecule;
}

std::vector<Listed> Listing(const xxCarMdfAtomOrder& order) {
    std::vector<Listed> out;
    for (const auto& e : order.GetAtomOrderArray()) out.push_back({e.atom->GetName(), e.subunit, e.molecule});
    return out;
}

std::vector<std::string> Names(const xxCarMdfAtomOrder& order) {
    std::vector<std::string> out;
    for (std::size_t p = 0; p < order.GetAtomOrderArray().size(); ++p) out.emplace_back(order.AtomName(p));
    return out;
}

TEST(CarMdfAtomOrder, FollowsTheTreeAsTheReaderBuildsIt) {
    Model m;
    auto& water = m.Molecule("W");
    auto& wat = Model::SubUnit(water, "WAT_1");
    auto& o = Model::Atom(wat, "O", "O", {});
    auto& h1 = Model::Atom(wat, "H1", "H", {1, 0, 0});
    Model::Atom(wat, "H2", "H", {0, 1, 0});
    xxBondable::MakeBond(o, h1);  // bonds are children too, and are not listed
    auto& ethanol = m.Molecule("E");
    Model::Atom(Model::SubUnit(ethanol, "ETH_1"), "C1", "C", {});
    Model::Atom(Model::SubUnit(ethanol, "ETH_2"), "C2", "C", {});
    Model::Atom(ethanol, "X", "O", {});  // outside any sub-unit
    Model::Atom(*m.root, "Na", "Na", {});  // outside any molecule
    Model::Atom(*m.root, "Cl", "Cl", {});
    auto& late = m.Molecule("L");
    Model::Atom(late, "Ar", "Ar", {});
    Model::Atom(*m.root, "K", "K", {});  // a new run: a molecule of its own

    xxCarMdfAtomOrder order;
    ASSERT_TRUE(order.DefineAtomOrder(*m.root, xxBondable::classType));
    EXPECT_EQ(order.GetSymmetrySystem(), nullptr);
    const std::vector<Listed> expected = {{"O", 0, 0},  {"H1", 0, 0}, {"H2", 0, 0}, {"C1", 1, 1}, {"C2", 2, 1},
                                          {"X", 3, 1},  {"Na", 4, 2}, {"Cl", 4, 2}, {"Ar", 5, 3}, {"K", 6, 4}};
    EXPECT_EQ(Listing(order), expected);
    EXPECT_EQ(order.GetNumSubunits(), 7u);
    EXPECT_EQ(order.GetNumMolecules(), 5u);
    EXPECT_EQ(order.FindPosition(h1), 1u);
    EXPECT_EQ(order.FindPosition(water), xxCarMdfAtomOrder::npos);
}

TEST(CarMdfAtomOrder, LeavesOutPseudoAtomsThatFollowTheirMembers) {
    Model m;
    auto& sub = Model::SubUnit(m.Molecule("M"), "RING_1");
    auto& c1 = Model::Atom(sub, "C1", "C", {});
    auto& c2 = Model::Atom(sub, "C2", "C", {1, 0, 0});
    auto& dynamic = sub.CreateChild<xxPiSystem>();
    dynamic.SetName("Ring");
    dynamic.MakePiSystemBond(c1);
    dynamic.MakePiSystemBond(c2);
    dynamic.SetHasDynamicPosition(true);
    auto& fixed = sub.CreateChild<xxPiSystem>();
    fixed.SetName("Pin");
    auto& dummy = sub.CreateChild<xxDummy>();
    dummy.SetName("D1");

    xxCarMdfAtomOrder order;
    ASSERT_TRUE(order.DefineAtomOrder(*m.root, xxBondable::classType));
    std::vector<Listed> expected = {{"C1", 0, 0}, {"C2", 0, 0}, {"Pin", 0, 0}, {"D1", 0, 0}};
    EXPECT_EQ(Listing(order), expected);
    // Of another class type only those objects; of a list, the objects of any of them.
    ASSERT_TRUE(order.DefineAtomOrder(*m.root, xxAtom::classType));
    EXPECT_EQ(order.GetAtomOrderArray().size(), 2u);
    const std::vector<unsigned> atomsAndDummies = {xxAtom::classType, xxDummy::classType};
    ASSERT_TRUE(order.DefineAtomOrder(*m.root, atomsAndDummies));
    expected = {{"C1", 0, 0}, {"C2", 0, 0}, {"D1", 0, 0}};
    EXPECT_EQ(Listing(order), expected);
    ASSERT_TRUE(order.DefineAtomOrder(*m.root, std::vector<unsigned>{xxBondable::classType, xxAtom::classType}));
    EXPECT_EQ(order.GetAtomOrderArray().size(), 4u) << "an object of two of the types is listed once";
    ASSERT_TRUE(order.DefineAtomOrder(*m.root, std::vector<unsigned>{}));
    EXPECT_TRUE(order.GetAtomOrderArray().empty());
}

TEST(CarMdfAtomOrder, CollectsObjectsOfTheAskedClassesInTreeOrder) {
    Model m;
    auto& top = m.root->CreateChild<xxSet>();
    top.SetName("top");
    auto& mol = m.Molecule("M");
    auto& sub = Model::SubUnit(mol, "R_1");
    auto& a = Model::Atom(sub, "A", "C", {});
    auto& b = Model::Atom(sub, "B", "C", {1, 0, 0});
    xxBondable::MakeBond(a, b);
    auto& inner = sub.CreateChild<xxSet>();
    inner.SetName("inner");
    auto& ring = sub.CreateChild<xxPiSystem>();  // follows its members: not ordered, still collected
    ring.SetName("ring");
    ring.MakePiSystemBond(a);
    ring.MakePiSystemBond(b);
    ring.SetHasDynamicPosition(true);
    auto& pin = mol.CreateChild<xxPiSystem>();  // ordered and collected
    pin.SetName("pin");
    auto& last = mol.CreateChild<xxSet>();
    last.SetName("last");

    auto names = [](const std::vector<xxObject*>& objects) {
        std::vector<std::string> out;
        for (const xxObject* o : objects) out.emplace_back(o->GetName());
        return out;
    };
    xxCarMdfAtomOrder order;
    order.SetCollectedTypes({xxSet::classType, xxPiSystem::classType});
    ASSERT_TRUE(order.DefineAtomOrder(*m.root, xxBondable::classType));
    EXPECT_EQ(names(order.GetCollected(0)), (std::vector<std::string>{"top", "inner", "last"}));
    EXPECT_EQ(names(order.GetCollected(1)), (std::vector<std::string>{"ring", "pin"}));
    EXPECT_TRUE(order.GetCollected(2).empty());
    EXPECT_EQ(order.FindPosition(pin), 2u);

    // A second order starts its lists afresh; below the molecule only what lies there.
    ASSERT_TRUE(order.DefineAtomOrder(mol, xxBondable::classType));
    EXPECT_EQ(names(order.GetCollected(0)), (std::vector<std::string>{"inner", "last"}));
    order.SetCollectedTypes({});
    ASSERT_TRUE(order.DefineAtomOrder(*m.root, xxBondable::classType));
    EXPECT_TRUE(order.GetCollected(0).empty());
}

TEST(CarMdfAtomOrder, PeriodicModelsListSymmetryParentsOnly) {
    Model m;
    m.SpaceGroup("P1", 10, 10, 10, 90, 90, 90);
    auto& sub = Model::SubUnit(m.Molecule("M"), "RES_1");
    auto& a = Model::Atom(sub, "A", "C", {1, 1, 1});
    Model::Atom(sub, "B", "C", {2, 1, 1});
    m.Build();
    xxObject* image = m.system->FindSymmetryImage(a, xxPeriodicTranslation{{1, 0, 0}});
    ASSERT_NE(image, nullptr);

    xxCarMdfAtomOrder order;
    ASSERT_TRUE(order.DefineAtomOrder(*m.root, xxBondable::classType));
    EXPECT_EQ(order.GetSymmetrySystem(), m.system);
    EXPECT_EQ(order.GetAtomOrderArray().size(), 2u);
    EXPECT_EQ(order.FindPosition(*image), xxCarMdfAtomOrder::npos);
    // From inside the system the same.
    ASSERT_TRUE(order.DefineAtomOrder(*m.system, xxBondable::classType));
    EXPECT_EQ(order.GetSymmetrySystem(), m.system);
}

TEST(CarMdfAtomOrder, RefusesModelsThatNoOneFileHolds) {
    {
        Model m;
        m.root->CreateChild<xxMultiScaleSymmetrySystem>();
        m.root->CreateChild<xxMultiScaleSymmetrySystem>();
        xxCarMdfAtomOrder order;
        EXPECT_FALSE(order.DefineAtomOrder(*m.root, xxBondable::classType));
        EXPECT_FALSE(order.GenerateObjectNames());
    }
    {
        Model m;
        m.SpaceGroup("P1", 10, 10, 10, 90, 90, 90);
        Model::Atom(Model::SubUnit(m.Molecule("In"), "R_1"), "A", "C", {});
        Model::Atom(Model::SubUnit(m.root->CreateChild<xxMultiScaleMolecule>(), "R_1"), "B", "C", {});
        m.Build();
        xxCarMdfAtomOrder order;
        EXPECT_FALSE(order.DefineAtomOrder(*m.root, xxBondable::classType));
    }
}

TEST(CarMdfAtomOrder, KeepsNamesThatFitAndReplacesTheOthers) {
    Model m;
    auto& mol = m.Molecule("M");
    auto& sub = Model::SubUnit(mol, "RES_1");
    const std::vector<std::pair<std::string, const char*>> atoms = {
        {"C1", "C"},      // kept
        {"Carbon", "C"},  // too long
        {"C1", "C"},      // taken already
        {"H 2", "H"},     // white space
        {"N:1", "N"},     // a separator
        {"end1", "O"},    // a CAR line that starts so ends a molecule
        {"!x", "O"},      // a comment line
        {"", "Cl"},       // none
        {"C2", "C"},      // kept, so the generated names step around it
        {"#1", "S"},
    };
    for (const auto& [name, element] : atoms) Model::Atom(sub, name, element, {});
    auto& dummy = sub.CreateChild<xxDummy>();
    dummy.SetName("Dummy Atom");

    xxCarMdfAtomOrder order;
    ASSERT_TRUE(order.DefineAtomOrder(*m.root, xxBondable::classType));
    EXPECT_TRUE(order.AtomName(0).empty());  // no names before they are made
    ASSERT_TRUE(order.GenerateObjectNames());
    const std::vector<std::string> expected = {"C1", "C3", "C4", "H1", "N1", "O1", "O2", "Cl1", "C2", "S1", "Du1"};
    EXPECT_EQ(Names(order), expected);
    std::string name;
    EXPECT_TRUE(order.GetMdfObjectName(dummy, name));
    EXPECT_EQ(name, "Du1");
    EXPECT_FALSE(order.GetMdfObjectName(mol, name));
    EXPECT_FALSE(order.GetSubunitName(1, name));
}

TEST(CarMdfAtomOrder, SubunitNamesReadBackToTheSameSubunits) {
    struct Case {
        std::vector<std::string> given;
        std::vector<std::string> written;
    };
    // A molecule of many sub-units, where a name used before comes again late.
    std::vector<std::string> many, manyWritten;
    for (int n = 1; n <= 20; ++n) many.push_back("R_" + std::to_string(n));
    manyWritten = many;
    many.push_back("R_3");
    manyWritten.push_back("R_21");
    const Case cases[] = {
        {many, manyWritten},
        {{"ALA_1", "GLY_2"}, {"ALA_1", "GLY_2"}},
        // The reader starts a sub-unit only when the residue number changes.
        {{"ALA_1", "GLY_1"}, {"ALA_1", "GLY_2"}},
        {{"ALA_1", "GLY_2", "ALA_1"}, {"ALA_1", "GLY_2", "ALA_3"}},
        {{"LONGER_1", "AB_12345678", "NONUM", "_5", "A B_1", ""}, {"XXXX_1", "AB_2", "XXXX_3", "XXXX_4", "XXXX_5", "XXXX_6"}},
        {{"R_A_7"}, {"R_A_7"}},
    };
    for (const auto& c : cases) {
        Model m;
        auto& mol = m.Molecule("M");
        for (const std::string& name : c.given) Model::Atom(Model::SubUnit(mol, name), "A", "C", {});
        xxCarMdfAtomOrder order;
        ASSERT_TRUE(order.DefineAtomOrder(*m.root, xxBondable::classType));
        ASSERT_TRUE(order.GenerateObjectNames());
        std::vector<std::string> written;
        for (std::size_t s = 0; s < order.GetNumSubunits(); ++s) written.emplace_back(order.SubunitName(s));
        EXPECT_EQ(written, c.written) << c.given.front();
    }
}

TEST(CarMdfAtomOrder, MoleculeNamesAreSingleUniqueTokens) {
    Model m;
    for (const char* name : {"WAT", "WAT", "two words", "", "MOL_1", "a:b"})
        Model::Atom(Model::SubUnit(m.Molecule(name), "R_1"), "A", "C", {});
    Model::Atom(*m.root, "Z", "C", {});  // a molecule of its own, unnamed
    xxCarMdfAtomOrder order;
    ASSERT_TRUE(order.DefineAtomOrder(*m.root, xxBondable::classType));
    ASSERT_TRUE(order.GenerateObjectNames());
    std::vector<std::string> names;
    for (std::size_t i = 0; i < order.GetNumMolecules(); ++i) names.emplace_back(order.MoleculeName(i));
    const std::vector<std::string> expected = {"WAT", "MOL_2", "MOL_3", "MOL_4", "MOL_1", "MOL_5", "MOL_6"};
    EXPECT_EQ(names, expected);
}

TEST(CarMdfAtomOrder, LargeSubunitsStillGetNamesOfFiveCharacters) {
    Model m;
    auto& sub = Model::SubUnit(m.Molecule("M"), "R_1");
    constexpr int kAtoms = 12000;
    for (int i = 0; i < kAtoms; ++i) Model::Atom(sub, "", "C", {});
    xxCarMdfAtomOrder order;
    ASSERT_TRUE(order.DefineAtomOrder(*m.root, xxBondable::classType));
    ASSERT_TRUE(order.GenerateObjectNames());
    std::set<std::string> seen;
    for (std::size_t p = 0; p < kAtoms; ++p) {
        std::string_view name = order.AtomName(p);
        EXPECT_LE(name.size(), 5u);
        seen.emplace(name);
    }
    EXPECT_EQ(seen.size(), static_cast<std::size_t>(kAtoms));
    EXPECT_EQ(order.AtomName(0), "C1");
    EXPECT_EQ(order.AtomName(9998), "C9999");
    EXPECT_EQ(order.AtomName(9999), "CA");
}

TEST(CarMdfAtomOrder, IntegerToAlphaNumeric) {
    struct Case {
        std::uint64_t number;
        std::size_t width;
        const char* text;  // null: does not fit
    };
    const Case cases[] = {
        {0, 1, "0"},      {9, 1, "9"},     {10, 1, "A"},     {35, 1, "Z"},      {36, 1, nullptr},
        {99, 2, "99"},    {100, 2, "A"},   {125, 2, "Z"},    {126, 2, "A0"},    {127, 2, "A1"},
        {161, 2, "AZ"},   {162, 2, "B0"},  {1061, 2, "ZZ"},  {1062, 2, nullptr}, {12345, 5, "12345"},
        {5, 0, nullptr},
    };
    for (const auto& c : cases) {
        std::string text = "untouched";
        bool fits = xxCarMdfAtomOrder::IntegerToAlphaNumeric(c.number, c.width, text);
        EXPECT_EQ(fits, c.text != nullptr) << c.number << " in " << c.width;
        EXPECT_EQ(text, c.text ? c.text : "untouched");
    }
    // Distinct numbers give distinct texts.
    std::set<std::string> texts;
    std::string text;
    for (std::uint64_t n = 0; xxCarMdfAtomOrder::IntegerToAlphaNumeric(n, 3, text); ++n) EXPECT_TRUE(texts.insert(text).second);
    EXPECT_EQ(texts.size(), 1000u + 26u + 26u * 36u + 26u * 36u * 36u);
}

TEST(CarMdfAtomOrder, ChargeGroups) {
    Model m;
    auto& mol = m.Molecule("M");
    auto& s1 = Model::SubUnit(mol, "R_1");
    auto& s2 = Model::SubUnit(mol, "R_2");
    auto& a = Model::Atom(s1, "A", "C", {});
    auto& b = Model::Atom(s1, "B", "C", {});
    auto& c = Model::Atom(s1, "C", "C", {});
    auto& d = Model::Atom(s2, "D", "C", {});
    auto& e = Model::Atom(s2, "E", "C", {});
    auto group = [&](std::string name, std::vector<xxAtom*> atoms, xxAtom* centre) -> xxChargeGroup& {
        auto& g = mol.CreateChild<xxChargeGroup>();
        g.SetName(std::move(name));
        g.SetAtoms(atoms);
        g.SetSwitchingCenter(centre);
        return g;
    };
    auto& g1 = group("G", {&a, &b}, &b);
    group("G", {&c}, &c);                       // the same name in the same sub-unit
    auto& g3 = group("toolongname", {&d}, &d);  // too wide
    xxCarMdfAtomOrder order;
    ASSERT_TRUE(order.DefineAtomOrder(*m.root, xxBondable::classType));
    ASSERT_TRUE(order.GenerateObjectNames());
    EXPECT_TRUE(order.GetChargeGroupStatus());
    EXPECT_EQ(order.GetNumberOfChargeGroups(), 3);
    struct Expected {
        const char* name;
        int switching;
    };
    const Expected expected[] = {{"G", 0}, {"G", 1}, {"G1", 1}, {"G1", 1}, {"?", 0}};
    for (std::size_t p = 0; p < 5; ++p) {
        std::string name;
        int switching = -1;
        ASSERT_TRUE(order.GetChargeGroupName(p, name, switching));
        EXPECT_EQ(name, expected[p].name) << p;
        EXPECT_EQ(switching, expected[p].switching) << p;
        int viewSwitching = -1;
        EXPECT_EQ(order.ChargeGroupName(p, viewSwitching), expected[p].name) << p;
        EXPECT_EQ(viewSwitching, expected[p].switching) << p;
    }

    // Each of these makes the groups incompatible with the MDF's, which are per sub-unit and
    // need a switching centre.
    const std::function<void()> breakers[] = {
        [&] { g1.SetSwitchingCenter(nullptr); },
        [&] { g1.SetAtoms(std::vector<xxAtom*>{&a, &d}); },  // across sub-units
        [&] { g3.SetAtoms(std::vector<xxAtom*>{&d, &a}); },  // a is in g1 too
        [&] { g1.SetSwitchingCenter(&e); },                  // not a member
    };
    for (const auto& breakIt : breakers) {
        g1.SetAtoms(std::vector<xxAtom*>{&a, &b});
        g1.SetSwitchingCenter(&b);
        g3.SetAtoms(std::vector<xxAtom*>{&d});
        breakIt();
        ASSERT_TRUE(order.DefineAtomOrder(*m.root, xxBondable::classType));
        EXPECT_FALSE(order.GetChargeGroupStatus());
        EXPECT_GE(order.GetNumberOfChargeGroups(), 1);
    }
}

}  // namespace
