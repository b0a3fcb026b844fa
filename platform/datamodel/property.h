// Property templates: typed values of data-model objects that may be unassigned. Each class
// declares its templates as static members and lists them in its property table, so
// serialisers can walk every value of an object generically.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "datamodel/forward.h"
#include "datamodel/geometry.h"
#include "datamodel/graphics.h"

enum class xxValueType : std::uint8_t { Bool, Int, UnsignedInt, Double, String, Point3d, Rational, Matrix3x3, Color };

class xxRestrictable;
class xxOutput;
class xxInput;

class xxPropertyBase {
public:
    using OwnerClass = const xxClass& (*)();
    // bit: the template's bit of the object's assignment mask (datamodel/property_bits.h).
    constexpr xxPropertyBase(const char* name, xxValueType type, OwnerClass owner, unsigned bit)
        : name_(name), type_(type), owner_(owner), bit_(bit) {}
    const char* Name() const { return name_; }
    xxValueType Type() const { return type_; }
    unsigned Bit() const { return bit_; }
    // The bit as a mask, for setters that assign their field themselves.
    std::uint32_t Mask() const { return std::uint32_t{1} << bit_; }

    virtual bool IsAssigned(const xxObject& object) const = 0;
    virtual void UnassignValue(xxObject& object) const = 0;
    // The value as text, whatever its type (locale-free; doubles round-trip).
    virtual std::string GetFromDifferentType(const xxObject& object) const = 0;
    // Parses text of the property's type; false (object unchanged) when it does not parse.
    virtual bool SetFromText(xxObject& object, std::string_view text) const = 0;
    // Gives to the value of from where from's is assigned (both objects of the declaring class).
    virtual void CopyValue(const xxObject& from, xxObject& to) const = 0;
    // The value through the serialiser's operations of its own type, for a serialiser that keeps
    // numbers as numbers (xxOutput::WriteProperty); LoadTyped reads what SaveTyped wrote and
    // throws FromStringException for a value the property refuses. A template without a type of
    // its own goes by its text.
    virtual void SaveTyped(const xxObject& object, xxOutput& out) const;
    virtual void LoadTyped(xxObject& object, xxInput& in) const;
    // LoadTyped for an object known to be of the declaring class (one of the object's own
    // templates), which is then not checked again: a load reads millions of values.
    virtual void LoadTypedOwned(xxObject& object, xxInput& in) const;
    // The restrictable standing for this value of the object, when the value can be fixed.
    virtual xxRestrictable* GetAsRestrictable(xxObject& object) const;

protected:
    ~xxPropertyBase() = default;
    // Throws Cfx::CfxResult E_INVALIDARG when the object is not of the declaring class.
    void CheckOwner(const xxObject& object) const;

private:
    const char* name_;
    xxValueType type_;
    OwnerClass owner_;  // looked up at use: templates may be built before the class record
    unsigned bit_;
    mutable std::atomic<unsigned> ownerType_{0};  // the owner's type id, once looked up
};

// A class's own property templates; its bases' come from the bases' tables.
struct xxPropertyTable {
    std::span<const xxPropertyBase* const> properties;
};

namespace xxValueText {
std::string ToText(bool v);
std::string ToText(int v);
std::string ToText(unsigned v);
std::string ToText(double v);
std::string ToText(const std::string& v);
std::string ToText(const xxPoint3d& v);
std::string ToText(const xxRational& v);
std::string ToText(const xxMatrix3x3& v);  // nine numbers row by row, separated by ","
std::string ToText(const xxColor& v);      // the packed 0xAARRGGBB in decimal
bool FromText(std::string_view text, bool& v);
bool FromText(std::string_view text, int& v);
bool FromText(std::string_view text, unsigned& v);
bool FromText(std::string_view text, double& v);
bool FromText(std::string_view text, std::string& v);
bool FromText(std::string_view text, xxPoint3d& v);
bool FromText(std::string_view text, xxRational& v);
bool FromText(std::string_view text, xxMatrix3x3& v);
bool FromText(std::string_view text, xxColor& v);
}  // namespace xxValueText

// The property value types through the serialisers' typed operations: a point is its three
// doubles, a rational its numerator and denominator, a matrix its nine doubles row by row, a
// colour its packed 0xAARRGGBB as a 32-bit unsigned long.
namespace xxValueIO {
void Write(xxOutput& out, const char* name, bool v);
void Write(xxOutput& out, const char* name, int v);
void Write(xxOutput& out, const char* name, unsigned v);
void Write(xxOutput& out, const char* name, double v);
void Write(xxOutput& out, const char* name, const std::string& v);
void Write(xxOutput& out, const char* name, const xxPoint3d& v);
void Write(xxOutput& out, const char* name, const xxRational& v);
void Write(xxOutput& out, const char* name, const xxMatrix3x3& v);
void Write(xxOutput& out, const char* name, const xxColor& v);
void Read(xxInput& in, const char* name, bool& v);
void Read(xxInput& in, const char* name, int& v);
void Read(xxInput& in, const char* name, unsigned& v);
void Read(xxInput& in, const char* name, double& v);
void Read(xxInput& in, const char* name, std::string& v);
void Read(xxInput& in, const char* name, xxPoint3d& v);
void Read(xxInput& in, const char* name, xxRational& v);
void Read(xxInput& in, const char* name, xxMatrix3x3& v);
void Read(xxInput& in, const char* name, xxColor& v);
// Throws FromStringException for a value read that the property refuses.
[[noreturn]] void Refused(const xxPropertyBase& property, std::string text);
}  // namespace xxValueIO

template <class T>
constexpr xxValueType ValueTypeOf();
template <> constexpr xxValueType ValueTypeOf<bool>() { return xxValueType::Bool; }
template <> constexpr xxValueType ValueTypeOf<int>() { return xxValueType::Int; }
template <> constexpr xxValueType ValueTypeOf<unsigned>() { return xxValueType::UnsignedInt; }
template <> constexpr xxValueType ValueTypeOf<double>() { return xxValueType::Double; }
template <> constexpr xxValueType ValueTypeOf<std::string>() { return xxValueType::String; }
template <> constexpr xxValueType ValueTypeOf<xxPoint3d>() { return xxValueType::Point3d; }
template <> constexpr xxValueType ValueTypeOf<xxRational>() { return xxValueType::Rational; }
template <> constexpr xxValueType ValueTypeOf<xxMatrix3x3>() { return xxValueType::Matrix3x3; }
template <> constexpr xxValueType ValueTypeOf<xxColor>() { return xxValueType::Color; }

// What every typed template does the same way through its own GetValue, SetValue and
// IsAssigned (Self): the text form and the copy of a value.
template <class T, class Self>
class xxTypedPropertyTemplate : public xxPropertyBase {
public:
    using xxPropertyBase::xxPropertyBase;

    std::string GetFromDifferentType(const xxObject& object) const override {
        return xxValueText::ToText(Typed().GetValue(object));
    }
    bool SetFromText(xxObject& object, std::string_view text) const override {
        T value{};
        if (!xxValueText::FromText(text, value) || !Accepts(value)) return false;
        Typed().SetValue(object, std::move(value));
        return true;
    }
    void CopyValue(const xxObject& from, xxObject& to) const override {
        if (Typed().IsAssigned(from)) Typed().SetValue(to, Typed().GetValue(from));
    }
    void SaveTyped(const xxObject& object, xxOutput& out) const override {
        xxValueIO::Write(out, this->Name(), Typed().GetValue(object));
    }
    void LoadTyped(xxObject& object, xxInput& in) const override {
        T value{};
        xxValueIO::Read(in, this->Name(), value);
        if (!Accepts(value)) xxValueIO::Refused(*this, xxValueText::ToText(value));
        Typed().SetValue(object, std::move(value));
    }
    void LoadTypedOwned(xxObject& object, xxInput& in) const override {
        T value{};
        xxValueIO::Read(in, this->Name(), value);
        if (!Accepts(value)) xxValueIO::Refused(*this, xxValueText::ToText(value));
        Typed().SetOwnedValue(object, std::move(value));
    }

protected:
    // Whether a value read from a document may be stored.
    virtual bool Accepts(const T&) const { return true; }

private:
    const Self& Typed() const { return static_cast<const Self&>(*this); }
};

// A property whose value lives in a field of the owning class, with its assigned state in a
// bit of the object's assignment mask. Unassigned values read as the default.
template <class T>
class xxPropertyTemplate : public xxTypedPropertyTemplate<T, xxPropertyTemplate<T>> {
public:
    using Field = T& (*)(xxObject&);
    using OwnerClass = xxPropertyBase::OwnerClass;
    xxPropertyTemplate(const char* name, OwnerClass owner, Field field, unsigned bit, T defaultValue = T{})
        : xxTypedPropertyTemplate<T, xxPropertyTemplate<T>>(name, ValueTypeOf<T>(), owner, bit),
          field_(field),
          default_(std::move(defaultValue)) {}

    const T& GetValue(const xxObject& object) const;
    void SetValue(xxObject& object, T value) const;
    // SetValue for an object known to be of the declaring class.
    void SetOwnedValue(xxObject& object, T value) const;
    const T& Default() const { return default_; }

    bool IsAssigned(const xxObject& object) const override;
    void UnassignValue(xxObject& object) const override;
    // As the typed copy, checking each object once and assigning field to field.
    void CopyValue(const xxObject& from, xxObject& to) const override;

private:
    Field field_;
    T default_;
};
