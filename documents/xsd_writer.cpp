#include "documents/xsd_writer.h"

#include <algorithm>
#include <cstring>
#include <type_traits>

#include "cfx/cfx.h"
#include "datamodel/object.h"
#include "datamodel/property.h"
#include "datamodel/tree_size.h"
#include "datamodel/value_types.h"
#include "documents/xsd_format.h"
#include "documents/xsd_versions.h"
#include "xml/xml.h"

namespace {

std::string SignedText(std::uint32_t id) { return std::to_string(static_cast<std::int32_t>(id)); }

std::string Describe(const xxSerializable& object) { return "object of class '" + object.GetClass().GetName() + "'"; }

}  // namespace

DMToXSD::DMToXSD(xmlTree& tree, xmlSaver* saver) : tree_(tree), saver_(saver) {}

DMToXSD::~DMToXSD() = default;

void DMToXSD::WriteObjectTree(const xxSerializable& root, const char* name) {
    idClass_ = &tree_.InternAttributeClass("ID");
    records_.Clear();
    if (const auto* node = dynamic_cast<const xxTreeNode*>(&root)) records_.Reserve(EstimatedObjectsBelow(*node));
    saveCalls_ = 0;
    xmlElement& document = tree_.CreateDocumentElement(name);
    document.AddAttribute("Version", CurrentFormatVersionName());
    elements_.push_back(&document);
    if (saver_) saver_->BeginSave(kXmlEncodingUtf8, kXmlHeaderDeclaration);

    mode_ = kAdd | kChildren | kCounting | kKeepRecords | kUnknownIsMore;
    records_.BeginPass(true);
    SaveObject(root, xxSaveKind::WithId);
    ResetAll();
    if (extraPasses_) {
        mode_ = kAdd | kChildren | kCounting;
        records_.BeginPass(false);
        SaveObject(root, xxSaveKind::WithId);
        ResetTouched();
        mode_ = kAdd | kChildren | kCounting | kKeepRecords;
        records_.BeginPass(false);
        SaveObject(root, xxSaveKind::WithId);
        ResetAll();
    }
    mode_ = kAdd | kChildren;
    records_.BeginPass(false);
    SaveObject(root, xxSaveKind::WithId);

    if (saver_) saver_->EndSave();
    elements_.pop_back();

    // Referenced but not saved in the output pass, in the order of the objects' addresses.
    std::vector<std::pair<const xxSerializable*, std::uint32_t>> unsaved;
    records_.ForEach([&](const xxSerializable* object, const SaveRecord& record) {
        if (record.state < 2) unsaved.emplace_back(object, record.id);
    });
    records_.Clear();
    if (!unsaved.empty()) {
        std::sort(unsaved.begin(), unsaved.end(), [](const auto& a, const auto& b) { return std::less<>()(a.first, b.first); });
        std::string list;
        for (const auto& u : unsaved) list += SignedText(u.second) + ", ";
        throw xmlException("The objects with the following IDs were not saved: " + list);
    }
    idClass_ = nullptr;
}

// ---- records ---------------------------------------------------------------------------------

std::uint32_t DMToXSD::Register(const xxSerializable& object, std::uint8_t state, const xxSerializable* parent) {
    bool inserted = false;
    SaveRecord& r = records_.FindOrAdd(&object, inserted);
    bool fresh = inserted || r.reset;
    if (state == 1) {
        // A reference to an object saved without an identifier could never be read back.
        if (r.state == 3 || r.state == 5)
            throw xmlException("A reference to an " + Describe(object) + " that is saved without an ID cannot be written");
        if (r.state == 0) r.state = 1;
        if (!r.frozen) r.count = (r.count + 1) & 0x3FFFFFFu;
    } else {
        if (parent) r.parent = parent;
        if (!fresh && r.state >= 2) throw xmlException("Object saved twice");
        if ((state == 3 || state == 5) && r.id != kNoId)
            throw xmlException("An " + Describe(object) + " that is referenced cannot be saved without an ID");
        r.state = state & 0xFu;
    }
    r.reset = false;
    if (fresh && (r.state == 1 || r.state == 2 || r.state == 4) && !Counting()) r.id = nextId_++;
    return r.id;
}

void DMToXSD::ResetAll() {
    records_.ForEach([](const xxSerializable*, SaveRecord& r) {
        if (r.frozen) return;
        r.reset = true;
        r.frozen = true;
        r.state = 1;
        r.parent = nullptr;
    });
}

void DMToXSD::ResetTouched() {
    records_.ForEach([](const xxSerializable*, SaveRecord& r) {
        if (r.reset) return;
        r.count = 0;
        r.frozen = false;
        r.reset = true;
        r.state = 1;
        r.parent = nullptr;
    });
}

void DMToXSD::RecordTable::BeginPass(bool logging) {
    logging_ = logging;
    cursor_ = 0;
    if (logging) log_.clear();
}

DMToXSD::SaveRecord& DMToXSD::RecordTable::FindOrAdd(const xxSerializable* object, bool& inserted, bool follow) {
    if (follow && !logging_ && cursor_ < log_.size()) {
        if (SaveRecord* predicted = table_.At(log_[cursor_], object)) {
            ++cursor_;
            inserted = false;
            return *predicted;
        }
    }
    if (table_.Numbers() >= 0xFFFFFFFEu && !table_.Find(object)) throw xmlException("Too many objects to save");
    const std::uint32_t entry = table_.FindOrAdd(object, inserted);
    if (follow && logging_) log_.emplace_back() = entry;
    return table_.At(entry);
}

void DMToXSD::RecordTable::Clear() {
    table_.Clear();
    log_.clear();
    cursor_ = 0;
    logging_ = false;
}

const xmlAttributeClass* DMToXSD::AttributeClass(const char* name) {
    return attributeClasses_.Get(name, [&](const char* n) { return &tree_.InternAttributeClass(n); });
}

const xmlElementClass& DMToXSD::ElementClass(const xxSerializable* object) {
    if (!object) return tree_.InternElementClass("Null");
    const xxClass* cls = &object->GetClass();
    auto it = elementClasses_.find(cls);
    if (it != elementClasses_.end()) return *it->second;
    const xmlElementClass& element = tree_.InternElementClass(cls->GetName());
    elementClasses_.emplace(cls, &element);
    return element;
}

// ---- saves -----------------------------------------------------------------------------------

void DMToXSD::RunSave(const xxSerializable& object) {
    ++saveCalls_;
    object.Save(*this);
}

void DMToXSD::SaveElement(xmlElement* element, const xxSerializable& object) {
    elements_.push_back(element);
    objects_.push_back(&object);
    if (saver_ && !Counting()) {
        saver_->BeginElement(*element);
        mode_ = kAdd;
        childMet_ = false;
        RunSave(object);
        mode_ = kChildren;
        if (childMet_) {
            // Inline parts are saved again with the children; their records count as new.
            for (const xxSerializable* part : pendingInline_) {
                bool inserted = false;
                SaveRecord& r = records_.FindOrAdd(part, inserted, false);
                r.state = 1;
                r.reset = true;
                r.parent = nullptr;
            }
            pendingInline_.clear();
            RunSave(object);
        } else {
            pendingInline_.clear();
        }
        saver_->EndElement(*element);
    } else {
        RunSave(object);
    }
    objects_.pop_back();
    elements_.pop_back();
}

void DMToXSD::SaveContained(const xxSerializable* object, int kind) {
    if (!(mode_ & kChildren)) {
        childMet_ = true;
        return;
    }
    xmlElement* parent = elements_.back();
    xmlElement* element = nullptr;
    std::size_t index = 0;
    if (!Counting()) {
        index = parent->CreateChildElement(ElementClass(object));
        element = &parent->ChildElement(index);
    }
    if (object) {
        bool withId = kind < 0 || kind == static_cast<int>(xxSaveKind::WithId);
        if (kind != static_cast<int>(xxSaveKind::Unregistered)) {
            std::uint8_t state = kind < 0 ? 2 : withId ? 4 : 3;
            std::uint32_t id = Register(*object, state, Top());
            if (element && withId) element->AddAttribute(*idClass_, SignedText(id));
        }
        SaveElement(element, *object);
    } else if (element && saver_) {
        // A null child is written like any other element, or a streaming save would lose it.
        saver_->BeginElement(*element);
        saver_->EndElement(*element);
    }
    if (element && saver_) parent->PurgeChild(index);
}

void DMToXSD::SaveChildObject(const xxSerializable* object) { SaveContained(object, -1); }

void DMToXSD::SaveObject(const xxSerializable& object, xxSaveKind kind) { SaveContained(&object, static_cast<int>(kind)); }

void DMToXSD::SaveObjectInline(const xxSerializable* object) {
    if (!object) return;
    if (mode_ == kAdd) pendingInline_.push_back(object);
    Register(*object, 5, Top());
    objects_.push_back(object);
    RunSave(*object);
    objects_.pop_back();
}

const xxSerializable* DMToXSD::GetParentObject() const {
    return objects_.size() < 2 ? nullptr : objects_[objects_.size() - 2];
}

const xxSerializable* DMToXSD::GetSavedParent(const xxSerializable& object) const {
    const SaveRecord* r = const_cast<RecordTable&>(records_).Find(&object);
    if (!r || r->reset) return nullptr;
    return r->parent;
}

bool DMToXSD::IsReferencedMoreThan(const xxSerializable& object, unsigned n) {
    extraPasses_ = true;
    SaveRecord* r = records_.Find(&object);
    if (!r) return (mode_ & kUnknownIsMore) != 0;
    if (!r->frozen) return true;
    if (r->count > n) return true;
    if (!(mode_ & kKeepRecords)) records_.Erase(&object);
    return false;
}

// ---- attributes ------------------------------------------------------------------------------

void DMToXSD::AddAttribute(const char* name, std::string_view text) {
    if (mode_ & kAdd) {
        elements_.back()->AddAttribute(*AttributeClass(name), text);
        return;
    }
    if (!(mode_ & kChildren)) return;
    // The children-only call of a streaming save must repeat the first call's values.
    xmlElement* element = elements_.empty() ? nullptr : elements_.back();
    if (!element) throw Cfx::CfxResult(E_UNEXPECTED, "No XML element stack");
    std::optional<std::string_view> first = element->FindAttribute(*AttributeClass(name));
    if (!first)
        throw Cfx::CfxResult(E_UNEXPECTED,
                             Cfx::CfxFormat("Missing XML attribute '%1' on 2nd Save() pass - see 09015i1eq01", {name}));
    if (*first != text)
        throw Cfx::CfxResult(
            E_UNEXPECTED,
            Cfx::CfxFormat("Different XML attribute value on 2nd Save() pass - see 09015i1eq01: %1='%2' vs '%3'",
                           {name, std::string(*first), std::string(text)}));
}

template <class K, class T>
void DMToXSD::Put(const char* name, const T& value) {
    if (Counting()) return;
    if constexpr (std::is_same_v<T, std::string>) AddAttribute(name, value);
    else AddAttribute(name, ToString(value));
}

template <class K, class T>
void DMToXSD::PutWithDefault(const char* name, const T& value, const T& defaultValue) {
    if (Counting() || value == defaultValue) return;
    Put<K>(name, value);
}

template <class K, class C>
void DMToXSD::PutArray(const char* name, const C& values) {
    if constexpr (std::is_same_v<K, std::string>) {
        if (!Counting()) AddAttribute(name, StringListText(values, name));
    } else if constexpr (std::is_same_v<K, bool>) {
        // A paged list of bools is separated; a bit vector is its bits' texts end to end.
        BoolList(name, values, !std::is_same_v<C, std::vector<bool>>);
    } else {
        Repeated(name, values);
    }
}

template <class C>
void DMToXSD::Repeated(const char* name, const C& values) {
    if (Counting()) return;
    RepeatListWriter list;
    for (const auto& v : values) list.Add(ToString(v));
    AddAttribute(name, list.Finish());
}

template <class C>
void DMToXSD::BoolList(const char* name, const C& values, bool separated) {
    if (Counting()) return;
    std::string text;
    text.reserve(values.size() * 2);
    bool first = true;
    for (bool v : values) {
        if (separated && !first) text += ',';
        text += ToString(v);
        first = false;
    }
    AddAttribute(name, text);
}

// ---- references ------------------------------------------------------------------------------

void DMToXSD::WriteReference(const char* name, const xxSerializable* object) {
    std::string text = "0";
    if (object) text = SignedText(Register(*object, 1, nullptr));
    if (Counting()) return;
    AddAttribute(name, text);
}

void DMToXSD::WriteReferenceCollection(const char* name, const xxReferenceCollection& collection) {
    std::size_t n = collection.Count();
    if (n == 0) return;
    // Every pass registers the targets, so each gets its identifier when first met.
    std::vector<std::uint32_t> ids(n);
    for (std::size_t i = 0; i < n; ++i) {
        const xxSerializable* object = collection.At(i);
        ids[i] = object ? Register(*object, 1, nullptr) : 0;
    }
    if (Counting() || !(mode_ & kAdd)) return;
    AddAttribute(name, ReferenceListText(ids));
}

void DMToXSD::WritePropertyTemplates(const char* name, const std::vector<const xxPropertyBase*>& templates) {
    if (Counting() || templates.empty() || !(mode_ & kAdd)) return;
    std::vector<std::string> names;
    names.reserve(templates.size());
    for (const xxPropertyBase* t : templates) {
        if (!t) throw xmlException(std::string("A null property template cannot be written in '") + name + "'");
        names.emplace_back(t->Name());
    }
    AddAttribute(name, ConcatenateStrings(names, ","));
}
