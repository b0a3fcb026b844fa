#include "datamodel/sets.h"

#include <cmath>
#include <limits>
#include <map>
#include <memory>
#include <numbers>
#include <utility>

#include "datamodel/property_bits.h"

XX_IMPLEMENT_ABSTRACT_CLASS(xxRestrictable, "Restrictable", xxObject, 1)
XX_IMPLEMENT_CLASS(xxOrdCollection, "OrdCollection", xxObject, 1)
XX_IMPLEMENT_CLASS(xxSet, "Set", xxOrdCollection, 1)
XX_IMPLEMENT_ABSTRACT_CLASS(xxRestriction, "Restriction", xxObject, 2)
XX_IMPLEMENT_CLASS(xxCompleteRestriction, "CompleteRestriction", xxRestriction, 2)
XX_IMPLEMENT_ABSTRACT_CLASS(xxMonitor, "Monitor", xxObject, 1)
const xxPropertyTemplate<bool> xxGeometryMonitor::m_pptLabeledMeasurement("LabeledMeasurement", &xxGeometryMonitor::Class,
                                                                          XX_FIELD(xxGeometryMonitor, labeled_),
                                                                          xxPropertyBit::kLabeledMeasurement, true);
XX_IMPLEMENT_ABSTRACT_CLASS(xxGeometryMonitor, "GeometryMonitor", xxMonitor, 2, &xxGeometryMonitor::m_pptLabeledMeasurement)
XX_IMPLEMENT_ABSTRACT_CLASS(xxUnMappedMonitor, "UnMappedMonitor", xxGeometryMonitor, 1)
XX_IMPLEMENT_CLASS(xxDistanceStretcher, "DistanceStretcher", xxUnMappedMonitor, 1)
XX_IMPLEMENT_CLASS(xxPlanarAngleBender, "PlanarAngleBender", xxUnMappedMonitor, 1)
XX_IMPLEMENT_CLASS(xxTorsionTwister, "TorsionTwister", xxUnMappedMonitor, 1)
XX_IMPLEMENT_CLASS(xxSubstructure, "Substructure", xxObject, 1)

// ---- restrictables ---------------------------------------------------------------------

// Owns every restrictable; an entry goes when its object dies.
struct xxRestrictable::Registry {
    using Key = std::pair<const xxObject*, const xxPropertyBase*>;
    std::map<Key, std::unique_ptr<xxRestrictable>> entries;

    static Registry& Get() {
        static Registry registry;
        return registry;
    }
};

xxRestrictable::xxRestrictable(xxObject& object, const xxPropertyBase& property)
    : object_(&object, this), property_(&property), key_(&object) {}

xxRestrictable::~xxRestrictable() = default;

xxRestrictable& xxRestrictable::For(xxObject& object, const xxPropertyBase& property) {
    auto& entries = Registry::Get().entries;
    auto [it, inserted] = entries.try_emplace(Registry::Key{&object, &property});
    if (inserted) {
        try {
            it->second.reset(new xxRestrictable(object, property));
        } catch (...) {
            entries.erase(it);
            throw;
        }
    }
    return *it->second;
}

xxRestrictable* xxRestrictable::Find(const xxObject& object, const xxPropertyBase& property) {
    auto& entries = Registry::Get().entries;
    auto it = entries.find(Registry::Key{&object, &property});
    return it == entries.end() ? nullptr : it->second.get();
}

std::size_t xxRestrictable::Count() { return Registry::Get().entries.size(); }

void xxRestrictable::OnReferenceCleared(xxReferenceBase&) {
    // The object is dying: so does its restrictable (and the references to it).
    auto& entries = Registry::Get().entries;
    auto it = entries.find(Registry::Key{key_, property_});
    if (it != entries.end() && it->second.get() == this) entries.erase(it);
}

// ---- restrictions --------------------------------------------------------------------------

xxRestriction::~xxRestriction() {
    if (complete_)
        for (xxRestrictable* r : GetRestrictables()) --r->completeHolds_;
}

void xxRestriction::AddRestrictable(xxRestrictable& restrictable) {
    restrictables_.Add(restrictable);
    if (complete_) ++restrictable.completeHolds_;
}

bool xxRestriction::RemoveRestrictable(const xxRestrictable& restrictable) {
    if (!restrictables_.Remove(restrictable)) return false;
    if (complete_) --restrictable.completeHolds_;
    return true;
}

// ---- collections ---------------------------------------------------------------------------

void xxOrdCollection::Add(xxObject& object) {
    if (&object == this) throw Cfx::CfxResult(E_INVALIDARG, "A collection cannot hold itself");
    members_.Add(object);
}

bool xxOrdCollection::AddUnique(xxObject& object) {
    if (Contains(object)) return false;
    Add(object);
    return true;
}

// ---- monitors ------------------------------------------------------------------------------

bool xxGeometryMonitor::IsLabeledMeasurement() const { return labeled_; }

void xxGeometryMonitor::SetLabeledMeasurement(bool value) {
    labeled_ = value;
    AssignedMask() |= m_pptLabeledMeasurement.Mask();
}

std::vector<xxRestrictable*> xxGeometryMonitor::GetMonitoredData() const { return points_.ObjectsOf<xxRestrictable>(); }

std::vector<xxObject*> xxGeometryMonitor::GetMonitoredObjects() const {
    std::vector<xxObject*> out;
    for (xxRestrictable* r : GetMonitoredData())
        if (xxObject* o = r->GetAssociatedObject()) out.push_back(o);
    return out;
}

void xxGeometryMonitor::SetMonitoredObjects(std::span<xxMatter* const> objects) {
    if (objects.size() != NumPoints())
        throw Cfx::CfxResult(E_INVALIDARG, GetClass().GetName() + " monitors " + std::to_string(NumPoints()) +
                                               " objects, not " + std::to_string(objects.size()));
    std::vector<xxRestrictable*> restrictables;
    for (xxMatter* o : objects) {
        if (!o) throw Cfx::CfxResult(E_POINTER, "A monitor cannot watch a null object");
        restrictables.push_back(&o->GetXYZRestrictable());
    }
    points_.Clear();
    for (xxRestrictable* r : restrictables) points_.Add(*r);
}

std::vector<xxPoint3d> xxGeometryMonitor::Positions() const {
    std::vector<xxPoint3d> out;
    for (xxObject* o : GetMonitoredObjects()) out.push_back(o->GetXYZ());
    return out;
}

xxTreeNode* xxUnMappedMonitor::FindCommonAncestor(const std::vector<xxObject*>& members) {
    return xxObject::FindCommonRoot(members);
}

namespace {
constexpr double kDegrees = 180.0 / std::numbers::pi;
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

double AngleBetween(xxPoint3d u, xxPoint3d v) {
    // atan2 of |u x v| and u.v stays accurate near 0 and 180 degrees, where acos does not.
    return std::atan2(u.Cross(v).Length(), u.Dot(v)) * kDegrees;
}
}  // namespace

xxDistanceStretcher::xxDistanceStretcher(xxMatter& a, xxMatter& b) {
    xxMatter* objects[] = {&a, &b};
    SetMonitoredObjects(objects);
}

double xxDistanceStretcher::Measure() const {
    auto p = Positions();
    return p.size() == 2 ? (p[1] - p[0]).Length() : kNaN;
}

xxPlanarAngleBender::xxPlanarAngleBender(xxMatter& a, xxMatter& b, xxMatter& c) {
    xxMatter* objects[] = {&a, &b, &c};
    SetMonitoredObjects(objects);
}

double xxPlanarAngleBender::Measure() const {
    auto p = Positions();
    return p.size() == 3 ? AngleBetween(p[0] - p[1], p[2] - p[1]) : kNaN;
}

xxTorsionTwister::xxTorsionTwister(xxMatter& a, xxMatter& b, xxMatter& c, xxMatter& d) {
    xxMatter* objects[] = {&a, &b, &c, &d};
    SetMonitoredObjects(objects);
}

double xxTorsionTwister::Measure() const {
    auto p = Positions();
    if (p.size() != 4) return kNaN;
    const xxPoint3d b1 = p[1] - p[0], b2 = p[2] - p[1], b3 = p[3] - p[2];
    const xxPoint3d n1 = b1.Cross(b2), n2 = b2.Cross(b3);
    // Positive when the front bond turns clockwise onto the back one, seen along b->c.
    return std::atan2(b2.Length() * b1.Dot(n2), n1.Dot(n2)) * kDegrees;
}
