// DMToXSD: saves a data-model object tree as an XML document. It walks the tree in counting
// passes (references only) and then in the output pass, which hands out identifiers in the order
// objects are met and writes one element per saved object. With a streaming saver every element
// is written as soon as it is complete and purged, so the tree holds only the current path;
// without one the whole document is left in the tree.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "datamodel/serialise.h"
#include "datamodel/serialise_adapter.h"
#include "base/address_table.h"
#include "base/chunked_list.h"
#include "xml/xml.h"

class xmlTree;
class xmlSaver;
class xmlElement;
class xmlAttributeClass;
class xmlElementClass;

class DMToXSD : private xxOutputAdapter<DMToXSD> {
public:
    DMToXSD(xmlTree& tree, xmlSaver* saver);
    ~DMToXSD() override;
    DMToXSD(const DMToXSD&) = delete;
    DMToXSD& operator=(const DMToXSD&) = delete;

    // The whole save: document element `name` with "Version", then the root object. Throws
    // xmlException (format errors), Cfx::CfxResult (inconsistent saves) or what Save throws.
    void WriteObjectTree(const xxSerializable& root, const char* name);

    // How many times objects' Save ran in the last save (passes and streaming calls).
    std::size_t SaveCalls() const { return saveCalls_; }

private:
    struct SaveRecord {
        const xxSerializable* parent = nullptr;
        std::uint32_t count : 26 = 0;
        std::uint32_t state : 4 = 0;  // 0 none, 1 referenced, 2 child, 3 without ID, 4 with ID, 5 inline
        std::uint32_t reset : 1 = 0;
        std::uint32_t frozen : 1 = 0;
        std::uint32_t id = kNoId;
    };
    static constexpr std::uint32_t kNoId = 0xFFFFFFFFu;
    enum Mode : unsigned { kAdd = 1, kChildren = 2, kCounting = 4, kKeepRecords = 8, kUnknownIsMore = 16 };

    std::uint32_t Register(const xxSerializable& object, std::uint8_t state, const xxSerializable* parent);
    void ResetAll();
    void ResetTouched();
    void SaveElement(xmlElement* element, const xxSerializable& object);
    void SaveContained(const xxSerializable* object, int kind);  // kind -1: owned child
    void RunSave(const xxSerializable& object);
    void AddAttribute(const char* name, std::string_view text);
    bool Counting() const { return (mode_ & kCounting) != 0; }
    const xxSerializable* Top() const { return objects_.empty() ? nullptr : objects_.back(); }

    // The typed writes (serialise_adapter.h).
    friend class xxOutputAdapter<DMToXSD>;
    template <class K, class T>
    void Put(const char* name, const T& value);
    template <class K, class T>
    void PutWithDefault(const char* name, const T& value, const T& defaultValue);
    template <class K, class C>
    void PutArray(const char* name, const C& values);
    template <class C>
    void Repeated(const char* name, const C& values);
    template <class C>
    void BoolList(const char* name, const C& values, bool separated);

    // xxOutput
    bool IsInProcessCopy() const override { return false; }
    void WriteBytes(const char*, const void*, std::size_t) override {}
    void WriteReference(const char* name, const xxSerializable* object) override;
    void WriteReferenceCollection(const char* name, const xxReferenceCollection& collection) override;
    void WritePropertyTemplates(const char* name, const std::vector<const xxPropertyBase*>& templates) override;
    void SaveChildObject(const xxSerializable* object) override;
    void SaveObject(const xxSerializable& object, xxSaveKind kind) override;
    void SaveObjectInline(const xxSerializable* object) override;
    const xxSerializable* GetParentObject() const override;
    const xxSerializable* GetSavedParent(const xxSerializable& object) const override;
    bool IsReferencedMoreThan(const xxSerializable& object, unsigned n) override;
    void WriteAttributePresence(const char*, bool) override {}
    bool WantsValues() const override { return !Counting(); }

    xmlTree& tree_;
    xmlSaver* saver_;
    const xmlAttributeClass* idClass_ = nullptr;
    std::vector<xmlElement*> elements_;
    std::vector<const xxSerializable*> objects_;
    unsigned mode_ = 3;
    bool childMet_ = false;

public:  // the table on its own, for tests
    // Save records by object (platform/base/address_table.h). Every pass walks the tree in the
    // same order, so the first pass logs which record each registration met and later passes try
    // the logged record first: their lookups then run through memory in sequence instead of
    // missing the cache at random.
    class RecordTable {
    public:
        // Starts a pass; the first one logs, later ones follow the log.
        void BeginPass(bool logging);
        // Room for that many objects, so that a save of a known size need not regrow the index.
        void Reserve(std::size_t objects) { table_.Reserve(objects); }
        // The record of object, value-initialised when new; `inserted` says which. A followed
        // lookup moves along the log only when the logged record is the object's.
        SaveRecord& FindOrAdd(const xxSerializable* object, bool& inserted, bool follow = true);
        SaveRecord* Find(const xxSerializable* object) { return table_.Find(object); }
        void Erase(const xxSerializable* object) { table_.Erase(object); }
        void Clear();
        template <class F>
        void ForEach(F&& f) {
            table_.ForEach(f);
        }

    private:
        AddressTable<xxSerializable, SaveRecord> table_;
        ChunkedList<std::uint32_t, 4096> log_;  // record met by each registration of the first pass
        std::size_t cursor_ = 0;
        bool logging_ = false;
    };

private:
    RecordTable records_;
    const xmlAttributeClass* AttributeClass(const char* name);
    const xmlElementClass& ElementClass(const xxSerializable* object);
    xmlNameCache<xmlAttributeClass> attributeClasses_;
    std::unordered_map<const xxClass*, const xmlElementClass*> elementClasses_;
    std::vector<const xxSerializable*> pendingInline_;
    bool extraPasses_ = false;
    std::uint32_t nextId_ = 1;
    std::size_t saveCalls_ = 0;
};
