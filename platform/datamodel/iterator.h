// Walks over data-model objects one at a time, and a plain snapshot of what a walk yields: the
// frame loaders take the objects a trajectory moves this way, once per frame.
#pragma once

#include <cstddef>
#include <span>
#include <vector>

#include "datamodel/forward.h"

class xxTreeNode;

// The objects of a walk, taken at one moment, in order. Nothing watches them: the snapshot is
// for the span of one call (a frame read), while the model cannot change.
class xxObjectSnapshot {
public:
    std::size_t GetSize() const { return objects_.size(); }
    bool IsEmpty() const { return objects_.empty(); }
    // Throws Cfx::CfxResult E_INVALIDARG when i is not below GetSize().
    xxObject& GetAt(std::size_t i) const;
    std::span<xxObject* const> Objects() const { return objects_; }

    // Keeps the room already made, so refilling it every frame allocates nothing.
    void Clear() { objects_.clear(); }
    void Add(xxObject& object) { objects_.push_back(&object); }

private:
    std::vector<xxObject*> objects_;
};

class xxIterator {
public:
    virtual ~xxIterator() = default;

    // Back to the first object.
    virtual void Reset() = 0;
    // The next object; null at the end, and null again on every call after it until Reset.
    virtual xxObject* GetNext() = 0;
    // Every object from the first on into the snapshot (replacing what it held); the iterator
    // is reset before and after.
    void Copy(xxObjectSnapshot& into);

protected:
    xxIterator() = default;
    xxIterator(const xxIterator&) = default;
    xxIterator& operator=(const xxIterator&) = default;
};

// The objects below a model that are of any of the class types, depth first in tree order:
// the symmetry parents and the images the model holds, never an image a symmetry system made
// on demand (a display copy no file knows of). The model itself is not yielded. The model must
// not change while a walk is under way.
class xxModelIterator final : public xxIterator {
public:
    xxModelIterator(const xxTreeNode& model, std::vector<unsigned> classTypes);

    void Reset() override;
    xxObject* GetNext() override;

private:
    struct Level {
        const xxTreeNode* node;
        std::size_t next;                 // the child to look at next
        const xxSymmetrySystem* system;   // the innermost system around the node with images
    };
    // What the walk needs to know of an object's class, asked once per class: a model holds
    // objects of a few classes, and asking the class registry per object (IsA through the
    // bases) would cost more than the whole walk otherwise.
    struct ClassKind {
        const xxClass* cls;
        bool node;    // a tree node: its children are walked
        bool system;  // a symmetry system
        bool wanted;  // of one of the class types
    };
    const ClassKind& KindOf(const xxObject& object);

    const xxTreeNode* model_;
    std::vector<unsigned> classTypes_;
    std::vector<Level> stack_;
    std::vector<ClassKind> kinds_;
    std::size_t lastKind_ = 0;
    bool done_ = false;
};
