#include "documents/binary_serializer.h"

#include <algorithm>
#include <limits>
#include <string_view>
#include <type_traits>
#include <unordered_map>

#include "cfx/cfx.h"
#include "datamodel/object.h"
#include "datamodel/stable_numbers.h"
#include "frame/component_io.h"

namespace cartovane {

namespace {

template <class C>
inline constexpr bool kIsBitVector = std::is_same_v<C, std::vector<bool>>;

// A stream that cannot be this document: always E_UNEXPECTED with what is wrong.
[[noreturn]] void Damaged(std::string_view format, std::initializer_list<std::string_view> args = {}) {
    throw Cfx::CfxResult(E_UNEXPECTED, Cfx::CfxFormat(format, args));
}

std::string Number(std::uint64_t n) { return std::to_string(n); }

}  // namespace

// ---- the stream --------------------------------------------------------------------------------

std::uint64_t CBinaryDMSerializer::StreamPosition() {
    ULONG position = 0;
    CheckHost(stream_.Seek(0, SB_SEEK_CUR, &position));
    return position;
}

void CBinaryDMSerializer::StreamSeek(std::uint64_t position) {
    if (position > binary::kMaxPosition) throw Cfx::CfxResult(E_UNEXPECTED, "The document is too large for the binary stream");
    CheckHost(stream_.Seek(static_cast<LONG>(position), SB_SEEK_SET, nullptr));
}

// ---- the writer --------------------------------------------------------------------------------

CBinaryDMExporter::CBinaryDMExporter(ISBStream& stream)
    : CBinaryDMSerializer(stream), block_(std::make_unique_for_overwrite<unsigned char[]>(kBlockBytes)) {}

CBinaryDMExporter::~CBinaryDMExporter() = default;

void CBinaryDMExporter::Flush() {
    // Never more than the reader could reach again.
    if (Position() > binary::kMaxPosition) throw Cfx::CfxResult(E_UNEXPECTED, "The document is too large for the binary stream");
    const std::size_t n = used_;
    if (!n) return;
    ULONG written = 0;
    CheckHost(stream_.Write(block_.get(), static_cast<ULONG>(n), &written));
    if (written != n) throw Cfx::CfxResult(E_FAIL, "The stream took only part of the document");
    flushed_ += n;
    used_ = 0;
}

void CBinaryDMExporter::PutRaw(const void* data, std::size_t n) {
    if (!n) return;
    if (n <= kBlockBytes - used_) {
        std::memcpy(block_.get() + used_, data, n);
        used_ += n;
        return;
    }
    const auto* bytes = static_cast<const unsigned char*>(data);
    while (n) {
        if (used_ == kBlockBytes) Flush();
        const std::size_t part = std::min(n, kBlockBytes - used_);
        std::memcpy(block_.get() + used_, bytes, part);
        used_ += part;
        bytes += part;
        n -= part;
    }
}

template <class T>
void CBinaryDMExporter::PutNumber(T value) {
    if (sizeof(T) > kBlockBytes - used_) Flush();
    binary::PutNumber(block_.get() + used_, value);
    used_ += sizeof(T);
}

void CBinaryDMExporter::Reserve(std::size_t objects) {
    records_.Reserve(objects);
    classTypes_.reserve(objects);
}

void CBinaryDMExporter::WriteHeaderPlaceholder() {
    flushed_ = header_ = StreamPosition();
    used_ = 0;
    headerWritten_ = true;
    PutNumber(binary::kUnfinished);
}

void CBinaryDMExporter::WriteTrailer() {
    if (!headerWritten_) throw Cfx::CfxResult(E_UNEXPECTED, "The binary stream has no header");
    const std::uint64_t trailer = Position();
    if (trailer > binary::kMaxPosition || bits_.Cursor() > static_cast<std::uint64_t>(std::numeric_limits<std::int32_t>::max()))
        throw Cfx::CfxResult(E_UNEXPECTED, "The document is too large for the binary stream");
    Put<int>("CurrPosition", static_cast<int>(bits_.Cursor()));
    WriteBytes("BitSize", bits_.Bytes(), static_cast<std::size_t>(binary::BitTableBytes(bits_.Cursor())));
    PutCount(classTypes_.size());
    for (std::uint32_t type : classTypes_) PutNumber(type);
    Flush();
    StreamSeek(header_);
    unsigned char field[4];
    binary::PutNumber(field, static_cast<std::uint32_t>(trailer));
    ULONG written = 0;
    CheckHost(stream_.Write(field, sizeof field, &written));
    if (written != sizeof field) throw Cfx::CfxResult(E_FAIL, "The stream took only part of the document");
    CheckHost(host::FlushFileStream(&stream_));  // a file's failure shows now, not at its commit
}

std::uint32_t CBinaryDMExporter::Register(const xxSerializable* object, Kind kind, const xxSerializable* parent) {
    if (!object) return 0;
    bool inserted = false;
    Record& r = records_.At(records_.FindOrAdd(object, inserted));
    const bool identified = kind == kReferenced || kind == kChild || kind == kWithId;
    if (inserted) {
        r.kind = kind;
        r.parent = parent;
    } else if (kind != kReferenced) {
        // Loading one object twice, or under two owners, could not be undone.
        if ((kind == kChild || kind == kWithId) && (r.kind == kChild || r.kind == kWithId))
            throw Cfx::CfxResult(E_UNEXPECTED, "Object saved twice");
        r.parent = parent;
        if (r.kind == kReferenced || identified) r.kind = kind;
    }
    // An object first saved without one gets its identifier when it is saved with one.
    if (!r.id && identified && (inserted || kind != kReferenced)) {
        if (classTypes_.size() >= std::numeric_limits<std::uint32_t>::max() - 1)
            throw Cfx::CfxResult(E_UNEXPECTED, "The document is too large for the binary stream");
        classTypes_.push_back(object->ClassType());
        r.id = static_cast<std::uint32_t>(classTypes_.size());
    }
    return r.id;
}

void CBinaryDMExporter::SaveWithin(const xxSerializable& object) {
    stack_.push_back(&object);
    struct Pop {
        std::vector<const xxSerializable*>& stack;
        ~Pop() { stack.pop_back(); }
    } pop{stack_};
    object.Save(*this);
}

template <class K, class T>
void CBinaryDMExporter::Put(const char*, const T& value) {
    if constexpr (std::is_same_v<K, bool>) {
        bits_.Append(value);
    } else if constexpr (xxIsBoolKind<K>) {
        PutNumber(static_cast<std::uint8_t>(value ? 1 : 0));
    } else if constexpr (std::is_same_v<T, std::string>) {
        PutCount(value.size());
        PutRaw(value.data(), value.size());
    } else {
        PutNumber(value);
    }
}

template <class K, class T>
void CBinaryDMExporter::PutWithDefault(const char* name, const T& value, const T& defaultValue) {
    if constexpr (std::is_same_v<K, bool>) {
        bits_.Append(value);  // the value itself, whatever the default
    } else {
        const bool differs = binary::DiffersFromDefault(value, defaultValue);
        WriteAttributePresence("InternalRW", differs);
        if (differs) Put<K>(name, value);
    }
}

template <class K, class C>
void CBinaryDMExporter::PutArray(const char* name, const C& values) {
    using V = typename C::value_type;
    if constexpr (std::is_same_v<K, bool> && kIsBitVector<C>) {
        PutCount(values.size());
        binary::PackBits(values, scratch_);
        for (std::uint32_t word : scratch_) PutNumber(word);
    } else if constexpr (std::is_same_v<V, bool>) {  // a list of truth values: a byte each
        PutCount(values.size());
        for (const bool b : values) PutNumber(static_cast<std::uint8_t>(b ? 1 : 0));
    } else if constexpr (std::is_same_v<C, std::vector<V>> && binary::kSameInMemory<V>) {
        PutCount(values.size());
        PutRaw(values.data(), values.size() * sizeof(V));
    } else {
        PutCount(values.size());
        for (const V& v : values) Put<V>(name, v);
    }
}

void CBinaryDMExporter::WriteBytes(const char*, const void* data, std::size_t byteCount) { PutRaw(data, byteCount); }

void CBinaryDMExporter::WriteReference(const char*, const xxSerializable* object) {
    PutNumber(Register(object, kReferenced, nullptr));
}

void CBinaryDMExporter::WriteReferenceCollection(const char*, const xxReferenceCollection& collection) {
    const std::size_t n = collection.Count();
    scratch_.resize(n);
    for (std::size_t i = 0; i < n; ++i) scratch_[i] = Register(collection.At(i), kReferenced, nullptr);
    PutCount(n);
    if constexpr (binary::kSameInMemory<std::uint32_t>) {
        PutRaw(scratch_.data(), n * sizeof(std::uint32_t));
    } else {
        for (std::uint32_t id : scratch_) PutNumber(id);
    }
}

void CBinaryDMExporter::WritePropertyTemplates(const char*, const std::vector<const xxPropertyBase*>& templates) {
    PutCount(templates.size());
    for (const xxPropertyBase* p : templates) PutNumber(p ? xxPropertyTemplateNumber(*p) : std::uint32_t{0});
}

void CBinaryDMExporter::SaveChildObject(const xxSerializable* object) {
    PutNumber(Register(object, kChild, Top()));
    if (object) SaveWithin(*object);
}

void CBinaryDMExporter::SaveObject(const xxSerializable& object, xxSaveKind kind) {
    switch (kind) {
    case xxSaveKind::WithId: PutNumber(Register(&object, kWithId, Top())); break;
    case xxSaveKind::WithoutId: Register(&object, kWithoutId, Top()); break;
    case xxSaveKind::Unregistered: break;
    }
    SaveWithin(object);
}

// Inline parts keep no identifier, as in the XML documents; the reader still notifies them.
void CBinaryDMExporter::SaveObjectInline(const xxSerializable* object) {
    if (object) SaveObject(*object, xxSaveKind::WithoutId);
}

const xxSerializable* CBinaryDMExporter::GetParentObject() const {
    return stack_.size() < 2 ? nullptr : stack_[stack_.size() - 2];
}

const xxSerializable* CBinaryDMExporter::GetSavedParent(const xxSerializable& object) const {
    const Record* r = records_.Find(&object);
    return r ? r->parent : nullptr;
}

void CBinaryDMExporter::WriteAttributePresence(const char*, bool present) { bits_.Append(present); }

void CBinaryDMExporter::WriteProperty(const xxPropertyBase& property, const xxObject& object) {
    property.SaveTyped(object, *this);
}

// ---- the reader --------------------------------------------------------------------------------

CBinaryDMImporter::CBinaryDMImporter(ISBStream& stream)
    : CBinaryDMSerializer(stream), block_(std::make_unique_for_overwrite<unsigned char[]>(kBlockBytes)) {}

CBinaryDMImporter::~CBinaryDMImporter() {
    // Each record's weak reference unlinks from its object, and the objects lie apart in memory:
    // they are fetched a few records ahead. The references go first, as in a record's own
    // destruction.
    if (unlinked_) return;  // by NotifyAllObjectsLoaded
    const std::size_t n = records_.size();
    for (std::size_t i = 0; i < n; ++i) {
        if (i + kFetchAhead < n) __builtin_prefetch(records_[i + kFetchAhead].weak.GetObject());
        records_[i].weak.Reset();
    }
}

void CBinaryDMImporter::SeekTo(std::uint64_t position) {
    StreamSeek(position);
    position_ = position;
    at_ = end_ = 0;
}

void CBinaryDMImporter::Fill() {
    ULONG got = 0;
    CheckHost(stream_.Read(block_.get(), static_cast<ULONG>(kBlockBytes), &got));
    if (got == 0 || got > kBlockBytes) Damaged("The stream ends before the document does");
    at_ = 0;
    end_ = got;
}

void CBinaryDMImporter::GetRaw(void* out, std::size_t n) {
    if (!n) return;  // out may be null then
    // Most runs are a short text that lies in the block.
    if (n <= end_ - at_ && n <= Remaining()) {
        std::memcpy(out, block_.get() + at_, n);
        at_ += n;
        position_ += n;
        return;
    }
    if (n > Remaining()) {
        if (limit_ == trailer_) Damaged("The document's data runs past the trailer at %1", {Number(trailer_)});
        Damaged("The stream ends before the document does");
    }
    auto* bytes = static_cast<unsigned char*>(out);
    position_ += n;
    while (n) {
        if (at_ == end_) {
            // A large run goes straight into place.
            if (n >= kBlockBytes) {
                ULONG got = 0;
                CheckHost(stream_.Read(bytes, static_cast<ULONG>(std::min<std::size_t>(n, 0x40000000u)), &got));
                if (got == 0 || got > n) Damaged("The stream ends before the document does");
                bytes += got;
                n -= got;
                continue;
            }
            Fill();
        }
        const std::size_t part = std::min(n, end_ - at_);
        std::memcpy(bytes, block_.get() + at_, part);
        at_ += part;
        bytes += part;
        n -= part;
    }
}

template <class T>
T CBinaryDMImporter::GetNumber() {
    if (sizeof(T) <= end_ - at_ && sizeof(T) <= Remaining()) {
        const T value = binary::GetNumber<T>(block_.get() + at_);
        at_ += sizeof(T);
        position_ += sizeof(T);
        return value;
    }
    unsigned char bytes[sizeof(T)];
    GetRaw(bytes, sizeof bytes);
    return binary::GetNumber<T>(bytes);
}

template <std::size_t Each>
std::size_t CBinaryDMImporter::GetCount() {
    const auto n = GetNumber<std::uint64_t>();
    if (n > Remaining() / Each)
        Damaged("A count of %1 at position %2 is more than the document holds", {Number(n), Number(position_ - 8)});
    return static_cast<std::size_t>(n);
}

bool CBinaryDMImporter::TakeBit() {
    if (!bits_.HasNext()) Damaged("The document's bit table is used up after %1 bits", {Number(bits_.Count())});
    return bits_.Take();
}

CBinaryDMImporter::Record& CBinaryDMImporter::NewRecord(xxSerializable* object) {
    return NewRecord(object, object && object->IsA(xxObject::classType));
}

CBinaryDMImporter::Record& CBinaryDMImporter::NewRecord(xxSerializable* object, bool isObject) {
    Record& r = records_.emplace_back();
    r.object = object;
    if (isObject) {
        r.referenceable = true;
        r.weak.Reset(static_cast<xxObject*>(object));
    }
    return r;
}

CBinaryDMImporter::Record& CBinaryDMImporter::RecordOf(std::uint32_t id) {
    if (id == 0 || id > classes_) Damaged("The object identifier %1 is not in the class table of %2", {Number(id), Number(classes_)});
    return records_[id];
}

void CBinaryDMImporter::ReadHeaderAndTrailer(xxSerializable& root) {
    const std::uint64_t start = StreamPosition();
    ULONG size = 0;
    CheckHost(stream_.GetSize(&size));
    position_ = start;
    at_ = end_ = 0;
    limit_ = size;
    trailer_ = 0;
    const auto trailer = GetNumber<std::uint32_t>();
    if (trailer == binary::kUnfinished) Damaged("The document's save never finished");
    if (trailer > binary::kMaxPosition) Damaged("The trailer position %1 lies beyond the stream's reach", {Number(trailer)});
    if (trailer < start + binary::kHeaderBytes) Damaged("The trailer position %1 lies inside the header", {Number(trailer)});
    if (trailer + binary::kTrailerFixedBytes > size)
        Damaged("The trailer position %1 lies beyond the stream's %2 bytes", {Number(trailer), Number(size)});

    SeekTo(trailer);
    const auto bitCount = GetNumber<std::int32_t>();
    if (bitCount < 0) Damaged("The bit count %1 is negative", {std::to_string(bitCount)});
    const std::uint64_t bitBytes = binary::BitTableBytes(static_cast<std::uint64_t>(bitCount));
    if (bitBytes > Remaining() - 8) Damaged("The bit count %1 is more than the stream holds", {Number(static_cast<std::uint64_t>(bitCount))});
    std::vector<unsigned char> bits(static_cast<std::size_t>(bitBytes));
    GetRaw(bits.data(), bits.size());
    bits_.Assign(std::move(bits), static_cast<std::uint64_t>(bitCount));

    const auto classes = GetNumber<std::uint64_t>();
    if (classes == 0) Damaged("The document has no objects");
    if (classes > Remaining() / 4) Damaged("The class count %1 is more than the stream holds", {Number(classes)});
    std::vector<std::uint32_t> types(static_cast<std::size_t>(classes));
    if constexpr (binary::kSameInMemory<std::uint32_t>) {
        GetRaw(types.data(), types.size() * sizeof(std::uint32_t));
    } else {
        for (std::uint32_t& type : types) type = GetNumber<std::uint32_t>();
    }

    // Every class is checked before any object is made, each once: a document has a few
    // classes, met again and again (molecule, atom, atom, bond, ...).
    struct Checked {
        const xxClass* cls;
        bool treeRoot, object;  // what IsA answers, asked once
    };
    std::vector<Checked> checked;
    std::unordered_map<std::uint32_t, std::size_t> farClasses;
    std::vector<std::uint32_t> found(types.size());  // index into checked
    std::size_t last = 0;
    for (std::size_t i = 0; i < types.size(); ++i) {
        if (!checked.empty() && checked[last].cls->TypeId() == types[i]) {
            found[i] = static_cast<std::uint32_t>(last);
            continue;
        }
        // The first few classes by a look along them, any others by the index.
        constexpr std::size_t kNear = 8;
        last = 0;
        while (last < std::min(checked.size(), kNear) && checked[last].cls->TypeId() != types[i]) ++last;
        if (last == kNear) {
            const auto it = farClasses.find(types[i]);
            last = it == farClasses.end() ? checked.size() : it->second;
        }
        if (last == checked.size()) {
            if (checked.size() >= kNear) farClasses.emplace(types[i], checked.size());
            const xxClass* cls = xxClass::FindClassByTypeIfExists(types[i]);
            if (!cls) Damaged("Object %1 is of the unknown class type %2", {Number(i + 1), Number(types[i])});
            if (i == 0 && cls != &root.GetClass())
                Damaged("The document's root is a %1 but the stream's root is a %2", {root.GetClass().GetName(), cls->GetName()});
            const bool treeRoot = cls->IsA(xxTreeRoot::classType);
            if (!treeRoot && cls->IsAbstract())
                Damaged("Object %1 is of the abstract class %2", {Number(i + 1), cls->GetName()});
            checked.push_back({cls, treeRoot, static_cast<bool>(cls->IsA(xxObject::classType))});
        }
        found[i] = static_cast<std::uint32_t>(last);
    }

    tableClasses_.clear();
    for (const Checked& c : checked) tableClasses_.push_back(c.cls);

    records_.clear();
    records_.reserve(types.size() + 1);
    NewRecord(nullptr);
    for (const std::uint32_t k : found) {
        const Checked& c = checked[k];
        if (c.treeRoot) {
            NewRecord(&root).root = true;
            continue;
        }
        std::unique_ptr<xxClassInstance> instance = c.cls->CreateNew();
        const bool isObject = &instance->GetClass() == c.cls ? c.object : instance->IsA(xxObject::classType);
        xxSerializable* object = isObject ? static_cast<xxObject*>(instance.get())
                                          : dynamic_cast<xxSerializable*>(instance.get());
        if (!object) Damaged("Object %1 is of the class %2, which cannot be loaded", {Number(records_.size()), c.cls->GetName()});
        instance.release();
        Record& r = NewRecord(object, isObject);
        r.owned.reset(object);
    }
    classes_ = static_cast<std::uint32_t>(classes);
    trailer_ = trailer;
    SeekTo(start + 4);
    limit_ = trailer;
}

void CBinaryDMImporter::CheckEverythingRead() {
    if (position_ != trailer_)
        Damaged("The document's data ends at %1, not at the trailer at %2", {Number(position_), Number(trailer_)});
    if (bits_.HasNext())
        Damaged("The document used %1 of its %2 bits", {Number(bits_.Cursor()), Number(bits_.Count())});
}

void CBinaryDMImporter::NotifyAllObjectsLoaded() {
    notifying_ = true;
    struct Done {
        bool& flag;
        ~Done() { flag = false; }
    } done{notifying_};
    for (std::size_t i = 1; i < records_.size(); ++i) {
        // Every live object is called, and the objects lie apart in memory.
        if (i + kFetchAhead < records_.size()) __builtin_prefetch(records_[i + kFetchAhead].object);
        Record& r = records_[i];
        if (!Alive(r)) continue;
        frames_.push_back(r.object);
        struct Pop {
            std::vector<xxSerializable*>& frames;
            ~Pop() { frames.pop_back(); }
        } pop{frames_};
        r.object->OnAllObjectsLoaded(*this);
        // Unlinked while the object is at hand, rather than by the destructor's pass over them all.
        r.weak.Reset();
    }
    unlinked_ = true;
}

bool CBinaryDMImporter::TableHasClassOf(unsigned typeId) const {
    return std::any_of(tableClasses_.begin(), tableClasses_.end(), [&](const xxClass* c) { return c->IsA(typeId); });
}

void CBinaryDMImporter::LoadWithin(xxSerializable& object) {
    if (frames_.size() >= binary::kMaxDepth)
        Damaged("The document's objects nest deeper than %1 levels", {Number(binary::kMaxDepth)});
    frames_.push_back(&object);
    struct Pop {
        std::vector<xxSerializable*>& frames;
        ~Pop() { frames.pop_back(); }
    } pop{frames_};
    object.Load(*this);
}

template <class K, class T>
void CBinaryDMImporter::Get(const char*, T& value) {
    if constexpr (std::is_same_v<K, bool>) {
        value = TakeBit();
    } else if constexpr (xxIsBoolKind<K>) {
        value = GetNumber<std::uint8_t>() != 0;
    } else if constexpr (std::is_same_v<T, std::string>) {
        const std::size_t n = GetCount<1>();
        value.resize(n);
        GetRaw(value.data(), n);
    } else {
        value = GetNumber<T>();
    }
}

template <class K, class T, class D>
void CBinaryDMImporter::GetWithDefault(const char* name, T& value, const D& defaultValue) {
    if constexpr (std::is_same_v<K, bool>) {
        value = TakeBit();
    } else if (HasAttribute("InternalRW")) {
        Get<K>(name, value);
    } else {
        value = T(defaultValue);
    }
}

template <class K, class C>
void CBinaryDMImporter::GetArray(const char* name, C& values) {
    using V = typename C::value_type;
    values.clear();
    if constexpr (std::is_same_v<K, bool> && kIsBitVector<C>) {
        const auto bits = GetNumber<std::uint64_t>();
        const std::uint64_t words = binary::BitVectorWords(bits);
        if (words > Remaining() / 4)
            Damaged("A bit vector of %1 bits at position %2 is more than the document holds", {Number(bits), Number(position_ - 8)});
        scratch_.resize(static_cast<std::size_t>(words));
        for (std::uint32_t& word : scratch_) word = GetNumber<std::uint32_t>();
        values.reserve(static_cast<std::size_t>(bits));
        for (std::uint64_t j = 0; j < bits; ++j) values.push_back(binary::WordBit(scratch_, j));
    } else if constexpr (std::is_same_v<V, bool>) {
        const std::size_t n = GetCount<1>();
        for (std::size_t i = 0; i < n; ++i) values.push_back(GetNumber<std::uint8_t>() != 0);
    } else if constexpr (std::is_same_v<V, std::string>) {
        const std::size_t n = GetCount<8>();
        values.reserve(n);
        for (std::size_t i = 0; i < n; ++i) Get<V>(name, values.emplace_back());
    } else if constexpr (std::is_same_v<C, std::vector<V>> && binary::kSameInMemory<V>) {
        const std::size_t n = GetCount<sizeof(V)>();
        values.resize(n);
        GetRaw(values.data(), n * sizeof(V));
    } else {
        const std::size_t n = GetCount<sizeof(V)>();
        for (std::size_t i = 0; i < n; ++i) values.push_back(GetNumber<V>());
    }
}

void CBinaryDMImporter::ReadBytes(const char*, void* buffer, std::size_t byteCount) { GetRaw(buffer, byteCount); }

bool CBinaryDMImporter::HasAttribute(const char*) {
    if (notifying_) return false;  // the data has been read
    return TakeBit();
}

bool CBinaryDMImporter::ReadPropertyIfPresent(const xxPropertyBase& property, xxObject& object) {
    if (!HasAttribute(property.Name())) return false;
    property.LoadTyped(object, *this);
    return true;
}

void CBinaryDMImporter::ReadProperties(std::span<const xxPropertyBase* const> templates, xxObject& object) {
    if (notifying_) return;  // the data has been read
    for (const xxPropertyBase* p : templates)
        if (TakeBit()) p->LoadTypedOwned(object, *this);
}

xxSerializable* CBinaryDMImporter::Referenced(std::uint32_t id) {
    if (id == 0) return nullptr;
    Record& r = RecordOf(id);
    if (!Alive(r)) return nullptr;
    r.handedOut = true;
    return r.object;
}

void CBinaryDMImporter::ReadReference(const char*, xxSerializable*& object) {
    object = Referenced(GetNumber<std::uint32_t>());
}

void CBinaryDMImporter::ReadReferenceCollection(const char*, xxReferenceCollection& collection) {
    const std::size_t n = GetCount<4>();
    scratch_.resize(n);
    if constexpr (binary::kSameInMemory<std::uint32_t>) {
        GetRaw(scratch_.data(), n * sizeof(std::uint32_t));
    } else {
        for (std::uint32_t& id : scratch_) id = GetNumber<std::uint32_t>();
    }
    collection.Clear();
    collection.Reserve(n);
    for (std::uint32_t id : scratch_) collection.Append(Referenced(id));
}

void CBinaryDMImporter::ReadPropertyTemplates(const char*, std::vector<const xxPropertyBase*>& templates) {
    const std::size_t n = GetCount<4>();
    scratch_.resize(n);
    for (std::uint32_t& number : scratch_) number = GetNumber<std::uint32_t>();
    templates.clear();
    templates.reserve(n);
    for (std::uint32_t number : scratch_) {
        const xxPropertyBase* p = number ? xxPropertyTemplateByNumber(number) : nullptr;
        if (number && !p) Damaged("The property template number %1 is unknown", {Number(number)});
        templates.push_back(p);
    }
}

void CBinaryDMImporter::ReadContainedObject(xxSerializable& object, xxSerializable*, xxSaveKind kind) {
    if (kind == xxSaveKind::WithId) {
        const auto id = GetNumber<std::uint32_t>();
        Record& r = RecordOf(id);
        if (r.loaded) Damaged("Object %1 is loaded twice", {Number(id)});
        if (&r.object->GetClass() != &object.GetClass())
            Damaged("Object %1 is a %2 in the document but loads into a %3",
                    {Number(id), r.object->GetClass().GetName(), object.GetClass().GetName()});
        if (r.object != &object) {
            if (r.handedOut) {
                // References already hold the class table's object; this one gets its own record.
                NewRecord(&object).loaded = true;
            } else {
                r.owned.reset();
                r.object = &object;
                r.referenceable = object.IsA(xxObject::classType);
                r.weak.Reset(r.referenceable ? static_cast<xxObject*>(&object) : nullptr);
            }
        }
        r.loaded = true;
    } else if (kind == xxSaveKind::WithoutId) {
        NewRecord(&object).loaded = true;
    }
    LoadWithin(object);
}

void CBinaryDMImporter::MergeAttributes(xxSerializable& object, xxSerializable& owner) {
    if (&owner != GetCurrentObject()) throw Cfx::CfxResult(E_UNEXPECTED, "Unable to merge attributes for requested object");
    ReadContainedObject(object, &owner, xxSaveKind::WithoutId);
}

void CBinaryDMImporter::ReadReferencedChild(std::unique_ptr<xxSerializable>& child) {
    child.reset();
    const auto id = GetNumber<std::uint32_t>();
    if (id == 0) return;
    Record& r = RecordOf(id);
    if (r.root) Damaged("The document's root is read as the child %1", {Number(id)});
    if (r.loaded || !r.owned) Damaged("Object %1 is read as a child twice", {Number(id)});
    r.loaded = true;
    LoadWithin(*r.object);
    child = std::move(r.owned);
}

}  // namespace cartovane
