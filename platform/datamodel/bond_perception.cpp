#include "datamodel/bond_perception.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>
#include <string>

#include "cfx/cfx.h"
#include "datamodel/atomistic.h"

namespace {

constexpr double kFarthestCell = 1e9;         // keeps cell offsets within int
constexpr double kGridSlack = 1 + 1e-9;        // rounding never moves a bonded pair two buckets apart
constexpr std::int64_t kMaxImageCombos = 4096;  // neighbour buckets per atom, images included
// A dense heap of atoms (a broken file with everything at one point) would make the search
// quadratic; beyond this many distance tests per atom it is refused instead.
constexpr std::int64_t kTestsPerAtom = 2000;  // dense matter with the largest radii needs about 500
constexpr std::int64_t kTestsBase = 20'000'000;

[[noreturn]] void Refuse(const std::string& text) { throw Cfx::CfxResult(E_INVALIDARG, text); }

bool IsFinite(const xxPoint3d& p) { return std::isfinite(p.x) && std::isfinite(p.y) && std::isfinite(p.z); }

// Fractional coordinates f = rows . r; rows are the reciprocal vectors (the unit rows without a
// cell). spacing[k] is the distance between the lattice planes of axis k.
struct Frame {
    std::array<xxPoint3d, 3> vectors{{{1, 0, 0}, {0, 1, 0}, {0, 0, 1}}};
    std::array<xxPoint3d, 3> rows{{{1, 0, 0}, {0, 1, 0}, {0, 0, 1}}};
    std::array<double, 3> spacing{1, 1, 1};
    std::array<bool, 3> periodic{false, false, false};
};

Frame MakeFrame(const xxPeriodicCell* cell) {
    Frame frame;
    if (!cell) return frame;
    const auto& v = cell->vectors;
    for (const auto& vec : v)
        if (!IsFinite(vec)) Refuse("The cell's lattice vectors are not finite");
    const double det = v[0].Dot(v[1].Cross(v[2]));
    const double scale = v[0].Length() * v[1].Length() * v[2].Length();
    if (!(std::fabs(det) > 1e-9 * scale) || !std::isfinite(det)) Refuse("The cell's lattice vectors span no volume");
    frame.vectors = v;
    frame.rows = {(1 / det) * v[1].Cross(v[2]), (1 / det) * v[2].Cross(v[0]), (1 / det) * v[0].Cross(v[1])};
    for (int k = 0; k < 3; ++k) {
        const auto uk = static_cast<std::size_t>(k);
        frame.spacing[uk] = 1 / frame.rows[uk].Length();
        frame.periodic[uk] = cell->periodic[uk];
    }
    return frame;
}

struct Axis {
    std::int64_t buckets = 1;
    std::int64_t reach = 0;  // neighbour buckets searched on each side
    double origin = 0;       // non-periodic: lowest fractional coordinate
    double width = 0;        // non-periodic: fractional width of a bucket
};

struct Candidate {
    xxPoint3d wrapped;        // position moved into the home cell along the periodic axes
    double radius;
    std::array<int, 3> cell;  // home cell of the original position
    std::uint32_t index;      // into the caller's spans
    std::uint32_t bucket;
};

std::int64_t FloorDiv(std::int64_t a, std::int64_t b) { return a >= 0 ? a / b : -((-a + b - 1) / b); }

bool PositiveOffset(const std::array<int, 3>& t) {
    for (int v : t)
        if (v != 0) return v > 0;
    return false;
}

}  // namespace

std::vector<xxCovalentPair> xxBondPerception::FindCovalentPairs(std::span<const xxPoint3d> positions,
                                                                std::span<const double> radii,
                                                                const xxPeriodicCell* cell) {
    if (positions.size() != radii.size())
        Refuse("Bond perception needs one radius per position, not " + std::to_string(radii.size()) + " for " +
               std::to_string(positions.size()));
    if (positions.size() >= std::numeric_limits<std::uint32_t>::max())
        Refuse("Bond perception takes at most 4294967294 atoms");
    const Frame frame = MakeFrame(cell);

    // The atoms that can bond, with their home cells. Built again in each pass below rather
    // than stored twice: first touches of fresh memory are much of the cost at a million atoms.
    auto candidate = [&](std::size_t i, Candidate& c) {
        const double radius = radii[i];
        const xxPoint3d& p = positions[i];
        if (!(radius >= 0) || !std::isfinite(radius) || !IsFinite(p)) return false;
        c = {p, radius, {0, 0, 0}, static_cast<std::uint32_t>(i), 0};
        for (std::size_t k = 0; k < 3; ++k) {
            if (!frame.periodic[k]) continue;
            const double f = frame.rows[k].Dot(p);
            if (!(std::fabs(f) <= kFarthestCell)) return false;
            c.cell[k] = static_cast<int>(std::floor(f));
            if (c.cell[k] != 0) c.wrapped = c.wrapped - static_cast<double>(c.cell[k]) * frame.vectors[k];
        }
        return true;
    };
    std::array<double, 3> low{HUGE_VAL, HUGE_VAL, HUGE_VAL};
    std::array<double, 3> high{-HUGE_VAL, -HUGE_VAL, -HUGE_VAL};
    double largestRadius = 0;
    std::size_t usable = 0;
    for (std::size_t i = 0; i < positions.size(); ++i) {
        Candidate c;
        if (!candidate(i, c)) continue;
        for (std::size_t k = 0; k < 3; ++k) {
            if (frame.periodic[k]) continue;
            const double f = frame.rows[k].Dot(c.wrapped);
            low[k] = std::min(low[k], f);
            high[k] = std::max(high[k], f);
        }
        largestRadius = std::max(largestRadius, c.radius);
        ++usable;
    }
    if (usable == 0) return {};

    // The grid: buckets at least one bonding distance wide, at most about two per atom.
    const double cutoff = 2 * largestRadius + kTolerance;
    const double gridCutoff = cutoff * kGridSlack;
    const auto limit = std::clamp<std::int64_t>(2 * static_cast<std::int64_t>(usable), 8, std::int64_t{1} << 31);
    std::array<Axis, 3> axes;
    for (std::size_t k = 0; k < 3; ++k) {
        const double extent = frame.periodic[k] ? frame.spacing[k] : (high[k] - low[k]) * frame.spacing[k];
        const double n = std::floor(extent / gridCutoff);
        axes[k].buckets = n >= 1 ? static_cast<std::int64_t>(std::min(n, static_cast<double>(limit))) : 1;
    }
    auto total = [&] {
        return static_cast<double>(axes[0].buckets) * static_cast<double>(axes[1].buckets) *
               static_cast<double>(axes[2].buckets);
    };
    while (total() > static_cast<double>(limit)) {
        auto& widest = *std::max_element(axes.begin(), axes.end(),
                                         [](const Axis& a, const Axis& b) { return a.buckets < b.buckets; });
        widest.buckets = std::max<std::int64_t>(1, widest.buckets / 2);
    }
    std::int64_t combos = 1;
    for (std::size_t k = 0; k < 3; ++k) {
        Axis& a = axes[k];
        if (frame.periodic[k]) {
            // A cell thinner than the bonding distance needs images beyond the next one.
            const double reach = std::ceil(gridCutoff * static_cast<double>(a.buckets) / frame.spacing[k]);
            if (!(reach <= static_cast<double>(kMaxImageCombos)))
                Refuse("The cell is too thin for bond perception");
            a.reach = static_cast<std::int64_t>(reach);
        } else {
            a.origin = low[k];
            a.width = (high[k] - low[k]) / static_cast<double>(a.buckets);
            a.reach = a.buckets > 1 ? 1 : 0;
        }
        combos *= 2 * a.reach + 1;
        if (combos > kMaxImageCombos)
            Refuse("The cell is too thin for bond perception: its lattice planes lie " +
                   std::to_string(*std::min_element(frame.spacing.begin(), frame.spacing.end())) + " apart");
    }

    auto bucketOnAxis = [&](std::size_t k, const xxPoint3d& p) -> std::int64_t {
        const Axis& a = axes[k];
        if (a.buckets == 1) return 0;
        const double f = frame.rows[k].Dot(p);
        const double scaled = frame.periodic[k] ? f * static_cast<double>(a.buckets) : (f - a.origin) / a.width;
        const double b = std::floor(scaled);
        if (!(b > 0)) return 0;
        return std::min(a.buckets - 1, static_cast<std::int64_t>(b));
    };
    auto linear = [&](std::int64_t b0, std::int64_t b1, std::int64_t b2) {
        return static_cast<std::size_t>((b0 * axes[1].buckets + b1) * axes[2].buckets + b2);
    };

    // Counting sort of the atoms into buckets, stored bucket by bucket: the atoms of
    // neighbouring buckets then lie close in memory. They are still visited in input order,
    // which keeps the output sorted and, for files that list atoms by residue, is local too.
    auto bucketOf = [&](const Candidate& c) {
        return linear(bucketOnAxis(0, c.wrapped), bucketOnAxis(1, c.wrapped), bucketOnAxis(2, c.wrapped));
    };
    const auto bucketCount = static_cast<std::size_t>(total());
    std::vector<std::uint32_t> start(bucketCount + 1, 0);
    std::vector<std::uint32_t> where;  // in input order: the bucket, then the place in sorted
    where.reserve(usable);
    for (std::size_t i = 0; i < positions.size(); ++i) {
        Candidate c;
        if (!candidate(i, c)) continue;
        const auto b = static_cast<std::uint32_t>(bucketOf(c));
        where.push_back(b);
        ++start[b + 1];
    }
    for (std::size_t b = 0; b < bucketCount; ++b) start[b + 1] += start[b];
    const std::unique_ptr<Candidate[]> sorted(new Candidate[usable]);  // left uninitialised
    {
        std::vector<std::uint32_t> fill(start.begin(), start.end() - 1);
        std::size_t n = 0;
        for (std::size_t i = 0; i < positions.size(); ++i) {
            Candidate c;
            if (!candidate(i, c)) continue;
            c.bucket = where[n];
            where[n] = fill[c.bucket]++;
            sorted[where[n]] = c;
            ++n;
        }
    }

    struct Step {
        std::int64_t bucket;
        int image;
    };
    std::vector<xxCovalentPair> pairs;
    pairs.reserve(2 * usable);  // models have one to two bonds per atom
    std::vector<xxCovalentPair> local;
    std::array<std::vector<Step>, 3> steps;
    std::int64_t tests = 0;
    const std::int64_t budget = kTestsBase + kTestsPerAtom * static_cast<std::int64_t>(usable);
    const double minimum2 = kMinimumDistance * kMinimumDistance;

    for (std::uint32_t place : where) {
        const Candidate& a = sorted[place];
        // This atom's bucket on each axis, recovered from the linear index.
        const auto lin = static_cast<std::int64_t>(a.bucket);
        const std::array<std::int64_t, 3> home{lin / (axes[1].buckets * axes[2].buckets),
                                               (lin / axes[2].buckets) % axes[1].buckets, lin % axes[2].buckets};
        for (std::size_t k = 0; k < 3; ++k) {
            steps[k].clear();
            const Axis& ax = axes[k];
            for (std::int64_t d = -ax.reach; d <= ax.reach; ++d) {
                const std::int64_t u = home[k] + d;
                if (frame.periodic[k]) {
                    const std::int64_t image = FloorDiv(u, ax.buckets);
                    steps[k].push_back({u - image * ax.buckets, static_cast<int>(image)});
                } else if (u >= 0 && u < ax.buckets) {
                    steps[k].push_back({u, 0});
                }
            }
        }
        local.clear();
        for (const Step& s0 : steps[0])
            for (const Step& s1 : steps[1])
                for (const Step& s2 : steps[2]) {
                    const std::array<int, 3> t{s0.image, s1.image, s2.image};
                    const xxPoint3d shift = static_cast<double>(t[0]) * frame.vectors[0] +
                                            static_cast<double>(t[1]) * frame.vectors[1] +
                                            static_cast<double>(t[2]) * frame.vectors[2];
                    const xxPoint3d origin = a.wrapped - shift;  // a seen from the image cell
                    const std::size_t b = linear(s0.bucket, s1.bucket, s2.bucket);
                    for (std::uint32_t m = start[b]; m < start[b + 1]; ++m) {
                        const Candidate& c = sorted[m];
                        if (c.index < a.index) continue;
                        if (c.index == a.index && !PositiveOffset(t)) continue;
                        if (++tests > budget) Refuse("The atoms are packed too densely for bond perception");
                        const xxPoint3d d = c.wrapped - origin;
                        const double d2 = d.Dot(d);
                        const double reach = a.radius + c.radius + kTolerance;
                        if (d2 > reach * reach || d2 < minimum2) continue;
                        local.push_back({a.index, c.index,
                                         {t[0] - c.cell[0] + a.cell[0], t[1] - c.cell[1] + a.cell[1],
                                          t[2] - c.cell[2] + a.cell[2]}});
                    }
                }
        std::sort(local.begin(), local.end(), [](const xxCovalentPair& x, const xxCovalentPair& y) {
            return x.second != y.second ? x.second < y.second : x.offset < y.offset;
        });
        pairs.insert(pairs.end(), local.begin(), local.end());
    }
    return pairs;
}

// ---- bonds from the pairs ---------------------------------------------------------------

std::size_t xxAtom::ConstructBonds(std::span<xxAtom* const> atoms, const xxPeriodicCell* cell,
                                   const xxImageResolver& resolver) {
    std::vector<xxPoint3d> positions;
    std::vector<double> radii;
    positions.reserve(atoms.size());
    radii.reserve(atoms.size());
    for (xxAtom* atom : atoms) {
        if (!atom) throw Cfx::CfxResult(E_POINTER, "Bond perception was given a null atom");
        const xxElement& element = atom->GetElement();
        positions.push_back(atom->GetXYZ());
        radii.push_back(element.number == 0 ? -1.0 : element.covalentRadius);
    }
    std::size_t made = 0;
    for (const xxCovalentPair& pair : xxBondPerception::FindCovalentPairs(positions, radii, cell)) {
        xxAtom& a = *atoms[pair.first];
        xxAtom& b = *atoms[pair.second];
        xxBondable* partner = &b;
        if (pair.offset != std::array<int, 3>{0, 0, 0}) partner = resolver ? resolver(a, b, pair.offset) : &b;
        if (!partner || partner == &a || a.IsBondedTo(*partner)) continue;
        MakeBond(a, *partner);
        ++made;
    }
    return made;
}

std::size_t xxAtom::ConstructBonds(xxMolecule& molecule) {
    const std::vector<xxAtom*> atoms = molecule.DescendentsOf<xxAtom>();
    return ConstructBonds(atoms);
}
