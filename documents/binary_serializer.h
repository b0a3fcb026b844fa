// The binary document stream's writer (CBinaryDMExporter) and reader (CBinaryDMImporter), the
// serialisers of the undo/redo component, on their shared base (the host stream, the bit table).
// The layout is in binary_format.h.
//
// Both move bytes through a buffer of their own and call the host stream in blocks; every
// stream call is checked, and a failure throws the stream's last error.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "base/address_table.h"
#include "base/chunked_list.h"
#include "datamodel/reference.h"
#include "datamodel/serialise.h"
#include "datamodel/serialise_adapter.h"
#include "documents/binary_format.h"
#include "host/stream.h"

class xxTreeRoot;

namespace cartovane {

class CBinaryDMSerializer {
protected:
    explicit CBinaryDMSerializer(ISBStream& stream) : stream_(stream) {}
    ~CBinaryDMSerializer() = default;
    CBinaryDMSerializer(const CBinaryDMSerializer&) = delete;
    CBinaryDMSerializer& operator=(const CBinaryDMSerializer&) = delete;

    // The stream's position.
    std::uint64_t StreamPosition();
    // Moves the stream to an absolute position (at most binary::kMaxPosition).
    void StreamSeek(std::uint64_t position);

    ISBStream& stream_;
    binary::BitTable bits_;
    // Blocks between the serialiser and the stream.
    static constexpr std::size_t kBlockBytes = 64 * 1024;
};

class CBinaryDMExporter final : public xxOutputAdapter<CBinaryDMExporter>, private CBinaryDMSerializer {
public:
    explicit CBinaryDMExporter(ISBStream& stream);
    ~CBinaryDMExporter() override;

    // Room for about that many objects, so that the tables are not regrown while they fill.
    void Reserve(std::size_t objects);
    // The trailer position's field, unfinished until WriteTrailer patches it.
    void WriteHeaderPlaceholder();
    // The bit table and the class table, then the trailer position in the header. The stream
    // is left just after the header's field. Throws E_UNEXPECTED "The document is too large for
    // the binary stream" when the trailer would lie out of the stream's reach.
    void WriteTrailer();

    // xxOutput
    bool IsInProcessCopy() const override { return false; }
    void WriteBytes(const char* name, const void* data, std::size_t byteCount) override;
    void WriteReference(const char* name, const xxSerializable* object) override;
    void WriteReferenceCollection(const char* name, const xxReferenceCollection& collection) override;
    void WritePropertyTemplates(const char* name, const std::vector<const xxPropertyBase*>& templates) override;
    void SaveChildObject(const xxSerializable* object) override;
    void SaveObject(const xxSerializable& object, xxSaveKind kind) override;
    void SaveObjectInline(const xxSerializable* object) override;
    const xxSerializable* GetParentObject() const override;
    const xxSerializable* GetSavedParent(const xxSerializable& object) const override;
    bool IsReferencedMoreThan(const xxSerializable&, unsigned) override { return true; }
    void WriteAttributePresence(const char* name, bool present) override;
    // Values as numbers, never as text.
    void WriteProperty(const xxPropertyBase& property, const xxObject& object) override;

private:
    // How the writer met an object: as a reference target, saved as a child, saved without an
    // identifier, saved with one.
    enum Kind : std::uint8_t { kReferenced = 1, kChild = 2, kWithoutId = 3, kWithId = 4 };
    struct Record {
        const xxSerializable* parent = nullptr;
        std::uint32_t id = 0;
        Kind kind = kReferenced;
    };

    friend class xxOutputAdapter<CBinaryDMExporter>;
    template <class K, class T>
    void Put(const char* name, const T& value);
    template <class K, class T>
    void PutWithDefault(const char* name, const T& value, const T& defaultValue);
    template <class K, class C>
    void PutArray(const char* name, const C& values);

    std::uint32_t Register(const xxSerializable* object, Kind kind, const xxSerializable* parent);
    void SaveWithin(const xxSerializable& object);
    const xxSerializable* Top() const { return stack_.empty() ? nullptr : stack_.back(); }

    template <class T>
    void PutNumber(T value);
    void PutCount(std::uint64_t n) { PutNumber(n); }
    void PutRaw(const void* data, std::size_t n);
    void Flush();
    std::uint64_t Position() const { return flushed_ + used_; }

    AddressTable<xxSerializable, Record> records_;
    std::vector<std::uint32_t> classTypes_;  // by identifier - 1
    std::vector<const xxSerializable*> stack_;
    std::vector<std::uint32_t> scratch_;
    std::unique_ptr<unsigned char[]> block_;
    std::size_t used_ = 0;
    std::uint64_t flushed_ = 0;  // the stream position of the block's first byte
    std::uint64_t header_ = 0;
    bool headerWritten_ = false;
};

class CBinaryDMImporter final : public xxInputAdapter<CBinaryDMImporter>, private CBinaryDMSerializer {
public:
    explicit CBinaryDMImporter(ISBStream& stream);
    ~CBinaryDMImporter() override;

    // Reads the trailer and creates an object for every identifier (the document's root for
    // identifier 1, which must be of the root's class), then stands at the root's identifier.
    // A stream that cannot be a finished document fails with E_UNEXPECTED before anything is
    // created.
    void ReadHeaderAndTrailer(xxSerializable& root);
    // After the root's Load: the data must end at the trailer with every bit used.
    void CheckEverythingRead();
    // Every live record in table order is told that all objects are loaded.
    void NotifyAllObjectsLoaded();
    // Whether the class table names a class that IsA typeId (after ReadHeaderAndTrailer).
    bool TableHasClassOf(unsigned typeId) const;

    // xxInput
    bool IsInProcessCopy() const override { return false; }
    void ReadBytes(const char* name, void* buffer, std::size_t byteCount) override;
    void ReadReferenceCollection(const char* name, xxReferenceCollection& collection) override;
    void ReadPropertyTemplates(const char* name, std::vector<const xxPropertyBase*>& templates) override;
    void ReadContainedObject(xxSerializable& object, xxSerializable* owner, xxSaveKind kind) override;
    void MergeAttributes(xxSerializable& object, xxSerializable& owner) override;
    xxSerializable* GetCurrentObject() override { return frames_.empty() ? nullptr : frames_.back(); }
    bool HasAttribute(const char* name) override;
    unsigned GetClassVersion(const xxClass& cls, bool) override { return cls.Version(); }
    // Every class is at its own version, which fails nothing.
    void GetClassVersions(std::span<const xxClass* const>, const xxClass&) override {}
    void ReadReference(const char* name, xxSerializable*& object) override;
    void ReadReferencedChild(std::unique_ptr<xxSerializable>& child) override;
    bool ReadPropertyIfPresent(const xxPropertyBase& property, xxObject& object) override;
    void ReadProperties(std::span<const xxPropertyBase* const> templates, xxObject& object) override;

private:
    struct Record {
        xxSerializable* object = nullptr;
        std::unique_ptr<xxSerializable> owned;  // made from the class table, not handed over yet
        xxReferenceBase weak;                   // set for data-model objects
        bool referenceable = false;
        bool root = false;       // the document's root
        bool loaded = false;     // read as a child or bound by a contained read
        bool handedOut = false;  // given to a reference
    };

    friend class xxInputAdapter<CBinaryDMImporter>;
    // How many records ahead a walk over all of them fetches their objects.
    static constexpr std::size_t kFetchAhead = 32;
    template <class K, class T>
    void Get(const char* name, T& value);
    template <class K, class T, class D>
    void GetWithDefault(const char* name, T& value, const D& defaultValue);
    template <class K, class C>
    void GetArray(const char* name, C& values);

    static bool Alive(const Record& r) { return r.object && (!r.referenceable || r.weak.GetObject()); }
    Record& NewRecord(xxSerializable* object);
    // isObject: whether object IsA xxObject, already known.
    Record& NewRecord(xxSerializable* object, bool isObject);
    Record& RecordOf(std::uint32_t id);  // 1..classes
    xxSerializable* Referenced(std::uint32_t id);
    void LoadWithin(xxSerializable& object);
    bool TakeBit();

    template <class T>
    T GetNumber();
    // A count of items of at least Each bytes, checked against what lies before the limit.
    template <std::size_t Each>
    std::size_t GetCount();
    void GetRaw(void* out, std::size_t n);
    void Fill();
    void SeekTo(std::uint64_t position);
    std::uint64_t Remaining() const { return limit_ - position_; }

    ChunkedList<Record, 256> records_;  // 0 null, 1..classes from the class table, then appended
    std::vector<xxSerializable*> frames_;  // the objects whose Load runs
    std::vector<const xxClass*> tableClasses_;  // each class of the class table once
    std::vector<std::uint32_t> scratch_;
    std::unique_ptr<unsigned char[]> block_;
    std::size_t at_ = 0, end_ = 0;  // the block's unread bytes
    std::uint64_t position_ = 0;    // the stream position of block_[at_]
    std::uint64_t limit_ = 0;       // reads stop here (the trailer, while data is read)
    std::uint64_t trailer_ = 0;
    std::uint32_t classes_ = 0;
    bool notifying_ = false;
    bool unlinked_ = false;  // every record's weak reference is reset
};

}  // namespace cartovane
