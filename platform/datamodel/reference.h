// Weak references to data-model objects: a reference reads null once its object is destroyed.
// Sets, restrictions, charge groups and monitors hold their members this way, and the document
// serialisers resolve references by them, so no holder is ever left with a dangling pointer.
#pragma once

#include <cstddef>
#include <vector>

#include "datamodel/object.h"

class xxReferenceBase;

// Told when a reference it watches has just been cleared by its object's destruction. The
// reference is already null and unlinked; the observer may destroy it (and itself), but must not
// touch the dying object.
class xxReferenceObserver {
public:
    virtual void OnReferenceCleared(xxReferenceBase& reference) = 0;

protected:
    xxReferenceObserver() = default;
    xxReferenceObserver(const xxReferenceObserver&) = default;
    xxReferenceObserver& operator=(const xxReferenceObserver&) = default;
    ~xxReferenceObserver() = default;
};

// A pointer to an object that the object itself clears when it dies. The references to one
// object form an intrusive list headed in the object, so a reference costs no allocation.
// Copies refer to the same object without the observer; moves take the observer along.
class xxReferenceBase {
public:
    xxReferenceBase() = default;
    explicit xxReferenceBase(xxObject* target, xxReferenceObserver* observer = nullptr);
    xxReferenceBase(const xxReferenceBase& other);
    xxReferenceBase(xxReferenceBase&& other) noexcept;
    xxReferenceBase& operator=(const xxReferenceBase& other);
    xxReferenceBase& operator=(xxReferenceBase&& other) noexcept;
    ~xxReferenceBase() { Unlink(); }

    xxObject* GetObject() const { return target_; }
    explicit operator bool() const { return target_ != nullptr; }
    void Reset(xxObject* target = nullptr);

    xxReferenceObserver* GetObserver() const { return observer_; }
    void SetObserver(xxReferenceObserver* observer) { observer_ = observer; }

    // Whether any reference to the object has this observer (walks the object's references).
    static bool IsObservedBy(const xxObject& object, const xxReferenceObserver* observer);
    static std::size_t CountReferencesTo(const xxObject& object);

    // Clears every reference to the dying object; called by ~xxObject.
    static void ClearReferencesTo(xxObject& object) noexcept;

private:
    void Link(xxObject* target);
    void Unlink() noexcept;
    void TakeOver(xxReferenceBase& other) noexcept;  // this replaces other in its list

    xxObject* target_ = nullptr;
    xxReferenceBase* prev_ = nullptr;
    xxReferenceBase* next_ = nullptr;
    xxReferenceObserver* observer_ = nullptr;
};

template <class T>
class xxReference : public xxReferenceBase {
public:
    xxReference() = default;
    explicit xxReference(T* target, xxReferenceObserver* observer = nullptr) : xxReferenceBase(target, observer) {}
    T* Get() const { return static_cast<T*>(GetObject()); }
    T* operator->() const { return Get(); }
    T& operator*() const { return *Get(); }
    void Reset(T* target = nullptr) { xxReferenceBase::Reset(target); }
};

// An ordered list of references that forgets objects as they are destroyed. Cleared entries
// are dropped at the next read, so destroying many members costs linear time in all.
class xxReferenceList : private xxReferenceObserver {
public:
    xxReferenceList() = default;
    xxReferenceList(const xxReferenceList&) = delete;
    xxReferenceList& operator=(const xxReferenceList&) = delete;

    void Add(xxObject& object);
    // Removes the first entry that refers to the object; false when there is none.
    bool Remove(const xxObject& object);
    void Clear();
    bool Contains(const xxObject& object) const { return xxReferenceBase::IsObservedBy(object, this); }

    std::size_t size() const;
    bool empty() const { return size() == 0; }
    // Throws Cfx::CfxResult E_INVALIDARG when i is not below size().
    xxObject& At(std::size_t i) const;
    std::vector<xxObject*> Objects() const;
    template <class T>
    std::vector<T*> ObjectsOf() const {
        std::vector<T*> out;
        Compact();
        for (const auto& r : refs_)
            if (auto* t = r.GetObject()->As<T>()) out.push_back(t);
        return out;
    }
    std::size_t CountOf(unsigned classType) const;

private:
    void OnReferenceCleared(xxReferenceBase&) override { stale_ = true; }
    void Compact() const;

    mutable std::vector<xxReferenceBase> refs_;
    mutable bool stale_ = false;
};
