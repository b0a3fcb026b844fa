// Collections, restrictions, geometry monitors and substructures: objects that refer to other
// objects without owning them. Every such reference is weak (datamodel/reference.h): a member
// that is destroyed drops out.
#pragma once

#include <cstddef>
#include <span>
#include <vector>

#include "datamodel/atomistic.h"
#include "datamodel/object.h"
#include "datamodel/reference.h"

// ---- restrictables ---------------------------------------------------------------------

// Stands for one value of one object (the position of an atom, say) so that restrictions and
// monitors can refer to it. There is at most one per (object, property); it is made on first
// use and dies with its object. The data model is single-threaded, like the tree.
class xxRestrictable : public xxObject, private xxReferenceObserver {
    XX_DECLARE_CLASS(xxRestrictable)
public:
    ~xxRestrictable() override;

    // The restrictable of that value of the object, made when there is none yet.
    static xxRestrictable& For(xxObject& object, const xxPropertyBase& property);
    static xxRestrictable* Find(const xxObject& object, const xxPropertyBase& property);
    static std::size_t Count();  // restrictables alive

    xxObject* GetAssociatedObject() const { return object_.GetObject(); }
    const xxPropertyBase& GetProperty() const { return *property_; }
    // Whether a complete restriction holds the value fixed.
    bool IsHeldComplete() const { return completeHolds_ > 0; }

private:
    friend class xxRestriction;
    struct Registry;
    xxRestrictable(xxObject& object, const xxPropertyBase& property);
    void OnReferenceCleared(xxReferenceBase&) override;

    xxReferenceBase object_;
    const xxPropertyBase* property_;
    const xxObject* key_;  // the object's address, only to find the entry again
    mutable unsigned completeHolds_ = 0;  // entries in complete restrictions
};

// ---- ordered collections and sets -------------------------------------------------------

class xxOrdCollection : public xxObject {
    XX_DECLARE_CLASS(xxOrdCollection)
public:
    xxOrdCollection() = default;

    // Appends the object (an object may stand more than once). Throws Cfx::CfxResult
    // E_INVALIDARG for the collection itself.
    void Add(xxObject& object);
    // Appends the object unless it is a member already; true when appended.
    bool AddUnique(xxObject& object);
    // Removes the first entry of the object; false when it is not a member.
    bool Remove(const xxObject& object) { return members_.Remove(object); }
    void Clear() { members_.Clear(); }
    bool Contains(const xxObject& object) const { return members_.Contains(object); }

    std::size_t GetSize() const { return members_.size(); }
    bool IsEmpty() const { return members_.empty(); }
    // Throws Cfx::CfxResult E_INVALIDARG when i is not below GetSize().
    xxObject& GetAt(std::size_t i) const { return members_.At(i); }
    std::vector<xxObject*> GetMembers() const { return members_.Objects(); }
    template <class T>
    std::vector<T*> GetMembersOf() const {
        return members_.ObjectsOf<T>();
    }
    // The members that IsA classType.
    std::size_t GetNumFilteredItems(unsigned type) const { return members_.CountOf(type); }

private:
    xxReferenceList members_;
};

class xxSet : public xxOrdCollection {
    XX_DECLARE_CLASS(xxSet)
public:
    xxSet() = default;
};

// ---- restrictions ---------------------------------------------------------------------------

class xxRestriction : public xxObject {
    XX_DECLARE_CLASS(xxRestriction)
public:
    ~xxRestriction() override;
    void AddRestrictable(xxRestrictable& restrictable);
    bool RemoveRestrictable(const xxRestrictable& restrictable);
    std::vector<xxRestrictable*> GetRestrictables() const { return restrictables_.ObjectsOf<xxRestrictable>(); }
    std::size_t NumRestrictables() const { return restrictables_.size(); }

protected:
    xxRestriction() = default;
    explicit xxRestriction(bool complete) : complete_(complete) {}

private:
    xxReferenceList restrictables_;
    bool complete_ = false;  // a complete restriction fixes what it holds
};

// Holds its restrictables fixed altogether (fixed atoms).
class xxCompleteRestriction : public xxRestriction {
    XX_DECLARE_CLASS(xxCompleteRestriction)
public:
    xxCompleteRestriction() : xxRestriction(true) {}
};

// ---- monitors ----------------------------------------------------------------------------

class xxMonitor : public xxObject {
    XX_DECLARE_CLASS(xxMonitor)
protected:
    xxMonitor() = default;
};

// Measures a geometric quantity of the positions of a fixed number of objects.
class xxGeometryMonitor : public xxMonitor {
    XX_DECLARE_CLASS(xxGeometryMonitor)
public:
    static const xxPropertyTemplate<bool> m_pptLabeledMeasurement;

    // Whether the measurement is labelled in views; on by default.
    bool IsLabeledMeasurement() const;
    void SetLabeledMeasurement(bool value);

    // The position restrictables of the monitored objects, in order; fewer than NumPoints()
    // once a monitored object is gone.
    std::vector<xxRestrictable*> GetMonitoredData() const;
    std::vector<xxObject*> GetMonitoredObjects() const;
    // Sets the monitored objects (document readers). Throws Cfx::CfxResult E_INVALIDARG
    // unless there are exactly NumPoints() of them.
    void SetMonitoredObjects(std::span<xxMatter* const> objects);
    virtual std::size_t NumPoints() const = 0;
    bool IsComplete() const { return points_.size() == NumPoints(); }

    // Angstrom for distances, degrees for angles; NaN when the monitor is not complete.
    virtual double Measure() const = 0;

protected:
    xxGeometryMonitor() = default;
    std::vector<xxPoint3d> Positions() const;

private:
    xxReferenceList points_;
    bool labeled_ = true;
};

// A monitor over objects of one tree, without symmetry images in between.
class xxUnMappedMonitor : public xxGeometryMonitor {
    XX_DECLARE_CLASS(xxUnMappedMonitor)
public:
    // The deepest node that holds every member (null entries skipped); null when there is none.
    static xxTreeNode* FindCommonAncestor(const std::vector<xxObject*>& members);

protected:
    xxUnMappedMonitor() = default;
};

class xxDistanceStretcher : public xxUnMappedMonitor {
    XX_DECLARE_CLASS(xxDistanceStretcher)
public:
    xxDistanceStretcher() = default;
    xxDistanceStretcher(xxMatter& a, xxMatter& b);
    std::size_t NumPoints() const override { return 2; }
    double Measure() const override;
};

class xxPlanarAngleBender : public xxUnMappedMonitor {
    XX_DECLARE_CLASS(xxPlanarAngleBender)
public:
    xxPlanarAngleBender() = default;
    xxPlanarAngleBender(xxMatter& a, xxMatter& b, xxMatter& c);  // the angle at b
    std::size_t NumPoints() const override { return 3; }
    double Measure() const override;
};

class xxTorsionTwister : public xxUnMappedMonitor {
    XX_DECLARE_CLASS(xxTorsionTwister)
public:
    xxTorsionTwister() = default;
    xxTorsionTwister(xxMatter& a, xxMatter& b, xxMatter& c, xxMatter& d);  // about b-c, -180..180
    std::size_t NumPoints() const override { return 4; }
    double Measure() const override;
};

// ---- substructures ----------------------------------------------------------------------

// A named tuple of atoms (the N-tuples of an atom set that are not monitors).
class xxSubstructure : public xxObject {
    XX_DECLARE_CLASS(xxSubstructure)
public:
    xxSubstructure() = default;
    void AddAtom(xxBondable& atom) { atoms_.Add(atom); }
    std::vector<xxBondable*> GetAtoms() const { return atoms_.ObjectsOf<xxBondable>(); }
    std::size_t NumAtoms() const { return atoms_.size(); }

private:
    xxReferenceList atoms_;
};
