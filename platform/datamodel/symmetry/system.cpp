#include "datamodel/symmetry/system.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <functional>
#include <limits>
#include <memory_resource>
#include <optional>
#include <span>
#include <string>
#include <unordered_map>
#include <unordered_set>

#include "base/chunked_list.h"
#include "base/huge_pages.h"
#include "cfx/cfx.h"
#include "datamodel/atomistic.h"
#include "datamodel/property_bits.h"

XX_IMPLEMENT_ABSTRACT_CLASS(xxBaseSymmetrySystem, "BaseSymmetrySystem", xxTreeNode, 3)
XX_IMPLEMENT_CLASS(xxSymmetrySystem, "SymmetrySystem", xxBaseSymmetrySystem, 4)
const xxPropertyTemplate<xxMatrix3x3> xxMatterSymmetrySystem::m_pptPotentialStress(
    "PotentialStress", &xxMatterSymmetrySystem::Class, XX_FIELD(xxMatterSymmetrySystem, potentialStress_),
    xxPropertyBit::kPotentialStress);
const xxPropertyTemplate<xxMatrix3x3> xxMatterSymmetrySystem::m_ppt_TrajectoryStress(
    "TrajectoryStress", &xxMatterSymmetrySystem::Class, XX_FIELD(xxMatterSymmetrySystem, trajectoryStress_),
    xxPropertyBit::kTrajectoryStress);
XX_IMPLEMENT_CLASS(xxMatterSymmetrySystem, "MatterSymmetrySystem", xxSymmetrySystem, 2,
                   &xxMatterSymmetrySystem::m_pptPotentialStress, &xxMatterSymmetrySystem::m_ppt_TrajectoryStress)
XX_IMPLEMENT_CLASS(xxMultiScaleSymmetrySystem, "MultiScaleSymmetrySystem", xxMatterSymmetrySystem, 1)

namespace {

// Positions further than this from the cell (in cells, or in units of the basis of a point
// group) are refused: the shifts must stay ints and the grid keys exact.
constexpr double kMaxFractional = xxSymmetryDefinition::kMaxTranslation;
// Fractional coordinates this close below a whole number count as that number.
constexpr double kFace = 1e-9;

// std::nearbyint in the default rounding mode, without a library call for the numbers the
// search meets: adding 2^52 leaves a magnitude below it rounded to a whole number, halves to even.
inline double NearestWhole(double x) {
    constexpr double kTwo52 = 4503599627370496.0;
    const double a = std::fabs(x);
    if (!(a < kTwo52)) return std::nearbyint(x);
    return std::copysign((a + kTwo52) - kTwo52, x);
}

// Finite and within kMaxFractional: whole-cell shifts of such a position fit in an int.
bool InReach(const xxVector3& f) {
    for (int i = 0; i < 3; ++i)
        if (!std::isfinite(f[i]) || std::fabs(f[i]) > kMaxFractional) return false;
    return true;
}

std::string Describe(const xxObject& o) {
    std::string text = o.GetClass().GetName();
    if (!o.GetName().empty()) text += " \"" + o.GetName() + "\"";
    if (o.GetID() != 0) text += " (ID " + std::to_string(o.GetID()) + ")";
    return text;
}

struct ElementKey {
    const xxObject* parent;
    const xxSymmetryElement* element;
    friend bool operator==(const ElementKey&, const ElementKey&) = default;
};
struct ElementKeyHash {
    std::size_t operator()(const ElementKey& k) const noexcept {
        // The parent's address as it is, offset by the element's mixed: the images of parents
        // made one after the other are recorded in a few strides through the table rather than
        // at random, and a parent's own images still spread.
        const std::uint64_t parent = reinterpret_cast<std::uintptr_t>(k.parent) >> 3;
        std::uint64_t element = reinterpret_cast<std::uintptr_t>(k.element) * 0x9e3779b97f4a7c15ull;
        element ^= element >> 29;
        return static_cast<std::size_t>(parent + element);
    }
};

bool Before(const xxSymmetryElement& a, const xxSymmetryElement& b) {
    if (a.GetOperatorNumber() != b.GetOperatorNumber()) return a.GetOperatorNumber() < b.GetOperatorNumber();
    return a.GetPeriodicTranslation().t < b.GetPeriodicTranslation().t;
}

// Makes symmetry images: a copy of the parent of its own class with every assigned value,
// moved (and its velocity turned) by the element. The templates of the last class are kept, as
// the images of a model come in long runs of one class.
class PropertyCopier {
public:
    std::unique_ptr<xxObject> ImageOf(const xxObject& parent, const xxSymmetryElement& element) {
        const xxClass& cls = parent.GetClass();
        std::unique_ptr<xxClassInstance> instance = cls.CreateNew();
        // A class makes objects every time or never: the checked cast once per class will do.
        xxObject* object = nullptr;
        if (&cls == objectClass_) {
            object = static_cast<xxObject*>(instance.get());
        } else if ((object = dynamic_cast<xxObject*>(instance.get()))) {
            objectClass_ = &cls;
        }
        if (!object) throw Cfx::CfxResult(E_UNEXPECTED, "Class " + cls.GetName() + " makes no data-model object.");
        instance.release();
        std::unique_ptr<xxObject> copy(object);
        if (&cls != class_) {
            templates_ = parent.PropertyTemplates();
            class_ = &cls;
        }
        // A value the parent has not assigned copies nothing: its bit says so without a call.
        const std::uint32_t assigned = parent.AssignedMask();
        for (const xxPropertyBase* p : templates_)
            if (assigned & p->Mask()) p->CopyValue(parent, *copy);
        copy->SetName(parent.GetName());
        copy->SetID(parent.GetID());
        const xxTransformMatrix& m = TransformOf(element);
        copy->SetXYZ(m.Apply(parent.GetXYZ()));
        if (auto* matter = copy->As<xxMatter>(); matter && xxMatter::m_pptVelocity.IsAssigned(*matter))
            matter->SetVelocity(m.TransformCartesianVector(matter->GetVelocity()));
        return copy;
    }

private:
    // A cell's images come under a few elements over and over: their transforms are kept.
    const xxTransformMatrix& TransformOf(const xxSymmetryElement& element) {
        for (const auto& [e, m] : transforms_)
            if (e == &element) return m;
        if (transforms_.size() >= kTransformsKept) transforms_.clear();
        return transforms_.emplace_back(&element, element.GetCartesianTransform()).second;
    }
    static constexpr std::size_t kTransformsKept = 16;

    std::vector<std::pair<const xxSymmetryElement*, xxTransformMatrix>> transforms_;
    const xxClass* class_ = nullptr;
    const xxClass* objectClass_ = nullptr;  // a class whose instances are objects
    std::vector<const xxPropertyBase*> templates_;
};

// A periodic image: the identity operator with a whole-cell shift.
bool IsLatticeShift(const xxSymmetryElement& e) { return e.GetOperator().IsIdentity(1e-9); }

}  // namespace

// ---- the relation -----------------------------------------------------------------------

// Who is whose image. Every link is a weak reference observed by the relation, so an object
// that dies takes its entries along: an image leaves its parent's list, a parent takes its
// images' entries (the images themselves stay, as ordinary objects).
struct xxSymmetrySystem::Relation final : private xxReferenceObserver {
    struct Link : xxReferenceBase {
        Link(xxObject& object, xxReferenceObserver* observer, bool image)
            : xxReferenceBase(&object, observer), key(&object), isImage(image) {}
        const xxObject* key;  // the object's address, to find the entry once the object is gone
        bool isImage;
    };
    struct ImageLink : Link {
        ImageLink(xxObject& image, xxReferenceObserver* observer, xxObject& parentObject,
                  const xxSymmetryElement& e, const xxSymmetryElement& c, bool made)
            : Link(image, observer, true), parent(&parentObject), element(&e), canonical(&c), madeOnDemand(made) {}
        xxObject* parent;
        const xxSymmetryElement* element;
        const xxSymmetryElement* canonical;  // the least of the elements that give the same image
        bool madeOnDemand;
        std::size_t slot = 0;  // index in the parent's list
    };
    struct ParentLink : Link {
        ParentLink(xxObject& parent, xxReferenceObserver* observer, std::pmr::memory_resource* resource)
            : Link(parent, observer, false), images(resource) {}
        std::pmr::vector<xxObject*> images;
        // The elements that leave the parent in place, the identity first; empty for the
        // identity alone (a general position).
        std::vector<const xxSymmetryElement*> stabiliser;
    };

    Relation() = default;
    Relation(const Relation&) = delete;
    Relation& operator=(const Relation&) = delete;
    ~Relation() = default;

    ParentLink& ParentOf(xxObject& parent) {
        return parents.try_emplace(&parent, parent, Observer(), &pool).first->second;
    }
    const ParentLink* FindParent(const xxObject& parent) const {
        auto it = parents.find(&parent);
        return it == parents.end() ? nullptr : &it->second;
    }
    const ImageLink* FindImage(const xxObject& image) const {
        auto it = images.find(&image);
        return it == images.end() ? nullptr : &it->second;
    }
    std::span<const xxSymmetryElement* const> Stabiliser(const xxObject& parent) const {
        const ParentLink* p = FindParent(parent);
        return p ? std::span<const xxSymmetryElement* const>(p->stabiliser) : std::span<const xxSymmetryElement* const>();
    }

    // The least element of element * s over the parent's stabiliser.
    const xxSymmetryElement& Canonical(const xxObject& parent, const xxSymmetryElement& element) const {
        return Canonical(Stabiliser(parent), element);
    }
    static const xxSymmetryElement& Canonical(std::span<const xxSymmetryElement* const> stabiliser,
                                              const xxSymmetryElement& element) {
        const xxSymmetryElement* best = &element;
        const xxSymmetryDefinition& d = *element.GetDefinition();
        for (const xxSymmetryElement* s : stabiliser)
            if (const xxSymmetryElement* e = d.Compose(element, *s); e && Before(*e, *best)) best = e;
        return *best;
    }
    bool LeavesInPlace(const xxObject& parent, const xxSymmetryElement& element) const {
        return LeavesInPlace(Stabiliser(parent), element);
    }
    static bool LeavesInPlace(std::span<const xxSymmetryElement* const> stabiliser, const xxSymmetryElement& element) {
        if (element.IsIdentity()) return true;
        return std::find(stabiliser.begin(), stabiliser.end(), &element) != stabiliser.end();
    }

    void AddImage(xxObject& image, xxObject& parent, const xxSymmetryElement& element, bool made) {
        AddImage(image, ParentOf(parent), element, Canonical(parent, element), made);
    }
    // The same with the parent's entry and the canonical element at hand.
    void AddImage(xxObject& image, ParentLink& p, const xxSymmetryElement& element, const xxSymmetryElement& canonical,
                  bool made) {
        xxObject& parent = *p.GetObject();
        auto [it, added] = images.try_emplace(&image, image, Observer(), parent, element, canonical, made);
        if (!added) return;
        it->second.slot = p.images.size();
        p.images.push_back(&image);
        byElement.try_emplace(ElementKey{&parent, &canonical}, &image);
    }
    xxObject* Lookup(const xxObject& parent, const xxSymmetryElement& canonical) const {
        auto it = byElement.find(ElementKey{&parent, &canonical});
        return it == byElement.end() ? nullptr : it->second;
    }
    std::vector<xxObject*> MadeOnDemand() const {
        std::vector<xxObject*> out;
        for (const auto& [key, link] : images)
            if (link.madeOnDemand) out.push_back(link.GetObject());
        return out;
    }

    // The entries of a cell's worth of images come and go together: from a pool, they cost no
    // heap call each and lie together, and the pool returns them whole. Declared first, so it
    // outlives the maps.
    std::pmr::unsynchronized_pool_resource pool;
    std::pmr::unordered_map<const xxObject*, ImageLink> images{&pool};
    std::pmr::unordered_map<const xxObject*, ParentLink> parents{&pool};  // parents with images or a stabiliser
    std::pmr::unordered_map<ElementKey, xxObject*, ElementKeyHash> byElement{&pool};

private:
    xxReferenceObserver* Observer() { return this; }
    void DropImageEntry(decltype(images)::iterator it) {
        const ImageLink& l = it->second;
        if (auto e = byElement.find(ElementKey{l.parent, l.canonical}); e != byElement.end() && e->second == l.key)
            byElement.erase(e);
        images.erase(it);
    }
    void OnReferenceCleared(xxReferenceBase& reference) override {
        const auto& link = static_cast<Link&>(reference);
        const xxObject* key = link.key;
        if (link.isImage) {
            auto it = images.find(key);
            if (it == images.end()) return;
            if (auto p = parents.find(it->second.parent); p != parents.end()) {
                auto& list = p->second.images;
                const std::size_t slot = it->second.slot;
                list[slot] = list.back();
                list.pop_back();
                if (slot < list.size()) images.find(list[slot])->second.slot = slot;
            }
            DropImageEntry(it);
        } else {
            auto p = parents.find(key);
            if (p == parents.end()) return;
            for (xxObject* image : p->second.images)
                if (auto it = images.find(image); it != images.end()) DropImageEntry(it);
            parents.erase(p);
        }
    }
};

// ---- the coincidence search ---------------------------------------------------------------

namespace {

struct ParentData {
    xxVector3 fractional;
    std::uint64_t species;
    xxObject* object;
};
// The build's tables grow as the walk meets objects and are dropped whole: in chunks on huge
// pages, never copied, and their first touches cost little.
template <class T>
using BuildTable = ChunkedList<T, 4096, xxSymmetryChunkItems<T>()>;
using ParentTable = BuildTable<ParentData>;

// What two objects must share to be images of one another: class, element and isotope (or
// the dummy symbol).
class SpeciesTable {
public:
    std::uint64_t Of(const xxObject& o) {
        const std::uint64_t cls = std::uint64_t{o.GetClass().TypeId()} << 32;
        if (const auto* a = o.As<xxAtom3d>())
            return cls | (std::uint64_t(static_cast<std::uint32_t>(a->GetElementNumber())) << 16) |
                   (static_cast<std::uint32_t>(a->GetIsotope()) & 0xffffu);
        if (const auto* a = o.As<xxAtom>()) return cls | (std::uint64_t(static_cast<std::uint32_t>(a->GetElement().number)) << 16);
        if (const auto* d = o.As<xxDummyBase>()) {
            auto [it, added] = symbols_.try_emplace(d->GetDummySymbol(), static_cast<std::uint32_t>(symbols_.size()));
            return cls | it->second;
        }
        return cls;
    }

private:
    std::unordered_map<std::string, std::uint32_t> symbols_;
};

// A copy of a position reduced into the cell along the periodic axes: op(f) + shift = reduced.
struct Reduced {
    xxVector3 position;
    xxPeriodicTranslation shift;
};

class Geometry {
public:
    Geometry(const xxSymmetryDefinition& d, double tolerance)
        : ops_(d.GetGroup().GetOperators()), cell_(d.GetCell()), dimension_(d.GetDimension()), tolerance_(tolerance) {
        identity_.reserve(ops_.size());
        for (const xxSymmetryOperator& op : ops_) identity_.push_back(op.IsIdentity(0) ? 1 : 0);
    }

    const std::vector<xxSymmetryOperator>& Ops() const { return ops_; }
    // The operator is exactly the identity: its image of a position is the position itself.
    bool IsIdentity(std::size_t op) const { return identity_[op] != 0; }
    bool Periodic(int axis) const { return axis < dimension_; }
    const xxCell& Cell() const { return cell_; }
    double Tolerance() const { return tolerance_; }

    Reduced Reduce(const xxVector3& g) const {
        Reduced r{g, {}};
        for (int i = 0; i < dimension_; ++i) {
            double shift = std::floor(g[i]);
            double w = g[i] - shift;
            // A hair below a whole number is on the face: every copy of a position on a cell
            // face must reduce to the same side, or one site would count as two.
            if (w >= 1 - kFace) {
                w = 0;
                shift += 1;
            }
            r.position[i] = w;
            r.shift[i] = -xxSymmetryUtility::WholeCells(shift);
        }
        return r;
    }
    // Reducing f as it is gives the bits reducing 1 * f + 0 would (a zero's sign aside, which
    // the reduction drops).
    Reduced Image(const xxVector3& f, std::size_t op) const {
        return Reduce(identity_[op] ? f : ops_[op].Apply(f));
    }

    // Distance from p to q taken across cell boundaries along the periodic axes, and the whole
    // cells m with p close to q + m.
    double Distance(const xxVector3& p, const xxVector3& q, xxPeriodicTranslation& m) const {
        xxVector3 d = p - q;
        for (int i = 0; i < 3; ++i) {
            m[i] = 0;
            if (!Periodic(i)) continue;
            const double n = NearestWhole(d[i]);
            m[i] = xxSymmetryUtility::WholeCells(n);
            d[i] -= n;
        }
        return cell_.ToCartesian(d).Length();
    }

private:
    const std::vector<xxSymmetryOperator>& ops_;
    std::vector<unsigned char> identity_;  // bytes, so Image stays inline
    const xxCell& cell_;
    int dimension_;
    double tolerance_;
};

// Operator images of the parents, hashed by (species, bin). Bins are at least the tolerance
// wide, so a match lies in one of the 27 bins around a position; the chains of a bucket may
// mix bins, which the distance test sorts out. Entries hold the parent and the operator only,
// and positions are recomputed, so the grid costs 16 bytes an image.
class ImageGrid {
public:
    // Bins are several tolerances wide, so a query mostly reads its own bin alone, and about an
    // atom's spacing (in length units), so neighbours in a model are neighbours in the table.
    static constexpr double kBinTolerances = 8;
    static constexpr double kBinLength = 1.7;

    ImageGrid(const Geometry& g, const ParentTable& parents) : g_(g), parents_(parents) {
        const xxMatrix3& toFractional = g.Cell().GetCartesianToFractional();
        const double tol = std::max(g.Tolerance(), 1e-9);
        for (int i = 0; i < 3; ++i) {
            const double reciprocal = xxVector3(toFractional(i, 0), toFractional(i, 1), toFractional(i, 2)).Length();
            const double width = tol * reciprocal;  // fractional extent of the tolerance along axis i
            reach_[static_cast<std::size_t>(i)] = width;
            if (g.Periodic(i)) {
                const double bin = std::max(kBinTolerances * width, kBinLength * reciprocal);
                count_[i] = static_cast<std::int64_t>(std::clamp(std::floor(1 / bin), 1.0, 1024.0));
                width_[i] = 1.0 / static_cast<double>(count_[i]);
            } else {
                count_[i] = 0;
                width_[i] = width;
            }
        }
        for (std::size_t i = 0; i < 3; ++i) perWidth_[i] = 1 / width_[i];
        heads_.assign(64, kNone);
    }

    struct Hit {
        std::uint32_t parent;
        std::size_t op;
        xxPeriodicTranslation t;  // element shift: op(f_parent) + t is the position matched
    };

    // The nearest image of that species within the tolerance (of one parent only, if given).
    // home, when given, takes the key of f's own bin: that of f's image under the identity.
    std::optional<Hit> Nearest(const xxVector3& f, std::uint64_t species, std::optional<std::uint32_t> only,
                               std::uint64_t* home = nullptr) const {
        std::optional<Hit> best;
        double bestDistance = 0;
        // Bins hold positions reduced into the cell; the distance test works across its faces.
        const xxVector3 inCell = g_.Reduce(f).position;
        std::array<std::int64_t, 3> own;
        for (int i = 0; i < 3; ++i) own[static_cast<std::size_t>(i)] = Bin(i, inCell[i]);
        const std::uint64_t kind = SpeciesKey(species);
        if (home) *home = Hash(kind, own[0], own[1], own[2]);
        std::array<Around, 3> around;
        for (int i = 0; i < 3; ++i)
            around[static_cast<std::size_t>(i)] = Neighbours(i, inCell[i], own[static_cast<std::size_t>(i)]);
        for (int i0 = 0; i0 < around[0].count; ++i0)
            for (int i1 = 0; i1 < around[1].count; ++i1)
                for (int i2 = 0; i2 < around[2].count; ++i2) {
                    const std::uint64_t h = Hash(kind, around[0].bins[static_cast<std::size_t>(i0)],
                                                 around[1].bins[static_cast<std::size_t>(i1)],
                                                 around[2].bins[static_cast<std::size_t>(i2)]);
                    for (std::uint32_t n = heads_[h & (heads_.size() - 1)]; n != kNone; n = nodes_[n].next) {
                        const Node& node = nodes_[n];
                        if (node.hash != static_cast<std::uint32_t>(h)) continue;
                        if (only && node.parent != *only) continue;
                        const ParentData& p = parents_[node.parent];
                        if (p.species != species) continue;
                        const Reduced r = g_.Image(p.fractional, node.op);
                        xxPeriodicTranslation m;
                        const double d = g_.Distance(f, r.position, m);
                        if (d > g_.Tolerance() || (best && d >= bestDistance)) continue;
                        Hit hit{node.parent, node.op, {}};
                        for (int i = 0; i < 3; ++i) hit.t[i] = r.shift[i] + m[i];
                        best = hit;
                        bestDistance = d;
                    }
                }
        return best;
    }

    void Insert(std::uint32_t parent, std::size_t op) {
        Insert(parent, op, KeyHash(parents_[parent].species, g_.Image(parents_[parent].fractional, op).position));
    }
    // The same with the key of the image's bin at hand.
    void Insert(std::uint32_t parent, std::size_t op, std::uint64_t key) {
        if (nodes_.size() >= kMaxImages)
            throw Cfx::CfxResult(E_OUTOFMEMORY, "The model's parents have more than " + std::to_string(kMaxImages) +
                                                    " distinct symmetry images; no symmetry can be built.");
        if (2 * (nodes_.size() + 1) > heads_.size()) Grow();
        Node node{parent, static_cast<std::uint32_t>(op), kNone, static_cast<std::uint32_t>(key)};
        Link(node, static_cast<std::uint32_t>(nodes_.size()));
        nodes_.emplace_back() = node;
    }

    // Far beyond any real cell (a million atoms in Fm-3m make a million images), and a bound on
    // what a file that names a large group for atoms that do not fit it can cost.
    static constexpr std::size_t kMaxImages = std::size_t{1} << 26;

private:
    static constexpr std::uint32_t kNone = std::numeric_limits<std::uint32_t>::max();
    // The key's low half tells most bins of a chain apart; the distance test decides.
    struct Node {
        std::uint32_t parent;
        std::uint32_t op;
        std::uint32_t next;
        std::uint32_t hash;
    };

    std::int64_t Bin(int axis, double v) const {
        const auto i = static_cast<std::size_t>(axis);
        const double b = std::floor(v * perWidth_[i]);
        if (count_[i] > 0) return std::clamp(static_cast<std::int64_t>(b), std::int64_t{0}, count_[i] - 1);
        return static_cast<std::int64_t>(b);
    }
    // The bin of v along an axis and those of its neighbours that a match within the tolerance
    // may lie in (bins are at least the tolerance wide), wrapped round a periodic axis (once each).
    struct Around {
        std::array<std::int64_t, 3> bins{};
        int count = 0;
    };
    // b: the bin of v.
    Around Neighbours(int axis, double v, std::int64_t b) const {
        const auto i = static_cast<std::size_t>(axis);
        const std::int64_t n = count_[i];
        // The slack covers the rounding of v / width against the bin's edges.
        const double reach = reach_[i] + 1e-9;
        const double low = v - static_cast<double>(b) * width_[i];
        const bool below = !(low > reach), above = !(width_[i] - low > reach);
        Around out;
        for (std::int64_t d = -1; d <= 1; ++d) {
            if ((d < 0 && !below) || (d > 0 && !above)) continue;
            std::int64_t w = b + d;
            if (n > 0) {
                if (w < 0) w += n;
                else if (w >= n) w -= n;
                // With one or two bins round the axis a neighbour may be the bin itself.
                const auto end = out.bins.begin() + out.count;
                if (n <= 2 && std::find(out.bins.begin(), end, w) != end) continue;
            }
            out.bins[static_cast<std::size_t>(out.count++)] = w;
        }
        return out;
    }
    static std::uint64_t Mix(std::uint64_t h, std::uint64_t v) {
        h ^= v + 0x9e3779b97f4a7c15ull + (h << 6) + (h >> 2);
        h ^= h >> 29;
        h *= 0xbf58476d1ce4e5b9ull;
        return h ^ (h >> 32);
    }
    // The low bits of the three bin numbers interleaved, so that bins near one another in space
    // are near in the table: a model read in file order then probes the heads and chains it has
    // just touched. The rest of the key (species, the high bits) is hashed over the top.
    static std::uint64_t Spread(std::uint64_t v) {
        v &= kLowMask;
        v = (v | (v << 16)) & 0x030000ffull;
        v = (v | (v << 8)) & 0x0300f00full;
        v = (v | (v << 4)) & 0x030c30c3ull;
        return (v | (v << 2)) & 0x09249249ull;
    }
    static std::uint64_t SpeciesKey(std::uint64_t species) { return Mix(0, species); }
    static std::uint64_t Hash(std::uint64_t speciesKey, std::int64_t b0, std::int64_t b1, std::int64_t b2) {
        const auto u0 = static_cast<std::uint64_t>(b0), u1 = static_cast<std::uint64_t>(b1),
                   u2 = static_cast<std::uint64_t>(b2);
        const std::uint64_t above = (u0 >> kLowBits) | (u1 >> kLowBits) | (u2 >> kLowBits);
        // Bins of a periodic axis never reach the high bits: one mix for the species then does.
        const std::uint64_t high =
            above == 0 ? speciesKey
                       : Mix(Mix(Mix(speciesKey, u0 >> kLowBits), u1 >> kLowBits), u2 >> kLowBits);
        return high ^ (Spread(u0) | (Spread(u1) << 1) | (Spread(u2) << 2));
    }
    static constexpr int kLowBits = 10;
    static constexpr std::uint64_t kLowMask = (std::uint64_t{1} << kLowBits) - 1;
    std::uint64_t KeyHash(std::uint64_t species, const xxVector3& r) const {
        return Hash(SpeciesKey(species), Bin(0, r[0]), Bin(1, r[1]), Bin(2, r[2]));
    }
    void Link(Node& node, std::uint32_t index) {
        std::uint32_t& head = heads_[node.hash & (heads_.size() - 1)];
        node.next = head;
        head = index;
    }
    void Grow() {
        // Four times larger each time: the links are made again once for every growth.
        heads_.assign(heads_.size() * 4, kNone);
        for (std::uint32_t i = 0; i < nodes_.size(); ++i) Link(nodes_[i], i);
    }

    const Geometry& g_;
    const ParentTable& parents_;
    std::array<std::int64_t, 3> count_{};  // bins per periodic axis; 0 for an open axis
    std::array<double, 3> width_{};
    std::array<double, 3> perWidth_{};
    std::array<double, 3> reach_{};  // fractional extent of the tolerance
    std::vector<std::uint32_t, LargeBlockAllocator<std::uint32_t>> heads_;
    BuildTable<Node> nodes_;
};

// What walks over a system ask of each object, found once per class: the objects of a model come
// in long runs of a few classes.
class ClassKinds {
public:
    enum : unsigned { kTreeNode = 1, kHasImages = 2, kOfType = 4 };
    // type: a class type whose objects the walk looks for (kOfType); 0 for none.
    explicit ClassKinds(unsigned type = 0) : type_(type) {}
    unsigned Of(const xxObject& o) {
        const xxClass* cls = &o.GetClass();
        if (cls == last_) return lastKind_;
        auto it = std::find_if(known_.begin(), known_.end(), [&](const auto& k) { return k.first == cls; });
        if (it == known_.end()) {
            const unsigned kind = (o.IsA(xxTreeNode::classType) ? kTreeNode : 0u) |
                                  (xxSymmetrySystem::HasSymmetryImages(o) ? kHasImages : 0u) |
                                  (type_ == 0 || o.IsA(type_) ? kOfType : 0u);
            it = known_.insert(known_.end(), {cls, kind});
        }
        last_ = cls;
        lastKind_ = it->second;
        return lastKind_;
    }

    // Every class met so far.
    std::vector<const xxClass*> Seen() const {
        std::vector<const xxClass*> out;
        for (const auto& [cls, kind] : known_) out.push_back(cls);
        return out;
    }

private:
    unsigned type_;
    std::vector<std::pair<const xxClass*, unsigned>> known_;
    const xxClass* last_ = nullptr;
    unsigned lastKind_ = 0;
};

// visit(object, kind) for every object below node, in tree order.
template <class Visit>
void VisitBelow(const xxTreeNode& node, ClassKinds& kinds, Visit&& visit) {
    const auto& children = node.Children();
    // Objects lie apart on the heap: asking for the next ones early hides their latency.
    constexpr std::size_t kAhead = 8;
    for (std::size_t i = 0; i < children.size(); ++i) {
        if (i + kAhead < children.size()) __builtin_prefetch(children[i + kAhead].get());
        xxObject& o = *children[i];
        const unsigned kind = kinds.Of(o);
        visit(o, kind);
        if (kind & ClassKinds::kTreeNode) VisitBelow(static_cast<const xxTreeNode&>(o), kinds, visit);
    }
}

// The elements that leave f in place (within the tolerance), the identity first; empty for a
// general position.
std::vector<const xxSymmetryElement*> StabiliserOf(const xxSymmetryDefinition& d, const Geometry& g,
                                                   const xxVector3& f) {
    std::vector<const xxSymmetryElement*> stabiliser;
    std::size_t others = 0;  // operators other than the identity that leave f in place
    auto fixes = [&](std::size_t k, xxPeriodicTranslation& m) { return !(g.Distance(f, g.Ops()[k].Apply(f), m) > g.Tolerance()); };
    for (std::size_t k = 0; k < g.Ops().size(); ++k) {
        xxPeriodicTranslation m;
        if (!g.IsIdentity(k) && fixes(k, m)) ++others;
    }
    // A general position (most of a model): nothing to look up.
    if (others == 0) return stabiliser;
    for (std::size_t k = 0; k < g.Ops().size(); ++k) {
        xxPeriodicTranslation m;
        if (!fixes(k, m)) continue;
        if (const xxSymmetryElement* s = d.FindSymmetryElement(static_cast<int>(k + 1), m)) {
            if (s->IsIdentity()) stabiliser.insert(stabiliser.begin(), s);
            else stabiliser.push_back(s);
        }
    }
    if (stabiliser.size() < 2) stabiliser.clear();
    return stabiliser;
}

xxVector3 FractionalOf(const xxSymmetryDefinition& d, const xxObject& o) {
    const xxVector3 f = d.GetCell().ToFractional(xxSymmetryConvert::ToVector(o.GetXYZ()));
    if (!InReach(f)) {
        const bool finite = std::isfinite(f[0]) && std::isfinite(f[1]) && std::isfinite(f[2]);
        throw Cfx::CfxResult(E_INVALIDARG, "The position of " + Describe(o) +
                                               (finite ? " lies too far outside the cell" : " is not finite") +
                                               "; no symmetry can be built.");
    }
    return f;
}

void CheckTolerance(const xxSymmetryDefinition& d, double tolerance) {
    if (!std::isfinite(tolerance) || tolerance < 0)
        throw Cfx::CfxResult(E_INVALIDARG, "The symmetry tolerance must be a finite non-negative length; it is " +
                                               std::to_string(tolerance) + ".");
    const xxMatrix3& toFractional = d.GetCell().GetCartesianToFractional();
    for (int i = 0; i < d.GetDimension(); ++i) {
        const double thickness =
            1 / xxVector3(toFractional(i, 0), toFractional(i, 1), toFractional(i, 2)).Length();
        if (!(tolerance < 0.5 * thickness))
            throw Cfx::CfxResult(E_INVALIDARG, "The symmetry tolerance " + std::to_string(tolerance) +
                                                   " is not below half the cell's thickness along " +
                                                   std::string(1, char('a' + i)) + " (" + std::to_string(thickness) +
                                                   "); it would merge whole cells.");
    }
}

}  // namespace

// ---- the system --------------------------------------------------------------------------

xxSymmetrySystem::xxSymmetrySystem() : xxSymmetrySystem(nullptr) {}

xxSymmetrySystem::xxSymmetrySystem(std::unique_ptr<xxSymmetryDefinition> definition)
    : definition_(definition ? std::move(definition) : std::make_unique<xxPointGroup>()),
      relation_(std::make_unique<Relation>()),
      display_(*this) {
    definition_->system_ = this;
}

// The relation goes first: its weak references must be gone before the children die.
xxSymmetrySystem::~xxSymmetrySystem() {
    relation_.reset();
    definition_->system_ = nullptr;
}

void xxSymmetrySystem::SetSymmetryDefinition(std::unique_ptr<xxSymmetryDefinition> definition) {
    if (!definition) throw Cfx::CfxResult(E_POINTER, "A symmetry system needs a definition.");
    Install(std::move(definition), std::make_unique<Relation>());
    tolerance_ = 0;
}

void xxSymmetrySystem::Install(std::unique_ptr<xxSymmetryDefinition> definition, std::unique_ptr<Relation> relation) {
    // The old relation is dropped before its images are: destroying them must not reach it.
    const std::vector<xxObject*> made = relation_->MadeOnDemand();
    relation_ = std::move(relation);
    memo_ = {};
    for (xxObject* image : made)
        if (image->GetParent()) image->Delete();
    if (definition) {
        definition_->system_ = nullptr;
        definition->system_ = this;
        definition_ = std::move(definition);
    }
    display_.Clear();
}

bool xxSymmetrySystem::HasSymmetryImages(const xxObject& object) {
    return object.IsA(xxBondable::classType) && !object.IsA(xxPiSystem::classType);
}

void xxSymmetrySystem::Build(std::unique_ptr<xxSymmetryDefinition> incoming, const BuildOptions& options) {
    const xxSymmetryDefinition& d = incoming ? *incoming : *definition_;
    CheckTolerance(d, options.tolerance);
    d.CheckCellFitsGroup();

    const Geometry g(d, options.tolerance);
    const std::size_t n = g.Ops().size();
    auto relation = std::make_unique<Relation>();
    ParentTable parents;
    ImageGrid grid(g, parents);
    SpeciesTable species;
    const bool madeOnDemand = !relation_->images.empty();

    // One walk that places each object as it meets it, while the object is at hand.
    ClassKinds kinds;
    std::size_t placed = 0;

    VisitBelow(*this, kinds, [&](xxObject& o, unsigned kind) {
        if (!(kind & ClassKinds::kHasImages) || (madeOnDemand && IsImageMadeOnDemand(o))) return;
        if (++placed >= std::numeric_limits<std::uint32_t>::max())
            throw Cfx::CfxResult(E_OUTOFMEMORY, "The model has too many objects for a symmetry build.");
        const xxVector3 f = FractionalOf(d, o);
        const std::uint64_t speciesOf = species.Of(o);

        std::uint64_t home = 0;  // the key of f's bin
        if (options.findEquivalents) {
            const auto hit = grid.Nearest(f, speciesOf, std::nullopt, &home);
            const xxSymmetryElement* e = hit ? d.FindSymmetryElement(static_cast<int>(hit->op + 1), hit->t) : nullptr;
            if (e) {
                relation->AddImage(o, *parents[hit->parent].object, *e, false);
                return;
            }
        }

        const auto index = static_cast<std::uint32_t>(parents.size());
        parents.emplace_back() = {f, speciesOf, &o};
        std::vector<const xxSymmetryElement*> stabiliser = StabiliserOf(d, g, f);
        // Images of a general position are all distinct (two that met would make an element of
        // the stabiliser); only a special position's images need the search for copies.
        const bool general = stabiliser.empty();
        if (!general) relation->ParentOf(o).stabiliser = std::move(stabiliser);
        if (options.findEquivalents) {
            for (std::size_t k = 0; k < n; ++k) {
                if (general && g.IsIdentity(k)) grid.Insert(index, k, home);
                else if (general || !grid.Nearest(g.Image(f, k).position, speciesOf, index)) grid.Insert(index, k);
            }
        }
    });

    Install(std::move(incoming), std::move(relation));
    tolerance_ = options.tolerance;
    memo_.classes = kinds.Seen();
    memo_.parents.emplace();
    memo_.parents->reserve(parents.size());
    for (std::size_t i = 0; i < parents.size(); ++i) memo_.parents->push_back(parents[i].object);
    memo_.generation = xxTreeNode::StructureGeneration();
    if (options.completeCell) {
        MakeHomeCellImages();
        // The images it made are of the parents' classes and no parents: the memo still holds.
        memo_.generation = xxTreeNode::StructureGeneration();
    }
}

void xxSymmetrySystem::MakeHomeCellImages() {
    const xxSymmetryDefinition& d = *definition_;
    const Geometry g(d, tolerance_);
    const std::size_t n = g.Ops().size();
    if (n <= 1) return;  // the identity alone leaves every parent in place
    // The build just walked the tree: its parents are the ones to complete.
    const bool memo = MemoValid() && memo_.parents;
    std::vector<xxObject*> walked;
    if (!memo) walked = Iterator(0, kParents);
    const std::span<xxObject* const> parents = memo ? std::span<xxObject* const>(*memo_.parents) : walked;
    Relation& relation = *relation_;
    // Room for every image up front: the tables never grow while they fill.
    relation.images.reserve(relation.images.size() + parents.size() * (n - 1));
    relation.byElement.reserve(relation.byElement.size() + parents.size() * (n - 1));
    relation.parents.reserve(relation.parents.size() + parents.size());
    PropertyCopier copier;
    for (xxObject* parent : parents) {
        if (!HasSymmetryImages(*parent)) continue;
        const xxVector3 f = d.GetCell().ToFractional(xxSymmetryConvert::ToVector(parent->GetXYZ()));
        if (!InReach(f)) continue;
        // The parent's entry once: its stabiliser, and whether it has images already (the rows
        // of a file that lists the whole cell) that a new one must not double.
        Relation::ParentLink* link = nullptr;
        if (auto it = relation.parents.find(parent); it != relation.parents.end()) link = &it->second;
        const std::span<const xxSymmetryElement* const> stabiliser =
            link ? std::span<const xxSymmetryElement* const>(link->stabiliser) : std::span<const xxSymmetryElement* const>();
        const bool mayHaveImages = link && !link->images.empty();
        for (std::size_t k = 0; k < n; ++k) {
            const xxSymmetryElement* e = d.FindSymmetryElement(static_cast<int>(k + 1), g.Image(f, k).shift);
            if (!e || Relation::LeavesInPlace(stabiliser, *e)) continue;
            const xxSymmetryElement& canonical = Relation::Canonical(stabiliser, *e);
            // Two operators of a special position may give one image.
            if ((mayHaveImages || !stabiliser.empty()) && relation.Lookup(*parent, canonical)) continue;
            if (!link) link = &relation.ParentOf(*parent);
            if (link->images.capacity() == 0) link->images.reserve(n - 1);
            xxObject& image = AdoptChild(copier.ImageOf(*parent, *e));
            relation.AddImage(image, *link, *e, canonical, true);
        }
    }
}

bool xxSymmetrySystem::IsSymmetryImage(const xxObject& object) const { return relation_->FindImage(object) != nullptr; }

bool xxSymmetrySystem::IsImageMadeOnDemand(const xxObject& object) const {
    const auto* link = relation_->FindImage(object);
    return link && link->madeOnDemand;
}

bool xxSymmetrySystem::IsSymmetryParent(const xxObject& object) const {
    return object.IsDescendentOf(*this) && !IsSymmetryImage(object);
}

xxObject* xxSymmetrySystem::GetSymmetryParent(xxObject& object) const {
    const auto* link = relation_->FindImage(object);
    return link ? link->parent : &object;
}

const xxObject* xxSymmetrySystem::GetSymmetryParent(const xxObject& object) const {
    const auto* link = relation_->FindImage(object);
    return link ? link->parent : &object;
}

const xxSymmetryElement& xxSymmetrySystem::GetSymmetryElement(const xxObject& object) const {
    const auto* link = relation_->FindImage(object);
    return link ? *link->element : definition_->GetIdentityElement();
}

std::vector<const xxSymmetryElement*> xxSymmetrySystem::GetSymmetryElements(const xxObject& object) const {
    const xxSymmetryElement& own = GetSymmetryElement(object);
    std::vector<const xxSymmetryElement*> out{&own};
    for (const xxSymmetryElement* s : relation_->Stabiliser(*GetSymmetryParent(object)))
        if (const xxSymmetryElement* e = definition_->Compose(own, *s); e && e != &own) out.push_back(e);
    return out;
}

const xxSymmetryElement& xxSymmetrySystem::Canonical(const xxObject& parent, const xxSymmetryElement& element) const {
    return relation_->Canonical(parent, element);
}

xxObject* xxSymmetrySystem::FindSymmetryImage(xxObject& object, const xxSymmetryElement* element) {
    if (!element) return nullptr;
    definition_->CheckOwnElement(*element);
    if (!object.IsDescendentOf(*this) || !HasSymmetryImages(object)) return nullptr;
    xxObject& parent = *GetSymmetryParent(object);
    const xxSymmetryElement* target = definition_->Compose(*element, GetSymmetryElement(object));
    if (!target) return nullptr;
    if (relation_->LeavesInPlace(parent, *target)) return &parent;
    if (xxObject* image = relation_->Lookup(parent, relation_->Canonical(parent, *target))) return image;
    return MakeImage(parent, *target);
}

xxObject* xxSymmetrySystem::FindSymmetryImage(xxObject& object, const xxPeriodicTranslation& translation) {
    const int identity = definition_->GetIdentityElement().GetOperatorNumber();
    return FindSymmetryImage(object, definition_->FindSymmetryElement(identity, translation));
}

xxObject* xxSymmetrySystem::GetPeriodicParent(xxObject& object) {
    if (!IsSymmetryImage(object)) return &object;
    const xxSymmetryElement& element = GetSymmetryElement(object);
    xxObject& parent = *GetSymmetryParent(object);
    if (IsLatticeShift(element)) return &parent;
    xxObject* home = FindSymmetryImage(parent, definition_->FindSymmetryElement(element.GetOperatorNumber(), {}));
    return home ? home : &object;
}

const xxSymmetryElement* xxSymmetrySystem::FindSymmetryRelationship(const xxObject& from, const xxObject& to) const {
    if (GetSymmetryParent(from) != GetSymmetryParent(to)) return nullptr;
    const xxSymmetryElement* back = GetSymmetryElement(from).GetInverse();
    return back ? definition_->Compose(GetSymmetryElement(to), *back) : nullptr;
}

bool xxSymmetrySystem::SetImageVisibility(xxObject& object, bool visible) {
    if (!object.IsDescendentOf(*this) || !HasSymmetryImages(object)) return false;
    xxObject& parent = *GetSymmetryParent(object);
    const xxSymmetryElement& element = GetSymmetryElement(object);
    return visible ? (display_.MakeVisible(parent, element), true) : display_.Hide(parent, element);
}

// A copy of the parent of its own class with every assigned value, then moved (and its
// velocity turned) by the element.
xxObject* xxSymmetrySystem::MakeImage(xxObject& parent, const xxSymmetryElement& element) {
    xxObject& image = AdoptChild(PropertyCopier().ImageOf(parent, element));
    relation_->AddImage(image, parent, element, true);
    return &image;
}

std::vector<xxObject*> xxSymmetrySystem::GetSymmetryImages(const xxObject& parent) const {
    const auto* link = relation_->FindParent(parent);
    return link ? std::vector<xxObject*>(link->images.begin(), link->images.end()) : std::vector<xxObject*>{};
}

std::vector<xxObject*> xxSymmetrySystem::Iterator(unsigned type, int mode, bool madeOnDemand) const {
    if (mode < kParents || mode > kAll)
        throw Cfx::CfxResult(E_INVALIDARG, "There is no symmetry iterator mode " + std::to_string(mode) + ".");
    std::vector<xxObject*> out;
    // No class the last build met below the system is of the type: there is nothing to find.
    if (type != 0 && MemoValid() &&
        std::none_of(memo_.classes.begin(), memo_.classes.end(), [&](const xxClass* c) { return c->IsA(type); }))
        return out;
    ClassKinds kinds(type);
    const bool anyImages = !relation_->images.empty();
    VisitBelow(*this, kinds, [&](xxObject& o, unsigned kind) {
        if (!(kind & ClassKinds::kOfType)) return;
        const auto* link = anyImages ? relation_->FindImage(o) : nullptr;
        bool take = false;
        if (!link) {
            take = mode == kParents || mode == kParentsAndSymmetryImages || mode == kAll;
        } else if (!madeOnDemand && link->madeOnDemand) {
            take = false;
        } else {
            const bool periodic = IsLatticeShift(*link->element);
            switch (mode) {
                case kParentsAndSymmetryImages: take = !periodic; break;
                case kSymmetryImages: take = !periodic; break;
                case kPeriodicImages: take = periodic; break;
                case kImages:
                case kAll: take = true; break;
                default: break;
            }
        }
        if (take) out.push_back(&o);
    });
    return out;
}

std::size_t xxSymmetrySystem::GetNumSymmetryImages() const { return relation_->images.size(); }

xxMatterSymmetrySystem* xxMatterSymmetrySystem::FirstOf(const xxTreeNode& node) {
    for (const auto& child : node.Children())
        if (auto* system = child->As<xxMatterSymmetrySystem>()) return system;
    return nullptr;
}

void xxSymmetrySystem::SynchronizeImages() {
    for (const auto& [key, link] : relation_->images)
        if (link.madeOnDemand)
            link.GetObject()->SetXYZ(link.element->GetCartesianTransform().Apply(link.parent->GetXYZ()));
}

// ---- saving and loading -------------------------------------------------------------------

void xxSymmetrySystem::Save(xxOutput& out) const {
    xxTreeNode::Save(out);
    out.SaveChildObject(definition_.get());
    out.WriteValue("ToleranceRadius", tolerance_, 0.0);
    out.WriteValue("PeriodicDisplayType", periodicDisplayType_, 0);
    std::vector<const xxObject*> images, parents;
    std::vector<int> elements;
    std::vector<xxBool> made;
    ForEachDescendent([&](xxObject& o) {
        if (const auto* link = relation_->FindImage(o)) {
            images.push_back(&o);
            parents.push_back(link->parent);
            elements.push_back(link->element->GetOperatorNumber());
            for (int i = 0; i < 3; ++i) elements.push_back(link->element->GetPeriodicTranslation()[i]);
            made.push_back(link->madeOnDemand);
        }
        return true;
    });
    out.WriteReferenceCollection("SymmetryImages", xxPointerCollection<const xxObject>(images));
    out.WriteReferenceCollection("SymmetryParents", xxPointerCollection<const xxObject>(parents));
    out.WriteArray("SymmetryElements", elements);
    out.WriteXxBoolArray("MadeOnDemand", made);
}

void xxSymmetrySystem::Load(xxInput& in) {
    xxTreeNode::Load(in);
    std::unique_ptr<xxSymmetryDefinition> definition = in.ReadChild<xxSymmetryDefinition>();
    double tolerance = 0;
    int displayType = 0;
    in.ReadValue("ToleranceRadius", tolerance, 0.0);
    in.ReadValue("PeriodicDisplayType", displayType, 0);
    std::vector<xxObject*> images, parents;
    xxPointerCollection<xxObject> imageList(images), parentList(parents);
    in.ReadReferenceCollection("SymmetryImages", imageList);
    in.ReadReferenceCollection("SymmetryParents", parentList);
    std::vector<int> elements;
    std::vector<xxBool> made;
    in.ReadArray("SymmetryElements", elements);
    in.ReadXxBoolArray("MadeOnDemand", made);

    if (definition) SetSymmetryDefinition(std::move(definition));
    const xxSymmetryDefinition& d = *definition_;
    if (!images.empty()) CheckTolerance(d, tolerance);
    auto fault = [](const std::string& what) {
        return Cfx::CfxResult(E_INVALIDARG, "The symmetry images of the document do not fit its model: " + what + ".");
    };
    if (parents.size() != images.size() || made.size() != images.size() || elements.size() != 4 * images.size())
        throw fault("the lists differ in length");
    const Geometry g(d, tolerance);
    auto relation = std::make_unique<Relation>();
    std::unordered_set<const xxObject*> placed;  // parents whose stabiliser is known
    for (std::size_t i = 0; i < images.size(); ++i) {
        xxObject* image = images[i];
        xxObject* parent = parents[i];
        if (!image || !parent || image == parent || !image->IsDescendentOf(*this) || !parent->IsDescendentOf(*this) ||
            !HasSymmetryImages(*image) || !HasSymmetryImages(*parent))
            throw fault("entry " + std::to_string(i + 1) + " is no pair of matter objects below the system");
        const xxSymmetryElement* e =
            d.FindSymmetryElement(elements[4 * i], {{elements[4 * i + 1], elements[4 * i + 2], elements[4 * i + 3]}});
        if (!e) throw fault("entry " + std::to_string(i + 1) + " names no element of the group");
        if (placed.insert(parent).second)
            if (auto stabiliser = StabiliserOf(d, g, FractionalOf(d, *parent)); !stabiliser.empty())
                relation->ParentOf(*parent).stabiliser = std::move(stabiliser);
        relation->AddImage(*image, *parent, *e, made[i]);
    }
    for (const auto& [key, link] : relation->images)
        if (relation->FindImage(*link.parent)) throw fault("an image is the parent of another");
    // A parent on a special position may list no image at all: its stabiliser still says which
    // elements leave it in place, or a later lookup would make a copy on top of it.
    if (g.Ops().size() > 1)
        ForEachDescendent([&](xxObject& o) {
            if (HasSymmetryImages(o) && !relation->FindImage(o) && placed.insert(&o).second)
                if (auto stabiliser = StabiliserOf(d, g, FractionalOf(d, o)); !stabiliser.empty())
                    relation->ParentOf(o).stabiliser = std::move(stabiliser);
            return true;
        });
    relation_ = std::move(relation);
    memo_ = {};
    tolerance_ = tolerance;
    periodicDisplayType_ = displayType;
    display_.Clear();
}

// ---- the display ---------------------------------------------------------------------------

namespace {
struct DisplayKey {
    std::uint32_t parent;
    int op;
    xxPeriodicTranslation t;
    friend bool operator==(const DisplayKey&, const DisplayKey&) = default;
};
struct DisplayKeyHash {
    std::size_t operator()(const DisplayKey& k) const noexcept {
        std::uint64_t h = k.parent;
        for (std::uint64_t v : {std::uint64_t(static_cast<std::uint32_t>(k.op)), std::uint64_t(static_cast<std::uint32_t>(k.t[0])),
                                std::uint64_t(static_cast<std::uint32_t>(k.t[1])), std::uint64_t(static_cast<std::uint32_t>(k.t[2]))})
            h = (h ^ v) * 0x100000001b3ull + (h >> 29);
        return static_cast<std::size_t>(h);
    }
};
}  // namespace

// Lookups into the list, for MakeVisible and IsShown.
struct xxSymmetryDisplay::Index {
    std::unordered_map<DisplayKey, std::size_t, DisplayKeyHash> entries;  // to the entry's place
    std::unordered_map<const xxObject*, std::uint32_t> parents;  // checked against parents_ on use
};

// The images shown or hidden one by one, by parent and least element; the last choice holds.
struct xxSymmetryDisplay::Choices {
    struct Key {
        const xxObject* parent;
        int op;
        xxPeriodicTranslation t;
        friend bool operator==(const Key&, const Key&) = default;
    };
    struct KeyHash {
        std::size_t operator()(const Key& k) const noexcept {
            return DisplayKeyHash()({static_cast<std::uint32_t>(std::hash<const void*>()(k.parent)), k.op, k.t}) ^
                   std::hash<const void*>()(k.parent);
        }
    };
    struct Choice {
        xxReferenceBase parent;
        int op;
        xxPeriodicTranslation t;
        bool visible;
    };
    ChunkedList<Choice> list;
    std::unordered_map<Key, std::size_t, KeyHash> at;

    // The choice made for the image; null when none was, or its parent died since.
    const Choice* Find(const xxObject& parent, int op, const xxPeriodicTranslation& t) const {
        auto it = at.find({&parent, op, t});
        if (it == at.end() || list[it->second].parent.GetObject() != &parent) return nullptr;
        return &list[it->second];
    }
};

xxSymmetryDisplay::xxSymmetryDisplay(xxSymmetrySystem& system)
    : system_(&system), listing_(std::make_unique<Listing>()) {}
xxSymmetryDisplay::~xxSymmetryDisplay() = default;

void xxSymmetryDisplay::Clear() {
    listing_ = std::make_unique<Listing>();
    index_.reset();
    choices_.reset();
}

xxSymmetryDisplay::Index& xxSymmetryDisplay::TheIndex() const {
    if (!index_) {
        auto index = std::make_unique<Index>();
        const Listing& l = *listing_;
        for (std::uint32_t i = 0; i < l.parents.size(); ++i)
            if (const xxObject* p = l.parents[i].GetObject()) index->parents[p] = i;
        for (std::size_t i = 0; i < l.entries.size(); ++i) {
            const Entry& e = l.entries[i];
            if (!e.Hidden()) index->entries.emplace(DisplayKey{e.parent, e.op, e.t}, i);
        }
        index_ = std::move(index);
    }
    return *index_;
}

std::optional<std::uint32_t> xxSymmetryDisplay::FindParent(const xxObject& parent) const {
    const Index& index = TheIndex();
    auto it = index.parents.find(&parent);
    // An address may come back for a new object once the old one died: the reference says.
    if (it == index.parents.end() || listing_->parents[it->second].GetObject() != &parent) return std::nullopt;
    return it->second;
}

void xxSymmetryDisplay::GenerateDisplay() {
    choices_.reset();
    List(false);
}

void xxSymmetryDisplay::ReGenerateDisplay() { List(true); }

void xxSymmetryDisplay::List(bool keepChoices) {
    const Choices* choices = keepChoices ? choices_.get() : nullptr;
    const xxSymmetryDefinition& d = system_->GetSymmetryDefinition();
    const int dimension = d.GetDimension();
    const Geometry g(d, 0);
    auto listing = std::make_unique<Listing>();
    auto& parents = listing->parents;
    auto& entries = listing->entries;
    constexpr double kSlack = 1e-6;
    std::array<std::array<double, 2>, 3> ranges{};
    for (int i = 0; i < dimension; ++i) ranges[static_cast<std::size_t>(i)] = {d.GetRangeMin(i), d.GetRangeMax(i)};
    // Only parents with an entry in the relation can have a stabiliser.
    const bool anySpecial = !system_->relation_->parents.empty();
    auto list = [&](xxObject& parent) {
        const xxVector3 f = d.GetCell().ToFractional(xxSymmetryConvert::ToVector(parent.GetXYZ()));
        if (!InReach(f)) return;
        const auto index = static_cast<std::uint32_t>(parents.size());
        parents.emplace_back().Reset(&parent);
        const bool special = anySpecial && !system_->relation_->Stabiliser(parent).empty();
        std::vector<const xxSymmetryElement*> seen;  // a special position's images listed so far
        for (int k = 1; k <= d.GetNumOperators(); ++k) {
            const Reduced r = g.Image(f, static_cast<std::size_t>(k - 1));
            Entry home{index, k, r.shift};
            if (special) {
                // Operators that give the same image are listed once, by the least element;
                // the least of a translate is the translate of the least.
                const xxSymmetryElement* e = d.FindSymmetryElement(k, r.shift);
                if (!e) continue;
                const xxSymmetryElement& least = system_->Canonical(parent, *e);
                if (std::find(seen.begin(), seen.end(), &least) != seen.end()) continue;
                seen.push_back(&least);
                home.op = least.GetOperatorNumber();
                home.t = least.GetPeriodicTranslation();
            }
            // Whole cells n per periodic axis with min <= r + n <= max.
            std::array<std::array<int, 2>, 3> span{};
            bool empty = false;
            for (int i = 0; i < dimension; ++i) {
                auto& s = span[static_cast<std::size_t>(i)];
                const auto& range = ranges[static_cast<std::size_t>(i)];
                s[0] = static_cast<int>(std::ceil(range[0] - r.position[i] - kSlack));
                s[1] = static_cast<int>(std::floor(range[1] - r.position[i] + kSlack));
                if (s[0] > s[1]) empty = true;
            }
            if (empty) continue;
            for (int a = span[0][0]; a <= span[0][1]; ++a)
                for (int b = span[1][0]; b <= span[1][1]; ++b)
                    for (int c = span[2][0]; c <= span[2][1]; ++c) {
                        if (entries.size() >= kMaxImages)
                            throw Cfx::CfxResult(E_OUTOFMEMORY, "The display ranges ask for more than " +
                                                                    std::to_string(kMaxImages) + " symmetry images.");
                        Entry e = home;
                        e.t[0] += a;
                        e.t[1] += b;
                        e.t[2] += c;
                        if (choices) {
                            // A translate of the least element is the least of the translate.
                            const Choices::Choice* choice = choices->Find(parent, e.op, e.t);
                            if (choice && !choice->visible) continue;
                        }
                        entries.emplace_back() = e;
                    }
        }
    };
    if (system_->MemoValid() && system_->memo_.parents) {
        // The build just walked this tree: its parents are the ones to list.
        for (xxObject* parent : *system_->memo_.parents) list(*parent);
    } else {
        ClassKinds kinds;
        VisitBelow(*system_, kinds, [&](xxObject& parent, unsigned kind) {
            if ((kind & ClassKinds::kHasImages) && !system_->relation_->FindImage(parent)) list(parent);
        });
    }
    system_->memo_.parents.reset();
    listing_ = std::move(listing);
    index_.reset();
    if (!choices) return;
    // Those shown one by one join the list (those the ranges listed already are skipped).
    for (std::size_t i = 0; i < choices->list.size(); ++i) {
        const Choices::Choice& c = choices->list[i];
        xxObject* parent = c.parent.GetObject();
        if (!c.visible || !parent) continue;
        if (const xxSymmetryElement* e = d.FindSymmetryElement(c.op, c.t)) MakeVisible(*parent, *e);
    }
}

void xxSymmetryDisplay::Choose(xxObject& parent, const xxSymmetryElement& least, bool visible) {
    if (!choices_) choices_ = std::make_unique<Choices>();
    const Choices::Key key{&parent, least.GetOperatorNumber(), least.GetPeriodicTranslation()};
    auto it = choices_->at.find(key);
    if (it != choices_->at.end() && choices_->list[it->second].parent.GetObject() == &parent) {
        choices_->list[it->second].visible = visible;
        return;
    }
    const std::size_t place = choices_->list.size();
    Choices::Choice& c = choices_->list.emplace_back();
    c.parent.Reset(&parent);
    c.op = key.op;
    c.t = key.t;
    c.visible = visible;
    choices_->at[key] = place;
}

bool xxSymmetryDisplay::Fits(const xxObject& parent, const xxSymmetryElement& element) const {
    return element.GetDefinition() == &system_->GetSymmetryDefinition() && system_->IsSymmetryParent(parent) &&
           xxSymmetrySystem::HasSymmetryImages(parent);
}

bool xxSymmetryDisplay::Hide(xxObject& parent, const xxSymmetryElement& element) {
    if (!Fits(parent, element)) return false;
    const xxSymmetryElement& least = system_->Canonical(parent, element);
    Choose(parent, least, false);
    if (const std::optional<std::uint32_t> p = FindParent(parent)) {
        Index& index = TheIndex();
        auto it = index.entries.find({*p, least.GetOperatorNumber(), least.GetPeriodicTranslation()});
        if (it != index.entries.end()) {
            listing_->entries[it->second].op = -listing_->entries[it->second].op;
            ++listing_->hidden;
            index.entries.erase(it);
        }
    }
    return true;
}

bool xxSymmetryDisplay::MakeVisible(xxObject& parent, const xxSymmetryElement& element) {
    if (!Fits(parent, element)) return false;
    const xxSymmetryElement& least = system_->Canonical(parent, element);
    Choose(parent, least, true);
    Index& index = TheIndex();
    std::optional<std::uint32_t> p = FindParent(parent);
    const DisplayKey key{p.value_or(static_cast<std::uint32_t>(listing_->parents.size())), least.GetOperatorNumber(),
                         least.GetPeriodicTranslation()};
    if (p && index.entries.contains(key)) return false;
    if (listing_->entries.size() >= kMaxImages)
        throw Cfx::CfxResult(E_OUTOFMEMORY, "The display holds " + std::to_string(kMaxImages) + " symmetry images already.");
    if (!p) {
        listing_->parents.emplace_back().Reset(&parent);
        index.parents[&parent] = key.parent;
    }
    index.entries.emplace(key, listing_->entries.size());
    listing_->entries.emplace_back() = {key.parent, key.op, key.t};
    return true;
}

bool xxSymmetryDisplay::IsShown(const xxObject& parent, const xxSymmetryElement& element) const {
    if (element.GetDefinition() != &system_->GetSymmetryDefinition() || !system_->IsSymmetryParent(parent)) return false;
    const std::optional<std::uint32_t> p = FindParent(parent);
    if (!p) return false;
    const xxSymmetryElement& least = system_->Canonical(parent, element);
    return TheIndex().entries.contains({*p, least.GetOperatorNumber(), least.GetPeriodicTranslation()});
}

std::vector<xxDisplayedImage> xxSymmetryDisplay::GetImages() const {
    const xxSymmetryDefinition& d = system_->GetSymmetryDefinition();
    std::vector<xxDisplayedImage> out;
    const Listing& l = *listing_;
    out.reserve(l.entries.size());
    for (std::size_t i = 0; i < l.entries.size(); ++i) {
        const Entry& e = l.entries[i];
        if (e.Hidden()) continue;
        xxObject* parent = l.parents[e.parent].GetObject();
        const xxSymmetryElement* element = d.FindSymmetryElement(e.op, e.t);
        if (!parent || !element) continue;
        out.push_back({parent, element, element->GetCartesianTransform().Apply(parent->GetXYZ())});
    }
    return out;
}
