// Symmetry systems: the tree node that holds a periodic (or point-symmetric) model, its
// symmetry definition, which of its objects are symmetry images of which, and what a view of it
// shows.
//
// Images are ordinary data-model objects. Build marks the atoms of the model that coincide with
// an operator image of an earlier atom as that atom's images; FindSymmetryImage makes the images
// no atom stands for (a partner in the next cell, say) on demand, as copies of their parent of
// the same class, placed as direct children of the system. The system keeps the relation beside
// the tree (weak references: an object that dies leaves it), so an atom costs nothing extra for
// it, and a model without symmetry images costs nothing at all.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "base/chunked_list.h"
#include "base/huge_pages.h"
#include "datamodel/object.h"
#include "datamodel/reference.h"
#include "datamodel/symmetry/definition.h"

class xxSymmetrySystem;

// Items in each chunk of the long tables of a build and a display: a power of two, so that past
// the first chunks an item is found by a shift rather than a division, filling whole huge pages.
template <class T>
constexpr std::size_t xxSymmetryChunkItems() {
    std::size_t items = 1;
    while (items * sizeof(T) < kHugePageSize || items * sizeof(T) % kHugePageSize != 0) items <<= 1;
    return items;
}

// One image a view of the system shows: parent under element, at a Cartesian position.
struct xxDisplayedImage {
    xxObject* parent = nullptr;
    const xxSymmetryElement* element = nullptr;
    xxPoint3d position;
};

// Which images of a system's parents lie inside its definition's display ranges (plus those
// made visible one by one). There is no rendering here, only the list a view would draw. An
// image stands once however many elements give it (a parent on a special position).
class xxSymmetryDisplay {
public:
    // Most images one display lists; more throws CfxResult E_OUTOFMEMORY.
    static constexpr std::size_t kMaxImages = std::size_t{1} << 24;

    explicit xxSymmetryDisplay(xxSymmetrySystem& system);
    ~xxSymmetryDisplay();
    xxSymmetryDisplay(const xxSymmetryDisplay&) = delete;
    xxSymmetryDisplay& operator=(const xxSymmetryDisplay&) = delete;

    // Lists, for every symmetry parent, each distinct image whose fractional position lies
    // within the ranges (inclusive, 1e-6 slack) along the periodic axes; a point group lists
    // every distinct operator image. Images made visible one by one are dropped.
    // Forgets the images shown and hidden one by one.
    void GenerateDisplay();
    // As GenerateDisplay, but the images made visible one by one stay listed and the hidden
    // ones are left out.
    void ReGenerateDisplay();
    // Adds the image of parent under element when it is not listed, and keeps it through
    // ReGenerateDisplay; false when it was listed, or when parent is no symmetry parent of the
    // system or the element is not its definition's.
    bool MakeVisible(xxObject& parent, const xxSymmetryElement& element);
    // Takes the image of parent under element out of the list and keeps it out through
    // ReGenerateDisplay; false when parent or element do not fit as for MakeVisible.
    bool Hide(xxObject& parent, const xxSymmetryElement& element);
    // Empty after construction and after every change of the system's definition.
    void Clear();

    std::size_t GetNumImages() const { return listing_->entries.size() - listing_->hidden; }
    // The listed images in order; those of parents destroyed since are left out.
    std::vector<xxDisplayedImage> GetImages() const;
    // Whether parent under element is listed.
    bool IsShown(const xxObject& parent, const xxSymmetryElement& element) const;

private:
    struct Entry {
        std::uint32_t parent;  // index into the listing's parents
        int op;                // the least element that gives the image; negated once hidden
        xxPeriodicTranslation t;
        bool Hidden() const { return op < 0; }
    };
    struct Index;
    Index& TheIndex() const;
    std::optional<std::uint32_t> FindParent(const xxObject& parent) const;
    struct Choices;
    // keepChoices: leaves the images hidden one by one out and lists those shown one by one.
    void List(bool keepChoices);
    // Whether parent is a symmetry parent of the system with images and element is of its
    // definition: what MakeVisible and Hide accept.
    bool Fits(const xxObject& parent, const xxSymmetryElement& element) const;
    void Choose(xxObject& parent, const xxSymmetryElement& least, bool visible);

    xxSymmetrySystem* system_;
    // The parents shown and one entry per image, in chunks: references stay where they are
    // made (moving one relinks it in its object), and neither list is ever copied as it grows.
    // GenerateDisplay replaces the listing whole.
    struct Listing {
        ChunkedList<xxReferenceBase, 1024, xxSymmetryChunkItems<xxReferenceBase>()> parents;
        ChunkedList<Entry, 1024, xxSymmetryChunkItems<Entry>()> entries;
        std::size_t hidden = 0;  // entries marked hidden
    };
    std::unique_ptr<Listing> listing_;
    mutable std::unique_ptr<Index> index_;  // made on first lookup
    // What was shown and hidden one by one since the last GenerateDisplay; null for nothing.
    std::unique_ptr<Choices> choices_;
};

class xxBaseSymmetrySystem : public xxTreeNode {
    XX_DECLARE_CLASS(xxBaseSymmetrySystem)
protected:
    xxBaseSymmetrySystem() = default;
};

class xxSymmetrySystem : public xxBaseSymmetrySystem {
    XX_DECLARE_CLASS(xxSymmetrySystem)
public:
    // What Iterator yields beside the class filter.
    static constexpr int kParents = 0;                   // objects that are no images
    static constexpr int kParentsAndSymmetryImages = 1;  // all but the pure lattice translates
    static constexpr int kSymmetryImages = 2;            // images under an operator that is no lattice shift
    static constexpr int kPeriodicImages = 3;            // images under a lattice shift alone
    static constexpr int kImages = 4;                    // every image
    static constexpr int kAll = 5;                       // everything below the system

    // Holds the point group 1 until a definition is built into it.
    xxSymmetrySystem();
    // Holds the definition (null: the point group 1) without building anything.
    explicit xxSymmetrySystem(std::unique_ptr<xxSymmetryDefinition> definition);
    ~xxSymmetrySystem() override;

    // Never null.
    xxSymmetryDefinition& GetSymmetryDefinition() const { return *definition_; }
    // Replaces the definition without a build: every object becomes a parent again and the
    // images made on demand are destroyed (document readers set the definition this way).
    // Throws CfxResult E_POINTER for null.
    void SetSymmetryDefinition(std::unique_ptr<xxSymmetryDefinition> definition);
    int GetPeriodicDimension() const { return definition_->GetDimension(); }
    // The coincidence tolerance of the last build (Cartesian, the model's length unit).
    double GetToleranceRadius() const { return tolerance_; }

    xxSymmetryDisplay& GetSymmetryDisplay() { return display_; }
    const xxSymmetryDisplay& GetSymmetryDisplay() const { return display_; }
    // How a view draws the periodic images; kept for the document writers.
    int GetPeriodicDisplayType() const { return periodicDisplayType_; }
    void SetPeriodicDisplayType(int type) { periodicDisplayType_ = type; }

    // ---- the symmetry relation ----
    // An object below the system that is no image of another.
    bool IsSymmetryParent(const xxObject& object) const;
    bool IsSymmetryImage(const xxObject& object) const;
    // Whether the system made the image on demand (rather than finding it in the model).
    bool IsImageMadeOnDemand(const xxObject& object) const;
    // The parent of an image; any other object is its own parent.
    xxObject* GetSymmetryParent(xxObject& object) const;
    const xxObject* GetSymmetryParent(const xxObject& object) const;
    // The element that maps the parent onto the image; the identity for any other object.
    const xxSymmetryElement& GetSymmetryElement(const xxObject& object) const;
    // Every element that maps the object's parent onto it: the one GetSymmetryElement gives
    // first, then those that differ from it by an operator that leaves the parent where it is
    // (a parent on a mirror plane is its own image under the mirror).
    std::vector<const xxSymmetryElement*> GetSymmetryElements(const xxObject& object) const;
    // The image of object (a parent or an image) under element: the parent itself, an image the
    // model holds, or one made now. Null for a null element, for an object that is not below the
    // system or cannot have images (see HasSymmetryImages), or when the combined shift leaves the
    // range of elements. Throws CfxResult E_INVALIDARG for an element of another definition.
    xxObject* FindSymmetryImage(xxObject& object, const xxSymmetryElement* element);
    // The translate of object by whole cells.
    xxObject* FindSymmetryImage(xxObject& object, const xxPeriodicTranslation& translation);
    // The object of the parent's home cell of which object is a whole-cell translate: the
    // parent's image under the same operator without a shift (made when needed), the parent
    // for a translate of it, the object itself for anything else.
    xxObject* GetPeriodicParent(xxObject& object);
    // The element that maps from onto to, when both are the same parent or its images; null
    // otherwise (or when the shift leaves the range of elements).
    const xxSymmetryElement* FindSymmetryRelationship(const xxObject& from, const xxObject& to) const;
    // Shows or hides an object below the system (a parent, or an image under its element) in
    // the display, one by one; false for an object that cannot have images.
    bool SetImageVisibility(xxObject& object, bool visible);
    // How many objects below the system are images (found and made); 0 costs no lookup.
    std::size_t GetNumSymmetryImages() const;
    // The images of a parent, found and made, in the order they were recorded.
    std::vector<xxObject*> GetSymmetryImages(const xxObject& parent) const;
    // The objects below the system, depth first in child order, that IsA type (0: any) and
    // match the mode (kParents ... kAll). Throws CfxResult E_INVALIDARG for another mode.
    // Without madeOnDemand only the objects the model holds: the images the system made for
    // display are left out, so the walk meets what a model iterator meets.
    std::vector<xxObject*> Iterator(unsigned type, int mode, bool madeOnDemand = true) const;

    // Moves every image made on demand to where its element puts its parent now.
    void SynchronizeImages();

    // The node's values and children, the definition, the tolerance, and the relation: the
    // images below the system in tree order with their parents, elements (operator number and
    // shift) and whether they were made on demand. Load rebuilds the relation from them and
    // throws CfxResult E_INVALIDARG for lists that do not fit the model or the definition.
    void Save(xxOutput& out) const override;
    void Load(xxInput& in) override;

    // Whether the object takes part in the coincidence search and can have images: bondable
    // matter other than pi systems (whose place follows their members).
    static bool HasSymmetryImages(const xxObject& object);

private:
    friend class xxSymmetryChanger;
    friend class xxSymmetryDisplay;
    struct Relation;
    struct BuildOptions {
        bool findEquivalents;
        double tolerance;
        bool completeCell;
    };
    // A null definition rebuilds with the current one.
    void Build(std::unique_ptr<xxSymmetryDefinition> definition, const BuildOptions& options);
    const xxSymmetryElement& Canonical(const xxObject& parent, const xxSymmetryElement& element) const;
    void Install(std::unique_ptr<xxSymmetryDefinition> definition, std::unique_ptr<Relation> relation);
    void MakeHomeCellImages();
    xxObject* MakeImage(xxObject& parent, const xxSymmetryElement& element);

    // What the last build's walk found, for the display and the iterator that follow it on the
    // same tree (a periodic load runs all three): valid while the tree's structure generation
    // is the one noted and the relation the one the build made.
    struct WalkMemo {
        std::uint64_t generation = 0;  // 0: nothing noted
        std::vector<const xxClass*> classes;  // of every object below the system
        // The parents with images in tree order, until the display has taken them.
        std::optional<std::vector<xxObject*, LargeBlockAllocator<xxObject*>>> parents;
    };
    bool MemoValid() const { return memo_.generation != 0 && memo_.generation == xxTreeNode::StructureGeneration(); }

    std::unique_ptr<xxSymmetryDefinition> definition_;
    std::unique_ptr<Relation> relation_;
    WalkMemo memo_;
    xxSymmetryDisplay display_;
    double tolerance_ = 0;
    int periodicDisplayType_ = 0;
};

// A symmetry system that holds matter.
class xxMatterSymmetrySystem : public xxSymmetrySystem {
    XX_DECLARE_CLASS(xxMatterSymmetrySystem)
public:
    // Stresses of the frame a trajectory shows: of the potential, and the trajectory's own.
    static const xxPropertyTemplate<xxMatrix3x3> m_pptPotentialStress;
    static const xxPropertyTemplate<xxMatrix3x3> m_ppt_TrajectoryStress;

    xxMatterSymmetrySystem() = default;
    explicit xxMatterSymmetrySystem(std::unique_ptr<xxSymmetryDefinition> definition)
        : xxSymmetrySystem(std::move(definition)) {}

    // The model's symmetry system: the first direct child of the node that is one; null for a
    // model that is not periodic.
    static xxMatterSymmetrySystem* FirstOf(const xxTreeNode& node);

private:
    xxMatrix3x3 potentialStress_;
    xxMatrix3x3 trajectoryStress_;
};

// The symmetry system the file readers make for a periodic model.
class xxMultiScaleSymmetrySystem : public xxMatterSymmetrySystem {
    XX_DECLARE_CLASS(xxMultiScaleSymmetrySystem)
public:
    xxMultiScaleSymmetrySystem() = default;
    explicit xxMultiScaleSymmetrySystem(std::unique_ptr<xxSymmetryDefinition> definition)
        : xxMatterSymmetrySystem(std::move(definition)) {}
};
