// QOR polymers (sub-units, repeat units with their linkages, blocks) and legacy surfaces: what
// the reader builds, the writer's layout, and the trip through an XSD document.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "cfx/cfx.h"
#include "datamodel/atomistic.h"
#include "datamodel/legacy_surface.h"
#include "datamodel/polymer.h"
#include "datamodel/sets.h"
#include "documents/binary_serializer.h"
#include "documents/xsd_file.h"
#include "host/streams.h"
#include "formats/qor_trj_xtl_chemxml/qor_reader.h"
#include "formats/qor_trj_xtl_chemxml/qor_writer.h"
#include "frame/messages.h"

namespace {

using namespace cartovane;

const std::string kHeader = "# QOR DRAVIK4 DataModel File Version 4 0\n";
std::string Model(const std::string& body) { return kHeader + "(1 Model\n" + body + ")\n"; }

struct Loaded {
    HRESULT hr = S_OK;
    std::int32_t messageId = 0;
    xxAtomisticTreeRoot root;
};

void Load(const std::string& text, Loaded& out, std::string name = "doc") {
    Cfx::ClearLastError();
    std::istringstream in(text);
    out.hr = xxLoadQOR().LoadObjectFromStreamHR(in, &out.root, std::move(name));
    out.messageId = Cfx::GetLastError().messageId;
}

std::string Save(xxObject& root) {
    std::ostringstream out;
    xxSaveQOR writer;
    EXPECT_TRUE(writer.SaveObjectToStream(out, &root, "")) << writer.GetErrorMessage();
    return out.str();
}

std::string Atom(int number, const char* element = "6 C") {
    return "(" + std::to_string(number) + " Atom\n(A C ACL \"" + element + "\")\n)\n";
}
std::string Linkage(int number, const char* type, int atom) {
    return "(" + std::to_string(number) + " Linkage\n(A C Type \"" + type + "\")\n(A O LinkAtoms (" +
           std::to_string(atom) + "))\n)\n";
}

std::vector<xxMultiScaleRepeatUnit*> Units(const xxTreeRoot& root) { return root.DescendentsOf<xxMultiScaleRepeatUnit>(); }

int IdOf(const xxBondable* atom) { return atom ? atom->GetID() : 0; }

TEST(QorPolymers, SubunitsBecomeRepeatUnits) {
    struct Case {
        const char* what;
        std::string body;
        std::string name;  // the document's name
        const char* unitName;
        int unitId;
        std::size_t unitAtoms;
    } cases[] = {
        {"Monomer with any value", "(2 Subunit\n(A I Monomer 0)\n(A C Label \"EO\")\n(A I Id 4)\n" + Atom(3) + ")\n", "doc",
         "EO", 4, 1},
        {"a linkage Type alone", "(2 Subunit\n" + Atom(3) + "(4 Linkage\n(A C Type \"Tail\")\n)\n)\n", "doc", "doc", 0, 1},
        {"no name: the model's", "(A C Label \"chain\")\n(2 Subunit\n(A I Monomer 1)\n)\n", "doc", "chain", 0, 0},
        {"no model name: the document's", "(2 Subunit\n(A I Monomer 1)\n)\n", "doc", "doc", 0, 0},
        {"no document name", "(2 Subunit\n(A I Monomer 1)\n)\n", "", "xxx", 0, 0},
        {"Monomer after a nested record", "(2 Subunit\n" + Atom(3) + Atom(4) + "(A I Monomer 1)\n)\n", "doc", "doc", 0, 2},
    };
    for (const Case& c : cases) {
        Loaded l;
        Load(Model(c.body), l, c.name);
        ASSERT_EQ(l.hr, S_OK) << c.what << ": " << Cfx::GetLastError().description;
        auto units = Units(l.root);
        ASSERT_EQ(units.size(), 1u) << c.what;
        EXPECT_EQ(units[0]->GetParent(), &l.root) << c.what;
        EXPECT_EQ(units[0]->GetName(), c.unitName) << c.what;
        EXPECT_EQ(units[0]->GetID(), c.unitId) << c.what;
        EXPECT_EQ(units[0]->DescendentsOf<xxAtom3d>().size(), c.unitAtoms) << c.what;
        EXPECT_TRUE(l.root.DescendentsOf<xxMultiScaleSubUnit>().empty()) << c.what << ": the sub-unit is gone";
    }
}

TEST(QorPolymers, HeadsTailsAndBlocks) {
    Loaded l;
    Load(Model("(2 Subunit\n(A C Label \"blk\")\n(A I Id 9)\n"
               "(3 Subunit\n(A I Monomer 1)\n" + Linkage(4, "Head", 10) + Linkage(5, "Tail", 11) +
               Atom(10) + Atom(11) + ")\n"
               // A linkage without LinkAtoms repeats nothing of the one before it.
               "(6 Subunit\n(A I Monomer 1)\n" + Atom(12) + "(7 Linkage\n(A C Type \"Head\")\n)\n)\n"
               ")\n"
               // A link atom that lies in no repeat unit sets nothing.
               "(8 Subunit\n" + Atom(13) + ")\n" + Linkage(14, "Head", 13)),
         l);
    ASSERT_EQ(l.hr, S_OK) << Cfx::GetLastError().description;
    auto blocks = l.root.DescendentsOf<xxMultiScaleBlock>();
    ASSERT_EQ(blocks.size(), 1u);
    EXPECT_EQ(blocks[0]->GetName(), "blk");
    EXPECT_EQ(blocks[0]->GetID(), 9);
    auto units = blocks[0]->ChildrenOf<xxMultiScaleRepeatUnit>();
    ASSERT_EQ(units.size(), 2u);
    EXPECT_EQ(IdOf(units[0]->GetHeadAtom()), 10);
    EXPECT_EQ(IdOf(units[0]->GetTailAtom()), 11);
    EXPECT_EQ(units[1]->GetHeadAtom(), nullptr);
    EXPECT_EQ(units[1]->GetTailAtom(), nullptr);
    // The model's own linkage line makes its content one repeat unit, holding the plain sub-unit
    // too; its head is not set, as the link atom lies in the sub-unit.
    auto all = Units(l.root);
    ASSERT_EQ(all.size(), 3u);
    EXPECT_EQ(l.root.NumChildren(), 1u);
    EXPECT_EQ(all[0]->GetParent(), &l.root);
    EXPECT_EQ(all[0]->GetHeadAtom(), nullptr);
    EXPECT_EQ(all[0]->ChildrenOf<xxMultiScaleSubUnit>().size(), 1u);
}

// A sub-unit filed as holding a repeat unit that becomes a repeat unit itself is not used once
// gone (clean under the sanitizers).
TEST(QorPolymers, ASubunitThatHoldsARepeatUnitAndBecomesOne) {
    Loaded l;
    Load(Model("(2 Subunit\n(3 Subunit\n(A I Monomer 1)\n)\n(A I Monomer 1)\n)\n"), l);
    ASSERT_EQ(l.hr, S_OK);
    auto units = Units(l.root);
    ASSERT_EQ(units.size(), 2u);
    EXPECT_EQ(units[1]->GetParent(), units[0]);
    EXPECT_TRUE(l.root.DescendentsOf<xxMultiScaleBlock>().empty());
}

// ---- atom values few atoms have ---------------------------------------------------------------

xxAtom3d& OnlyAtom(Loaded& l) {
    auto atoms = l.root.DescendentsOf<xxAtom3d>();
    EXPECT_EQ(atoms.size(), 1u);
    return *atoms.at(0);
}

TEST(QorAtoms, Hybridisations) {
    struct Case {
        const char* name;
        int value;
    } cases[] = {{"None", 0},         {"Linear", 1},     {"Trigonal", 2}, {"Tetrahedral", 3}, {"SquarePlanar", 4},
                 {"TrigonalBipyramid", 5}, {"Octahedral", 9}, {"Auto", 13},   {"Planar", 12}};
    for (const Case& c : cases) {
        Loaded l;
        Load(Model(std::string("(2 Atom\n(A C ACL \"6 C\")\n(A C Hybridization \"") + c.name + "\")\n)\n"), l);
        ASSERT_EQ(l.hr, S_OK) << c.name;
        EXPECT_EQ(OnlyAtom(l).GetHybridization(), c.value) << c.name;
        // Written back only for the values that have a name other than the default's.
        const bool written = c.value != 0 && c.value != 12;
        EXPECT_EQ(Save(l.root).find(std::string("(A C Hybridization \"") + c.name + "\")") != std::string::npos, written)
            << c.name;
    }
}

TEST(QorAtoms, ChiralityAnisotropyMixturesAndDummyKinds) {
    Loaded l;
    Load(Model("(2 Atom\n(A C ACL \"6 C\")\n(A I Tacticity 1)\n(A F AnisoTempFactor (1 2 3 \\\n  4 5 6))\n)\n"
               "(3 Atom\n(A C ACL \"6 C\")\n(A I Tacticity 0)\n)\n"
               "(4 Atom\n(A C ACL \"106 T\")\n)\n(5 Atom\n(A C ACL \"107 TT\")\n)\n(6 Atom\n(A C ACL \"109 Cu\")\n)\n"
               "(7 Atom\n(A C ACL \"121 Bq\")\n(A C Label \"aid\")\n)\n(8 Atom\n(A C ACL \"120 Qe\")\n)\n"),
         l);
    ASSERT_EQ(l.hr, S_OK) << Cfx::GetLastError().description;
    auto atoms = l.root.DescendentsOf<xxAtom3d>();
    ASSERT_EQ(atoms.size(), 5u);
    EXPECT_TRUE(atoms[0]->IsChiralCenter());
    EXPECT_FALSE(atoms[1]->IsChiralCenter());
    EXPECT_EQ(atoms[0]->GetAnisotropicTF(), (xxMatrix3x3{{1, 4, 6, 4, 2, 5, 6, 5, 3}}));
    EXPECT_EQ(atoms[1]->GetAnisotropicTF(), xxMatrix3x3{});
    struct Site {
        int major;
        std::vector<xxAtomComponent> components;
    } sites[] = {
        {14, {xxAtomComponent(xxElementFactory::GetElement("Si"), 0.75), xxAtomComponent(xxElementFactory::GetElement("Al"), 0.25)}},
        {13, {xxAtomComponent(xxElementFactory::GetElement("Al"), 0.75), xxAtomComponent(xxElementFactory::GetElement("Si"), 0.25)}},
        {29, {xxAtomComponent(xxElementFactory::GetElement("Cu"), 1.0)}},
    };
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_TRUE(atoms[2 + i]->IsMixture()) << i;
        EXPECT_EQ(atoms[2 + i]->GetElementNumber(), sites[i].major) << i;
        EXPECT_EQ(atoms[2 + i]->GetMixtureProperties(), sites[i].components) << i;
    }
    auto dummies = l.root.DescendentsOf<xxDummy>();
    ASSERT_EQ(dummies.size(), 2u);
    EXPECT_EQ(dummies[0]->GetDummyKind(), "Geometry Aid");
    EXPECT_EQ(dummies[0]->GetName(), "aid");  // the kind is no name
    EXPECT_EQ(dummies[1]->GetDummyKind(), "Point Charge");
    EXPECT_EQ(dummies[1]->GetName(), "");

    // Written as read, the anisotropic factor over two lines, the copper site as 108.
    const std::string text = Save(l.root);
    for (const char* line : {"    (A I Tacticity 1)\n", "    (A F AnisoTempFactor (1 2 3 \\\n  4 5 6))\n",
                             "    (A C ACL \"106 T\")\n", "    (A C ACL \"107 TT\")\n", "    (A C ACL \"108 Cu\")\n"})
        EXPECT_NE(text.find(line), std::string::npos) << line << text;
    EXPECT_EQ(text.find("Tacticity 0"), std::string::npos);
    Loaded back;
    Load(text, back);
    ASSERT_EQ(back.hr, S_OK);
    EXPECT_EQ(Save(back.root), text);
}

TEST(QorAtoms, AFixedAtomIsNotMoveableUntilItsRestrictionGoes) {
    Loaded l;
    Load(Model("(2 Atom\n(A I Moveable 0)\n)\n(3 Atom\n(A I Moveable 1)\n)\n"), l);
    ASSERT_EQ(l.hr, S_OK);
    auto atoms = l.root.DescendentsOf<xxAtom3d>();
    ASSERT_EQ(atoms.size(), 2u);
    EXPECT_FALSE(atoms[0]->IsMoveable());
    EXPECT_TRUE(atoms[1]->IsMoveable());
    l.root.DescendentsOf<xxCompleteRestriction>().at(0)->Delete();
    EXPECT_TRUE(atoms[0]->IsMoveable());
}

// ---- legacy surfaces --------------------------------------------------------------------------

std::string Surface(const std::string& lines) { return Model("  (7 Surface\n" + lines + "  )\n"); }
const std::string kTriangle = "    (A D Vertices ((0 0 0) (1 0 0) (0 1 0)))\n";

const xxLegacySurfaceObject& OnlySurface(const Loaded& l) {
    auto surfaces = l.root.DescendentsOf<xxLegacySurfaceObject>();
    EXPECT_EQ(surfaces.size(), 1u);
    return *surfaces.at(0);
}

TEST(QorSurfaces, ARecordBecomesAMesh) {
    Loaded l;
    Load(Surface("    (A I Id 9)\n    (A C Label \"tri one\")\n    (A D XYZ (1 2 3))\n" + kTriangle +
                 "    (A D Normals ((0 0 1) (0 1 0) (1 0 0)))\n    (A I Triangles (0 1 2))\n"
                 "    (A I ColorList (16711680 65280 255))\n    (A I ColorListType 1)\n    (A I COLOR 3)\n"
                 "    (A F transparency 0.5)\n    (A I SurfaceType 2)\n    (A I Visibility 0)\n"
                 "    (A I Moveable 1)\n    (A I DisplayStyle 2)\n"),
         l);
    ASSERT_EQ(l.hr, S_OK) << Cfx::GetLastError().description;
    const xxLegacySurfaceObject& s = OnlySurface(l);
    EXPECT_EQ(s.GetID(), 9);
    EXPECT_EQ(s.GetName(), "tri");
    EXPECT_EQ(s.GetXYZ(), (xxPoint3d{1, 2, 3}));
    EXPECT_FALSE(s.IsVisible());
    const xxTriangleMesh* mesh = s.GetTriangleMesh();
    ASSERT_NE(mesh, nullptr);
    ASSERT_EQ(mesh->Vertices().size(), 3u);
    EXPECT_EQ(mesh->Vertices()[1].position, (xxPoint3df{1, 0, 0}));
    EXPECT_EQ(mesh->Vertices()[1].normal, (xxPoint3df{0, 1, 0}));
    EXPECT_EQ(mesh->Vertices()[1].color, (xxColor{0, 255, 0, 128}));
    EXPECT_EQ(mesh->Triangles(), (std::vector<xxTriangleIndex>{{0, 1, 2}}));
    EXPECT_EQ(mesh->GetColor(), (xxColor{255, 0, 0, 128}));
    EXPECT_TRUE(mesh->IsPlanar());
    EXPECT_TRUE(mesh->HasMappedColors());
    EXPECT_EQ(mesh->GetOwnerOID(), s.GetOID());
}

TEST(QorSurfaces, OrderAndDefaults) {
    struct Case {
        const char* what;
        std::string lines;
        xxColor color;           // of the surface
        xxPoint3df firstNormal;  // of the first vertex
        bool planar, mapped;
    } cases[] = {
        {"no attributes", "", xxColor::White, {}, false, false},
        {"COLOR 0 leaves it white", "    (A I COLOR 0)\n", xxColor::White, {}, false, false},
        {"COLOR 17 leaves it white", "    (A I COLOR 17)\n", xxColor::White, {}, false, false},
        {"COLOR 16", "    (A I COLOR 16)\n", xxColor{0, 0, 0}, {}, false, false},
        {"transparency before COLOR is overwritten", "    (A F transparency 0.25)\n    (A I COLOR 8)\n",
         xxColor{130, 40, 0}, {}, false, false},
        {"transparency before the vertices", "    (A F transparency 0.25)\n" + kTriangle,
         xxColor{255, 255, 255, 64}, {}, false, false},
        {"a plane normal for every vertex", kTriangle + "    (A D PlaneNormal ((0 0 -1)))\n", xxColor::White,
         {0, 0, -1}, false, false},
        {"other types", "    (A I SurfaceType 1)\n    (A I ColorListType 0)\n", xxColor::White, {}, false, false},
    };
    for (const Case& c : cases) {
        Loaded l;
        Load(Surface(c.lines), l);
        ASSERT_EQ(l.hr, S_OK) << c.what;
        const xxTriangleMesh* mesh = OnlySurface(l).GetTriangleMesh();
        ASSERT_NE(mesh, nullptr) << c.what;
        EXPECT_EQ(mesh->GetColor(), c.color) << c.what;
        if (!mesh->Vertices().empty()) {
            EXPECT_EQ(mesh->Vertices()[0].normal, c.firstNormal) << c.what;
            EXPECT_EQ(mesh->Vertices()[0].color.A(), 255) << c.what << ": vertices come after the alpha";
        }
        EXPECT_EQ(mesh->IsPlanar(), c.planar) << c.what;
        EXPECT_EQ(mesh->HasMappedColors(), c.mapped) << c.what;
    }
}

TEST(QorSurfaces, Failures) {
    struct Case {
        const char* what;
        std::string text;
        std::int32_t id;
    } cases[] = {
        {"a nested record", Surface("    (8 Atom\n    )\n"), msg::QORLOAD_SURFOBJ},
        {"a vertex of two numbers", Surface("    (A D Vertices ((0 0) (1 0 0)))\n"), msg::QORLOAD_SURFVRT},
        {"fewer normals than vertices", Surface(kTriangle + "    (A D Normals ((0 0 1) (0 0 1)))\n"), msg::QORLOAD_SURFNRM},
        {"a bad normal", Surface(kTriangle + "    (A D Normals ((0 0 1) (0 x 1) (0 0 1)))\n"), msg::QORLOAD_SURFNRM2},
        {"an index equal to the count", Surface(kTriangle + "    (A I Triangles (0 1 3))\n"), msg::QORLOAD_SURFTRI},
        {"a negative index", Surface(kTriangle + "    (A I Triangles (0 -1 2))\n"), msg::QORLOAD_SURFTRI},
        {"a partial triple", Surface(kTriangle + "    (A I Triangles (0 1 2 0))\n"), msg::QORLOAD_SURFTRI},
        {"an unreadable index", Surface(kTriangle + "    (A I Triangles (0 1 two))\n"), msg::QORLOAD_SURFTRI},
        {"too few colours", Surface(kTriangle + "    (A I ColorList (1 2))\n"), msg::QORLOAD_SURFTRI3},
        {"a colour that is no integer", Surface(kTriangle + "    (A I ColorList (1 red 3))\n"), msg::QORLOAD_SURFTRI4},
        {"no plane normal", Surface(kTriangle + "    (A D PlaneNormal ())\n"), msg::QORLOAD_SURFPLN},
        {"a short plane normal", Surface(kTriangle + "    (A D PlaneNormal ((0 1)))\n"), msg::QORLOAD_SURFPLN},
        {"the end of the text", kHeader + "(1 Model\n  (7 Surface\n" + kTriangle, msg::QORLOAD_SURFAT},
        // A failed surface inside a sub-unit ends the load with its own identifier.
        {"inside a sub-unit",
         Model("(2 Subunit\n(3 Surface\n(A D Vertices ((0 0) (1 0 0)))\n)\n" + Atom(4) + ")\n"), msg::QORLOAD_SURFVRT},
    };
    for (const Case& c : cases) {
        Loaded l;
        Load(c.text, l);
        EXPECT_EQ(l.hr, E_UNEXPECTED) << c.what;
        EXPECT_EQ(l.messageId, c.id) << c.what;
        for (const auto* s : l.root.DescendentsOf<xxLegacySurfaceObject>())
            EXPECT_EQ(s->GetTriangleMesh(), nullptr) << c.what << ": no mesh";
    }
}

TEST(QorSurfaces, LegacyColorIndices) {
    struct Case {
        const char* text;
        int result;
        xxColor color;
    } cases[] = {
        {"1", 0, {127, 127, 127}}, {"9", 0, {200, 140, 90}}, {"15)", 0, {180, 0, 255}}, {"16", 0, {0, 0, 0}},
        {"0", 1, {1, 2, 3, 4}},    {"17", 1, {1, 2, 3, 4}},  {"red", 1, {1, 2, 3, 4}},  {"-3", 1, {1, 2, 3, 4}},
    };
    for (const Case& c : cases) {
        xxColor color{1, 2, 3, 4};
        EXPECT_EQ(xxLoadQOR::LegacyColorIndex(c.text, color), c.result) << c.text;
        EXPECT_EQ(color, c.color) << c.text;
    }
}

// ---- the writer -------------------------------------------------------------------------------

// A block of two repeat units with their head and tail atoms, a bond between the units.
std::unique_ptr<xxAtomisticTreeRoot> Chain() {
    auto root = std::make_unique<xxAtomisticTreeRoot>();
    root->SetName("chain");
    auto& block = root->CreateChild<xxMultiScaleBlock>();
    block.SetName("blk");
    block.SetID(4);
    xxAtom3d* last = nullptr;
    int id = 2;  // as the reader numbers them, so a read-back writes the same
    for (const char* name : {"A", "B"}) {
        auto& unit = block.CreateChild<xxMultiScaleRepeatUnit>();
        unit.SetName(name);
        auto& head = unit.CreateChild<xxAtom3d>("C");
        auto& tail = unit.CreateChild<xxAtom3d>("C");
        tail.SetXYZ({1.5, 0, 0});
        head.SetID(id++);
        tail.SetID(id++);
        unit.SetHeadAtom(&head);
        unit.SetTailAtom(&tail);
        xxBondable::MakeBond(head, tail);
        if (last) xxBondable::MakeBond(*last, head);
        last = &tail;
    }
    block.ChildrenOf<xxMultiScaleRepeatUnit>()[0]->SetID(1);
    return root;
}

const char kChainGolden[] = R"(# QOR DRAVIK4 DataModel File Version 4 0
(1 Model
  (A C Label "chain")
  (6 Subunit
    (A C Label "blk")
    (A I Id 4)
    (7 Subunit
      (A I Monomer 1)
      (A C Label "A")
      (A I Id 1)
      (8 Linkage
        (A C Type "Head")
        (A O LinkAtoms (2))
      )
      (9 Linkage
        (A C Type "Tail")
        (A O LinkAtoms (3))
      )
      (2 Atom
        (A C ACL "6 C")
        (A I Id 2)
      )
      (3 Atom
        (A C ACL "6 C")
        (A D XYZ (1.5 0 0))
        (A I Id 3)
      )
      (10 Bond
        (A O Atom1 2)
        (A O Atom2 3)
      )
    )
    (11 Subunit
      (A I Monomer 1)
      (A C Label "B")
      (12 Linkage
        (A C Type "Head")
        (A O LinkAtoms (4))
      )
      (13 Linkage
        (A C Type "Tail")
        (A O LinkAtoms (5))
      )
      (4 Atom
        (A C ACL "6 C")
        (A I Id 4)
      )
      (5 Atom
        (A C ACL "6 C")
        (A D XYZ (1.5 0 0))
        (A I Id 5)
      )
      (14 Bond
        (A O Atom1 4)
        (A O Atom2 5)
      )
    )
    (15 Bond
      (A O Atom1 3)
      (A O Atom2 4)
    )
  )
)
)";

TEST(QorPolymers, WriterLayoutAndReadBack) {
    auto chain = Chain();
    const std::string text = Save(*chain);
    EXPECT_EQ(text, kChainGolden);
    Loaded l;
    Load(text, l);
    ASSERT_EQ(l.hr, S_OK) << Cfx::GetLastError().description;
    EXPECT_EQ(Save(l.root), text);
}

TEST(QorPolymers, LinkagesWithoutAtomsOrOfOtherKindsAreNotWritten) {
    xxAtomisticTreeRoot root;
    auto& unit = root.CreateChild<xxMultiScaleRepeatUnit>();
    auto& atom = unit.CreateChild<xxAtom3d>("C");
    unit.SetHeadAtom(&atom);
    unit.SetTailAtom(&atom);
    unit.FindLinkage(xxLinkage::kTail)->SetLinkAtoms({});
    unit.FindLinkage(xxLinkage::kHead)->SetHeadTail(2);
    EXPECT_EQ(Save(root).find("Linkage"), std::string::npos);
    unit.SetTailAtom(nullptr);
    EXPECT_EQ(unit.FindLinkage(xxLinkage::kTail), nullptr);
}

// ---- through an XSD document ------------------------------------------------------------------

std::string Slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The example with a mixed site, an anisotropic factor, a chiral centre and a dummy kind added.
void LoadExample(Loaded& l) {
    std::string text = Slurp(std::string(CARTOVANE_TEST_DATA) + "/../../examples/polymer_chain.qor");
    text.insert(text.rfind(")\n"), "(30 Atom\n(A C ACL \"106 T\")\n(A I Tacticity 1)\n(A I Hybridization \"Linear\")\n"
                                   "(A F AnisoTempFactor (1 2 3 0.5 0.25 0.125))\n)\n(31 Atom\n(A C ACL \"115 XX\")\n)\n");
    Load(text, l);
}

void ThroughXsd(xxAtomisticTreeRoot& root, xxAtomisticTreeRoot& back) {
    std::ostringstream xsd;
    EXPECT_TRUE(xxSaveXSD().SaveObjectToStream(xsd, &root, ""));
    std::istringstream xsdIn(xsd.str());
    EXPECT_EQ(xxLoadXSD().LoadObjectFromStreamHR(xsdIn, &back, ""), S_OK) << Cfx::GetLastError().description;
}

void ThroughBinary(xxAtomisticTreeRoot& root, xxAtomisticTreeRoot& back) {
    CfxComPtr<ISBStream> stream = host::CreateMemoryStream({});
    stream->SetBinaryMode(VARIANT_TRUE);
    {
        CBinaryDMExporter writer(*stream.Get());
        writer.WriteHeaderPlaceholder();
        writer.SaveObject(root, xxSaveKind::WithId);
        writer.WriteTrailer();
    }
    CfxComPtr<ISBStream> in = host::CreateMemoryStream(host::MemoryStreamBytes(stream.Get()));
    in->SetBinaryMode(VARIANT_TRUE);
    CBinaryDMImporter reader(*in.Get());
    reader.ReadHeaderAndTrailer(back);
    reader.ReadContainedObject(back, nullptr, xxSaveKind::WithId);
    reader.CheckEverythingRead();
    reader.NotifyAllObjectsLoaded();
}

TEST(QorPolymers, ThroughBinaryStreamWritesTheSameFile) {
    Loaded first;
    LoadExample(first);
    ASSERT_EQ(first.hr, S_OK) << Cfx::GetLastError().description;
    xxAtomisticTreeRoot back;
    ThroughBinary(first.root, back);
    EXPECT_EQ(Save(back), Save(first.root));
    auto surfaces = back.DescendentsOf<xxLegacySurfaceObject>();
    ASSERT_EQ(surfaces.size(), 1u);
    ASSERT_NE(surfaces[0]->GetTriangleMesh(), nullptr);
    EXPECT_EQ(surfaces[0]->GetTriangleMesh()->Vertices(), OnlySurface(first).GetTriangleMesh()->Vertices());
}

TEST(QorPolymers, ThroughXsdWritesTheSameFile) {
    Loaded first;
    LoadExample(first);
    ASSERT_EQ(first.hr, S_OK) << Cfx::GetLastError().description;
    const std::string qor = Save(first.root);
    EXPECT_NE(qor.find("(A C ACL \"106 T\")"), std::string::npos);
    EXPECT_NE(qor.find("AnisoTempFactor"), std::string::npos);

    xxAtomisticTreeRoot back;
    ThroughXsd(first.root, back);
    EXPECT_EQ(Save(back), qor);
    EXPECT_EQ(back.DescendentsOf<xxDummy>().at(0)->GetDummyKind(), "Geometry Aid");

    // What the QOR writer leaves out comes through the document too.
    auto surfaces = back.DescendentsOf<xxLegacySurfaceObject>();
    ASSERT_EQ(surfaces.size(), 1u);
    const xxLegacySurfaceObject& original = OnlySurface(first);
    ASSERT_NE(surfaces[0]->GetTriangleMesh(), nullptr);
    EXPECT_EQ(surfaces[0]->GetXYZ(), original.GetXYZ());
    EXPECT_EQ(surfaces[0]->GetTriangleMesh()->Vertices(), original.GetTriangleMesh()->Vertices());
    EXPECT_EQ(surfaces[0]->GetTriangleMesh()->Triangles(), original.GetTriangleMesh()->Triangles());
    EXPECT_EQ(surfaces[0]->GetTriangleMesh()->GetColor(), original.GetTriangleMesh()->GetColor());
    EXPECT_TRUE(surfaces[0]->GetTriangleMesh()->IsPlanar());
    EXPECT_EQ(surfaces[0]->GetTriangleMesh()->GetOwnerOID(), surfaces[0]->GetOID());
    auto groups = back.DescendentsOf<xxChargeGroup>();
    ASSERT_EQ(groups.size(), 1u);
    EXPECT_EQ(groups[0]->GetMembers().size(), 2u);
}

}  // namespace
