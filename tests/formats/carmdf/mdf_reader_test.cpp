// The MDF part of xxLoadCAR: topology records and bonds, the failures of each section and what
// survives them, the symmetry section, and bonds to symmetry images.
#include <gtest/gtest.h>

#include <functional>

#include "car_load_support.h"
#include "datamodel/symmetry/system.h"
#include "frame/messages.h"

namespace msg = cartovane::msg;
using namespace cvtest::carmdf;

namespace {

// Water (atoms 1-3) and an ethanol fragment in two residues (atoms 4-6).
std::string Car(std::string_view periodicity = "PBC=OFF", std::string_view cell = {}) {
    return CarHeader(periodicity) + std::string(cell) + AtomLine("O1", 0, 0, 0, "WAT", "1", "o*", "O", -0.82) + "\n" +
           AtomLine("H1", 0.96, 0, 0, "WAT", "1", "h*", "H", 0.41) + "\n" +
           AtomLine("H2", -0.24, 0.93, 0, "WAT", "1", "h*", "H", 0.41) + "\nend\n" +
           AtomLine("C1", 5, 0, 0, "ETH", "2", "c3", "C", -0.1) + "\n" +
           AtomLine("C2", 6.5, 0, 0, "ETH", "2", "c3", "C", -0.1) + "\n" +
           AtomLine("O1", 7, 1.2, 0, "ALC", "3", "oh", "O", -0.6) + "\nend\nend\n";
}

constexpr std::string_view kCell3d = "PBC   20.0000   20.0000   20.0000   90.0000   90.0000   90.0000 (P1)\n";

std::string Records1() {
    return MdfRecord("WAT_1:O1", {.chargeGroup = "B", .charge = -0.8, .switching = 1}, "H1 H2") + "\n" +
           MdfRecord("WAT_1:H1", {.element = "H", .type = "h*", .chargeGroup = "A", .isotope = "2", .formal = "1+",
                                  .charge = 0.4, .switching = 1, .oop = 1, .occupancy = 0.5, .tf = 0.05},
                     "O1") +
           "\n" +
           MdfRecord("WAT_1:H2", {.element = "H", .type = "h*", .chargeGroup = "A", .isotope = "0", .formal = "1/3-",
                                  .charge = 0.4, .oop = 2, .occupancy = 1.5, .tf = 0},
                     "O1") +
           "\n";
}
std::string Records2() {
    return MdfRecord("ETH_2:C1", {.element = "C", .type = "c3", .chargeGroup = "2"}, "C2/2.0") + "\n" +
           MdfRecord("ETH_2:C2", {.element = "C", .type = "c3", .chargeGroup = "2"}, "C1/2.0 ALC_3:O1/1.5") + "\n" +
           MdfRecord("ALC_3:O1", {.type = "oh", .chargeGroup = "3"}, "ETH_2:C2/1.5") + "\n";
}
std::string Topology() {
    return "#topology\n\n" + ColumnDeclarations() + "\n@molecule WATER\n\n" + Records1() + "\n@molecule ETHANOL\n\n" +
           Records2() + "\n";
}
std::string Mdf(std::string_view symmetry = {}, std::string_view atomsets = {}) {
    return MdfHeader() + Topology() + "!\n" + std::string(symmetry) + std::string(atomsets) + "#end\n";
}

// Replaces the first occurrence of what in text.
std::string Replace(std::string text, std::string_view what, std::string_view with) {
    const std::size_t at = text.find(what);
    EXPECT_NE(at, std::string::npos) << what;
    if (at != std::string::npos) text.replace(at, what.size(), with);
    return text;
}

const xxBond* BondOf(const Loaded& l, int a, int b) { return l.Atom(a)->FindBond(*l.Atom(b)); }

TEST(MdfTopology, RecordsBondsAndFields) {
    cvtest::TempDir dir;
    const Loaded l = Load(dir, Car(), Mdf());
    EXPECT_TRUE(l.posted.empty());
    EXPECT_FALSE(l.Reported(msg::CARLOAD_MDF_ATOM_NOLINE));
    const auto molecules = l.Molecules();
    EXPECT_EQ(molecules[0]->GetName(), "WATER");
    EXPECT_EQ(molecules[1]->GetName(), "ETHANOL");

    // Each bond stands in both records and is made once; the order suffix gives its type.
    ASSERT_NE(BondOf(l, 1, 2), nullptr);
    EXPECT_EQ(BondOf(l, 1, 2)->GetBondType(), xxBondType::Single);
    EXPECT_EQ(l.Atom(1)->GetBonds().size(), 2u);
    EXPECT_EQ(BondOf(l, 4, 5)->GetOrder(), 2.0);
    ASSERT_NE(BondOf(l, 5, 6), nullptr);
    EXPECT_EQ(BondOf(l, 5, 6)->GetBondType(), xxBondType::Partial);
    EXPECT_EQ(BondOf(l, 2, 3), nullptr);  // the "00" the connection column cuts from 0.0000 names no atom
    EXPECT_EQ(l.root->DescendentsOf<xxBond>().size(), 4u);

    const xxAtom3d* o1 = l.Atom3d(1);
    const xxAtom3d* h1 = l.Atom3d(2);
    const xxAtom3d* h2 = l.Atom3d(3);
    EXPECT_EQ(o1->GetCharge(), static_cast<double>(-0.8f));  // the MDF's charge wins
    EXPECT_EQ(h1->GetIsotope(), 2);
    EXPECT_EQ(h2->GetIsotope(), 0);  // "0" leaves it
    EXPECT_EQ(h1->GetFormalCharge(), (xxRational{1, 1}));
    EXPECT_EQ(h2->GetFormalCharge(), (xxRational{-1, 3}));
    EXPECT_TRUE(h1->IsOutOfPlane());
    EXPECT_TRUE(h2->IsOutOfPlane());
    EXPECT_FALSE(o1->IsOutOfPlane());
    EXPECT_EQ(h1->GetOccupancy(), 0.5);
    EXPECT_EQ(h2->GetOccupancy(), 1.0);  // 1.5 is no occupancy
    EXPECT_EQ(h1->GetAppliedTF(), xxAtom3d::kIsotropicTF);
    EXPECT_DOUBLE_EQ(h1->GetIsotropicTF(xxAtom3d::kTFFormatU), 0.05);
    EXPECT_EQ(h2->GetAppliedTF(), xxAtom3d::kNoTF);
    EXPECT_EQ(o1->GetAppliedTF(), xxAtom3d::kNoTF);
}

TEST(MdfTopology, ChargeGroupsWithSwitchingCentres) {
    cvtest::TempDir dir;
    const Loaded l = Load(dir, Car(), Mdf());
    const auto water = l.Molecules()[0]->ChildrenOf<xxSubUnit>()[0]->ChildrenOf<xxChargeGroup>();
    ASSERT_EQ(water.size(), 2u);  // in name order
    EXPECT_EQ(water[0]->GetName(), "A");
    EXPECT_EQ(water[0]->GetSwitchingCenter(), l.Atom(2));
    EXPECT_EQ(water[0]->GetAtoms(), (std::vector<xxAtom*>{l.Atom(2)->As<xxAtom>(), l.Atom(3)->As<xxAtom>()}));
    EXPECT_EQ(water[1]->GetName(), "B");
    EXPECT_EQ(water[1]->GetSwitchingCenter(), l.Atom(1));
    // No atom of "2" or "3" switches: no groups there.
    EXPECT_TRUE(l.Molecules()[1]->DescendentsOf<xxChargeGroup>().empty());
}

TEST(MdfTopology, ConnectionColumnOfTheFormat) {
    // The fields end before column 67; "H2" starts at 67 and "C9" (no atom) at 71.
    std::string record = "WAT_1:O1 O o* 1 0 0 -0.8 0 0 8 1 0";
    record.resize(67, ' ');
    record += "H2  C9 H1";
    for (char format : {'3', '4'}) {
        SCOPED_TRACE(format);
        cvtest::TempDir dir;
        const std::string mdf = MdfHeader(format) + "#topology\n\n" + ColumnDeclarations() + "\n@molecule W\n\n" +
                                record + "\n" + MdfRecord("WAT_1:H1", {.element = "H"}) + "\n" +
                                MdfRecord("WAT_1:H2", {.element = "H"}) + "\n\n@molecule E\n\n" + Records2() + "#end\n";
        const Loaded l = Load(dir, Car(), mdf);
        EXPECT_TRUE(l.posted.empty());
        EXPECT_NE(BondOf(l, 1, 2), nullptr);
        EXPECT_EQ(BondOf(l, 1, 3) != nullptr, format == '3');
    }
}

struct FailureCase {
    const char* label;
    std::function<std::string()> mdf;
    std::int32_t sectionMessage;  // what the load reports last; 0: the MDF reads
    std::int32_t cause;           // reported on the way; 0: none beyond the section's
    std::string_view sentence;    // of the posted text
    bool topologyRead;
    double c1c2Order;  // 2 from the MDF; 1 from perception when the topology stopped before it
};

class MdfFailure : public testing::TestWithParam<FailureCase> {};

TEST_P(MdfFailure, ReportsAndKeepsWhatWasRead) {
    const FailureCase& c = GetParam();
    cvtest::TempDir dir;
    const std::string periodic = std::string_view(c.label).starts_with("sym_") ? "PBC=ON" : "PBC=OFF";
    const Loaded l = Load(dir, Car(periodic, periodic == "PBC=ON" ? kCell3d : ""), c.mdf());
    EXPECT_EQ(l.hr, S_OK);
    if (c.cause) {
        EXPECT_TRUE(l.Reported(c.cause)) << testing::PrintToString(l.reports);
    }
    if (c.sectionMessage == 0) {
        EXPECT_TRUE(l.posted.empty());
    } else {
        EXPECT_EQ(l.lastMessage, c.sectionMessage) << testing::PrintToString(l.reports);
        ASSERT_EQ(l.posted.size(), 1u);
        EXPECT_EQ(l.posted[0], MdfProblem(dir.File("model.mdf"), c.sentence, !c.topologyRead));
    }
    // Bonds read before a failure stay; perception adds the others.
    ASSERT_NE(BondOf(l, 4, 5), nullptr);
    EXPECT_EQ(BondOf(l, 4, 5)->GetOrder(), c.c1c2Order);
    EXPECT_NE(BondOf(l, 1, 2), nullptr);
    EXPECT_EQ(l.Atoms().size(), 6u);
}

const std::string_view kTopology = "An error was encountered while reading the #topology section of the file.";
const std::string_view kSymmetry = "An error was encountered while reading the #symmetry section of the file.";

INSTANTIATE_TEST_SUITE_P(
    Cases, MdfFailure,
    testing::Values(
        FailureCase{"no_blank_after_molecule", [] { return Replace(Mdf(), "@molecule WATER\n\n", "@molecule WATER\n"); },
                    0, msg::CARLOAD_MDF_ATOM_NOLINE, {}, true, 2.0},
        FailureCase{"unknown_column_name",
                    [] { return Replace(Mdf(), "@column 5 formal_charge", "@column 5 formal_chrg"); },
                    msg::CARLOAD_MDF_TOPLG, msg::CARLOAD_MDF_COLUMN, kTopology, false, 2.0},
        FailureCase{"column_zero", [] { return Replace(Mdf(), "@column 1 element", "@column 0 element"); },
                    msg::CARLOAD_MDF_TOPLG, msg::CARLOAD_MDF_COLUMN, kTopology, false, 1.0},
        FailureCase{"column_81", [] { return Replace(Mdf(), "@column 12 connections", "@column 81 connections"); },
                    msg::CARLOAD_MDF_TOPLG, msg::CARLOAD_MDF_COLUMN, kTopology, false, 2.0},
        FailureCase{"more_molecules_than_the_car",
                    [] { return Replace(Mdf(), "!\n#end", "@molecule THIRD\n\nX_1:X1 O o 1 0 0 0 0 0 8 1 0\n!\n#end"); },
                    msg::CARLOAD_MDF_TOPLG, msg::CARLOAD_MDF_ATOMREC, kTopology, false, 2.0},
        FailureCase{"blank_line_inside_records",
                    [] { return Replace(Mdf(), "\nWAT_1:H1", "\n\nWAT_1:H1"); }, msg::CARLOAD_MDF_TOPLG,
                    msg::CARLOAD_MDF_ATOM_ECLINE, kTopology, false, 1.0},
        FailureCase{"too_few_fields",
                    [] { return Replace(Mdf(), MdfRecord("ETH_2:C1", {.element = "C", .type = "c3", .chargeGroup = "2"},
                                                         "C2/2.0"),
                                        "ETH_2:C1 C c3 2 0 0"); },
                    msg::CARLOAD_MDF_TOPLG, msg::CARLOAD_MDF_ATOM_ENTRY, kTopology, false, 2.0},
        FailureCase{"formal_charge_0_over_0", [] { return Replace(Mdf(), "1/3-", "0/0 "); }, msg::CARLOAD_MDF_TOPLG,
                    msg::CARLOAD_MDF_ATOM_ENTRY, kTopology, false, 1.0},
        FailureCase{"formal_charge_n_over_0", [] { return Replace(Mdf(), "1/3-", "2/0+"); }, msg::CARLOAD_MDF_TOPLG,
                    msg::CARLOAD_MDF_ATOM_ENTRY, kTopology, false, 1.0},
        FailureCase{"record_missing",
                    [] { return Replace(Mdf(), MdfRecord("ALC_3:O1", {.type = "oh", .chargeGroup = "3"}, "ETH_2:C2/1.5") + "\n",
                                        ""); },
                    msg::CARLOAD_MDF_TOPLG, msg::CARLOAD_NUMBER_ATOMS, kTopology, false, 2.0},
        FailureCase{"unknown_sub_unit", [] { return Replace(Mdf(), "ALC_3:O1 ", "ALC_9:O1 "); },
                    msg::CARLOAD_MDF_TOPLG, msg::CARLOAD_MDF_SUBUNIT_NAMES, kTopology, false, 2.0},
        FailureCase{"unknown_atom", [] { return Replace(Mdf(), "WAT_1:H2 ", "WAT_1:H9 "); }, msg::CARLOAD_MDF_TOPLG,
                    msg::CARLOAD_MDF_SUBUNIT_NAMES, kTopology, false, 1.0},
        FailureCase{"unknown_statement", [] { return Replace(Mdf(), "@molecule ETHANOL", "@bogus\n@molecule ETHANOL"); },
                    msg::CARLOAD_MDF_TOPLG, 0, kTopology, false, 1.0},
        FailureCase{"columns_end_the_file", [] { return MdfHeader() + "#topology\n\n" + ColumnDeclarations(); },
                    msg::CARLOAD_MDF_TOPLG, 0, kTopology, false, 1.0},
        FailureCase{"assembly_ends_the_file",
                    [] { return MdfHeader() + "#topology\n\n" + ColumnDeclarations() + "@assembly\n\n"; },
                    msg::CARLOAD_MDF_TOPLG, 0, kTopology, false, 1.0},
        FailureCase{"header_only", [] { return std::string("#topology\n"); }, msg::CARLOAD_MDF_FORMAT, 0,
                    "File does not have format type 3 or 4.", false, 1.0},
        FailureCase{"empty_file", [] { return std::string(); }, msg::CARLOAD_MDF_FORMAT, 0,
                    "File does not have format type 3 or 4.", false, 1.0},
        FailureCase{"sym_periodicity_4", [] { return Mdf("#symmetry\n@periodicity 4 xyz\n@group (P1)\n"); },
                    msg::CARLOAD_MDF_SYM, 0, kSymmetry, true, 2.0},
        FailureCase{"sym_periodicity_missing", [] { return Mdf("#symmetry\n@periodicity\n"); }, msg::CARLOAD_MDF_SYM, 0,
                    kSymmetry, true, 2.0},
        FailureCase{"sym_unknown_axes", [] { return Mdf("#symmetry\n@periodicity 3 abc\n@group (P1)\n"); },
                    msg::CARLOAD_MDF_SYM, 0, kSymmetry, true, 2.0},
        FailureCase{"sym_unknown_axes_then_known",
                    [] { return Mdf("#symmetry\n@periodicity 3 abc\n@periodicity 3 XYZ\n@group (P1)\n"); }, 0, 0, {},
                    true, 2.0},
        FailureCase{"sym_matrix_missing",
                    [] {
                        return Mdf("#symmetry\n@periodicity 3 xyz\n@group matrix 2\n@matrix 1 X,Y,Z\n"
                                   " 1.000  0.000  0.000  0.000\n 0.000  1.000  0.000  0.000\n"
                                   " 0.000  0.000  1.000  0.000\n 0.000  0.000  0.000  1.000\n");
                    },
                    msg::CARLOAD_MDF_SYM, 0, kSymmetry, true, 2.0},
        FailureCase{"sym_matrix_huge_translation",
                    [] {
                        return Mdf("#symmetry\n@periodicity 3 xyz\n@group matrix 2\n@matrix 1 X,Y,Z\n"
                                   " 1.000  0.000  0.000  0.000\n 0.000  1.000  0.000  0.000\n"
                                   " 0.000  0.000  1.000  0.000\n 0.000  0.000  0.000  1.000\n@matrix 2 -X,-Y,-Z\n"
                                   "-1.000  0.000  0.000 -2.2e57\n 0.000 -1.000  0.000  0.000\n"
                                   " 0.000  0.000 -1.000  0.000\n 0.000  0.000  0.000  1.000\n");
                    },
                    msg::CARLOAD_MDF_SYM, 0, kSymmetry, true, 2.0},
        FailureCase{"sym_matrix_not_finite",
                    [] {
                        return Mdf("#symmetry\n@periodicity 3 xyz\n@group matrix 1\n@matrix 1 X,Y,Z\n"
                                   " 1.000  0.000  0.000  nan\n 0.000  1.000  0.000  0.000\n"
                                   " 0.000  0.000  1.000  0.000\n 0.000  0.000  0.000  1.000\n");
                    },
                    msg::CARLOAD_MDF_SYM, 0, kSymmetry, true, 2.0},
        FailureCase{"sym_matrix_short_row",
                    [] {
                        return Mdf("#symmetry\n@group matrix 1\n@matrix 1 X,Y,Z\n 1.000  0.000  0.000\n");
                    },
                    msg::CARLOAD_MDF_SYM, 0, kSymmetry, true, 2.0}),
    [](const auto& param) { return std::string(param.param.label); });

// Sections come in any order; the topology's records survive a later failure.
TEST(MdfSections, OrderAndAtomSetFailure) {
    cvtest::TempDir dir;
    const std::string mdf = MdfHeader() + "#symmetry\n@periodicity 3 zyx\n@group (P1)\n" + Topology() +
                            "#atomset\n\n@list subset\n\n#end\n";
    const Loaded l = Load(dir, Car("PBC=ON", kCell3d), mdf);
    ASSERT_NE(l.System(), nullptr);
    EXPECT_EQ(l.System()->GetSymmetryDefinition().GetOrientationConvention(), 0);
    EXPECT_EQ(BondOf(l, 4, 5)->GetOrder(), 2.0);
    EXPECT_EQ(l.Reported(msg::CARLOAD_MDF_ATOMSET), true);
    ASSERT_EQ(l.posted.size(), 1u);
    EXPECT_EQ(l.posted[0], MdfProblem(dir.File("model.mdf"),
                                      "An error was encountered while reading the #atomset section of the file.", false));
}

struct GroupCase {
    const char* label;
    std::string_view cellGroup;  // of the CAR's cell line
    std::string symmetry;
    int itNumber;
    int operators;
    std::string_view qualifierWord;
};

TEST(MdfSymmetry, GroupLines) {
    const std::string inversion =
        "@group matrix 2\n@matrix 1 X,Y,Z\n 1.000  0.000  0.000  0.000\n 0.000  1.000  0.000  0.000\n"
        " 0.000  0.000  1.000  0.000\n 0.000  0.000  0.000  1.000\n@matrix 2 -X,-Y,-Z\n"
        "-1.000  0.000  0.000  0.000\n 0.000 -1.000  0.000  0.000\n 0.000  0.000 -1.000  0.000\n"
        " 0.000  0.000  0.000  1.000\n";
    const GroupCase cases[] = {
        {"qualifier", "(P1)", "@group (P 1 21/c 1) [B_UNIQUE]\n", 14, 4, "B-Unique"},
        {"no_parentheses", "(P-1)", "@group P21/c\n", 1, 1, ""},
        {"matrix_0_keeps_identity", "(P-1)", "@group matrix 0\n", 1, 1, ""},
        {"matrix_list", "(unknown)", inversion, 2, 2, ""},
        {"named_after_unknown", "(unknown)", "@group (P-1)\n", 2, 2, ""},
    };
    for (const GroupCase& c : cases) {
        SCOPED_TRACE(c.label);
        cvtest::TempDir dir;
        const std::string cell =
            "PBC   10.0000   11.0000   12.0000   90.0000  100.0000   90.0000 " + std::string(c.cellGroup) + "\n";
        const Loaded l = Load(dir, Car("PBC=ON", cell), Mdf("#symmetry\n@periodicity 3 xyz\n" + c.symmetry));
        EXPECT_TRUE(l.posted.empty()) << testing::PrintToString(l.posted);
        ASSERT_NE(l.System(), nullptr);
        const xxSymmetryDefinition& d = l.System()->GetSymmetryDefinition();
        EXPECT_EQ(d.GetDimension(), 3);
        EXPECT_EQ(d.GetITNumber(), c.itNumber);
        EXPECT_EQ(d.GetNumOperators(), c.operators);
        if (!c.qualifierWord.empty()) {
            EXPECT_NE(d.GetQualifier().find(c.qualifierWord), std::string::npos) << d.GetQualifier();
        }
    }
}

TEST(MdfSymmetry, TwoDimensionalAxes) {
    cvtest::TempDir dir;
    const Loaded l = Load(dir, Car("PBC=2D", "PBC    20.0000   21.0000   90.0000(p1)\n"),
                          Mdf("#symmetry\n@periodicity 2 yx\n@group (p1)\n"));
    EXPECT_TRUE(l.posted.empty());
    ASSERT_NE(l.System(), nullptr);
    EXPECT_EQ(l.System()->GetSymmetryDefinition().GetOrientationConvention(), 20);
}

// One residue X_1 with two atoms near opposite faces of a 10-unit cube.
struct ImageCase {
    const char* label;
    std::string_view cell;   // group in parentheses
    std::string_view dravik; // a comment line before the topology
    std::string_view tokenOfX2;
    xxPoint3d partnerOfX2;  // where X2's bonded image of X1 stands
};

TEST(MdfSymmetry, BondsToImages) {
    const ImageCase cases[] = {
        {"next_cell", "(P1)", "", "X1%100", {10.5, 5, 5}},
        {"operator_and_offsets", "(P-1)", "", "X1%0+10#2", {-0.5, 5, -5}},
        {"operator_without_offsets", "(P-1)", "", "X1#2", {-0.5, -5, -5}},
        {"dravik4_2d_swaps_offsets", "", "! written by Dravik4\n", "X1%100", {0.5, 15, 5}},
    };
    for (const ImageCase& c : cases) {
        SCOPED_TRACE(c.label);
        cvtest::TempDir dir;
        const bool twoD = std::string_view(c.label).find("2d") != std::string_view::npos;
        const std::string cell = twoD ? "PBC    10.0000   10.0000   90.0000(p1)\n"
                                      : "PBC   10.0000   10.0000   10.0000   90.0000   90.0000   90.0000 " +
                                            std::string(c.cell) + "\n";
        const std::string car = CarHeader(twoD ? "PBC=2D" : "PBC=ON") + cell +
                                AtomLine("X1", 0.5, 5, 5, "X", "1", "c", "C", 0) + "\n" +
                                AtomLine("X2", 9.6, 5, 3, "X", "1", "c", "C", 0) + "\nend\nend\n";
        const std::string mdf = MdfHeader() + std::string(c.dravik) + "#topology\n\n" + ColumnDeclarations() +
                                "\n@molecule X\n\n" + MdfRecord("X_1:X1", {.element = "C"}) + "\n" +
                                MdfRecord("X_1:X2", {.element = "C"}, c.tokenOfX2) + "\n\n#end\n";
        const Loaded l = Load(dir, car, mdf);
        EXPECT_TRUE(l.posted.empty()) << testing::PrintToString(l.posted);
        const xxBondable* x2 = l.Atom(2);
        ASSERT_EQ(x2->GetAttached().size(), 1u);
        const xxPoint3d p = x2->GetAttached()[0]->GetXYZ();
        EXPECT_NEAR(p.x, c.partnerOfX2.x, 1e-6);
        EXPECT_NEAR(p.y, c.partnerOfX2.y, 1e-6);
        EXPECT_NEAR(p.z, c.partnerOfX2.z, 1e-6);
    }
}

std::string Fixture(std::string_view name) {
    return cvtest::TempDir::Slurp(std::string(CARTOVANE_TEST_DATA) + "/carmdf/" + std::string(name));
}

// A hand-written periodic model: a chain bonded across the cell boundary and a water. Read with
// LF and with CR LF line ends, it gives the same tree.
TEST(MdfFixture, ChainAcrossTheCellInBothLineEnds) {
    auto crlf = [](const std::string& text) {
        std::string out;
        for (char ch : text) {
            if (ch == '\n') out += '\r';
            out += ch;
        }
        return out;
    };
    auto digest = [](const Loaded& l) {
        std::string d;
        l.root->ForEachDescendent([&](xxObject& o) {
            const xxPoint3d p = o.GetXYZ();
            d += o.GetClass().GetName() + " " + o.GetName() + " " + std::to_string(o.GetID()) + " " +
                 std::to_string(p.x) + "," + std::to_string(p.y) + "," + std::to_string(p.z) + "\n";
            if (const xxBond* b = o.As<xxBond>()) d += " order " + std::to_string(b->GetOrder()) + "\n";
            return true;
        });
        return d;
    };
    std::string digests[2];
    for (bool crLf : {false, true}) {
        SCOPED_TRACE(crLf ? "CR LF" : "LF");
        cvtest::TempDir dir;
        const std::string car = Fixture("chain.car"), mdf = Fixture("chain.mdf");
        const Loaded l =
            Load(dir, crLf ? crlf(car) : car, crLf ? crlf(mdf) : mdf, {.carName = "chain.car", .mdfName = "chain.mdf"});
        EXPECT_TRUE(l.posted.empty()) << testing::PrintToString(l.posted);
        ASSERT_NE(l.System(), nullptr);
        EXPECT_EQ(l.System()->GetPeriodicDimension(), 3);
        const auto molecules = l.Molecules();
        ASSERT_EQ(molecules.size(), 2u);
        EXPECT_EQ(molecules[1]->GetName(), "water");

        // C1 and C2 bond in the cell and to each other's images in the next cells.
        xxBondable* c1 = l.Atom(1);
        xxBondable* c2 = l.Atom(2);
        ASSERT_NE(BondOf(l, 1, 2), nullptr);
        EXPECT_EQ(BondOf(l, 1, 2)->GetOrder(), 2.0);
        std::vector<xxPoint3d> partnersOfC1, partnersOfC2;
        for (xxBondable* b : c1->GetAttached()) partnersOfC1.push_back(b->GetXYZ());
        for (xxBondable* b : c2->GetAttached()) partnersOfC2.push_back(b->GetXYZ());
        EXPECT_EQ(partnersOfC1, (std::vector<xxPoint3d>{{3.75, 5, 5}, {-1.25, 5, 5}}));
        EXPECT_EQ(partnersOfC2, (std::vector<xxPoint3d>{{1.25, 5, 5}, {6.25, 5, 5}}));
        for (xxBondable* b : c1->GetAttached()) EXPECT_EQ(c1->FindBond(*b)->GetOrder(), 2.0);
        for (xxBondable* b : c2->GetAttached()) EXPECT_EQ(c2->FindBond(*b)->GetOrder(), 2.0);

        const xxAtom3d* o1 = l.Atom3d(3);
        EXPECT_EQ(o1->GetFormalCharge(), (xxRational{-1, 1}));
        EXPECT_EQ(l.Atom3d(4)->GetOccupancy(), 0.5);
        EXPECT_EQ(l.Atom3d(5)->GetIsotope(), 2);
        const auto groups = molecules[1]->DescendentsOf<xxChargeGroup>();
        ASSERT_EQ(groups.size(), 1u);
        EXPECT_EQ(groups[0]->GetSwitchingCenter(), o1);
        EXPECT_EQ(groups[0]->GetAtoms().size(), 3u);

        const auto sets = l.root->DescendentsOf<xxSet>();
        ASSERT_EQ(sets.size(), 2u);
        EXPECT_EQ(sets[0]->GetName(), "CHAIN");
        EXPECT_EQ(sets[0]->GetSize(), 2u);
        EXPECT_EQ(sets[1]->GetName(), "OH");
        EXPECT_EQ(sets[1]->GetMembersOf<xxDistanceStretcher>().size(), 1u);
        digests[crLf ? 1 : 0] = digest(l);
    }
    EXPECT_EQ(digests[1], digests[0]);
}

}  // namespace
