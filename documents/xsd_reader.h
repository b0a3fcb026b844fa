// XSDToDM: loads an XML document into a data-model object. It indexes every element by "ID",
// lets the target load itself, creates further objects by element name as children and references
// ask for them, releases each element's subtree once its object has read it, checks that every
// element was loaded and finally notifies the objects. From a stream it parses as it reads: the
// tree holds the elements not read yet, and those a reference to a later element made it parse.
#pragma once

#include <cstdint>
#include <deque>
#include <exception>
#include <iosfwd>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "datamodel/reference.h"
#include "datamodel/serialise.h"
#include "datamodel/serialise_adapter.h"
#include "xml/xml.h"
#include "base/chunked_list.h"
#include "documents/xsd_versions.h"

class xmlTree;
class xmlElement;
class xmlAttributeClass;
class xmlElementClass;

class XSDToDM : private xxInputAdapter<XSDToDM> {
public:
    explicit XSDToDM(xxSerializable& target);
    ~XSDToDM() override;
    XSDToDM(const XSDToDM&) = delete;
    XSDToDM& operator=(const XSDToDM&) = delete;

    // Reads the whole document of a parsed tree into the target. Throws xmlException for format
    // errors, Cfx::CfxResult E_FAIL for malformed compressed reference lists, or what Load throws.
    void Load(xmlTree& tree);
    // Parses the stream and reads it into the target as it goes, failing as a parse of the whole
    // stream before the read would: a failure of the parser anywhere in the stream comes first, as
    // ParseFailure, then one of the identifiers (in document order), then the read's own.
    void Load(std::istream& in);
    // Whether the target had begun to load: a failure before leaves it as it was.
    bool TargetTouched() const { return touched_; }

    // The parser's failure (xmlException, or what else it threw, std::bad_alloc say) as its cause.
    class ParseFailure : public xmlException {
    public:
        explicit ParseFailure(std::exception_ptr cause);
        const std::exception_ptr& Cause() const { return cause_; }

    private:
        std::exception_ptr cause_;
    };

    // What the lists of one load may hold, in bytes: a floor and a share of the document's own
    // size (its attribute texts), so that a few bytes never demand gigabytes. Each item a list
    // read appends is charged what it occupies, a reference also what a model keeps for a member
    // (a set's weak reference): "x" repeats and reference runs cost by the items they stand for.
    static constexpr std::uint64_t kListFloor = std::uint64_t{8} << 20;
    static constexpr std::uint64_t kListBytesPerByte = 16;
    static constexpr std::uint64_t kReferenceCost = 64;

private:
    // One per element (in document order; the document element's is the first) and one per
    // object merged into another's element. Forty bytes, as a large document has millions.
    struct Record {
        xxReferenceBase weak;   // the object, when it is a data-model object
        std::uint32_t cls = 0;  // the element's class: its index in the tree, + 1 (0: merged)
        std::uint8_t state = 0;  // 0 indexed, 1 object attached, 2 loading, 3 loaded
        std::uint8_t flags = 0;
    };
    static constexpr std::uint8_t kLive = 1;   // the element is in the tree, not read yet
    static constexpr std::uint8_t kOwned = 2;  // the object was made here and not handed over yet
    static constexpr std::uint8_t kOther = 4;  // the object is not a data-model object: in others_
    struct Other {
        xxSerializable* object = nullptr;
        std::unique_ptr<xxSerializable> owned;
    };
    // An element released before it was read, as later messages name it.
    struct Unread {
        const xmlElementClass* cls;
        std::string_view idText;  // in ids_ or a literal
        std::uint32_t number;     // the record's, + 1: reports follow the document
    };
    struct Cursor {
        xmlElement* element;
        std::size_t next;
    };
    struct Frame {
        Record* record;
        Cursor* cursor;  // null: no children (notification); else own or a shared one
        Cursor own;
    };
    struct ElementClass {
        const xmlElementClass* element = nullptr;
        const xxClass* cls = nullptr;  // null: no class of that name
        bool isObject = false;
        bool found = false;  // looked up in the class registry
    };
    class Builder;
    struct Abandoned {};  // the parser failed, or an identifier did: nothing more can be read

    void Index(xmlElement* element, const xmlElementClass& cls, std::optional<std::string_view> id,
               std::uint64_t bytes);
    void IndexElement(xmlElement& element);
    void IndexSkipped(const char* name, const char** attributes);
    void IndexTree(xmlElement& document);
    void Read();
    [[noreturn]] void Fail(std::exception_ptr failure);
    bool ParseMore();
    void Clear();
    std::uint32_t* IdSlot(std::int64_t n, bool create);  // null: no slot (create false)
    void RegisterId(std::string_view text, std::uint32_t entry);
    Record* FindRecordById(std::string_view text);
    xxSerializable* ResolveReference(std::string_view text);
    xxSerializable* ResolveRecord(Record& record);
    void CreateObjectForRecord(Record& record);
    void Attach(Record& record, xxSerializable* object);
    xxSerializable* ObjectOf(const Record& record) const;
    bool Alive(const Record& record) const;
    void LoadRecord(Record& record, xmlElement* element, bool ownCursor);
    void Release(xmlElement& element);
    void ReportUnloadedObjects();
    void NotifyAllObjectsLoaded();
    std::string Describe(const Record& record, const xmlElement* element);
    Record* RecordOf(const xmlElement& element);
    std::uint32_t Number(const Record& record);
    ElementClass& ClassEntry(const xmlElementClass& cls);
    bool IsNull(const xmlElementClass& cls);
    const xmlAttributeClass* IdClass();
    std::optional<std::string_view> IdOf(const xmlElement& element);
    xmlElement& NextChild(const char* noneLeft);
    xmlElement* CurrentElement() const;
    std::string_view GetAttribute(const char* name);
    std::optional<std::string_view> FindValue(const char* name);  // empty: absent
    void Charge(std::uint64_t bytes);  // throws once the lists hold more than the document can
    xxSerializable* ResolveNumber(std::int64_t id);
    void ReadCompressedReferences(std::string_view text, xxReferenceCollection& collection);

    template <class F>
    void WithContext(const char* label, const char* name, F&& body);
    // The typed reads (serialise_adapter.h).
    friend class xxInputAdapter<XSDToDM>;
    template <class K, class T>
    void Get(const char* name, T& value);
    template <class K, class T, class D>
    void GetWithDefault(const char* name, T& value, const D& defaultValue);
    template <class K, class C>
    void GetArray(const char* name, C& values);
    template <class C>
    void ParseCompressedArray(const char* name, C& values);
    template <class C>
    void ReadBoolList(const char* name, C& values);

    // xxInput
    bool IsInProcessCopy() const override { return false; }
    void ReadBytes(const char*, void*, std::size_t) override {}
    void ReadReferenceCollection(const char* name, xxReferenceCollection& collection) override;
    void ReadPropertyTemplates(const char* name, std::vector<const xxPropertyBase*>& templates) override;
    void ReadContainedObject(xxSerializable& object, xxSerializable* owner, xxSaveKind kind) override;
    void MergeAttributes(xxSerializable& object, xxSerializable& owner) override;
    xxSerializable* GetCurrentObject() override;
    bool HasAttribute(const char* name) override;
    bool ReadTextIfPresent(const char* name, std::string& text) override;
    unsigned GetClassVersion(const xxClass& cls, bool silent) override;
    void ReadReference(const char* name, xxSerializable*& object) override;
    void ReadReferencedChild(std::unique_ptr<xxSerializable>& child) override;

    xxSerializable& target_;
    xmlTree* tree_ = nullptr;
    xmlTreeLoader* loader_ = nullptr;  // while a stream is parsed as it is read
    XSDVersionHolder version_ = InitVersionHolder();
    const xmlAttributeClass* idClass_ = nullptr;
    const xmlElementClass* nullClass_ = nullptr;
    std::vector<std::uint32_t> dense_;  // record number + 1 by identifier
    std::unordered_map<std::int64_t, std::uint32_t> sparse_;
    std::int64_t maxId_ = 0;
    const xmlAttributeClass* AttributeClass(const char* name);

    ChunkedList<Record, 256, 4096> records_;  // by element; an element's user index is its record's + 1
    ChunkedList<Record, 64> merged_;            // after them, in creation order
    std::unordered_map<const Record*, Other> others_;
    std::unordered_map<const Record*, Unread> unread_;
    std::size_t owned_ = 0;                   // records with kOwned
    ChunkedText ids_;                         // identifier texts of unread elements
    std::deque<Frame> frames_;  // stable addresses: frames share their cursors
    std::vector<xmlElement*> pending_;
    xmlNameCache<xmlAttributeClass> attributeClasses_;
    std::size_t attributeClassesSeen_ = 0;  // the tree's count when the cache was last right
    std::vector<ElementClass> classes_;     // by the element class's index in the tree
    std::vector<const xxClass*> unknownClasses_;  // silent misses of GetClassVersion
    std::uint64_t listBudget_ = 0;  // bytes the lists of this load may still take
    std::exception_ptr parseFailure_;
    std::exception_ptr indexFailure_;  // the first, in document order
    bool draining_ = false;            // after a failure: only identifiers are still registered
    bool touched_ = false;
};
