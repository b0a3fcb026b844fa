// The text rules of the CAR/MDF reader that stand without a model: fixed columns, keywords,
// fractions, connection tokens, group lines, companion paths.
#include "formats/carmdf/car_scan.h"

#include <gtest/gtest.h>

#include <string>

#include "formats/carmdf/car_writer.h"
#include "support/temp_dir.h"

namespace cs = cartovane::carscan;

namespace {

// An archive-3 atom line as the writer lays it out (80 columns).
constexpr std::string_view kLine3 =
    "O1       1.000000000   -2.500000000   10.250000000 WAT  1      o*      O  -0.820";

// An archive-2 atom line with each field at its column.
std::string Archive2Line() {
    std::string line(70, ' ');
    auto put = [&](std::size_t column, std::string_view text) { line.replace(column, text.size(), text); };
    put(0, "C1");
    put(5, "1.0");
    put(20, "-2.5");
    put(35, "10.25");
    put(51, "WAT");
    put(55, "12");
    put(61, "c3");
    put(64, "Cl");
    put(66, "-0.5");
    return line;
}

TEST(CarAtomLine, WrittenLineReadsBack) {
    ASSERT_EQ(kLine3.size(), 80u);
    cs::CarAtomFields f;
    cs::ParseAtomLine(kLine3, cs::ColumnsOf(cs::CarArchive::Archive3), f);
    EXPECT_EQ(f.name, "O1");
    EXPECT_DOUBLE_EQ(f.x, 1.0);
    EXPECT_DOUBLE_EQ(f.y, -2.5);
    EXPECT_DOUBLE_EQ(f.z, 10.25);
    EXPECT_EQ(f.residueName, "WAT");
    EXPECT_EQ(f.residueNumber, "1");
    EXPECT_EQ(f.type, "o*");
    EXPECT_EQ(f.Element(), "O");
    EXPECT_FLOAT_EQ(f.charge, -0.82f);
}

struct ShortLineCase {
    const char* label;
    cs::CarArchive archive;
    std::size_t length;  // of kLine3's prefix, or of an archive-2 line
    bool full;           // type, element and charge read from the line
};

class CarShortLine : public testing::TestWithParam<ShortLineCase> {};

// Lines of at most 63 (archive 3) or 61 (archive 2) characters carry no type, element, charge.
TEST_P(CarShortLine, CutsAtTheArchiveLimit) {
    const ShortLineCase& c = GetParam();
    std::string line = c.archive == cs::CarArchive::Archive3 ? std::string(kLine3) : Archive2Line();
    line.resize(c.length, ' ');
    cs::CarAtomFields f;
    cs::ParseAtomLine(line, cs::ColumnsOf(c.archive), f);
    if (c.full) {
        EXPECT_NE(f.type, "?");
        EXPECT_NE(f.Element(), "unknown");
    } else {
        EXPECT_EQ(f.type, "?");
        EXPECT_EQ(f.Element(), "unknown");
        EXPECT_EQ(f.charge, 0.0f);
    }
}

INSTANTIATE_TEST_SUITE_P(Lengths, CarShortLine,
                         testing::Values(ShortLineCase{"a3_63", cs::CarArchive::Archive3, 63, false},
                                         ShortLineCase{"a3_64", cs::CarArchive::Archive3, 64, true},
                                         ShortLineCase{"a2_61", cs::CarArchive::Archive2, 61, false},
                                         ShortLineCase{"a2_62", cs::CarArchive::Archive2, 62, true}),
                         [](const auto& param) { return std::string(param.param.label); });

TEST(CarAtomLine, Archive2ColumnsAreTheirOwn) {
    const std::string line = Archive2Line();
    cs::CarAtomFields f;
    cs::ParseAtomLine(line, cs::ColumnsOf(cs::CarArchive::Archive2), f);
    EXPECT_EQ(f.name, "C1");
    EXPECT_DOUBLE_EQ(f.x, 1.0);
    EXPECT_DOUBLE_EQ(f.z, 10.25);
    EXPECT_EQ(f.residueName, "WAT");
    EXPECT_EQ(f.residueNumber, "12");
    EXPECT_EQ(f.type, "c3");
    EXPECT_EQ(f.Element(), "Cl");
    EXPECT_FLOAT_EQ(f.charge, -0.5f);
}

TEST(CarAtomLine, ElementSecondLetterLowerCased) {
    std::string line(kLine3);
    line.replace(71, 2, "CL");
    cs::CarAtomFields f;
    cs::ParseAtomLine(line, cs::ColumnsOf(cs::CarArchive::Archive3), f);
    EXPECT_EQ(f.Element(), "Cl");
    line.replace(71, 2, "DU");
    cs::ParseAtomLine(line, cs::ColumnsOf(cs::CarArchive::Archive3), f);
    EXPECT_EQ(f.Element(), "Du");
    EXPECT_EQ(cs::AtomKindOf(f.Element()), cs::CarAtomKind::Dummy);
    EXPECT_EQ(cs::AtomKindOf("D"), cs::CarAtomKind::Deuterium);
    EXPECT_EQ(cs::AtomKindOf("Dy"), cs::CarAtomKind::Element);
}

// A field the line does not reach is absent, and nothing of an earlier line shows through.
TEST(CarAtomLine, FieldsBeyondTheLineAreAbsent) {
    cs::CarAtomFields f;
    cs::ParseAtomLine(kLine3, cs::ColumnsOf(cs::CarArchive::Archive3), f);
    const std::string shortLine(kLine3.substr(0, 30));  // name, x, part of y
    cs::ParseAtomLine(shortLine, cs::ColumnsOf(cs::CarArchive::Archive3), f);
    EXPECT_EQ(f.name, "O1");
    EXPECT_DOUBLE_EQ(f.x, 1.0);
    EXPECT_DOUBLE_EQ(f.y, -2.5);
    EXPECT_EQ(f.z, 0.0);
    EXPECT_EQ(f.residueName, "");
    EXPECT_EQ(f.residueNumber, "");

    // A long line with blank type and element columns takes what the scan finds after them,
    // and a charge that does not convert reads 0.
    std::string odd(kLine3);
    odd.replace(74, 6, "  abc ");
    cs::ParseAtomLine(odd, cs::ColumnsOf(cs::CarArchive::Archive3), f);
    EXPECT_EQ(f.charge, 0.0f);
}

TEST(CarHeader, ArchiveAndPeriodicity) {
    EXPECT_EQ(cs::ArchiveOf("!KORVEN archive 3"), cs::CarArchive::Archive3);
    EXPECT_EQ(cs::ArchiveOf("!KORVEN archive 2 and more"), cs::CarArchive::Archive2);
    EXPECT_EQ(cs::ArchiveOf("!KORVEN archive 4"), cs::CarArchive::None);
    EXPECT_EQ(cs::ArchiveOf("!korven archive 3"), cs::CarArchive::None);
    struct Case {
        std::string_view line;
        cs::CarPeriodicity p;
    };
    for (const Case& c : {Case{"PBC=ON", cs::CarPeriodicity::ThreeD}, Case{"pbc=on", cs::CarPeriodicity::ThreeD},
                          Case{"PbC=oN extra", cs::CarPeriodicity::ThreeD}, Case{"PBC=2D", cs::CarPeriodicity::TwoD},
                          Case{"pbc=2d", cs::CarPeriodicity::TwoD}, Case{"PBC=OFF", cs::CarPeriodicity::None},
                          Case{"PBC=O", cs::CarPeriodicity::None}, Case{"", cs::CarPeriodicity::None},
                          Case{" PBC=ON", cs::CarPeriodicity::None}})
        EXPECT_EQ(cs::PeriodicityOf(c.line), c.p) << c.line;
}

TEST(CarCellLine, NumbersAndGroupName) {
    const std::string_view line = "PBC   10.0000   11.0000   12.0000   90.0000   90.0000  120.0000 (P 21/c)";
    double v[6] = {};
    EXPECT_EQ(cs::ScanCellNumbers(line, v, 6), 6u);
    EXPECT_DOUBLE_EQ(v[2], 12.0);
    EXPECT_DOUBLE_EQ(v[5], 120.0);
    EXPECT_EQ(cs::ParenthesisedName(line), std::optional<std::string_view>("P 21/c"));
    EXPECT_EQ(cs::ScanCellNumbers("PBC   10.0000   11.0000", v, 6), 2u);
    // Two-dimensional lines put "(" right after the angle.
    EXPECT_EQ(cs::ScanCellNumbers("PBC    5.0000    6.0000   90.0000(p2mm)", v, 3), 3u);
    EXPECT_DOUBLE_EQ(v[2], 90.0);

    struct Case {
        std::string_view line;
        std::optional<std::string_view> name;
    };
    for (const Case& c : {Case{"PBC 1 2 3 90 90 90", std::nullopt}, Case{"PBC 1 2 3 90 90 90 ()", ""},
                          Case{"PBC 1 2 3 (a) (b)", "b"}, Case{"PBC 1 2 3 )x(", std::nullopt},
                          Case{"(P1)", std::nullopt}})
        EXPECT_EQ(cs::ParenthesisedName(c.line), c.name) << c.line;
}

TEST(CarPaths, BaseNameAndCompanion) {
    struct Case {
        std::string_view path, base, mdf;
    };
    for (const Case& c : {Case{"/data/model.car", "model", "/data/model.mdf"},
                          Case{"C:\\data\\model.car", "model", "C:\\data\\model.mdf"},
                          Case{"/data/model.CAR", "model.CAR", "/data/model.mdf"},
                          Case{"/data/run.arc", "run", "/data/run.mdf"},
                          Case{"/data/v1.2/model", "model", "/data/v1.2/model.mdf"},
                          Case{"model", "model", "model.mdf"},
                          Case{"/data/.hidden", ".hidden", "/data/.hidden.mdf"},
                          Case{"a.c", "a.c", "a.mdf"},
                          Case{"", "", ""},
                          Case{"/data/", "", ""}}) {
        EXPECT_EQ(cs::BaseName(c.path), c.base) << c.path;
        EXPECT_EQ(cs::CompanionMdfPath(c.path), c.mdf) << c.path;
    }
}

// The reader and the writer find the MDF by one rule; only a path that names no file has no
// companion for the reader, where the writer appends (and reports the missing extension).
TEST(CarPaths, OneCompanionRuleForReaderAndWriter) {
    struct Case {
        std::string_view path, mdf;
        bool replaced;
    };
    for (const Case& c : {Case{"model.car", "model.mdf", true}, Case{"/d/run.arc", "/d/run.mdf", true},
                          Case{"a.c", "a.mdf", true}, Case{"/d/v1.2/model", "/d/v1.2/model.mdf", false},
                          Case{".car", ".car.mdf", false}, Case{"dir/", "dir/.mdf", false},
                          Case{"", ".mdf", false}}) {
        const cs::CompanionName name = cs::CompanionPath(c.path, ".mdf");
        EXPECT_EQ(name.path, c.mdf) << c.path;
        EXPECT_EQ(name.replaced, c.replaced) << c.path;
        std::string written;
        EXPECT_EQ(xxSaveCAR::DeriveMdfPath(c.path, written), c.replaced) << c.path;
        EXPECT_EQ(written, c.mdf) << c.path;
        const bool namesNoFile = c.path.empty() || c.path.back() == '/';
        EXPECT_EQ(cs::CompanionMdfPath(c.path), namesNoFile ? "" : c.mdf) << c.path;
    }
}

TEST(MdfHeader, FormatAndConnectionColumn) {
    EXPECT_EQ(cs::MdfFormatOf("!KORVEN molecular_data 4"), 4);
    EXPECT_EQ(cs::MdfFormatOf("!KORVEN molecular_data 3 old"), 3);
    EXPECT_EQ(cs::MdfFormatOf("!KORVEN molecular_data 5"), 0);
    EXPECT_EQ(cs::MdfFormatOf("!KORVEN molecular_dat"), 0);
    EXPECT_EQ(cs::ConnectionColumnOf("!KORVEN molecular_data 4"), 71u);
    EXPECT_EQ(cs::ConnectionColumnOf("!KORVEN molecular_data 3"), 67u);
}

TEST(MdfColumns, NamesToCodes) {
    const std::pair<std::string_view, char> cases[] = {
        {"element", 'e'},        {"atom_type", 'a'},  {"charge_group", 'g'},     {"isotope", 'i'},
        {"formal_charge", 'f'},  {"charge", 'c'},     {"switching_atom", 's'},   {"oop_flag", 'p'},
        {"chirality_flag", 'y'}, {"occupancy", 'o'},  {"xray_temp_factor", 't'}, {"connections", 'x'},
        {"Element", 'U'},        {"bogus", 'U'},
    };
    for (const auto& [name, code] : cases) EXPECT_EQ(cs::ColumnCodeOf(name), code) << name;
}

TEST(MdfFraction, Texts) {
    struct Case {
        std::string_view text;
        std::optional<cs::Fraction> value;
    };
    using F = cs::Fraction;
    for (const Case& c : {Case{"", F{0, 1}}, Case{"0", F{0, 1}}, Case{"3", F{3, 1}}, Case{"1+", F{1, 1}},
                          Case{"2-", F{-2, 1}}, Case{"1/3+", F{1, 3}}, Case{"-1/3", F{-1, 3}}, Case{"2/4-", F{-1, 2}},
                          Case{"+2", F{2, 1}}, Case{"6/3", F{2, 1}}, Case{"0/5", F{0, 1}},
                          Case{"0/0", std::nullopt}, Case{"3/0-", std::nullopt}, Case{"x", std::nullopt},
                          Case{"ab", std::nullopt}, Case{"1/", std::nullopt}, Case{"99999999999+", std::nullopt}})
        EXPECT_EQ(cs::ParseFraction(c.text), c.value) << c.text;
}

TEST(MdfConnection, Tokens) {
    struct Case {
        std::string_view token;
        std::optional<std::string_view> subUnit;
        std::string_view partner;
        bool symmetry;
        int op;
        std::array<int, 3> offsets;
        int bondType;
    };
    for (const Case& c : {
             Case{"H1", std::nullopt, "H1", false, 0, {0, 0, 0}, 1},
             Case{"H1/1.5", std::nullopt, "H1", false, 0, {0, 0, 0}, 2},
             Case{"C2/2.0", std::nullopt, "C2", false, 0, {0, 0, 0}, 4},
             Case{"N3/3.0", std::nullopt, "N3", false, 0, {0, 0, 0}, 6},
             Case{"N3/2", std::nullopt, "N3", false, 0, {0, 0, 0}, 1},
             Case{"N3/1.0,x", std::nullopt, "N3", false, 0, {0, 0, 0}, 1},
             Case{"WAT_2:O1", "WAT_2", "O1", false, 0, {0, 0, 0}, 1},
             Case{"O1%0+10#2", std::nullopt, "O1", true, 2, {0, 1, 0}, 1},
             Case{"O1%1-10", std::nullopt, "O1", true, 0, {1, -1, 0}, 1},
             Case{"O1#3/1.5", std::nullopt, "O1", true, 3, {0, 0, 0}, 2},
             Case{"A_1:O1%00-1#4/2.0", "A_1", "O1", true, 4, {0, 0, -1}, 4},
         }) {
        const cs::ConnectionToken t = cs::ParseConnectionToken(c.token);
        EXPECT_EQ(t.subUnit, c.subUnit) << c.token;
        EXPECT_EQ(t.partner, c.partner) << c.token;
        EXPECT_EQ(t.IsSymmetryConnection(), c.symmetry) << c.token;
        EXPECT_EQ(t.operatorNumber, c.op) << c.token;
        EXPECT_EQ(t.offsets, c.offsets) << c.token;
        EXPECT_EQ(t.bondType, c.bondType) << c.token;
    }
    EXPECT_FALSE(cs::ParseConnectionToken("O1#99999999999").operatorValid);
}

TEST(MdfSymmetry, AxesAndQualifiers) {
    const std::pair<std::string_view, int> axes[] = {{"xyz", 3}, {"yzx", 15}, {"zxy", 9}, {"yxz", 6},
                                                     {"zyx", 0}, {"xzy", 12}, {"xy", 19}, {"yx", 20},
                                                     {"xz", 22}, {"zx", 24},  {"yz", 26}, {"zy", 28}};
    for (const auto& [text, value] : axes) EXPECT_EQ(cs::OrientationFromAxisOrder(text), value) << text;
    EXPECT_EQ(cs::OrientationFromAxisOrder("xx"), std::nullopt);

    struct Case {
        std::string_view line, name, qualifier;
    };
    for (const Case& c : {Case{"@group (P 21/c) [B_UNIQUE]", "P 21/c", "B-Unique"},
                          Case{"@group (R-3) [hexagonal]", "R-3", "Hexagonal"},
                          Case{"@group (Fd-3m) [ORIGIN_2]", "Fd-3m", "Origin-2"},
                          Case{"@group (P1) [WHATEVER]", "P1", ""}, Case{"@group (P-1)", "P-1", ""},
                          Case{"@group P21/c", "P1", ""}, Case{"@group )P21/c(", "P1", ""},
                          Case{"@group [A_UNIQUE] (C2)", "C2", ""}}) {
        const cs::NamedGroup g = cs::ParseNamedGroupLine(c.line);
        EXPECT_EQ(g.name, c.name) << c.line;
        EXPECT_EQ(g.qualifier, c.qualifier) << c.line;
    }
}

}  // namespace
