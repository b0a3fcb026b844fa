// The atomistic data model: matter with positions and charges, bondable objects and their bonds,
// atoms and dummies, the containers (molecules, sub-units) and the atomistic tree root, charge
// groups and pi systems. Property bits: datamodel/property_bits.h.
//
// An atom is the object there are millions of: it holds its values in plain fields (the property
// templates read and write them) and allocates nothing beyond its name and a bond list of more
// than two bonds.
#pragma once

#include <array>
#include <cstddef>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "datamodel/elements.h"
#include "datamodel/energy_holder.h"
#include "datamodel/object.h"
#include "datamodel/reference.h"
#include "base/small_vector.h"

class xxBondableInteraction;
class xxBond;
class xxPiSystem;
class xxPiSystemBond;
class xxMolecule;
class xxAtom;
class xxRestrictable;
struct xxPeriodicCell;

// A property whose value a restriction can fix: its restrictable stands for (object, template).
template <class T>
class xxRestrictablePropertyTemplate : public xxPropertyTemplate<T> {
public:
    using xxPropertyTemplate<T>::xxPropertyTemplate;
    xxRestrictable* GetAsRestrictable(xxObject& object) const override;
};
extern template class xxRestrictablePropertyTemplate<xxPoint3d>;

// A property whose value read from a document is checked before it is stored.
template <class T>
class xxCheckedPropertyTemplate : public xxPropertyTemplate<T> {
public:
    using Check = bool (*)(const T&);
    xxCheckedPropertyTemplate(const char* name, xxPropertyBase::OwnerClass owner, typename xxPropertyTemplate<T>::Field field,
                              unsigned bit, T defaultValue, Check check)
        : xxPropertyTemplate<T>(name, owner, field, bit, std::move(defaultValue)), check_(check) {}

protected:
    bool Accepts(const T& value) const override { return check_(value); }

private:
    Check check_;
};

// Bond types as documents store them, with their orders. Partial (a partial double bond) and
// Aromatic share the order 1.5; a bond keeps the type it was given, so the two stay apart.
enum class xxBondType : int {
    Single = 1,
    Partial = 2,
    Aromatic = 3,
    Double = 4,
    TriplePartial = 5,
    Triple = 6,
    Quadruple = 7,
};
// 1, 1.5, 1.5, 2, 2.5, 3 or 4; throws Cfx::CfxResult E_INVALIDARG for a value that is not a bond
// type.
double BondOrderOf(xxBondType type);
// True for the codes 1 to 7.
bool IsBondType(int code);

// ---- matter -------------------------------------------------------------------

class xxMatter : public xxObject {
    XX_DECLARE_CLASS(xxMatter)
public:
    static const xxRestrictablePropertyTemplate<xxPoint3d> m_pptXYZ;
    static const xxPropertyTemplate<xxPoint3d> m_pptVelocity;
    static const xxPropertyTemplate<double> m_pptCharge;
    static const xxPropertyTemplate<std::string> m_pptForcefieldType;
    // A trajectory frame's velocity relative to the cell and force on the object; kept beside
    // the objects and not saved with the document (the trajectory gives them again).
    static const xxDetachedPropertyTemplate<xxPoint3d> m_pptRelativeVelocity;
    static const xxDetachedPropertyTemplate<xxPoint3d> m_pptForce;

    ~xxMatter() override;

    // The detached values too.
    void InitialiseObjectToDefault() override;

    xxPoint3d GetXYZ() const override { return xyz_; }
    void SetXYZ(const xxPoint3d& position) override;
    const xxPoint3d& GetVelocity() const { return velocity_; }
    void SetVelocity(const xxPoint3d& velocity);
    double GetCharge() const { return charge_; }
    void SetCharge(double charge);
    const std::string& GetForcefieldType() const { return forcefieldType_; }
    void SetForcefieldType(std::string type);

    // The restrictable of the position (m_pptXYZ), made on first use.
    xxRestrictable& GetXYZRestrictable();
    // False while a complete restriction holds the position.
    bool IsMoveable() const;

protected:
    xxMatter() = default;

private:
    xxPoint3d xyz_;
    xxPoint3d velocity_;
    double charge_ = 0;
    std::string forcefieldType_;
};

// ---- bondable objects and their interactions -----------------------------------

// Matter that takes part in bonds. A bond is a child of the lowest common tree node of its two
// ends and stands in both ends' bond lists; it dies with either end, and follows its ends when
// they move (SetParent).
class xxBondable : public xxMatter {
    XX_DECLARE_CLASS(xxBondable)
public:
    static const xxPropertyTemplate<int> m_pptImportOrder;

    ~xxBondable() override;

    // The bond between a and b, made under their lowest common node. When they are bonded
    // already, returns that bond unchanged (whatever type is asked). Throws Cfx::CfxResult
    // E_INVALIDARG when a is b, for a type that is not a bond type, when the two share no tree
    // node, or when one is a pi system the other is a member of.
    static xxBond& MakeBond(xxBondable& a, xxBondable& b, xxBondType type = xxBondType::Single);

    // Every interaction of this object in the order made: bonds and pi-system memberships
    // (xxBondableInteraction::IsPiSystemBond tells them apart). The view holds until a bond of
    // the object is made or goes.
    std::span<xxBondableInteraction* const> GetBonds() const { return bonds_; }
    // The partners over ordinary bonds (xxBond), in bond order.
    std::vector<xxBondable*> GetAttached() const;
    // The pi systems this object is a member of.
    std::vector<xxPiSystem*> GetPiSystems() const;
    xxBond* FindBond(const xxBondable& other) const;
    bool IsBondedTo(const xxBondable& other) const { return FindBond(other) != nullptr; }
    // Destroys the ordinary bond to other; false when there is none.
    bool BreakBond(const xxBondable& other);

    int GetImportOrder() const { return importOrder_; }
    void SetImportOrder(int order);

    // Moves every bond of the bondable objects at or below root under its ends' lowest common
    // node (destroying bonds whose ends no longer share a tree). Nodes that hold bondable objects
    // call it when they move.
    static void RehomeBondsBelow(xxObject& root);

protected:
    xxBondable() = default;
    void OnParentChanged() override { RehomeBondsBelow(*this); }

private:
    friend class xxBondableInteraction;
    void RehomeOwnBonds();

    xxSmallVector<xxBondableInteraction*, 2> bonds_;  // in place up to two, which most atoms have
    int importOrder_ = 0;
};

// A link between two bondable objects.
class xxBondableInteraction : public xxObject {
    XX_DECLARE_CLASS(xxBondableInteraction)
public:
    ~xxBondableInteraction() override;

    // The two ends (null for an interaction made by class name and not yet connected, or one
    // whose end is gone while the interaction was out of the tree).
    std::array<xxBondable*, 2> GetAtoms() const { return ends_; }
    // The other end; null when end is not one of the two.
    xxBondable* GetPartner(const xxBondable& end) const;
    bool Joins(const xxBondable& a, const xxBondable& b) const {
        return (ends_[0] == &a && ends_[1] == &b) || (ends_[0] == &b && ends_[1] == &a);
    }
    // True for a pi system's bond to one of its members.
    virtual bool IsPiSystemBond() const { return false; }

    // Connects an interaction made by class name (document readers). Throws Cfx::CfxResult
    // E_INVALIDARG when it is connected already or a is b. It does not look for an existing bond.
    void Connect(xxBondable& a, xxBondable& b);

protected:
    xxBondableInteraction() = default;

private:
    friend class xxBondable;
    std::array<xxBondable*, 2> ends_{};
};

class xxBond : public xxBondableInteraction {
    XX_DECLARE_CLASS(xxBond)
public:
    static const xxCheckedPropertyTemplate<double> m_pptOrder;
    // The type the bond was given, assigned only when its order alone does not tell it
    // (aromatic, triple partial, quadruple), so documents of ordinary bonds do not change.
    static const xxCheckedPropertyTemplate<int> m_pptBondType;

    xxBond() = default;

    double GetOrder() const { return order_; }
    // Throws Cfx::CfxResult E_INVALIDARG for an order that is negative or not finite. The bond
    // then has the type its order gives.
    void SetOrder(double order);
    // The type the bond was given while its order is still that type's; otherwise the type
    // nearest to the order among single, partial, double and triple (orders below 1.25 read as
    // single).
    xxBondType GetBondType() const;
    // Sets the order of the type and keeps the type. Throws E_INVALIDARG for a value that is
    // not a bond type.
    void SetBondType(xxBondType type);
    // The stored type as its code (1 to 7).
    int GetHeavy() const { return static_cast<int>(GetBondType()); }

private:
    double order_ = 1.0;
    int type_ = 0;  // 0: the order tells the type
};

// A pi system's link to one of its members.
class xxPiSystemBond : public xxBondableInteraction {
    XX_DECLARE_CLASS(xxPiSystemBond)
public:
    xxPiSystemBond() = default;
    bool IsPiSystemBond() const override { return true; }
};

// ---- atoms and dummies -----------------------------------------------------------------------

// Receives the pairs that bond across a cell boundary: partner shifted by offset (in lattice
// vectors) lies within bonding distance of atom. Returns what to bond atom to (partner's image in
// that cell, say), or null for no bond.
using xxImageResolver = std::function<xxBondable*(xxAtom& atom, xxAtom& partner, const std::array<int, 3>& offset)>;

class xxAtom : public xxBondable {
    XX_DECLARE_CLASS(xxAtom)
public:
    static const xxPropertyTemplate<bool> m_pptIsOutOfPlane;
    static const xxPropertyTemplate<bool> m_pptIsBackboneAtom;
    static const xxPropertyTemplate<bool> m_pptIsChiralCenter;

    bool IsOutOfPlane() const { return outOfPlane_; }
    void SetIsOutOfPlane(bool value);
    bool IsBackboneAtom() const { return backbone_; }
    void SetIsBackboneAtom(bool value);
    bool IsChiralCenter() const { return chiral_; }
    void SetIsChiralCenter(bool value);

    // The element; the unknown element (number 0) when the atom has none.
    virtual const xxElement& GetElement() const { return xxElementFactory::Unknown(); }

    // Bond perception from covalent radii: two atoms bond when their distance d satisfies
    // 0.4 <= d <= r(a) + r(b) + 0.45 (Angstrom). Atoms of the unknown element bond to nothing;
    // pairs bonded already are left alone. Linear time (a cell list). Returns the bonds made.
    //
    // Over the atoms below the molecule, within the molecule only.
    static std::size_t ConstructBonds(xxMolecule& molecule);
    // Over a list of atoms. With a cell, pairs across the cell boundary are found too; they are
    // bonded to what the resolver gives (by default, to each other directly). Throws
    // Cfx::CfxResult E_INVALIDARG for a cell whose vectors span no volume.
    static std::size_t ConstructBonds(std::span<xxAtom* const> atoms, const xxPeriodicCell* cell = nullptr,
                                      const xxImageResolver& resolver = {});

protected:
    xxAtom() = default;

private:
    bool outOfPlane_ = false;
    bool backbone_ = false;
    bool chiral_ = false;
};

// One element of a mixed site and its share of the site (a fraction).
class xxAtomComponent {
public:
    xxAtomComponent() = default;
    explicit xxAtomComponent(const xxElement& element, double composition = 1.0)
        : element_(element.number), composition_(composition) {}
    const xxElement& GetElement() const;
    int GetAtomicNumber() const { return element_; }
    double GetComposition() const { return composition_; }
    void SetComposition(double composition) { composition_ = composition; }
    friend bool operator==(const xxAtomComponent&, const xxAtomComponent&) = default;

private:
    int element_ = 0;
    double composition_ = 1.0;
};

class xxAtom3d : public xxAtom {
    XX_DECLARE_CLASS(xxAtom3d)
public:
    static const xxCheckedPropertyTemplate<int> m_pptElement;  // atomic number, 0 unknown
    static const xxCheckedPropertyTemplate<int> m_pptIsotope;  // mass number, 0 none
    static const xxCheckedPropertyTemplate<xxRational> m_pptFormalCharge;
    static const xxCheckedPropertyTemplate<double> m_pptOccupancy;
    static const xxCheckedPropertyTemplate<double> m_pptIsotropicTF;  // stored as U (Angstrom^2)
    static const xxCheckedPropertyTemplate<int> m_pptAppliedTF;
    static const xxCheckedPropertyTemplate<int> m_pptHybridization;
    // Kept beside the atom, for the few atoms that have one.
    static const xxCheckedPropertyTemplate<xxMatrix3x3> m_pptAnisotropicTF;  // U (Angstrom^2)

    // Temperature-factor formats: U (Angstrom^2) and B = 8 pi^2 U.
    static constexpr int kTFFormatU = 0;
    static constexpr int kTFFormatB = 1;
    // The anisotropic factor as the symmetric U matrix.
    static constexpr int kTFFormatUMatrix = 6;
    // Hybridisations: 0 none (the default) up to 13 automatic.
    static constexpr int kMaxHybridization = 13;
    // Applied temperature factors.
    static constexpr int kNoTF = 0;
    static constexpr int kIsotropicTF = 1;
    static constexpr int kAnisotropicTF = 2;

    xxAtom3d() = default;  // the unknown element
    ~xxAtom3d() override;
    // An atom of the element with that symbol (any case) or "unknown"; throws Cfx::CfxResult
    // E_INVALIDARG for any other text.
    explicit xxAtom3d(std::string_view elementText);

    void SetElement(std::string_view elementText);
    // Throws Cfx::CfxResult E_INVALIDARG outside 0..kMaxElementNumber.
    void SetElementNumber(int number);
    int GetElementNumber() const { return element_; }
    const xxElement& GetElement() const override;
    std::string_view GetElementSymbol() const { return GetElement().symbol; }  // "Xx" for unknown

    // Mass number; 0 means the natural isotope mixture. Throws E_INVALIDARG below 0.
    void SetIsotope(int massNumber);
    int GetIsotope() const { return isotope_; }
    bool IsIsotope() const { return isotope_ != 0; }
    // The isotope's atomic mass when the atom has an isotope (its mass number when the isotope
    // table does not hold it), else the element's atomic weight.
    double GetMass() const;

    // Stored reduced, with a positive denominator. Throws E_INVALIDARG for a zero denominator
    // or a value that does not reduce into int.
    void SetFormalCharge(int numerator, int denominator = 1);
    xxRational GetFormalCharge() const { return formalCharge_; }
    bool IsFormalChargeDefault() const { return formalCharge_ == xxRational{}; }

    // Throws E_INVALIDARG outside 0..1.
    void SetOccupancy(double occupancy);
    double GetOccupancy() const { return occupancy_; }

    // Throws E_INVALIDARG for a format other than kTFFormatU/kTFFormatB or a value not finite.
    void SetIsotropicTF(double value, int format = kTFFormatU);
    double GetIsotropicTF(int format = kTFFormatU) const;
    // The equivalent isotropic U; the isotropic value, as the model holds no anisotropic one.
    double GetUeqTF() const { return isotropicU_; }
    // kNoTF, kIsotropicTF or kAnisotropicTF; throws E_INVALIDARG for other values.
    void SetAppliedTF(int applied);
    int GetAppliedTF() const { return appliedTF_; }

    // Throws E_INVALIDARG for a format other than kTFFormatUMatrix or a value not finite.
    void SetAnisotropicTF(const xxMatrix3x3& u, int format = kTFFormatUMatrix);
    // The zero matrix when the atom has none.
    xxMatrix3x3 GetAnisotropicTF(int format = kTFFormatUMatrix) const;

    // A mixed site: its components, kept beside the atom. Setting them makes the atom's element
    // the component of largest composition (the first of equal ones); an empty list makes the
    // atom plain again. Throws E_INVALIDARG for a component of no element or a composition
    // outside 0..1.
    bool IsMixture() const;
    std::vector<xxAtomComponent> GetMixtureProperties() const;
    void SetMixtureProperties(std::vector<xxAtomComponent> components);

    // Throws E_INVALIDARG outside 0..kMaxHybridization.
    void SetHybridization(int hybridization);
    int GetHybridization() const { return hybridization_; }
    bool IsHybridizationDefault() const { return hybridization_ == 0; }

private:
    int element_ = 0;
    int isotope_ = 0;
    xxRational formalCharge_;
    double occupancy_ = 1.0;
    double isotropicU_ = 0;
    int appliedTF_ = 0;
    int hybridization_ = 0;  // in the room appliedTF_ leaves, so an atom does not grow
};

class xxDummyBase : public xxBondable {
    XX_DECLARE_CLASS(xxDummyBase)
public:
    static const xxPropertyTemplate<std::string> m_pptDummySymbol;
    static const xxPropertyTemplate<std::string> m_pptDummyKind;

    const std::string& GetDummySymbol() const { return dummySymbol_; }
    void SetDummySymbol(std::string symbol);
    // What the dummy stands for ("Dummy Atom", "Geometry Aid", "Point Charge"); empty: unsaid.
    const std::string& GetDummyKind() const { return dummyKind_; }
    void SetDummyKind(std::string kind);

protected:
    xxDummyBase() = default;

private:
    std::string dummySymbol_;
    std::string dummyKind_;
};

class xxDummy : public xxDummyBase {
    XX_DECLARE_CLASS(xxDummy)
public:
    xxDummy() = default;
};

// A pseudo-atom standing for a group of members (a ring bonded as a whole to a metal). It is
// bondable, so a coordinated atom bonds to it as to any atom.
class xxPiSystem : public xxBondable {
    XX_DECLARE_CLASS(xxPiSystem)
public:
    static const xxPropertyTemplate<bool> m_pptHasDynamicPosition;

    xxPiSystem() = default;

    // Joins member to the pi system, under their lowest common node; a member joins once.
    // Throws Cfx::CfxResult E_INVALIDARG for the pi system itself, another pi system, a member
    // it is bonded to, or one in no common tree.
    xxPiSystemBond& MakePiSystemBond(xxBondable& member);
    // Joins every object of members that is not a member yet, in the given order (an object
    // listed twice joins once). All are checked as MakePiSystemBond checks one before any
    // joins, so a refusal changes nothing; the cost is linear in the members.
    void SetPiSystemAtoms(std::span<xxBondable* const> members);
    std::vector<xxBondable*> GetPiSystemAtoms() const;
    // The membership links, in the order made.
    std::vector<xxPiSystemBond*> GetPiSystemBonds() const;
    bool IsMember(const xxBondable& object) const;

    // With a dynamic position the pi system sits at its members' centroid.
    bool HasDynamicPosition() const { return dynamicPosition_; }
    void SetHasDynamicPosition(bool value);
    xxPoint3d GetXYZ() const override;

private:
    bool dynamicPosition_ = false;
};

// ---- containers -------------------------------------------------------------------------

class xxMatterContainer : public xxTreeNode {
    XX_DECLARE_CLASS(xxMatterContainer)
public:
    // The atoms and dummies below the container.
    int CalculateNumMatterObjects() const;

protected:
    xxMatterContainer() = default;
    void OnParentChanged() override { xxBondable::RehomeBondsBelow(*this); }
};

class xxMolecule : public xxMatterContainer {
    XX_DECLARE_CLASS(xxMolecule)
public:
    xxMolecule() = default;
};

class xxMultiScaleMolecule : public xxMolecule {
    XX_DECLARE_CLASS(xxMultiScaleMolecule)
public:
    xxMultiScaleMolecule() = default;
};

class xxSubUnit : public xxMatterContainer {
    XX_DECLARE_CLASS(xxSubUnit)
public:
    xxSubUnit() = default;
};

class xxMultiScaleSubUnit : public xxSubUnit {
    XX_DECLARE_CLASS(xxMultiScaleSubUnit)
public:
    xxMultiScaleSubUnit() = default;
};

// The root of an atomistic document; its frame's energies are its properties.
class xxAtomisticTreeRoot : public xxClassicalEnergyHolder {
    XX_DECLARE_CLASS(xxAtomisticTreeRoot)
public:
    xxAtomisticTreeRoot() = default;
};

// ---- charge groups ---------------------------------------------------------------------

// Bondable objects (atoms, dummies, pi-system centres) whose charges are switched together,
// around a switching centre.
class xxChargeGroup : public xxObject {
    XX_DECLARE_CLASS(xxChargeGroup)
public:
    xxChargeGroup() = default;

    // Replaces the members. Throws Cfx::CfxResult E_POINTER for a null entry.
    void SetAtoms(std::span<xxAtom* const> atoms);
    void SetMembers(std::span<xxBondable* const> members);
    // The members that are atoms, and every member, in order.
    std::vector<xxAtom*> GetAtoms() const { return members_.ObjectsOf<xxAtom>(); }
    std::vector<xxBondable*> GetMembers() const { return members_.ObjectsOf<xxBondable>(); }
    // Null clears it.
    void SetSwitchingCenter(xxBondable* center) { center_.Reset(center); }
    xxBondable* GetSwitchingCenter() const { return center_.Get(); }

private:
    xxReferenceList members_;
    xxReference<xxBondable> center_;
};
