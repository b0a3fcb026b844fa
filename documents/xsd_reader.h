// XSDToDM: loads an XML document (a parsed tree) into a data-model object. It indexes every
// element by "ID", lets the target load itself, creates further objects by element name as
// children and references ask for them, releases each element's subtree once its object has
// read it, checks that every element was loaded and finally notifies the objects.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
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

    // Reads the whole document into the target. Throws xmlException for format errors,
    // Cfx::CfxResult E_FAIL for malformed compressed reference lists, or what Load throws.
    void Load(xmlTree& tree);

    // What the lists of one load may hold, in bytes: a floor and a share of the document's own
    // size (its attribute texts), so that a few bytes never demand gigabytes. Each item a list
    // read appends is charged what it occupies, a reference also what a model keeps for a member
    // (a set's weak reference): "x" repeats and reference runs cost by the items they stand for.
    static constexpr std::uint64_t kListFloor = std::uint64_t{8} << 20;
    static constexpr std::uint64_t kListBytesPerByte = 16;
    static constexpr std::uint64_t kReferenceCost = 64;

private:
    struct Record {
        xmlElement* element = nullptr;  // null once loaded or freed unread
        const xmlElementClass* cls = nullptr;  // the element's name, kept when it is freed
        std::string_view idText;  // in ids_ or a literal, so it outlives the element
        xxSerializable* object = nullptr;
        std::unique_ptr<xxSerializable> owned;  // made by the reader and not handed over yet
        xxReferenceBase weak;
        bool referenceable = false;
        std::uint8_t state = 0;  // 0 indexed, 1 object attached, 2 loading, 3 loaded
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

    Record& NewRecord(xmlElement* element, std::string_view idText);
    void IndexElements(Record& root);
    Record** IdSlot(std::int64_t n, bool create);  // null: no slot (create false)
    void RegisterId(std::string_view text, Record& record);
    Record* FindRecordById(std::string_view text);
    xxSerializable* ResolveReference(std::string_view text);
    xxSerializable* ResolveRecord(Record& record);
    void CreateObjectForRecord(Record& record);
    void Attach(Record& record, xxSerializable* object);
    bool Alive(const Record& record) const;
    void LoadRecord(Record& record, bool ownCursor);
    void ForgetSubtree(xmlElement& element);
    void ReportUnloadedObjects();
    void NotifyAllObjectsLoaded();
    static std::string Describe(const Record& record);
    Record* RecordOf(const xmlElement& element) const;
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
    XSDVersionHolder version_ = InitVersionHolder();
    const xmlAttributeClass* idClass_ = nullptr;
    const xmlElementClass* nullClass_ = nullptr;
    std::vector<Record*> dense_;  // records by identifier
    std::unordered_map<std::int64_t, Record*> sparse_;
    std::int64_t maxId_ = 0;
    const xmlAttributeClass* AttributeClass(const char* name);

    ChunkedList<Record, 256> records_;  // in creation order; an element's user index is its record's + 1
    ChunkedText ids_;              // the records' identifier texts
    std::deque<Frame> frames_;    // stable addresses: frames share their cursors
    std::vector<xmlElement*> pending_;
    xmlNameCache<xmlAttributeClass> attributeClasses_;
    struct ObjectClass {
        const xxClass* cls;  // null: no class of that name
        bool isObject;
    };
    const ObjectClass& ObjectClassOf(const xmlElementClass& element);
    std::unordered_map<const xmlElementClass*, ObjectClass> objectClasses_;
    std::vector<const xxClass*> unknownClasses_;  // silent misses of GetClassVersion
    std::uint64_t listBudget_ = 0;  // bytes the lists of this load may still take
};
