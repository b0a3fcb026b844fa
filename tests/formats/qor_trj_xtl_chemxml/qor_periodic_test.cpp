// Periodic QOR models: the cell and group a file names, its symmetry and translation images,
// the display it asks for, and the exact text the writer gives for such models.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <sstream>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "cfx/cfx.h"
#include "datamodel/atomistic.h"
#include "datamodel/symmetry/builder.h"
#include "formats/qor_trj_xtl_chemxml/qor_reader.h"
#include "formats/qor_trj_xtl_chemxml/qor_writer.h"
#include "frame/messages.h"
#include "tests/formats/qor_trj_xtl_chemxml/qor_test_support.h"

namespace {

using namespace cartovane;

using qortest::kHeader;

struct Loaded : qortest::Loaded {
    xxMatterSymmetrySystem* System() const { return xxMatterSymmetrySystem::FirstOf(root); }
};
void Load(const std::string& text, Loaded& out) { qortest::Load(text, out); }

std::string Save(xxObject& root) {
    std::ostringstream out;
    xxSaveQOR writer;
    EXPECT_TRUE(writer.SaveObjectToStream(out, &root, "qor")) << writer.GetErrorMessage();
    return out.str();
}

std::vector<xxAtom3d*> Atoms(const xxTreeNode& root) { return root.DescendentsOf<xxAtom3d>(); }

// A model with the given model lines and the given content records.
std::string Model(const std::string& lattice, const std::string& content = "") {
    return kHeader + "(1 Model\n" + lattice + content + ")\n";
}

const std::string kP1 = "  (A I PeriodicType 100)\n  (A D A3 (10 0 0))\n  (A D B3 (0 10 0))\n  (A D C3 (0 0 10))\n";
const std::string kCarbon = "  (2 Atom\n    (A C ACL \"6 C\")\n    (A D XYZ (1 1 1))\n  )\n";

// The space group P-1 with one symmetry child, bonded to its parent.
const std::string kInversion = R"((A I CRY/DISPLAY (192 256))
  (A I PeriodicType 100)
  (A C SpaceGroup "2 1")
  (A D A3 (5 0 0))
  (A D B3 (0 6 0))
  (A D C3 (0 0 7))
  (A D CRY/TOLERANCE 0.05)
  (2 Atom
    (A C ACL "6 C")
    (A D XYZ (1 1 1))
    (A O SymChildren ( 3))
  )
  (3 Atom
    (A C SymType "Symmetry")
    (A I Id 0)
  )
  (4 Bond
    (A O Atom1 2)
    (A O Atom2 3)
  )
)";

// The same model with the inversion given as a general-position operator.
const std::string kGeneralPositions = R"((A I PeriodicType 100)
  (A O GP 5)
  (A C SymmetryMode "GeneralPositions")
  (5 Symmetry
    (A I ITNumber 0)
    (A I OptionID 0)
    (A C CenteringType "Primitive")
    (A C LatticeType "Triclinic")
    (6 SymOp
      (A D Matrix (-1 0 0 0 -1 0 0 0 -1))
    )
  )
  (A D A3 (5 0 0))
  (A D B3 (0 6 0))
  (A D C3 (0 0 7))
  (2 Atom
    (A C ACL "6 C")
    (A D XYZ (1 1 1))
    (A O SymChildren ( 3))
  )
  (3 Atom
    (A C SymType "Symmetry")
  )
  (4 Bond
    (A O Atom1 2)
    (A O Atom2 3)
  )
)";

TEST(QorPeriodic, SymmetryImagesFromAnITNumberOrOperators) {
    for (const std::string* body : {&kInversion, &kGeneralPositions}) {
        Loaded l;
        Load(kHeader + "(1 Model\n  " + (body == &kInversion ? *body : "  " + *body) + ")\n", l);
        ASSERT_EQ(l.hr, S_OK) << l.messageId << " " << l.warnings << *body;
        xxMatterSymmetrySystem* system = l.System();
        ASSERT_NE(system, nullptr);
        const xxSymmetryDefinition& d = system->GetSymmetryDefinition();
        EXPECT_EQ(d.GetDimension(), 3);
        EXPECT_EQ(d.GetNumOperators(), 2);
        EXPECT_EQ(d.GetITNumber(), 2);
        EXPECT_EQ(d.GetCVector().z, 7);
        EXPECT_DOUBLE_EQ(system->GetToleranceRadius(), 0.05);  // the default reaches the build
        const auto atoms = system->DescendentsOf<xxAtom3d>();
        ASSERT_EQ(atoms.size(), 2u);
        EXPECT_TRUE(system->IsSymmetryImage(*atoms[1]));
        EXPECT_EQ(system->GetSymmetryParent(*atoms[1]), atoms[0]);
        EXPECT_EQ(atoms[1]->GetXYZ().x, -1);
        EXPECT_EQ(atoms[1]->GetID(), 2);  // an image made on demand carries its parent's
        EXPECT_NE(atoms[0]->FindBond(*atoms[1]), nullptr);  // the bond to the image
    }
}

TEST(QorPeriodic, Lattices) {
    struct Case {
        const char* what;
        std::string text;
        HRESULT hr;
        std::int32_t messageId;
        int dimension;  // -1: no system
        int operators;
    } cases[] = {
        {"P1 when no group is named", Model(kP1, kCarbon), S_OK, 0, 3, 1},
        {"an IT number and option", Model(kP1 + "  (A C SpaceGroup \"14 1\")\n", kCarbon), S_OK, 0, 3, 4},
        {"an IT number no setting has", Model(kP1 + "  (A C SpaceGroup \"999 1\")\n", kCarbon), E_UNEXPECTED,
         msg::QORLOAD_BAD3D, -1, 0},
        {"an option the group lacks", Model(kP1 + "  (A C SpaceGroup \"2 9\")\n", kCarbon), E_UNEXPECTED,
         msg::QORLOAD_BAD3D, -1, 0},
        {"a cell the group does not fit", Model(kP1 + "  (A C SpaceGroup \"221 1\")\n  (A D B3 (0 3 0))\n", kCarbon),
         E_UNEXPECTED, msg::QORLOAD_BAD3D, 3, 1},
        {"a degenerate cell", Model(kP1 + "  (A D C3 (0 0 0))\n", kCarbon), E_UNEXPECTED, msg::QORLOAD_BAD3D, -1, 0},
        {"a range beyond the display's limit", Model(kP1 + "  (A I ARange3 (0 100))\n", kCarbon), E_UNEXPECTED,
         msg::QORLOAD_BAD3D, -1, 0},
        {"a negative tolerance", Model(kP1 + "  (A D CRY/TOLERANCE -1)\n", kCarbon), E_UNEXPECTED, msg::QORLOAD_BAD3D, 3,
         1},
        {"general positions without a Symmetry record",
         Model(kP1 + "  (A C SymmetryMode \"GeneralPositions\")\n", kCarbon), S_OK, 0, 3, 1},
        {"body centring", Model(kP1 + "  (A C SymmetryMode \"GeneralPositions\")\n  (5 Symmetry\n    (A C CenteringType \"BodyCentered\")\n  )\n", kCarbon),
         S_OK, 0, 3, 2},
        {"an unknown centring adds nothing",
         Model(kP1 + "  (A C SymmetryMode \"GeneralPositions\")\n  (5 Symmetry\n    (A C CenteringType \"Odd\")\n  )\n", kCarbon),
         S_OK, 0, 3, 1},
        {"operators that form no group",
         Model(kP1 + "  (A C SymmetryMode \"GeneralPositions\")\n  (5 Symmetry\n    (6 SymOp\n      (A D Translation (0.3 0 0))\n    )\n  )\n",
               kCarbon),
         E_UNEXPECTED, msg::QORLOAD_BAD3D, -1, 0},
        {"a plane cell on p1", Model("  (A I PeriodicType 101)\n  (A D A2 (4 0 0))\n  (A D B2 (0 5 0))\n  (A C SpaceGroup \"14 1\")\n", kCarbon),
         S_OK, 0, 2, 1},
        {"a plane range beyond the limit", Model("  (A I PeriodicType 101)\n  (A I BRange2 (0 99))\n", kCarbon), E_UNEXPECTED,
         msg::QORLOAD_BAD2D, -1, 0},
        {"one-dimensional models build no system", Model("  (A I PeriodicType 102)\n", kCarbon), S_OK, 0, -1, 0},
    };
    for (const Case& c : cases) {
        Loaded l;
        Load(c.text, l);
        EXPECT_EQ(l.hr, c.hr) << c.what;
        EXPECT_EQ(l.messageId, c.messageId) << c.what;
        xxMatterSymmetrySystem* system = l.System();
        if (c.dimension < 0) {
            EXPECT_EQ(system, nullptr) << c.what;
            continue;
        }
        ASSERT_NE(system, nullptr) << c.what;
        if (c.hr != S_OK) continue;
        EXPECT_EQ(system->GetPeriodicDimension(), c.dimension) << c.what;
        EXPECT_EQ(system->GetSymmetryDefinition().GetNumOperators(), c.operators) << c.what;
        EXPECT_EQ(system->DescendentsOf<xxAtom3d>().size(), 1u) << c.what;
    }
}

TEST(QorPeriodic, ModelValues) {
    Loaded l;
    Load(Model("  (A C Label \"slab\")\n  (A I Id 7 )\n  (A I CRY/DISPLAY (64 512))\n" + kP1 +
                   "  (A I ARange3 (0 3))\n  (A I CRange3 (0 2))\n  (A D CRY/TOLERANCE 0.2)\n",
               kCarbon),
         l);
    ASSERT_EQ(l.hr, S_OK);
    xxMatterSymmetrySystem* system = l.System();
    ASSERT_NE(system, nullptr);
    EXPECT_EQ(system->GetName(), "slab");
    EXPECT_EQ(system->GetID(), 7);
    EXPECT_EQ(system->GetPeriodicDisplayType(), 1);
    EXPECT_DOUBLE_EQ(system->GetToleranceRadius(), 0.2);
    const xxSymmetryDefinition& d = system->GetSymmetryDefinition();
    EXPECT_EQ(d.GetRangeMaxA(), 3);
    EXPECT_EQ(d.GetRangeMaxB(), 1);
    EXPECT_EQ(d.GetRangeMaxC(), 2);
    for (auto [display, type] : {std::pair{"(32 512)", 2}, std::pair{"(192 256)", 0}, std::pair{"(1 2)", 0}}) {
        Loaded other;
        Load(Model("  (A I CRY/DISPLAY " + std::string(display) + ")\n" + kP1, kCarbon), other);
        ASSERT_NE(other.System(), nullptr);
        EXPECT_EQ(other.System()->GetPeriodicDisplayType(), type) << display;
    }
}

TEST(QorPeriodic, PlaneGeneralPositionsReadAsNotPeriodic) {
    Loaded l;
    Load(Model("  (A I PeriodicType 101)\n  (A C SymmetryMode \"GeneralPositions\")\n", kCarbon), l);
    ASSERT_EQ(l.hr, S_OK);
    EXPECT_EQ(l.System(), nullptr);
    EXPECT_EQ(Atoms(l.root).size(), 1u);
    EXPECT_NE(l.warnings.find("At present the program cannot handle\nGeneral Positions symmetry descriptions\nfor 2D "
                              "space groups."),
              std::string::npos);
}

TEST(QorPeriodic, SymmetryChildrenThatNameNoOperatorAreSkipped) {
    Loaded l;
    Load(Model("  (A I PeriodicType 100)\n  (A C SpaceGroup \"2 1\")\n",
               "  (2 Atom\n    (A D XYZ (1 2 3))\n    (A O SymChildren ( 3 4))\n  )\n"
               "  (3 Atom\n    (A C SymType \"Symmetry\")\n  )\n  (4 Atom\n    (A C SymType \"Symmetry\")\n  )\n"
               "  (5 Bond\n    (A O Atom1 2)\n    (A O Atom2 4)\n  )\n"),
         l);
    ASSERT_EQ(l.hr, S_OK);
    EXPECT_EQ(Atoms(l.root).size(), 2u);
    EXPECT_TRUE(l.root.DescendentsOf<xxBond>().empty());
    EXPECT_NE(l.warnings.find("symmetry child"), std::string::npos);
}

TEST(QorPeriodic, TranslationImages) {
    const std::string parent = "  (2 Atom\n    (A D XYZ (1 1 1))\n  )\n";
    auto image = [](int number, int perParent, const char* trans) {
        return "  (" + std::to_string(number) + " Atom\n    (A C SymType \"Periodic\")\n    (A O PerParent " +
               std::to_string(perParent) + ")\n    (A I PerTrans (" + trans + "))\n  )\n";
    };
    const std::string bond = "  (9 Bond\n    (A O Atom1 2)\n    (A O Atom2 4)\n  )\n";
    struct Case {
        const char* what;
        std::string content;
        HRESULT hr;
        std::size_t atoms;
        double x;  // of record 4's atom, when it was made
    } cases[] = {
        {"one image", parent + image(4, 2, "1 0 0") + bond, S_OK, 2, 11},
        {"a chain listed before its parent", parent + image(4, 3, "1 0 0") + image(3, 2, "0 0 1") + bond, S_OK, 3, 11},
        {"a parent that names no record", parent + image(4, 8, "1 0 0") + bond, E_UNEXPECTED, 1, 0},
        {"a cycle", parent + image(4, 3, "1 0 0") + image(3, 4, "1 0 0") + bond, E_UNEXPECTED, 1, 0},
        {"a translation beyond reach", parent + image(4, 2, "2000000000 0 0") + bond, E_UNEXPECTED, 1, 0},
    };
    for (const Case& c : cases) {
        Loaded l;
        Load(Model(kP1, c.content), l);
        EXPECT_EQ(l.hr, c.hr) << c.what;
        const auto atoms = Atoms(l.root);
        EXPECT_EQ(atoms.size(), c.atoms) << c.what;
        if (c.hr != S_OK) {
            EXPECT_EQ(l.messageId, msg::QORLOAD_REPTRNAT) << c.what;
            EXPECT_TRUE(l.root.DescendentsOf<xxBond>().empty()) << c.what << ": the steps after it are not run";
            continue;
        }
        ASSERT_EQ(l.root.DescendentsOf<xxBond>().size(), 1u) << c.what;
        const auto ends = l.root.DescendentsOf<xxBond>()[0]->GetAtoms();
        EXPECT_EQ(ends[1]->GetXYZ().x, c.x) << c.what;
        EXPECT_TRUE(l.System()->IsSymmetryImage(*ends[1])) << c.what;
    }
}

// The translation element of the system's group.
const xxSymmetryElement& Shift(const xxSymmetrySystem& system, int a, int b, int c) {
    const xxSymmetryDefinition& d = system.GetSymmetryDefinition();
    return *d.FindSymmetryElement(d.GetIdentityElement().GetOperatorNumber(), {{a, b, c}});
}

TEST(QorPeriodic, DisplayOfTheCellsAtomsAskFor) {
    const std::string lattice = kP1 + "  (A I BRange3 (0 2))\n";
    const std::string withImage = "  (3 Atom\n    (A C SymType \"Periodic\")\n    (A O PerParent 2)\n    (A I PerTrans (0 1 0))\n  )\n";
    {
        // Without cell data: the display ranges, images included.
        Loaded l;
        Load(Model(lattice, kCarbon + withImage), l);
        ASSERT_EQ(l.hr, S_OK);
        xxMatterSymmetrySystem& s = *l.System();
        xxAtom3d& carbon = *Atoms(l.root)[0];
        EXPECT_TRUE(s.GetSymmetryDisplay().IsShown(carbon, Shift(s, 0, 1, 0)));
        EXPECT_EQ(s.GetSymmetryDisplay().GetNumImages(), 2u);
    }
    {
        // faceFlags (1 0 0): cells 0..1 along a, 0..1 along b (range 2), 0 along c; the image
        // the file holds is hidden first and shown again as one of those cells.
        Loaded l;
        Load(Model(lattice, "  (2 Atom\n    (A D XYZ (1 1 1))\n    (A I faceFlags (1 0 0))\n  )\n" + withImage), l);
        ASSERT_EQ(l.hr, S_OK);
        xxMatterSymmetrySystem& s = *l.System();
        xxAtom3d& carbon = *Atoms(l.root)[0];
        const xxSymmetryDisplay& display = s.GetSymmetryDisplay();
        EXPECT_EQ(display.GetNumImages(), 4u);
        for (auto [a, b, shown] : {std::tuple{0, 0, true}, {1, 0, true}, {0, 1, true}, {1, 1, true}, {2, 0, false}})
            EXPECT_EQ(display.IsShown(carbon, Shift(s, a, b, 0)), shown) << a << " " << b;
    }
    {
        // Cell0Offset (0 5 0): the b cells 5..6 beside the atom itself; the image in cell 1 stays
        // hidden.
        Loaded l;
        Load(Model(lattice, "  (2 Atom\n    (A D XYZ (1 1 1))\n    (A I Cell0Offset (0 5 0))\n  )\n" + withImage), l);
        ASSERT_EQ(l.hr, S_OK);
        xxMatterSymmetrySystem& s = *l.System();
        xxAtom3d& carbon = *Atoms(l.root)[0];
        const xxSymmetryDisplay& display = s.GetSymmetryDisplay();
        EXPECT_FALSE(display.IsShown(carbon, Shift(s, 0, 1, 0)));
        EXPECT_TRUE(display.IsShown(carbon, Shift(s, 0, 5, 0)));
        EXPECT_TRUE(display.IsShown(carbon, Shift(s, 0, 6, 0)));
        EXPECT_TRUE(display.IsShown(carbon, Shift(s, 0, 0, 0)));
        EXPECT_EQ(display.GetNumImages(), 3u);
    }
    {
        // Huge face flags are clipped to the display's own limit, at once.
        const auto start = std::chrono::steady_clock::now();
        Loaded l;
        Load(Model(kP1, "  (2 Atom\n    (A D XYZ (1 1 1))\n    (A I faceFlags (1000000000 2000000000 -5))\n  )\n"), l);
        ASSERT_EQ(l.hr, S_OK);
        EXPECT_LE(l.System()->GetSymmetryDisplay().GetNumImages(),
                  static_cast<std::size_t>(xxSymmetryDefinition::kMaxDisplaySpan * xxSymmetryDefinition::kMaxDisplaySpan));
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
    }
}

// ---- the writer -----------------------------------------------------------------------------

const char* const kInversionGolden = R"(# QOR DRAVIK4 DataModel File Version 4 0
(1 Model
  (A I CRY/DISPLAY (192 256))
  (A I PeriodicType 100)
  (A C SpaceGroup "2 1")
  (A D A3 (5 0 0))
  (A D B3 (0 6 0))
  (A D C3 (0 0 7))
  (A D CRY/TOLERANCE 0.05)
  (2 Atom
    (A C ACL "6 C")
    (A D XYZ (1 1 1))
    (A I Id 2)
    (A O SymChildren ( 3))
  )
  (3 Atom
    (A C SymType "Symmetry")
    (A I Id 2)
  )
  (4 Bond
    (A O Atom1 2)
    (A O Atom2 3)
  )
)
)";

TEST(QorPeriodic, WritesWhatItReadsTheSame) {
    Loaded l;
    Load(kHeader + "(1 Model\n  " + kInversion + ")\n", l);
    ASSERT_EQ(l.hr, S_OK);
    const std::string first = Save(l.root);
    EXPECT_EQ(first, kInversionGolden);
    Loaded back;
    Load(first, back);
    ASSERT_EQ(back.hr, S_OK);
    EXPECT_EQ(Save(back.root), first);
}

// Built in code: a cell with a bond across its face, general positions with centring, a plane.
struct Built {
    xxAtomisticTreeRoot root;
    xxMultiScaleSymmetrySystem* system = nullptr;
};

// Two carbons in P1 with ranges (0 2) along a.
void Place(Built& b) {
    b.system = &b.root.CreateChild<xxMultiScaleSymmetrySystem>();
    auto definition =
        xxSymmetryCreator::CreateSymmetryDefinition(xxSpaceGroupFactory::Instantiate().GetSpaceGroupByName("P1"), *b.system);
    definition->SetDisplayRanges(0, 2, 0, 1, 0, 1);
    auto& c1 = b.system->CreateChild<xxAtom3d>("C");
    c1.SetXYZ({0.5, 1, 1});
    c1.SetID(2);
    auto& c2 = b.system->CreateChild<xxAtom3d>("C");
    c2.SetXYZ({9.25, 1, 1});
    c2.SetID(3);
    xxSymmetryChanger::Build(*b.system, std::move(definition), true, 0.1, false);
    // c2's translate one cell back lies next to c1.
    xxObject* near = b.system->FindSymmetryImage(c2, {{-1, 0, 0}});
    xxBondable::MakeBond(c1, *near->As<xxAtom3d>());
}

const char* const kAcrossTheFaceGolden = R"(# QOR DRAVIK4 DataModel File Version 4 0
(1 Model
  (A I CRY/DISPLAY (192 256))
  (A I PeriodicType 100)
  (A C SpaceGroup "1 1")
  (A D A3 (10 0 0))
  (A D B3 (0 10 0))
  (A D C3 (0 0 10))
  (A I ARange3 (0 2))
  (A D CRY/TOLERANCE 0.1)
  (2 Atom
    (A C ACL "6 C")
    (A D XYZ (0.5 1 1))
    (A I Id 2)
  )
  (3 Atom
    (A C ACL "6 C")
    (A D XYZ (9.25 1 1))
    (A I Id 3)
  )
  (4 Bond
    (A O Atom1 2)
    (A O Atom2 5)
  )
  (6 Bond
    (A O Atom1 7)
    (A O Atom2 3)
    (A C SymType "Periodic")
    (A I PerTrans (-1 0 0))
    (A O PerParent 4)
  )
  (5 Atom
    (A O PerParent 3)
    (A I PerTrans (-1 0 0))
    (A C SymType "Periodic")
  )
  (7 Atom
    (A O PerParent 2)
    (A I PerTrans (1 0 0))
    (A C SymType "Periodic")
  )
)
)";

TEST(QorPeriodic, GoldenFiles) {
    {
        Built b;
        Place(b);
        const std::string text = Save(b.root);
        EXPECT_EQ(text, kAcrossTheFaceGolden);
        Loaded back;
        Load(text, back);
        ASSERT_EQ(back.hr, S_OK);
        EXPECT_EQ(Save(back.root), text);
    }
}

TEST(QorPeriodic, GeneralPositionsAndPlaneCells) {
    struct Case {
        const char* what;
        std::string model;
        std::vector<std::string> lines;  // in this order
    } cases[] = {
        {"general positions with centring",
         Model(kP1 + "  (A C SymmetryMode \"GeneralPositions\")\n  (5 Symmetry\n    (A C CenteringType \"FaceCentered\")\n"
                     "    (A C LatticeType \"Cubic\")\n  )\n",
               kCarbon),
         {"  (A I PeriodicType 100)\n", "  (A O GP 3)\n", "  (A C SymmetryMode \"GeneralPositions\")\n", "  (3 Symmetry\n",
          "    (A I ITNumber 0)\n    (A I OptionID 0)\n    (A C CenteringType \"FaceCentered\")\n    (A C LatticeType \"Triclinic\")\n",
          "    (4 SymOp\n      (A D Matrix (1 0 0 0 1 0 0 0 1))\n      (A D Translation (0 0.5 0.5))\n    )\n",
          "    (6 SymOp\n", "    )\n  )\n  (A D A3 (10 0 0))\n", "    (A O SymChildren ( 7 8 9))\n",
          "  (7 Atom\n    (A C SymType \"Symmetry\")\n    (A I Id 2)\n  )\n"}},
        {"a plane cell", Model("  (A I PeriodicType 101)\n  (A D A2 (4 0 0))\n  (A D B2 (0 5 0))\n  (A I BRange2 (0 3))\n", kCarbon),
         {"  (A I PeriodicType 101)\n  (A D A2 (4 0 0))\n  (A D B2 (0 5 0))\n  (A I BRange2 (0 3))\n  (2 Atom\n"}},
    };
    for (const Case& c : cases) {
        Loaded l;
        Load(c.model, l);
        ASSERT_EQ(l.hr, S_OK) << c.what;
        const std::string text = Save(l.root);
        std::size_t at = 0;
        for (const std::string& line : c.lines) {
            const std::size_t found = text.find(line, at);
            EXPECT_NE(found, std::string::npos) << c.what << ": " << line << "\n" << text;
            if (found != std::string::npos) at = found + line.size();
        }
        Loaded back;
        Load(text, back);
        ASSERT_EQ(back.hr, S_OK) << c.what;
        EXPECT_EQ(Save(back.root), text) << c.what;
    }
}

TEST(QorPeriodic, EverySettingIsWrittenWithItsOwnOption) {
    // Settings of one group may share a qualifier (the orthorhombic ones differ by symbol).
    for (int itNumber : {14, 15, 62, 227}) {
        for (int option = 1;; ++option) {
            const xxSpaceGroupDescription* d = xxSpaceGroupFactory::Instantiate().FindSpaceGroupByNumber(itNumber, option);
            if (!d) break;
            const std::string group = std::to_string(itNumber) + " " + std::to_string(option);
            Loaded l;
            Load(Model(kP1 + "  (A C SpaceGroup \"" + group + "\")\n", kCarbon), l);
            ASSERT_EQ(l.hr, S_OK) << group;
            EXPECT_NE(Save(l.root).find("  (A C SpaceGroup \"" + group + "\")\n"), std::string::npos) << group;
        }
    }
}

// The "SymChildren" lines of an atom in a group of n operators.
std::vector<std::string> ChildLines(const char* group) {
    Loaded l;
    Load(Model(kP1 + "  (A C SpaceGroup \"" + group + "\")\n", "  (2 Atom\n    (A D XYZ (1.1 1.3 1.7))\n  )\n"), l);
    EXPECT_EQ(l.hr, S_OK) << group;
    const std::string text = Save(l.root);
    std::vector<std::string> lines;
    const std::size_t start = text.find("    (A O SymChildren (");
    if (start == std::string::npos) return lines;
    std::istringstream in(text.substr(start, text.find("))\n", start) + 3 - start));
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

TEST(QorPeriodic, SymChildrenLineBreaks) {
    // P4/mmm: 15 children on one line; I4/mmm: 31, broken after the 16th and the 31st; Pm-3m: 47.
    const auto fifteen = ChildLines("123 1");
    ASSERT_EQ(fifteen.size(), 1u);
    EXPECT_EQ(fifteen[0], "    (A O SymChildren ( 3 4 5 6 7 8 9 10 11 12 13 14 15 16 17))");
    const auto thirtyOne = ChildLines("139 1");
    ASSERT_EQ(thirtyOne.size(), 3u);
    EXPECT_EQ(thirtyOne[0], "    (A O SymChildren ( 3 4 5 6 7 8 9 10 11 12 13 14 15 16 17 18  \\");
    // Continuation lines begin with the record's indentation and three blanks.
    EXPECT_EQ(thirtyOne[1], "      19 20 21 22 23 24 25 26 27 28 29 30 31 32 33  \\");
    EXPECT_EQ(thirtyOne[2], "     ))");
    const auto fortySeven = ChildLines("221 1");
    ASSERT_EQ(fortySeven.size(), 4u);
    EXPECT_EQ(fortySeven[3], "      49))");
}

TEST(QorPeriodic, MatterBesideThePeriodicCellIsRefused) {
    Loaded l;
    Load(Model(kP1, kCarbon), l);
    ASSERT_EQ(l.hr, S_OK);
    l.root.CreateChild<xxAtom3d>("O");
    std::ostringstream out;
    xxSaveQOR writer;
    EXPECT_FALSE(writer.SaveObjectToStream(out, &l.root, "qor"));
    EXPECT_NE(writer.GetErrorMessage().find("beside the periodic cell"), std::string::npos);
}

}  // namespace
