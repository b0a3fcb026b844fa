// The data model's serialiser interfaces. An object describes itself to an xxOutput in Save
// and rebuilds itself from an xxInput in Load; the serialiser decides the encoding (the XML
// documents, the binary undo/redo stream).
//
// Twelve value types: float, double, std::string, bool, xxBool, unsigned char, a 32-bit
// unsigned long, a 32-bit long, unsigned short, short, unsigned int and int. On this platform
// xxBool is bool and the two 32-bit longs are std::uint32_t / std::int32_t, that is unsigned int
// and int, so those three slots cannot be overloads of the same name: their operations carry the
// type in the name (WriteXxBoolValue, WriteULong32Array, ReadLong32Value, ...). The others are
// overloads of WriteArray / WriteValue / ReadArray / ReadValue. Names are C strings.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <span>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <vector>

#include "datamodel/class.h"

namespace qor {
// The data model's paged list.
template <class T>
using deque = std::deque<T>;
}  // namespace qor

class xxOutput;
class xxInput;
class xxPropertyBase;

// What the serialisers save and load. Save must be deterministic and free of side effects: a
// serialiser may call it several times for one save. Load mirrors Save call for call (the
// binary stream has no names, so order matters there).
class xxSerializable : public xxClassInstance {
public:
    virtual void Save(xxOutput& out) const = 0;
    virtual void Load(xxInput& in) = 0;
    // After the whole document is read; no attributes or children can be read then.
    virtual void OnAllObjectsLoaded(xxInput&) {}
    std::uint32_t ClassType() const { return GetClass().TypeId(); }

protected:
    xxSerializable() = default;
    xxSerializable(const xxSerializable&) = default;
    xxSerializable& operator=(const xxSerializable&) = default;
};

// How SaveObject / ReadContainedObject treat a contained object.
enum class xxSaveKind : int { WithId = 0, WithoutId = 1, Unregistered = 2 };

// A list of object pointers that serialisers read and write without knowing its type.
class xxReferenceCollection {
public:
    virtual std::size_t Count() const = 0;
    virtual void Reserve(std::size_t n) = 0;
    virtual void Clear() = 0;
    virtual xxSerializable* At(std::size_t i) const = 0;
    virtual void AppendRepeated(xxSerializable* object, std::size_t n) = 0;
    virtual void Append(xxSerializable* object) = 0;

protected:
    xxReferenceCollection() = default;
    xxReferenceCollection(const xxReferenceCollection&) = default;
    xxReferenceCollection& operator=(const xxReferenceCollection&) = default;
    ~xxReferenceCollection() = default;
};

// The object as a T: null for null; throws std::invalid_argument for an object of another type.
template <class T>
T* xxSerializableCast(xxSerializable* object) {
    if (!object) return nullptr;
    // Data-model classes answer by type id, which costs less than a dynamic_cast.
    if constexpr (requires { T::classType; } && std::is_base_of_v<xxSerializable, T>) {
        if (object->IsA(T::classType)) return static_cast<T*>(object);
    }
    if (T* t = dynamic_cast<T*>(object)) return t;
    throw std::invalid_argument("Object of class '" + object->GetClass().GetName() + "' is not of the expected type");
}

// A reference collection over a std::vector<T*>; null entries are kept. Appending an object
// that is not a T throws std::invalid_argument. Built over a const vector it can only be read.
template <class T>
class xxPointerCollection final : public xxReferenceCollection {
public:
    explicit xxPointerCollection(std::vector<T*>& items) : items_(&items), edit_(&items) {}
    explicit xxPointerCollection(const std::vector<T*>& items) : items_(&items) {}

    std::size_t Count() const override { return items_->size(); }
    void Reserve(std::size_t n) override { Edit().reserve(n); }
    void Clear() override { Edit().clear(); }
    xxSerializable* At(std::size_t i) const override {
        return const_cast<std::remove_const_t<T>*>(items_->at(i));
    }
    void AppendRepeated(xxSerializable* object, std::size_t n) override { Edit().insert(Edit().end(), n, xxSerializableCast<T>(object)); }
    void Append(xxSerializable* object) override { Edit().push_back(xxSerializableCast<T>(object)); }

private:
    std::vector<T*>& Edit() {
        if (!edit_) throw std::logic_error("a read-only reference collection cannot change");
        return *edit_;
    }
    const std::vector<T*>* items_;
    std::vector<T*>* edit_ = nullptr;
};

// What both directions share.
class xxInputOutput {
public:
    virtual ~xxInputOutput() = default;
    // Whether the serialiser copies objects within one process (the host's document copy).
    virtual bool IsInProcessCopy() const = 0;

protected:
    xxInputOutput() = default;
    xxInputOutput(const xxInputOutput&) = default;
    xxInputOutput& operator=(const xxInputOutput&) = default;
};

class xxOutputBase : public xxInputOutput {};
class xxInputBase : public xxInputOutput {};

class xxOutput : public xxOutputBase {
public:
    // float
    virtual void WriteArray(const char* name, const qor::deque<float>& values) = 0;
    virtual void WriteArray(const char* name, const std::vector<float>& values) = 0;
    virtual void WriteValue(const char* name, float value, float defaultValue) = 0;
    virtual void WriteValue(const char* name, float value) = 0;
    // double
    virtual void WriteArray(const char* name, const std::vector<double>& values) = 0;
    virtual void WriteValue(const char* name, double value, double defaultValue) = 0;
    virtual void WriteValue(const char* name, double value) = 0;
    // std::string
    virtual void WriteArray(const char* name, const std::vector<std::string>& values) = 0;
    virtual void WriteValue(const char* name, const std::string& value, const std::string& defaultValue) = 0;
    virtual void WriteValue(const char* name, const std::string& value) = 0;
    // bool; std::vector<bool> is a bit vector
    virtual void WriteArray(const char* name, const qor::deque<bool>& values) = 0;
    virtual void WriteArray(const char* name, const std::vector<bool>& values) = 0;
    virtual void WriteValue(const char* name, bool value, bool defaultValue) = 0;
    virtual void WriteValue(const char* name, bool value) = 0;
    // xxBool: a list of truth values, not a bit vector
    virtual void WriteXxBoolArray(const char* name, const std::vector<xxBool>& values) = 0;
    virtual void WriteXxBoolValue(const char* name, xxBool value, xxBool defaultValue) = 0;
    virtual void WriteXxBoolValue(const char* name, xxBool value) = 0;
    // unsigned char
    virtual void WriteArray(const char* name, const std::vector<unsigned char>& values) = 0;
    virtual void WriteValue(const char* name, unsigned char value, unsigned char defaultValue) = 0;
    virtual void WriteValue(const char* name, unsigned char value) = 0;
    // 32-bit unsigned long
    virtual void WriteULong32Array(const char* name, const std::vector<std::uint32_t>& values) = 0;
    virtual void WriteULong32Value(const char* name, std::uint32_t value, std::uint32_t defaultValue) = 0;
    virtual void WriteULong32Value(const char* name, std::uint32_t value) = 0;
    // 32-bit long
    virtual void WriteLong32Array(const char* name, const std::vector<std::int32_t>& values) = 0;
    virtual void WriteLong32Value(const char* name, std::int32_t value, std::int32_t defaultValue) = 0;
    virtual void WriteLong32Value(const char* name, std::int32_t value) = 0;
    // unsigned short
    virtual void WriteArray(const char* name, const std::vector<unsigned short>& values) = 0;
    virtual void WriteValue(const char* name, unsigned short value, unsigned short defaultValue) = 0;
    virtual void WriteValue(const char* name, unsigned short value) = 0;
    // short
    virtual void WriteArray(const char* name, const std::vector<short>& values) = 0;
    virtual void WriteValue(const char* name, short value, short defaultValue) = 0;
    virtual void WriteValue(const char* name, short value) = 0;
    // unsigned int
    virtual void WriteArray(const char* name, const std::vector<unsigned int>& values) = 0;
    virtual void WriteValue(const char* name, unsigned int value, unsigned int defaultValue) = 0;
    virtual void WriteValue(const char* name, unsigned int value) = 0;
    // int
    virtual void WriteArray(const char* name, const qor::deque<int>& values) = 0;
    virtual void WriteArray(const char* name, const std::vector<int>& values) = 0;
    virtual void WriteValue(const char* name, int value, int defaultValue) = 0;
    virtual void WriteValue(const char* name, int value) = 0;

    // A string literal is a string, not a bool.
    void WriteValue(const char* name, const char* value) { WriteValue(name, std::string(value)); }
    void WriteValue(const char* name, const char* value, const char* defaultValue) {
        WriteValue(name, std::string(value), std::string(defaultValue));
    }

    virtual void Reserved1() = 0;  // keeps the host's table order; does nothing in every serialiser
    virtual void WriteBytes(const char* name, const void* data, std::size_t byteCount) = 0;
    // Null writes a null reference.
    virtual void WriteReference(const char* name, const xxSerializable* object) = 0;
    virtual void WriteReferenceCollection(const char* name, const xxReferenceCollection& collection) = 0;
    virtual void WritePropertyTemplates(const char* name, const std::vector<const xxPropertyBase*>& templates) = 0;
    // An owned child; null saves a null child.
    virtual void SaveChildObject(const xxSerializable* object) = 0;
    // A contained object, with or without an identifier, or not registered at all.
    virtual void SaveObject(const xxSerializable& object, xxSaveKind kind) = 0;
    // A part of the object being saved, written into its element; null is ignored.
    virtual void SaveObjectInline(const xxSerializable* object) = 0;
    // The object below the one being saved, null at the top.
    virtual const xxSerializable* GetParentObject() const = 0;
    // The object that was being saved when object was saved; null when unknown.
    virtual const xxSerializable* GetSavedParent(const xxSerializable& object) const = 0;
    virtual bool IsReferencedMoreThan(const xxSerializable& object, unsigned n) = 0;
    virtual void WriteAttributePresence(const char* name, bool present) = 0;
    virtual void Reserved2() = 0;
    // False while the serialiser only follows objects and references (a counting pass): Save
    // may leave out values that cost to compute, as none would be kept.
    virtual bool WantsValues() const { return true; }
    // For a copy within the process: true when the copy will take object's property values
    // from object itself while it loads, so Save need not write them; false writes them.
    virtual bool WriteValuesOf(const xxObject&) { return false; }
    // One property value of object, after its presence. By default its text goes to WriteValue
    // (the XML documents keep every value as text); a serialiser that keeps numbers as numbers
    // answers with property.SaveTyped(object, *this).
    virtual void WriteProperty(const xxPropertyBase& property, const xxObject& object);
};

class xxInput : public xxInputBase {
public:
    // float
    virtual void ReadArray(const char* name, qor::deque<float>& values) = 0;
    virtual void ReadArray(const char* name, std::vector<float>& values) = 0;
    virtual void ReadValue(const char* name, float& value, float defaultValue) = 0;
    virtual void ReadValue(const char* name, float& value) = 0;
    // double
    virtual void ReadArray(const char* name, std::vector<double>& values) = 0;
    virtual void ReadValue(const char* name, double& value, double defaultValue) = 0;
    virtual void ReadValue(const char* name, double& value) = 0;
    // std::string
    virtual void ReadArray(const char* name, std::vector<std::string>& values) = 0;
    virtual void ReadValue(const char* name, std::string& value, const char* defaultValue) = 0;
    virtual void ReadValue(const char* name, std::string& value) = 0;
    // bool
    virtual void ReadArray(const char* name, qor::deque<bool>& values) = 0;
    virtual void ReadArray(const char* name, std::vector<bool>& values) = 0;
    virtual void ReadValue(const char* name, bool& value, bool defaultValue) = 0;
    virtual void ReadValue(const char* name, bool& value) = 0;
    // xxBool
    virtual void ReadXxBoolArray(const char* name, std::vector<xxBool>& values) = 0;
    virtual void ReadXxBoolValue(const char* name, xxBool& value, xxBool defaultValue) = 0;
    virtual void ReadXxBoolValue(const char* name, xxBool& value) = 0;
    // unsigned char
    virtual void ReadArray(const char* name, std::vector<unsigned char>& values) = 0;
    virtual void ReadValue(const char* name, unsigned char& value, unsigned char defaultValue) = 0;
    virtual void ReadValue(const char* name, unsigned char& value) = 0;
    // 32-bit unsigned long
    virtual void ReadULong32Array(const char* name, std::vector<std::uint32_t>& values) = 0;
    virtual void ReadULong32Value(const char* name, std::uint32_t& value, std::uint32_t defaultValue) = 0;
    virtual void ReadULong32Value(const char* name, std::uint32_t& value) = 0;
    // 32-bit long
    virtual void ReadLong32Array(const char* name, std::vector<std::int32_t>& values) = 0;
    virtual void ReadLong32Value(const char* name, std::int32_t& value, std::int32_t defaultValue) = 0;
    virtual void ReadLong32Value(const char* name, std::int32_t& value) = 0;
    // unsigned short
    virtual void ReadArray(const char* name, std::vector<unsigned short>& values) = 0;
    virtual void ReadValue(const char* name, unsigned short& value, unsigned short defaultValue) = 0;
    virtual void ReadValue(const char* name, unsigned short& value) = 0;
    // short
    virtual void ReadArray(const char* name, std::vector<short>& values) = 0;
    virtual void ReadValue(const char* name, short& value, short defaultValue) = 0;
    virtual void ReadValue(const char* name, short& value) = 0;
    // unsigned int
    virtual void ReadArray(const char* name, std::vector<unsigned int>& values) = 0;
    virtual void ReadValue(const char* name, unsigned int& value, unsigned int defaultValue) = 0;
    virtual void ReadValue(const char* name, unsigned int& value) = 0;
    // int
    virtual void ReadArray(const char* name, qor::deque<int>& values) = 0;
    virtual void ReadArray(const char* name, std::vector<int>& values) = 0;
    virtual void ReadValue(const char* name, int& value, int defaultValue) = 0;
    virtual void ReadValue(const char* name, int& value) = 0;

    virtual void Reserved1() = 0;  // keeps the host's table order; does nothing in every serialiser
    virtual void ReadBytes(const char* name, void* buffer, std::size_t byteCount) = 0;
    virtual void ReadReferenceCollection(const char* name, xxReferenceCollection& collection) = 0;
    // Unknown template names give null entries.
    virtual void ReadPropertyTemplates(const char* name, std::vector<const xxPropertyBase*>& templates) = 0;
    // Loads the next contained object into one the caller made (and owns).
    virtual void ReadContainedObject(xxSerializable& object, xxSerializable* owner = nullptr,
                                     xxSaveKind kind = xxSaveKind::WithId) = 0;
    // Loads a part saved inline; owner must be the object being loaded.
    virtual void MergeAttributes(xxSerializable& object, xxSerializable& owner) = 0;
    virtual xxSerializable* GetCurrentObject() = 0;
    virtual bool HasAttribute(const char* name) = 0;
    // The attribute's text when the current object has it; false, text unchanged, when not.
    virtual bool ReadTextIfPresent(const char* name, std::string& text) {
        if (!HasAttribute(name)) return false;
        ReadValue(name, text);
        return true;
    }
    // The counterpart of xxOutput::WriteProperty: reads the value into object when the current
    // object has it, false (object unchanged) when not; a value the property refuses throws
    // FromStringException. By default through ReadTextIfPresent and the property's text.
    virtual bool ReadPropertyIfPresent(const xxPropertyBase& property, xxObject& object);
    // ReadPropertyIfPresent for each of templates in order, all of them templates of object's
    // own classes (xxObject::Load's), so a serialiser need not check their owner again.
    virtual void ReadProperties(std::span<const xxPropertyBase* const> templates, xxObject& object) {
        for (const xxPropertyBase* p : templates) ReadPropertyIfPresent(*p, object);
    }
    // The counterpart of xxOutput::WriteValuesOf: the object whose property values object takes
    // (one of its class, alive and unchanged), or null when they are to be read as saved.
    virtual const xxObject* ValuesSourceOf(const xxObject&) { return nullptr; }
    // The class's version in the document; 0 when silent and the document does not know it.
    virtual unsigned GetClassVersion(const xxClass& cls, bool silent = false) = 0;
    // GetClassVersion for each class of an object's chain (xxObject::Load), silently for all but
    // the object's own class.
    virtual void GetClassVersions(std::span<const xxClass* const> chain, const xxClass& own) {
        for (const xxClass* c : chain) GetClassVersion(*c, c != &own);
    }
    // Null for a null reference. The object may not be loaded yet (a forward reference); it
    // then belongs to the reader until it is read as a child.
    virtual void ReadReference(const char* name, xxSerializable*& object) = 0;
    // The next owned child, created by the reader and handed over; null for a null child.
    virtual void ReadReferencedChild(std::unique_ptr<xxSerializable>& child) = 0;

    // Typed forms: an object of another type throws std::invalid_argument.
    template <class T>
    T* ReadReferenceTo(const char* name) {
        xxSerializable* object = nullptr;
        ReadReference(name, object);
        return xxSerializableCast<T>(object);
    }
    template <class T>
    std::unique_ptr<T> ReadChild() {
        std::unique_ptr<xxSerializable> child;
        ReadReferencedChild(child);
        T* typed = xxSerializableCast<T>(child.get());
        child.release();
        return std::unique_ptr<T>(typed);
    }
};
