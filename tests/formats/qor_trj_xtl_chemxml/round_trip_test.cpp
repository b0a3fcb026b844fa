// Crystals and molecules carried from one format to another through the components, as the tool
// converts them: XTL into XSD and CAR, a CAR/MDF model into ChemistryXML, and back into a
// document each time.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "datamodel/atomistic.h"
#include "datamodel/symmetry/system.h"
#include "host/documents.h"
#include "host/streams.h"
#include "support/library_components.h"
#include "support/temp_dir.h"

namespace {

using cvtest::TempDir;

class Carried : public ::testing::Test {
protected:
    void SetUp() override {
        cvtest::RegisterLibraryComponents();
        root = host::ContainerRoot::Create();
    }

    // A fresh document of the file, read by the component.
    CfxComPtr<host::Model3dDocument> Read(const char* progId, const std::string& path) {
        CfxComPtr<host::Model3dDocument> document = host::Model3dDocument::Create(kAtomistic3dDocumentProgID);
        document->SetContainerRoot(root.Get());
        document->SetURL(path);
        CfxComPtr<ISBStream> stream;
        EXPECT_EQ(host::CreateFileStream(path, host::FileMode::Read, stream.Out()), S_OK);
        const HRESULT hr = cvtest::CreateConnected<ISBImporter>(progId, *root.Get())
                               ->Import(stream.Get(), static_cast<ISBDocumentRoot*>(document.Get()), CfxVariant().Get());
        EXPECT_EQ(hr, S_OK) << path << ": " << Cfx::GetLastError().description;
        return document;
    }

    // The document written by the component, committed as the tool commits it; the file's bytes.
    std::string Write(const char* progId, host::Model3dDocument& document, const std::string& path) {
        CfxComPtr<ISBStream> stream;
        EXPECT_EQ(host::CreateFileStream(path, host::FileMode::Write, stream.Out()), S_OK);
        const HRESULT hr = cvtest::CreateConnected<ISBExporter>(progId, *root.Get())
                               ->Export(stream.Get(), static_cast<ISBDocumentRoot*>(&document), CfxVariant().Get());
        EXPECT_EQ(hr, S_OK) << path << ": " << Cfx::GetLastError().description;
        EXPECT_EQ(host::CommitFileStream(stream.Get()), S_OK);
        return TempDir::Slurp(path);
    }

    TempDir dir;
    CfxComPtr<host::ContainerRoot> root;
};

constexpr char kXtl[] = "SDCartovane.XTLImportExport";
constexpr char kXsd[] = "SDCartovane.XSDImportExport";
constexpr char kCar[] = "SDCartovane.CARImportExport";
constexpr char kChemXml[] = "SDCartovane.ChemistryXMLImportExport";

// Silicon on origin choice 2 (16 atoms with a site off the centre of symmetry) and rutile.
const char* const kCrystals[] = {
    "TITLE silicon\nDIMENSION 3\nCELL\n 5.431 5.431 5.431 90 90 90\nSYMMETRY LABEL Fd-3m QUALIFIER ORIGIN_2\n"
    "ATOMS\nNAME X Y Z\nSi 0 0 0\nEOF\n",
    "TITLE rutile\nCELL 4.594 4.594 2.959 90 90 90\nSYMMETRY LABEL P42/mnm\nATOMS\nNAME X Y Z\n"
    "Ti1 0 0 0\nO1 0.305 0.305 0\nEOF\n",
};

const xxMatterSymmetrySystem& System(host::Model3dDocument& document) {
    const xxMatterSymmetrySystem* system = xxMatterSymmetrySystem::FirstOf(document.Tree());
    if (!system) throw std::runtime_error("the document holds no symmetry system");
    return *system;
}

struct Crystal {
    std::string group, qualifier;
    std::vector<double> cell;
    struct Atom {
        int element;
        xxPoint3d xyz;
        int parent;  // index of the symmetry parent; its own for a parent
    };
    std::vector<Atom> atoms;
};

Crystal CrystalOf(host::Model3dDocument& document) {
    const xxMatterSymmetrySystem& system = System(document);
    const xxSymmetryDefinition& d = system.GetSymmetryDefinition();
    Crystal c{d.GetGroupName(), d.GetQualifier(), {d.GetA(), d.GetB(), d.GetC(), d.GetAlpha(), d.GetBeta(), d.GetGamma()}, {}};
    const std::vector<xxAtom3d*> atoms = system.DescendentsOf<xxAtom3d>();
    std::map<const xxObject*, int> index;
    for (const xxAtom3d* atom : atoms) index.emplace(atom, static_cast<int>(index.size()));
    for (const xxAtom3d* atom : atoms)
        c.atoms.push_back({atom->GetElementNumber(), atom->GetXYZ(), index.at(system.GetSymmetryParent(*atom))});
    return c;
}

void ExpectSameCrystal(const Crystal& got, const Crystal& want, double precision) {
    EXPECT_EQ(got.group, want.group);
    EXPECT_EQ(got.qualifier, want.qualifier);
    ASSERT_EQ(got.cell.size(), want.cell.size());
    for (std::size_t i = 0; i < got.cell.size(); ++i) EXPECT_NEAR(got.cell[i], want.cell[i], 1e-9) << i;
    ASSERT_EQ(got.atoms.size(), want.atoms.size());
    for (std::size_t i = 0; i < got.atoms.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(got.atoms[i].element, want.atoms[i].element);
        EXPECT_EQ(got.atoms[i].parent, want.atoms[i].parent);
        EXPECT_NEAR(got.atoms[i].xyz.x, want.atoms[i].xyz.x, precision);
        EXPECT_NEAR(got.atoms[i].xyz.y, want.atoms[i].xyz.y, precision);
        EXPECT_NEAR(got.atoms[i].xyz.z, want.atoms[i].xyz.z, precision);
    }
}

TEST_F(Carried, AnXtlCrystalSurvivesXsdWhole) {
    for (const char* text : kCrystals) {
        SCOPED_TRACE(text);
        CfxComPtr<host::Model3dDocument> crystal = Read(kXtl, dir.Put("crystal.xtl", text));
        const Crystal original = CrystalOf(*crystal.Get());
        ASSERT_GT(original.atoms.size(), 2u);
        const std::string first = Write(kXsd, *crystal.Get(), dir.File("crystal.xsd"));
        CfxComPtr<host::Model3dDocument> read = Read(kXsd, dir.File("crystal.xsd"));
        ExpectSameCrystal(CrystalOf(*read.Get()), original, 0);
        EXPECT_EQ(System(*read.Get()).GetNumSymmetryImages(), System(*crystal.Get()).GetNumSymmetryImages());
        EXPECT_EQ(Write(kXsd, *read.Get(), dir.File("again.xsd")), first);
    }
}

TEST_F(Carried, AnXtlCrystalSurvivesCarToItsPrecision) {
    for (const char* text : kCrystals) {
        SCOPED_TRACE(text);
        CfxComPtr<host::Model3dDocument> crystal = Read(kXtl, dir.Put("crystal.xtl", text));
        const Crystal original = CrystalOf(*crystal.Get());
        Write(kCar, *crystal.Get(), dir.File("crystal.car"));
        CfxComPtr<host::Model3dDocument> read = Read(kCar, dir.File("crystal.car"));
        // The CAR file holds the rows (the symmetry parents) and the group: what comes back is
        // the same cell and group, and the same rows to the file's nine decimals.
        Crystal rows = original;
        rows.atoms.clear();
        for (std::size_t i = 0; i < original.atoms.size(); ++i)
            if (const Crystal::Atom& atom = original.atoms[i]; atom.parent == static_cast<int>(i))
                rows.atoms.push_back({atom.element, atom.xyz, static_cast<int>(rows.atoms.size())});
        ASSERT_LT(rows.atoms.size(), original.atoms.size());
        ExpectSameCrystal(CrystalOf(*read.Get()), rows, 1e-8);
    }
}

// What ChemistryXML carries of a model, in tree order: its atoms with element, exact position
// and formal charge, then every bond with the indices of its ends and its type, and every pi
// system with its members.
std::string Carries(const xxTreeRoot& tree) {
    std::map<const xxObject*, std::size_t> index;
    std::string out;
    for (const xxAtom3d* atom : tree.DescendentsOf<xxAtom3d>()) {
        index.emplace(atom, index.size());
        const xxPoint3d p = atom->GetXYZ();
        char position[96];
        std::snprintf(position, sizeof position, "%a %a %a", p.x, p.y, p.z);
        out += "Z" + std::to_string(atom->GetElementNumber()) + " " + position + " q" +
               std::to_string(atom->GetFormalCharge().numerator) + "/" +
               std::to_string(atom->GetFormalCharge().denominator) + "\n";
    }
    const std::vector<xxPiSystem*> piSystems = tree.DescendentsOf<xxPiSystem>();
    for (const xxPiSystem* pi : piSystems) index.emplace(pi, index.size());
    auto name = [&](const xxBondable* o) { return index.count(o) ? std::to_string(index.at(o)) : std::string("?"); };
    for (const xxBond* bond : tree.DescendentsOf<xxBond>())
        out += "bond " + name(bond->GetAtoms()[0]) + "-" + name(bond->GetAtoms()[1]) + " type" +
               std::to_string(static_cast<int>(bond->GetBondType())) + "\n";
    // The format names a pi system's members through the bonds among them: a member bonded to
    // no other member is not carried.
    for (const xxPiSystem* pi : piSystems) {
        out += "pi " + name(pi);
        const std::vector<xxBondable*> members = pi->GetPiSystemAtoms();
        for (const xxBondable* member : members)
            if (std::any_of(members.begin(), members.end(), [&](const xxBondable* other) { return member->IsBondedTo(*other); }))
                out += " " + name(member);
        out += "\n";
    }
    return out;
}

// The molecules of a model as lists of the indices of their atoms.
std::vector<std::vector<std::size_t>> Molecules(const xxTreeRoot& tree) {
    std::map<const xxObject*, std::size_t> index;
    for (const xxAtom3d* atom : tree.DescendentsOf<xxAtom3d>()) index.emplace(atom, index.size());
    std::vector<std::vector<std::size_t>> out;
    for (const xxMolecule* molecule : tree.DescendentsOf<xxMolecule>()) {
        out.emplace_back();
        for (const xxAtom3d* atom : molecule->DescendentsOf<xxAtom3d>()) out.back().push_back(index.at(atom));
    }
    return out;
}

TEST_F(Carried, ACarModelKeepsWhatChemistryXmlCarries) {
    CfxComPtr<host::Model3dDocument> model =
        Read(kCar, std::string(CARTOVANE_TEST_DATA) + "/carmdf/ethanol_water.car");
    xxTreeRoot& tree = model->Tree();
    // Everything the format carries beyond what the pair holds: a bond of every type, a pi
    // system over bonded members and a pi bond to it, all inside the first molecule.
    xxMolecule& molecule = *tree.DescendentsOf<xxMolecule>().at(0);
    std::vector<xxAtom3d*> ring;
    for (int i = 0; i < 8; ++i) {
        ring.push_back(&molecule.CreateChild<xxAtom3d>("C"));
        ring.back()->SetXYZ({std::cos(i * 1.0471975511965976) * 1.39 + 0.1, std::sin(i) * 1.39, 5.0 / 3});
    }
    for (int i = 0; i < 7; ++i) xxBondable::MakeBond(*ring[i], *ring[i + 1], static_cast<xxBondType>(i + 1));
    auto& pi = molecule.CreateChild<xxPiSystem>();
    const std::vector<xxBondable*> members(ring.begin(), ring.begin() + 4);
    pi.SetPiSystemAtoms(members);
    auto& iron = molecule.CreateChild<xxAtom3d>("Fe");
    iron.SetFormalCharge(2, 1);
    xxBondable::MakeBond(iron, pi);

    const std::string first = Write(kChemXml, *model.Get(), dir.File("model.chemxml"));
    ASSERT_NE(first.find("<molecule"), std::string::npos);
    CfxComPtr<host::Model3dDocument> read = Read(kChemXml, dir.File("model.chemxml"));
    EXPECT_EQ(Carries(read->Tree()), Carries(tree));
    EXPECT_EQ(Molecules(read->Tree()), Molecules(tree));
    // Written by this library, read and written again: the same bytes.
    EXPECT_EQ(Write(kChemXml, *read.Get(), dir.File("again.chemxml")), first);
}

}  // namespace
