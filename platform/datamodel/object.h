// The data-model tree: objects with names and IDs, nodes with children in insertion order,
// the tree root. Each class registers with xxClass under the name documents use for it.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "cfx/cfx.h"
#include "datamodel/class.h"
#include "datamodel/property.h"
#include "datamodel/serialise.h"

// Declares a registered data-model class. Use inside the class body.
#define XX_DECLARE_CLASS(Cls)                                         \
public:                                                               \
    static const xxClass& Class();                                    \
    static inline const unsigned classType = Cls::Class().TypeId();   \
    const xxClass& GetClass() const override { return Cls::Class(); } \
                                                                      \
private:

// Defines the class record: registered name, direct base, class version, creatable or not,
// and the class's own property templates (may be empty).
#define XX_IMPLEMENT_CLASS_WITH(Cls, name, Base, version, create, ...)                           \
    const xxClass& Cls::Class() {                                                                  \
        static const xxClass* const bases[] = {&Base::Class()};                                    \
        static const xxPropertyBase* const own[] = {nullptr __VA_OPT__(,) __VA_ARGS__};                       \
        static const xxPropertyTable table{std::span<const xxPropertyBase* const>(own + 1, own + sizeof own / sizeof *own)}; \
        static const xxClass record(name, nullptr, create, bases, 1, version, &table);             \
        return record;                                                                             \
    }                                                                                              \
    namespace {                                                                                    \
    [[maybe_unused]] const unsigned registered_##Cls = Cls::Class().TypeId();                      \
    }
#define XX_CREATE_FUNCTION(Cls) (+[]() -> xxClassInstance* { return new Cls(); })
#define XX_IMPLEMENT_CLASS(Cls, name, Base, version, ...) \
    XX_IMPLEMENT_CLASS_WITH(Cls, name, Base, version, XX_CREATE_FUNCTION(Cls) __VA_OPT__(,) __VA_ARGS__)
#define XX_IMPLEMENT_ABSTRACT_CLASS(Cls, name, Base, version, ...) \
    XX_IMPLEMENT_CLASS_WITH(Cls, name, Base, version, nullptr __VA_OPT__(,) __VA_ARGS__)

class xxTreeNode;
class xxTreeRoot;
class xxReferenceBase;

class xxObject : public xxSerializable {
public:
    static const xxClass& Class();
    static inline const unsigned classType = xxObject::Class().TypeId();

    ~xxObject() override;
    xxObject(const xxObject&) = delete;
    xxObject& operator=(const xxObject&) = delete;

    const std::string& GetName() const { return name_; }
    void SetName(std::string name) { name_ = std::move(name); }
    int GetID() const { return id_; }
    void SetID(int id) { id_ = id; }

    // Whether viewers show the object; visible by default. Kept beside the tree, as few objects
    // are ever hidden.
    bool IsVisible() const;
    void SetVisibility(bool visible);
    // A number unique to the object in this process, handed out on first request and kept
    // beside the tree (never reused, whatever is destroyed).
    std::uint64_t GetOID() const;

    xxTreeNode* GetParent() const { return parent_; }
    xxTreeRoot* GetTreeRoot();  // null when the object is not under a root
    // Moves the object (with its subtree) under newParent, at the end of its children.
    // Throws Cfx::CfxResult E_INVALIDARG when newParent lies inside the object.
    void SetParent(xxTreeNode& newParent);
    // Removes the object from its parent and destroys it (its subtree with it).
    void Delete();
    bool IsDescendentOf(const xxObject& ancestor) const;

    // Object position, for the classes that have one (matter, dummies, images).
    virtual xxPoint3d GetXYZ() const { return {}; }
    virtual void SetXYZ(const xxPoint3d&) {}

    // Gives every property of the object (across its classes) its default and unassigns it.
    virtual void InitialiseObjectToDefault();
    // Every property template of the object's class and its bases, bases first.
    std::vector<const xxPropertyBase*> PropertyTemplates() const;
    static std::vector<const xxPropertyBase*> PropertyTemplatesOf(const xxClass& cls);

    // The name, the ID and every assigned property template's value; Load reads them back and
    // leaves the others unassigned (datamodel/object_serialise.cpp).
    void Save(xxOutput& out) const override;
    void Load(xxInput& in) override;

    template <class T>
    T* As() {
        return IsA(T::classType) ? static_cast<T*>(this) : nullptr;
    }
    template <class T>
    const T* As() const {
        return IsA(T::classType) ? static_cast<const T*>(this) : nullptr;
    }

    // The deepest node that holds every object of the list (null when there is none).
    static xxTreeNode* FindCommonRoot(const std::vector<xxObject*>& objects);

    std::uint32_t& AssignedMask() { return assigned_; }
    std::uint32_t AssignedMask() const { return assigned_; }

protected:
    xxObject() = default;
    // Called by SetParent once the object sits under its new parent (bonds follow their atoms).
    virtual void OnParentChanged() {}

private:
    friend class xxTreeNode;
    friend class xxReferenceBase;
    xxTreeNode* parent_ = nullptr;
    xxReferenceBase* references_ = nullptr;  // weak references to this object (datamodel/reference.h)
    std::string name_;
    int id_ = 0;
    std::uint32_t assigned_ = 0;  // one bit per property template; bits are fixed per class chain
};

// An object with children, kept in insertion order.
class xxTreeNode : public xxObject {
    XX_DECLARE_CLASS(xxTreeNode)
public:
    ~xxTreeNode() override;

    std::size_t NumChildren() const { return children_.size(); }
    xxObject& GetChild(std::size_t i) const { return *children_[i]; }
    const std::vector<std::unique_ptr<xxObject>>& Children() const { return children_; }

    // Creates a T as the last child.
    template <class T, class... Args>
    T& CreateChild(Args&&... args) {
        auto child = std::make_unique<T>(std::forward<Args>(args)...);
        T& ref = *child;
        AdoptChild(std::move(child));
        return ref;
    }
    xxObject& AdoptChild(std::unique_ptr<xxObject> child);
    // Takes a direct child out of the node; null when it is not a child.
    std::unique_ptr<xxObject> DetachChild(xxObject& child);
    void RemoveDescendents();
    // Moves every child, in order, to the end of destination's children, in time linear in
    // their number. Throws Cfx::CfxResult E_INVALIDARG when destination is the node or lies
    // inside it.
    void MoveChildrenTo(xxTreeNode& destination);

    // A number that changes whenever any tree of the process changes shape: an object added,
    // taken out, moved or destroyed with its node. What was found by walking a tree (the
    // objects a trajectory moves, a symmetry build's walk) stays valid while it stays the same.
    // Out of line, so that every library and program that links the data model shares one.
    static std::uint64_t StructureGeneration() noexcept;

    // The object's own values, then the children in order.
    void Save(xxOutput& out) const override;
    void Load(xxInput& in) override;

    // The first direct child of that name that IsA classType (0 = any class).
    xxObject* FindChild(std::string_view name, unsigned classType = 0) const;
    // Direct children that IsA classType, in order.
    template <class T>
    std::vector<T*> ChildrenOf() const {
        std::vector<T*> out;
        for (const auto& c : children_)
            if (c->IsA(T::classType)) out.push_back(static_cast<T*>(c.get()));
        return out;
    }
    // Every descendent, depth first in child order; visit returns false to stop.
    bool ForEachDescendent(const std::function<bool(xxObject&)>& visit) const;
    template <class T>
    std::vector<T*> DescendentsOf() const {
        std::vector<T*> out;
        ForEachDescendent([&](xxObject& o) {
            if (o.IsA(T::classType)) out.push_back(static_cast<T*>(&o));
            return true;
        });
        return out;
    }

protected:
    xxTreeNode() = default;

private:
    std::vector<std::unique_ptr<xxObject>> children_;
    static void StructureChanged() noexcept;
};

// The root of a document's tree.
class xxTreeRoot : public xxTreeNode {
    XX_DECLARE_CLASS(xxTreeRoot)
public:
    xxTreeRoot() = default;
};

// ---- property templates over object fields ----------------------------------

template <class T>
const T& xxPropertyTemplate<T>::GetValue(const xxObject& object) const {
    this->CheckOwner(object);
    if (!(object.AssignedMask() & this->Mask())) return default_;
    return field_(const_cast<xxObject&>(object));
}
template <class T>
void xxPropertyTemplate<T>::SetValue(xxObject& object, T value) const {
    this->CheckOwner(object);
    SetOwnedValue(object, std::move(value));
}
template <class T>
void xxPropertyTemplate<T>::SetOwnedValue(xxObject& object, T value) const {
    field_(object) = std::move(value);
    object.AssignedMask() |= this->Mask();
}
template <class T>
bool xxPropertyTemplate<T>::IsAssigned(const xxObject& object) const {
    this->CheckOwner(object);
    return (object.AssignedMask() & this->Mask()) != 0;
}
template <class T>
void xxPropertyTemplate<T>::CopyValue(const xxObject& from, xxObject& to) const {
    this->CheckOwner(from);
    if (!(from.AssignedMask() & this->Mask())) return;
    this->CheckOwner(to);
    field_(to) = field_(const_cast<xxObject&>(from));
    to.AssignedMask() |= this->Mask();
}
template <class T>
void xxPropertyTemplate<T>::UnassignValue(xxObject& object) const {
    this->CheckOwner(object);
    object.AssignedMask() &= ~this->Mask();
    field_(object) = default_;
}

// The field accessor of a property template: XX_FIELD(xxMatter, forcefieldType_).
#define XX_FIELD(Cls, member) (+[](xxObject& o) -> auto& { return static_cast<Cls&>(o).member; })

// A property whose values live beside the objects rather than in them: for values few objects
// of a class have at a time (a trajectory frame's velocities and forces), so that the objects
// of models without them stay as small as they are. The assigned state is the object's mask bit
// as for any template; the owning class calls Forget when an object with the bit set dies.
template <class T>
class xxDetachedPropertyTemplate : public xxTypedPropertyTemplate<T, xxDetachedPropertyTemplate<T>> {
public:
    xxDetachedPropertyTemplate(const char* name, xxPropertyBase::OwnerClass owner, unsigned bit)
        : xxTypedPropertyTemplate<T, xxDetachedPropertyTemplate<T>>(name, ValueTypeOf<T>(), owner, bit) {}

    const T& GetValue(const xxObject& object) const {
        this->CheckOwner(object);
        if (!(object.AssignedMask() & this->Mask())) return default_;
        const auto it = values_.find(&object);
        return it == values_.end() ? default_ : it->second;
    }
    void SetValue(xxObject& object, T value) const {
        this->CheckOwner(object);
        SetOwnedValue(object, std::move(value));
    }
    void SetOwnedValue(xxObject& object, T value) const {
        values_[&object] = std::move(value);
        object.AssignedMask() |= this->Mask();
    }
    bool IsAssigned(const xxObject& object) const override {
        this->CheckOwner(object);
        return (object.AssignedMask() & this->Mask()) != 0;
    }
    void UnassignValue(xxObject& object) const override {
        this->CheckOwner(object);
        if (!(object.AssignedMask() & this->Mask())) return;
        object.AssignedMask() &= ~this->Mask();
        values_.erase(&object);
    }
    // Drops a dying object's value; no check of its class (it is being destroyed).
    void Forget(const xxObject& object) const {
        if (object.AssignedMask() & this->Mask()) values_.erase(&object);
    }
    std::size_t NumValues() const { return values_.size(); }
    // Room for that many values, so that a frame that gives them all does not regrow the table.
    void Reserve(std::size_t values) const { values_.reserve(values); }

private:
    T default_{};
    // The library creates no threads, so the table needs no lock.
    mutable std::unordered_map<const xxObject*, T> values_;
};
