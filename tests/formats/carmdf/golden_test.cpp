// Whole files, byte for byte: a small non-periodic and a small periodic model, built in code and
// written the way the component writes them (the CAR through the host's file stream in text
// mode, so both files have CR LF line ends), compared with the files under tests/data/carmdf.
// CARTOVANE_UPDATE_GOLDEN=1 rewrites the expected files instead.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <ostream>

#include "writer_support.h"

namespace {

using cvtest::TempDir;
using cvtest::carmdf::FixedTime;
using cvtest::carmdf::Model;

const std::string kGolden = std::string(CARTOVANE_TEST_DATA) + "/carmdf/";

// Ethanol and water: residues, bond orders, charge groups, per-atom MDF values, a dummy, a
// pseudo-atom and every kind of atom list.
void BuildMolecular(Model& m) {
    auto& eth = m.Molecule("ETH");
    auto& e1 = Model::SubUnit(eth, "ETH_1");
    auto& c1 = Model::Atom(e1, "C1", "C", {-1.2, 0.1, 0.0}, -0.18, "c3");
    auto& c2 = Model::Atom(e1, "C2", "C", {0.3, 0.1, 0.0}, 0.145, "c2");
    auto& o = Model::Atom(e1, "O", "O", {0.8, 1.45, 0.0}, -0.683, "o2h");
    auto& e2 = Model::SubUnit(eth, "HYD_2");
    auto& ho = Model::Atom(e2, "HO", "H", {1.76, 1.4, 0.0}, 0.418, "ho");
    auto& d = Model::Atom(e2, "D1", "H", {-1.6, -0.9, 0.0}, 0.06, "h");
    d.SetIsotope(2);
    auto& lp = e2.CreateChild<xxDummy>();
    lp.SetName("LP");
    lp.SetXYZ({1.0, 1.9, 0.4});
    lp.SetForcefieldType("lp");
    xxBondable::MakeBond(c1, c2);
    xxBondable::MakeBond(c2, o).SetOrder(1.5);
    xxBondable::MakeBond(o, ho);
    xxBondable::MakeBond(c1, d);
    c1.SetIsotope(13);
    c1.SetIsotropicTF(0.0125);
    c1.SetAppliedTF(xxAtom3d::kIsotropicTF);
    o.SetFormalCharge(-1, 3);
    o.SetOccupancy(0.75);
    c2.SetIsOutOfPlane(true);
    for (xxAtom3d* a : {&c1, &c2, &o}) a->SetIsBackboneAtom(true);
    auto& group = e1.CreateChild<xxChargeGroup>();
    group.SetName("CG1");
    std::vector<xxAtom*> members{&c1, &c2, &o};
    group.SetAtoms(members);
    group.SetSwitchingCenter(&c2);

    auto& wat = m.Molecule("WAT");
    auto& w1 = Model::SubUnit(wat, "WAT_1");
    auto& ow = Model::Atom(w1, "OW", "O", {3.0, -1.0, 2.25}, -0.82, "o*");
    auto& h1 = Model::Atom(w1, "HW1", "H", {3.6, -0.3, 2.25}, 0.41, "h*");
    auto& h2 = Model::Atom(w1, "HW2", "H", {2.1, -0.6, 2.25}, 0.41, "h*");
    xxBondable::MakeBond(ow, h1);
    xxBondable::MakeBond(ow, h2);
    auto& na = Model::Atom(Model::SubUnit(wat, "ION_2"), "Na", "Na", {4.5, -1.5, 4.0}, 1.0, "Na+");
    na.SetFormalCharge(1);
    auto& ring = w1.CreateChild<xxPiSystem>();
    ring.SetName("Water");
    ring.MakePiSystemBond(h1);
    ring.MakePiSystemBond(h2);
    ring.SetHasDynamicPosition(true);
    xxBondable::MakeBond(na, ring);

    auto& heavy = m.root->CreateChild<xxSet>();
    heavy.SetName("Heavy atoms");
    for (xxAtom3d* a : {&c1, &c2, &o, &ow, &na}) heavy.Add(*a);
    auto& distances = m.root->CreateChild<xxSet>();
    distances.SetName("HBond");
    distances.Add(m.root->CreateChild<xxDistanceStretcher>(ho, ow));
    auto& fixed = m.root->CreateChild<xxCompleteRestriction>();
    fixed.AddRestrictable(na.GetXYZRestrictable());
}

// Two molecules in a monoclinic cell, one bonded across the cell boundary and one to an image
// under another operator.
void BuildCrystal(Model& m) {
    m.SpaceGroup("P21/c", 7.5, 8.25, 9.125, 90, 101.5, 90);
    auto& chain = m.Molecule("CHAIN");
    auto& r1 = Model::SubUnit(chain, "CH2_1");
    auto& c1 = Model::Atom(r1, "C1", "C", {0.4, 1.0, 1.0}, -0.1, "c");
    auto& c2 = Model::Atom(r1, "C2", "C", {1.9, 1.2, 1.1}, -0.1, "c");
    auto& cl = Model::Atom(Model::SubUnit(chain, "CL_2"), "Cl", "Cl", {2.5, 2.6, 1.5}, 0.2, "cl");
    xxBondable::MakeBond(c1, c2);
    xxBondable::MakeBond(c2, cl);
    auto& water = m.Molecule("WAT");
    auto& o = Model::Atom(Model::SubUnit(water, "WAT_1"), "O", "O", {3.2, 4.1, 4.4}, -0.8, "o*");
    m.Build();
    const auto& d = m.system->GetSymmetryDefinition();
    // The chain continues into the cell before along a.
    auto* next = m.system->FindSymmetryImage(c1, d.FindSymmetryElement(1, {{1, 0, 0}}))->As<xxBondable>();
    xxBondable::MakeBond(c2, *next);
    auto* inverted = m.system->FindSymmetryImage(o, d.FindSymmetryElement(3, {{1, 1, 1}}))->As<xxBondable>();
    xxBondable::MakeBond(o, *inverted);
    auto& set = m.system->CreateChild<xxSet>();
    set.SetName("Carbon");
    set.Add(c1);
    set.Add(c2);
}

void CheckGolden(const std::function<void(Model&)>& build, const std::string& name) {
    TempDir dir;
    Model m;
    build(m);
    const std::string carPath = dir.File(name + ".car");
    {
        CfxComPtr<ISBStream> stream;
        ASSERT_EQ(host::CreateFileStream(carPath, host::FileMode::Write, stream.Out()), S_OK);
        cartovane::CSBStreamBuf buffer(stream.Get());
        std::ostream car(&buffer);
        xxSaveCAR writer;
    writer.SetClock(FixedTime);
        xxBool allSets = false;
        ASSERT_TRUE(writer.WriteCarAndMdf(car, *m.root, carPath, nullptr, allSets, false));
        EXPECT_TRUE(allSets);
        car.flush();
        ASSERT_EQ(host::CommitFileStream(stream.Get()), S_OK);
    }
    const std::string car = TempDir::Slurp(carPath);
    const std::string mdf = TempDir::Slurp(dir.File(name + ".mdf"));
    if (std::getenv("CARTOVANE_UPDATE_GOLDEN")) {
        std::filesystem::create_directories(kGolden);
        std::ofstream(kGolden + name + ".car", std::ios::binary) << car;
        std::ofstream(kGolden + name + ".mdf", std::ios::binary) << mdf;
        GTEST_SKIP() << "golden files rewritten";
    }
    EXPECT_EQ(car, TempDir::Slurp(kGolden + name + ".car"));
    EXPECT_EQ(mdf, TempDir::Slurp(kGolden + name + ".mdf"));
}

TEST(CarMdfGolden, NonPeriodicModel) { CheckGolden(BuildMolecular, "ethanol_water"); }
TEST(CarMdfGolden, PeriodicModel) { CheckGolden(BuildCrystal, "chain_crystal"); }

}  // namespace
