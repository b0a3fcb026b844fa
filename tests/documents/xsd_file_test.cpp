#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <vector>
#include <string>

#include "cfx/cfx.h"
#include "datamodel/atomistic.h"
#include "datamodel/sets.h"
#include "datamodel/symmetry/system.h"
#include "documents/xsd_file.h"
#include "support/temp_dir.h"
#include "xml/xml.h"

namespace {

std::string SaveXsd(xxObject& root) {
    std::ostringstream out;
    EXPECT_TRUE(xxSaveXSD().SaveObjectToStream(out, &root, "ignored"));
    return out.str();
}

HRESULT LoadXsd(const std::string& text, xxObject& target) {
    std::istringstream in(text);
    return xxLoadXSD().LoadObjectFromStreamHR(in, &target, "ignored");
}

TEST(XsdFile, ExtensionAndFilter) {
    xxLoadXSD loader;
    EXPECT_TRUE(loader.IsFileExtension("xsd"));
    for (const char* other : {"XSD", ".xsd", "xsd ", "xod", ""}) EXPECT_FALSE(loader.IsFileExtension(other)) << other;
    EXPECT_EQ(loader.GetFileExtension(), "xsd");
    EXPECT_EQ(loader.GetFileFilter(), "XSD Files (*.xsd) |*.xsd|");
}

TEST(XsdFile, FailuresComeBackAsResultsAndClearOnlyWhatWasRead) {
    xxTreeRoot root;
    root.CreateChild<xxTreeRoot>().SetName("kept");

    // Not XML: the target is untouched.
    EXPECT_EQ(LoadXsd("<XSD Version=\"5.5\"><TreeRoot", root), E_FAIL);
    EXPECT_EQ(Cfx::GetLastError().description.rfind("Unable to parse XSD as valid XML - ", 0), 0u)
        << Cfx::GetLastError().description;
    EXPECT_EQ(root.NumChildren(), 1u);

    // XML the reader rejects: the target is left without descendants.
    EXPECT_EQ(LoadXsd("<XSD Version=\"5.5\"><TreeRoot ID=\"1\" Children=\"2\"><TreeRoot ID=\"2\"/></TreeRoot></XSD>", root),
              E_FAIL);
    EXPECT_EQ(Cfx::GetLastError().description, "\nElement 'TreeRoot' (ID=1) - None, or too few, child Elements provided");
    EXPECT_EQ(root.NumChildren(), 0u);

    EXPECT_EQ(LoadXsd("<XSD Version=\"5.5\"><TreeRoot ID=\"1\"/></XSD>", root), S_OK);
    EXPECT_EQ(xxLoadXSD().LoadObjectFromStreamHR(*std::make_unique<std::istringstream>("<a/>"), nullptr, ""), E_POINTER);
}

// A water molecule with every kind of atomistic content the data model has so far.
std::unique_ptr<xxAtomisticTreeRoot> Water() {
    auto root = std::make_unique<xxAtomisticTreeRoot>();
    root->SetName("box");
    auto& molecule = root->CreateChild<xxMolecule>();
    molecule.SetName("water");
    auto& sub = molecule.CreateChild<xxSubUnit>();
    sub.SetName("HOH");
    auto& o = sub.CreateChild<xxAtom3d>("O");
    o.SetName("O1");
    o.SetXYZ({0.1, -0.2, 1.0 / 3});
    o.SetCharge(-0.8476);
    o.SetForcefieldType("o*");
    o.SetFormalCharge(-1, 2);
    auto& h1 = sub.CreateChild<xxAtom3d>("H");
    h1.SetName("H1");
    h1.SetXYZ({0.9572, 0, 0});
    h1.SetCharge(0.4238);
    auto& h2 = sub.CreateChild<xxAtom3d>("H");
    h2.SetName("H2");
    h2.SetXYZ({-0.24, 0.927, 0});
    h2.SetIsotope(2);
    auto& dummy = molecule.CreateChild<xxDummy>();
    dummy.SetDummySymbol("X");
    xxBondable::MakeBond(o, h1);
    xxBondable::MakeBond(o, h2, xxBondType::Double);
    auto& group = root->CreateChild<xxChargeGroup>();
    xxAtom* members[] = {&o, &h1, &h2};
    group.SetAtoms(members);
    group.SetSwitchingCenter(&o);
    auto& set = root->CreateChild<xxSet>();
    set.SetName("hydrogens");
    set.Add(h1);
    set.Add(h2);
    root->CreateChild<xxDistanceStretcher>(o, h1);
    auto& fixed = root->CreateChild<xxCompleteRestriction>();
    fixed.AddRestrictable(o.GetXYZRestrictable());
    auto& tuple = root->CreateChild<xxSubstructure>();
    tuple.AddAtom(h2);
    tuple.AddAtom(o);
    return root;
}

TEST(XsdFile, AtomisticModelsReadBackTheSame) {
    auto model = Water();
    std::string text = SaveXsd(*model);
    ASSERT_EQ(text.rfind("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<XSD Version=\"5.5\">", 0), 0u) << text;

    xxAtomisticTreeRoot back;
    ASSERT_EQ(LoadXsd(text, back), S_OK) << Cfx::GetLastError().description;
    EXPECT_EQ(SaveXsd(back), text);  // everything saved came back

    auto atoms = back.DescendentsOf<xxAtom3d>();
    ASSERT_EQ(atoms.size(), 3u);
    xxAtom3d& o = *atoms[0];
    EXPECT_EQ(o.GetElementSymbol(), "O");
    EXPECT_EQ(o.GetXYZ(), (xxPoint3d{0.1, -0.2, 1.0 / 3}));
    EXPECT_EQ(o.GetFormalCharge(), (xxRational{-1, 2}));
    EXPECT_EQ(atoms[2]->GetIsotope(), 2);
    EXPECT_FALSE(xxAtom3d::m_pptIsotope.IsAssigned(*atoms[1]));  // unassigned values stay so
    ASSERT_EQ(o.GetAttached().size(), 2u);
    EXPECT_EQ(o.GetAttached()[1], atoms[2]);
    EXPECT_EQ(o.FindBond(*atoms[2])->GetBondType(), xxBondType::Double);
    EXPECT_EQ(o.FindBond(*atoms[2])->GetParent(), o.GetParent());  // under the ends' lowest common node

    auto group = back.ChildrenOf<xxChargeGroup>();
    ASSERT_EQ(group.size(), 1u);
    EXPECT_EQ(group[0]->GetAtoms(), (std::vector<xxAtom*>{atoms[0], atoms[1], atoms[2]}));
    EXPECT_EQ(group[0]->GetSwitchingCenter(), &o);
    auto sets = back.ChildrenOf<xxSet>();
    ASSERT_EQ(sets.size(), 1u);
    EXPECT_EQ(sets[0]->GetMembers(), (std::vector<xxObject*>{atoms[1], atoms[2]}));
    auto monitors = back.ChildrenOf<xxDistanceStretcher>();
    ASSERT_EQ(monitors.size(), 1u);
    EXPECT_DOUBLE_EQ(monitors[0]->Measure(), (atoms[1]->GetXYZ() - o.GetXYZ()).Length());
    auto restrictions = back.ChildrenOf<xxCompleteRestriction>();
    ASSERT_EQ(restrictions.size(), 1u);
    EXPECT_EQ(restrictions[0]->GetRestrictables(), std::vector<xxRestrictable*>{&o.GetXYZRestrictable()});
    auto tuples = back.ChildrenOf<xxSubstructure>();
    ASSERT_EQ(tuples.size(), 1u);
    EXPECT_EQ(tuples[0]->GetAtoms(), (std::vector<xxBondable*>{atoms[2], atoms[0]}));
}

TEST(XsdFile, AromaticAndPartialDoubleBondsStayApart) {
    xxAtomisticTreeRoot model;
    auto& ring = model.CreateChild<xxMolecule>();
    std::vector<xxAtom3d*> atoms;
    for (int i = 0; i < 4; ++i) atoms.push_back(&ring.CreateChild<xxAtom3d>("C"));
    xxBondable::MakeBond(*atoms[0], *atoms[1], xxBondType::Aromatic);
    xxBondable::MakeBond(*atoms[1], *atoms[2], xxBondType::Partial);
    xxBondable::MakeBond(*atoms[2], *atoms[3], xxBondType::Quadruple);
    const std::string text = SaveXsd(model);

    xxAtomisticTreeRoot back;
    ASSERT_EQ(LoadXsd(text, back), S_OK) << Cfx::GetLastError().description;
    auto read = back.DescendentsOf<xxAtom3d>();
    ASSERT_EQ(read.size(), 4u);
    EXPECT_EQ(read[0]->FindBond(*read[1])->GetBondType(), xxBondType::Aromatic);
    EXPECT_EQ(read[1]->FindBond(*read[2])->GetBondType(), xxBondType::Partial);
    EXPECT_EQ(read[2]->FindBond(*read[3])->GetBondType(), xxBondType::Quadruple);
    EXPECT_EQ(SaveXsd(back), text);
}

// A frame's values live in the root and its symmetry system: they read back, and a model that
// has none writes none.
TEST(XsdFile, FrameEnergiesAndStressesReadBack) {
    auto model = Water();
    const std::string plain = SaveXsd(*model);
    for (const xxPropertyTemplate<double>* energy : xxClassicalEnergyHolder::EnergyTemplates())
        EXPECT_EQ(plain.find(std::string(" ") + energy->Name() + "=\""), std::string::npos) << energy->Name();

    xxClassicalEnergyHolder::m_pptTotalEnergy.SetValue(*model, -1234.5);
    xxClassicalEnergyHolder::m_pptTemperature.SetValue(*model, 1.0 / 3);
    xxClassicalEnergyHolder::m_pptNonBondEnergy.SetValue(*model, 0);
    auto& system = model->CreateChild<xxMatterSymmetrySystem>();
    const xxMatrix3x3 stress({1e-5, 0.5, 0, 0.5, -2, 0, 0, 0, 3});
    xxMatterSymmetrySystem::m_pptPotentialStress.SetValue(system, stress);
    const std::string text = SaveXsd(*model);
    EXPECT_NE(text.find("TotalEnergy=\"-1234.5\""), std::string::npos) << text;
    EXPECT_NE(text.find("PotentialStress=\"1e-05,0.5,0,0.5,-2,0,0,0,3\""), std::string::npos) << text;

    xxAtomisticTreeRoot back;
    ASSERT_EQ(LoadXsd(text, back), S_OK) << Cfx::GetLastError().description;
    EXPECT_EQ(SaveXsd(back), text);
    EXPECT_EQ(xxClassicalEnergyHolder::m_pptTotalEnergy.GetValue(back), -1234.5);
    EXPECT_EQ(xxClassicalEnergyHolder::m_pptTemperature.GetValue(back), 1.0 / 3);
    EXPECT_TRUE(xxClassicalEnergyHolder::m_pptNonBondEnergy.IsAssigned(back)) << "an assigned 0 is still assigned";
    EXPECT_FALSE(xxClassicalEnergyHolder::m_pptKineticEnergy.IsAssigned(back));
    auto systems = back.ChildrenOf<xxMatterSymmetrySystem>();
    ASSERT_EQ(systems.size(), 1u);
    EXPECT_EQ(xxMatterSymmetrySystem::m_pptPotentialStress.GetValue(*systems[0]), stress);
    EXPECT_FALSE(xxMatterSymmetrySystem::m_ppt_TrajectoryStress.IsAssigned(*systems[0]));
}

// Another XML parser than ours reads what the saver writes: well-formed, the newest version,
// every "ID" once.
TEST(XsdFile, DocumentsReadWithAnIndependentParser) {
    if (std::system("python3 -c 'import xml.dom.minidom' >/dev/null 2>&1") != 0) GTEST_SKIP() << "no python3";
    cvtest::TempDir dir;
    std::string path = dir.File("water.xsd");
    std::ofstream(path, std::ios::binary) << SaveXsd(*Water());
    const std::string check =
        "import sys, xml.dom.minidom as m\n"
        "d = m.parse(sys.argv[1]).documentElement\n"
        "assert d.tagName == 'XSD' and d.getAttribute('Version') == '5.5'\n"
        "ids = [e.getAttribute('ID') for e in d.getElementsByTagName('*') if e.hasAttribute('ID')]\n"
        "assert len(ids) == len(set(ids)) == 14, ids\n";
    std::string script = dir.File("check.py");
    std::ofstream(script) << check;
    EXPECT_EQ(std::system(("python3 " + script + " " + path).c_str()), 0);
}

TEST(XsdFile, ValuesTheModelRefusesAreRefusedOnReading) {
    xxAtomisticTreeRoot back;
    EXPECT_EQ(LoadXsd("<XSD Version=\"5.5\"><AtomisticTreeRoot ID=\"1\" Children=\"1\"><Atom3d ID=\"2\" "
                      "Occupancy=\"2\"/></AtomisticTreeRoot></XSD>",
                      back),
              E_FAIL);
    EXPECT_EQ(Cfx::GetLastError().description,
              "\nElement 'AtomisticTreeRoot' (ID=1) - \nElement 'Atom3d' (ID=2) - Unable to convert the value '2' for "
              "type Occupancy: Error: not a valid value of the property");
}

}  // namespace
