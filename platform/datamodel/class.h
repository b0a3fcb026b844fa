// The data model's class registry: one static record per class, found by name or type id,
// through which serialisers and trajectories create objects they know only by name.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstddef>
#include <functional>
#include <memory>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>

#include "datamodel/forward.h"

// A second class under a name (or second name) that is already taken. Registration runs in
// static initialisers, so this is a logic_error: its text survives an uncaught throw.
class xxClassRegistrationError : public std::logic_error {
public:
    using std::logic_error::logic_error;
};

class xxClass {
public:
    using CreateFunction = xxClassInstance* (*)();

    // No class has this type id; IsA of it is always false.
    static constexpr unsigned kExcludedTypeId = 0;
    // The type of xxClassInstance itself: every instance IsA it.
    static constexpr unsigned kRootTypeId = 1;

    // Registers the class under a type id derived from its name alone (the same in every
    // process, whatever else is registered; stable_numbers.h). secondName and create may be null
    // (no second name; an abstract class). bases points at baseCount entries that are read at
    // every IsA, so an entry may be stored after construction; null entries are skipped.
    // Throws xxClassRegistrationError for a missing or taken name, or a type id taken by
    // another name.
    xxClass(const char* name, const char* secondName, CreateFunction create, const xxClass* const* bases,
            std::size_t baseCount, unsigned version = 1, const xxPropertyTable* properties = nullptr);
    ~xxClass();  // unregisters

    xxClass(const xxClass&) = delete;
    xxClass& operator=(const xxClass&) = delete;

    const std::string& GetName() const { return name_; }
    const std::string& GetSecondName() const { return secondName_; }  // empty: none
    unsigned TypeId() const { return typeId_; }
    unsigned Version() const { return version_; }  // the class's current serialised version
    bool IsAbstract() const { return create_ == nullptr; }
    std::span<const xxClass* const> Bases() const { return {bases_, baseCount_}; }
    const xxPropertyTable* PropertyTable() const { return properties_; }  // null: none declared

    // False for the excluded id; true for the own and the root id; else BasesIsA.
    xxBool IsA(unsigned typeId) const;
    xxBool BasesIsA(unsigned typeId) const;

    // A new instance; throws Cfx::CfxResult E_NOTIMPL for an abstract class.
    std::unique_ptr<xxClassInstance> CreateNew() const;

    // The class version a document being read was written with; 0 = not looked up yet.
    unsigned CachedDocumentVersion() const { return documentVersion_; }
    void SetCachedDocumentVersion(unsigned version) const { documentVersion_ = version; }
    static void ClearDocumentVersions();

    // Lookup by name matches the name and the second name. The throwing forms raise
    // Cfx::CfxResult E_INVALIDARG.
    static const xxClass& FindClass(std::string_view name);
    static const xxClass* FindClassIfExists(std::string_view name);
    static const xxClass& FindClassByType(unsigned typeId);
    static const xxClass* FindClassByTypeIfExists(unsigned typeId);

    // Every registered class once, in registration order. A class that visit registers is
    // not visited in this walk; one that it removes is skipped.
    static void ForEach(const std::function<void(const xxClass&)>& visit);
    static std::size_t Count();

private:
    std::string name_;
    std::string secondName_;
    CreateFunction create_;
    const xxClass* const* bases_;
    std::size_t baseCount_;
    unsigned version_;
    const xxPropertyTable* properties_;
    unsigned typeId_ = kExcludedTypeId;
    std::uint64_t order_ = 0;  // place in the registration order
    mutable unsigned documentVersion_ = 0;
    // Whether every base entry up the chain is stored; then no ancestor can be added.
    bool ChainComplete() const;

    // Type ids IsA found among the bases, and ids it found not there. A base entry stored later
    // can add ancestors, never take one away, so answers of no are kept only once the chain is
    // complete.
    mutable std::atomic<unsigned> knownBases_[4] = {};
    mutable std::atomic<unsigned> knownNotBases_[4] = {};
    mutable std::atomic<bool> chainComplete_{false};
};

// Base of every object a class record creates.
class xxClassInstance {
public:
    static constexpr unsigned classType = xxClass::kRootTypeId;

    virtual const xxClass& GetClass() const = 0;
    virtual const xxClassInstance* CastToClassInstance() const { return this; }
    virtual xxClassInstance* CastToClassInstance() { return this; }
    virtual xxBool IsA(unsigned typeId) const { return GetClass().IsA(typeId); }
    virtual ~xxClassInstance() = default;

protected:
    xxClassInstance() = default;
    xxClassInstance(const xxClassInstance&) = default;
    xxClassInstance& operator=(const xxClassInstance&) = default;
};
