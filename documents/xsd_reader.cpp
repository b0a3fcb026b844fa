#include "documents/xsd_reader.h"

#include <algorithm>
#include <limits>
#include <type_traits>
#include <new>

#include "cfx/cfx.h"
#include "datamodel/object.h"
#include "datamodel/object_serialise.h"
#include "datamodel/value_types.h"
#include "documents/xsd_format.h"
#include "xml/xml.h"

namespace {

[[noreturn]] void FormatError(const char* text) { throw Cfx::CfxResult(E_FAIL, text); }

constexpr std::int64_t kMaxId = std::numeric_limits<std::int32_t>::max();

// Inside a catch block: a std::exception other than an allocation failure is a format error of
// the document and leaves as an xmlException that says where it happened; anything else
// passes on unchanged.
template <class Place>
[[noreturn]] void RethrowAtPlace(Place&& place) {
    const Cfx::CaughtException caught = Cfx::ClassifyCaughtException();
    if (caught.kind != Cfx::CaughtKind::Exception) throw;
    throw xmlException(place() + " - " + caught.result.Description());
}

// Identifiers are written as decimal digits; a sign is read so that a negative one is out of
// range rather than a different number. Anything else ("1e99", "abc", "7 ") names no identifier,
// though a reading that stops at the first other character would make one of it.
bool IsIdNumber(std::string_view text) {
    if (!text.empty() && (text[0] == '-' || text[0] == '+')) text.remove_prefix(1);
    return !text.empty() && text.find_first_not_of("0123456789") == std::string_view::npos;
}

}  // namespace

XSDToDM::XSDToDM(xxSerializable& target) : target_(target) {}

XSDToDM::~XSDToDM() = default;

// ---- the document walk -----------------------------------------------------------------------

void XSDToDM::Load(xmlTree& tree) {
    tree_ = &tree;
    idClass_ = tree.FindAttributeClass("ID");
    nullClass_ = tree.FindElementClass("Null");
    xmlElement* document = tree.GetDocumentElement();
    if (!document) throw xmlException("No root node found");
    const xmlAttributeClass* versionClass = tree.FindAttributeClass("Version");
    std::optional<std::string_view> version;
    if (versionClass) version = document->FindAttribute(*versionClass);
    if (!version) throw xmlException("No version found");
    SetDocumentVersion(version_, *version);

    records_.reserve(tree.ElementCount());  // a record per element, one chunk
    dense_.reserve(tree.ElementCount() + 1);  // identifiers are mostly 1..n: the table grows in place
    Record& root = NewRecord(document, "root");
    IndexElements(root);

    frames_.push_back({&root, nullptr, Cursor{document, 0}});
    frames_.back().cursor = &frames_.back().own;
    root.state = 2;
    ReadContainedObject(target_, nullptr, xxSaveKind::WithId);
    root.state = 3;
    root.element = nullptr;

    ReportUnloadedObjects();
    NotifyAllObjectsLoaded();
    frames_.clear();
    dense_ = {};
    sparse_.clear();
    records_.clear();
    ids_.clear();
    attributeClasses_.Clear();
    objectClasses_.clear();
    unknownClasses_.clear();
    tree.Clear();
    tree_ = nullptr;
    idClass_ = nullptr;
    nullClass_ = nullptr;
}

XSDToDM::Record& XSDToDM::NewRecord(xmlElement* element, std::string_view idText) {
    Record& r = records_.emplace_back();
    r.element = element;
    r.cls = element ? &element->GetClass() : nullptr;
    r.idText = idText;
    return r;
}

void XSDToDM::IndexElements(Record& root) {
    std::uint64_t bytes = 0;
    struct Step {
        Record* record;
        std::size_t next;
    };
    std::vector<Step> path{{&root, 0}};
    root.element->SetUserIndex(records_.size());
    while (!path.empty()) {
        Step& step = path.back();
        xmlElement* element = step.record->element;
        if (step.next >= element->ChildCount()) {
            path.pop_back();
            continue;
        }
        xmlElement* child = element->Child(step.next++).AsElement();
        if (!child || &child->GetClass() == nullClass_) continue;
        for (const auto [cls, value] : child->Attributes()) bytes += value.size() + cls->GetName().size();
        std::optional<std::string_view> id;
        if (idClass_) id = child->FindAttribute(*idClass_);
        Record& r = NewRecord(child, id ? ids_.Store(*id) : std::string_view("<No ID>"));
        if (id) RegisterId(*id, r);
        child->SetUserIndex(records_.size());
        path.push_back({&r, 0});
    }
    listBudget_ = kListFloor + kListBytesPerByte * bytes;
}

XSDToDM::Record* XSDToDM::RecordOf(const xmlElement& element) const {
    std::size_t i = element.GetUserIndex();
    if (i == 0 || i > records_.size()) return nullptr;
    Record* r = const_cast<Record*>(&records_[i - 1]);
    return r->element == &element ? r : nullptr;
}

XSDToDM::Record** XSDToDM::IdSlot(std::int64_t n, bool create) {
    if (static_cast<std::uint64_t>(n) < dense_.size()) return &dense_[static_cast<std::size_t>(n)];
    // Identifiers are dense in the documents we write; a table by number is bounded by the
    // element count, and a hostile identifier far beyond it goes to the map instead.
    const std::uint64_t bound = 4 * std::uint64_t{records_.size()} + 65536;
    if (create && static_cast<std::uint64_t>(n) < bound) {
        dense_.resize(static_cast<std::size_t>(
            std::min<std::uint64_t>(bound, std::max<std::uint64_t>(n + 1, dense_.size() + dense_.size() / 2))));
        for (auto it = sparse_.begin(); it != sparse_.end();) {  // numbers the table now covers
            if (static_cast<std::uint64_t>(it->first) < dense_.size()) {
                dense_[static_cast<std::size_t>(it->first)] = it->second;
                it = sparse_.erase(it);
            } else {
                ++it;
            }
        }
        return &dense_[static_cast<std::size_t>(n)];
    }
    if (create) return &sparse_[n];
    auto it = sparse_.find(n);
    return it == sparse_.end() ? nullptr : &it->second;
}

void XSDToDM::RegisterId(std::string_view text, Record& record) {
    if (!text.empty() && !IsIdNumber(text)) throw xmlException("The ID '" + std::string(text) + "' is not a number");
    std::optional<std::int64_t> n = text.empty() ? std::optional<std::int64_t>(0) : LeadingInteger(text);
    // Out of 32 bits, or negative: no slot for it, whatever a 32-bit reading would make of it.
    if (!n || *n < 0) throw xmlException("The ID '" + std::string(text) + "' is out of range");
    Record** slot = *n == 0 ? nullptr : IdSlot(*n, true);
    if (!slot || *slot)
        throw xmlException("More than one object has the ID " + std::string(text) + ". IDs must be unique.");
    *slot = &record;
    if (*n > maxId_) maxId_ = *n;
}

XSDToDM::Record* XSDToDM::FindRecordById(std::string_view text) {
    if (text.empty()) return &records_.front();
    std::optional<std::int64_t> n = IsIdNumber(text) ? LeadingInteger(text) : std::nullopt;
    if (!n || *n <= 0 || *n > maxId_) throw xmlException("Invalid ID reference: '" + std::string(text) + "'");
    Record** slot = IdSlot(*n, false);
    if (!slot || !*slot) throw xmlException("Missing object with ID '" + std::string(text) + "'");
    return *slot;
}

bool XSDToDM::Alive(const Record& record) const {
    return record.object && (!record.referenceable || record.weak.GetObject() != nullptr);
}

xxSerializable* XSDToDM::ResolveRecord(Record& record) {
    if (record.object) return Alive(record) ? record.object : nullptr;  // deleted while loading
    if (!record.element)
        throw xmlException("The element of " + Describe(record) + " was released before it was read");
    CreateObjectForRecord(record);
    return record.object;
}

xxSerializable* XSDToDM::ResolveReference(std::string_view text) {
    if (text == "0") return nullptr;
    if (text.empty()) return &target_;  // the root object, which no record holds
    Record* record = FindRecordById(text);
    if (!record) throw xmlException("Invalid Reference: " + std::string(text));
    return ResolveRecord(*record);
}

xxSerializable* XSDToDM::ResolveNumber(std::int64_t id) {
    if (id == 0) return nullptr;
    return ResolveReference(std::to_string(id));
}

// What the reader needs of the data-model class of each element name, found once per name.
const XSDToDM::ObjectClass& XSDToDM::ObjectClassOf(const xmlElementClass& element) {
    auto it = objectClasses_.find(&element);
    if (it != objectClasses_.end()) return it->second;
    const xxClass* cls = xxClass::FindClassIfExists(element.GetName());
    return objectClasses_.emplace(&element, ObjectClass{cls, cls && cls->IsA(xxObject::classType)}).first->second;
}

void XSDToDM::CreateObjectForRecord(Record& record) {
    const std::string& name = record.element->GetName();
    const ObjectClass& info = ObjectClassOf(record.element->GetClass());
    if (!info.cls) throw xmlException("'" + name + "' is an unknown object type");
    std::unique_ptr<xxClassInstance> instance;
    if (!info.cls->IsAbstract()) instance = info.cls->CreateNew();
    // Instances of an object class are objects; anything else is cast by its dynamic type.
    xxSerializable* object = nullptr;
    if (instance && info.isObject && instance->IsA(xxObject::classType))
        object = static_cast<xxObject*>(instance.get());
    else
        object = dynamic_cast<xxSerializable*>(instance.get());
    if (!object) throw xmlException("Unable to create object of type '" + name + "'");
    instance.release();
    record.owned.reset(object);
    Attach(record, object);
}

void XSDToDM::Attach(Record& record, xxSerializable* object) {
    record.object = object;
    if (xxObject* o = object->IsA(xxObject::classType) ? static_cast<xxObject*>(object) : nullptr) {
        record.referenceable = true;
        record.weak.Reset(o);
    }
    record.state = 1;
}

std::string XSDToDM::Describe(const Record& record) {
    std::string name = record.cls ? record.cls->GetName() : std::string("?");
    return "Element '" + name + "' (ID=" + std::string(record.idText) + ")";
}

// Every record below the element forgets it before it is freed, so no record points at freed
// memory (an element its object never read stays unread, and is reported).
void XSDToDM::ForgetSubtree(xmlElement& element) {
    pending_.assign(1, &element);
    while (!pending_.empty()) {
        xmlElement* e = pending_.back();
        pending_.pop_back();
        if (Record* r = RecordOf(*e)) r->element = nullptr;
        for (std::size_t i = 0; i < e->ChildCount(); ++i)
            if (xmlElement* c = e->Child(i).AsElement()) pending_.push_back(c);
    }
}

void XSDToDM::LoadRecord(Record& record, bool ownCursor) {
    xmlElement* element = record.element;
    if (ownCursor) {
        frames_.push_back({&record, nullptr, Cursor{element, 0}});
        frames_.back().cursor = &frames_.back().own;
    } else {
        frames_.push_back({&record, frames_.back().cursor, Cursor{nullptr, 0}});
    }
    struct Pop {
        std::deque<Frame>& frames;
        ~Pop() { frames.pop_back(); }
    } pop{frames_};
    auto body = [&] {
        record.state = 2;
        if (Alive(record)) record.object->Load(*this);
        record.state = 3;
        record.element = nullptr;
        if (ownCursor && element) {
            ForgetSubtree(*element);
            element->Purge();
        }
    };
    if (!ownCursor) return body();
    try {
        body();
    } catch (...) {
        RethrowAtPlace([&] { return "\n" + Describe(record); });
    }
}

void XSDToDM::ReportUnloadedObjects() {
    std::string list;
    for (std::size_t i = 0; i < records_.size(); ++i) {
        const Record& r = records_[i];
        if (r.state == 3) continue;
        if (!list.empty()) list += ", ";
        list += r.idText;
    }
    if (!list.empty()) throw xmlException("The objects with the following ID(s) did not get loaded: " + list);
}

void XSDToDM::NotifyAllObjectsLoaded() {
    constexpr std::size_t kAhead = 16;  // a large model lies far beyond the caches
    for (std::size_t i = 0; i < records_.size(); ++i) {
        if (i + kAhead < records_.size()) __builtin_prefetch(records_[i + kAhead].object);
        Record& r = records_[i];
        if (!r.referenceable || !Alive(r)) continue;
        frames_.push_back({&r, nullptr, Cursor{nullptr, 0}});
        struct Pop {
            std::deque<Frame>& frames;
            ~Pop() { frames.pop_back(); }
        } pop{frames_};
        r.object->OnAllObjectsLoaded(*this);
    }
}

// ---- children and objects --------------------------------------------------------------------

xmlElement& XSDToDM::NextChild(const char* noneLeft) {
    Cursor* c = frames_.empty() ? nullptr : frames_.back().cursor;
    if (!c || !c->element || c->next >= c->element->ChildCount()) throw xmlException(noneLeft);
    xmlElement* e = c->element->Child(c->next++).AsElement();
    if (!e) throw xmlException("Invalid child");
    return *e;
}

void XSDToDM::ReadContainedObject(xxSerializable& object, xxSerializable*, xxSaveKind) {
    xmlElement& e = NextChild("No children available");
    if (&e.GetClass() == nullClass_) throw xmlException("Contained objects cannot be NULL");
    Record* r = RecordOf(e);
    if (!r) throw xmlException("Unable to find contained child record");
    if (r->state != 0) throw xmlException("Contained object " + Describe(*r) + " had already been loaded");
    Attach(*r, &object);
    LoadRecord(*r, true);
}

void XSDToDM::ReadReferencedChild(std::unique_ptr<xxSerializable>& child) {
    child.reset();
    xmlElement& e = NextChild("None, or too few, child Elements provided");
    if (&e.GetClass() == nullClass_) return;
    std::optional<std::string_view> found;
    if (idClass_) found = e.FindAttribute(*idClass_);
    if (!found) throw xmlException("Missing ID attribute on the Element '" + e.GetName() + "'");
    const std::string id(*found);
    Record* r = FindRecordById(id);
    if (!r || r->element != &e)
        throw xmlException("No object exists with the ID " + id + " referenced on Element '" + e.GetName() + "' (ID=" + id + ")");
    ResolveRecord(*r);
    if (r->state == 1) LoadRecord(*r, true);
    if (!r->owned) {
        if (!Alive(*r)) return;  // its own Load deleted it
        throw xmlException("Child " + Describe(*r) + " had already been loaded");
    }
    child = std::move(r->owned);
}

void XSDToDM::MergeAttributes(xxSerializable& object, xxSerializable& owner) {
    if (&owner != GetCurrentObject()) throw xmlException("Unable to merge attributes for requested object");
    Record* current = frames_.back().record;
    Record& r = NewRecord(current->element, current->idText);
    Attach(r, &object);
    LoadRecord(r, false);
}

xxSerializable* XSDToDM::GetCurrentObject() {
    if (frames_.empty()) return nullptr;
    Record* r = frames_.back().record;
    return Alive(*r) ? r->object : nullptr;
}

xmlElement* XSDToDM::CurrentElement() const { return frames_.empty() ? nullptr : frames_.back().record->element; }

const xmlAttributeClass* XSDToDM::AttributeClass(const char* name) {
    if (!tree_ || !name) return nullptr;
    return attributeClasses_.Get(name, [&](const char* n) { return tree_->FindAttributeClass(n); });
}

bool XSDToDM::HasAttribute(const char* name) {
    if (!name) return true;
    const xmlAttributeClass* cls = AttributeClass(name);
    if (!cls) return false;
    xmlElement* e = CurrentElement();
    return e && e->HasAttribute(*cls);
}

bool XSDToDM::ReadTextIfPresent(const char* name, std::string& text) {
    std::optional<std::string_view> value = FindValue(name);  // one lookup for both steps
    if (!value) return false;
    text.assign(*value);
    return true;
}

std::optional<std::string_view> XSDToDM::FindValue(const char* name) {
    const xmlAttributeClass* cls = AttributeClass(name);
    xmlElement* e = CurrentElement();
    if (!cls || !e) return std::nullopt;
    return e->FindAttribute(*cls);
}

std::string_view XSDToDM::GetAttribute(const char* name) {
    const xmlAttributeClass* cls = AttributeClass(name);
    if (!cls) throw xmlException("Unknown attribute class");
    xmlElement* e = CurrentElement();
    if (!e) throw xmlException("No element to read attributes from");
    std::optional<std::string_view> text = e->FindAttribute(*cls);
    if (!text) throw xmlException("Attribute missing");
    return *text;
}

unsigned XSDToDM::GetClassVersion(const xxClass& cls, bool silent) {
    if (unsigned cached = cls.CachedDocumentVersion()) return cached;
    // A class the document's format does not know is not cached (0 means none), but it is asked
    // for once per object: remember the silent misses, or an old document would search every
    // table again for each of its atoms.
    if (silent && std::find(unknownClasses_.begin(), unknownClasses_.end(), &cls) != unknownClasses_.end()) return 0;
    unsigned version = ClassVersionAt(version_, cls, silent);
    cls.SetCachedDocumentVersion(version);
    if (!version) unknownClasses_.push_back(&cls);
    return version;
}

// ---- references ------------------------------------------------------------------------------

void XSDToDM::ReadReference(const char* name, xxSerializable*& object) {
    WithContext("reference Attribute", name, [&] { object = ResolveReference(GetAttribute(name)); });
}

void XSDToDM::Charge(std::uint64_t bytes) {
    if (bytes > listBudget_) throw xmlException("Repeated items exceed what the document can hold");
    listBudget_ -= bytes;
}

void XSDToDM::ReadReferenceCollection(const char* name, xxReferenceCollection& collection) {
    WithContext("reference array Attribute", name, [&] {
        collection.Clear();
        if (!HasAttribute(name)) return;
        std::string_view text = GetAttribute(name);
        if (text.starts_with("ci")) return ReadCompressedReferences(text, collection);
        StrToken tokens(text, ',', '\\');
        collection.Reserve(tokens.CountSeparators() + 1);
        std::string item;
        while (tokens.Next(item)) {
            if (item.empty()) continue;
            Charge(kReferenceCost);
            collection.Append(ResolveReference(item));
        }
    });
}

void XSDToDM::ReadCompressedReferences(std::string_view text, xxReferenceCollection& collection) {
    std::size_t open = text.find('(');
    if (open == std::string::npos) FormatError("Invalid format - expected \"(\".");
    std::optional<std::int64_t> count = LeadingInteger(std::string_view(text).substr(open + 1));
    if (!count || *count < 1) FormatError("Invalid format - expected element count.");
    std::size_t colon = text.find(':');
    if (colon == std::string::npos) FormatError("Invalid format - expected \":\".");
    // The count only sizes the collection; never reserve more than the text could list.
    collection.Reserve(static_cast<std::size_t>(std::min<std::int64_t>(*count, static_cast<std::int64_t>(text.size()))));
    std::int64_t total = 0;
    auto take = [&](std::int64_t n) {
        total += n;
        if (total > *count) FormatError("Invalid format - more references than the element count.");
    };
    StrToken tokens(std::string_view(text).substr(colon + 1), ',', '\\');
    std::string item;
    while (tokens.Next(item)) {
        if (item.empty()) continue;
        std::size_t x = item.find('x');
        std::size_t plus = item.find('+');
        if (x == std::string::npos && plus == std::string::npos) {
            take(1);
            Charge(kReferenceCost);
            collection.Append(ResolveReference(item));
            continue;
        }
        std::size_t at = x != std::string::npos ? x : plus;
        std::optional<std::int64_t> n = LeadingInteger(std::string_view(item).substr(0, at));
        if (!n || *n < 1) FormatError("Invalid format - expected repeat count.");
        take(*n);
        Charge(static_cast<std::uint64_t>(*n) * kReferenceCost);
        if (x != std::string::npos) {
            collection.AppendRepeated(ResolveReference(item.substr(x + 1)), static_cast<std::size_t>(*n));
        } else {
            std::optional<std::int64_t> first = LeadingInteger(std::string_view(item).substr(plus + 1));
            if (!first || *first < 0 || *first + *n - 1 > kMaxId)
                FormatError("Invalid format - identifier run out of range.");
            for (std::int64_t i = 0; i < *n; ++i) collection.Append(ResolveNumber(*first + i));
        }
    }
}

void XSDToDM::ReadPropertyTemplates(const char* name, std::vector<const xxPropertyBase*>& templates) {
    WithContext("property reference array Attribute", name, [&] {
        templates.clear();
        if (!HasAttribute(name)) return;
        StrToken tokens(GetAttribute(name), ',', '\\');
        templates.reserve(tokens.CountSeparators() + 1);
        std::string item;
        while (tokens.Next(item)) {
            if (item.empty()) continue;
            Charge(sizeof(const xxPropertyBase*));
            templates.push_back(FindPropertyTemplate(item, GetCurrentObject()));
        }
    });
}

// ---- typed reads -----------------------------------------------------------------------------

template <class F>
void XSDToDM::WithContext(const char* label, const char* name, F&& body) {
    if (!name) name = "";  // a caller's null name reads as no attribute, never as a crash
    try {
        body();
    } catch (const FromStringException& e) {
        throw xmlException(std::string(label) + "='" + name + "' - Unable to convert the value '" + e.InvalidText() +
                           "' for type " + e.Conversion() + ": Error: " + e.Message());
    } catch (...) {
        RethrowAtPlace([&] { return std::string(label) + "='" + name + "'"; });
    }
}

template <class K, class T>
void XSDToDM::Get(const char* name, T& value) {
    WithContext("Attribute", name, [&] { FromString(GetAttribute(name), value); });
}

template <class K, class T, class D>
void XSDToDM::GetWithDefault(const char* name, T& value, const D& defaultValue) {
    std::optional<std::string_view> text = FindValue(name);  // one lookup for both steps
    if (!text) {
        value = defaultValue;
        return;
    }
    WithContext("optional Attribute", name, [&] { FromString(*text, value); });
}

template <class C>
void XSDToDM::ParseCompressedArray(const char* name, C& values) {
    WithContext("array Attribute", name, [&] {
        std::string_view text = GetAttribute(name);
        values.clear();
        using V = typename C::value_type;
        StrToken tokens(text, ',', '\\');
        std::string item;
        bool have = false;
        V last{};
        while (tokens.Next(item)) {
            if (item.empty()) continue;
            if (item[0] == 'x') {
                if (!have) throw FromStringException(item, "Compressed Array", "repeat instruction found in first item.");
                unsigned n = 0;
                FromString(std::string_view(item).substr(1), n);
                Charge(std::uint64_t{n} * sizeof(V));
                values.insert(values.end(), n, last);
            } else {
                V v{};
                FromString(item, v);
                Charge(sizeof(V));
                values.push_back(v);
                last = v;
                have = true;
            }
        }
    });
}

template <class C>
void XSDToDM::ReadBoolList(const char* name, C& values) {
    WithContext("array Attribute", name, [&] {
        std::string text;
        ReadValue(name, text);
        values.clear();
        if (text.size() > 2 && text[1] == ',') {
            StrToken tokens(text, ',', '\\');
            if constexpr (requires { values.reserve(1); }) values.reserve(tokens.CountSeparators() + 1);
            std::string item;
            while (tokens.Next(item)) {
                if (item.empty()) continue;
                bool b = false;
                FromString(item, b);
                Charge(sizeof(bool));
                values.push_back(b);
            }
        } else {
            if constexpr (requires { values.reserve(1); }) values.reserve(text.size());
            for (char c : text) {
                bool b = false;
                FromString(std::string_view(&c, 1), b);
                Charge(sizeof(bool));
                values.push_back(b);
            }
        }
    });
}

template <class K, class C>
void XSDToDM::GetArray(const char* name, C& values) {
    if constexpr (std::is_same_v<K, std::string>) {
        // Appends to what the vector holds.
        WithContext("array Attribute", name, [&] {
            StrToken tokens(GetAttribute(name), ',', '\\');
            std::string item;
            while (tokens.Next(item)) {
                if (item.empty()) continue;
                Charge(sizeof(std::string) + item.size());
                values.push_back(item);
            }
        });
    } else if constexpr (std::is_same_v<K, bool>) {
        ReadBoolList(name, values);
    } else {
        ParseCompressedArray(name, values);
    }
}
