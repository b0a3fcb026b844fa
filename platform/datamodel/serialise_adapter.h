// The typed operations of the serialiser interfaces, written once. A serialiser derives from
// xxOutputAdapter<D> or xxInputAdapter<D> (D its own class) and provides a few templates for
// which every typed virtual of xxOutput / xxInput forwards, with the operation's kind K:
//
//   template <class K, class T> void Put(const char* name, const T& value);
//   template <class K, class T> void PutWithDefault(const char* name, const T& value, const T& defaultValue);
//   template <class K, class C> void PutArray(const char* name, const C& values);
//
//   template <class K, class T> void Get(const char* name, T& value);
//   template <class K, class T, class D> void GetWithDefault(const char* name, T& value, const D& defaultValue);
//   template <class K, class C> void GetArray(const char* name, C& values);
//
// K is the operation's value type, except for the xxBool operations: xxBool is bool here, yet a
// list of truth values is no bit vector and an encoding may store the two apart, so those pass
// xxBoolKind. C is the container as the operation has it (qor::deque or std::vector). A string
// read's default comes as a std::string_view (never null); every other default as its type.
// The templates may be private when the adapter is a friend of D.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "datamodel/serialise.h"

// The kind of the xxBool operations.
struct xxBoolKind {};

template <class K>
inline constexpr bool xxIsBoolKind = std::is_same_v<K, xxBoolKind>;

template <class D>
class xxOutputAdapter : public xxOutput {
public:
    // float
    void WriteArray(const char* name, const qor::deque<float>& values) override {
        Self().template PutArray<float>(name, values);
    }
    void WriteArray(const char* name, const std::vector<float>& values) override {
        Self().template PutArray<float>(name, values);
    }
    void WriteValue(const char* name, float value, float defaultValue) override {
        Self().template PutWithDefault<float>(name, value, defaultValue);
    }
    void WriteValue(const char* name, float value) override { Self().template Put<float>(name, value); }
    // double
    void WriteArray(const char* name, const std::vector<double>& values) override {
        Self().template PutArray<double>(name, values);
    }
    void WriteValue(const char* name, double value, double defaultValue) override {
        Self().template PutWithDefault<double>(name, value, defaultValue);
    }
    void WriteValue(const char* name, double value) override { Self().template Put<double>(name, value); }
    // std::string
    void WriteArray(const char* name, const std::vector<std::string>& values) override {
        Self().template PutArray<std::string>(name, values);
    }
    void WriteValue(const char* name, const std::string& value, const std::string& defaultValue) override {
        Self().template PutWithDefault<std::string>(name, value, defaultValue);
    }
    void WriteValue(const char* name, const std::string& value) override {
        Self().template Put<std::string>(name, value);
    }
    // bool
    void WriteArray(const char* name, const qor::deque<bool>& values) override {
        Self().template PutArray<bool>(name, values);
    }
    void WriteArray(const char* name, const std::vector<bool>& values) override {
        Self().template PutArray<bool>(name, values);
    }
    void WriteValue(const char* name, bool value, bool defaultValue) override {
        Self().template PutWithDefault<bool>(name, value, defaultValue);
    }
    void WriteValue(const char* name, bool value) override { Self().template Put<bool>(name, value); }
    // xxBool
    void WriteXxBoolArray(const char* name, const std::vector<xxBool>& values) override {
        Self().template PutArray<xxBoolKind>(name, values);
    }
    void WriteXxBoolValue(const char* name, xxBool value, xxBool defaultValue) override {
        Self().template PutWithDefault<xxBoolKind>(name, value, defaultValue);
    }
    void WriteXxBoolValue(const char* name, xxBool value) override { Self().template Put<xxBoolKind>(name, value); }
    // unsigned char
    void WriteArray(const char* name, const std::vector<unsigned char>& values) override {
        Self().template PutArray<unsigned char>(name, values);
    }
    void WriteValue(const char* name, unsigned char value, unsigned char defaultValue) override {
        Self().template PutWithDefault<unsigned char>(name, value, defaultValue);
    }
    void WriteValue(const char* name, unsigned char value) override { Self().template Put<unsigned char>(name, value); }
    // 32-bit unsigned long
    void WriteULong32Array(const char* name, const std::vector<std::uint32_t>& values) override {
        Self().template PutArray<std::uint32_t>(name, values);
    }
    void WriteULong32Value(const char* name, std::uint32_t value, std::uint32_t defaultValue) override {
        Self().template PutWithDefault<std::uint32_t>(name, value, defaultValue);
    }
    void WriteULong32Value(const char* name, std::uint32_t value) override {
        Self().template Put<std::uint32_t>(name, value);
    }
    // 32-bit long
    void WriteLong32Array(const char* name, const std::vector<std::int32_t>& values) override {
        Self().template PutArray<std::int32_t>(name, values);
    }
    void WriteLong32Value(const char* name, std::int32_t value, std::int32_t defaultValue) override {
        Self().template PutWithDefault<std::int32_t>(name, value, defaultValue);
    }
    void WriteLong32Value(const char* name, std::int32_t value) override {
        Self().template Put<std::int32_t>(name, value);
    }
    // unsigned short
    void WriteArray(const char* name, const std::vector<unsigned short>& values) override {
        Self().template PutArray<unsigned short>(name, values);
    }
    void WriteValue(const char* name, unsigned short value, unsigned short defaultValue) override {
        Self().template PutWithDefault<unsigned short>(name, value, defaultValue);
    }
    void WriteValue(const char* name, unsigned short value) override {
        Self().template Put<unsigned short>(name, value);
    }
    // short
    void WriteArray(const char* name, const std::vector<short>& values) override {
        Self().template PutArray<short>(name, values);
    }
    void WriteValue(const char* name, short value, short defaultValue) override {
        Self().template PutWithDefault<short>(name, value, defaultValue);
    }
    void WriteValue(const char* name, short value) override { Self().template Put<short>(name, value); }
    // unsigned int
    void WriteArray(const char* name, const std::vector<unsigned int>& values) override {
        Self().template PutArray<unsigned int>(name, values);
    }
    void WriteValue(const char* name, unsigned int value, unsigned int defaultValue) override {
        Self().template PutWithDefault<unsigned int>(name, value, defaultValue);
    }
    void WriteValue(const char* name, unsigned int value) override { Self().template Put<unsigned int>(name, value); }
    // int
    void WriteArray(const char* name, const qor::deque<int>& values) override {
        Self().template PutArray<int>(name, values);
    }
    void WriteArray(const char* name, const std::vector<int>& values) override {
        Self().template PutArray<int>(name, values);
    }
    void WriteValue(const char* name, int value, int defaultValue) override {
        Self().template PutWithDefault<int>(name, value, defaultValue);
    }
    void WriteValue(const char* name, int value) override { Self().template Put<int>(name, value); }
    using xxOutput::WriteValue;  // the string-literal forms

    void Reserved1() override {}
    void Reserved2() override {}

protected:
    xxOutputAdapter() = default;

private:
    D& Self() { return static_cast<D&>(*this); }
};

template <class D>
class xxInputAdapter : public xxInput {
public:
    // float
    void ReadArray(const char* name, qor::deque<float>& values) override {
        Self().template GetArray<float>(name, values);
    }
    void ReadArray(const char* name, std::vector<float>& values) override {
        Self().template GetArray<float>(name, values);
    }
    void ReadValue(const char* name, float& value, float defaultValue) override {
        Self().template GetWithDefault<float>(name, value, defaultValue);
    }
    void ReadValue(const char* name, float& value) override { Self().template Get<float>(name, value); }
    // double
    void ReadArray(const char* name, std::vector<double>& values) override {
        Self().template GetArray<double>(name, values);
    }
    void ReadValue(const char* name, double& value, double defaultValue) override {
        Self().template GetWithDefault<double>(name, value, defaultValue);
    }
    void ReadValue(const char* name, double& value) override { Self().template Get<double>(name, value); }
    // std::string
    void ReadArray(const char* name, std::vector<std::string>& values) override {
        Self().template GetArray<std::string>(name, values);
    }
    void ReadValue(const char* name, std::string& value, const char* defaultValue) override {
        Self().template GetWithDefault<std::string>(name, value, std::string_view(defaultValue ? defaultValue : ""));
    }
    void ReadValue(const char* name, std::string& value) override { Self().template Get<std::string>(name, value); }
    // bool
    void ReadArray(const char* name, qor::deque<bool>& values) override {
        Self().template GetArray<bool>(name, values);
    }
    void ReadArray(const char* name, std::vector<bool>& values) override {
        Self().template GetArray<bool>(name, values);
    }
    void ReadValue(const char* name, bool& value, bool defaultValue) override {
        Self().template GetWithDefault<bool>(name, value, defaultValue);
    }
    void ReadValue(const char* name, bool& value) override { Self().template Get<bool>(name, value); }
    // xxBool
    void ReadXxBoolArray(const char* name, std::vector<xxBool>& values) override {
        Self().template GetArray<xxBoolKind>(name, values);
    }
    void ReadXxBoolValue(const char* name, xxBool& value, xxBool defaultValue) override {
        Self().template GetWithDefault<xxBoolKind>(name, value, defaultValue);
    }
    void ReadXxBoolValue(const char* name, xxBool& value) override { Self().template Get<xxBoolKind>(name, value); }
    // unsigned char
    void ReadArray(const char* name, std::vector<unsigned char>& values) override {
        Self().template GetArray<unsigned char>(name, values);
    }
    void ReadValue(const char* name, unsigned char& value, unsigned char defaultValue) override {
        Self().template GetWithDefault<unsigned char>(name, value, defaultValue);
    }
    void ReadValue(const char* name, unsigned char& value) override { Self().template Get<unsigned char>(name, value); }
    // 32-bit unsigned long
    void ReadULong32Array(const char* name, std::vector<std::uint32_t>& values) override {
        Self().template GetArray<std::uint32_t>(name, values);
    }
    void ReadULong32Value(const char* name, std::uint32_t& value, std::uint32_t defaultValue) override {
        Self().template GetWithDefault<std::uint32_t>(name, value, defaultValue);
    }
    void ReadULong32Value(const char* name, std::uint32_t& value) override {
        Self().template Get<std::uint32_t>(name, value);
    }
    // 32-bit long
    void ReadLong32Array(const char* name, std::vector<std::int32_t>& values) override {
        Self().template GetArray<std::int32_t>(name, values);
    }
    void ReadLong32Value(const char* name, std::int32_t& value, std::int32_t defaultValue) override {
        Self().template GetWithDefault<std::int32_t>(name, value, defaultValue);
    }
    void ReadLong32Value(const char* name, std::int32_t& value) override {
        Self().template Get<std::int32_t>(name, value);
    }
    // unsigned short
    void ReadArray(const char* name, std::vector<unsigned short>& values) override {
        Self().template GetArray<unsigned short>(name, values);
    }
    void ReadValue(const char* name, unsigned short& value, unsigned short defaultValue) override {
        Self().template GetWithDefault<unsigned short>(name, value, defaultValue);
    }
    void ReadValue(const char* name, unsigned short& value) override {
        Self().template Get<unsigned short>(name, value);
    }
    // short
    void ReadArray(const char* name, std::vector<short>& values) override {
        Self().template GetArray<short>(name, values);
    }
    void ReadValue(const char* name, short& value, short defaultValue) override {
        Self().template GetWithDefault<short>(name, value, defaultValue);
    }
    void ReadValue(const char* name, short& value) override { Self().template Get<short>(name, value); }
    // unsigned int
    void ReadArray(const char* name, std::vector<unsigned int>& values) override {
        Self().template GetArray<unsigned int>(name, values);
    }
    void ReadValue(const char* name, unsigned int& value, unsigned int defaultValue) override {
        Self().template GetWithDefault<unsigned int>(name, value, defaultValue);
    }
    void ReadValue(const char* name, unsigned int& value) override { Self().template Get<unsigned int>(name, value); }
    // int
    void ReadArray(const char* name, qor::deque<int>& values) override { Self().template GetArray<int>(name, values); }
    void ReadArray(const char* name, std::vector<int>& values) override { Self().template GetArray<int>(name, values); }
    void ReadValue(const char* name, int& value, int defaultValue) override {
        Self().template GetWithDefault<int>(name, value, defaultValue);
    }
    void ReadValue(const char* name, int& value) override { Self().template Get<int>(name, value); }

    void Reserved1() override {}

protected:
    xxInputAdapter() = default;

private:
    D& Self() { return static_cast<D&>(*this); }
};
