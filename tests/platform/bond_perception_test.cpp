// Bond perception: covalent-radius rules on small molecules, periodic cells, agreement with a
// brute-force search on random clouds, bad input, and a 100k-atom lattice.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <iterator>
#include <ostream>
#include <memory>
#include <numbers>
#include <optional>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "datamodel/atomistic.h"
#include "datamodel/bond_perception.h"

void PrintTo(const xxCovalentPair& p, std::ostream* out) {
    *out << "(" << p.first << ", " << p.second << ", [" << p.offset[0] << " " << p.offset[1] << " " << p.offset[2] << "])";
}

namespace {

using xxBondPerception::FindCovalentPairs;

HRESULT ResultOf(const std::function<void()>& f) {
    try {
        f();
    } catch (const Cfx::CfxResult& r) {
        return r.Hr();
    }
    return S_OK;
}

struct Placed {
    const char* element;
    xxPoint3d xyz;
};

// One molecule of the given atoms under a fresh root.
struct Built {
    std::unique_ptr<xxAtomisticTreeRoot> root = std::make_unique<xxAtomisticTreeRoot>();
    xxMolecule& molecule = root->CreateChild<xxMolecule>();
    std::vector<xxAtom*> atoms;
    explicit Built(const std::vector<Placed>& placed) {
        for (const Placed& p : placed) Add(p);
    }
    xxAtom& Add(const Placed& p) {
        auto& atom = molecule.CreateChild<xxAtom3d>(p.element);
        atom.SetXYZ(p.xyz);
        atoms.push_back(&atom);
        return atom;
    }
    std::size_t Bonds() const { return molecule.DescendentsOf<xxBond>().size(); }
};

std::vector<Placed> Water() { return {{"O", {0, 0, 0}}, {"H", {0.9572, 0, 0}}, {"H", {-0.23999, 0.92663, 0}}}; }

std::vector<Placed> Ethane() {
    std::vector<Placed> out{{"C", {0, 0, 0.765}}, {"C", {0, 0, -0.765}}};
    const double radial = 1.09 * std::sin(70.53 * std::numbers::pi / 180);
    const double along = 1.09 * std::cos(70.53 * std::numbers::pi / 180);
    for (int k = 0; k < 3; ++k) {
        const double up = 2 * std::numbers::pi * k / 3;
        const double down = up + std::numbers::pi / 3;
        out.push_back({"H", {radial * std::cos(up), radial * std::sin(up), 0.765 + along}});
        out.push_back({"H", {radial * std::cos(down), radial * std::sin(down), -0.765 - along}});
    }
    return out;
}

std::vector<Placed> Benzene() {
    std::vector<Placed> out;
    for (int k = 0; k < 6; ++k) {
        const double t = std::numbers::pi * k / 3;
        out.push_back({"C", {1.39 * std::cos(t), 1.39 * std::sin(t), 0}});
        out.push_back({"H", {2.48 * std::cos(t), 2.48 * std::sin(t), 0}});
    }
    return out;
}

TEST(ConstructBonds, SmallMoleculesGetTheirBonds) {
    struct Case {
        const char* name;
        std::vector<Placed> atoms;
        std::size_t bonds;
    } cases[] = {{"water", Water(), 2}, {"ethane", Ethane(), 7}, {"benzene", Benzene(), 12}};
    for (const Case& k : cases) {
        Built model(k.atoms);
        EXPECT_EQ(xxAtom::ConstructBonds(model.molecule), k.bonds) << k.name;
        EXPECT_EQ(model.Bonds(), k.bonds) << k.name;
        for (xxAtom* atom : model.atoms)
            if (atom->GetElement().symbol == "H") {
                EXPECT_EQ(atom->GetAttached().size(), 1u) << k.name;
            }
    }
}

TEST(ConstructBonds, DistanceRulesAtTheirEdges) {
    // Two carbons bond up to 0.76 + 0.76 + 0.45 = 1.97 and from 0.4.
    struct Case {
        double distance;
        bool bonded;
    } cases[] = {{0.39, false}, {0.41, true}, {1.54, true}, {1.969, true}, {1.971, false}};
    for (const Case& k : cases) {
        Built model({{"C", {0, 0, 0}}, {"C", {0, k.distance, 0}}});
        EXPECT_EQ(xxAtom::ConstructBonds(model.molecule), k.bonded ? 1u : 0u) << k.distance;
    }
}

TEST(ConstructBonds, UnknownElementsAndDummiesBondToNothing) {
    Built model({{"C", {0, 0, 0}}, {"unknown", {1.0, 0, 0}}, {"unknown", {1.0, 1.0, 0}}});
    auto& dummy = model.molecule.CreateChild<xxDummy>();
    dummy.SetXYZ({0, 1.0, 0});
    EXPECT_EQ(xxAtom::ConstructBonds(model.molecule), 0u);
    EXPECT_TRUE(dummy.GetBonds().empty());
}

TEST(ConstructBonds, LeavesBondedPairsAloneAndCountsOnlyNewBonds) {
    Built model(Water());
    xxBond& kept = xxBondable::MakeBond(*model.atoms[0], *model.atoms[1], xxBondType::Double);
    EXPECT_EQ(xxAtom::ConstructBonds(model.molecule), 1u);
    EXPECT_EQ(xxAtom::ConstructBonds(model.molecule), 0u);
    EXPECT_EQ(model.Bonds(), 2u);
    EXPECT_EQ(kept.GetOrder(), 2.0);
}

TEST(ConstructBonds, StaysWithinTheMolecule) {
    Built model(Water());
    auto& other = model.root->CreateChild<xxMolecule>();
    auto& near = other.CreateChild<xxAtom3d>("H");
    near.SetXYZ({0, -0.95, 0});  // close enough to the oxygen
    EXPECT_EQ(xxAtom::ConstructBonds(model.molecule), 2u);
    EXPECT_TRUE(near.GetBonds().empty());
    EXPECT_EQ(xxAtom::ConstructBonds(other), 0u);
}

TEST(ConstructBonds, NullAtomIsRefused) {
    std::vector<xxAtom*> atoms{nullptr};
    EXPECT_EQ(ResultOf([&] { xxAtom::ConstructBonds(atoms); }), E_POINTER);
}

// ---- periodic cells ------------------------------------------------------------------------

xxPeriodicCell Cubic(double a) { return {{{{a, 0, 0}, {0, a, 0}, {0, 0, a}}}}; }

TEST(PeriodicBonds, PairsAcrossTheBoundaryAreFound) {
    Built model({{"C", {0.2, 5, 5}}, {"C", {9.5, 5, 5}}, {"C", {5, 5, 5}}});
    const xxPeriodicCell cell = Cubic(10);
    EXPECT_EQ(xxAtom::ConstructBonds(model.molecule), 0u);
    EXPECT_EQ(xxAtom::ConstructBonds(model.atoms, &cell), 1u);
    EXPECT_TRUE(model.atoms[0]->IsBondedTo(*model.atoms[1]));
    EXPECT_TRUE(model.atoms[2]->GetBonds().empty());
}

TEST(PeriodicBonds, OffsetsReferToTheGivenPositions) {
    // The second atom lies in cell (2, 0, -1); its image beside the first (at x = -0.5) is
    // reached with offset (-3, 0, 1): offsets are taken from the positions as given.
    const xxPeriodicCell cell = Cubic(10);
    const std::vector<xxPoint3d> positions{{0.2, 5, 5}, {29.5, 5, -5}};
    const std::vector<double> radii{0.76, 0.76};
    const auto pairs = FindCovalentPairs(positions, radii, &cell);
    ASSERT_EQ(pairs.size(), 1u);
    EXPECT_EQ(pairs[0], (xxCovalentPair{0, 1, {-3, 0, 1}}));
    const xxPoint3d image = positions[1] + -3.0 * cell.vectors[0] + 1.0 * cell.vectors[2];
    EXPECT_NEAR((image - positions[0]).Length(), 0.7, 1e-9);
}

TEST(PeriodicBonds, TriclinicCellAndSlab) {
    // b at 60 degrees to a: atom 1 near the far b face is 1.9 from atom 0 through b, atom 2
    // near the top face 1.9 through c; atoms 1 and 2 are 2.69 apart however shifted.
    xxPeriodicCell cell{{{{10, 0, 0}, {5, 8.660254037844386, 0}, {0, 0, 10}}}};
    const std::vector<xxPoint3d> positions{{2, 1, 1}, {7, 8.660254037844386 - 0.9, 1}, {2, 1, 9.1}};
    const std::vector<double> radii{0.76, 0.76, 0.76};
    const auto pairs = FindCovalentPairs(positions, radii, &cell);
    ASSERT_EQ(pairs.size(), 2u);
    EXPECT_EQ(pairs[0], (xxCovalentPair{0, 1, {0, -1, 0}}));
    EXPECT_EQ(pairs[1], (xxCovalentPair{0, 2, {0, 0, -1}}));
    cell.periodic = {true, true, false};  // a slab: nothing across c
    const auto slab = FindCovalentPairs(positions, radii, &cell);
    EXPECT_EQ(slab, (std::vector<xxCovalentPair>{pairs[0]}));
}

TEST(PeriodicBonds, ThinCellReachesImagesBeyondTheNext) {
    // A carbon chain with a 1.5 Angstrom repeat: each atom bonds to its own images one cell away
    // (once) but not two (3 > 1.97).
    xxPeriodicCell cell{{{{1.5, 0, 0}, {0, 20, 0}, {0, 0, 20}}}};
    const std::vector<xxPoint3d> positions{{0.3, 1, 1}};
    const std::vector<double> radii{0.76};
    EXPECT_EQ(FindCovalentPairs(positions, radii, &cell), (std::vector<xxCovalentPair>{{0, 0, {1, 0, 0}}}));
    cell.vectors[0] = {0.9, 0, 0};  // now two cells out too (1.8)
    EXPECT_EQ(FindCovalentPairs(positions, radii, &cell),
              (std::vector<xxCovalentPair>{{0, 0, {1, 0, 0}}, {0, 0, {2, 0, 0}}}));
}

TEST(PeriodicBonds, ResolverChoosesThePartner) {
    Built model({{"C", {0.2, 5, 5}}, {"C", {9.5, 5, 5}}});
    auto& image = model.Add({"C", {-0.5, 5, 5}});
    const xxPeriodicCell cell = Cubic(10);
    std::vector<std::array<int, 3>> seen;
    xxAtom* firstTwo[] = {model.atoms[0], model.atoms[1]};
    auto toImage = [&](xxAtom&, xxAtom&, const std::array<int, 3>& offset) -> xxBondable* {
        seen.push_back(offset);
        return &image;
    };
    EXPECT_EQ(xxAtom::ConstructBonds(firstTwo, &cell, toImage), 1u);
    EXPECT_EQ(seen, (std::vector<std::array<int, 3>>{{-1, 0, 0}}));
    EXPECT_TRUE(model.atoms[0]->IsBondedTo(image));
    EXPECT_FALSE(model.atoms[0]->IsBondedTo(*model.atoms[1]));
    auto none = [](xxAtom&, xxAtom&, const std::array<int, 3>&) -> xxBondable* { return nullptr; };
    EXPECT_EQ(xxAtom::ConstructBonds(firstTwo, &cell, none), 0u);
}

// ---- agreement with a brute-force search ---------------------------------------------------

bool Less(const xxCovalentPair& x, const xxCovalentPair& y) {
    return std::tie(x.first, x.second, x.offset) < std::tie(y.first, y.second, y.offset);
}

// Every image within span cells on each periodic axis.
std::vector<xxCovalentPair> BruteForce(const std::vector<xxPoint3d>& p, const std::vector<double>& r,
                                       const xxPeriodicCell* cell, std::array<int, 3> span) {
    std::vector<xxCovalentPair> out;
    for (std::size_t k = 0; k < 3; ++k)
        if (!cell || !cell->periodic[k]) span[k] = 0;
    for (std::uint32_t i = 0; i < p.size(); ++i)
        for (std::uint32_t j = i; j < p.size(); ++j)
            if (r[i] >= 0 && r[j] >= 0)
            for (int t0 = -span[0]; t0 <= span[0]; ++t0)
                for (int t1 = -span[1]; t1 <= span[1]; ++t1)
                    for (int t2 = -span[2]; t2 <= span[2]; ++t2) {
                        const std::array<int, 3> t{t0, t1, t2};
                        if (i == j && !(t > std::array<int, 3>{0, 0, 0})) continue;
                        xxPoint3d q = p[j];
                        for (std::size_t k = 0; k < 3; ++k)
                            if (t[k] != 0) q = q + static_cast<double>(t[k]) * cell->vectors[k];
                        const double d = (q - p[i]).Length();
                        if (d >= xxBondPerception::kMinimumDistance && d <= r[i] + r[j] + xxBondPerception::kTolerance)
                            out.push_back({i, j, t});
                    }
    std::sort(out.begin(), out.end(), Less);
    return out;
}

TEST(CellList, AgreesWithBruteForceOnRandomClouds) {
    std::mt19937 rng(20261210);
    const double radii[] = {0.31, 0.66, 0.76, 1.05, 2.44, -1.0};  // H, O, C, S, Cs, no bonds
    struct Case {
        const char* name;
        std::optional<xxPeriodicCell> cell;
        double box;
        std::array<int, 3> span;  // positions reach two cells out, plus the images bonding reaches
    } cases[] = {
        {"open", std::nullopt, 12, {0, 0, 0}},
        {"cubic", Cubic(9), 9, {4, 4, 4}},
        {"triclinic", xxPeriodicCell{{{{8, 0, 0}, {3, 7, 0}, {-2, 1.5, 6.5}}}}, 8, {5, 5, 5}},
        {"slab", xxPeriodicCell{{{{7, 0, 0}, {0, 6, 0}, {0, 0, 30}}}, {true, true, false}}, 7, {4, 4, 0}},
        {"thin", xxPeriodicCell{{{{2.2, 0, 0}, {0, 9, 0}, {0.5, 0, 8}}}}, 6, {11, 4, 4}},
    };
    for (const Case& k : cases) {
        for (int round = 0; round < 2; ++round) {
            std::uniform_real_distribution<double> coordinate(-k.box, 2 * k.box);  // some outside the cell
            std::uniform_int_distribution<std::size_t> pick(0, std::size(radii) - 1);
            std::vector<xxPoint3d> p(100);
            std::vector<double> r(p.size());
            for (std::size_t i = 0; i < p.size(); ++i) {
                p[i] = {coordinate(rng), coordinate(rng), coordinate(rng)};
                r[i] = radii[pick(rng)];
            }
            const xxPeriodicCell* cell = k.cell ? &*k.cell : nullptr;
            const auto found = FindCovalentPairs(p, r, cell);
            const auto expected = BruteForce(p, r, cell, k.span);
            std::vector<xxCovalentPair> missing, extra;
            std::set_difference(expected.begin(), expected.end(), found.begin(), found.end(), std::back_inserter(missing), Less);
            std::set_difference(found.begin(), found.end(), expected.begin(), expected.end(), std::back_inserter(extra), Less);
            EXPECT_TRUE(missing.empty() && extra.empty())
                << k.name << " round " << round << ": missing " << ::testing::PrintToString(missing) << ", extra "
                << ::testing::PrintToString(extra);
            EXPECT_EQ(found, expected);
        }
    }
}

// ---- bad input ------------------------------------------------------------------------------

TEST(CellList, BadInputGivesAClearError) {
    const std::vector<xxPoint3d> two{{0, 0, 0}, {1, 0, 0}};
    const std::vector<double> one{0.76};
    EXPECT_EQ(ResultOf([&] { FindCovalentPairs(two, one); }), E_INVALIDARG);
    const std::vector<double> radii{0.76, 0.76};
    const xxPeriodicCell flat{{{{1, 0, 0}, {0, 1, 0}, {1, 1, 0}}}};
    EXPECT_EQ(ResultOf([&] { FindCovalentPairs(two, radii, &flat); }), E_INVALIDARG);
    const xxPeriodicCell infinite{{{{HUGE_VAL, 0, 0}, {0, 1, 0}, {0, 0, 1}}}};
    EXPECT_EQ(ResultOf([&] { FindCovalentPairs(two, radii, &infinite); }), E_INVALIDARG);
    const xxPeriodicCell needle{{{{0.01, 0, 0}, {0, 0.01, 0}, {0, 0, 0.01}}}};
    EXPECT_EQ(ResultOf([&] { FindCovalentPairs(two, radii, &needle); }), E_INVALIDARG);
}

TEST(CellList, OddCoordinatesNeitherBondNorBlowUp) {
    const std::vector<xxPoint3d> p{{0, 0, 0}, {1, 0, 0}, {std::nan(""), 0, 0}, {HUGE_VAL, 0, 0},
                                   {1e300, -1e300, 1e300}, {1e300, -1e300, 1e300 + 1e285}};
    const std::vector<double> r(p.size(), 0.76);
    EXPECT_EQ(FindCovalentPairs(p, r), (std::vector<xxCovalentPair>{{0, 1, {0, 0, 0}}}));
    const xxPeriodicCell cell = Cubic(10);
    EXPECT_EQ(FindCovalentPairs(p, r, &cell), (std::vector<xxCovalentPair>{{0, 1, {0, 0, 0}}}));
}

TEST(CellList, AHeapOfAtomsAtOnePointIsRefusedNotSearchedForever) {
    const std::vector<xxPoint3d> p(10'000, xxPoint3d{1, 1, 1});
    const std::vector<double> r(p.size(), 0.76);
    EXPECT_EQ(ResultOf([&] { FindCovalentPairs(p, r); }), E_INVALIDARG);
}

// ---- size --------------------------------------------------------------------------------

TEST(ConstructBonds, HundredThousandAtomLattice) {
    // A simple cubic carbon lattice at 1.54 Angstrom: bonds along the axes only (the face
    // diagonal, 2.18, is too long).
    constexpr int n = 47;  // 103823 atoms
    Built model({});
    for (int i = 0; i < n; ++i)
        for (int j = 0; j < n; ++j)
            for (int k = 0; k < n; ++k) model.Add({"C", {1.54 * i, 1.54 * j, 1.54 * k}});
    EXPECT_EQ(xxAtom::ConstructBonds(model.molecule), static_cast<std::size_t>(3 * (n - 1) * n * n));
    const xxAtom& corner = *model.atoms.front();
    const xxAtom& inner = *model.atoms[static_cast<std::size_t>((n * n + n + 1) * 5)];
    EXPECT_EQ(corner.GetAttached().size(), 3u);
    EXPECT_EQ(inner.GetAttached().size(), 6u);
}

}  // namespace
