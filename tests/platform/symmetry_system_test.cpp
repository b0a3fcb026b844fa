#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>
#include <map>
#include <memory>
#include <numbers>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "cfx/cfx.h"
#include "datamodel/atomistic.h"
#include "datamodel/iterator.h"
#include "datamodel/sets.h"
#include "datamodel/symmetry/builder.h"
#include "datamodel/symmetry/definition.h"
#include "datamodel/symmetry/system.h"
#include "datamodel/value_types.h"

namespace {

constexpr double kDegree = std::numbers::pi / 180;

Cfx::CfxResult Thrown(const std::function<void()>& call) {
    try {
        call();
    } catch (const Cfx::CfxResult& r) {
        return r;
    }
    ADD_FAILURE() << "no CfxResult thrown";
    return {};
}

void ExpectNear(const xxPoint3d& actual, const xxPoint3d& expected, double tolerance = 1e-9) {
    EXPECT_NEAR(actual.x, expected.x, tolerance);
    EXPECT_NEAR(actual.y, expected.y, tolerance);
    EXPECT_NEAR(actual.z, expected.z, tolerance);
}

// A periodic model as the file readers make it: a symmetry system holding a provisional point
// group, one molecule with one sub-unit of atoms.
struct Model {
    xxAtomisticTreeRoot root;
    xxMultiScaleSymmetrySystem& system = root.CreateChild<xxMultiScaleSymmetrySystem>(std::make_unique<xxPointGroup>());
    xxSubUnit& unit = system.CreateChild<xxMultiScaleMolecule>().CreateChild<xxMultiScaleSubUnit>();

    xxAtom3d& Atom(const char* element, const xxPoint3d& xyz) {
        auto& atom = unit.CreateChild<xxAtom3d>(element);
        atom.SetName(std::string(element) + std::to_string(unit.NumChildren()));
        atom.SetXYZ(xyz);
        return atom;
    }
    std::vector<xxObject*> Atoms(int mode) const { return system.Iterator(xxAtom::classType, mode); }
};

const xxSpaceGroupDescription& SpaceGroup(std::string_view name) {
    const auto* d = xxSpaceGroupFactory::Instantiate().FindSpaceGroupByName(name);
    if (!d) throw std::runtime_error("no space group " + std::string(name));
    return *d;
}

// As the CAR reader builds a named group: definition from the description, convention, cell
// (degrees here), ranges, then the build.
void BuildNamed(Model& m, std::string_view name, std::array<double, 6> cell, double tolerance = 0.05) {
    std::unique_ptr<xxSpaceGroup> d;
    xxSymmetryCreator::CreateSymmetryDefinition(SpaceGroup(name), m.system, d);
    d->SetOrientationConvention(xxLatticeOrientation::kXYZ);
    d->SetCellParameters(cell[0], cell[1], cell[2], cell[3] * kDegree, cell[4] * kDegree, cell[5] * kDegree, true);
    d->ResetOrientation();
    d->SetDisplayRanges(0, 1, 0, 1, 0, 1);
    xxSymmetryChanger::Build(m.system, std::move(d), true, tolerance, false);
}

// The conventional rock-salt cell: Na on 4a, Cl on 4b.
constexpr double kNaClA = 5.64;
void RockSalt(Model& m) {
    const double h = kNaClA / 2;
    for (xxPoint3d p : {xxPoint3d{0, 0, 0}, {0, h, h}, {h, 0, h}, {h, h, 0}}) m.Atom("Na", p);
    for (xxPoint3d p : {xxPoint3d{h, 0, 0}, {0, h, 0}, {0, 0, h}, {h, h, h}}) m.Atom("Cl", p);
}

// ------------------------------------------------------------------------------------ building

TEST(SymmetryBuild, RockSaltUnderFm3mHasOneParentPerElement) {
    Model m;
    RockSalt(m);
    BuildNamed(m, "Fm-3m", {kNaClA, kNaClA, kNaClA, 90, 90, 90});

    const auto parents = m.Atoms(xxSymmetrySystem::kParents);
    ASSERT_EQ(parents.size(), 2u);
    EXPECT_EQ(static_cast<xxAtom3d*>(parents[0])->GetElementSymbol(), "Na");
    EXPECT_EQ(static_cast<xxAtom3d*>(parents[1])->GetElementSymbol(), "Cl");
    EXPECT_EQ(m.Atoms(xxSymmetrySystem::kImages).size(), 6u);

    // Every image maps back to its parent of the same element, and its element puts the
    // parent exactly where the image is.
    for (xxObject* atom : m.Atoms(xxSymmetrySystem::kImages)) {
        xxObject* parent = m.system.GetSymmetryParent(*atom);
        EXPECT_EQ(static_cast<xxAtom3d*>(parent)->GetElementNumber(), static_cast<xxAtom3d*>(atom)->GetElementNumber());
        ExpectNear(m.system.GetSymmetryElement(*atom).GetCartesianTransform().Apply(parent->GetXYZ()), atom->GetXYZ());
        EXPECT_FALSE(m.system.IsSymmetryParent(*atom));
    }
    EXPECT_TRUE(m.system.IsSymmetryParent(*parents[0]));
    // 4a and 4b have site symmetry m-3m: 48 of the 192 operators leave each in place.
    EXPECT_EQ(m.system.GetSymmetryElements(*parents[0]).size(), 48u);
    EXPECT_EQ(m.system.GetSymmetryElements(*m.Atoms(xxSymmetrySystem::kImages)[0]).size(), 48u);
    EXPECT_TRUE(m.system.GetSymmetryElements(*parents[0])[0]->IsIdentity());
}

TEST(SymmetryBuild, ToleranceDecidesWhetherAnAtomIsAnImage) {
    struct Case {
        double shift;  // of the face-centre Na along x, Angstrom
        std::size_t parents;
    };
    for (const Case c : {Case{0.0, 2}, Case{0.04, 2}, Case{-0.049, 2}, Case{0.06, 3}, Case{0.3, 3}}) {
        Model m;
        const double h = kNaClA / 2;
        m.Atom("Na", {0, 0, 0});
        m.Atom("Na", {c.shift, h, h});
        m.Atom("Cl", {h, 0, 0});
        BuildNamed(m, "Fm-3m", {kNaClA, kNaClA, kNaClA, 90, 90, 90});
        EXPECT_EQ(m.Atoms(xxSymmetrySystem::kParents).size(), c.parents) << "shift " << c.shift;
    }
}

// Hand-written general positions of P 1 21/c 1 on a monoclinic cell, some moved by whole
// cells: they must be found across the cell boundaries.
TEST(SymmetryBuild, MonoclinicGeneralPositionsAcrossCellBoundaries) {
    const double a = 5, b = 6, c = 7, beta = 100 * kDegree;
    auto cartesian = [&](double x, double y, double z) {
        return xxPoint3d{x * a + z * c * std::cos(beta), y * b, z * c * std::sin(beta)};
    };
    const double x = 0.1, y = 0.2, z = 0.3;
    Model m;
    m.Atom("C", cartesian(x, y, z));
    m.Atom("C", cartesian(-x + 1, y + 0.5, -z + 0.5));
    m.Atom("C", cartesian(-x, -y, -z));            // outside the cell
    m.Atom("C", cartesian(x, -y + 0.5 + 2, z + 0.5));  // two cells up along b
    m.Atom("O", cartesian(-x, -y, -z));            // same place, other element
    BuildNamed(m, "P21/c", {a, b, c, 90, 100, 90});

    ASSERT_EQ(m.Atoms(xxSymmetrySystem::kParents).size(), 2u);
    const auto images = m.Atoms(xxSymmetrySystem::kImages);
    ASSERT_EQ(images.size(), 3u);
    std::vector<std::string> symbols;
    for (xxObject* image : images) {
        const xxSymmetryElement& e = m.system.GetSymmetryElement(*image);
        symbols.push_back(e.GetOperatorSymbol());
        ExpectNear(e.GetCartesianTransform().Apply(m.system.GetSymmetryParent(*image)->GetXYZ()), image->GetXYZ());
    }
    EXPECT_EQ(symbols, (std::vector<std::string>{"-x,y+1/2,-z+1/2", "-x,-y,-z", "x,-y+1/2,z+1/2"}));
    EXPECT_EQ(m.system.GetSymmetryElement(*images[1]).GetPeriodicTranslation(), (xxPeriodicTranslation{{0, 0, 0}}));
    EXPECT_EQ(m.system.GetSymmetryElement(*images[2]).GetPeriodicTranslation(), (xxPeriodicTranslation{{0, 2, 0}}));
}

TEST(SymmetryBuild, IteratorModesSeparateParentsSymmetryAndPeriodicImages) {
    Model m;
    RockSalt(m);
    m.Atom("Na", {kNaClA, 0, 0});  // the corner atom one cell along a
    BuildNamed(m, "Fm-3m", {kNaClA, kNaClA, kNaClA, 90, 90, 90});
    struct Case {
        int mode;
        std::size_t atoms;
    };
    for (const Case c : {Case{xxSymmetrySystem::kParents, 2}, Case{xxSymmetrySystem::kParentsAndSymmetryImages, 8},
                         Case{xxSymmetrySystem::kSymmetryImages, 6}, Case{xxSymmetrySystem::kPeriodicImages, 1},
                         Case{xxSymmetrySystem::kImages, 7}, Case{xxSymmetrySystem::kAll, 9}})
        EXPECT_EQ(m.Atoms(c.mode).size(), c.atoms) << "mode " << c.mode;
    // Without a class filter the containers come too; sets are no images either.
    EXPECT_EQ(m.system.Iterator(0, xxSymmetrySystem::kAll).size(), 11u);
    EXPECT_EQ(Thrown([&] { m.system.Iterator(0, 6); }).Hr(), E_INVALIDARG);
}

TEST(SymmetryBuild, WithoutEquivalentsEveryAtomIsAParentAndCompleteCellFillsTheCell) {
    Model m;
    m.Atom("Na", {0, 0, 0});
    m.Atom("Cl", {kNaClA / 2, 0, 0});
    auto def = [&] {
        std::unique_ptr<xxSpaceGroup> d;
        xxSymmetryCreator::CreateSymmetryDefinition(SpaceGroup("Fm-3m"), m.system, d);
        d->SetCellParameters(kNaClA, kNaClA, kNaClA, 90 * kDegree, 90 * kDegree, 90 * kDegree, true);
        return d;
    };
    RockSalt(m);
    xxSymmetryChanger::Build(m.system, def(), false, 0.05, false);
    EXPECT_EQ(m.Atoms(xxSymmetrySystem::kParents).size(), 10u);

    // The asymmetric unit alone, completed: 4 Na and 4 Cl in the cell, 3 + 3 of them made.
    Model unit;
    unit.Atom("Na", {0, 0, 0});
    unit.Atom("Cl", {kNaClA / 2, 0, 0});
    std::unique_ptr<xxSpaceGroup> d;
    xxSymmetryCreator::CreateSymmetryDefinition(SpaceGroup("Fm-3m"), unit.system, d);
    d->SetCellParameters(kNaClA, kNaClA, kNaClA, 90 * kDegree, 90 * kDegree, 90 * kDegree, true);
    xxSymmetryChanger::Build(unit.system, std::move(d), true, 0.05, true);
    const auto made = unit.Atoms(xxSymmetrySystem::kImages);
    ASSERT_EQ(made.size(), 6u);
    for (xxObject* image : made) {
        EXPECT_TRUE(unit.system.IsImageMadeOnDemand(*image));
        EXPECT_EQ(image->GetParent(), &unit.system);
        for (double v : {image->GetXYZ().x, image->GetXYZ().y, image->GetXYZ().z}) {
            EXPECT_GE(v, -1e-9);
            EXPECT_LT(v, kNaClA);
        }
    }
    // Building again drops what the last build made and finds the same parents.
    xxSymmetryChanger::Rebuild(unit.system, true, 0.05, false);
    EXPECT_EQ(unit.Atoms(xxSymmetrySystem::kAll).size(), 2u);
    EXPECT_EQ(unit.system.NumChildren(), 1u);
}

TEST(SymmetryBuild, BadInputIsRefusedAndLeavesTheSystemAsItWas) {
    Model m;
    RockSalt(m);
    BuildNamed(m, "Fm-3m", {kNaClA, kNaClA, kNaClA, 90, 90, 90});
    const xxSymmetryDefinition* before = &m.system.GetSymmetryDefinition();

    auto cubic = [&](double a, double b) {
        std::unique_ptr<xxSpaceGroup> d;
        xxSymmetryCreator::CreateSymmetryDefinition(SpaceGroup("Fm-3m"), m.system, d);
        d->SetCellParameters(a, b, a, 90 * kDegree, 90 * kDegree, 90 * kDegree, false);
        return d;
    };
    struct Case {
        const char* what;
        std::function<void()> call;
        HRESULT hr;
    };
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const Case cases[] = {
        {"negative tolerance", [&] { xxSymmetryChanger::Build(m.system, cubic(5.64, 5.64), true, -0.1, false); }, E_INVALIDARG},
        {"NaN tolerance", [&] { xxSymmetryChanger::Build(m.system, cubic(5.64, 5.64), true, nan, false); }, E_INVALIDARG},
        {"tolerance of half a cell", [&] { xxSymmetryChanger::Build(m.system, cubic(5.64, 5.64), true, 2.82, false); }, E_INVALIDARG},
        {"cubic group on a non-cubic cell", [&] { xxSymmetryChanger::Build(m.system, cubic(5.64, 6.0), true, 0.05, false); }, E_INVALIDARG},
        {"no definition", [&] { xxSymmetryChanger::Build(m.system, nullptr, true, 0.05, false); }, E_POINTER},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Thrown(c.call).Hr(), c.hr) << c.what;
        EXPECT_EQ(&m.system.GetSymmetryDefinition(), before) << c.what;
        EXPECT_EQ(m.Atoms(xxSymmetrySystem::kParents).size(), 2u) << c.what;
    }

    m.Atom("Na", {std::numeric_limits<double>::infinity(), 0, 0});
    const Cfx::CfxResult r = Thrown([&] { xxSymmetryChanger::Build(m.system, cubic(5.64, 5.64), true, 0.05, false); });
    EXPECT_EQ(r.Hr(), E_INVALIDARG);
    EXPECT_NE(r.Description().find("not finite"), std::string::npos) << r.Description();
    EXPECT_EQ(&m.system.GetSymmetryDefinition(), before);
}

// A large cell is built whole; its speed is measured by the benchmarks, not here.
TEST(SymmetryBuild, LargeCellsBuildInLinearTime) {
    Model m;
    constexpr int kSide = 40;  // 64000 atoms and as many inversion partners
    const double a = kSide * 3.0;
    for (int i = 0; i < kSide; ++i)
        for (int j = 0; j < kSide; ++j)
            for (int k = 0; k < kSide; ++k) {
                const xxPoint3d p{3.0 * i + 0.4, 3.0 * j + 0.7, 3.0 * k + 1.1};
                m.Atom("Si", p);
                m.Atom("Si", {a - p.x, a - p.y, a - p.z});
            }
    BuildNamed(m, "P-1", {a, a, a, 90, 90, 90});
    EXPECT_EQ(m.Atoms(xxSymmetrySystem::kParents).size(), 64000u);
    EXPECT_EQ(m.Atoms(xxSymmetrySystem::kImages).size(), 64000u);
}

// ------------------------------------------------------------------------------------- images

TEST(SymmetryImages, LatticeTranslationMakesABondableImageInTheNextCell) {
    Model m;
    RockSalt(m);
    BuildNamed(m, "Fm-3m", {kNaClA, kNaClA, kNaClA, 90, 90, 90});
    auto& cl = static_cast<xxAtom3d&>(*m.Atoms(xxSymmetrySystem::kParents)[1]);
    const xxSymmetryDefinition& d = m.system.GetSymmetryDefinition();
    const int identity = d.GetIdentityElement().GetOperatorNumber();
    const xxSymmetryElement* along = d.FindSymmetryElement(identity, {{1, 0, 0}});
    ASSERT_NE(along, nullptr);

    xxObject* image = m.system.FindSymmetryImage(cl, along);
    ASSERT_NE(image, nullptr);
    auto* atom = image->As<xxAtom3d>();
    ASSERT_NE(atom, nullptr);
    EXPECT_EQ(atom->GetElementSymbol(), "Cl");
    EXPECT_EQ(atom->GetName(), cl.GetName());
    ExpectNear(atom->GetXYZ(), {cl.GetXYZ().x + kNaClA, cl.GetXYZ().y, cl.GetXYZ().z});
    EXPECT_EQ(image->GetParent(), &m.system);
    EXPECT_TRUE(m.system.IsImageMadeOnDemand(*image));
    EXPECT_EQ(m.system.GetSymmetryParent(*image), &cl);
    EXPECT_EQ(&m.system.GetSymmetryElement(*image), along);
    EXPECT_EQ(m.system.FindSymmetryImage(cl, along), image) << "made once";
    EXPECT_EQ(m.system.FindSymmetryImage(*image, along->GetInverse()), &cl);

    // Images of images compose: (1,0,0) then (0,1,0) is (1,1,0) of the parent.
    xxObject* diagonal = m.system.FindSymmetryImage(*image, xxPeriodicTranslation{{0, 1, 0}});
    EXPECT_EQ(diagonal, m.system.FindSymmetryImage(cl, xxPeriodicTranslation{{1, 1, 0}}));

    // An atom bonds to a partner's image as to any atom.
    auto& na = static_cast<xxAtom3d&>(*m.Atoms(xxSymmetrySystem::kParents)[0]);
    xxBond& bond = xxBondable::MakeBond(na, *atom->As<xxBondable>());
    EXPECT_TRUE(bond.Joins(na, *atom));

    // The Na parent sits on 4a: the inversion through the origin leaves it in place.
    const xxSymmetryElement* inversion = nullptr;
    for (int n = 1; n <= d.GetNumOperators(); ++n)
        if (d.GetOperatorElement(n)->GetOperatorSymbol() == "-x,-y,-z") inversion = d.GetOperatorElement(n);
    ASSERT_NE(inversion, nullptr);
    EXPECT_EQ(m.system.FindSymmetryImage(na, inversion), &na);
    // Out of the system or not matter: none.
    xxAtom3d outside("Na");
    EXPECT_EQ(m.system.FindSymmetryImage(outside, along), nullptr);
    EXPECT_EQ(m.system.FindSymmetryImage(cl, nullptr), nullptr);
}

TEST(SymmetryImages, TheRelationForgetsObjectsThatDie) {
    Model m;
    RockSalt(m);
    BuildNamed(m, "Fm-3m", {kNaClA, kNaClA, kNaClA, 90, 90, 90});
    auto& cl = *m.Atoms(xxSymmetrySystem::kParents)[1];
    xxObject* made = m.system.FindSymmetryImage(cl, xxPeriodicTranslation{{0, 0, 1}});
    ASSERT_NE(made, nullptr);
    EXPECT_EQ(m.system.GetSymmetryImages(cl).size(), 4u);

    made->Delete();
    EXPECT_EQ(m.system.GetSymmetryImages(cl).size(), 3u);
    xxObject* again = m.system.FindSymmetryImage(cl, xxPeriodicTranslation{{0, 0, 1}});
    ASSERT_NE(again, nullptr);
    EXPECT_EQ(m.system.GetSymmetryImages(cl).size(), 4u);

    // With the parent gone its images are ordinary atoms again.
    const std::vector<xxObject*> orphans = m.system.GetSymmetryImages(cl);
    cl.Delete();
    for (xxObject* o : orphans) {
        EXPECT_FALSE(m.system.IsSymmetryImage(*o));
        EXPECT_EQ(m.system.GetSymmetryParent(*o), o);
    }
}

TEST(SymmetryImages, ChangingTheCellMovesTheImagesMadeOnDemand) {
    Model m;
    RockSalt(m);
    BuildNamed(m, "Fm-3m", {kNaClA, kNaClA, kNaClA, 90, 90, 90});
    xxObject& na = *m.Atoms(xxSymmetrySystem::kParents)[0];
    xxObject* image = m.system.FindSymmetryImage(na, xxPeriodicTranslation{{0, 2, 0}});
    ASSERT_NE(image, nullptr);
    auto& group = static_cast<xxSpaceGroup&>(m.system.GetSymmetryDefinition());
    group.SetCellParameters(6, 6, 6, 90 * kDegree, 90 * kDegree, 90 * kDegree, false);
    ExpectNear(image->GetXYZ(), {0, 2 * kNaClA, 0});
    group.SetCellParameters(6, 6, 6, 90 * kDegree, 90 * kDegree, 90 * kDegree, true);
    ExpectNear(image->GetXYZ(), {0, 12, 0});
}

// ----------------------------------------------------------------------------------- elements

TEST(SymmetryElements, LookupByOperatorNumberAndShift) {
    Model m;
    BuildNamed(m, "P21/c", {5, 6, 7, 90, 100, 90});
    const xxSymmetryDefinition& d = m.system.GetSymmetryDefinition();
    ASSERT_EQ(d.GetNumOperators(), 4);
    struct Case {
        int number;
        xxPeriodicTranslation t;
        bool found;
    };
    const int big = xxSymmetryDefinition::kMaxTranslation + 1;
    for (const Case c : {Case{1, {}, true}, Case{4, {{-3, 9, 1}}, true}, Case{0, {}, false}, Case{-1, {}, false},
                         Case{5, {}, false}, Case{2, {{big, 0, 0}}, false}}) {
        const xxSymmetryElement* e = d.FindSymmetryElement(c.number, c.t);
        EXPECT_EQ(e != nullptr, c.found) << c.number;
        if (!e) continue;
        EXPECT_EQ(e->GetOperatorNumber(), c.number);
        EXPECT_EQ(e->GetPeriodicTranslation(), c.t);
        EXPECT_EQ(d.FindSymmetryElement(c.number, c.t), e) << "one object per element";
    }
    EXPECT_EQ(d.GetOperatorElement(5), nullptr);
    EXPECT_EQ(Thrown([&] { d.GetOperator(5); }).Hr(), DISP_E_BADINDEX);

    // Operator 3 of the database setting is -x, y+1/2, -z+1/2: the operator alone, without the
    // element's shift, and the inverse undoes the whole map.
    const xxSymmetryElement& e = *d.FindSymmetryElement(3, {{1, 0, 0}});
    const xxTransformMatrix op = e.GetOperator();
    EXPECT_DOUBLE_EQ(op.R(0, 0), -1);
    EXPECT_DOUBLE_EQ(op.T(1), 0.5);
    EXPECT_DOUBLE_EQ(op.T(0), 0);
    EXPECT_FALSE(e.IsIdentity());
    EXPECT_TRUE(d.Compose(*e.GetInverse(), e)->IsIdentity());
    EXPECT_TRUE(d.GetIdentityElement().IsIdentity());
    // Another definition's element is refused.
    xxSpaceGroup other;
    EXPECT_EQ(Thrown([&] { d.Compose(e, other.GetIdentityElement()); }).Hr(), E_INVALIDARG);
}

// ------------------------------------------------------------------------------- orientations

TEST(LatticeOrientation, TransformsLayTheLatticeAlongTheNamedAxes) {
    struct Case {
        const char* axes;
        int convention;
    };
    const Case cases[] = {{"xyz", 3},  {"yxz", 6},  {"zxy", 9},  {"xzy", 12}, {"yzx", 15},
                          {"xy", 19},  {"yx", 20},  {"xz", 22},  {"zx", 24},  {"yz", 26},  {"zy", 28}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.axes);
        EXPECT_EQ(xxLatticeOrientation::FromAxisOrder(c.axes), c.convention);
        const bool plane = std::string_view(c.axes).size() == 2;
        std::unique_ptr<xxSymmetryDefinition> d;
        if (plane) {
            auto g = std::make_unique<xxPlaneGroup>();
            g->SetCellParameters(3, 4, 110 * kDegree, false);
            d = std::move(g);
        } else {
            auto g = std::make_unique<xxSpaceGroup>();
            g->SetCellParameters(3, 4, 5, 80 * kDegree, 85 * kDegree, 95 * kDegree, false);
            d = std::move(g);
        }
        const xxTransformMatrix to = d->GetTransformationToOrientation(c.convention);
        const xxTransformMatrix from = d->GetTransformationFromOrientation(c.convention);
        EXPECT_TRUE((from * to).IsIdentity(1e-12));
        EXPECT_NEAR(to.Determinant(), 1, 1e-12);

        auto axis = [](char letter) { return letter - 'x'; };
        const int first = axis(c.axes[0]), second = axis(c.axes[1]), third = 3 - first - second;
        const xxPoint3d a = to.TransformCartesianVector(d->GetAVector());
        const xxPoint3d b = to.TransformCartesianVector(d->GetBVector());
        EXPECT_NEAR(a[first], 3, 1e-12);
        EXPECT_NEAR(a[second], 0, 1e-12);
        EXPECT_NEAR(a[third], 0, 1e-12);
        EXPECT_GT(b[second], 0);
        EXPECT_NEAR(b[third], 0, 1e-12);

        // Laid out in that convention, the definition's own vectors are where the transform put them.
        d->SetOrientationConvention(c.convention);
        d->ResetOrientation();
        ExpectNear(d->GetAVector(), a, 1e-12);
        ExpectNear(d->GetBVector(), b, 1e-12);
        EXPECT_TRUE(d->GetTransformationToOrientation(c.convention).IsIdentity(1e-12));
        EXPECT_NEAR(d->GetA(), 3, 1e-12);
        EXPECT_NEAR(d->GetB(), 4, 1e-12);
    }
    EXPECT_EQ(xxLatticeOrientation::FromAxisOrder("XYZ"), 3);
    EXPECT_EQ(xxLatticeOrientation::FromAxisOrder("zyx"), 0);
    EXPECT_EQ(xxLatticeOrientation::FromAxisOrder("xxz"), std::nullopt);

    xxSpaceGroup space;
    xxPlaneGroup plane;
    EXPECT_EQ(Thrown([&] { space.GetTransformationToOrientation(19); }).Hr(), E_INVALIDARG);
    EXPECT_EQ(Thrown([&] { plane.SetOrientationConvention(3); }).Hr(), E_INVALIDARG);
    EXPECT_EQ(Thrown([&] { space.SetOrientationConvention(7); }).Hr(), E_INVALIDARG);
}

// Conventions 0 and 29 lay the cell out as MD trajectories store it: 0 puts c along +z and b in
// the yz plane toward +y; 29 puts a plane cell's b along +z and a in the yz plane toward +y.
TEST(LatticeOrientation, TheTrajectoryLayoutsLayTheCellFromItsFarEnd) {
    struct Case {
        const char* name;
        int convention;
        bool plane;
        std::array<double, 6> cell;  // a, b, c (plane: a, b), angles in degrees
    };
    const Case cases[] = {
        {"0, orthogonal", 0, false, {3, 4, 5, 90, 90, 90}},
        {"0, triclinic", 0, false, {3, 4, 5, 80, 85, 95}},
        {"0, obtuse", 0, false, {6, 5, 4, 110, 100, 120}},
        {"29, rectangular", 29, true, {3, 4, 0, 90, 90, 90}},
        {"29, oblique", 29, true, {3, 4, 0, 90, 90, 110}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::unique_ptr<xxSymmetryDefinition> d;
        if (c.plane) {
            auto g = std::make_unique<xxPlaneGroup>();
            g->SetCellParameters(c.cell[0], c.cell[1], c.cell[5] * kDegree, false);
            d = std::move(g);
        } else {
            auto g = std::make_unique<xxSpaceGroup>();
            g->SetCellParameters(c.cell[0], c.cell[1], c.cell[2], c.cell[3] * kDegree, c.cell[4] * kDegree,
                                 c.cell[5] * kDegree, false);
            d = std::move(g);
        }
        const xxTransformMatrix to = d->GetTransformationToOrientation(c.convention);
        EXPECT_TRUE((d->GetTransformationFromOrientation(c.convention) * to).IsIdentity(1e-12));
        EXPECT_NEAR(to.Determinant(), 1, 1e-12);
        const xxPoint3d a = to.TransformCartesianVector(d->GetAVector());
        const xxPoint3d b = to.TransformCartesianVector(d->GetBVector());
        const xxPoint3d along = c.plane ? b : to.TransformCartesianVector(d->GetCVector());
        const xxPoint3d inPlane = c.plane ? a : b;
        EXPECT_NEAR(along.x, 0, 1e-12);
        EXPECT_NEAR(along.y, 0, 1e-12);
        EXPECT_NEAR(along.z, c.plane ? c.cell[1] : c.cell[2], 1e-12);
        EXPECT_NEAR(inPlane.x, 0, 1e-12);
        EXPECT_GT(inPlane.y, 0);
        if (c.plane) {
            EXPECT_NEAR(to.TransformCartesianVector(d->GetCVector()).x, 1, 1e-12);  // the slab normal
        }
        // Laid out in it, the definition's own vectors are where the transform put them.
        d->SetOrientationConvention(c.convention);
        d->ResetOrientation();
        ExpectNear(d->GetAVector(), a, 1e-12);
        ExpectNear(d->GetBVector(), b, 1e-12);
        EXPECT_TRUE(d->GetTransformationToOrientation(c.convention).IsIdentity(1e-12));
    }
    xxSpaceGroup space;
    xxPlaneGroup plane;
    EXPECT_EQ(Thrown([&] { space.GetTransformationToOrientation(29); }).Hr(), E_INVALIDARG);
    EXPECT_EQ(Thrown([&] { plane.SetOrientationConvention(0); }).Hr(), E_INVALIDARG);
    EXPECT_EQ(xxLatticeOrientation::Dimension(29), 2);
}

TEST(SymmetryUtility, CellParametersOfVectorsAreTheLengthsAndAnglesSetCellParametersTakes) {
    xxSpaceGroup g;
    g.SetCellParameters(3, 4, 5, 80 * kDegree, 85 * kDegree, 95 * kDegree, false);
    const auto p = xxSymmetryUtility::Get3DCellParametersFromVectors(g.GetAVector(), g.GetBVector(), g.GetCVector());
    EXPECT_NEAR(p.a, 3, 1e-12);
    EXPECT_NEAR(p.b, 4, 1e-12);
    EXPECT_NEAR(p.c, 5, 1e-12);
    EXPECT_NEAR(p.alpha, 80 * kDegree, 1e-12);
    EXPECT_NEAR(p.beta, 85 * kDegree, 1e-12);
    EXPECT_NEAR(p.gamma, 95 * kDegree, 1e-12);
    const auto q = xxSymmetryUtility::Get2DCellParametersFromVectors({0, 3, 0}, {0, 3, 3});
    EXPECT_NEAR(q.a, 3, 1e-12);
    EXPECT_NEAR(q.b, std::sqrt(18.0), 1e-12);
    EXPECT_NEAR(q.gamma, 45 * kDegree, 1e-12);
    // Zero vectors give no angle, which every cell refuses.
    const auto zero = xxSymmetryUtility::Get3DCellParametersFromVectors({}, {}, {});
    EXPECT_EQ(zero.a, 0);
    EXPECT_TRUE(std::isnan(zero.alpha));
    EXPECT_EQ(Thrown([&] { g.SetCellParameters(zero.a, zero.b, zero.c, zero.alpha, zero.beta, zero.gamma, false); }).Hr(),
              E_INVALIDARG);
}

TEST(SymmetryDefinition, VectorVelocitiesAreKeptAsGiven) {
    xxSpaceGroup g;
    EXPECT_EQ(g.GetVector1Velocity(), xxPoint3d{});
    g.SetVector1Velocity({1, 2, 3});
    g.SetVector2Velocity({4, 5, 6});
    g.SetVector3Velocity({7, 8, 9});
    EXPECT_EQ(g.GetVector1Velocity(), (xxPoint3d{1, 2, 3}));
    EXPECT_EQ(g.GetVector2Velocity(), (xxPoint3d{4, 5, 6}));
    EXPECT_EQ(g.GetVector3Velocity(), (xxPoint3d{7, 8, 9}));
}

// A two-fold axis along b lies along z when the lattice is laid out "yzx": the build reads the
// positions in the definition's orientation.
TEST(LatticeOrientation, BuildReadsPositionsInTheCurrentOrientation) {
    struct Case {
        int convention;
        std::size_t parents;
    };
    for (const Case c : {Case{xxLatticeOrientation::kYZX, 1}, Case{xxLatticeOrientation::kXYZ, 2}}) {
        Model m;
        m.Atom("Na", {0.7, 1.0, 1.5});
        m.Atom("Na", {-0.7, -1.0, 1.5});  // turned half about z
        std::unique_ptr<xxSpaceGroup> d;
        xxSymmetryCreator::CreateSymmetryDefinition(SpaceGroup("P2"), m.system, d);
        d->SetOrientationConvention(c.convention);
        d->SetCellParameters(5, 6, 7, 90 * kDegree, 90 * kDegree, 90 * kDegree, true);
        xxSymmetryChanger::Build(m.system, std::move(d), true, 0.05, false);
        EXPECT_EQ(m.Atoms(xxSymmetrySystem::kParents).size(), c.parents) << c.convention;
    }
}

// ------------------------------------------------------------------------- groups and creators

TEST(SymmetryCreator, DefinitionsFromDescriptionsKeepTheDatabaseGroup) {
    struct Case {
        const char* name;
        int operators;  // International Tables, conventional cell
        int itNumber;
        int lattice;
    };
    for (const Case c : {Case{"P1", 1, 1, 0}, Case{"P21/c", 4, 14, 2}, Case{"Pnma", 8, 62, 4},
                         Case{"I41/amd", 32, 141, 5}, Case{"R-3", 18, 148, 6}, Case{"P63/mmc", 24, 194, 6},
                         Case{"Fm-3m", 192, 225, 8}, Case{"Ia-3d", 96, 230, 8}}) {
        SCOPED_TRACE(c.name);
        Model m;
        const xxSpaceGroupDescription& description = SpaceGroup(c.name);
        std::unique_ptr<xxSpaceGroup> d;
        xxSymmetryCreator::CreateSymmetryDefinition(description, m.system, d);
        ASSERT_NE(d, nullptr);
        EXPECT_EQ(d->GetNumOperators(), c.operators);
        EXPECT_EQ(d->GetITNumber(), c.itNumber);
        EXPECT_EQ(d->GetLatticeRepresentation(), c.lattice);
        EXPECT_EQ(d->GetGroupName(), description.GetName());
        EXPECT_EQ(d->GetQualifier(), description.GetQualifier());
        EXPECT_EQ(d->GetDimension(), 3);
        // The default cell has the group's symmetry, so the definition builds as it is.
        EXPECT_NO_THROW(d->CheckCellFitsGroup());
        for (int n = 1; n <= d->GetNumOperators(); ++n)
            EXPECT_EQ(d->GetOperatorElement(n)->GetOperatorSymbol(),
                      description.GetGroup().GetOperator(static_cast<std::size_t>(n)).ToSymbol());
    }
}

TEST(SymmetryCreator, SpaceGroupsFromOperatorLists) {
    Model m;
    auto ops = [](std::initializer_list<const char*> symbols) {
        std::vector<xxTransformMatrix> out;
        for (const char* s : symbols) out.push_back(xxSymmetryConvert::ToTransform(xxSymmetryOperator::FromSymbol(s)));
        return out;
    };
    // The database order of P 1 21/c 1 names the group; another order is only operators.
    const xxSpaceGroup named(m.system, ops({"x,y,z", "-x,-y,-z", "-x,y+1/2,-z+1/2", "x,-y+1/2,z+1/2"}), 0);
    EXPECT_EQ(named.GetITNumber(), 14);
    EXPECT_EQ(named.GetGroupName(), SpaceGroup("P21/c").GetName());
    const xxSpaceGroup unnamed(m.system, ops({"x,y,z", "-x,y+1/2,-z+1/2", "-x,-y,-z", "x,-y+1/2,z+1/2"}), 0);
    EXPECT_EQ(unnamed.GetITNumber(), 0);
    EXPECT_EQ(unnamed.GetGroupName(), "");
    EXPECT_EQ(unnamed.GetOperatorElement(2)->GetOperatorSymbol(), "-x,y+1/2,-z+1/2");

    // Body centring doubles -1 into I-1.
    EXPECT_EQ(xxSpaceGroup(m.system, ops({"x,y,z", "-x,-y,-z"}), 1).GetNumOperators(), 4);
    // A three-fold axis gets a hexagonal starting cell.
    const xxSpaceGroup three(m.system, ops({"x,y,z", "-y,x-y,z", "-x+y,-x,z"}), 0);
    EXPECT_NEAR(three.GetGamma(), 120 * kDegree, 1e-12);
    EXPECT_EQ(Thrown([&] { xxSpaceGroup(m.system, ops({"x,y,z", "-y,x,z"}), 0); }).Hr(), E_INVALIDARG);
    EXPECT_EQ(Thrown([&] { xxPlaneGroup(m.system, ops({"x,y,z", "x,y,-z"}), 8); }).Hr(), E_INVALIDARG);
    EXPECT_EQ(Thrown([&] { xxPointGroup(ops({"x,y,z", "-x+1/2,-y,z"})); }).Hr(), E_INVALIDARG);
}

TEST(PlaneGroupSystems, P1AndP2Cells) {
    auto build = [](Model& m, const char* name) {
        std::unique_ptr<xxPlaneGroup> d;
        xxSymmetryCreator::CreateSymmetryDefinition(*xxPlaneGroupFactory::Instantiate().FindPlaneGroupByName(name),
                                                    m.system, d);
        d->SetOrientationConvention(xxLatticeOrientation::kXY);
        d->SetCellParameters(4, 5, 90 * kDegree, true);
        d->SetDisplayRanges(0, 1, 0, 1);
        xxSymmetryChanger::Build(m.system, std::move(d), true, 0.05, false);
    };
    Model p1;
    p1.Atom("C", {0.4, 0.5, 0});
    p1.Atom("C", {4.4, 0.5, 0});  // one cell along a
    p1.Atom("C", {0.4, 0.5, 1});  // above the first: the slab does not repeat along c
    build(p1, "p1");
    EXPECT_EQ(p1.Atoms(xxSymmetrySystem::kParents).size(), 2u);
    EXPECT_EQ(p1.Atoms(xxSymmetrySystem::kPeriodicImages).size(), 1u);
    const xxSymmetryDefinition& d1 = p1.system.GetSymmetryDefinition();
    EXPECT_EQ(d1.GetDimension(), 2);
    EXPECT_EQ(d1.GetGroupName(), "p1");
    EXPECT_NEAR(d1.GetGamma(), 90 * kDegree, 1e-12);
    EXPECT_NEAR(d1.GetC(), 1, 1e-12);
    EXPECT_EQ(d1.FindSymmetryElement(1, {{0, 0, 1}}), nullptr);

    Model p2;
    p2.Atom("C", {0.8, 1.5, 2});
    p2.Atom("C", {4 - 0.8, 5 - 1.5, 2});  // the two-fold image
    p2.Atom("C", {4 - 0.8, 5 - 1.5, 3});
    build(p2, "p2");
    EXPECT_EQ(p2.Atoms(xxSymmetrySystem::kParents).size(), 2u);
    EXPECT_EQ(p2.Atoms(xxSymmetrySystem::kSymmetryImages).size(), 1u);
    EXPECT_EQ(p2.system.GetSymmetryDefinition().GetNumOperators(), 2);
    EXPECT_EQ(p2.system.GetSymmetryDefinition().GetITNumber(), 2);
}

// ------------------------------------------------------------------------------------ display

TEST(SymmetryDisplay, RockSaltCellShowsItsTwentySevenSites) {
    Model m;
    m.Atom("Na", {0, 0, 0});
    m.Atom("Cl", {kNaClA / 2, 0, 0});
    BuildNamed(m, "Fm-3m", {kNaClA, kNaClA, kNaClA, 90, 90, 90});
    xxSymmetryDisplay& display = m.system.GetSymmetryDisplay();
    display.GenerateDisplay();
    // 0..1 inclusive: Na on 8 corners and 6 faces, Cl on 12 edges and the centre.
    EXPECT_EQ(display.GetNumImages(), 27u);
    int na = 0;
    for (const xxDisplayedImage& image : display.GetImages()) {
        if (static_cast<xxAtom3d*>(image.parent)->GetElementSymbol() == "Na") ++na;
        for (double v : {image.position.x, image.position.y, image.position.z}) {
            EXPECT_GE(v, -1e-6);
            EXPECT_LE(v, kNaClA + 1e-6);
        }
    }
    EXPECT_EQ(na, 14);

    static_cast<xxSpaceGroup&>(m.system.GetSymmetryDefinition()).SetDisplayRanges(0, 2, 0, 1, 0, 1);
    display.GenerateDisplay();
    EXPECT_EQ(display.GetNumImages(), 45u);  // every half-cell point: 5 * 3 * 3
    EXPECT_EQ(Thrown([&] {
                  static_cast<xxSpaceGroup&>(m.system.GetSymmetryDefinition()).SetDisplayRanges(0, 100, 0, 1, 0, 1);
              }).Hr(),
              E_INVALIDARG);
}

// A walk over the model, as a trajectory moves it: the parents and the images the model holds,
// never an image made on demand (no file knows of it; it follows its parent instead).
TEST(SymmetryImages, TheModelIteratorLeavesOutOnlyTheImagesMadeOnDemand) {
    Model m;
    RockSalt(m);
    BuildNamed(m, "Fm-3m", {kNaClA, kNaClA, kNaClA, 90, 90, 90});
    std::vector<xxObject*> held;
    for (const auto& child : m.unit.Children()) held.push_back(child.get());
    auto& na = static_cast<xxAtom3d&>(*m.Atoms(xxSymmetrySystem::kParents)[0]);
    xxObject* made = m.system.FindSymmetryImage(na, xxPeriodicTranslation{{0, 2, 0}});
    ASSERT_NE(made, nullptr);
    ASSERT_TRUE(m.system.IsImageMadeOnDemand(*made));
    ASSERT_EQ(m.Atoms(xxSymmetrySystem::kImages).size(), 7u);

    xxModelIterator it(m.root, {xxBondable::classType});
    std::vector<xxObject*> walked;
    while (xxObject* o = it.GetNext()) walked.push_back(o);
    EXPECT_EQ(walked, held);
    // The system's own walk gives the same choice.
    const std::vector<xxObject*> all = m.system.Iterator(xxAtom::classType, xxSymmetrySystem::kAll);
    const std::vector<xxObject*> heldOnly = m.system.Iterator(xxAtom::classType, xxSymmetrySystem::kAll, false);
    EXPECT_EQ(all.size(), heldOnly.size() + 1);
    EXPECT_EQ(std::count(heldOnly.begin(), heldOnly.end(), made), 0);
    EXPECT_EQ(std::count(all.begin(), all.end(), made), 1);

    // Moving a parent and synchronising brings the made image along.
    na.SetXYZ({0.5, 0, 0});
    m.system.SynchronizeImages();
    ExpectNear(made->GetXYZ(), {0.5, 2 * kNaClA, 0});
}

// The display and the iterator that follow a build on the same tree reuse what its walk found;
// any change to the tree since must be seen.
TEST(SymmetryDisplay, ChangesAfterTheBuildAreSeen) {
    struct Case {
        const char* what;
        std::function<void(Model&)> change;
        std::size_t images;  // listed by the display, P1 from 0 to 1
        std::size_t sets;
    } cases[] = {
        {"nothing", [](Model&) {}, 2, 0},
        {"an atom added", [](Model& m) { m.Atom("Cl", {2.5, 2.5, 2.5}); }, 3, 0},
        {"an atom deleted", [](Model& m) { m.unit.GetChild(0).Delete(); }, 1, 0},
        {"a set added", [](Model& m) { m.unit.CreateChild<xxSet>(); }, 2, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Model m;
        m.Atom("Na", {2.5, 2.5, 2.5});
        m.Atom("Na", {5, 5, 2.5});
        BuildNamed(m, "P1", {10, 10, 10, 90, 90, 90});
        c.change(m);
        m.system.GetSymmetryDisplay().GenerateDisplay();
        EXPECT_EQ(m.system.GetSymmetryDisplay().GetNumImages(), c.images);
        EXPECT_EQ(m.system.Iterator(xxSet::classType, xxSymmetrySystem::kAll).size(), c.sets);
    }
}

TEST(SymmetryImages, PeriodicParentsAndRelationships) {
    Model m;
    auto& c = m.Atom("C", {1, 2, 3});
    BuildNamed(m, "P-1", {10, 10, 10, 90, 90, 90});
    const xxSymmetryDefinition& d = m.system.GetSymmetryDefinition();
    xxObject* inverted = m.system.FindSymmetryImage(c, d.GetOperatorElement(2));
    xxObject* shifted = m.system.FindSymmetryImage(*inverted, xxPeriodicTranslation{{1, 0, -2}});
    xxObject* translate = m.system.FindSymmetryImage(c, xxPeriodicTranslation{{0, 3, 0}});
    EXPECT_EQ(m.system.GetPeriodicParent(c), &c);
    EXPECT_EQ(m.system.GetPeriodicParent(*translate), &c);
    EXPECT_EQ(m.system.GetPeriodicParent(*inverted), inverted);
    EXPECT_EQ(m.system.GetPeriodicParent(*shifted), inverted);
    struct Case {
        xxObject* from;
        xxObject* to;
        int op;
        xxPeriodicTranslation t;
    } cases[] = {
        {&c, &c, 1, {}},
        {&c, translate, 1, {{0, 3, 0}}},
        {inverted, shifted, 1, {{1, 0, -2}}},
        {&c, inverted, 2, {}},
    };
    for (const Case& k : cases) {
        const xxSymmetryElement* e = m.system.FindSymmetryRelationship(*k.from, *k.to);
        ASSERT_NE(e, nullptr);
        EXPECT_EQ(e->GetOperatorNumber(), k.op);
        EXPECT_EQ(e->GetPeriodicTranslation(), k.t);
    }
    auto& other = m.Atom("O", {4, 4, 4});
    EXPECT_EQ(m.system.FindSymmetryRelationship(c, other), nullptr);
}

TEST(SymmetryDisplay, RegenerationKeepsWhatWasShownAndHiddenOneByOne) {
    Model m;
    auto& c = m.Atom("C", {1, 1, 1});
    BuildNamed(m, "P1", {10, 10, 10, 90, 90, 90});
    xxSymmetryDisplay& display = m.system.GetSymmetryDisplay();
    display.GenerateDisplay();
    ASSERT_EQ(display.GetNumImages(), 1u);
    const xxSymmetryDefinition& d = m.system.GetSymmetryDefinition();
    const xxSymmetryElement& home = d.GetIdentityElement();
    const xxSymmetryElement& next = *d.FindSymmetryElement(1, {{1, 0, 0}});
    EXPECT_TRUE(display.MakeVisible(c, next));
    EXPECT_TRUE(display.Hide(c, home));
    EXPECT_FALSE(display.IsShown(c, home));
    EXPECT_EQ(display.GetNumImages(), 1u);
    ASSERT_EQ(display.GetImages().size(), 1u);
    EXPECT_EQ(display.GetImages()[0].element, &next);

    display.ReGenerateDisplay();
    EXPECT_TRUE(display.IsShown(c, next));
    EXPECT_FALSE(display.IsShown(c, home));
    EXPECT_EQ(display.GetNumImages(), 1u);

    // An image object hidden and shown through the system.
    xxObject* image = m.system.FindSymmetryImage(c, xxPeriodicTranslation{{0, 2, 0}});
    EXPECT_TRUE(m.system.SetImageVisibility(*image, true));
    EXPECT_TRUE(m.system.SetImageVisibility(c, true));
    display.ReGenerateDisplay();
    EXPECT_EQ(display.GetNumImages(), 3u);
    EXPECT_TRUE(m.system.SetImageVisibility(*image, false));
    display.ReGenerateDisplay();
    EXPECT_EQ(display.GetNumImages(), 2u);

    display.GenerateDisplay();  // afresh: the ranges alone
    EXPECT_TRUE(display.IsShown(c, home));
    EXPECT_FALSE(display.IsShown(c, next));
    EXPECT_EQ(display.GetNumImages(), 1u);
}

TEST(SymmetryDisplay, TuplesOfAtomSetsAreMadeVisibleAcrossCells) {
    Model m;
    RockSalt(m);
    BuildNamed(m, "Fm-3m", {kNaClA, kNaClA, kNaClA, 90, 90, 90});
    m.system.GetSymmetryDisplay().GenerateDisplay();
    const std::size_t shown = m.system.GetSymmetryDisplay().GetNumImages();
    auto& na = static_cast<xxAtom3d&>(*m.Atoms(xxSymmetrySystem::kParents)[0]);
    auto& far = *m.system.FindSymmetryImage(na, xxPeriodicTranslation{{3, 0, 0}})->As<xxAtom3d>();
    auto& set = m.system.CreateChild<xxSet>();
    set.Add(m.system.CreateChild<xxDistanceStretcher>(na, far));

    EXPECT_FALSE(m.system.GetSymmetryDisplay().IsShown(na, m.system.GetSymmetryElement(far)));
    EXPECT_EQ(xxSymmetryVisibilityUtility::MakeVisibleNTupleSets(m.system), 1u);
    EXPECT_EQ(m.system.GetSymmetryDisplay().GetNumImages(), shown + 1);
    EXPECT_TRUE(m.system.GetSymmetryDisplay().IsShown(na, m.system.GetSymmetryElement(far)));
    EXPECT_EQ(xxSymmetryVisibilityUtility::MakeVisibleNTupleSets(m.system), 0u) << "once";
}


// ------------------------------------------------------------------------- saving and loading

// An in-memory serialiser: each saved object is a node of texts, references and children. It
// does only what the symmetry classes and the tree ask of a serialiser.
struct ArchiveNode {
    std::string cls;
    const void* address = nullptr;
    std::map<std::string, std::vector<std::string>> values;
    std::map<std::string, std::vector<const void*>> references;
    std::set<std::string> present;
    std::vector<std::unique_ptr<ArchiveNode>> children;
    std::size_t next = 0;  // reading: the next child
};

[[noreturn]] void NotUsed() { throw std::logic_error("not used by the symmetry classes"); }

class MemoryOutput final : public xxOutput {
public:
    ArchiveNode root;

    bool IsInProcessCopy() const override { return false; }
    void WriteArray(const char*, const qor::deque<float>&) override { NotUsed(); }
    void WriteArray(const char*, const std::vector<float>&) override { NotUsed(); }
    void WriteValue(const char*, float, float) override { NotUsed(); }
    void WriteValue(const char*, float) override { NotUsed(); }
    void WriteArray(const char* n, const std::vector<double>& v) override { PutAll(n, v); }
    void WriteValue(const char* n, double v, double) override { Put(n, v); }
    void WriteValue(const char* n, double v) override { Put(n, v); }
    void WriteArray(const char*, const std::vector<std::string>&) override { NotUsed(); }
    void WriteValue(const char* n, const std::string& v, const std::string&) override { Put(n, v); }
    void WriteValue(const char* n, const std::string& v) override { Put(n, v); }
    void WriteArray(const char*, const qor::deque<bool>&) override { NotUsed(); }
    void WriteArray(const char*, const std::vector<bool>&) override { NotUsed(); }
    void WriteValue(const char*, bool, bool) override { NotUsed(); }
    void WriteValue(const char*, bool) override { NotUsed(); }
    void WriteXxBoolArray(const char* n, const std::vector<xxBool>& v) override { PutAll(n, v); }
    void WriteXxBoolValue(const char*, xxBool, xxBool) override { NotUsed(); }
    void WriteXxBoolValue(const char*, xxBool) override { NotUsed(); }
    void WriteArray(const char*, const std::vector<unsigned char>&) override { NotUsed(); }
    void WriteValue(const char*, unsigned char, unsigned char) override { NotUsed(); }
    void WriteValue(const char*, unsigned char) override { NotUsed(); }
    void WriteULong32Array(const char*, const std::vector<std::uint32_t>&) override { NotUsed(); }
    void WriteULong32Value(const char*, std::uint32_t, std::uint32_t) override { NotUsed(); }
    void WriteULong32Value(const char*, std::uint32_t) override { NotUsed(); }
    void WriteLong32Array(const char*, const std::vector<std::int32_t>&) override { NotUsed(); }
    void WriteLong32Value(const char*, std::int32_t, std::int32_t) override { NotUsed(); }
    void WriteLong32Value(const char*, std::int32_t) override { NotUsed(); }
    void WriteArray(const char*, const std::vector<unsigned short>&) override { NotUsed(); }
    void WriteValue(const char*, unsigned short, unsigned short) override { NotUsed(); }
    void WriteValue(const char*, unsigned short) override { NotUsed(); }
    void WriteArray(const char*, const std::vector<short>&) override { NotUsed(); }
    void WriteValue(const char*, short, short) override { NotUsed(); }
    void WriteValue(const char*, short) override { NotUsed(); }
    void WriteArray(const char*, const std::vector<unsigned int>&) override { NotUsed(); }
    void WriteValue(const char* n, unsigned int v, unsigned int) override { Put(n, v); }
    void WriteValue(const char* n, unsigned int v) override { Put(n, v); }
    void WriteArray(const char*, const qor::deque<int>&) override { NotUsed(); }
    void WriteArray(const char* n, const std::vector<int>& v) override { PutAll(n, v); }
    void WriteValue(const char* n, int v, int) override { Put(n, v); }
    void WriteValue(const char* n, int v) override { Put(n, v); }
    void Reserved1() override {}
    void WriteBytes(const char*, const void*, std::size_t) override { NotUsed(); }
    void WriteReference(const char*, const xxSerializable*) override { NotUsed(); }
    void WriteReferenceCollection(const char* n, const xxReferenceCollection& c) override {
        auto& list = Top().references[n];
        for (std::size_t i = 0; i < c.Count(); ++i) list.push_back(c.At(i));
    }
    void WritePropertyTemplates(const char*, const std::vector<const xxPropertyBase*>&) override { NotUsed(); }
    void SaveChildObject(const xxSerializable* object) override {
        auto node = std::make_unique<ArchiveNode>();
        ArchiveNode& child = *node;
        Top().children.push_back(std::move(node));
        if (!object) return;
        child.cls = object->GetClass().GetName();
        child.address = object;
        stack_.push_back(&child);
        object->Save(*this);
        stack_.pop_back();
    }
    void SaveObject(const xxSerializable&, xxSaveKind) override { NotUsed(); }
    void SaveObjectInline(const xxSerializable*) override { NotUsed(); }
    const xxSerializable* GetParentObject() const override { return nullptr; }
    const xxSerializable* GetSavedParent(const xxSerializable&) const override { return nullptr; }
    bool IsReferencedMoreThan(const xxSerializable&, unsigned) override { return false; }
    void WriteAttributePresence(const char* n, bool present) override {
        if (present) Top().present.insert(n);
    }
    void Reserved2() override {}

private:
    ArchiveNode& Top() { return *stack_.back(); }
    template <class T>
    void Put(const char* n, const T& v) {
        Top().values[n] = {xxValueText::ToText(v)};
        Top().present.insert(n);
    }
    template <class T>
    void PutAll(const char* n, const std::vector<T>& v) {
        auto& texts = Top().values[n];
        for (const T& x : v) texts.push_back(xxValueText::ToText(static_cast<T>(x)));
        Top().present.insert(n);
    }
    std::vector<ArchiveNode*> stack_{&root};
};

class MemoryInput final : public xxInput {
public:
    explicit MemoryInput(ArchiveNode& root) : stack_{&root} {}

    bool IsInProcessCopy() const override { return false; }
    void ReadArray(const char*, qor::deque<float>&) override { NotUsed(); }
    void ReadArray(const char*, std::vector<float>&) override { NotUsed(); }
    void ReadValue(const char*, float&, float) override { NotUsed(); }
    void ReadValue(const char*, float&) override { NotUsed(); }
    void ReadArray(const char* n, std::vector<double>& v) override { GetAll(n, v); }
    void ReadValue(const char* n, double& v, double d) override { Get(n, v, d); }
    void ReadValue(const char* n, double& v) override { Get(n, v, 0.0); }
    void ReadArray(const char*, std::vector<std::string>&) override { NotUsed(); }
    void ReadValue(const char* n, std::string& v, const char* d) override { Get(n, v, std::string(d)); }
    void ReadValue(const char* n, std::string& v) override { Get(n, v, std::string()); }
    void ReadArray(const char*, qor::deque<bool>&) override { NotUsed(); }
    void ReadArray(const char*, std::vector<bool>&) override { NotUsed(); }
    void ReadValue(const char*, bool&, bool) override { NotUsed(); }
    void ReadValue(const char*, bool&) override { NotUsed(); }
    void ReadXxBoolArray(const char* n, std::vector<xxBool>& v) override { GetAll(n, v); }
    void ReadXxBoolValue(const char*, xxBool&, xxBool) override { NotUsed(); }
    void ReadXxBoolValue(const char*, xxBool&) override { NotUsed(); }
    void ReadArray(const char*, std::vector<unsigned char>&) override { NotUsed(); }
    void ReadValue(const char*, unsigned char&, unsigned char) override { NotUsed(); }
    void ReadValue(const char*, unsigned char&) override { NotUsed(); }
    void ReadULong32Array(const char*, std::vector<std::uint32_t>&) override { NotUsed(); }
    void ReadULong32Value(const char*, std::uint32_t&, std::uint32_t) override { NotUsed(); }
    void ReadULong32Value(const char*, std::uint32_t&) override { NotUsed(); }
    void ReadLong32Array(const char*, std::vector<std::int32_t>&) override { NotUsed(); }
    void ReadLong32Value(const char*, std::int32_t&, std::int32_t) override { NotUsed(); }
    void ReadLong32Value(const char*, std::int32_t&) override { NotUsed(); }
    void ReadArray(const char*, std::vector<unsigned short>&) override { NotUsed(); }
    void ReadValue(const char*, unsigned short&, unsigned short) override { NotUsed(); }
    void ReadValue(const char*, unsigned short&) override { NotUsed(); }
    void ReadArray(const char*, std::vector<short>&) override { NotUsed(); }
    void ReadValue(const char*, short&, short) override { NotUsed(); }
    void ReadValue(const char*, short&) override { NotUsed(); }
    void ReadArray(const char*, std::vector<unsigned int>&) override { NotUsed(); }
    void ReadValue(const char* n, unsigned int& v, unsigned int d) override { Get(n, v, d); }
    void ReadValue(const char* n, unsigned int& v) override { Get(n, v, 0u); }
    void ReadArray(const char*, qor::deque<int>&) override { NotUsed(); }
    void ReadArray(const char* n, std::vector<int>& v) override { GetAll(n, v); }
    void ReadValue(const char* n, int& v, int d) override { Get(n, v, d); }
    void ReadValue(const char* n, int& v) override { Get(n, v, 0); }
    void Reserved1() override {}
    void ReadBytes(const char*, void*, std::size_t) override { NotUsed(); }
    void ReadReferenceCollection(const char* n, xxReferenceCollection& c) override {
        for (const void* address : Top().references[n]) c.Append(loaded_.at(address));
    }
    void ReadPropertyTemplates(const char*, std::vector<const xxPropertyBase*>&) override { NotUsed(); }
    void ReadContainedObject(xxSerializable&, xxSerializable*, xxSaveKind) override { NotUsed(); }
    void MergeAttributes(xxSerializable&, xxSerializable&) override { NotUsed(); }
    xxSerializable* GetCurrentObject() override { return nullptr; }
    bool HasAttribute(const char* n) override { return Top().present.contains(n); }
    unsigned GetClassVersion(const xxClass& cls, bool) override { return cls.Version(); }
    void ReadReference(const char*, xxSerializable*&) override { NotUsed(); }
    void ReadReferencedChild(std::unique_ptr<xxSerializable>& child) override {
        ArchiveNode& node = *Top().children.at(Top().next++);
        child.reset();
        if (node.cls.empty()) return;
        std::unique_ptr<xxClassInstance> made = xxClass::FindClass(node.cls).CreateNew();
        child.reset(dynamic_cast<xxSerializable*>(made.release()));
        stack_.push_back(&node);
        child->Load(*this);
        stack_.pop_back();
        loaded_[node.address] = child.get();
    }

private:
    ArchiveNode& Top() { return *stack_.back(); }
    template <class T>
    void Get(const char* n, T& v, T d) {
        auto it = Top().values.find(n);
        v = d;
        if (it != Top().values.end() && !it->second.empty()) {
            ASSERT_TRUE(xxValueText::FromText(it->second[0], v)) << n;
        }
    }
    template <class T>
    void GetAll(const char* n, std::vector<T>& v) {
        v.clear();
        auto it = Top().values.find(n);
        if (it == Top().values.end()) return;
        for (const std::string& text : it->second) {
            T x{};
            ASSERT_TRUE(xxValueText::FromText(text, x)) << n;
            v.push_back(x);
        }
    }
    std::vector<ArchiveNode*> stack_;
    std::map<const void*, xxSerializable*> loaded_;
};

ArchiveNode& SavedChild(ArchiveNode& node, std::string_view cls) {
    for (auto& c : node.children)
        if (c->cls == cls) return *c;
    throw std::runtime_error("no saved " + std::string(cls));
}

std::unique_ptr<xxSymmetrySystem> Reload(ArchiveNode& saved) {
    MemoryInput in(saved);
    return in.ReadChild<xxSymmetrySystem>();
}

TEST(SymmetrySaving, SystemsComeBackWithTheirDefinitionAndImages) {
    Model m;
    RockSalt(m);
    BuildNamed(m, "Fm-3m", {kNaClA, kNaClA, kNaClA, 90, 90, 90});
    m.system.SetPeriodicDisplayType(2);
    xxObject& na = *m.Atoms(xxSymmetrySystem::kParents)[0];
    xxObject& made = *m.system.FindSymmetryImage(na, xxPeriodicTranslation{{0, -1, 0}});
    MemoryOutput out;
    out.SaveChildObject(&m.system);

    std::unique_ptr<xxSymmetrySystem> copy = Reload(out.root);
    ASSERT_NE(copy, nullptr);
    const xxSymmetryDefinition& d = copy->GetSymmetryDefinition();
    ASSERT_NE(d.As<xxSpaceGroup>(), nullptr);
    EXPECT_EQ(d.GetGroupName(), "Fm-3m");
    EXPECT_EQ(d.GetITNumber(), 225);
    EXPECT_EQ(d.GetNumOperators(), 192);
    EXPECT_NEAR(d.GetA(), kNaClA, 1e-12);
    EXPECT_EQ(d.GetOrientationConvention(), xxLatticeOrientation::kXYZ);
    EXPECT_DOUBLE_EQ(copy->GetToleranceRadius(), 0.05);
    EXPECT_EQ(copy->GetPeriodicDisplayType(), 2);

    const auto parents = copy->Iterator(xxAtom::classType, xxSymmetrySystem::kParents);
    const auto images = copy->Iterator(xxAtom::classType, xxSymmetrySystem::kImages);
    ASSERT_EQ(parents.size(), 2u);
    ASSERT_EQ(images.size(), 7u);
    EXPECT_EQ(copy->GetSymmetryElements(*parents[0]).size(), 48u) << "the site symmetry is worked out again";
    for (xxObject* image : images)
        ExpectNear(copy->GetSymmetryElement(*image).GetCartesianTransform().Apply(copy->GetSymmetryParent(*image)->GetXYZ()),
                   image->GetXYZ());
    // The image made on demand is found again rather than made twice.
    xxObject* again = copy->FindSymmetryImage(*parents[0], xxPeriodicTranslation{{0, -1, 0}});
    ASSERT_NE(again, nullptr);
    EXPECT_TRUE(copy->IsImageMadeOnDemand(*again));
    ExpectNear(again->GetXYZ(), made.GetXYZ());
    EXPECT_EQ(copy->Iterator(xxAtom::classType, xxSymmetrySystem::kImages).size(), 7u);
}

TEST(SymmetrySaving, DamagedDocumentsAreRefused) {
    Model m;
    RockSalt(m);
    BuildNamed(m, "Fm-3m", {kNaClA, kNaClA, kNaClA, 90, 90, 90});
    struct Case {
        const char* what;
        std::function<void(ArchiveNode& system)> damage;
    };
    const Case cases[] = {
        {"an operator number beyond the group", [](ArchiveNode& s) { s.values["SymmetryElements"][0] = "193"; }},
        {"lists of different lengths", [](ArchiveNode& s) { s.references["SymmetryParents"].pop_back(); }},
        {"an image that is its own parent",
         [](ArchiveNode& s) { s.references["SymmetryParents"][0] = s.references["SymmetryImages"][0]; }},
        {"eleven numbers for an operator",
         [](ArchiveNode& s) { SavedChild(s, "SpaceGroup").values["Operators"].pop_back(); }},
        {"operators that are no group",
         [](ArchiveNode& s) { SavedChild(s, "SpaceGroup").values["Operators"][3] = "0.25"; }},
        {"a flat cell", [](ArchiveNode& s) { SavedChild(s, "SpaceGroup").values["CellVectors"][8] = "0"; }},
        {"an orientation convention that does not exist",
         [](ArchiveNode& s) { SavedChild(s, "SpaceGroup").values["OrientationConvention"][0] = "5"; }},
    };
    for (const Case& c : cases) {
        MemoryOutput out;
        out.SaveChildObject(&m.system);
        c.damage(*out.root.children[0]);
        EXPECT_EQ(Thrown([&] { Reload(out.root); }).Hr(), E_INVALIDARG) << c.what;
    }
}

// --------------------------------------------------------------------------------- registry

TEST(SymmetryClasses, RegisteredUnderTheDocumentNames) {
    struct Case {
        const char* name;
        unsigned type;
        bool abstract;
    };
    for (const Case c : {Case{"SymmetryDefinition", xxSymmetryDefinition::classType, true},
                         Case{"PointGroup", xxPointGroup::classType, false},
                         Case{"SpaceGroup", xxSpaceGroup::classType, false},
                         Case{"PlaneGroup", xxPlaneGroup::classType, false},
                         Case{"SymmetryElement", xxSymmetryElement::classType, false},
                         Case{"BaseSymmetrySystem", xxBaseSymmetrySystem::classType, true},
                         Case{"SymmetrySystem", xxSymmetrySystem::classType, false},
                         Case{"MatterSymmetrySystem", xxMatterSymmetrySystem::classType, false}}) {
        const xxClass& cls = xxClass::FindClass(c.name);
        EXPECT_EQ(cls.TypeId(), c.type) << c.name;
        EXPECT_EQ(cls.IsAbstract(), c.abstract) << c.name;
    }
    EXPECT_EQ(xxClass::FindClass("PlaneGroup").Version(), 3u);
    EXPECT_EQ(xxClass::FindClass("SymmetrySystem").Version(), 4u);
    // A system made by name holds the point group 1 and is one the XML readers can find.
    auto made = xxClass::FindClass("MatterSymmetrySystem").CreateNew();
    auto* system = dynamic_cast<xxSymmetrySystem*>(made.get());
    ASSERT_NE(system, nullptr);
    EXPECT_EQ(system->GetPeriodicDimension(), 0);
    EXPECT_EQ(system->GetSymmetryDefinition().GetNumOperators(), 1);
    EXPECT_TRUE(xxMultiScaleSymmetrySystem().IsA(xxMatterSymmetrySystem::classType));
}

}  // namespace
