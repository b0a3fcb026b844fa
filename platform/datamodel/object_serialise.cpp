#include "datamodel/object_serialise.h"

#include <string>

#include "datamodel/object.h"
#include "datamodel/value_types.h"

void xxObject::Save(xxOutput& out) const {
    out.WriteValue("Name", name_, std::string());
    out.WriteValue("ObjectID", id_, 0);
    // Values go by their text form, which every template reads back (and checks) itself.
    for (const xxPropertyBase* p : PropertyTemplates()) {
        bool assigned = p->IsAssigned(*this);
        out.WriteAttributePresence(p->Name(), assigned);
        if (assigned) out.WriteValue(p->Name(), p->GetFromDifferentType(*this));
    }
}

void xxObject::Load(xxInput& in) {
    in.ReadValue("Name", name_, "");
    in.ReadValue("ObjectID", id_, 0);
    for (const xxPropertyBase* p : PropertyTemplates()) {
        if (!in.HasAttribute(p->Name())) continue;
        std::string text;
        in.ReadValue(p->Name(), text);
        if (!p->SetFromText(*this, text)) throw FromStringException(text, p->Name(), "not a valid value of the property");
    }
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
    // A count the document cannot back fails at the first missing child, before any allocation.
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
