// The CAR part of xxLoadCAR: header, periodicity, cell line and group, molecules, sub-units and
// atoms, the companion MDF's discovery, and what is posted when it is missing.
#include <gtest/gtest.h>

#include <cmath>
#include <sstream>

#include "car_load_support.h"
#include "datamodel/symmetry/system.h"
#include "frame/clsids.h"
#include "frame/messages.h"

namespace msg = cartovane::msg;
using namespace cvtest::carmdf;

namespace {

constexpr std::string_view kNoSymmetry = "No symmetry has been applied.";

// Water, then an ethanol fragment in two residues.
std::string TwoMolecules() {
    return AtomLine("O1", 0, 0, 0, "WAT", "1", "o*", "O", -0.82) + "\n" +
           AtomLine("H1", 0.96, 0, 0, "WAT", "1", "h*", "H", 0.41) + "\n" +
           AtomLine("H2", -0.24, 0.93, 0, "WAT", "1", "h*", "H", 0.41) + "\nend\n" +
           AtomLine("C1", 5, 0, 0, "ETH", "2", "c3", "C", -0.1) + "\n" +
           AtomLine("C2", 6.5, 0, 0, "ETH", "2", "c3", "C", -0.1) + "\n" +
           AtomLine("O1", 7, 1.2, 0, "ALC", "3", "oh", "O", -0.6) + "\nend\nend\n";
}

// An MDF that reads and says nothing: no post, no bonds.
constexpr std::string_view kEmptyMdf = "!KORVEN molecular_data 4\n \n#end\n";

std::vector<std::string> Names(const std::vector<xxMultiScaleMolecule*>& objects) {
    std::vector<std::string> out;
    for (const xxObject* o : objects) out.push_back(o->GetName());
    return out;
}
std::vector<std::string> SubUnitNames(const xxMolecule& m) {
    std::vector<std::string> out;
    for (const xxSubUnit* s : m.ChildrenOf<xxSubUnit>()) out.push_back(s->GetName());
    return out;
}

TEST(CarReader, ModelFromAtomLines) {
    cvtest::TempDir dir;
    const Loaded l = Load(dir, CarHeader("PBC=OFF") + TwoMolecules(), kEmptyMdf);
    EXPECT_EQ(l.hr, S_OK);
    EXPECT_TRUE(l.posted.empty());
    EXPECT_EQ(l.root->GetName(), "model");
    EXPECT_EQ(l.System(), nullptr);

    const auto molecules = l.Molecules();
    ASSERT_EQ(molecules.size(), 2u);
    EXPECT_EQ(Names(molecules), (std::vector<std::string>{"model_1", "model_2"}));
    EXPECT_EQ(molecules[0]->GetID(), 1);
    EXPECT_EQ(molecules[1]->GetID(), 2);
    EXPECT_EQ(SubUnitNames(*molecules[0]), (std::vector<std::string>{"WAT_1"}));
    EXPECT_EQ(SubUnitNames(*molecules[1]), (std::vector<std::string>{"ETH_2", "ALC_3"}));

    // IDs count atom lines over the file; the import order is one more.
    for (int id = 1; id <= 6; ++id) {
        ASSERT_NE(l.Atom(id), nullptr) << id;
        EXPECT_EQ(l.Atom(id)->GetImportOrder(), id + 1);
    }
    const xxAtom3d* c2 = l.Atom3d(5);
    ASSERT_NE(c2, nullptr);
    EXPECT_EQ(c2->GetName(), "C2");
    EXPECT_EQ(c2->GetElementSymbol(), "C");
    EXPECT_EQ(c2->GetXYZ(), (xxPoint3d{6.5, 0, 0}));
    EXPECT_EQ(c2->GetCharge(), static_cast<double>(-0.1f));  // read in single precision
    EXPECT_EQ(c2->GetForcefieldType(), "c3");
    EXPECT_EQ(c2->GetParent()->GetName(), "ETH_2");
    EXPECT_TRUE(c2->GetBonds().empty());  // the MDF named no bonds
}

struct MdfOutcomeCase {
    const char* label;
    bool writeMdf;
    bool calculateBonds;
    bool diagnostics;
    bool bondsExpected;
    bool postExpected;
};

class CarMissingMdf : public testing::TestWithParam<MdfOutcomeCase> {};

TEST_P(CarMissingMdf, PostsOnceAndPerceivesBondsOnRequest) {
    const MdfOutcomeCase& c = GetParam();
    cvtest::TempDir dir;
    const Loaded l = Load(dir, CarHeader("PBC=OFF") + TwoMolecules(),
                          c.writeMdf ? std::optional<std::string_view>(kEmptyMdf) : std::nullopt,
                          {.calculateBonds = c.calculateBonds, .diagnostics = c.diagnostics});
    EXPECT_EQ(l.hr, S_OK);
    if (!c.writeMdf) {
        EXPECT_EQ(l.lastMessage, msg::CARLOAD_MDF_FILEOPEN);
        EXPECT_EQ(l.lastClsid, cartovane::CLSID_CARImportExport);
    }
    if (c.postExpected) {
        EXPECT_EQ(l.posted, (std::vector<std::string>{MdfProblem(dir.File("model.mdf"), "Unable to open the Mdf file.",
                                                                 c.calculateBonds)}));
    } else {
        EXPECT_TRUE(l.posted.empty());
    }
    const xxBondable* o1 = l.Atom(1);
    const xxBondable* h1 = l.Atom(2);
    const xxBondable* h2 = l.Atom(3);
    EXPECT_EQ(o1->IsBondedTo(*h1), c.bondsExpected);
    EXPECT_EQ(o1->IsBondedTo(*h2), c.bondsExpected);
    EXPECT_FALSE(h1->IsBondedTo(*h2));
}

INSTANTIATE_TEST_SUITE_P(
    Outcomes, CarMissingMdf,
    testing::Values(MdfOutcomeCase{"missing", false, true, true, true, true},
                    MdfOutcomeCase{"missing_no_bonds", false, false, true, false, true},
                    MdfOutcomeCase{"missing_silent", false, true, false, true, false},
                    MdfOutcomeCase{"present_without_topology", true, true, true, false, false}),
    [](const auto& param) { return std::string(param.param.label); });

TEST(CarReader, TextThatIsNoCarFileFails) {
    for (std::string_view text : {std::string_view{}, std::string_view("!KORVEN archive 4\nPBC=OFF\n"),
                                  std::string_view("!KORVEN archiv 3\n"), std::string_view("O1 1 2 3\n")}) {
        cvtest::TempDir dir;
        const Loaded l = Load(dir, text, std::nullopt);
        EXPECT_EQ(l.hr, E_UNEXPECTED) << text;
        EXPECT_EQ(l.lastMessage, msg::CARLOAD_CAR_FORMAT) << text;
        EXPECT_EQ(l.root->GetName(), "model");
        EXPECT_EQ(l.root->NumChildren(), 0u);
        EXPECT_TRUE(l.posted.empty());
    }
}

TEST(CarReader, PeriodicityKeywordsInAnyCase) {
    struct Case {
        std::string_view line;
        int dimension;  // 0: no symmetry system
    };
    for (const Case& c : {Case{"PBC=ON", 3}, Case{"pbc=on", 3}, Case{"PbC=oN", 3}, Case{"PBC=2D", 2},
                          Case{"pbc=2d", 2}, Case{"PBC=OFF", 0}, Case{"PBC=NO", 0}}) {
        cvtest::TempDir dir;
        std::string cell = c.dimension == 3   ? "PBC   20.0000   20.0000   20.0000   90.0000   90.0000   90.0000 (P1)\n"
                           : c.dimension == 2 ? "PBC    20.0000   20.0000   90.0000(p1)\n"
                                              : "";
        const Loaded l = Load(dir, CarHeader(c.line) + cell + TwoMolecules(), kEmptyMdf);
        // A line that is none of the three keywords is warned about (CarReaderDefects has the text).
        EXPECT_EQ(l.posted.size(), c.line == "PBC=NO" ? 1u : 0u) << c.line;
        xxMultiScaleSymmetrySystem* system = l.System();
        if (c.dimension == 0) {
            EXPECT_EQ(system, nullptr) << c.line;
            continue;
        }
        ASSERT_NE(system, nullptr) << c.line;
        EXPECT_EQ(system->GetPeriodicDimension(), c.dimension) << c.line;
        EXPECT_EQ(system->GetName(), "model");
        EXPECT_EQ(system->GetID(), l.root->GetID());
        EXPECT_EQ(l.Molecules().size(), 2u) << c.line;  // under the system
        const xxSymmetryDefinition& d = system->GetSymmetryDefinition();
        EXPECT_NEAR(d.GetA(), 20, 1e-9);
        EXPECT_NEAR(d.GetGamma(), std::acos(0.0), 1e-12);  // degrees become radians
        EXPECT_EQ(d.GetOrientationConvention(), c.dimension == 3 ? 3 : 19);
    }
}

TEST(CarReader, GroupOfTheCellLine) {
    struct Case {
        const char* label;
        std::string_view periodicity;
        std::string_view cell;
        int operators;  // 0: the build fails
        std::string_view posted;
    };
    const Case cases[] = {
        {"named", "PBC=ON", "PBC   10.0000   11.0000   12.0000   90.0000  100.0000   90.0000 (P21/c)", 4, ""},
        {"no_parentheses_3d", "PBC=ON", "PBC   10.0000   11.0000   12.0000   90.0000  100.0000   90.0000", 1, ""},
        {"unknown", "PBC=ON", "PBC   10.0000   11.0000   12.0000   90.0000   90.0000   90.0000 (unknown)", 1, ""},
        {"UNKNOWN", "PBC=ON", "PBC   10.0000   11.0000   12.0000   90.0000   90.0000   90.0000 (UNKNOWN)", 1, ""},
        {"empty", "PBC=ON", "PBC   10.0000   11.0000   12.0000   90.0000   90.0000   90.0000 ()", 1, ""},
        {"not_a_group_3d", "PBC=ON", "PBC   10.0000   11.0000   12.0000   90.0000   90.0000   90.0000 (Q99)", 0,
         "Space group name Q99 not recognised.\nNo symmetry has been applied."},
        {"no_parentheses_2d", "PBC=2D", "PBC    10.0000   11.0000   90.0000", 1, ""},
        {"named_2d", "PBC=2D", "PBC    10.0000   11.0000   90.0000(p2mm)", 4, ""},
        {"unknown_2d", "PBC=2D", "PBC    10.0000   11.0000   90.0000(unknown)", 0,
         "Symmetry group name unknown not recognised.\nNo symmetry has been applied."},
        {"cubic_group_on_other_cell", "PBC=ON",
         "PBC   10.0000   11.0000   12.0000   90.0000   90.0000   90.0000 (Fm-3m)", 0, kNoSymmetry},
        {"degenerate_cell", "PBC=ON", "PBC    0.0000   11.0000   12.0000   90.0000   90.0000   90.0000 (P1)", 0,
         kNoSymmetry},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        cvtest::TempDir dir;
        const std::string car = CarHeader(c.periodicity) + std::string(c.cell) + "\n" +
                                AtomLine("X1", 1, 2, 3, "A", "1", "x", "C", 0) + "\nend\nend\n";
        const Loaded l = Load(dir, car, kEmptyMdf);
        EXPECT_EQ(l.hr, S_OK);
        ASSERT_NE(l.System(), nullptr);
        const xxSymmetryDefinition& d = l.System()->GetSymmetryDefinition();
        if (c.operators == 0) {
            EXPECT_EQ(l.lastMessage, msg::CARLOAD_SYM_BUILD);
            EXPECT_EQ(d.GetDimension(), 0);  // still the provisional point group
            EXPECT_EQ(l.posted, (std::vector<std::string>{std::string(c.posted)}));
        } else {
            EXPECT_TRUE(l.posted.empty());
            EXPECT_EQ(d.GetDimension(), c.periodicity == "PBC=ON" ? 3 : 2);
            EXPECT_EQ(d.GetNumOperators(), c.operators);
        }
        EXPECT_EQ(l.Atoms().size(), 1u);
    }
}

// A periodic file needs its cell line; without a usable one the atoms stay and the symmetry
// step reports its failure.
TEST(CarReader, PeriodicFileWithoutUsableCellLine) {
    struct Case {
        const char* label;
        std::string_view periodicity;
        std::string between;  // what stands between the title and the atom lines
    };
    const Case cases[] = {
        {"no_cell_line_3d", "PBC=ON", ""},
        {"no_cell_line_2d", "PBC=2D", ""},
        {"too_few_numbers", "PBC=ON", "PBC   10.0000   11.0000   12.0000   90.0000 (P1)\n"},
        {"comments_then_atoms", "PBC=ON", "! a comment\n\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        cvtest::TempDir dir;
        const Loaded l = Load(dir, CarHeader(c.periodicity) + c.between + TwoMolecules(), kEmptyMdf);
        EXPECT_EQ(l.hr, S_OK);
        EXPECT_EQ(l.System(), nullptr);
        EXPECT_EQ(l.Atoms().size(), 6u);
        EXPECT_EQ(l.Molecules().size(), 2u);
        EXPECT_EQ(l.lastMessage, msg::CARLOAD_SYM_BUILD);
        EXPECT_EQ(l.posted, (std::vector<std::string>{std::string(kNoSymmetry)}));
    }
    // Blank and comment lines before the cell line are passed over.
    cvtest::TempDir dir;
    const Loaded l = Load(
        dir, CarHeader("PBC=ON") + "\n! cell follows\npbc   10.0000   11.0000   12.0000   90.0000   90.0000   90.0000\n" +
                 TwoMolecules(),
        kEmptyMdf);
    ASSERT_NE(l.System(), nullptr);
    EXPECT_EQ(l.System()->GetPeriodicDimension(), 3);
    EXPECT_EQ(l.Atoms().size(), 6u);
}

TEST(CarReader, ElementTexts) {
    cvtest::TempDir dir;
    std::string shortLine = AtomLine("S1", 1, 1, 1, "RES", "1", "st", "Na", 1).substr(0, 63);
    const std::string car = CarHeader("PBC=OFF") + AtomLine("CL1", 0, 0, 0, "RES", "1", "cl", "CL", -1) + "\n" +
                            AtomLine("X1", 1, 0, 0, "RES", "1", "du", "DU", 0) + "\n" +
                            AtomLine("D1", 2, 0, 0, "RES", "1", "d", "D", 0.2) + "\n" +
                            AtomLine("Q1", 3, 0, 0, "RES", "1", "q", "Xq", 0) + "\n" + shortLine + "\n" +
                            AtomLine("N1", 4, 0, 0, "RES", "1", "n", "n", 0) + "\nend\nend\n";
    const Loaded l = Load(dir, car, kEmptyMdf);
    ASSERT_EQ(l.Atoms().size(), 6u);
    ASSERT_NE(l.Atom3d(1), nullptr);
    EXPECT_EQ(l.Atom3d(1)->GetElementSymbol(), "Cl");

    const xxDummy* dummy = l.Atom(2)->As<xxDummy>();
    ASSERT_NE(dummy, nullptr);
    EXPECT_EQ(dummy->GetDummySymbol(), "Du");
    EXPECT_EQ(dummy->GetName(), "X1");
    EXPECT_EQ(dummy->GetForcefieldType(), "du");

    ASSERT_NE(l.Atom3d(3), nullptr);
    EXPECT_EQ(l.Atom3d(3)->GetElementNumber(), 1);
    EXPECT_EQ(l.Atom3d(3)->GetIsotope(), 2);

    EXPECT_EQ(l.Atom3d(4)->GetElementNumber(), 0);  // no such element

    const xxAtom3d* cut = l.Atom3d(5);
    EXPECT_EQ(cut->GetElementNumber(), 0);
    EXPECT_EQ(cut->GetForcefieldType(), "?");
    EXPECT_EQ(cut->GetCharge(), 0.0);
    EXPECT_EQ(cut->GetXYZ(), (xxPoint3d{1, 1, 1}));

    EXPECT_EQ(l.Atom3d(6)->GetElementSymbol(), "N");
}

TEST(CarReader, SubUnitsFollowTheResidueNumber) {
    cvtest::TempDir dir;
    const std::string car = CarHeader("PBC=OFF") + AtomLine("A", 0, 0, 0, "WAT", "1", "x", "O", 0) + "\n" +
                            AtomLine("B", 1, 0, 0, "HOH", "1", "x", "H", 0) + "\n" +
                            AtomLine("C", 2, 0, 0, "WAT", "2", "x", "H", 0) + "\n" +
                            AtomLine("D", 3, 0, 0, "WAT", "1", "x", "H", 0) + "\nend\n" +
                            AtomLine("E", 4, 0, 0, "WAT", "1", "x", "O", 0) + "\nend\nend\n";
    const Loaded l = Load(dir, car, kEmptyMdf);
    const auto molecules = l.Molecules();
    ASSERT_EQ(molecules.size(), 2u);
    // Same number, other name: one sub-unit, named after its first atom.
    EXPECT_EQ(SubUnitNames(*molecules[0]), (std::vector<std::string>{"WAT_1", "WAT_2", "WAT_1"}));
    EXPECT_EQ(molecules[0]->ChildrenOf<xxSubUnit>()[0]->NumChildren(), 2u);
    // Every molecule's first atom opens a sub-unit.
    EXPECT_EQ(SubUnitNames(*molecules[1]), (std::vector<std::string>{"WAT_1"}));
}

TEST(CarReader, MoleculeBoundaries) {
    const std::string a = AtomLine("A", 0, 0, 0, "R", "1", "x", "C", 0);
    const std::string b = AtomLine("B", 1, 0, 0, "R", "1", "x", "C", 0);
    struct Case {
        const char* label;
        std::string body;
        std::vector<std::size_t> atomsPerMolecule;
    };
    const Case cases[] = {
        {"skipped_between_atoms", a + "\n\n! note\n \t\n" + b + "\nend\nend\n", {2}},
        {"blank_after_end", a + "\nend\n\n" + b + "\nend\nend\n", {1, 2}},
        {"comment_after_end", a + "\nend\n! note\n" + b + "\nend\nend\n", {1, 2}},
        {"text_ends_after_one_end", a + "\nend\n", {1}},
        {"no_atom_lines", "end\nend\n", {0}},
        {"nothing_at_all", "", {0}},
        {"end_prefix", a + "\nendmolecule\n" + b + "\nend\nend\n" + a + "\n", {1, 1}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        cvtest::TempDir dir;
        const Loaded l = Load(dir, CarHeader("PBC=OFF") + c.body, kEmptyMdf);
        std::vector<std::size_t> counts;
        for (const xxMolecule* m : l.Molecules()) counts.push_back(static_cast<std::size_t>(m->CalculateNumMatterObjects()));
        EXPECT_EQ(counts, c.atomsPerMolecule);
    }
}

TEST(CarReader, UpperCaseExtensionStaysInTheName) {
    cvtest::TempDir dir;
    const std::string mdf = MdfHeader() + "#topology\n\n" + ColumnDeclarations() + "\n@molecule W\n\n" +
                            MdfRecord("WAT_1:O1", {}, "H1") + "\n" + MdfRecord("WAT_1:H1", {.element = "H"}, "O1") +
                            "\n\n#end\n";
    const std::string car = CarHeader("PBC=OFF") + AtomLine("O1", 0, 0, 0, "WAT", "1", "o", "O", 0) + "\n" +
                            AtomLine("H1", 3, 0, 0, "WAT", "1", "h", "H", 0) + "\nend\nend\n";
    const Loaded l = Load(dir, car, mdf, {.carName = "model.CAR", .mdfName = "model.mdf"});
    EXPECT_EQ(l.root->GetName(), "model.CAR");
    EXPECT_EQ(l.Molecules().front()->GetName(), "W");
    EXPECT_TRUE(l.Atom(1)->IsBondedTo(*l.Atom(2)));  // from the MDF: 3 apart, no perception
    EXPECT_TRUE(l.posted.empty());
}

TEST(CarReader, CompanionNamedInAnotherCase) {
    cvtest::TempDir dir;
    const Loaded l = Load(dir, CarHeader("PBC=OFF") + TwoMolecules(), kEmptyMdf, {.mdfName = "MODEL.MDF"});
    EXPECT_TRUE(l.posted.empty());
    EXPECT_FALSE(l.Reported(msg::CARLOAD_MDF_FILEOPEN));
}

TEST(CarReader, Archive2Columns) {
    cvtest::TempDir dir;
    std::string line(72, ' ');
    auto put = [&](std::size_t column, std::string_view text) { line.replace(column, text.size(), text); };
    put(0, "N1");
    put(5, "1.5");
    put(20, "2.5");
    put(35, "3.5");
    put(51, "GLY");
    put(55, "7");
    put(61, "n2");
    put(64, "N");
    put(66, "-0.300");
    const Loaded l = Load(dir, "!KORVEN archive 2\nPBC=OFF\ntitle\n" + line + "\nend\nend\n", kEmptyMdf);
    const xxAtom3d* n = l.Atom3d(1);
    ASSERT_NE(n, nullptr);
    EXPECT_EQ(n->GetXYZ(), (xxPoint3d{1.5, 2.5, 3.5}));
    EXPECT_EQ(n->GetParent()->GetName(), "GLY_7");
    EXPECT_EQ(n->GetForcefieldType(), "n2");
    EXPECT_EQ(n->GetElementSymbol(), "N");
    EXPECT_EQ(n->GetCharge(), static_cast<double>(-0.3f));
}

TEST(CarReader, IsLoadableLeavesTheStreamInPlace) {
    xxLoadCAR reader;
    EXPECT_TRUE(reader.IsFileExtension("car"));
    EXPECT_FALSE(reader.IsFileExtension("CAR"));
    EXPECT_EQ(reader.GetFileExtension(), "car");
    EXPECT_EQ(reader.GetFileFilter(), "Quenzoria CAR Files (*.car) |*.car|");
    std::istringstream car("!KORVEN archive 2\nPBC=OFF\n");
    EXPECT_TRUE(reader.IsLoadable(car));
    std::string first;
    std::getline(car, first);
    EXPECT_EQ(first, "!KORVEN archive 2");
    std::istringstream other("!KORVEN molecular_data 4\n");
    EXPECT_FALSE(reader.IsLoadable(other));
}

// ---- defects: each of these once loaded a wrong model without a word ----------------------

constexpr std::string_view kCell3d = "PBC   20.0000   20.0000   20.0000   90.0000   90.0000   90.0000 (P1)";
constexpr std::string_view kCell2d = "PBC    20.0000   20.0000   90.0000(p1)";

// The cell line is the first "PBC" line after the title, whatever stands before it; only a
// file without any keeps the line after the title as an atom line (PeriodicFileWithoutUsableCellLine).
TEST(CarReaderDefects, CellLineAfterOtherHeaderLines) {
    struct Case {
        const char* label;
        std::string_view periodicity;
        std::string header;  // after the title
        int dimension;
    };
    const Case cases[] = {
        {"date_without_bang", "PBC=ON", "DATE Thu Dec 10 08:28:00 2026\n" + std::string(kCell3d) + "\n", 3},
        {"two_text_lines", "PBC=ON", "second title\n  more text\n\n" + std::string(kCell3d) + "\n", 3},
        {"two_d", "PBC=2D", "DATE Thu Dec 10 08:28:00 2026\n" + std::string(kCell2d) + "\n", 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        cvtest::TempDir dir;
        const std::string car = "!KORVEN archive 3\n" + std::string(c.periodicity) + "\ntitle\n" + c.header + TwoMolecules();
        const Loaded l = Load(dir, car, kEmptyMdf);
        EXPECT_EQ(l.hr, S_OK);
        ASSERT_NE(l.System(), nullptr);
        EXPECT_EQ(l.System()->GetPeriodicDimension(), c.dimension);
        EXPECT_EQ(l.Atoms().size(), 6u);  // none made from the header
        EXPECT_EQ(l.Atom(1)->GetName(), "O1");
        EXPECT_TRUE(l.posted.empty());
    }
}

// "%lf" reads hexadecimal floats; a coordinate that reads as no finite number fails the import
// with the line it stands on, and nothing of the model is kept.
TEST(CarReaderDefects, CoordinatesThatAreNoFiniteNumberFailTheImport) {
    const std::string good = AtomLine("C1", 1, 2, 3, "R", "1", "c", "C", 0);
    auto withField = [](std::size_t column, std::string_view text) {
        std::string line = AtomLine("C2", 0, 0, 0, "R", "1", "c", "C", 0);
        line.replace(column, 14, std::string(14 - text.size(), ' ') + std::string(text));
        return line;
    };
    struct Case {
        std::string line;
        std::string failure;  // empty: loads
    };
    const Case cases[] = {
        {withField(6, "nan"), "Line 6: the x coordinate \"nan\" is not a finite number."},
        {withField(6, "-inf"), "Line 6: the x coordinate \"-inf\" is not a finite number."},
        {withField(21, "1e999"), "Line 6: the y coordinate \"1e999\" is not a finite number."},
        {withField(36, "INFINITY"), "Line 6: the z coordinate \"INFINITY\" is not a finite number."},
        {withField(36, "abc"), "Line 6: the z coordinate \"abc\" is not a finite number."},
        {withField(6, "0x1p3"), ""},
        {withField(6, "1e-999"), ""},  // too small for a double: zero, as "%lf" gives it
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        cvtest::TempDir dir;
        const Loaded l = Load(dir, CarHeader("PBC=OFF") + good + "\n" + c.line + "\nend\nend\n", kEmptyMdf);
        if (c.failure.empty()) {
            EXPECT_EQ(l.hr, S_OK);
            ASSERT_EQ(l.Atoms().size(), 2u);
            EXPECT_EQ(l.Atom3d(2)->GetXYZ().x, c.line.find("0x1p3") != std::string::npos ? 8.0 : 0.0);
            continue;
        }
        EXPECT_EQ(l.hr, E_UNEXPECTED);
        EXPECT_EQ(l.lastDescription, c.failure);
        EXPECT_EQ(l.lastMessage, msg::CARLOAD);
        EXPECT_EQ(l.lastClsid, cartovane::CLSID_CARImportExport);
        EXPECT_EQ(l.root->GetName(), "model");
        EXPECT_EQ(l.root->NumChildren(), 0u);
        EXPECT_TRUE(l.posted.empty());
    }
    // What the root held before the load stays; only what the load made goes, a cell included.
    for (std::string_view periodicity : {"PBC=OFF", "PBC=ON"}) {
        SCOPED_TRACE(periodicity);
        cvtest::TempDir dir;
        xxAtomisticTreeRoot root;
        root.CreateChild<xxMultiScaleMolecule>().SetName("before");
        const std::string cell = periodicity == "PBC=ON" ? std::string(kCell3d) + "\n" : "";
        std::istringstream text(CarHeader(periodicity) + cell + good + "\nend\n" + good + "\n" + withField(6, "nan") +
                                "\nend\nend\n");
        xxLoadCAR reader;
        EXPECT_EQ(reader.LoadCarMdfFile(text, root, dir.File("model.car"), nullptr, true), E_UNEXPECTED);
        ASSERT_EQ(root.NumChildren(), 1u);
        EXPECT_EQ(root.ChildrenOf<xxMultiScaleMolecule>().at(0)->GetName(), "before");
    }
}

// A second line that is no periodicity keyword is warned about, and the cell line it leaves
// behind is no atom; the model is read without a cell. The warning joins the MDF's problems.
TEST(CarReaderDefects, UnknownPeriodicityIsReported) {
    const std::string car = "!KORVEN archive 3\nPBC=MAYBE\ntitle\n!DATE Thu Dec 10 08:28:00 2026\n" +
                            std::string(kCell3d) + "\n" + TwoMolecules();
    const std::string warning = "  Line 2: \"PBC=MAYBE\" is not a periodicity line (PBC=ON, PBC=2D or PBC=OFF); the "
                                "model is read without a cell.  Line 5: the cell line is ignored.";
    for (bool withMdf : {true, false}) {
        SCOPED_TRACE(withMdf ? "with MDF" : "without MDF");
        cvtest::TempDir dir;
        const Loaded l = Load(dir, car, withMdf ? std::optional<std::string_view>(kEmptyMdf) : std::nullopt);
        EXPECT_EQ(l.hr, S_OK);
        EXPECT_EQ(l.System(), nullptr);
        EXPECT_EQ(l.Atoms().size(), 6u);
        std::string expected = "Problems were encountered reading the Car file " + dir.File("model.car") + "." + warning;
        if (!withMdf) expected += "  " + MdfProblem(dir.File("model.mdf"), "Unable to open the Mdf file.", true);
        EXPECT_EQ(l.posted, (std::vector<std::string>{expected}));
    }
}

// A text that ends inside a molecule keeps what it read and says so.
TEST(CarReaderDefects, TextCutInsideAMoleculeIsReported) {
    const std::string a = AtomLine("A", 1, 0, 0, "R", "1", "x", "C", 0);
    struct Case {
        const char* label;
        std::string body;
        std::vector<std::size_t> atomsPerMolecule;
        std::string warning;  // empty: none
    };
    const Case cases[] = {
        {"first_molecule", a + "\n" + a + "\n", {2}, "Line 6: the text ends inside molecule 1"},
        {"second_molecule", a + "\nend\n" + a, {1, 1}, "Line 7: the text ends inside molecule 2"},
        {"inside_a_line", a + "\n" + a.substr(0, 12), {2}, "Line 6: the text ends inside molecule 1"},
        {"header_only", "", {0}, "Line 4: the text ends inside molecule 1"},
        {"after_one_end", a + "\nend\n", {1}, ""},
        {"closed", a + "\nend\nend\n", {1}, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        cvtest::TempDir dir;
        const Loaded l = Load(dir, CarHeader("PBC=OFF") + c.body, kEmptyMdf);
        EXPECT_EQ(l.hr, S_OK);
        std::vector<std::size_t> counts;
        for (const xxMolecule* m : l.Molecules()) counts.push_back(static_cast<std::size_t>(m->CalculateNumMatterObjects()));
        EXPECT_EQ(counts, c.atomsPerMolecule);
        if (c.warning.empty()) {
            EXPECT_TRUE(l.posted.empty());
        } else {
            EXPECT_EQ(l.posted, (std::vector<std::string>{"Problems were encountered reading the Car file " +
                                                          dir.File("model.car") + ".  " + c.warning +
                                                          ", which has no closing \"end\" line."}));
        }
    }
}

// Lines ended by a lone CR (and by CR LF) read as lines; CR-only text once gave no atoms.
TEST(CarReaderDefects, EveryLineEndReadsAlike) {
    const std::string lf = CarHeader("PBC=ON") + std::string(kCell3d) + "\n" + TwoMolecules();
    for (std::string_view end : {"\r", "\r\n"}) {
        std::string text;
        for (char ch : lf) {
            if (ch == '\n') text += end;
            else text += ch;
        }
        cvtest::TempDir dir;
        const Loaded l = Load(dir, text, kEmptyMdf);
        EXPECT_EQ(l.hr, S_OK);
        ASSERT_NE(l.System(), nullptr);
        EXPECT_EQ(l.Atoms().size(), 6u);
        EXPECT_EQ(l.Molecules().size(), 2u);
        EXPECT_TRUE(l.posted.empty());
    }
}

// One reader loads twice: nothing of the first load (a periodic model with an MDF) reaches the
// second.
TEST(CarReaderDefects, EachLoadStartsAfresh) {
    cvtest::TempDir dir;
    const std::string mdf = MdfHeader() + "#topology\n\n" + ColumnDeclarations() + "\n@molecule W\n\n" +
                            MdfRecord("WAT_1:O1", {}, "H1") + "\n" + MdfRecord("WAT_1:H1", {.element = "H"}, "O1") +
                            "\n\n#symmetry\n@periodicity 3 xyz\n@group (P-1)\n\n#end\n";
    const std::string periodic = CarHeader("PBC=ON") + std::string(kCell3d) + "\n" +
                                 AtomLine("O1", 0, 0, 0, "WAT", "1", "o", "O", 0) + "\n" +
                                 AtomLine("H1", 3, 0, 0, "WAT", "1", "h", "H", 0) + "\nend\nend\n";
    const std::string first = dir.Put("first.car", periodic);
    dir.Put("first.mdf", mdf);
    const std::string second = dir.Put("second.car", CarHeader("PBC=OFF") + TwoMolecules());
    dir.Put("second.mdf", kEmptyMdf);

    xxLoadCAR reader;
    xxAtomisticTreeRoot once, twice;
    std::istringstream firstText(periodic);
    ASSERT_EQ(reader.LoadCarMdfFile(firstText, once, first, nullptr, true), S_OK);
    ASSERT_EQ(once.ChildrenOf<xxMultiScaleSymmetrySystem>().size(), 1u);
    std::istringstream secondText(CarHeader("PBC=OFF") + TwoMolecules());
    ASSERT_EQ(reader.LoadCarMdfFile(secondText, twice, second, nullptr, true), S_OK);

    const Loaded fresh = Load(dir, CarHeader("PBC=OFF") + TwoMolecules(), kEmptyMdf, {.carName = "second.car", .mdfName = "second.mdf"});
    EXPECT_TRUE(twice.ChildrenOf<xxMultiScaleSymmetrySystem>().empty());
    const auto molecules = twice.ChildrenOf<xxMultiScaleMolecule>();
    ASSERT_EQ(molecules.size(), fresh.Molecules().size());
    for (std::size_t i = 0; i < molecules.size(); ++i) {
        EXPECT_EQ(molecules[i]->GetName(), fresh.Molecules()[i]->GetName());
        EXPECT_EQ(molecules[i]->GetID(), fresh.Molecules()[i]->GetID());
    }
    const auto atoms = twice.DescendentsOf<xxBondable>();
    ASSERT_EQ(atoms.size(), 6u);
    EXPECT_EQ(atoms.front()->GetID(), 1);
    for (const xxBondable* atom : atoms) EXPECT_TRUE(atom->GetBonds().empty());  // the empty MDF names none
}

}  // namespace
