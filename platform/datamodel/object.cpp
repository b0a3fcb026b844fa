#include "datamodel/object.h"

#include "datamodel/reference.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <unordered_map>

#include "base/text.h"

namespace tx = cartovane::text;

// xxObject is the root of the data-model classes; its record's base is xxClassInstance's root.
const xxClass& xxObject::Class() {
    static const xxPropertyTable table{};
    static const xxClass record("Object", nullptr, nullptr, nullptr, 0, 1, &table);
    return record;
}
namespace {
[[maybe_unused]] const unsigned registeredObject = xxObject::Class().TypeId();
}

XX_IMPLEMENT_ABSTRACT_CLASS(xxTreeNode, "TreeNode", xxObject, 1)
XX_IMPLEMENT_CLASS(xxTreeRoot, "TreeRoot", xxTreeNode, 1)

namespace {
// What few objects have: an object number once asked for, a hidden flag. Never destroyed, so
// objects that outlive static destruction can still be destroyed.
struct SideData {
    std::uint64_t oid = 0;
    bool hidden = false;
};
std::unordered_map<const xxObject*, SideData>& Sides() {
    static auto* sides = new std::unordered_map<const xxObject*, SideData>();
    return *sides;
}
std::uint64_t gNextOid = 1;
}  // namespace

xxObject::~xxObject() {
    xxReferenceBase::ClearReferencesTo(*this);
    if (auto& sides = Sides(); !sides.empty()) sides.erase(this);
}

bool xxObject::IsVisible() const {
    const auto& sides = Sides();
    if (sides.empty()) return true;
    const auto it = sides.find(this);
    return it == sides.end() || !it->second.hidden;
}

void xxObject::SetVisibility(bool visible) {
    auto& sides = Sides();
    if (visible) {
        const auto it = sides.find(this);
        if (it == sides.end()) return;
        it->second.hidden = false;
        if (it->second.oid == 0) sides.erase(it);
        return;
    }
    sides[this].hidden = true;
}

std::uint64_t xxObject::GetOID() const {
    SideData& side = Sides()[this];
    if (side.oid == 0) side.oid = gNextOid++;
    return side.oid;
}

xxTreeRoot* xxObject::GetTreeRoot() {
    xxObject* o = this;
    while (o->parent_) o = o->parent_;
    return o->As<xxTreeRoot>();
}

bool xxObject::IsDescendentOf(const xxObject& ancestor) const {
    for (const xxObject* o = parent_; o; o = o->parent_)
        if (o == &ancestor) return true;
    return false;
}

void xxObject::SetParent(xxTreeNode& newParent) {
    if (&newParent == this || newParent.IsDescendentOf(*this))
        throw Cfx::CfxResult(E_INVALIDARG, "An object cannot move inside itself");
    if (parent_ == &newParent) return;
    std::unique_ptr<xxObject> self;
    if (parent_) self = parent_->DetachChild(*this);
    else throw Cfx::CfxResult(E_INVALIDARG, "Only an object in a tree can move");
    newParent.AdoptChild(std::move(self));
    OnParentChanged();
}

void xxObject::Delete() {
    if (!parent_) throw Cfx::CfxResult(E_INVALIDARG, "Only an object in a tree can be deleted");
    std::unique_ptr<xxObject> self = parent_->DetachChild(*this);
    // self goes out of scope here and destroys the object.
}

namespace {
// Without the list PropertyTemplates makes: a reader initialises every object it creates.
// A template met twice (through two bases) is unassigned twice, which changes nothing.
void UnassignTemplates(const xxClass& cls, xxObject& object) {
    for (const xxClass* base : cls.Bases())
        if (base) UnassignTemplates(*base, object);
    if (const xxPropertyTable* table = cls.PropertyTable())
        for (const xxPropertyBase* p : table->properties) p->UnassignValue(object);
}
}  // namespace

void xxObject::InitialiseObjectToDefault() { UnassignTemplates(GetClass(), *this); }

namespace {
void CollectTemplates(const xxClass& cls, std::vector<const xxPropertyBase*>& out) {
    for (const xxClass* base : cls.Bases())
        if (base) CollectTemplates(*base, out);
    if (const xxPropertyTable* table = cls.PropertyTable())
        for (const xxPropertyBase* p : table->properties)
            if (std::find(out.begin(), out.end(), p) == out.end()) out.push_back(p);
}
}  // namespace

std::vector<const xxPropertyBase*> xxObject::PropertyTemplates() const { return PropertyTemplatesOf(GetClass()); }

std::vector<const xxPropertyBase*> xxObject::PropertyTemplatesOf(const xxClass& cls) {
    std::vector<const xxPropertyBase*> out;
    CollectTemplates(cls, out);
    return out;
}

xxTreeNode* xxObject::FindCommonRoot(const std::vector<xxObject*>& objects) {
    xxTreeNode* common = nullptr;
    bool first = true;
    for (xxObject* o : objects) {
        if (!o) continue;
        if (first) {
            common = o->GetParent();
            first = false;
            continue;
        }
        while (common && !(o->GetParent() == common || o->IsDescendentOf(*common))) common = common->GetParent();
        if (!common) return nullptr;
    }
    return common;
}

// ---- xxTreeNode ------------------------------------------------------------

namespace {
std::atomic<std::uint64_t> gStructureGeneration{1};
// Whether the number has been read since it last changed: changes nobody has seen between need
// no new number, and a load adopts millions of children without anyone looking.
std::atomic<bool> gStructureGenerationRead{true};
}  // namespace

std::uint64_t xxTreeNode::StructureGeneration() noexcept {
    gStructureGenerationRead.store(true, std::memory_order_relaxed);
    return gStructureGeneration.load(std::memory_order_relaxed);
}
void xxTreeNode::StructureChanged() noexcept {
    if (!gStructureGenerationRead.load(std::memory_order_relaxed)) return;
    gStructureGenerationRead.store(false, std::memory_order_relaxed);
    gStructureGeneration.fetch_add(1, std::memory_order_relaxed);
}

xxTreeNode::~xxTreeNode() {
    if (!children_.empty()) StructureChanged();
    // Last first, each child out of the list before it dies: a dying child may delete a
    // sibling (an atom its bonds), which must then still be found here or already be gone.
    while (!children_.empty()) {
        std::unique_ptr<xxObject> child = std::move(children_.back());
        children_.pop_back();
        child->parent_ = nullptr;
        child.reset();
    }
}

xxObject& xxTreeNode::AdoptChild(std::unique_ptr<xxObject> child) {
    if (!child) throw Cfx::CfxResult(E_POINTER, "No child given");
    if (child->parent_) throw Cfx::CfxResult(E_INVALIDARG, "The object already has a parent");
    child->parent_ = this;
    children_.push_back(std::move(child));
    StructureChanged();
    return *children_.back();
}

std::unique_ptr<xxObject> xxTreeNode::DetachChild(xxObject& child) {
    // Searched from the back: the most recent children are the ones most often removed.
    for (auto it = children_.rbegin(); it != children_.rend(); ++it) {
        if (it->get() == &child) {
            std::unique_ptr<xxObject> out = std::move(*it);
            children_.erase(std::next(it).base());
            out->parent_ = nullptr;
            StructureChanged();
            return out;
        }
    }
    return nullptr;
}

void xxTreeNode::RemoveDescendents() {
    if (!children_.empty()) StructureChanged();
    while (!children_.empty()) {
        std::unique_ptr<xxObject> child = std::move(children_.back());
        children_.pop_back();
        child->parent_ = nullptr;
        child.reset();
    }
}

void xxTreeNode::MoveChildrenTo(xxTreeNode& destination) {
    if (&destination == this || destination.IsDescendentOf(*this))
        throw Cfx::CfxResult(E_INVALIDARG, "A node's children cannot move inside it");
    if (children_.empty()) return;
    StructureChanged();
    // Weakly held: what a moved child does on arriving (its bonds follow it) may destroy another.
    std::vector<xxReferenceBase> moved;
    moved.reserve(children_.size());
    destination.children_.reserve(destination.children_.size() + children_.size());
    for (auto& child : children_) {
        child->parent_ = &destination;
        moved.emplace_back(child.get());
        destination.children_.push_back(std::move(child));
    }
    children_.clear();
    for (const xxReferenceBase& child : moved)
        if (xxObject* o = child.GetObject()) o->OnParentChanged();
}

xxObject* xxTreeNode::FindChild(std::string_view name, unsigned type) const {
    for (const auto& c : children_)
        if (c->GetName() == name && (type == 0 || c->IsA(type))) return c.get();
    return nullptr;
}

bool xxTreeNode::ForEachDescendent(const std::function<bool(xxObject&)>& visit) const {
    for (const auto& c : children_) {
        if (!visit(*c)) return false;
        if (auto* node = c->As<xxTreeNode>())
            if (!node->ForEachDescendent(visit)) return false;
    }
    return true;
}

// ---- property base ------------------------------------------------------------

xxRestrictable* xxPropertyBase::GetAsRestrictable(xxObject&) const { return nullptr; }

void xxPropertyBase::CheckOwner(const xxObject& object) const {
    if (!owner_) return;
    unsigned type = ownerType_.load(std::memory_order_relaxed);
    if (!type) {
        type = owner_().TypeId();
        ownerType_.store(type, std::memory_order_relaxed);
    }
    if (!object.IsA(type))
        throw Cfx::CfxResult(E_INVALIDARG, std::string("Property ") + name_ + " does not belong to class " +
                                               object.GetClass().GetName());
}

// ---- value text -----------------------------------------------------------------

namespace xxValueText {

std::string ToText(bool v) { return v ? "1" : "0"; }

std::string ToText(int v) { return tx::NumberText(v); }
std::string ToText(unsigned v) { return tx::NumberText(v); }
std::string ToText(double v) { return tx::NumberText(v); }  // shortest text that reads back exactly
std::string ToText(const std::string& v) { return v; }
std::string ToText(const xxPoint3d& v) { return ToText(v.x) + "," + ToText(v.y) + "," + ToText(v.z); }
std::string ToText(const xxRational& v) { return ToText(v.numerator) + "/" + ToText(v.denominator); }
std::string ToText(const xxMatrix3x3& v) {
    std::string text;
    for (double x : v.Values()) {
        if (!text.empty()) text += ',';
        text += ToText(x);
    }
    return text;
}

std::string ToText(const xxColor& v) { return tx::NumberText(static_cast<unsigned>(v.GetARGB())); }

bool FromText(std::string_view text, bool& v) {
    if (text == "1" || text == "true") v = true;
    else if (text == "0" || text == "false") v = false;
    else return false;
    return true;
}
bool FromText(std::string_view text, int& v) { return tx::ParseExact(text, v) == std::errc{}; }
bool FromText(std::string_view text, unsigned& v) { return tx::ParseExact(text, v) == std::errc{}; }
bool FromText(std::string_view text, double& v) {
    if (text == "inf") v = HUGE_VAL;
    else if (text == "-inf") v = -HUGE_VAL;
    else if (text == "nan") v = std::nan("");
    else return tx::ParseExact(text, v) == std::errc{};
    return true;
}
bool FromText(std::string_view text, std::string& v) {
    v = std::string(text);
    return true;
}
bool FromText(std::string_view text, xxPoint3d& v) {
    auto c1 = text.find(',');
    auto c2 = c1 == std::string_view::npos ? c1 : text.find(',', c1 + 1);
    if (c2 == std::string_view::npos) return false;
    xxPoint3d p;
    if (!FromText(text.substr(0, c1), p.x) || !FromText(text.substr(c1 + 1, c2 - c1 - 1), p.y) ||
        !FromText(text.substr(c2 + 1), p.z))
        return false;
    v = p;
    return true;
}
bool FromText(std::string_view text, xxColor& v) {
    std::uint32_t argb = 0;
    if (tx::ParseExact(text, argb) != std::errc{}) return false;
    v.SetARGB(argb);
    return true;
}
bool FromText(std::string_view text, xxMatrix3x3& v) {
    std::array<double, 9> values{};
    for (std::size_t i = 0; i < values.size(); ++i) {
        const std::size_t comma = text.find(',');
        if ((comma == std::string_view::npos) != (i + 1 == values.size())) return false;
        if (!FromText(text.substr(0, comma), values[i])) return false;
        if (comma != std::string_view::npos) text.remove_prefix(comma + 1);
    }
    v = xxMatrix3x3(values);
    return true;
}
bool FromText(std::string_view text, xxRational& v) {
    auto slash = text.find('/');
    xxRational r;
    if (slash == std::string_view::npos) {
        if (!FromText(text, r.numerator)) return false;
    } else if (!FromText(text.substr(0, slash), r.numerator) || !FromText(text.substr(slash + 1), r.denominator) ||
               r.denominator <= 0) {
        return false;
    }
    v = r;
    return true;
}

}  // namespace xxValueText

// ---- transforms ------------------------------------------------------------------

xxTransformMatrix xxTransformMatrix::Inverse() const {
    double det = Determinant();
    if (std::fabs(det) < 1e-12) throw Cfx::CfxResult(E_INVALIDARG, "The transform is singular");
    xxTransformMatrix m;
    m.R(0, 0) = (R(1, 1) * R(2, 2) - R(1, 2) * R(2, 1)) / det;
    m.R(0, 1) = (R(0, 2) * R(2, 1) - R(0, 1) * R(2, 2)) / det;
    m.R(0, 2) = (R(0, 1) * R(1, 2) - R(0, 2) * R(1, 1)) / det;
    m.R(1, 0) = (R(1, 2) * R(2, 0) - R(1, 0) * R(2, 2)) / det;
    m.R(1, 1) = (R(0, 0) * R(2, 2) - R(0, 2) * R(2, 0)) / det;
    m.R(1, 2) = (R(0, 2) * R(1, 0) - R(0, 0) * R(1, 2)) / det;
    m.R(2, 0) = (R(1, 0) * R(2, 1) - R(1, 1) * R(2, 0)) / det;
    m.R(2, 1) = (R(0, 1) * R(2, 0) - R(0, 0) * R(2, 1)) / det;
    m.R(2, 2) = (R(0, 0) * R(1, 1) - R(0, 1) * R(1, 0)) / det;
    for (int i = 0; i < 3; ++i) m.T(i) = -(m.R(i, 0) * T(0) + m.R(i, 1) * T(1) + m.R(i, 2) * T(2));
    return m;
}

bool xxTransformMatrix::IsIdentity(double tolerance) const {
    if (!IsTranslation(tolerance)) return false;
    for (double t : t_)
        if (std::fabs(t) > tolerance) return false;
    return true;
}

bool xxTransformMatrix::IsTranslation(double tolerance) const {
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            if (std::fabs(R(i, j) - (i == j ? 1.0 : 0.0)) > tolerance) return false;
    return true;
}
