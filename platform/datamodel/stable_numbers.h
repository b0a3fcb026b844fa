// Numbers for classes and property templates that stay the same in every process and build,
// whatever else is registered: the binary document stream stores them, so a stream written by
// one run reads in another. Each is the 32-bit FNV-1a hash of a name; 0 and 1 stay free (no
// class, and the class of every instance).
#pragma once

#include <cstdint>
#include <string_view>

class xxPropertyBase;

constexpr std::uint32_t xxStableNumberOf(std::string_view text) {
    std::uint32_t h = 2166136261u;
    for (char c : text) {
        h ^= static_cast<unsigned char>(c);
        h *= 16777619u;
    }
    return h < 2 ? h + 2 : h;
}

// The number of a template, from its owning class's name and its own; the owner is the class
// whose property table lists it. Throws Cfx::CfxResult E_INVALIDARG for a template no registered
// class lists, and xxClassRegistrationError when two templates share a number.
std::uint32_t xxPropertyTemplateNumber(const xxPropertyBase& property);
// The template of that number; null when no registered class has one.
const xxPropertyBase* xxPropertyTemplateByNumber(std::uint32_t number);
