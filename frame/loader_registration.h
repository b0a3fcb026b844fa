// Registration of the library's frame and object loaders with the data model's class registry,
// through which the data model creates a loader by name.
//
// A loader derives from RegisteredLoader with its loader base and declares its record:
//
//     class xxLoadTRJ : public cartovane::RegisteredLoader<xxLoadTRJ, xxFrameLoader> {
//     public:
//         static const cartovane::LoaderRegistration<xxLoadTRJ> registration;
//         ...
//     };
//
// and its source file registers it under its name with one line:
//
//     const cartovane::LoaderRegistration<xxLoadTRJ> xxLoadTRJ::registration{"TRJLoader"};
//
// GetClass refers to the record, so a loader whose line is missing fails to link instead of
// going unregistered.
#pragma once

#include <cstddef>
#include <new>
#include <string>
#include <type_traits>

#include "cfx/cfx.h"
#include "datamodel/class.h"

namespace cartovane {

// The class record of loader T: its name, its creation function and one base entry, the
// loader base's class (xxFrameProvider::Class or xxObjectLoader::Class).
template <class T>
class LoaderRegistration {
public:
    explicit LoaderRegistration(const char* name) : class_(name, nullptr, &T::CreateClassInstance, bases_, 1) {
        // The record keeps only the array's address, so the entry may follow its construction.
        bases_[0] = &T::LoaderBase::Class;
    }
    LoaderRegistration(const LoaderRegistration&) = delete;
    LoaderRegistration& operator=(const LoaderRegistration&) = delete;

    const xxClass& GetClass() const { return class_; }
    const std::string& Name() const { return class_.GetName(); }
    unsigned TypeId() const { return class_.TypeId(); }

private:
    const xxClass* bases_[1] = {nullptr};  // before class_: it is in place when class_ registers
    xxClass class_;
};

// The part every registered loader shares: its class, its creation function and its place in
// the framework's memory pool.
template <class T, class Base>
class RegisteredLoader : public Base {
    static_assert(std::is_base_of_v<xxClassInstance, Base>, "a loader base is a class instance");

public:
    using LoaderBase = Base;
    using Base::Base;

    const xxClass& GetClass() const override { return T::registration.GetClass(); }
    static unsigned ClassType() { return T::registration.TypeId(); }
    static const std::string& ClassName() { return T::registration.Name(); }

    // The record's creation function: a default-constructed object.
    static xxClassInstance* CreateClassInstance() { return new T(); }

    // Loaders live in the pool of their size: a full pool is std::bad_alloc "bad allocation".
    static void* operator new(std::size_t size) {
        void* block = qor::MemoryPool::GetPool(size).allocate();
        if (!block) throw Cfx::BadAlloc();
        return block;
    }
    // Back to the pool; a block the pool does not own came from the heap (::new) and goes there.
    static void operator delete(void* block, std::size_t size) noexcept {
        if (block && !qor::MemoryPool::GetPool(size).deallocate(block)) ::operator delete(block);
    }

protected:
    RegisteredLoader() = default;
    RegisteredLoader(const RegisteredLoader&) = default;
};

}  // namespace cartovane
