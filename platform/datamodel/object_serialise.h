// Lookups the serialisers need from the data model's property templates.
#pragma once

#include <string_view>

class xxClass;
class xxInput;
class xxObject;
class xxOutput;
class xxPropertyBase;
class xxSerializable;

// What a class saves beyond its property templates (references, member lists), for classes
// whose state is reached through their public interface. xxObject::Save runs the parts of the
// object's classes, bases first, after the name and the templates; Load mirrors it.
struct xxClassSerialiser {
    void (*save)(const xxObject& object, xxOutput& out);
    void (*load)(xxObject& object, xxInput& in);
};
// Registers the part of one class (once; static registration).
bool RegisterClassSerialiser(const xxClass& cls, xxClassSerialiser serialiser);

// The property template of that name: first among the owner's own templates (when the owner is a
// data-model object), else the first of any registered class; null when none has that name.
const xxPropertyBase* FindPropertyTemplate(std::string_view name, const xxSerializable* owner = nullptr);
