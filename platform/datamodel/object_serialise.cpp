#include "datamodel/object_serialise.h"

#include <algorithm>
#include <array>
#include <cstdint>
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
    // The plans of the classes met last, looked along: a walk goes back and forth between a few
    // (molecule, atom, bond), which a slot by address could make share one. Plans stay where
    // they are once made.
    struct Recent {
        const xxClass* cls = nullptr;
        const ClassPlan* plan = nullptr;
    };
    static Recent recent[8];
    static unsigned replaced = 0;
    const xxClass& cls = object.GetClass();
    for (const Recent& r : recent)
        if (r.cls == &cls) return *r.plan;
    Recent& slot = recent[replaced++ % 8];
    auto it = plans.find(&cls);
    if (it != plans.end()) {
        slot = {&cls, &it->second};
        return it->second;
    }
    ClassPlan plan;
    plan.templates = object.PropertyTemplates();
    ClassChain(cls, plan.chain);
    for (const xxClass* c : plan.chain) {
        auto part = ClassSerialisers().find(c);
        if (part != ClassSerialisers().end()) plan.parts.push_back(&part->second);
    }
    const ClassPlan& made = plans.emplace(&cls, std::move(plan)).first->second;
    slot = {&cls, &made};
    return made;
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
            // The plan's templates are of the object's classes, so IsAssigned's owner check
            // passes, and every template keeps its assigned state in the mask bit.
            const bool assigned = (assigned_ & p->Mask()) != 0;
            out.WriteAttributePresence(p->Name(), assigned);
            if (assigned) out.WriteProperty(*p, *this);
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
    in.GetClassVersions(plan.chain, GetClass());
    in.ReadValue("Name", name_, "");
    in.ReadValue("ObjectID", id_, 0);
    if (const xxObject* from = in.ValuesSourceOf(*this)) {
        for (const xxPropertyBase* p : plan.templates) p->CopyValue(*from, *this);
        for (const xxClassSerialiser* part : plan.parts) part->load(*this, in);
        return;
    }
    in.ReadProperties(plan.templates, *this);
    for (const xxClassSerialiser* part : plan.parts) part->load(*this, in);
}

void xxOutput::WriteProperty(const xxPropertyBase& property, const xxObject& object) {
    WriteValue(property.Name(), property.GetFromDifferentType(object));
}

bool xxInput::ReadPropertyIfPresent(const xxPropertyBase& property, xxObject& object) {
    // One buffer for all the values of all objects: a load reads millions of them, and a
    // position's text is longer than a string holds in place. Nothing below reads another object
    // while the buffer is in use.
    thread_local std::string text;
    if (!ReadTextIfPresent(property.Name(), text)) return false;
    if (!property.SetFromText(object, text)) xxValueIO::Refused(property, text);
    return true;
}

// ---- property values by type ------------------------------------------------------------------

void xxPropertyBase::SaveTyped(const xxObject& object, xxOutput& out) const {
    out.WriteValue(Name(), GetFromDifferentType(object));
}

void xxPropertyBase::LoadTyped(xxObject& object, xxInput& in) const {
    std::string text;
    in.ReadValue(Name(), text);
    if (!SetFromText(object, text)) xxValueIO::Refused(*this, std::move(text));
}

void xxPropertyBase::LoadTypedOwned(xxObject& object, xxInput& in) const { LoadTyped(object, in); }

namespace xxValueIO {

void Write(xxOutput& out, const char* name, bool v) { out.WriteValue(name, v); }
void Write(xxOutput& out, const char* name, int v) { out.WriteValue(name, v); }
void Write(xxOutput& out, const char* name, unsigned v) { out.WriteValue(name, v); }
void Write(xxOutput& out, const char* name, double v) { out.WriteValue(name, v); }
void Write(xxOutput& out, const char* name, const std::string& v) { out.WriteValue(name, v); }
void Write(xxOutput& out, const char* name, const xxPoint3d& v) {
    out.WriteValue(name, v.x);
    out.WriteValue(name, v.y);
    out.WriteValue(name, v.z);
}
void Write(xxOutput& out, const char* name, const xxRational& v) {
    out.WriteValue(name, v.numerator);
    out.WriteValue(name, v.denominator);
}
void Write(xxOutput& out, const char* name, const xxMatrix3x3& v) {
    for (double d : v.Values()) out.WriteValue(name, d);
}
void Write(xxOutput& out, const char* name, const xxColor& v) { out.WriteULong32Value(name, v.GetARGB()); }

void Read(xxInput& in, const char* name, bool& v) { in.ReadValue(name, v); }
void Read(xxInput& in, const char* name, int& v) { in.ReadValue(name, v); }
void Read(xxInput& in, const char* name, unsigned& v) { in.ReadValue(name, v); }
void Read(xxInput& in, const char* name, double& v) { in.ReadValue(name, v); }
void Read(xxInput& in, const char* name, std::string& v) { in.ReadValue(name, v); }
void Read(xxInput& in, const char* name, xxPoint3d& v) {
    in.ReadValue(name, v.x);
    in.ReadValue(name, v.y);
    in.ReadValue(name, v.z);
}
void Read(xxInput& in, const char* name, xxRational& v) {
    in.ReadValue(name, v.numerator);
    in.ReadValue(name, v.denominator);
}
void Read(xxInput& in, const char* name, xxMatrix3x3& v) {
    std::array<double, 9> values{};
    for (double& d : values) in.ReadValue(name, d);
    v = xxMatrix3x3(values);
}
void Read(xxInput& in, const char* name, xxColor& v) {
    std::uint32_t argb = 0;
    in.ReadULong32Value(name, argb);
    v.SetARGB(argb);
}

void Refused(const xxPropertyBase& property, std::string text) {
    throw FromStringException(std::move(text), property.Name(), "not a valid value of the property");
}

}  // namespace xxValueIO

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
