#include "documents/xsd_reader.h"

#include <algorithm>
#include <cstring>
#include <istream>
#include <limits>
#include <new>
#include <system_error>
#include <type_traits>

#include "base/text.h"
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

// An identifier's number. Identifiers are written as decimal numbers; any other text ("1e99",
// "abc", "7 ") is none, though a reading that stops at the first other character would make one
// of it. A number beyond 32 bits is out of range, not cut to another one.
enum class IdNumber { Valid, NotANumber, OutOfRange };
IdNumber ReadIdNumber(std::string_view text, std::int64_t& n) {
    const std::errc read = cartovane::text::ParseExact(text, n);
    if (read == std::errc::invalid_argument) return IdNumber::NotANumber;
    if (read != std::errc{} || n < std::numeric_limits<std::int32_t>::min() || n > kMaxId) return IdNumber::OutOfRange;
    return IdNumber::Valid;
}

}  // namespace

XSDToDM::ParseFailure::ParseFailure(std::exception_ptr cause)
    : xmlException([&] {
          try {
              std::rethrow_exception(cause);
          } catch (const std::exception& e) {
              return std::string(e.what());
          } catch (...) {
              return std::string("Internal Error");
          }
      }()),
      cause_(std::move(cause)) {}

// Builds the tree as the parser reads and indexes each element as it comes. The content of a
// "Null" element is neither built nor indexed (nothing reads it).
class XSDToDM::Builder final : public xmlTreeLoader {
public:
    Builder(std::istream& in, xmlTree& tree, XSDToDM& reader) : xmlTreeLoader(in, tree), reader_(reader) {}

protected:
    void OnStartElement(const char* name, const char** attributes) override {
        if (nullDepth_) ++nullDepth_;
        xmlTreeLoader::OnStartElement(name, attributes);
    }
    void OnEndElement() override {
        if (nullDepth_) --nullDepth_;
        xmlTreeLoader::OnEndElement();
    }
    void OnElementBuilt(xmlElement& element) override {
        if (reader_.IsNull(element.GetClass()) && element.GetParent()) {
            nullDepth_ = 1;
            Skip(element);
            return;
        }
        Guard([&] { reader_.IndexElement(element); });
    }
    void OnSkippedElement(const char* name, const char** attributes) override {
        if (nullDepth_) return;
        if (std::strcmp(name, "Null") == 0) {
            nullDepth_ = 1;
            return;
        }
        Guard([&] { reader_.IndexSkipped(name, attributes); });
    }

private:
    // A failure to index stops the read but not the parse, whose failures come first.
    template <class F>
    void Guard(F&& index) {
        if (reader_.indexFailure_) return;
        try {
            index();
        } catch (...) {
            reader_.indexFailure_ = std::current_exception();
        }
    }
    XSDToDM& reader_;
    std::size_t nullDepth_ = 0;  // levels inside a "Null" element
};

XSDToDM::XSDToDM(xxSerializable& target) : target_(target) {}

XSDToDM::~XSDToDM() {
    tree_ = nullptr;  // a tree that failed to load stays as it is
    Clear();
}

// ---- the document walk -----------------------------------------------------------------------

void XSDToDM::Load(xmlTree& tree) {
    tree_ = &tree;
    xmlElement* document = tree.GetDocumentElement();
    if (!document) throw xmlException("No root node found");
    records_.reserve(tree.ElementCount());  // a record per element, one chunk
    dense_.reserve(tree.ElementCount() + 1);  // identifiers are mostly 1..n: the table grows in place
    IndexTree(*document);
    Read();
    Clear();
}

void XSDToDM::Load(std::istream& in) {
    xmlTree tree;
    Builder builder(in, tree, *this);
    tree_ = &tree;
    loader_ = &builder;
    try {
        while (!tree.GetDocumentElement() && ParseMore()) {
        }
        if (indexFailure_) throw Abandoned{};  // the document element's version
        Read();
    } catch (...) {
        Fail(std::current_exception());
    }
    Clear();
}

// Indexes an element as the parser (or the walk of a parsed tree) meets it: the first one is the
// document element, whose "Version" is checked and whose record is the root record.
void XSDToDM::Index(xmlElement* element, const xmlElementClass& cls, std::optional<std::string_view> id,
                    std::uint64_t bytes) {
    if (records_.size() >= std::numeric_limits<std::uint32_t>::max() - 1) throw xmlException("Too many elements");
    if (draining_) {
        if (id) RegisterId(*id, std::numeric_limits<std::uint32_t>::max());
        return;
    }
    const bool document = records_.size() == 0;
    if (document) {
        const xmlAttributeClass* versionClass = tree_->FindAttributeClass("Version");
        std::optional<std::string_view> version;
        if (versionClass && element) version = element->FindAttribute(*versionClass);
        if (!version) throw xmlException("No version found");
        SetDocumentVersion(version_, *version);
        listBudget_ = kListFloor;
    } else {
        listBudget_ += kListBytesPerByte * bytes;
    }
    Record& r = records_.emplace_back();
    r.cls = cls.Index() + 1;
    ClassEntry(cls);
    const auto number = static_cast<std::uint32_t>(records_.size());
    if (element) {
        r.flags = kLive;
        element->SetUserIndex(number);
    } else {
        unread_.emplace(&r, Unread{&cls, id ? ids_.Store(*id) : std::string_view("<No ID>"), number});
    }
    if (document) dense_.assign(1, 1);  // the root record is entry 0, the empty identifier
    else if (id) RegisterId(*id, number);
}

void XSDToDM::IndexElement(xmlElement& element) {
    std::uint64_t bytes = 0;
    std::optional<std::string_view> id;
    const xmlAttributeClass* idClass = IdClass();
    for (const auto [cls, value] : element.Attributes()) {
        bytes += value.size() + cls->GetName().size();
        if (cls == idClass) id = value;
    }
    Index(&element, element.GetClass(), id, bytes);
}

void XSDToDM::IndexSkipped(const char* name, const char** attributes) {
    std::uint64_t bytes = 0;
    std::optional<std::string_view> id;
    for (std::size_t i = 0; attributes[i]; i += 2) {
        const std::string_view value(attributes[i + 1]);
        bytes += value.size() + std::strlen(attributes[i]);
        if (std::strcmp(attributes[i], "ID") == 0) id = value;
    }
    Index(nullptr, tree_->InternElementClass(name), id, bytes);
}

// A parsed tree, depth first in document order; the content of "Null" elements is skipped.
void XSDToDM::IndexTree(xmlElement& document) {
    IndexElement(document);
    struct Step {
        xmlElement* element;
        std::size_t next;
    };
    std::vector<Step> path{{&document, 0}};
    while (!path.empty()) {
        Step& step = path.back();
        if (step.next >= step.element->ChildCount()) {
            path.pop_back();
            continue;
        }
        xmlElement* child = step.element->Child(step.next++).AsElement();
        if (!child || IsNull(child->GetClass())) continue;
        IndexElement(*child);
        path.push_back({child, 0});
    }
}

void XSDToDM::Read() {
    Record& root = records_.front();
    xmlElement* document = tree_->GetDocumentElement();
    frames_.push_back({&root, nullptr, Cursor{document, 0}});
    frames_.back().cursor = &frames_.back().own;
    root.state = 2;
    touched_ = true;
    ReadContainedObject(target_, nullptr, xxSaveKind::WithId);
    root.state = 3;
    // Nothing reads the rest of the document, but it is indexed (and reported when unread).
    if (loader_) {
        loader_->Skip(*document);
        while (ParseMore()) {
        }
    }
    Release(*document);
    ReportUnloadedObjects();
    NotifyAllObjectsLoaded();
}

// A failure while the stream is still being parsed: the rest is parsed (identifiers registered,
// nothing built), so that a failure of the parser later in the stream, or of an identifier,
// is the one reported, as when the whole stream is parsed and indexed before the read.
void XSDToDM::Fail(std::exception_ptr failure) {
    frames_.clear();
    if (!parseFailure_ && !loader_->Finished()) {
        draining_ = true;
        if (xmlElement* document = tree_->GetDocumentElement()) loader_->Skip(*document);
        try {
            while (loader_->ParseSome()) {
            }
        } catch (...) {
            parseFailure_ = std::current_exception();
        }
    }
    loader_ = nullptr;
    tree_ = nullptr;
    if (parseFailure_) throw ParseFailure(parseFailure_);
    if (indexFailure_) std::rethrow_exception(indexFailure_);
    std::rethrow_exception(failure);  // Abandoned comes with one of the two
}

bool XSDToDM::ParseMore() {
    if (!loader_ || loader_->Finished()) return false;
    try {
        loader_->ParseSome();
    } catch (...) {
        parseFailure_ = std::current_exception();
        throw Abandoned{};
    }
    if (indexFailure_) throw Abandoned{};
    // The tree gains attribute classes as the parser goes on: a name that had none may have one.
    if (tree_->AttributeClassCount() != attributeClassesSeen_) {
        attributeClasses_.Clear();
        attributeClassesSeen_ = tree_->AttributeClassCount();
    }
    return true;
}

void XSDToDM::Clear() {
    frames_.clear();
    // Objects made for references to elements that were never read.
    for (std::size_t i = 0; owned_ && i < records_.size(); ++i) {
        Record& r = records_[i];
        if (!(r.flags & kOwned) || (r.flags & kOther)) continue;
        --owned_;
        if (xxObject* o = r.weak.GetObject()) {
            r.weak.Reset();
            delete o;
        }
    }
    owned_ = 0;
    dense_ = {};
    sparse_.clear();
    records_.clear();
    merged_.clear();
    others_.clear();
    unread_.clear();
    ids_.clear();
    attributeClasses_.Clear();
    classes_.clear();
    unknownClasses_.clear();
    if (tree_) tree_->Clear();
    tree_ = nullptr;
    loader_ = nullptr;
    idClass_ = nullptr;
    nullClass_ = nullptr;
}

XSDToDM::Record* XSDToDM::RecordOf(const xmlElement& element) {
    const std::size_t i = element.GetUserIndex();
    return i == 0 || i > records_.size() ? nullptr : &records_[i - 1];
}

std::uint32_t* XSDToDM::IdSlot(std::int64_t n, bool create) {
    if (static_cast<std::uint64_t>(n) < dense_.size()) return &dense_[static_cast<std::size_t>(n)];
    // Identifiers are dense in the documents we write; a table by number is bounded by the
    // element count, and a hostile identifier far beyond it goes to the map instead.
    const std::uint64_t bound = 4 * std::uint64_t{records_.size()} + 65536;
    if (create && static_cast<std::uint64_t>(n) < bound) {
        dense_.resize(static_cast<std::size_t>(
            std::min<std::uint64_t>(bound, std::max<std::uint64_t>(static_cast<std::uint64_t>(n) + 1,
                                                                   dense_.size() + dense_.size() / 2))));
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

void XSDToDM::RegisterId(std::string_view text, std::uint32_t entry) {
    std::int64_t n = 0;
    const IdNumber read = text.empty() ? IdNumber::Valid : ReadIdNumber(text, n);
    if (read == IdNumber::NotANumber) throw xmlException("The ID '" + std::string(text) + "' is not a number");
    // Negative, or beyond 32 bits: no slot for it.
    if (read == IdNumber::OutOfRange || n < 0) throw xmlException("The ID '" + std::string(text) + "' is out of range");
    std::uint32_t* slot = n == 0 ? nullptr : IdSlot(n, true);
    if (!slot || *slot)
        throw xmlException("More than one object has the ID " + std::string(text) + ". IDs must be unique.");
    *slot = entry;
    if (n > maxId_) maxId_ = n;
}

// An identifier not met yet may come later in the stream: the parse goes on until it comes or
// the stream ends, so that only a document without it is told apart as before.
XSDToDM::Record* XSDToDM::FindRecordById(std::string_view text) {
    if (text.empty()) return &records_.front();
    std::int64_t n = 0;
    if (ReadIdNumber(text, n) != IdNumber::Valid || n <= 0)
        throw xmlException("Invalid ID reference: '" + std::string(text) + "'");
    std::uint32_t* slot = IdSlot(n, false);
    while ((!slot || !*slot) && ParseMore()) slot = IdSlot(n, false);
    if (n > maxId_) throw xmlException("Invalid ID reference: '" + std::string(text) + "'");
    if (!slot || !*slot) throw xmlException("Missing object with ID '" + std::string(text) + "'");
    return &records_[*slot - 1];
}

xxSerializable* XSDToDM::ObjectOf(const Record& record) const {
    if (record.flags & kOther) return others_.at(&record).object;
    return record.weak.GetObject();
}

bool XSDToDM::Alive(const Record& record) const {
    return record.state != 0 && ((record.flags & kOther) || record.weak.GetObject() != nullptr);
}

xxSerializable* XSDToDM::ResolveRecord(Record& record) {
    if (record.state != 0) return Alive(record) ? ObjectOf(record) : nullptr;  // deleted while loading
    if (!(record.flags & kLive))
        throw xmlException("The element of " + Describe(record, nullptr) + " was released before it was read");
    CreateObjectForRecord(record);
    return ObjectOf(record);
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

// What the reader keeps of each element name; the data-model class is found once per name, when
// an object of it is first made.
XSDToDM::ElementClass& XSDToDM::ClassEntry(const xmlElementClass& cls) {
    if (cls.Index() >= classes_.size()) classes_.resize(std::size_t{cls.Index()} + 1);
    ElementClass& entry = classes_[cls.Index()];
    entry.element = &cls;
    return entry;
}

void XSDToDM::CreateObjectForRecord(Record& record) {
    ElementClass& info = classes_[record.cls - 1];
    const std::string& name = info.element->GetName();
    if (!info.found) {
        info.cls = xxClass::FindClassIfExists(name);
        info.isObject = info.cls && info.cls->IsA(xxObject::classType);
        info.found = true;
    }
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
    std::unique_ptr<xxSerializable> owned(object);
    Attach(record, object);
    if (record.flags & kOther) others_[&record].owned = std::move(owned);
    else owned.release();  // the record's weak reference holds it until it is handed over
    record.flags |= kOwned;
    ++owned_;
}

void XSDToDM::Attach(Record& record, xxSerializable* object) {
    if (xxObject* o = object->IsA(xxObject::classType) ? static_cast<xxObject*>(object) : nullptr) {
        record.weak.Reset(o);
    } else {
        others_[&record].object = object;
        record.flags |= kOther;
    }
    record.state = 1;
}

std::string XSDToDM::Describe(const Record& record, const xmlElement* element) {
    std::string name = "?";
    std::string_view id = "<No ID>";
    if (element) {
        name = element->GetName();
        if (std::optional<std::string_view> found = IdOf(*element)) id = *found;
    } else if (auto it = unread_.find(&record); it != unread_.end()) {
        name = it->second.cls->GetName();
        id = it->second.idText;
    }
    if (&record == &records_.front()) id = "root";
    return "Element '" + name + "' (ID=" + std::string(id) + ")";
}

// Every record below the element forgets it before it is freed; one whose element was never read
// keeps what later messages name it by (it stays unread, and is reported).
void XSDToDM::Release(xmlElement& element) {
    if (loader_) loader_->Skip(element);  // what the parser has not reached yet is not built
    pending_.assign(1, &element);
    while (!pending_.empty()) {
        xmlElement* e = pending_.back();
        pending_.pop_back();
        if (Record* r = RecordOf(*e); r && (r->flags & kLive)) {
            r->flags &= static_cast<std::uint8_t>(~kLive);
            if (r->state != 3) {
                std::optional<std::string_view> id = IdOf(*e);
                unread_.emplace(r, Unread{&e->GetClass(), id ? ids_.Store(*id) : std::string_view("<No ID>"),
                                          static_cast<std::uint32_t>(e->GetUserIndex())});
            }
        }
        for (std::size_t i = 0; i < e->ChildCount(); ++i)
            if (xmlElement* c = e->Child(i).AsElement()) pending_.push_back(c);
    }
}

void XSDToDM::LoadRecord(Record& record, xmlElement* element, bool ownCursor) {
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
        if (Alive(record)) ObjectOf(record)->Load(*this);
        record.state = 3;
        if (ownCursor) {
            Release(*element);
            element->Purge();
        }
    };
    if (!ownCursor) return body();
    try {
        body();
    } catch (...) {
        RethrowAtPlace([&] { return "\n" + Describe(record, element); });
    }
}

void XSDToDM::ReportUnloadedObjects() {
    std::vector<const Unread*> unread;
    for (const auto& [record, u] : unread_)
        if (record->state != 3) unread.push_back(&u);
    if (unread.empty()) return;
    std::sort(unread.begin(), unread.end(), [](const Unread* a, const Unread* b) { return a->number < b->number; });
    std::string list;
    for (const Unread* u : unread) {
        if (!list.empty()) list += ", ";
        list += u->idText;
    }
    throw xmlException("The objects with the following ID(s) did not get loaded: " + list);
}

void XSDToDM::NotifyAllObjectsLoaded() {
    constexpr std::size_t kAhead = 16;  // a large model lies far beyond the caches
    auto notify = [&](auto& records) {
        for (std::size_t i = 0; i < records.size(); ++i) {
            if (i + kAhead < records.size()) __builtin_prefetch(records[i + kAhead].weak.GetObject());
            Record& r = records[i];
            if ((r.flags & kOther) || !Alive(r)) continue;
            frames_.push_back({&r, nullptr, Cursor{nullptr, 0}});
            struct Pop {
                std::deque<Frame>& frames;
                ~Pop() { frames.pop_back(); }
            } pop{frames_};
            r.weak.GetObject()->OnAllObjectsLoaded(*this);
        }
    };
    notify(records_);
    notify(merged_);
}

// ---- children and objects --------------------------------------------------------------------

bool XSDToDM::IsNull(const xmlElementClass& cls) {
    if (nullClass_) return &cls == nullClass_;
    if (cls.GetName() != "Null") return false;
    nullClass_ = &cls;
    return true;
}

const xmlAttributeClass* XSDToDM::IdClass() {
    if (!idClass_ && tree_) idClass_ = tree_->FindAttributeClass("ID");
    return idClass_;
}

std::optional<std::string_view> XSDToDM::IdOf(const xmlElement& element) {
    const xmlAttributeClass* cls = IdClass();
    return cls ? element.FindAttribute(*cls) : std::nullopt;
}

// The next child of the current element, once the parser has reached it. Children read are
// dropped from the element now and then, so that a long list of them does not stay behind.
xmlElement& XSDToDM::NextChild(const char* noneLeft) {
    Cursor* c = frames_.empty() ? nullptr : frames_.back().cursor;
    if (!c || !c->element) throw xmlException(noneLeft);
    xmlElement& parent = *c->element;
    constexpr std::size_t kKept = 256;
    if (c->next >= kKept && 2 * c->next >= parent.ChildCount()) {
        xmlElement* last = parent.Child(c->next - 1).AsElement();
        if (loader_ && last) loader_->Skip(*last);  // it may not have ended yet
        parent.PurgeFirstChildren(c->next);
        c->next = 0;
    }
    while (c->next >= parent.ChildCount() && loader_ && loader_->IsOpen(parent) && ParseMore()) {
    }
    if (c->next >= parent.ChildCount()) throw xmlException(noneLeft);
    xmlElement* e = parent.Child(c->next++).AsElement();
    if (!e) throw xmlException("Invalid child");
    return *e;
}

void XSDToDM::ReadContainedObject(xxSerializable& object, xxSerializable*, xxSaveKind) {
    xmlElement& e = NextChild("No children available");
    if (IsNull(e.GetClass())) throw xmlException("Contained objects cannot be NULL");
    Record* r = RecordOf(e);
    if (!r) throw xmlException("Unable to find contained child record");
    if (r->state != 0) throw xmlException("Contained object " + Describe(*r, &e) + " had already been loaded");
    Attach(*r, &object);
    LoadRecord(*r, &e, true);
}

void XSDToDM::ReadReferencedChild(std::unique_ptr<xxSerializable>& child) {
    child.reset();
    xmlElement& e = NextChild("None, or too few, child Elements provided");
    if (IsNull(e.GetClass())) return;
    std::optional<std::string_view> found = IdOf(e);
    if (!found) throw xmlException("Missing ID attribute on the Element '" + e.GetName() + "'");
    const std::string id(*found);
    Record* r = FindRecordById(id);
    if (!r || r != RecordOf(e))
        throw xmlException("No object exists with the ID " + id + " referenced on Element '" + e.GetName() + "' (ID=" + id + ")");
    ResolveRecord(*r);
    if (r->state == 1) LoadRecord(*r, &e, true);
    if (!(r->flags & kOwned)) {
        if (!Alive(*r)) return;  // its own Load deleted it
        throw xmlException("Child " + Describe(*r, &e) + " had already been loaded");
    }
    r->flags &= static_cast<std::uint8_t>(~kOwned);
    --owned_;
    if (r->flags & kOther) child = std::move(others_.at(r).owned);
    else child.reset(r->weak.GetObject());  // null when its own Load deleted it
}

void XSDToDM::MergeAttributes(xxSerializable& object, xxSerializable& owner) {
    if (&owner != GetCurrentObject()) throw xmlException("Unable to merge attributes for requested object");
    Record& r = merged_.emplace_back();
    Attach(r, &object);
    LoadRecord(r, nullptr, false);
}

xxSerializable* XSDToDM::GetCurrentObject() {
    if (frames_.empty()) return nullptr;
    Record* r = frames_.back().record;
    return Alive(*r) ? ObjectOf(*r) : nullptr;
}

xmlElement* XSDToDM::CurrentElement() const {
    return frames_.empty() || !frames_.back().cursor ? nullptr : frames_.back().cursor->element;
}

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
    if (!cls && name && loader_) {
        // Unknown means no element of the document has it, a later one included.
        while (ParseMore()) {
        }
        cls = AttributeClass(name);
    }
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
        if (x != std::string::npos) {
            Charge(static_cast<std::uint64_t>(*n) * kReferenceCost);
            collection.AppendRepeated(ResolveReference(item.substr(x + 1)), static_cast<std::size_t>(*n));
        } else {
            std::optional<std::int64_t> first = LeadingInteger(std::string_view(item).substr(plus + 1));
            if (!first || *first < 0 || *first + *n - 1 > kMaxId)
                FormatError("Invalid format - identifier run out of range.");
            // Charged as it goes: resolving a later identifier parses on, and what the document
            // may hold grows with what has been parsed.
            for (std::int64_t i = 0; i < *n; ++i) {
                Charge(kReferenceCost);
                collection.Append(ResolveNumber(*first + i));
            }
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
