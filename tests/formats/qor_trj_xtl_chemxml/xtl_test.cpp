// The XTL crystal import: the reader's rules, the symmetry that completes the crystal, the
// component's errors and the insertion component, through the host stand-in.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <string>
#include <vector>

#include "datamodel/atomistic.h"
#include "datamodel/symmetry/builder.h"
#include "formats/qor_trj_xtl_chemxml/xtl_reader.h"
#include "frame/clsids.h"
#include "host/documents.h"
#include "host/streams.h"
#include "support/host_doubles.h"
#include "support/library_components.h"
#include "support/recording_stream.h"

namespace {

using namespace cartovane;
using Fraction = std::array<double, 3>;

constexpr double kPi = 3.14159265358979323846;

// One import through the component into a fresh document named "crystal".
struct Imported {
    HRESULT hr = E_FAIL;
    std::string description;
    std::vector<std::string> warnings;
    std::vector<LONG> severities;
    CfxComPtr<host::Model3dDocument> document;

    xxMatterSymmetrySystem* System() const { return xxMatterSymmetrySystem::FirstOf(document->Tree()); }
    const xxSymmetryDefinition& Definition() const { return System()->GetSymmetryDefinition(); }
    std::vector<xxAtom3d*> Atoms() const { return System() ? System()->ChildrenOf<xxAtom3d>() : std::vector<xxAtom3d*>{}; }
    // Every atom's fractional position, each component in [0, 1), sorted.
    std::vector<Fraction> Fractions() const {
        const xxTransformMatrix toFractional = Definition().GetCartesianToFractionalTransform();
        std::vector<Fraction> out;
        for (const xxAtom3d* atom : Atoms()) {
            const xxPoint3d f = toFractional.Apply(atom->GetXYZ());
            Fraction p{f.x, f.y, f.z};
            for (double& v : p) {
                v -= std::floor(v);
                v = std::round(v * 1e6) / 1e6;
                if (v >= 1) v -= 1;
            }
            out.push_back(p);
        }
        std::sort(out.begin(), out.end());
        return out;
    }
};

class Xtl : public ::testing::Test {
protected:
    void SetUp() override {
        cvtest::RegisterLibraryComponents();
        root = host::ContainerRoot::Create();
    }

    Imported Import(std::string_view text, const char* name = "crystal") {
        Imported result;
        result.document = host::Model3dDocument::Create(kAtomistic3dDocumentProgID);
        result.document->SetName(name);
        result.hr = ImportInto(static_cast<ISBDocumentRoot*>(result.document.Get()), text);
        result.description = Cfx::GetLastError().description;
        for (const host::DiagnosticMessage& m : root->Diagnostics().Messages()) {
            result.warnings.push_back(m.text);
            result.severities.push_back(m.severity);
        }
        return result;
    }

    HRESULT ImportInto(ISBDocumentRoot* document, std::string_view text, const char* progId = "SDCartovane.XTLImportExport") {
        root->Diagnostics().Clear();
        Cfx::SetLastError(S_OK);
        CfxComPtr<ISBStream> stream = host::CreateMemoryStream(std::vector<char>(text.begin(), text.end()));
        return cvtest::CreateConnected<ISBImporter>(progId, *root.Get())->Import(stream.Get(), document, CfxVariant().Get());
    }

    CfxComPtr<host::ContainerRoot> root;
};

std::string Warning(std::string_view before, std::string_view after) {
    return std::string(before) + "crystal" + std::string(after);
}
const std::string kCellWarning =
    Warning("Unable to parse the cell information in the XTL file ", ".  Default cell parameters will be used.");
const std::string kP1Warning = Warning("Unable to parse the symmetry information in the XTL file ", ".  Setting to P1.");
const std::string kOperatorsWarning =
    Warning("The secondary SYMMETRY keyword OPERATORS is present in the XTL file ",
            ".  Use of this keyword is not currently supported.  You are advised to use the MATRIX secondary "
            "keyword instead.");
const std::string kClosedWarning =
    Warning("The symmetry matrices in the XTL file ", " do not appear to form a closed group.");
const std::string kNoCoordinatesWarning = Warning("The XTL file ", " appears to have no coordinate information.");
const std::string kOneUnknownWarning =
    Warning("1 unknown atom was detected in the XTL file ",
            ".  It has been classified as element type Lr.  You are advised to change this atom to a more "
            "appropriate type before proceeding.");
std::string UnknownWarning(int count) {
    return std::to_string(count) +
           Warning(" unknown atoms were detected in the XTL file ",
                   ".  They have been classified as element type Lr.  You are advised to change these atoms to a "
                   "more appropriate type before proceeding.");
}

std::string Crystal(std::string_view cell, std::string_view symmetry, std::string_view rows,
                    std::string_view header = "NAME X Y Z") {
    return "TITLE test\nDIMENSION 3\nCELL\n " + std::string(cell) + "\nSYMMETRY " + std::string(symmetry) +
           "\nATOMS\n" + std::string(header) + "\n" + std::string(rows) + "EOF\n";
}

// ---- the rules of the text -------------------------------------------------------------------

TEST(XtlRules, HeaderTokensNameColumnsByPrefixInTheirOrder) {
    struct Case {
        const char* token;
        xtl::Column column;
    };
    const Case cases[] = {
        {"NAME", xtl::Column::Name},     {"nam", xtl::Column::Name},        {"X", xtl::Column::X},
        {"XYZ", xtl::Column::X},         {"y", xtl::Column::Y},             {"Zeta", xtl::Column::Z},
        {"SCAT", xtl::Column::Scattering}, {"OCCUP", xtl::Column::Occupancy}, {"POTENTIAL", xtl::Column::Potential},
        {"CHARGE", xtl::Column::Charge}, {"TEMP", xtl::Column::Temperature}, {"SKIP", xtl::Column::Skip},
        {"CARX", xtl::Column::CartesianX}, {"cary", xtl::Column::CartesianY}, {"CARZ", xtl::Column::CartesianZ},
        {"BISO", xtl::Column::BIso},     {"UISO", xtl::Column::UIso},       {"&", xtl::Column::Continued},
        {"CARTX", xtl::Column::Skip},    {"NA", xtl::Column::Skip},         {"WEIGHT", xtl::Column::Skip},
        {"CH", xtl::Column::Skip},
    };
    for (const Case& c : cases) EXPECT_EQ(xtl::ColumnOf(c.token), c.column) << c.token;
}

TEST(XtlRules, QualifierValuesMapByPrefix) {
    struct Case {
        const char* value;
        const char* qualifier;
    };
    const Case cases[] = {
        {"A_UNIQUE", "A-Unique"},         {"b_unique", "B-Unique"},    {"C_UNIQUE_AXIS", "C-Unique"},
        {"ORIGIN_1", "Origin-1"},         {"Origin_2", "Origin-2"},    {"HEXAGONAL", "Hexagonal"},
        {"RHOMBOHEDRAL", "Rhombohedral"}, {"ORIGIN_3", ""},            {"HEX", ""},
        {"B-UNIQUE", ""},
    };
    for (const Case& c : cases) EXPECT_EQ(xtl::QualifierOf(c.value), c.qualifier) << c.value;
}

TEST(XtlRules, AtomNamesGiveElementsAfterTheCutAndTheFirstLetter) {
    struct Case {
        const char* name;
        int element;  // -1: unknown
    };
    const Case cases[] = {
        {"CA12", 20}, {"ca", 20},  {"Cl1", 17}, {"O(1)", 8},  {"O", 8},    {"Na", 11},  {"NA+", 7},
        {"Q1", -1},   {"1H", -1},  {"(1)", -1}, {"", -1},     {"Xx", -1},  {"C", 6},    {"Cu2+", 29},
        {"Cal", 6},   {"x1", -1},  {"Zz", -1},  {"Lr", 103},
    };
    for (const Case& c : cases) {
        const xxElement* element = xtl::ElementOfName(c.name);
        EXPECT_EQ(element ? element->number : -1, c.element) << c.name;
    }
}

TEST(XtlRules, BarNotationRewritesTheFirstBAfterADigit) {
    struct Case {
        const char* label;
        const char* rewritten;
    };
    const Case cases[] = {
        {"R3b", "R-3"},   {"P4b2", "P-42"}, {"R3bm", "R-3m"}, {"Pbca", "Pbca"},
        {"b3", "b3"},     {"P6b2b", "P-62b"}, {"", ""},
    };
    for (const Case& c : cases) EXPECT_EQ(xtl::BarNotation(c.label), c.rewritten) << c.label;
}

TEST(XtlRules, StrongClosenessHoldsRelativeToBothValues) {
    struct Case {
        double a, b;
        bool close;
    };
    const Case cases[] = {
        {60, 66, true},    {66, 60, true},    {60, 66.1, false}, {66.1, 60, false},
        {60, 54.6, true},  {60, 54, false},   {54, 60, false},   {90, 120, false},
        {60, 60, true},    {0, 0, true},      {0, 1e-9, false},
    };
    for (const Case& c : cases) EXPECT_EQ(xtl::CloseStrong(c.a, c.b, 0.1), c.close) << c.a << " " << c.b;
}

// ---- symmetry against crystallographic facts -----------------------------------------------

TEST_F(Xtl, GroupsCompleteTheCellAsTheTablesSay) {
    struct Case {
        const char* what;
        std::string text;
        std::size_t atoms;
        const char* group;  // the definition's group name; empty: not checked
        std::vector<Fraction> includes;
    };
    const double e = 1.0 / 8, q = 0.25, t = 0.75;
    const std::vector<Fraction> diamond1 = {{0, 0, 0}, {0, .5, .5}, {.5, 0, .5}, {.5, .5, 0},
                                            {q, q, q}, {q, t, t},   {t, q, t},   {t, t, q}};
    std::vector<Fraction> diamond2;
    for (Fraction p : diamond1) {
        for (double& v : p) v = v - e < 0 ? v - e + 1 : v - e;
        diamond2.push_back(p);
    }
    const std::string rockSalt = "Na 0 0 0\nCl 0.5 0.5 0.5\n";
    const Case cases[] = {
        {"rock salt by number", Crystal("5.6402 5.6402 5.6402 90 90 90", "NUMBER 225", rockSalt), 8, "Fm-3m", {{.5, .5, .5}}},
        {"rock salt listed whole",
         Crystal("5.6402 5.6402 5.6402 90 90 90", "NUMBER 225",
                 "Na 0 0 0\nNa 0 0.5 0.5\nNa 0.5 0 0.5\nNa 0.5 0.5 0\nCl 0.5 0.5 0.5\nCl 0.5 0 0\nCl 0 0.5 0\nCl 0 0 0.5\n"),
         8, "Fm-3m", {}},
        {"caesium chloride", Crystal("4.12 4.12 4.12 90 90 90", "LABEL Pm-3m", "Cs 0 0 0\nCl 0.5 0.5 0.5\n"), 2, "Pm-3m", {}},
        {"diamond, origin 1", Crystal("5.431 5.431 5.431 90 90 90", "LABEL Fd-3m QUALIFIER ORIGIN_1", "Si 0 0 0\n"), 8,
         "Fd-3m", diamond1},
        {"diamond, origin 2", Crystal("5.431 5.431 5.431 90 90 90", "LABEL Fd-3m QUALIFIER ORIGIN_2", "Si 0.125 0.125 0.125\n"),
         8, "Fd-3m", diamond2},
        {"origin 2 honoured", Crystal("5.431 5.431 5.431 90 90 90", "LABEL Fd-3m QUALIFIER ORIGIN_2", "Si 0 0 0\n"), 16,
         "Fd-3m", {}},
        {"a qualifier the group cannot carry",
         Crystal("5.6402 5.6402 5.6402 90 90 90", "LABEL Fm-3m QUALIFIER ORIGIN_2", rockSalt), 8, "Fm-3m", {}},
        {"rutile", Crystal("4.594 4.594 2.959 90 90 90", "LABEL P42/mnm", "Ti 0 0 0\nO 0.305 0.305 0\n"), 6, "P42/mnm",
         {{0.5, 0.5, 0.5}, {0.195, 0.805, 0.5}}},
        {"corundum", Crystal("4.759 4.759 12.991 90 90 120", "LABEL R-3c", "Al 0 0 0.352\nO 0.306 0 0.25\n"), 30, "R-3c", {}},
        {"rhombohedral axes chosen", Crystal("5 5 5 60 60 60", "LABEL R-3m", "C 0 0 0\n"), 1, "R-3m", {}},
        {"hexagonal axes kept", Crystal("4 4 10 90 90 120", "LABEL R-3m", "C 0 0 0\n"), 3, "R-3m", {}},
        {"bar notation, rhombohedral", Crystal("5 5 5 60 60 60", "LABEL R3b", "C 0 0 0\n"), 1, "R-3", {}},
        {"bar notation, hexagonal", Crystal("5 5 12 90 90 120", "LABEL R3b", "C 0 0 0\n"), 3, "R-3", {}},
        {"b unique", Crystal("5 6 7 90 90 90", "NUMBER 14 QUALIFIER B_UNIQUE", "C 0.1 0.2 0.3\n"), 4, "", {{0.9, 0.7, 0.2}}},
        {"c unique", Crystal("5 6 7 90 90 90", "NUMBER 14 QUALIFIER C_UNIQUE", "C 0.1 0.2 0.3\n"), 4, "", {{0.4, 0.8, 0.8}}},
        {"operators of P21/c",
         "CELL 5 6 7 90 90 90\n"
         "SYMMETRY MATRIX 1 0 0 0 1 0 0 0 1 0 0 0\n"
         "SYMMETRY MATRIX -1 0 0 0 1 0 0 0 -1 0 0.5 0.5\n"
         "SYMMETRY MATRIX -1 0 0 0 -1 0 0 0 -1 0 0 0\n"
         "SYMMETRY MATRIX 1 0 0 0 -1 0 0 0 1 0 0.5 0.5\n"
         "ATOMS\nNAME X Y Z\nC 0.1 0.2 0.3\n",
         4, "P21/c", {{0.9, 0.7, 0.2}}},
        {"plane group", "CELL 10 10 90\nSYMMETRY LABEL p4mm\nATOMS\nNAME X Y Z\nC 0.1 0.2 0\n", 8, "p4mm", {{0.8, 0.9, 0}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const Imported imported = Import(c.text);
        ASSERT_EQ(imported.hr, S_OK) << imported.description;
        EXPECT_EQ(imported.Atoms().size(), c.atoms);
        if (*c.group) {
            EXPECT_EQ(imported.Definition().GetGroupName(), c.group);
        }
        const std::vector<Fraction> fractions = imported.Fractions();
        for (const Fraction& p : c.includes) {
            const bool found = std::any_of(fractions.begin(), fractions.end(), [&](const Fraction& f) {
                return std::fabs(f[0] - p[0]) < 1e-5 && std::fabs(f[1] - p[1]) < 1e-5 && std::fabs(f[2] - p[2]) < 1e-5;
            });
            EXPECT_TRUE(found) << p[0] << " " << p[1] << " " << p[2];
        }
        if (c.atoms == 8 && std::string(c.what).starts_with("diamond")) {
            std::vector<Fraction> expected = std::string(c.what) == "diamond, origin 1" ? diamond1 : diamond2;
            std::sort(expected.begin(), expected.end());
            ASSERT_EQ(fractions.size(), expected.size());
            for (std::size_t i = 0; i < expected.size(); ++i)
                for (std::size_t k = 0; k < 3; ++k) EXPECT_NEAR(fractions[i][k], expected[i][k], 1e-5) << i;
        }
        EXPECT_TRUE(imported.warnings.empty()) << imported.warnings.front();
    }
}

TEST_F(Xtl, RhombohedralSettingsAndQualifiersShowInTheDefinition) {
    struct Case {
        const char* what;
        std::string text;
        const char* qualifier;
        int number;
    };
    const Case cases[] = {
        {"rhombohedral by cell", Crystal("5 5 5 60 60 60", "LABEL R-3m", "C 0 0 0\n"), "Rhombohedral", 166},
        {"hexagonal by cell", Crystal("4 4 10 90 90 120", "LABEL R-3m", "C 0 0 0\n"), "Hexagonal", 166},
        {"by number", Crystal("5 5 5 60 60 60", "NUMBER 166", "C 0 0 0\n"), "Rhombohedral", 166},
        {"given hexagonal", Crystal("4 4 10 90 90 120", "NUMBER 166 QUALIFIER HEXAGONAL", "C 0 0 0\n"), "Hexagonal", 166},
        {"origin 2", Crystal("5.431 5.431 5.431 90 90 90", "LABEL Fd-3m QUALIFIER ORIGIN_2", "Si 0 0 0\n"), "Origin-2", 227},
        {"origin 1 by default", Crystal("5.431 5.431 5.431 90 90 90", "LABEL Fd-3m", "Si 0 0 0\n"), "Origin-1", 227},
        {"label before number", Crystal("5 5 5 90 90 90", "NUMBER 225 LABEL Pm-3m", "C 0 0 0\n"), "", 221},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const Imported imported = Import(c.text);
        ASSERT_EQ(imported.hr, S_OK) << imported.description;
        EXPECT_EQ(imported.Definition().GetQualifier(), c.qualifier);
        EXPECT_EQ(imported.Definition().GetITNumber(), c.number);
    }
}

TEST_F(Xtl, OperatorsThatFormNoGroupFallBackToP1) {
    struct Case {
        const char* what;
        std::string symmetry;
        std::vector<std::string> warnings;
        const char* group;
    };
    const Case cases[] = {
        {"one operator short",
         "CELL 5 6 7 90 90 90\nSYMMETRY MATRIX 1 0 0 0 1 0 0 0 1 0 0 0\nSYMMETRY MATRIX -1 0 0 0 1 0 0 0 -1 0 0.5 0.5\n"
         "SYMMETRY MATRIX -1 0 0 0 -1 0 0 0 -1 0 0 0\n",
         {kClosedWarning, kP1Warning}, "P1"},
        {"a non-number repeats the value before it",
         "CELL 5 6 7 90 90 90\nSYMMETRY MATRIX 1 0 0 0 1 0 0 0 1 0 0 0\nSYMMETRY MATRIX -1 0 0 0 1 0 0 0 -1 0 0.5 half\n"
         "SYMMETRY MATRIX -1 0 0 0 -1 0 0 0 -1\nSYMMETRY MATRIX 1 0 0 0 -1 0 0 0 1 0 0.5 0.5 7 7 7\n",
         {}, "P21/c"},
        {"nine values and a custom group",
         // A group no setting of the database lists in this basis: a 3-fold axis along x only.
         "CELL 5 6 6 120 90 90\nSYMMETRY MATRIX 1 0 0 0 1 0 0 0 1\nSYMMETRY MATRIX 1 0 0 0 0 -1 0 1 -1\n"
         "SYMMETRY MATRIX 1 0 0 0 -1 1 0 -1 0\n",
         {}, ""},
        {"nothing given", "CELL 5 6 7 90 90 90\nSYMMETRY LABEL (unknown)\n", {kP1Warning}, "P1"},
        {"an unknown label", "CELL 5 6 7 90 90 90\nSYMMETRY LABEL Qq7 NUMBER 0\n", {kP1Warning}, "P1"},
        {"(UNKNOWN) in another case", "CELL 5 6 7 90 90 90\nSYMMETRY LABEL (UNKNOWN)Pm-3m\n", {kP1Warning}, "P1"},
        {"operators keyword warns once",
         "CELL 5 6 7 90 90 90\nSYMMETRY OPERATORS OPERATORS LABEL P1\nSYMMETRY OPERATORS\n", {kOperatorsWarning}, "P1"},
        {"a keyword without value", "CELL 5 6 7 90 90 90\nSYMMETRY LABEL P-1 NUMBER\n", {}, "P-1"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const Imported imported = Import(c.symmetry + "ATOMS\nNAME X Y Z\nC 0.1 0.2 0.3\n");
        ASSERT_EQ(imported.hr, S_OK) << imported.description;
        EXPECT_EQ(imported.warnings, c.warnings);
        if (*c.group) {
            EXPECT_EQ(imported.Definition().GetGroupName(), c.group);
        }
        EXPECT_EQ(imported.Definition().GetDimension(), 3);
    }
}

// ---- cell --------------------------------------------------------------------------------------

TEST_F(Xtl, CellValuesFollowTheCountRules) {
    struct Case {
        const char* what;
        std::string text;
        int dimension;
        std::array<double, 3> lengths;  // a, b, c (c unused in 2-D)
        double gammaDegrees;
        bool warned;
    };
    const auto file = [](std::string_view head) {
        return std::string(head) + "SYMMETRY LABEL P1\nATOMS\nNAME X Y Z\nC 0 0 0\n";
    };
    const Case cases[] = {
        {"three clean values are 2-D", file("CELL 10 11 80\n"), 2, {10, 11, 0}, 80, false},
        {"three values with a fault stay 3-D", file("CELL 10 11 0 80\n"), 3, {10, 10, 10}, 90, false},
        {"four values get right angles", file("CELL 10 11 12 80\n"), 3, {10, 11, 12}, 90, true},
        {"five values", file("CELL 10 11 12 80 85\n"), 3, {10, 11, 12}, 90, true},
        {"six values", file("CELL 10 11 12 80 85 95\n"), 3, {10, 11, 12}, 95, false},
        {"seven values are cut", file("CELL 10 11 12 80 85 95 99\n"), 3, {10, 11, 12}, 95, false},
        {"two values", file("CELL 10 11\n"), 3, {10, 10, 10}, 90, true},
        {"no value", file("CELL\n"), 3, {10, 10, 10}, 90, true},
        {"small values and words do not count", file("CELL 10 0.0001 11 x 12 80 85 95\n"), 3, {10, 11, 12}, 95, false},
        {"values on the next line", file("CELL\n 10 11 12 80 85 95\n"), 3, {10, 11, 12}, 95, false},
        {"values beside the keyword win", file("CELL 10 11 12 80 85 95\n 1 2 3 4 5 6\n"), 3, {10, 11, 12}, 95, false},
        {"a section after an empty cell line", "CELL\nSYMMETRY LABEL Pm-3m\nATOMS\nNAME X Y Z\nC 0 0 0\n", 3,
         {10, 10, 10}, 90, true},
        {"DIM 3 with three values", file("DIMENSION 3\nCELL 10 11 12\n"), 3, {10, 11, 12}, 90, true},
        {"DIM 2 with six values", file("DIMENSION 2\nCELL 10 11 12 90 90 90\n"), 2, {10, 10, 0}, 90, true},
        {"DIM 2 after three values", file("CELL 10 11 80\nDIM 2\n"), 2, {10, 11, 0}, 80, false},
        {"angles that close no cell", file("CELL 10 11 12 170 170 170\n"), 3, {10, 10, 10}, 90, true},
        {"infinite values do not count", file("CELL 10 11 12 inf 80 85 95\n"), 3, {10, 11, 12}, 95, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const Imported imported = Import(c.text);
        ASSERT_EQ(imported.hr, S_OK) << imported.description;
        const xxSymmetryDefinition& definition = imported.Definition();
        EXPECT_EQ(definition.GetDimension(), c.dimension);
        EXPECT_NEAR(definition.GetA(), c.lengths[0], 1e-9);
        EXPECT_NEAR(definition.GetB(), c.lengths[1], 1e-9);
        if (c.dimension == 3) {
            EXPECT_NEAR(definition.GetC(), c.lengths[2], 1e-9);
        }
        EXPECT_NEAR(definition.GetGamma() * 180 / kPi, c.gammaDegrees, 1e-9);
        const bool warned = std::find(imported.warnings.begin(), imported.warnings.end(), kCellWarning) !=
                            imported.warnings.end();
        EXPECT_EQ(warned, c.warned);
    }
}

// ---- errors --------------------------------------------------------------------------------------

TEST_F(Xtl, FilesItCannotTakeFailWithTheirTexts) {
    struct Case {
        const char* what;
        std::string text;
        HRESULT hr;
        const char* description;
    };
    const Case cases[] = {
        {"empty", "", E_ABORT, "The file appears to be empty."},
        {"title only", "TITLE nothing here\n", E_ABORT, "The file appears to contain no structural data."},
        {"unknown lines only", "HELLO\nWORLD\n\n", E_ABORT, "The file appears to contain no structural data."},
        {"atoms without header", "TITLE x\nATOMS\n", E_ABORT, "The file appears to contain no structural data."},
        {"number 231", "SYMMETRY NUMBER 231\n", E_ABORT, "Invalid symmetry number (231)."},
        {"number -1", "SYMMETRY NUMBER -1\n", E_ABORT, "Invalid symmetry number (-1)."},
        {"number not a number", "SYMMETRY NUMBER 14.0\n", E_ABORT, "Invalid symmetry number (14.0)."},
        {"dimension 4", "DIMENSION 4\n", E_ABORT, "Invalid dimension (4)."},
        {"dimension missing", "DIMENSION\n", E_ABORT, "Invalid dimension ()."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const Imported imported = Import(c.text);
        EXPECT_EQ(imported.hr, c.hr);
        EXPECT_EQ(imported.description, c.description);
        EXPECT_EQ(imported.document->Tree().NumChildren(), 0u);
        EXPECT_EQ(Cfx::GetLastError().clsid, CLSID_XTLImportExport);
    }
    const Imported accepted = Import("SYMMETRY NUMBER 230\nATOMS\nNAME X Y Z\nC 0.125 0.125 0.125\n");
    EXPECT_EQ(accepted.hr, S_OK) << accepted.description;
    EXPECT_EQ(accepted.Definition().GetGroupName(), "Ia-3d");
}

TEST_F(Xtl, TheComponentsOwnFailures) {
    const std::string file = Crystal("5 5 5 90 90 90", "LABEL Pm-3m", "Q1 0 0 0\n");
    // No document.
    EXPECT_EQ(ImportInto(nullptr, file), E_INVALIDARG);
    EXPECT_EQ(Cfx::GetLastError().description, "Cannot access document root.");

    // A document that gives no tree.
    CfxComPtr<cvtest::ForwardingDocument> noTree =
        cvtest::ForwardingDocument::Over(host::Model3dDocument::Create(kAtomistic3dDocumentProgID));
    noTree->nullTree = true;
    EXPECT_EQ(ImportInto(static_cast<ISBDocumentRoot*>(noTree.Get()), file), E_UNEXPECTED);
    EXPECT_EQ(Cfx::GetLastError().description, "Cannot access underlying document.");

    // A document with neither a file nor a name.
    const Imported unnamed = Import(file, "");
    EXPECT_EQ(unnamed.hr, E_ABORT);
    EXPECT_EQ(unnamed.description, "Cannot extract name of document.");

    // A failing size query gives the stream's own failure.
    CfxComPtr<host::Model3dDocument> document = host::Model3dDocument::Create(kAtomistic3dDocumentProgID);
    document->SetName("crystal");
    cvtest::RecordingStream failing(file);
    failing.FailNth(cvtest::RecordingStream::Op::GetSize, 1, STG_E_READFAULT);
    CfxComPtr<ISBImporter> importer = cvtest::CreateConnected<ISBImporter>("SDCartovane.XTLImportExport", *root.Get());
    EXPECT_EQ(importer->Import(&failing, static_cast<ISBDocumentRoot*>(document.Get()), CfxVariant().Get()),
              STG_E_READFAULT);

    // Not connected to a container root.
    CfxComPtr<ISBImporter> unconnected;
    ASSERT_EQ(Cfx::CfxCreateImpl("SDCartovane.XTLImportExport", nullptr, CLSCTX_INPROC_SERVER, IID_ISBImporter,
                                 unconnected.OutVoid(), false),
              S_OK);
    CfxComPtr<ISBStream> stream = host::CreateMemoryStream(std::vector<char>(file.begin(), file.end()));
    EXPECT_EQ(unconnected->Import(stream.Get(), static_cast<ISBDocumentRoot*>(document.Get()), CfxVariant().Get()),
              E_UNEXPECTED);
    EXPECT_EQ(Cfx::GetLastError().description, "No container root is connected");
    EXPECT_EQ(document->Tree().NumChildren(), 0u);
}

TEST_F(Xtl, AWarningThatCannotBePostedFailsTheImportAndLeavesTheDocument) {
    // Two warnings: the cell's and the unknown atom's.
    const std::string file = "CELL 10 11 12 80\nSYMMETRY LABEL P1\nATOMS\nNAME X Y Z\nQ1 0 0 0\n";
    for (int failFrom : {1, 2}) {
        SCOPED_TRACE(failFrom);
        CfxComPtr<cvtest::TestContainerRoot> failingRoot = cvtest::TestContainerRoot::Create();
        CfxComPtr<cvtest::FailingDiagnostics> diagnostics = cvtest::FailingDiagnostics::Create(failFrom);
        failingRoot->SetDiagnosticsManager(diagnostics.Get());
        CfxComPtr<host::Model3dDocument> document = host::Model3dDocument::Create(kAtomistic3dDocumentProgID);
        document->SetName("crystal");
        CfxComPtr<ISBStream> stream = host::CreateMemoryStream(std::vector<char>(file.begin(), file.end()));
        CfxComPtr<ISBImporter> importer =
            cvtest::CreateConnected<ISBImporter>("SDCartovane.XTLImportExport", *failingRoot.Get());
        EXPECT_EQ(importer->Import(stream.Get(), static_cast<ISBDocumentRoot*>(document.Get()), CfxVariant().Get()),
                  E_ABORT);
        EXPECT_EQ(Cfx::GetLastError().description, "Unable to log error message.");
        EXPECT_EQ(diagnostics->posted.size(), static_cast<std::size_t>(failFrom - 1));
        EXPECT_EQ(document->Tree().NumChildren(), 0u);
    }
}

// ---- columns and rows ------------------------------------------------------------------------

TEST_F(Xtl, RowsAreReadByTheirColumns) {
    struct Expected {
        std::string name;
        xxPoint3d position;
        double occupancy = 1, charge = 0, bFactor = 0;
        int appliedTF = xxAtom3d::kNoTF;
    };
    struct Case {
        const char* what;
        std::string header, rows;
        std::vector<Expected> atoms;
        std::vector<std::string> warnings;
    };
    // A cube of 10 with P1: fractional 0.1 is 1 Angstrom.
    const Case cases[] = {
        {"all the columns", "NAME X Y Z OCCUP CHARGE TEMP", "Na1 0.1 0.2 0.3 0.5 -1.5 2.5\n",
         {{"Na1", {1, 2, 3}, 0.5, -1.5, 2.5, xxAtom3d::kIsotropicTF}}, {}},
        {"continued header and rows", "NAME X Y &\nZ OCC", "Na1 0.1 0.2 &\n0.3 0.25\nCl1 0.4 0.5 &\n0.6 1\n",
         {{"Na1", {1, 2, 3}, 0.25}, {"Cl1", {4, 5, 6}, 1}}, {}},
        {"a continued row too short at the first line", "NAME X Y &\nZ", "Na1 0.1\nCl1 0.4 0.5 &\n0.6\n",
         {{"Cl1", {4, 5, 6}}}, {}},
        {"a two-token scattering factor", "NAME X Y Z SCAT OCC", "Na1 0.1 0.2 0.3 Na 1+ 0.5\nCl1 0.4 0.5 0.6 Cl 0.75\n",
         {{"Na1", {1, 2, 3}, 0.5}, {"Cl1", {4, 5, 6}, 0.75}}, {}},
        {"short rows are dropped", "NAME X Y Z", "Na1 0.1 0.2\nCl1 0.4 0.5 0.6\n", {{"Cl1", {4, 5, 6}}}, {}},
        {"section keywords in the rows", "NAME X Y Z",
         "Na1 0.1 0.2 0.3\nEOF\nEND\nTITLE again\nCELL 3 3 3\nSYMMETRY NUMBER 999\nSKIP\nCl1 0.4 0.5 0.6\n",
         {{"Na1", {1, 2, 3}}, {"Cl1", {4, 5, 6}}}, {}},
        {"UISO in single precision", "NAME X Y Z UISO", "C1 0 0 0 0.01\n",
         {{"C1", {0, 0, 0}, 1, 0, static_cast<double>(0.01f * 78.95683f), xxAtom3d::kIsotropicTF}}, {}},
        {"BISO", "NAME X Y Z BISO", "C1 0 0 0 1.25\n", {{"C1", {0, 0, 0}, 1, 0, 1.25, xxAtom3d::kIsotropicTF}}, {}},
        {"fractional before Cartesian", "NAME CARX CARY CARZ X Y Z", "C1 7 8 9 0.1 0.2 0.3\n", {{"C1", {1, 2, 3}}}, {}},
        {"Cartesian alone", "NAME CARX CARY CARZ", "C1 7 8 9\n", {{"C1", {7, 8, 9}}}, {}},
        {"no coordinates", "NAME OCC", "C1 0.5\n", {{"C1", {0, 0, 0}, 0.5}}, {kNoCoordinatesWarning}},
        {"rows the model cannot take", "NAME X Y Z OCC",
         "C1 0.1 0.2 0.3 1\nC2 1/2 0 0 1\nC3 0 0 0 1.5\nC4 0 0 nan 1\nC5 0 0 0 -0.1\nC6 0.4 0.5 0.6 0\n",
         {{"C1", {1, 2, 3}, 1}, {"C6", {4, 5, 6}, 0}},
         {Warning("4 atom rows of the XTL file ", " could not be read and were skipped.")}},
        {"one row skipped", "NAME X Y Z CHARGE", "C1 0 0 0 1e999\n", {},
         {Warning("1 atom row of the XTL file ", " could not be read and was skipped.")}},
        {"tabs and CR LF", "NAME\tX\tY\tZ\r", "C1\t0.1\t0.2\t0.3\r\nO1 0.4 0.5 0.6\r\n",
         {{"C1", {1, 2, 3}}, {"O1", {4, 5, 6}}}, {}},
        {"a line over 255 characters", "NAME X Y Z", "C1 0.1 0.2" + std::string(300, ' ') + "0.3\n",
         {{"C1", {1, 2, 3}}}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const Imported imported =
            Import("CELL 10 10 10 90 90 90\nSYMMETRY LABEL P1\nATOMS\n" + c.header + "\n" + c.rows);
        ASSERT_EQ(imported.hr, S_OK) << imported.description;
        EXPECT_EQ(imported.warnings, c.warnings);
        const std::vector<xxAtom3d*> atoms = imported.Atoms();
        ASSERT_EQ(atoms.size(), c.atoms.size());
        for (std::size_t i = 0; i < atoms.size(); ++i) {
            const Expected& e = c.atoms[i];
            const xxAtom3d& atom = *atoms[i];
            EXPECT_EQ(atom.GetName(), e.name);
            EXPECT_NEAR(atom.GetXYZ().x, e.position.x, 1e-9) << e.name;
            EXPECT_NEAR(atom.GetXYZ().y, e.position.y, 1e-9) << e.name;
            EXPECT_NEAR(atom.GetXYZ().z, e.position.z, 1e-9) << e.name;
            EXPECT_DOUBLE_EQ(atom.GetOccupancy(), e.occupancy) << e.name;
            EXPECT_DOUBLE_EQ(atom.GetCharge(), e.charge) << e.name;
            EXPECT_NEAR(atom.GetIsotropicTF(xxAtom3d::kTFFormatB), e.bFactor, 1e-6) << e.name;
            EXPECT_EQ(atom.GetAppliedTF(), e.appliedTF) << e.name;
        }
    }
}

TEST_F(Xtl, UisoOfAHundredthIsAboutPointSevenNineInB) {
    const Imported imported =
        Import("CELL 10 10 10 90 90 90\nSYMMETRY LABEL P1\nATOMS\nNAME X Y Z UISO\nC1 0 0 0 0.01\n");
    ASSERT_EQ(imported.Atoms().size(), 1u);
    EXPECT_NEAR(imported.Atoms()[0]->GetIsotropicTF(xxAtom3d::kTFFormatB), 0.7896, 1e-4);
}

TEST_F(Xtl, UnknownAtomsBecomeLawrenciumAndAreCounted) {
    struct Case {
        std::string rows;
        std::vector<int> elements;
        std::vector<std::string> warnings;
    };
    const Case cases[] = {
        {"CA12 0 0 0\nO(1) 0.5 0 0\n", {20, 8}, {}},
        {"Q1 0 0 0\nO(1) 0.5 0 0\n", {103, 8}, {kOneUnknownWarning}},
        {"Q1 0 0 0\n9Z 0.5 0 0\n(1) 0 0.5 0\n", {103, 103, 103}, {UnknownWarning(3)}},
        {"Lr 0 0 0\n", {103}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.rows);
        const Imported imported = Import("CELL 10 10 10 90 90 90\nSYMMETRY LABEL P1\nATOMS\nNAME X Y Z\n" + c.rows);
        ASSERT_EQ(imported.hr, S_OK) << imported.description;
        std::vector<int> elements;
        for (const xxAtom3d* atom : imported.Atoms()) elements.push_back(atom->GetElementNumber());
        EXPECT_EQ(elements, c.elements);
        EXPECT_EQ(imported.warnings, c.warnings);
    }
}

TEST_F(Xtl, WarningsArePostedInTheOrderCollectedWithSeverityTwo) {
    const Imported imported = Import(
        "CELL 10 11 12 80\nSYMMETRY OPERATORS LABEL Qq7\nATOMS\nNAME OCC\nQ1 0.5\nNa 1.5\n");
    ASSERT_EQ(imported.hr, S_OK) << imported.description;
    const std::vector<std::string> expected = {
        kCellWarning, kOperatorsWarning, kP1Warning,
        Warning("1 atom row of the XTL file ", " could not be read and was skipped."), kOneUnknownWarning,
        kNoCoordinatesWarning};
    EXPECT_EQ(imported.warnings, expected);
    for (LONG severity : imported.severities) EXPECT_EQ(severity, 2);
    for (const host::DiagnosticMessage& m : root->Diagnostics().Messages()) EXPECT_EQ(m.source, "XTL importer");
}

TEST_F(Xtl, ACellTheGroupDoesNotKeepGivesP1AndKeepsTheRows) {
    const Imported imported = Import(Crystal("5 6 7 90 90 90", "LABEL Pm-3m", "Cs 0 0 0\nCl 0.5 0.5 0.5\n"));
    ASSERT_EQ(imported.hr, S_OK) << imported.description;
    EXPECT_EQ(imported.warnings, std::vector<std::string>{kP1Warning});
    EXPECT_EQ(imported.Definition().GetGroupName(), "P1");
    EXPECT_EQ(imported.Atoms().size(), 2u);
    EXPECT_NEAR(imported.Definition().GetB(), 6, 1e-12);
}

TEST_F(Xtl, TwoDimensionalFilesGetPlaneGroups) {
    struct Case {
        const char* what;
        std::string text;
        const char* group;
        std::size_t atoms;
        std::vector<std::string> warnings;
    };
    const Case cases[] = {
        {"by name", "CELL 10 10 90\nSYMMETRY LABEL p4mm\nATOMS\nNAME X Y Z\nC 0.1 0.2 0\n", "p4mm", 8, {}},
        {"by number", "CELL 10 10 90\nSYMMETRY NUMBER 11\nATOMS\nNAME X Y Z\nC 0.1 0.2 0\n", "p4mm", 8, {}},
        {"fallback", "CELL 10 12 80\nATOMS\nNAME X Y Z\nC 0.1 0.2 0\n", "p1", 1, {kP1Warning}},
        {"operators of p2",
         "CELL 10 12 80\nSYMMETRY MATRIX 1 0 0 0 1 0 0 0 1\nSYMMETRY MATRIX -1 0 0 0 -1 0 0 0 1\n"
         "ATOMS\nNAME X Y Z\nC 0.1 0.2 0\n",
         "p2", 2, {}},
        {"Cartesian rows lie in the xy plane", "CELL 10 10 90\nSYMMETRY LABEL p1\nATOMS\nNAME CARX CARY CARZ\nC 1 2 0\n",
         "p1", 1, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const Imported imported = Import(c.text);
        ASSERT_EQ(imported.hr, S_OK) << imported.description;
        EXPECT_EQ(imported.Definition().GetDimension(), 2);
        EXPECT_EQ(imported.Definition().GetGroupName(), c.group);
        EXPECT_EQ(imported.Atoms().size(), c.atoms);
        EXPECT_EQ(imported.warnings, c.warnings);
    }
    const Imported cartesian = Import("CELL 10 10 90\nSYMMETRY LABEL p1\nATOMS\nNAME CARX CARY CARZ\nC 1 2 0\n");
    EXPECT_EQ(cartesian.Definition().GetOrientationConvention(), xxLatticeOrientation::kXY);
    const Imported fractional = Import("CELL 10 12 60\nSYMMETRY LABEL p1\nATOMS\nNAME X Y Z\nC 1 0 0\n");
    EXPECT_NEAR(fractional.Definition().GetGamma(), kPi / 3, 1e-12);
    EXPECT_NEAR(fractional.Definition().GetB(), 12, 1e-12);
}

// ---- insertion -----------------------------------------------------------------------------------

TEST_F(Xtl, InsertionAddsTheCrystalAfterWhatTheOpenDocumentHolds) {
    CfxComPtr<host::Model3dDocument> open = host::Model3dDocument::Create(kAtomistic3dDocumentProgID);
    open->SetURL("/models/open model.xsd");
    open->Tree().CreateChild<xxMultiScaleMolecule>().SetName("already there");
    const std::string file = Crystal("5.6402 5.6402 5.6402 90 90 90", "NUMBER 225", "Na 0 0 0\nQ1 0.5 0.5 0.5\n");
    ASSERT_EQ(ImportInto(static_cast<ISBDocumentRoot*>(open.Get()), file, "SDCartovane.XTLToXODImport"), S_OK)
        << Cfx::GetLastError().description;
    const xxTreeRoot& tree = open->Tree();
    ASSERT_EQ(tree.NumChildren(), 2u);
    EXPECT_EQ(tree.GetChild(0).GetName(), "already there");
    const xxMatterSymmetrySystem* system = xxMatterSymmetrySystem::FirstOf(tree);
    ASSERT_NE(system, nullptr);
    EXPECT_EQ(system->ChildrenOf<xxAtom3d>().size(), 8u);
    ASSERT_EQ(root->Diagnostics().Messages().size(), 1u);
    EXPECT_NE(root->Diagnostics().Messages()[0].text.find("in the XTL file open model."), std::string::npos);
}

}  // namespace
