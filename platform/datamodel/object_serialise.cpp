#include "datamodel/object_serialise.h"

#include <algorithm>
#include <string>
#include <unordered_map>

#include "datamodel/object.h"
#include "datamodel/value_types.h"

namespace {

std::unordered_map<const xxClass*, xxClassSerialiser>& ClassSerialisers() {
    static std::unordered_map<const xxClass*, xxClassSerialiser> table;
    return table;
}

// The class chain, bases first (each base once).
void ClassChain(const xxClass& cls, std::vector<const xxClass*>& out) {
    for (const xxClass* base : cls.Bases())
        if (base) ClassChain(*base, out);
    if (std::find(out.begin(), out.end(), &cls) == out.end()) out.push_back(&cls);
}

// What a save or load walks for objects of one class, found once per class: classes and their
// parts are registered statically, and there are millions of atoms of a few classes.
struct ClassPlan {
    std::vector<const xxClass*> chain;
    std::vector<const xxPropertyBase*> templates;
    std::vector<const xxClassSerialiser*> parts;
};

const ClassPlan& PlanOf(const xxObject& object) {
    static std::unordered_map<const xxClass*, ClassPlan> plans;
    const xxClass& cls = object.GetClass();
    auto it = plans.find(&cls);
    if (it != plans.end()) return it->second;
    ClassPlan plan;
    plan.templates = object.PropertyTemplates();
    ClassChain(cls, plan.chain);
    for (const xxClass* c : plan.chain) {
        auto part = ClassSerialisers().find(c);
        if (part != ClassSerialisers().end()) plan.parts.push_back(&part->second);
    }
    return plans.emplace(&cls, std::move(plan)).first->second;
}

}  // namespace

bool RegisterClassSerialiser(const xxClass& cls, xxClassSerialiser serialiser) {
    return ClassSerialisers().emplace(&cls, serialiser).second;
}

void xxObject::Save(xxOutput& out) const {
    out.WriteValue("Name", name_, std::string());
    out.WriteValue("ObjectID", id_, 0);
    // Values go by their text form, which every template reads back (and checks) itself.
    const ClassPlan& plan = PlanOf(*this);
    if (out.WantsValues() && !out.WriteValuesOf(*this)) {
        for (const xxPropertyBase* p : plan.templates) {
            bool assigned = p->IsAssigned(*this);
            out.WriteAttributePresence(p->Name(), assigned);
            if (assigned) out.WriteValue(p->Name(), p->GetFromDifferentType(*this));
        }
    }
    for (const xxClassSerialiser* part : plan.parts) part->save(*this, out);
}

void xxObject::Load(xxInput& in) {
    const ClassPlan& plan = PlanOf(*this);
    // Every class of the chain asks for its version in the document before anything is read, so
    // that a document of a format that cannot hold the object fails. The object's own class is
    // named by the document and must be known at its version; a base may have come into the chain
    // later than the class (Matter, BondableInteraction, BaseSymmetrySystem) and asks silently.
    for (const xxClass* c : plan.chain) in.GetClassVersion(*c, c != &GetClass());
    in.ReadValue("Name", name_, "");
    in.ReadValue("ObjectID", id_, 0);
    if (const xxObject* from = in.ValuesSourceOf(*this)) {
        for (const xxPropertyBase* p : plan.templates) p->CopyValue(*from, *this);
        for (const xxClassSerialiser* part : plan.parts) part->load(*this, in);
        return;
    }
    // One buffer for all the values of all objects: a load reads millions of them, and a
    // position's text is longer than a string holds in place. Nothing below reads another object
    // while the buffer is in use.
    thread_local std::string text;
    for (const xxPropertyBase* p : plan.templates) {
        if (!in.ReadTextIfPresent(p->Name(), text)) continue;
        if (!p->SetFromText(*this, text)) throw FromStringException(text, p->Name(), "not a valid value of the property");
    }
    for (const xxClassSerialiser* part : plan.parts) part->load(*this, in);
}

void xxTreeNode::Save(xxOutput& out) const {
    xxObject::Save(out);
    out.WriteValue("Children", static_cast<unsigned>(children_.size()), 0u);
    for (const auto& child : children_) out.SaveChildObject(child.get());
}

void xxTreeNode::Load(xxInput& in) {
    xxObject::Load(in);
    unsigned n = 0;
    in.ReadValue("Children", n, 0u);
    // A count the document cannot back fails at the first missing child, so the room made
    // ahead is bounded.
    children_.reserve(children_.size() + std::min(n, 1024u));
    for (unsigned i = 0; i < n; ++i)
        if (std::unique_ptr<xxObject> child = in.ReadChild<xxObject>()) AdoptChild(std::move(child));
}

const xxPropertyBase* FindPropertyTemplate(std::string_view name, const xxSerializable* owner) {
    if (const auto* object = dynamic_cast<const xxObject*>(owner))
        for (const xxPropertyBase* p : object->PropertyTemplates())
            if (name == p->Name()) return p;
    const xxPropertyBase* found = nullptr;
    xxClass::ForEach([&](const xxClass& cls) {
        if (found || !cls.PropertyTable()) return;
        for (const xxPropertyBase* p : cls.PropertyTable()->properties)
            if (name == p->Name()) {
                found = p;
                return;
            }
    });
    return found;
}
