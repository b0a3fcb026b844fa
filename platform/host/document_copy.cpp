#include "host/document_copy.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <deque>
#include <memory>
#include <string>
#include <string_view>
#include <type_traits>
#include <unordered_map>
#include <vector>

#include "base/address_table.h"
#include "base/fixed_texts.h"
#include "cfx/cfx.h"
#include "datamodel/serialise.h"
#include "datamodel/serialise_adapter.h"
#include "datamodel/tree_size.h"

// The copy is one walk: an object's Save is recorded into a compact byte record, the copy's Load
// reads it back at once, and an owned child is only marked in its owner's record and recorded
// when the copy reads it. So only the records along the current path exist at any time, and
// references find their copies through one table of the objects met.
//
// A record is a run of entries: a tag byte (the value's type, or what else the entry holds), the
// number of its name, then its bytes: numbers as they lie in memory, texts and lists with their
// length first, objects as their source addresses. Contained and inline objects are recorded
// whole inside their owner's record, as they may live only while their owner's Save runs.
// Property values are not recorded for an object whose record is loaded at once: its copy takes
// them from the source, typed, as it loads (no text either way).

namespace host {
namespace {

template <class... Ts>
struct TypeList {};

// The value types of the typed operations (xxBool is bool, and the 32-bit longs are the ints),
// then the property templates.
using ValueTypes =
    TypeList<float, double, std::string, bool, unsigned char, unsigned int, int, unsigned short, short,
             qor::deque<float>, std::vector<float>, std::vector<double>, std::vector<std::string>, qor::deque<bool>,
             std::vector<bool>, std::vector<unsigned char>, std::vector<unsigned int>, std::vector<int>,
             std::vector<unsigned short>, std::vector<short>, qor::deque<int>, std::vector<const xxPropertyBase*>>;

template <class T, class... Ts>
constexpr std::uint8_t IndexOf(TypeList<Ts...>) {
    std::uint8_t i = 0;
    bool found = false;
    ((found || (std::is_same_v<T, Ts> ? (found = true) : (++i, false))), ...);
    return found ? i : 0xFF;
}

template <class T>
constexpr std::uint8_t kValueTag = IndexOf<T>(ValueTypes{});

enum Tag : std::uint8_t {
    kValues = 64,  // value tags lie below
    kPresence = kValues,
    kReference,
    kReferences,
    kChild,      // an owned child, recorded when it is read; address 0 for a null child
    kContained,  // a contained object and its record
    kInline,     // a part saved inline and its record
    kValuesOf,   // the property values are the source object's, given when the copy loads
};

// A growing run of bytes that, unlike a vector, does not clear what it is about to overwrite.
class Bytes {
public:
    unsigned char* Extend(std::size_t n) {
        if (n > capacity_ - size_) Grow(n);
        unsigned char* at = data_.get() + size_;
        size_ += n;
        return at;
    }
    void clear() { size_ = 0; }
    const unsigned char* data() const { return data_.get(); }
    std::size_t size() const { return size_; }

private:
    void Grow(std::size_t n) {
        const std::size_t capacity = std::max({std::size_t{256}, 2 * capacity_, size_ + n});
        auto grown = std::make_unique_for_overwrite<unsigned char[]>(capacity);
        if (size_) std::memcpy(grown.get(), data_.get(), size_);
        data_ = std::move(grown);
        capacity_ = capacity;
    }
    std::unique_ptr<unsigned char[]> data_;
    std::size_t size_ = 0;
    std::size_t capacity_ = 0;
};

constexpr std::size_t kMaxVarint = 10;

// Seven bits a byte, the lowest first; the bytes written.
std::size_t VarintInto(unsigned char* out, std::uint64_t n) {
    std::size_t k = 0;
    while (n >= 0x80) {
        out[k++] = static_cast<unsigned char>(n | 0x80);
        n >>= 7;
    }
    out[k++] = static_cast<unsigned char>(n);
    return k;
}

void PutRaw(Bytes& out, const void* data, std::size_t n) {
    if (n) std::memcpy(out.Extend(n), data, n);
}

void PutVarint(Bytes& out, std::uint64_t n) {
    unsigned char bytes[kMaxVarint];
    PutRaw(out, bytes, VarintInto(bytes, n));
}

template <class T>
void Encode(Bytes& out, const T& value) {
    if constexpr (std::is_arithmetic_v<T> || std::is_pointer_v<T>) {
        PutRaw(out, &value, sizeof value);
    } else if constexpr (std::is_same_v<T, std::string>) {
        PutVarint(out, value.size());
        PutRaw(out, value.data(), value.size());
    } else {
        using V = typename T::value_type;
        PutVarint(out, value.size());
        if constexpr (std::is_same_v<T, std::vector<V>> && (std::is_arithmetic_v<V> || std::is_pointer_v<V>) &&
                      !std::is_same_v<V, bool>) {
            PutRaw(out, value.data(), value.size() * sizeof(V));
        } else {
            for (const V& v : value) Encode(out, v);
        }
    }
}

// Where a record is read: an entry's bytes never reach past the end of its record.
struct Reader {
    const unsigned char* pos;
    const unsigned char* end;

    [[noreturn]] static void Overrun() {
        throw Cfx::CfxResult(E_UNEXPECTED, "Document copy: a record ends before its entry");
    }
    std::uint64_t Varint() {
        std::uint64_t n = 0;
        for (int shift = 0; shift < 64; shift += 7) {
            if (pos == end) Overrun();
            const unsigned char b = *pos++;
            n |= std::uint64_t{b & 0x7Fu} << shift;
            if (!(b & 0x80)) return n;
        }
        Overrun();
    }
    const unsigned char* Take(std::uint64_t n) {
        if (n > static_cast<std::uint64_t>(end - pos)) Overrun();
        const unsigned char* at = pos;
        pos += n;
        return at;
    }
    // A count of items of at least `each` bytes, checked against what is left.
    std::size_t Count(std::size_t each) {
        const std::uint64_t n = Varint();
        if (n > static_cast<std::uint64_t>(end - pos) / each) Overrun();
        return static_cast<std::size_t>(n);
    }
    template <class T>
    T Raw() {
        T value;
        std::memcpy(&value, Take(sizeof value), sizeof value);
        return value;
    }
};

template <class T>
void Decode(Reader& in, T& value) {
    if constexpr (std::is_arithmetic_v<T> || std::is_pointer_v<T>) {
        value = in.Raw<T>();
    } else if constexpr (std::is_same_v<T, std::string>) {
        const std::size_t n = in.Count(1);
        value.assign(reinterpret_cast<const char*>(in.Take(n)), n);
    } else {
        using V = typename T::value_type;
        const std::size_t n = in.Count(std::is_same_v<V, std::string> ? 1 : sizeof(V));
        value.clear();
        if constexpr (std::is_same_v<T, std::vector<V>> && (std::is_arithmetic_v<V> || std::is_pointer_v<V>) &&
                      !std::is_same_v<V, bool>) {
            value.resize(n);
            if (n) std::memcpy(value.data(), in.Take(n * sizeof(V)), n * sizeof(V));
        } else {
            if constexpr (requires { value.reserve(n); }) value.reserve(n);
            for (std::size_t i = 0; i < n; ++i) {
                V v{};
                Decode(in, v);
                value.push_back(std::move(v));
            }
        }
    }
}

bool SameText(const std::string& text, const char* name) { return std::strcmp(text.c_str(), name) == 0; }

// Names by number. Most names are literals met again and again at the same address, so a small
// cache by address finds them; the text is still compared unless the name is a literal, as a
// name may sit in a reused buffer.
class Names {
public:
    std::uint32_t Intern(const char* name) {
        if (!name) name = "";
        Cached& c = cache_[Slot(name)];
        if (c.name == name && (c.fixed || SameText(*texts_[c.number].text, name))) return c.number;
        auto [it, added] = numbers_.try_emplace(name, static_cast<std::uint32_t>(texts_.size()));
        if (added) texts_.push_back({&it->first});
        const bool fixed = fixed_.Holds(name);
        c = {name, it->second, fixed};
        if (fixed) texts_[it->second].saved = name;
        return it->second;
    }
    // Whether number is name's; a literal met once under that number is known by its address.
    bool Is(std::uint64_t number, const char* name) {
        if (number >= texts_.size()) return false;
        Text& t = texts_[static_cast<std::size_t>(number)];
        if (name && (name == t.saved || name == t.read)) return true;
        if (!SameText(*t.text, name ? name : "")) return false;
        if (name && fixed_.Holds(name)) t.read = name;
        return true;
    }

private:
    struct Cached {
        const char* name = nullptr;
        std::uint32_t number = 0;
        bool fixed = false;
    };
    struct Text {
        const std::string* text;
        const char* saved = nullptr;  // literals of this text met by Intern and by Is
        const char* read = nullptr;
    };
    static std::size_t Slot(const char* name) {
        return static_cast<std::size_t>((reinterpret_cast<std::uintptr_t>(name) * 0x9E3779B97F4A7C15ull) >> 56);
    }
    FixedTexts fixed_;
    std::array<Cached, 256> cache_{};
    std::unordered_map<std::string, std::uint32_t> numbers_;  // its keys stay where they are
    std::vector<Text> texts_;
};

// What the copy knows of each source object it met. Records refer to objects by their numbers
// here (plus one, 0 for null), so a reference costs one lookup by address, when it is recorded.
struct ObjectRecord {
    xxSerializable* copy = nullptr;
    std::uint32_t parent = 0;  // number + 1 of the object being saved when it was saved; 0: none
    std::uint32_t references : 30 = 0;  // recorded so far
    std::uint32_t pending : 1 = 0;      // the copy was made for a reference and waits to be read
    std::uint32_t loaded : 1 = 0;       // the copy has loaded
};

struct CopyState {
    Names names;
    AddressTable<xxSerializable, ObjectRecord> objects;
    std::vector<std::uint32_t> path;  // numbers of the objects whose Save or Load runs
    struct Recent {
        const xxSerializable* object = nullptr;
        std::uint32_t number = 0;
    };
    std::array<Recent, 4096> recent{};

    // References mostly name objects met shortly before (a bond its atoms), so a small cache by
    // address answers them without a probe of the whole table, which misses the processor's caches.
    std::uint32_t Number(const xxSerializable& object) {
        Recent& r = recent[(reinterpret_cast<std::uintptr_t>(&object) >> 4) % recent.size()];
        if (r.object == &object) return r.number;
        bool inserted = false;
        r = {&object, objects.FindOrAdd(&object, inserted)};
        return r.number;
    }
    std::uint32_t Mark(const xxSerializable* object) { return object ? Number(*object) + 1 : 0; }
    const xxSerializable* SourceAt(std::size_t fromTop) const {
        return path.size() > fromTop ? objects.KeyAt(path[path.size() - 1 - fromTop]) : nullptr;
    }
};

// Pops the path when a Save or Load ends, thrown out of or not.
struct OnPath {
    CopyState& state;
    OnPath(CopyState& s, std::uint32_t number) : state(s) { state.path.push_back(number); }
    ~OnPath() { state.path.pop_back(); }
    OnPath(const OnPath&) = delete;
    OnPath& operator=(const OnPath&) = delete;
};

// ---- saving into records -----------------------------------------------------------------------

class Recorder final : public xxOutputAdapter<Recorder> {
public:
    explicit Recorder(CopyState& state) : state_(state) {}

    // Records the Save of object number `number` into out (emptied first). A record loaded at
    // once, while its source is what it was, leaves the property values to be copied directly.
    void Record(std::uint32_t number, Bytes& out, bool loadedAtOnce) {
        const xxSerializable& object = *state_.objects.KeyAt(number);
        state_.objects.At(number).parent = state_.path.empty() ? 0 : state_.path.back() + 1;
        out.clear();
        struct Restore {
            Bytes*& out;
            Bytes* outer;
            bool& direct;
            bool outerDirect;
            ~Restore() {
                out = outer;
                direct = outerDirect;
            }
        } restore{out_, out_, direct_, direct_};
        out_ = &out;
        direct_ = loadedAtOnce;
        OnPath onPath(state_, number);
        object.Save(*this);
    }

    bool IsInProcessCopy() const override { return true; }
    void WriteBytes(const char* name, const void* data, std::size_t byteCount) override {
        Header(kValueTag<std::vector<unsigned char>>, name);
        PutVarint(*out_, byteCount);
        PutRaw(*out_, data, byteCount);
    }
    void WriteReference(const char* name, const xxSerializable* object) override {
        Header(kReference, name);
        Reference(object);
    }
    void WriteReferenceCollection(const char* name, const xxReferenceCollection& collection) override {
        Header(kReferences, name);
        const std::size_t n = collection.Count();
        PutVarint(*out_, n);
        for (std::size_t i = 0; i < n; ++i) Reference(collection.At(i));
    }
    void WritePropertyTemplates(const char* name, const std::vector<const xxPropertyBase*>& templates) override {
        Put<const xxPropertyBase*>(name, templates);
    }
    void SaveChildObject(const xxSerializable* object) override {
        Header(kChild, "");
        Encode(*out_, state_.Mark(object));
    }
    void SaveObject(const xxSerializable& object, xxSaveKind) override { Nested(kContained, object); }
    void SaveObjectInline(const xxSerializable* object) override {
        if (object) Nested(kInline, *object);
    }
    const xxSerializable* GetParentObject() const override { return state_.SourceAt(1); }
    const xxSerializable* GetSavedParent(const xxSerializable& object) const override {
        const ObjectRecord* r = state_.objects.Find(&object);
        return r && r->parent ? state_.objects.KeyAt(r->parent - 1) : nullptr;
    }
    bool IsReferencedMoreThan(const xxSerializable& object, unsigned n) override {
        const ObjectRecord* r = state_.objects.Find(&object);
        return r && r->references > n;
    }
    void WriteAttributePresence(const char* name, bool present) override {
        Header(kPresence, name);
        Encode(*out_, present);
    }
    // Only the object the record is of: a contained or inline part may not outlive its owner's Save.
    bool WriteValuesOf(const xxObject& object) override {
        if (!direct_ || state_.SourceAt(0) != &object) return false;
        Header(kValuesOf, "");
        Encode(*out_, &object);
        return true;
    }

private:
    friend class xxOutputAdapter<Recorder>;
    // Every value is kept, whatever its default.
    template <class K, class T>
    void Put(const char* name, const T& value) {
        Header(kValueTag<T>, name);
        Encode(*out_, value);
    }
    template <class K, class T>
    void PutWithDefault(const char* name, const T& value, const T&) {
        Put<K>(name, value);
    }
    template <class K, class C>
    void PutArray(const char* name, const C& values) {
        Put<K>(name, values);
    }

    void Header(std::uint8_t tag, const char* name) {
        unsigned char bytes[1 + kMaxVarint];
        bytes[0] = tag;
        PutRaw(*out_, bytes, 1 + VarintInto(bytes + 1, state_.names.Intern(name)));
    }
    void Reference(const xxSerializable* object) {
        const std::uint32_t mark = state_.Mark(object);
        Encode(*out_, mark);
        if (mark) {
            ObjectRecord& r = state_.objects.At(mark - 1);
            if (r.references != 0x3FFFFFFFu) ++r.references;
        }
    }
    void Nested(std::uint8_t tag, const xxSerializable& object) {
        const std::uint32_t number = state_.Number(object);
        Bytes nested;
        Record(number, nested, false);
        Header(tag, "");
        Encode(*out_, number);
        PutVarint(*out_, nested.size());
        PutRaw(*out_, nested.data(), nested.size());
    }

    CopyState& state_;
    Bytes* out_ = nullptr;
    bool direct_ = false;
};

// ---- loading from records ----------------------------------------------------------------------

class Replayer final : public xxInputAdapter<Replayer> {
public:
    Replayer(CopyState& state, const xxSerializable& sourceRoot, xxSerializable& targetRoot)
        : state_(state), recorder_(state), root_(state.Number(sourceRoot)) {
        state_.objects.At(root_).copy = &targetRoot;
    }

    // Then every copy that loaded is told so, in the order their sources were met (close to the
    // document order in which the XML reader tells its objects).
    void CopyRoot(xxSerializable& target) {
        RecordAndLoad(root_, target);
        state_.objects.ForEach([&](const xxSerializable*, const ObjectRecord& r) {
            if (r.loaded) r.copy->OnAllObjectsLoaded(*this);
        });
    }

    bool IsInProcessCopy() const override { return true; }
    void ReadBytes(const char* name, void* buffer, std::size_t byteCount) override {
        Reader& in = Take(kValueTag<std::vector<unsigned char>>, name);
        const std::size_t n = in.Count(1);
        const unsigned char* bytes = in.Take(n);
        std::copy_n(bytes, std::min(byteCount, n), static_cast<unsigned char*>(buffer));
    }
    void ReadReferenceCollection(const char* name, xxReferenceCollection& collection) override {
        Reader& in = Take(kReferences, name);
        const std::size_t n = in.Count(sizeof(std::uint32_t));
        collection.Clear();
        collection.Reserve(n);
        for (std::size_t i = 0; i < n; ++i) collection.Append(CopyOf(in.Raw<std::uint32_t>()));
    }
    void ReadPropertyTemplates(const char* name, std::vector<const xxPropertyBase*>& templates) override {
        Get<const xxPropertyBase*>(name, templates);
    }
    void ReadContainedObject(xxSerializable& object, xxSerializable*, xxSaveKind) override {
        LoadNested(kContained, object);
    }
    void MergeAttributes(xxSerializable& object, xxSerializable&) override { LoadNested(kInline, object); }
    xxSerializable* GetCurrentObject() override { return frames_.empty() ? nullptr : frames_.back().target; }
    // After the load (OnAllObjectsLoaded) no attribute is left to find.
    bool HasAttribute(const char* name) override {
        if (frames_.empty()) return false;
        Reader at = frames_.back().in;
        if (at.pos == at.end) return false;
        const std::uint8_t tag = *at.pos++;
        if (!state_.names.Is(at.Varint(), name)) return false;
        if (tag != kPresence) return true;
        const bool present = at.Raw<bool>();
        frames_.back().in = at;
        return present;
    }
    // A present value read with one look at the name.
    bool ReadTextIfPresent(const char* name, std::string& text) override {
        if (frames_.empty()) return false;
        Reader at = frames_.back().in;
        if (at.pos == at.end) return false;
        const std::uint8_t tag = *at.pos++;
        const std::uint64_t number = at.Varint();
        if (!state_.names.Is(number, name)) return false;
        if (tag == kPresence && !at.Raw<bool>()) {
            frames_.back().in = at;
            return false;
        }
        if (tag == kPresence) {
            // The value follows under the same name.
            if (at.pos == at.end || *at.pos++ != kValueTag<std::string> || at.Varint() != number) Mismatch(name);
        } else if (tag != kValueTag<std::string>) {
            Mismatch(name);
        }
        Decode(at, text);
        frames_.back().in = at;
        return true;
    }
    unsigned GetClassVersion(const xxClass& cls, bool) override { return cls.Version(); }
    const xxObject* ValuesSourceOf(const xxObject& object) override {
        if (frames_.empty() || frames_.back().target != &object || !NextIs(kValuesOf)) return nullptr;
        return Take(kValuesOf, "").Raw<const xxObject*>();
    }
    void ReadReference(const char* name, xxSerializable*& object) override {
        object = CopyOf(Take(kReference, name).Raw<std::uint32_t>());
    }
    void ReadReferencedChild(std::unique_ptr<xxSerializable>& child) override {
        child.reset();
        const auto mark = Take(kChild, "").Raw<std::uint32_t>();
        if (!mark) return;
        const std::uint32_t number = Known(mark);
        ObjectRecord& r = state_.objects.At(number);
        std::unique_ptr<xxSerializable> made;
        if (r.pending) {
            auto it = pending_.find(number);
            made = std::move(it->second);
            pending_.erase(it);
            r.pending = 0;
        } else {
            made = Create(*state_.objects.KeyAt(number));
            r.copy = made.get();
        }
        RecordAndLoad(number, *made);
        child = std::move(made);
    }

private:
    struct Frame {
        Reader in;
        xxSerializable* target;
    };

    friend class xxInputAdapter<Replayer>;
    template <class K, class T>
    void Get(const char* name, T& value) {
        Decode(Take(kValueTag<T>, name), value);
    }
    template <class K, class T, class D>
    void GetWithDefault(const char* name, T& value, const D& defaultValue) {
        if (NextIsValue(name)) Get<K>(name, value);
        else value = defaultValue;
    }
    template <class K, class C>
    void GetArray(const char* name, C& values) {
        Get<K>(name, values);
    }

    [[noreturn]] static void Mismatch(const char* name) {
        throw Cfx::CfxResult(E_UNEXPECTED,
                             std::string("Document copy: the saved data has no \"") + (name ? name : "") + "\" here");
    }
    bool NextIs(std::uint8_t tag) const {
        const Reader& at = frames_.back().in;
        return at.pos != at.end && *at.pos == tag;
    }
    bool NextIsValue(const char* name) const {
        if (frames_.empty()) return false;
        Reader at = frames_.back().in;
        if (at.pos == at.end || *at.pos >= kValues) return false;
        ++at.pos;
        return state_.names.Is(at.Varint(), name);
    }
    // The reader of the next entry's bytes, which must have that tag and name.
    Reader& Take(std::uint8_t tag, const char* name) {
        if (frames_.empty()) Mismatch(name);
        Reader& in = frames_.back().in;
        Reader at = in;
        if (at.pos == at.end || *at.pos++ != tag || !state_.names.Is(at.Varint(), name)) Mismatch(name);
        in = at;
        return in;
    }
    // The number of an object a record names (plus one).
    std::uint32_t Known(std::uint32_t mark) const {
        if (mark == 0 || mark > state_.objects.Numbers()) Reader::Overrun();
        return mark - 1;
    }

    static std::unique_ptr<xxSerializable> Create(const xxSerializable& old) {
        std::unique_ptr<xxClassInstance> instance = old.GetClass().CreateNew();
        xxSerializable* object = nullptr;
        if (instance && instance->IsA(xxObject::classType)) object = static_cast<xxObject*>(instance.get());
        else object = dynamic_cast<xxSerializable*>(instance.get());
        if (!object)
            throw Cfx::CfxResult(E_UNEXPECTED, "Document copy: class '" + old.GetClass().GetName() + "' cannot be copied");
        instance.release();
        return std::unique_ptr<xxSerializable>(object);
    }
    // The copy of a referenced object; one not loaded yet is made now and waits for its turn.
    xxSerializable* CopyOf(std::uint32_t mark) {
        if (!mark) return nullptr;
        const std::uint32_t number = Known(mark);
        ObjectRecord& r = state_.objects.At(number);
        if (r.copy) return r.copy;
        std::unique_ptr<xxSerializable> made = Create(*state_.objects.KeyAt(number));
        r.copy = made.get();
        r.pending = 1;
        pending_.emplace(number, std::move(made));
        return r.copy;
    }

    void LoadFrom(xxSerializable& target, std::uint32_t number, Reader in) {
        OnPath onPath(state_, number);
        frames_.push_back(Frame{in, &target});
        struct Pop {
            std::vector<Frame>& frames;
            ~Pop() { frames.pop_back(); }
        } pop{frames_};
        target.Load(*this);
        state_.objects.At(number).loaded = 1;
    }
    // Records object `number` into the record of the next depth and loads target from it.
    void RecordAndLoad(std::uint32_t number, xxSerializable& target) {
        if (records_.size() <= frames_.size()) records_.resize(frames_.size() + 1);
        Bytes& record = records_[frames_.size()];
        recorder_.Record(number, record, true);
        LoadFrom(target, number, Reader{record.data(), record.data() + record.size()});
    }
    void LoadNested(std::uint8_t tag, xxSerializable& object) {
        Reader& in = Take(tag, "");
        const std::uint32_t number = Known(in.Raw<std::uint32_t>() + 1);
        const std::size_t n = in.Count(1);
        const unsigned char* nested = in.Take(n);
        state_.objects.At(number).copy = &object;
        LoadFrom(object, number, Reader{nested, nested + n});
    }

    CopyState& state_;
    Recorder recorder_;
    const std::uint32_t root_;
    std::vector<Frame> frames_;
    std::deque<Bytes> records_;  // one per depth, kept for the next object at that depth
    // Made for references before being read; those never read (outside the copied tree) go with
    // the copier.
    std::unordered_map<std::uint32_t, std::unique_ptr<xxSerializable>> pending_;
};

}  // namespace

void CopyTree(const xxTreeRoot& source, xxTreeRoot& target) {
    if (&source.GetClass() != &target.GetClass())
        throw Cfx::CfxResult(E_INVALIDARG, "Cannot copy a " + source.GetClass().GetName() + " into a " +
                                               target.GetClass().GetName());
    if (&source == &target) return;
    target.RemoveDescendents();
    try {
        CopyState state;
        state.objects.Reserve(EstimatedObjectsBelow(source));
        Replayer replayer(state, source, target);
        replayer.CopyRoot(target);
    } catch (...) {
        target.RemoveDescendents();
        throw;
    }
}

}  // namespace host
