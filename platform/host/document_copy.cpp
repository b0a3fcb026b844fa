#include "host/document_copy.h"

#include <algorithm>
#include <any>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "cfx/cfx.h"
#include "datamodel/serialise.h"
#include "datamodel/serialise_adapter.h"

namespace host {
namespace {

struct Record;

struct Entry {
    enum class Kind { Value, Presence, Reference, References, Child, Contained, Inline };
    Kind kind;
    std::string name;
    std::any value;
    std::vector<const xxSerializable*> objects;  // Reference (one), References
    std::shared_ptr<Record> record;              // Child (null for a null child), Contained, Inline
};

struct Record {
    const xxSerializable* source = nullptr;
    std::vector<Entry> entries;
};

// ---- saving into records ------------------------------------------------------

class Recorder final : public xxOutputAdapter<Recorder> {
public:
    std::shared_ptr<Record> SaveRoot(const xxSerializable& object) { return SaveInto(object); }

    bool IsInProcessCopy() const override { return true; }

    void WriteBytes(const char* name, const void* data, std::size_t byteCount) override {
        const auto* bytes = static_cast<const unsigned char*>(data);
        Put<unsigned char>(name, std::vector<unsigned char>(bytes, bytes + byteCount));
    }
    void WriteReference(const char* name, const xxSerializable* object) override {
        Entry& e = Add(Entry::Kind::Reference, name);
        e.objects.push_back(object);
        Count(object);
    }
    void WriteReferenceCollection(const char* name, const xxReferenceCollection& collection) override {
        Entry& e = Add(Entry::Kind::References, name);
        for (std::size_t i = 0; i < collection.Count(); ++i) {
            e.objects.push_back(collection.At(i));
            Count(collection.At(i));
        }
    }
    void WritePropertyTemplates(const char* name, const std::vector<const xxPropertyBase*>& templates) override {
        Put<const xxPropertyBase*>(name, templates);
    }
    void SaveChildObject(const xxSerializable* object) override {
        Entry& e = Add(Entry::Kind::Child, "");
        if (object) e.record = SaveInto(*object);
    }
    void SaveObject(const xxSerializable& object, xxSaveKind) override {
        Add(Entry::Kind::Contained, "").record = SaveInto(object);
    }
    void SaveObjectInline(const xxSerializable* object) override {
        if (object) Add(Entry::Kind::Inline, "").record = SaveInto(*object);
    }
    const xxSerializable* GetParentObject() const override {
        return stack_.size() >= 2 ? stack_[stack_.size() - 2]->source : nullptr;
    }
    const xxSerializable* GetSavedParent(const xxSerializable& object) const override {
        auto it = parents_.find(&object);
        return it == parents_.end() ? nullptr : it->second;
    }
    bool IsReferencedMoreThan(const xxSerializable& object, unsigned n) override {
        auto it = references_.find(&object);
        return it != references_.end() && it->second > n;
    }
    void WriteAttributePresence(const char* name, bool present) override {
        Add(Entry::Kind::Presence, name).value = present;
    }

private:
    friend class xxOutputAdapter<Recorder>;
    // Every value is kept, whatever its default.
    template <class K, class T>
    void Put(const char* name, const T& value) {
        Add(Entry::Kind::Value, name).value = value;
    }
    template <class K, class T>
    void PutWithDefault(const char* name, const T& value, const T&) {
        Put<K>(name, value);
    }
    template <class K, class C>
    void PutArray(const char* name, const C& values) {
        Put<K>(name, values);
    }
    Entry& Add(Entry::Kind kind, const char* name) {
        stack_.back()->entries.push_back(Entry{kind, name ? name : "", {}, {}, nullptr});
        return stack_.back()->entries.back();
    }
    void Count(const xxSerializable* object) {
        if (object) ++references_[object];
    }
    std::shared_ptr<Record> SaveInto(const xxSerializable& object) {
        auto record = std::make_shared<Record>();
        record->source = &object;
        parents_[&object] = stack_.empty() ? nullptr : stack_.back()->source;
        stack_.push_back(record.get());
        try {
            object.Save(*this);
        } catch (...) {
            stack_.pop_back();
            throw;
        }
        stack_.pop_back();
        return record;
    }

    std::vector<Record*> stack_;
    std::map<const xxSerializable*, const xxSerializable*> parents_;
    std::map<const xxSerializable*, unsigned> references_;
};

// ---- loading from records -----------------------------------------------------

class Replayer final : public xxInputAdapter<Replayer> {
public:
    explicit Replayer(const xxSerializable& sourceRoot, xxSerializable& targetRoot) {
        copies_[&sourceRoot] = &targetRoot;
    }

    void LoadRoot(xxSerializable& target, const Record& record) {
        LoadFrom(target, record);
        for (xxSerializable* object : loaded_) object->OnAllObjectsLoaded(*this);
    }

    bool IsInProcessCopy() const override { return true; }

    void ReadBytes(const char* name, void* buffer, std::size_t byteCount) override {
        std::vector<unsigned char> bytes;
        Get<unsigned char>(name, bytes);
        std::copy_n(bytes.begin(), std::min(byteCount, bytes.size()), static_cast<unsigned char*>(buffer));
    }
    void ReadReferenceCollection(const char* name, xxReferenceCollection& collection) override {
        const Entry& e = Take(Entry::Kind::References, name);
        collection.Clear();
        collection.Reserve(e.objects.size());
        for (const xxSerializable* old : e.objects) collection.Append(CopyOf(old));
    }
    void ReadPropertyTemplates(const char* name, std::vector<const xxPropertyBase*>& templates) override {
        Get<const xxPropertyBase*>(name, templates);
    }
    void ReadContainedObject(xxSerializable& object, xxSerializable*, xxSaveKind) override {
        const Entry& e = Take(Entry::Kind::Contained, "");
        copies_[e.record->source] = &object;
        LoadFrom(object, *e.record);
    }
    void MergeAttributes(xxSerializable& object, xxSerializable&) override {
        const Entry& e = Take(Entry::Kind::Inline, "");
        copies_[e.record->source] = &object;
        LoadFrom(object, *e.record);
    }
    xxSerializable* GetCurrentObject() override { return frames_.empty() ? nullptr : frames_.back().target; }
    bool HasAttribute(const char* name) override {
        Frame& f = frames_.back();
        if (f.pos >= f.record->entries.size()) return false;
        const Entry& e = f.record->entries[f.pos];
        if (e.name != name) return false;
        if (e.kind != Entry::Kind::Presence) return true;
        ++f.pos;
        return std::any_cast<bool>(e.value);
    }
    unsigned GetClassVersion(const xxClass& cls, bool) override { return cls.Version(); }
    void ReadReference(const char* name, xxSerializable*& object) override {
        const Entry& e = Take(Entry::Kind::Reference, name);
        object = CopyOf(e.objects.empty() ? nullptr : e.objects.front());
    }
    void ReadReferencedChild(std::unique_ptr<xxSerializable>& child) override {
        const Entry& e = Take(Entry::Kind::Child, "");
        child.reset();
        if (!e.record) return;
        const xxSerializable* old = e.record->source;
        std::unique_ptr<xxSerializable> made;
        if (auto it = pending_.find(old); it != pending_.end()) {
            made = std::move(it->second);
            pending_.erase(it);
        } else {
            made = Create(*old);
            copies_[old] = made.get();
        }
        LoadFrom(*made, *e.record);
        child = std::move(made);
    }

private:
    struct Frame {
        const Record* record;
        std::size_t pos;
        xxSerializable* target;
    };

    [[noreturn]] static void Mismatch(const char* name) {
        throw Cfx::CfxResult(E_UNEXPECTED, std::string("Document copy: the saved data has no \"") + name + "\" here");
    }
    const Entry* Peek(Entry::Kind kind, const char* name) const {
        const Frame& f = frames_.back();
        if (f.pos >= f.record->entries.size()) return nullptr;
        const Entry& e = f.record->entries[f.pos];
        return e.kind == kind && e.name == name ? &e : nullptr;
    }
    const Entry& Take(Entry::Kind kind, const char* name) {
        const Entry* e = Peek(kind, name);
        if (!e) Mismatch(name);
        ++frames_.back().pos;
        return *e;
    }
    friend class xxInputAdapter<Replayer>;
    template <class K, class T>
    void Get(const char* name, T& value) {
        value = std::any_cast<const T&>(Take(Entry::Kind::Value, name).value);
    }
    template <class K, class T, class D>
    void GetWithDefault(const char* name, T& value, const D& defaultValue) {
        if (Peek(Entry::Kind::Value, name)) Get<K>(name, value);
        else value = defaultValue;
    }
    template <class K, class C>
    void GetArray(const char* name, C& values) {
        Get<K>(name, values);
    }

    static std::unique_ptr<xxSerializable> Create(const xxSerializable& old) {
        std::unique_ptr<xxClassInstance> instance = old.GetClass().CreateNew();
        auto* object = dynamic_cast<xxSerializable*>(instance.get());
        if (!object) throw Cfx::CfxResult(E_UNEXPECTED, "Document copy: class '" + old.GetClass().GetName() + "' cannot be copied");
        instance.release();
        return std::unique_ptr<xxSerializable>(object);
    }
    // The copy of a referenced object; one not loaded yet is made now and waits for its turn.
    xxSerializable* CopyOf(const xxSerializable* old) {
        if (!old) return nullptr;
        if (auto it = copies_.find(old); it != copies_.end()) return it->second;
        std::unique_ptr<xxSerializable> made = Create(*old);
        xxSerializable* copy = made.get();
        copies_[old] = copy;
        pending_[old] = std::move(made);
        return copy;
    }
    void LoadFrom(xxSerializable& target, const Record& record) {
        frames_.push_back(Frame{&record, 0, &target});
        try {
            target.Load(*this);
        } catch (...) {
            frames_.pop_back();
            throw;
        }
        frames_.pop_back();
        loaded_.push_back(&target);
    }

    std::vector<Frame> frames_;
    std::map<const xxSerializable*, xxSerializable*> copies_;
    // Referenced before being read; those never read (outside the copied tree) go with the copier.
    std::map<const xxSerializable*, std::unique_ptr<xxSerializable>> pending_;
    std::vector<xxSerializable*> loaded_;
};

}  // namespace

void CopyTree(const xxTreeRoot& source, xxTreeRoot& target) {
    if (&source.GetClass() != &target.GetClass())
        throw Cfx::CfxResult(E_INVALIDARG, "Cannot copy a " + source.GetClass().GetName() + " into a " +
                                               target.GetClass().GetName());
    if (&source == &target) return;
    Recorder recorder;
    std::shared_ptr<Record> record = recorder.SaveRoot(source);
    target.RemoveDescendents();
    try {
        Replayer replayer(source, target);
        replayer.LoadRoot(target, *record);
    } catch (...) {
        target.RemoveDescendents();
        throw;
    }
}

}  // namespace host
