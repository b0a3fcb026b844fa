// The QOR writer: the exact text of small models built in code, its rules, and read-back.
#include "formats/qor_trj_xtl_chemxml/qor_writer.h"

#include <gtest/gtest.h>

#include <memory>
#include <sstream>
#include <string>

#include "datamodel/atomistic.h"
#include "datamodel/sets.h"
#include "formats/qor_trj_xtl_chemxml/qor_reader.h"

namespace {

std::string Save(xxObject& root) {
    std::ostringstream out;
    xxSaveQOR writer;
    EXPECT_TRUE(writer.SaveObjectToStream(out, &root, "qor")) << writer.GetErrorMessage();
    return out.str();
}

std::unique_ptr<xxAtomisticTreeRoot> Read(const std::string& text) {
    auto root = std::make_unique<xxAtomisticTreeRoot>();
    std::istringstream in(text);
    EXPECT_EQ(xxLoadQOR().LoadObjectFromStreamHR(in, root.get(), "doc"), S_OK);
    return root;
}

// Water in a sub-unit of a molecule, a heavy hydrogen, a dummy, a charge group and a fixed atom.
std::unique_ptr<xxAtomisticTreeRoot> Water() {
    auto root = std::make_unique<xxAtomisticTreeRoot>();
    root->SetName("water box");
    auto& molecule = root->CreateChild<xxMolecule>();
    molecule.SetName("not written");
    auto& sub = molecule.CreateChild<xxSubUnit>();
    sub.SetName("HOH");
    sub.SetID(3);
    auto& o = sub.CreateChild<xxAtom3d>("O");
    o.SetName("O1");
    o.SetXYZ({0, 0, 0.125});
    o.SetCharge(-0.82);
    o.SetForcefieldType("o*");
    o.SetFormalCharge(-1, 2);
    auto& h = sub.CreateChild<xxAtom3d>("H");
    h.SetName("H\"1\\");
    h.SetXYZ({1.0 / 3, 0.75, -0.5});
    h.SetOccupancy(0.5);
    auto& d = sub.CreateChild<xxAtom3d>("H");
    d.SetName("line\nend");
    d.SetIsotope(2);
    d.SetID(40);
    xxBondable::MakeBond(o, h);
    xxBondable::MakeBond(o, d, xxBondType::Aromatic);
    auto& dummy = molecule.CreateChild<xxDummy>();
    dummy.SetDummySymbol("Qx");
    auto& pi = molecule.CreateChild<xxPiSystem>();
    pi.SetXYZ({1, 2, 3});
    auto& group = root->CreateChild<xxChargeGroup>();
    xxAtom* members[] = {&o, &h};
    group.SetAtoms(members);
    group.SetSwitchingCenter(&o);
    root->CreateChild<xxCompleteRestriction>().AddRestrictable(o.GetXYZRestrictable());
    return root;
}

// The model is 1, the bondable objects 2-6 in tree order, then the records as written; the
// molecule writes no record.
const char kWaterGolden[] = R"(# QOR DRAVIK4 DataModel File Version 4 0
(1 Model
  (A C Label "water box")
  (7 Subunit
    (A C Label "HOH")
    (A I Id 3)
    (2 Atom
      (A C ACL "8 O")
      (A C Label "O1")
      (A D XYZ (0 0 0.125))
      (A F Charge -0.8199999928474)
      (A I FChg (-1 2))
      (A C FFType "o*")
      (A I Moveable 0)
      (A O Switch 2)
    )
    (3 Atom
      (A C ACL "0 H")
      (A C Label "H\"1\\")
      (A D XYZ (0.3333333333333 0.75 -0.5))
      (A F Occupancy 0.5)
      (A O Switch 2)
    )
    (4 Atom
      (A C ACL "0 H")
      (A C Label "line end")
      (A I Id 40)
      (A F Mass 2.014101743698)
    )
    (8 Bond
      (A O Atom1 2)
      (A O Atom2 3)
    )
    (9 Bond
      (A O Atom1 2)
      (A O Atom2 4)
      (A I Type 8)
    )
  )
  (5 Atom
    (A C ACL "113 X")
  )
  (6 Atom
    (A C ACL "119 Cp")
    (A D XYZ (1 2 3))
  )
)
)";

TEST(QorWriter, NonPeriodicModel) {
    auto model = Water();
    EXPECT_EQ(Save(*model), kWaterGolden);
}

TEST(QorWriter, WhatItWritesReadsBackAndWritesTheSame) {
    auto model = Water();
    const std::string first = Save(*model);
    auto back = Read(first);
    const std::string second = Save(*back);
    auto again = Read(second);
    EXPECT_EQ(Save(*again), second);
    auto atoms = back->DescendentsOf<xxAtom3d>();
    ASSERT_EQ(atoms.size(), 3u);
    EXPECT_EQ(atoms[0]->GetCharge(), static_cast<double>(-0.82f));  // "F": single precision
    EXPECT_NEAR(atoms[1]->GetXYZ().x, 1.0 / 3, 1e-13);
    EXPECT_EQ(atoms[1]->GetName(), "H\"1\\");
    EXPECT_EQ(atoms[2]->GetName(), "line");  // the line end was written as a blank
    EXPECT_EQ(atoms[2]->GetIsotope(), 2);
    EXPECT_EQ(atoms[0]->FindBond(*atoms[2])->GetBondType(), xxBondType::Aromatic);
    ASSERT_EQ(back->DescendentsOf<xxChargeGroup>().size(), 1u);
    EXPECT_EQ(back->DescendentsOf<xxChargeGroup>()[0]->GetSwitchingCenter(), atoms[0]);
    ASSERT_EQ(back->DescendentsOf<xxCompleteRestriction>().size(), 1u);
    EXPECT_EQ(back->DescendentsOf<xxDummy>()[0]->GetDummySymbol(), "X");  // a symbol the table lacks
}

// The readers blank bare parentheses of attribute lines, so names carry theirs escaped: the
// model's, a sub-unit's and an atom's come back whole.
TEST(QorWriter, NamesKeepTheirParentheses) {
    xxAtomisticTreeRoot root;
    root.SetName("(m)");
    auto& unit = root.CreateChild<xxMultiScaleSubUnit>();
    unit.SetName("((u");
    unit.CreateChild<xxAtom3d>("C").SetName("C(1)\\");
    const std::string text = Save(root);
    EXPECT_NE(text.find("(A C Label \"\\(\\(u\")"), std::string::npos) << text;
    auto back = Read(text);
    EXPECT_EQ(back->GetName(), "(m)");
    ASSERT_EQ(back->DescendentsOf<xxMultiScaleSubUnit>().size(), 1u);
    EXPECT_EQ(back->DescendentsOf<xxMultiScaleSubUnit>()[0]->GetName(), "((u");
    ASSERT_EQ(back->DescendentsOf<xxAtom3d>().size(), 1u);
    EXPECT_EQ(back->DescendentsOf<xxAtom3d>()[0]->GetName(), "C(1)\\");
    // The atom read without "Id" has its record number as ID from now on.
    const std::string second = Save(*back);
    EXPECT_EQ(Save(*Read(second)), second);
}

TEST(QorWriter, Rules) {
    struct Case {
        const char* what;
        void (*build)(xxAtomisticTreeRoot&);
        const char* expected;  // a line the text holds
        bool present;
    } cases[] = {
        {"hydrogen is code 0", [](xxAtomisticTreeRoot& r) { r.CreateChild<xxAtom3d>("H"); }, "    (A C ACL \"0 H\")\n", true},
        {"no XYZ at the origin", [](xxAtomisticTreeRoot& r) { r.CreateChild<xxAtom3d>("C"); }, "XYZ", false},
        {"a partial double bond is aromatic",
         [](xxAtomisticTreeRoot& r) {
             xxBondable::MakeBond(r.CreateChild<xxAtom3d>("C"), r.CreateChild<xxAtom3d>("C"), xxBondType::Partial);
         },
         "    (A I Type 8)\n", true},
        {"double", [](xxAtomisticTreeRoot& r) {
             xxBondable::MakeBond(r.CreateChild<xxAtom3d>("C"), r.CreateChild<xxAtom3d>("C"), xxBondType::Double);
         }, "    (A I Type 2)\n", true},
        {"triple", [](xxAtomisticTreeRoot& r) {
             xxBondable::MakeBond(r.CreateChild<xxAtom3d>("C"), r.CreateChild<xxAtom3d>("C"), xxBondType::Triple);
         }, "    (A I Type 4)\n", true},
        {"a pi centre", [](xxAtomisticTreeRoot& r) { r.CreateChild<xxPiSystem>(); }, "    (A C ACL \"119 Cp\")\n", true},
        {"a listed dummy", [](xxAtomisticTreeRoot& r) { r.CreateChild<xxDummy>().SetDummySymbol("LP"); },
         "    (A C ACL \"117 LP\")\n", true},
        {"a centre with no number gives no Switch",
         [](xxAtomisticTreeRoot& r) {
             xxAtom* atom = &r.CreateChild<xxAtom3d>("C");
             r.CreateChild<xxChargeGroup>().SetAtoms(std::span<xxAtom* const>(&atom, 1));
         },
         "Switch", false},
        {"small numbers in general notation", [](xxAtomisticTreeRoot& r) {
             r.CreateChild<xxAtom3d>("C").SetXYZ({1e-20, 123456789012345.0, 0.1});
         }, "    (A D XYZ (1e-20 1.234567890123e+14 0.1))\n", true},
        {"the model's Id has a blank before its parenthesis", [](xxAtomisticTreeRoot& r) { r.SetID(9); },
         "  (A I Id 9 )\n", true},
    };
    for (const Case& c : cases) {
        xxAtomisticTreeRoot root;
        c.build(root);
        const std::string text = Save(root);
        EXPECT_EQ(text.find(c.expected) != std::string::npos, c.present) << c.what << "\n" << text;
    }
}

}  // namespace
