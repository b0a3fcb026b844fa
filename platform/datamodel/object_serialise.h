// Lookups the serialisers need from the data model's property templates.
#pragma once

#include <string_view>

class xxPropertyBase;
class xxSerializable;

// The property template of that name: first among the owner's own templates (when the owner is a
// data-model object), else the first of any registered class; null when none has that name.
const xxPropertyBase* FindPropertyTemplate(std::string_view name, const xxSerializable* owner = nullptr);
