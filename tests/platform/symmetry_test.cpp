#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>
#include <numbers>
#include <string>
#include <vector>

#include "cfx/cfx.h"
#include "datamodel/symmetry/cell.h"
#include "datamodel/symmetry/group.h"
#include "datamodel/symmetry/operator.h"
#include "datamodel/symmetry/plane_groups.h"
#include "datamodel/symmetry/point_groups.h"
#include "datamodel/symmetry/space_groups.h"

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

Cfx::CfxResult Thrown(const std::function<void()>& call) {
    try {
        call();
    } catch (const Cfx::CfxResult& r) {
        return r;
    }
    ADD_FAILURE() << "no CfxResult thrown";
    return {};
}

void ExpectNear(const xxVector3& actual, const xxVector3& expected, double tolerance = 1e-9) {
    for (int i = 0; i < 3; ++i) EXPECT_NEAR(actual[i], expected[i], tolerance) << "component " << i;
}

std::vector<xxSymmetryOperator> Operators(std::initializer_list<std::string_view> symbols) {
    std::vector<xxSymmetryOperator> ops;
    for (auto s : symbols) ops.push_back(xxSymmetryOperator::FromSymbol(s));
    return ops;
}

const xxSpaceGroupFactory& SpaceGroups() { return xxSpaceGroupFactory::Instantiate(); }

// ---------------------------------------------------------------------------------------- cells

TEST(Cell, ParametersGiveTheUsualOrientation) {
    const xxCell hex = xxCell::FromParametersDegrees(3, 3, 5, 90, 90, 120);
    ExpectNear(hex.GetVectorA(), {3, 0, 0});
    ExpectNear(hex.GetVectorB(), {-1.5, 1.5 * std::sqrt(3.0), 0});
    ExpectNear(hex.GetVectorC(), {0, 0, 5});
    EXPECT_NEAR(hex.GetVolume(), 9 * 5 * std::sqrt(3.0) / 2, 1e-9);
    // The 2b site of a hexagonal cell sits at (0, a/sqrt(3)*... ) = (0, sqrt(3)) for a = 3.
    ExpectNear(hex.ToCartesian({1.0 / 3, 2.0 / 3, 0}), {0, std::sqrt(3.0), 0});

    // A rhombohedron of 60 degree angles is the primitive cell of fcc: volume a^3 / sqrt(2).
    EXPECT_NEAR(xxCell::FromParametersDegrees(1, 1, 1, 60, 60, 60).GetVolume(), 1 / std::sqrt(2.0), 1e-12);
}

TEST(Cell, TriclinicParametersSurviveTheTripThroughVectors) {
    const xxCell cell = xxCell::FromParametersDegrees(5, 6, 7, 80, 95, 105);
    EXPECT_NEAR(cell.GetVectorA()[1], 0, 1e-12);
    EXPECT_NEAR(cell.GetVectorA()[2], 0, 1e-12);
    EXPECT_NEAR(cell.GetVectorB()[2], 0, 1e-12);
    const xxCell back = xxCell::FromVectors(cell.GetVectorA(), cell.GetVectorB(), cell.GetVectorC());
    const double rad = std::numbers::pi / 180;
    EXPECT_NEAR(back.GetA(), 5, 1e-12);
    EXPECT_NEAR(back.GetB(), 6, 1e-12);
    EXPECT_NEAR(back.GetC(), 7, 1e-12);
    EXPECT_NEAR(back.GetAlpha(), 80 * rad, 1e-12);
    EXPECT_NEAR(back.GetBeta(), 95 * rad, 1e-12);
    EXPECT_NEAR(back.GetGamma(), 105 * rad, 1e-12);
    EXPECT_NEAR(back.GetVolume(), cell.GetVolume(), 1e-9);

    const xxVector3 f{0.1, -0.7, 1.3};
    ExpectNear(cell.ToFractional(cell.ToCartesian(f)), f, 1e-12);
}

TEST(Cell, DegenerateCellsAreRejected) {
    struct Case {
        const char* what;
        std::function<void()> make;
    };
    const Case cases[] = {
        {"zero length", [] { xxCell::FromParametersDegrees(0, 1, 1, 90, 90, 90); }},
        {"negative length", [] { xxCell::FromParametersDegrees(1, -1, 1, 90, 90, 90); }},
        {"NaN length", [] { xxCell::FromParametersDegrees(1, 1, kNaN, 90, 90, 90); }},
        {"zero angle", [] { xxCell::FromParametersDegrees(1, 1, 1, 0, 90, 90); }},
        {"straight angle", [] { xxCell::FromParametersDegrees(1, 1, 1, 90, 180, 90); }},
        {"coplanar 120/120/120", [] { xxCell::FromParametersDegrees(1, 1, 1, 120, 120, 120); }},
        {"impossible 30/30/90", [] { xxCell::FromParametersDegrees(1, 1, 1, 30, 30, 90); }},
        {"plane cell, gamma 0", [] { xxCell::FromPlaneParameters(1, 1, 0); }},
        {"coplanar vectors", [] { xxCell::FromVectors({1, 0, 0}, {0, 1, 0}, {1, 1, 0}); }},
        {"left-handed vectors", [] { xxCell::FromVectors({1, 0, 0}, {0, 1, 0}, {0, 0, -1}); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const Cfx::CfxResult r = Thrown(c.make);
        EXPECT_EQ(r.Hr(), E_INVALIDARG);
        EXPECT_EQ(r.Description().rfind("Degenerate cell", 0), 0u) << r.Description();
    }
}

// ------------------------------------------------------------------------------------ operators

TEST(SymmetryOperator, ParsesTheWaysFilesWriteOperators) {
    struct Case {
        std::string_view text;
        xxMatrix3 rotation;
        xxVector3 translation;
    };
    auto m = [](std::array<double, 9> v) {
        xxMatrix3 r;
        for (int i = 0; i < 9; ++i) r(i / 3, i % 3) = v[static_cast<std::size_t>(i)];
        return r;
    };
    const Case cases[] = {
        {"x,y,z", xxMatrix3::Identity(), {0, 0, 0}},
        {"-x+1/2,y,-z", m({-1, 0, 0, 0, 1, 0, 0, 0, -1}), {0.5, 0, 0}},
        {" 1/2+X , -Y ,z ", m({1, 0, 0, 0, -1, 0, 0, 0, 1}), {0.5, 0, 0}},
        {"-x+0.5,y,-z", m({-1, 0, 0, 0, 1, 0, 0, 0, -1}), {0.5, 0, 0}},
        {"x-y,x,z+1/3", m({1, -1, 0, 1, 0, 0, 0, 0, 1}), {0, 0, 1.0 / 3}},
        {"-y+3/4,x+1/4,z-1/4", m({0, -1, 0, 1, 0, 0, 0, 0, 1}), {0.75, 0.25, -0.25}},
        {"2*x,0.5y,-z+1", m({2, 0, 0, 0, 0.5, 0, 0, 0, -1}), {0, 0, 1}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.text));
        const xxSymmetryOperator op = xxSymmetryOperator::FromSymbol(c.text);
        EXPECT_TRUE(op.Equals(xxSymmetryOperator(c.rotation, c.translation), 1e-12)) << op.ToSymbol();
    }
}

TEST(SymmetryOperator, SymbolsRoundTrip) {
    for (std::string_view s : {"x,y,z", "-x+1/2,y,-z", "x-y,x,z+1/6", "-y+3/4,x+1/4,z+3/4", "-x,-y,-z+1",
                               "y+1/8,-x+7/8,z+1/24", "2x+0.1,y,z", "0,y,z"})
        EXPECT_EQ(xxSymmetryOperator::FromSymbol(s).ToSymbol(), s);
    // Constants no fraction can hold (a file's operator named in a message) print as numbers.
    const double nan = std::numeric_limits<double>::quiet_NaN(), inf = std::numeric_limits<double>::infinity();
    EXPECT_EQ(xxSymmetryOperator(xxMatrix3::Identity(), {-2.2e57, inf, nan}).ToSymbol(), "x-2.2e+57,y+inf,z+nan");
}

TEST(SymmetryOperator, MalformedSymbolsNameTheText) {
    for (std::string_view s : {"", "x,y", "x,y,z,x", "x+,y,z", "xy,y,z", "x,y,q", "x,1/0,z", "x,y,z+1/", "x,*y,z",
                               "x,y,,", "x,y,1e999", "x,y,inf"}) {
        SCOPED_TRACE(std::string(s));
        const Cfx::CfxResult r = Thrown([&] { xxSymmetryOperator::FromSymbol(s); });
        EXPECT_EQ(r.Hr(), E_INVALIDARG);
        EXPECT_NE(r.Description().find("\"" + std::string(s) + "\""), std::string::npos) << r.Description();
    }
}

TEST(SymmetryOperator, CompositionAppliesTheRightOperandFirst) {
    const auto a = xxSymmetryOperator::FromSymbol("-y,x-y,z+1/3");  // 3_1
    const auto b = xxSymmetryOperator::FromSymbol("-x+1/2,y,-z");
    const xxVector3 p{0.1, 0.2, 0.3};
    ExpectNear((a * b).Apply(p), a.Apply(b.Apply(p)));
    EXPECT_FALSE((a * b).Equals(b * a));
    EXPECT_TRUE((a * a * a).EqualsModuloLattice(xxSymmetryOperator()));
    EXPECT_TRUE((a * a * a).Equals(xxSymmetryOperator::FromSymbol("x,y,z+1")));
    EXPECT_TRUE((a.Inverse() * a).IsIdentity());
    EXPECT_EQ(Thrown([] { xxSymmetryOperator::FromSymbol("x,x,z").Inverse(); }).Hr(), E_INVALIDARG);
    EXPECT_TRUE(xxSymmetryOperator::FromSymbol("x+1,y-2,z+1/2").ReducedToCell().Equals(
        xxSymmetryOperator::FromSymbol("x,y,z+1/2")));
}

// --------------------------------------------------------------------------------------- groups

// -x,-y,-z shifted by t, which with the identity is a group whatever t is.
xxSymmetryOperator Inverted(const xxVector3& t) {
    xxMatrix3 r;
    r(0, 0) = r(1, 1) = r(2, 2) = -1;
    return {r, t};
}
// x+k*y,-y,z: its own inverse whatever k is.
xxSymmetryOperator Sheared(double k) {
    xxMatrix3 r = xxMatrix3::Identity();
    r(0, 1) = k;
    r(1, 1) = -1;
    return {r, {}};
}

TEST(SymmetryGroup, OperatorListsThatAreNoGroupAreRejected) {
    struct Case {
        const char* what;
        std::vector<xxSymmetryOperator> ops;
        std::string_view needle;
    };
    const Case cases[] = {
        {"empty", {}, "empty"},
        {"no identity", Operators({"-x,-y,-z"}), "identity"},
        {"not closed", Operators({"x,y,z", "-y,x,z"}), "product of operators"},
        {"same modulo a cell", Operators({"x,y,z", "x+1,y,z"}), "are the same"},
        {"rotation not integral", Operators({"x,y,z", "0.5x,y,z"}), "does not map the lattice"},
        {"determinant 2", Operators({"x,y,z", "x+y,x-y,z"}), "does not map the lattice"},
        // Groups but for their size: the images of any position would leave int.
        {"translation beyond any cell", {xxSymmetryOperator(), Inverted({-2.2e57, 0, 0})}, "beyond what a cell"},
        {"translation not finite",
         {xxSymmetryOperator(), Inverted({std::numeric_limits<double>::quiet_NaN(), 0, 0})}, "not finite"},
        {"rotation entry beyond any cell", {xxSymmetryOperator(), Sheared(2e300)}, "beyond what a cell"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_FALSE(xxSymmetryUtility::IsGroupComplete(c.ops));
        const Cfx::CfxResult r = Thrown([&] { xxSymmetryGroup::FromOperators(c.ops); });
        EXPECT_EQ(r.Hr(), E_INVALIDARG);
        EXPECT_NE(r.Description().find(c.needle), std::string::npos) << r.Description();
    }
    std::vector<xxSymmetryOperator> tooMany(193);
    EXPECT_NE(xxSymmetryGroup::CheckOperators(tooMany)->find("at most 192"), std::string::npos);
}

TEST(SymmetryGroup, OperatorsPrintedWithThreeDecimalsStillFormTheirGroup) {
    // P3_1 as a model file lists it.
    const auto group = xxSymmetryGroup::FromOperators(Operators({"x,y,z", "-y,x-y,z+0.333", "-x+y,-x,z+0.667"}));
    EXPECT_TRUE(group.IsSameGroup(SpaceGroups().GetSpaceGroupByName("P31").GetGroup()));
    EXPECT_EQ(group.GetOperator(2).ToSymbol(), "-y,x-y,z+1/3");
    EXPECT_EQ(Thrown([&] { group.GetOperator(4); }).Hr(), DISP_E_BADINDEX);
    EXPECT_EQ(Thrown([&] { group.GetOperator(0); }).Hr(), DISP_E_BADINDEX);
}

// --------------------------------------------------------------------------------- space groups

TEST(SpaceGroups, OperatorCounts) {
    struct Case {
        std::string_view name, qualifier;
        std::size_t count;
    };
    const Case cases[] = {
        {"P1", "", 1},        {"P-1", "", 2},         {"P21/c", "", 4},  {"C2/c", "", 8},
        {"Pnma", "", 8},      {"I41/amd", "", 32},    {"R3", "Hexagonal", 9}, {"R3", "Rhombohedral", 3},
        {"R-3", "Hexagonal", 18}, {"R-3", "Rhombohedral", 6}, {"P6/mmm", "", 24}, {"Ia-3d", "", 96},
        {"Fm-3m", "", 192},   {"Fd-3m", "Origin-2", 192},
    };
    for (const Case& c : cases) {
        const auto* d = SpaceGroups().FindSpaceGroupByName(c.name, c.qualifier);
        ASSERT_NE(d, nullptr) << c.name << " [" << c.qualifier << "]";
        EXPECT_EQ(d->GetNumOperators(), c.count) << c.name << " [" << c.qualifier << "]";
    }
}

// General positions as International Tables lists them.
TEST(SpaceGroups, GeneralPositions) {
    struct Case {
        std::string_view name, qualifier;
        std::vector<xxSymmetryOperator> positions;
    };
    const Case cases[] = {
        {"P21/c", "", Operators({"x,y,z", "-x,y+1/2,-z+1/2", "-x,-y,-z", "x,-y+1/2,z+1/2"})},
        {"P21/n", "", Operators({"x,y,z", "-x+1/2,y+1/2,-z+1/2", "-x,-y,-z", "x+1/2,-y+1/2,z+1/2"})},
        {"Pnma", "",
         Operators({"x,y,z", "-x+1/2,-y,z+1/2", "-x,y+1/2,-z", "x+1/2,-y+1/2,-z+1/2", "-x,-y,-z",
                    "x+1/2,y,-z+1/2", "x,-y+1/2,z", "-x+1/2,y+1/2,z+1/2"})},
        {"R-3", "Rhombohedral", Operators({"x,y,z", "z,x,y", "y,z,x", "-x,-y,-z", "-z,-x,-y", "-y,-z,-x"})},
        {"R3", "Hexagonal",
         Operators({"x,y,z", "-y,x-y,z", "-x+y,-x,z", "x+2/3,y+1/3,z+1/3", "-y+2/3,x-y+1/3,z+1/3",
                    "-x+y+2/3,-x+1/3,z+1/3", "x+1/3,y+2/3,z+2/3", "-y+1/3,x-y+2/3,z+2/3", "-x+y+1/3,-x+2/3,z+2/3"})},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.name) + " [" + std::string(c.qualifier) + "]");
        const auto& d = SpaceGroups().GetSpaceGroupByName(c.name, c.qualifier);
        EXPECT_TRUE(d.GetGroup().IsSameGroup(xxSymmetryGroup::FromOperators(c.positions)));
        EXPECT_TRUE(d.GetGroup().GetOperator(1).IsIdentity());
    }
    // The two origins of Fd-3m: the inversion centre at the origin only in choice 2.
    const auto& origin1 = SpaceGroups().GetSpaceGroupByName("Fd-3m", "Origin-1");
    const auto& origin2 = SpaceGroups().GetSpaceGroupByName("Fd-3m", "Origin-2");
    const auto inversion = xxSymmetryOperator::FromSymbol("-x,-y,-z");
    const auto shiftedInversion = xxSymmetryOperator::FromSymbol("-x+1/4,-y+1/4,-z+1/4");
    EXPECT_FALSE(origin1.GetGroup().FindOperator(inversion));
    EXPECT_TRUE(origin1.GetGroup().FindOperator(shiftedInversion));
    EXPECT_TRUE(origin2.GetGroup().FindOperator(inversion));
    // Face centring is in the list.
    EXPECT_TRUE(SpaceGroups().GetSpaceGroupByName("Fm-3m").GetGroup().FindOperator(
        xxSymmetryOperator::FromSymbol("-y,x+1/2,z+1/2")));
}

TEST(SpaceGroups, All230NumbersAreFoundAndTheirCountsFitPointGroupAndCentring) {
    const auto& points = xxPointGroupFactory::Instantiate();
    for (int n = 1; n <= 230; ++n) {
        const auto* d = SpaceGroups().FindSpaceGroupByNumber(n);
        ASSERT_NE(d, nullptr) << n;
        EXPECT_EQ(d->GetITNumber(), n);
        EXPECT_EQ(d->GetOptionNumber(), 1) << n;
        std::size_t latticePoints = 1;
        switch (d->GetCenteringType()) {
            case xxCentering::Primitive: latticePoints = 1; break;
            case xxCentering::FaceCentered: latticePoints = 4; break;
            case xxCentering::Rhombohedral: latticePoints = 3; break;
            default: latticePoints = 2; break;
        }
        EXPECT_EQ(d->GetNumOperators(), latticePoints * points.GetPointGroupByName(d->GetPointGroupName()).GetOrder())
            << n << " " << d->GetName();
    }
    for (int n : {0, -1, 231}) EXPECT_EQ(SpaceGroups().FindSpaceGroupByNumber(n), nullptr) << n;
    EXPECT_EQ(SpaceGroups().GetDescriptions().size(), 530u);
    EXPECT_EQ(SpaceGroups().FindSpaceGroupByNumber(14, "C-Unique")->GetQualifier(), "C-Unique,Cell-1");
    EXPECT_EQ(SpaceGroups().FindSpaceGroupByNumber(148, "Rhombohedral")->GetNumOperators(), 6u);
    // By option number: each setting of a group answers to its own, and finds itself.
    for (const xxSpaceGroupDescription& d : SpaceGroups().GetDescriptions())
        ASSERT_EQ(SpaceGroups().FindSpaceGroupByNumber(d.GetITNumber(), d.GetOptionNumber()), &d) << d.GetHallNumber();
    EXPECT_EQ(SpaceGroups().FindSpaceGroupByNumber(14, 2)->GetOptionNumber(), 2);
    for (auto [n, option] : {std::pair{2, 2}, {14, 0}, {14, -1}, {0, 1}, {231, 1}})
        EXPECT_EQ(SpaceGroups().FindSpaceGroupByNumber(n, option), nullptr) << n << " " << option;
    const Cfx::CfxResult r = Thrown([] { SpaceGroups().GetSpaceGroupByNumber(231); });
    EXPECT_EQ(r.Hr(), E_INVALIDARG);
    EXPECT_EQ(r.Description(), "Space group number 231 not recognised.");
}

TEST(SpaceGroups, NameVariantsResolveToOneSetting) {
    struct Case {
        std::string_view name, qualifier;
        int number;
        std::string_view expectName, expectQualifier;
    };
    const Case cases[] = {
        {"P21/c", "", 14, "P21/c", "B-Unique,Cell-1"},
        {"P 21/c", "", 14, "P21/c", "B-Unique,Cell-1"},
        {"p21/c", "", 14, "P21/c", "B-Unique,Cell-1"},
        {"P2_1/c", "", 14, "P21/c", "B-Unique,Cell-1"},
        {"P 1 21/c 1", "", 14, "P21/c", "B-Unique,Cell-1"},
        {"p 1 2_1/C 1", "", 14, "P21/c", "B-Unique,Cell-1"},
        {"P 21/c", "B_UNIQUE", 14, "P21/c", "B-Unique,Cell-1"},
        {"P21/c", "C-Unique", 14, "P21/a", "C-Unique,Cell-1"},
        {"P21/c", "A-Unique", 14, "P21/c", "A-Unique,Cell-3"},
        {"P21/n", "", 14, "P21/n", "B-Unique,Cell-2"},
        {"P21/a", "", 14, "P21/a", "B-Unique,Cell-3"},
        {"P21/a", "c-unique", 14, "P21/a", "C-Unique,Cell-1"},
        {"C2/c", "", 15, "C2/c", "B-Unique,Cell-1"},
        {"P2", "C-Unique", 3, "P2", "C-Unique"},
        {"Fm-3m", "", 225, "Fm-3m", ""},
        {"FM-3M", "", 225, "Fm-3m", ""},
        {"F m -3 m", "", 225, "Fm-3m", ""},
        {"Fm3m", "", 225, "Fm-3m", ""},
        {"F 4/m -3 2/m", "", 225, "Fm-3m", ""},
        {"Pnma", "", 62, "Pnma", ""},
        {"P n m a", "", 62, "Pnma", ""},
        {"P 21/n 21/m 21/a", "", 62, "Pnma", ""},
        {"Pbnm", "", 62, "Pbnm", ""},
        {"R-3", "", 148, "R-3", "Hexagonal"},
        {"R-3", "RHOMBOHEDRAL", 148, "R-3", "Rhombohedral"},
        {"R-3:R", "", 148, "R-3", "Rhombohedral"},
        {"r -3 :h", "", 148, "R-3", "Hexagonal"},
        {"Fd-3m", "", 227, "Fd-3m", "Origin-1"},
        {"Fd-3m", "Origin-2", 227, "Fd-3m", "Origin-2"},
        {"Fd-3m:2", "", 227, "Fd-3m", "Origin-2"},
        {"P 1 21/n 1:b2", "", 14, "P21/n", "B-Unique,Cell-2"},
        {"P6/mmm", "Hexagonal", 191, "P6/mmm", ""},
        {"P-1", "", 2, "P-1", ""},
        {"P63/mmc", "", 194, "P63/mmc", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.name) + " [" + std::string(c.qualifier) + "]");
        const auto* d = SpaceGroups().FindSpaceGroupByName(c.name, c.qualifier);
        ASSERT_NE(d, nullptr);
        EXPECT_EQ(d->GetITNumber(), c.number);
        EXPECT_EQ(d->GetName(), c.expectName);
        EXPECT_EQ(d->GetQualifier(), c.expectQualifier);
    }
}

TEST(SpaceGroups, UnknownNamesAndQualifiersFindNothing) {
    const std::pair<std::string_view, std::string_view> cases[] = {
        {"", ""},         {"   ", ""},           {"X", ""},          {"P7", ""},
        {"unknown", ""},  {"Fm-3m", "Rhombohedral"}, {"P21/c", "Origin-2"}, {"P21/c", "D-Unique"},
        {"Fm-3m:", ""},   {"R-3:Q", ""},         {"Fd-3m:3", ""},    {"P21/c", "B-Unique,Cell-4"},
    };
    for (const auto& [name, qualifier] : cases)
        EXPECT_EQ(SpaceGroups().FindSpaceGroupByName(name, qualifier), nullptr) << name << " [" << qualifier << "]";
    const Cfx::CfxResult r = Thrown([] { SpaceGroups().GetSpaceGroupByName("Q9"); });
    EXPECT_EQ(r.Hr(), E_INVALIDARG);
    EXPECT_EQ(r.Description(), "Space group name Q9 not recognised.");
}

// What a writer puts out as name and qualifier must bring the reader back to the same setting.
TEST(SpaceGroups, EverySettingIsFoundByItsOwnNamesAndQualifier) {
    for (const auto& d : SpaceGroups().GetDescriptions()) {
        SCOPED_TRACE(std::to_string(d.GetHallNumber()) + " " + d.GetFullName() + " [" + d.GetQualifier() + "]");
        EXPECT_EQ(SpaceGroups().FindSpaceGroupByName(d.GetName(), d.GetQualifier()), &d);
        EXPECT_EQ(SpaceGroups().FindSpaceGroupByName(d.GetFullName(), d.GetQualifier()), &d);
        EXPECT_EQ(SpaceGroups().FindSpaceGroupByName(d.GetFullName() + ":" + d.GetSettingChoice()),
                  d.GetSettingChoice().empty() ? nullptr : &d);
        // Model files keep only the qualifier's first word; the short symbol must do the rest,
        // except for the settings whose symbols repeat another's.
        const std::string firstWord = d.GetQualifier().substr(0, d.GetQualifier().find(','));
        if (d.GetQualifier().find("Axes") == std::string::npos) {
            EXPECT_EQ(SpaceGroups().FindSpaceGroupByName(d.GetName(), firstWord), &d);
        }
    }
}

TEST(SpaceGroups, FoundByOperatorsInAnyOrderAndCell) {
    // P2_1/c with the identity last and some operators shifted by whole cells.
    const auto* d = SpaceGroups().FindSpaceGroupByOperators(
        Operators({"-x,y+3/2,-z+1/2", "x+1,-y+1/2,z+1/2", "-x,-y,-z-1", "x,y,z"}));
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(d->GetHallNumber(), SpaceGroups().GetSpaceGroupByName("P21/c").GetHallNumber());
    EXPECT_EQ(SpaceGroups().FindSpaceGroupByOperators(Operators({"x,y,z", "-x+0.1,-y,-z"})), nullptr);
    EXPECT_EQ(SpaceGroups().FindSpaceGroupByOperators(Operators({"x,y,z", "-y,x,z"})), nullptr);
}

// --------------------------------------------------------------------------------- plane groups

TEST(PlaneGroups, EachMatchesTheSpaceGroupOfItsLayerAndHasTheTabulatedOrder) {
    struct Case {
        std::string_view plane;
        std::size_t order;
        std::string_view spaceGroup;  // the setting whose operators restricted to the plane agree
    };
    const Case cases[] = {
        {"p1", 1, "P 1"},       {"p2", 2, "P 1 1 2"},   {"pm", 2, "P m 1 1"}, {"pg", 2, "P b 1 1"},
        {"cm", 4, "C m 1 1"},   {"p2mm", 4, "P m m 2"}, {"p2mg", 4, "P m a 2"}, {"p2gg", 4, "P b a 2"},
        {"c2mm", 8, "C m m 2"}, {"p4", 4, "P 4"},       {"p4mm", 8, "P 4 m m"}, {"p4gm", 8, "P 4 b m"},
        {"p3", 3, "P 3"},       {"p3m1", 6, "P 3 m 1"}, {"p31m", 6, "P 3 1 m"}, {"p6", 6, "P 6"},
        {"p6mm", 12, "P 6 m m"},
    };
    const auto& planes = xxPlaneGroupFactory::Instantiate();
    ASSERT_EQ(planes.GetDescriptions().size(), 17u);
    int number = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.plane));
        const auto* d = planes.FindPlaneGroupByName(c.plane);
        ASSERT_NE(d, nullptr);
        EXPECT_EQ(d->GetNumber(), ++number);
        EXPECT_EQ(d->GetNumOperators(), c.order);
        EXPECT_FALSE(xxSymmetryGroup::CheckOperators(d->GetGroup().GetOperators()).has_value());
        EXPECT_TRUE(d->GetGroup().IsSameGroup(SpaceGroups().GetSpaceGroupByName(c.spaceGroup).GetGroup()));
        EXPECT_EQ(planes.FindPlaneGroupByNumber(number), d);
        EXPECT_EQ(planes.FindPlaneGroupByOperators(d->GetGroup().GetOperators()), d);
    }
}

TEST(PlaneGroups, NameVariants) {
    const std::pair<std::string_view, int> cases[] = {
        {"p2mm", 6}, {"P2MM", 6}, {"pmm", 6}, {"p 2 m m", 6}, {"cmm", 9}, {"p4g", 12}, {"p6m", 17},
        {"P 1", 1},  {"p1m1", 3}, {"c1m1", 5}, {"p3m1", 14}, {"p31m", 15}, {"p5", 0}, {"", 0}, {"P21/c", 0},
    };
    const auto& planes = xxPlaneGroupFactory::Instantiate();
    for (const auto& [name, number] : cases) {
        const auto* d = planes.FindPlaneGroupByName(name);
        EXPECT_EQ(d ? d->GetNumber() : 0, number) << name;
    }
    const Cfx::CfxResult r = Thrown([&] { planes.GetPlaneGroupByName("p5"); });
    EXPECT_EQ(r.Description(), "Symmetry group name p5 not recognised.");
}

// --------------------------------------------------------------------------------- point groups

TEST(PointGroups, TheThirtyTwoClassesWithTheirOrders) {
    const std::pair<std::string_view, std::size_t> cases[] = {
        {"1", 1},     {"-1", 2},    {"2", 2},     {"m", 2},      {"2/m", 4},   {"222", 4},   {"mm2", 4},
        {"mmm", 8},   {"4", 4},     {"-4", 4},    {"4/m", 8},    {"422", 8},   {"4mm", 8},   {"-42m", 8},
        {"4/mmm", 16}, {"3", 3},    {"-3", 6},    {"32", 6},     {"3m", 6},    {"-3m", 12},  {"6", 6},
        {"-6", 6},    {"6/m", 12},  {"622", 12},  {"6mm", 12},   {"-6m2", 12}, {"6/mmm", 24}, {"23", 12},
        {"m-3", 24},  {"432", 24},  {"-43m", 24}, {"m-3m", 48},
    };
    const auto& points = xxPointGroupFactory::Instantiate();
    ASSERT_EQ(points.GetDescriptions().size(), 32u);
    int centrosymmetric = 0;
    for (const auto& [name, order] : cases) {
        const auto* d = points.FindPointGroupByName(name);
        ASSERT_NE(d, nullptr) << name;
        EXPECT_EQ(d->GetName(), name);
        EXPECT_EQ(d->GetOrder(), order) << name;
        centrosymmetric += d->IsCentrosymmetric();
    }
    EXPECT_EQ(centrosymmetric, 11);  // the Laue classes
}

TEST(PointGroups, SchoenfliesAndOtherSpellings) {
    const std::pair<std::string_view, std::string_view> cases[] = {
        {"Oh", "m-3m"}, {"oh", "m-3m"}, {"m3m", "m-3m"}, {"D4h", "4/mmm"}, {"D4H", "4/mmm"}, {"C2h", "2/m"},
        {"Td", "-43m"}, {"S6", "-3"},   {"C3i", "-3"},   {"D3d", "-3m"},   {"-3m1", "-3m"},  {"V", "222"},
        {"-4m2", "-42m"}, {"-62m", "-6m2"}, {"3m1", "3m"}, {"4 / m m m", "4/mmm"},
    };
    const auto& points = xxPointGroupFactory::Instantiate();
    for (const auto& [name, expected] : cases) {
        const auto* d = points.FindPointGroupByName(name);
        ASSERT_NE(d, nullptr) << name;
        EXPECT_EQ(d->GetName(), expected) << name;
    }
    EXPECT_EQ(points.FindPointGroupByName("7"), nullptr);
    EXPECT_EQ(points.FindPointGroupByName(""), nullptr);
    EXPECT_EQ(Thrown([&] { points.GetPointGroupByName("Q"); }).Hr(), E_INVALIDARG);
}

TEST(PointGroups, ClassifiedFromOperatorsWhateverTheirTranslationsAndAxes) {
    const auto& points = xxPointGroupFactory::Instantiate();
    const std::pair<std::string_view, std::string_view> cases[] = {
        {"Fm-3m", "m-3m"}, {"P21/c", "2/m"}, {"Pnma", "mmm"}, {"P63/mmc", "6/mmm"}, {"Ia-3d", "m-3m"},
        {"P1", "1"},
    };
    for (const auto& [group, expected] : cases) {
        const auto* d = points.FindPointGroupByOperatorClassification(
            SpaceGroups().GetSpaceGroupByName(group).GetGroup().GetOperators());
        ASSERT_NE(d, nullptr) << group;
        EXPECT_EQ(d->GetName(), expected) << group;
    }
    // Rhombohedral axes: the same class as the hexagonal-axes description.
    const auto* rhombohedral = points.FindPointGroupByOperatorClassification(
        SpaceGroups().GetSpaceGroupByName("R-3m", "Rhombohedral").GetGroup().GetOperators());
    ASSERT_NE(rhombohedral, nullptr);
    EXPECT_EQ(rhombohedral->GetName(), "-3m");
    EXPECT_EQ(points.FindPointGroupByOperatorClassification(Operators({"x,y,z", "-y,x,z"})), nullptr);
}

// ------------------------------------------------------------------------------- symmetry images

TEST(SymmetryImages, MultiplicitiesOfWyckoffPositions) {
    struct Case {
        std::string_view group, qualifier;
        xxVector3 position;
        std::size_t multiplicity;
    };
    const Case cases[] = {
        {"Fm-3m", "", {0, 0, 0}, 4},          {"Fm-3m", "", {0.5, 0.5, 0.5}, 4},
        {"Fm-3m", "", {0.25, 0.25, 0.25}, 8}, {"Fm-3m", "", {0, 0.25, 0.25}, 24},
        {"Fm-3m", "", {0.1, 0, 0}, 24},       {"Fm-3m", "", {0.1, 0.1, 0.1}, 32},
        {"Fm-3m", "", {0.11, 0.23, 0.37}, 192},  {"P21/c", "", {0.1, 0.2, 0.3}, 4},
        {"P21/c", "", {0, 0, 0}, 2},          {"P21/c", "", {0.5, 0, 0.5}, 2},
        {"R-3", "", {0, 0, 0}, 3},            {"R-3", "", {0, 0, 0.5}, 3},
        {"R-3", "", {0.1, 0.2, 0.3}, 18},     {"Ia-3d", "", {0.125, 0, 0.25}, 24},
    };
    const xxCell cubic = xxCell::FromParametersDegrees(10, 10, 10, 90, 90, 90);
    const xxCell hexagonal = xxCell::FromParametersDegrees(10, 10, 12, 90, 90, 120);
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.group));
        const auto& d = SpaceGroups().GetSpaceGroupByName(c.group, c.qualifier);
        const xxCell& cell = d.GetCrystalSystem() == xxCrystalSystem::Trigonal ? hexagonal : cubic;
        const auto images = d.GetGroup().GenerateImages(c.position, cell, 0.05);
        EXPECT_EQ(images.size(), c.multiplicity) << c.position[0] << " " << c.position[1] << " " << c.position[2];
        for (const auto& image : images) {
            const xxSymmetryOperator& op = d.GetGroup().GetOperator(image.operatorNumber);
            ExpectNear(op.Translated(image.translation).Apply(c.position), image.position, 1e-12);
            for (int i = 0; i < 3; ++i) {
                EXPECT_GE(image.position[i], 0);
                EXPECT_LT(image.position[i], 1);
            }
        }
    }
}

TEST(SymmetryImages, ToleranceIsCartesianAndAcrossCellBoundaries) {
    const auto& pMinus1 = SpaceGroups().GetSpaceGroupByName("P-1").GetGroup();
    const xxCell cell = xxCell::FromParametersDegrees(10, 10, 10, 90, 90, 90);
    const xxCell oblique = xxCell::FromParametersDegrees(10, 10, 10, 90, 90, 20);
    struct Case {
        const char* what;
        const xxCell& cell;
        xxVector3 position;
        double tolerance;
        std::size_t images;
    };
    const Case cases[] = {
        // The inverted copy of (0.001, 0, 0) is (0.999, 0, 0): 0.02 apart across the boundary.
        {"within tolerance across the boundary", cell, {0.001, 0, 0}, 0.05, 1},
        {"outside tolerance", cell, {0.001, 0, 0}, 0.01, 2},
        {"zero tolerance keeps near copies", cell, {0.0001, 0, 0}, 0, 2},
        {"a tolerance of half the cell", cell, {0.1, 0, 0}, 6, 1},
        {"oblique cell, copies along a-b", oblique, {0.0005, -0.0005, 0}, 0.05, 1},
        {"general position", cell, {0.3, 0.4, 0.5}, 0.05, 2},
    };
    for (const Case& c : cases)
        EXPECT_EQ(pMinus1.GenerateImages(c.position, c.cell, c.tolerance).size(), c.images) << c.what;

    const auto images = pMinus1.GenerateImages({0.3, 0.4, 0.5}, cell, 0.05);
    ExpectNear(images[1].position, {0.7, 0.6, 0.5}, 1e-12);
    EXPECT_EQ(images[1].translation, (xxPeriodicTranslation{{1, 1, 1}}));

    for (double bad : {-1.0, kNaN})
        EXPECT_EQ(Thrown([&] { pMinus1.GenerateImages({0, 0, 0}, cell, bad); }).Hr(), E_INVALIDARG);
    EXPECT_EQ(Thrown([&] { pMinus1.GenerateImages({kNaN, 0, 0}, cell, 0.05); }).Hr(), E_INVALIDARG);
    EXPECT_EQ(Thrown([&] { pMinus1.GenerateImages({1e300, 0, 0}, cell, 0.05); }).Hr(), E_INVALIDARG);
}

}  // namespace
