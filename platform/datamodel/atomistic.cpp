#include "datamodel/atomistic.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <numbers>
#include <numeric>
#include <unordered_map>
#include <unordered_set>

#include "base/text.h"
#include "datamodel/property_bits.h"
#include "datamodel/sets.h"


namespace {

bool IsUnknownText(std::string_view text) { return cartovane::text::EqualsNoCase(text, "unknown"); }

bool IsElementNumber(const int& v) { return v >= 0 && v <= kMaxElementNumber; }
bool IsMassNumber(const int& v) { return v >= 0; }
bool IsReducedFraction(const xxRational& v) {
    if (v.denominator <= 0) return false;
    std::int64_t n = v.numerator;
    return std::gcd(n < 0 ? -n : n, std::int64_t{v.denominator}) == 1;
}
bool IsOccupancy(const double& v) { return v >= 0 && v <= 1; }
bool IsFinite(const double& v) { return std::isfinite(v); }
bool IsAppliedTF(const int& v) { return v >= xxAtom3d::kNoTF && v <= xxAtom3d::kAnisotropicTF; }
bool IsBondOrder(const double& v) { return std::isfinite(v) && v >= 0; }
bool IsStoredBondType(const int& v) { return v == 0 || IsBondType(v); }

constexpr double kBPerU = 8 * std::numbers::pi * std::numbers::pi;

bool IsHybridization(const int& v) { return v >= 0 && v <= xxAtom3d::kMaxHybridization; }
bool IsFiniteMatrix(const xxMatrix3x3& m) {
    for (double v : m.Values())
        if (!std::isfinite(v)) return false;
    return true;
}

// What few atoms have (anisotropic factors, mixed sites), beside the atoms; never destroyed, as
// atoms may outlive static destruction.
struct AtomExtras {
    xxMatrix3x3 anisotropicU;
    std::vector<xxAtomComponent> mixture;
};
std::unordered_map<const xxObject*, AtomExtras>& Extras() {
    static auto* extras = new std::unordered_map<const xxObject*, AtomExtras>();
    return *extras;
}
const AtomExtras* FindExtras(const xxObject& atom) {
    const auto& extras = Extras();
    if (extras.empty()) return nullptr;
    const auto it = extras.find(&atom);
    return it == extras.end() ? nullptr : &it->second;
}
xxMatrix3x3& AnisotropicField(xxObject& atom) { return Extras()[&atom].anisotropicU; }

std::size_t Depth(const xxObject& o) {
    std::size_t d = 0;
    for (const xxObject* p = o.GetParent(); p; p = p->GetParent()) ++d;
    return d;
}

// The deepest node above both objects; null when they share none.
xxTreeNode* LowestCommonNode(const xxObject& a, const xxObject& b) {
    xxTreeNode* pa = a.GetParent();
    xxTreeNode* pb = b.GetParent();
    if (!pa || !pb) return nullptr;
    if (pa == pb) return pa;
    std::size_t da = Depth(*pa);
    std::size_t db = Depth(*pb);
    for (; da > db; --da) pa = pa->GetParent();
    for (; db > da; --db) pb = pb->GetParent();
    while (pa != pb) {
        pa = pa->GetParent();
        pb = pb->GetParent();
    }
    return pa;
}

// Destroys an interaction through the tree when it is in one; true when it was destroyed.
bool DestroyInteraction(xxBondableInteraction& interaction) {
    xxTreeNode* parent = interaction.GetParent();
    if (!parent) return false;
    std::unique_ptr<xxObject> owned = parent->DetachChild(interaction);
    return owned != nullptr;  // owned dies here; the interaction leaves both bond lists
}

}  // namespace

double BondOrderOf(xxBondType type) {
    switch (type) {
        case xxBondType::Single: return 1.0;
        case xxBondType::Partial: return 1.5;
        case xxBondType::Aromatic: return 1.5;
        case xxBondType::Double: return 2.0;
        case xxBondType::TriplePartial: return 2.5;
        case xxBondType::Triple: return 3.0;
        case xxBondType::Quadruple: return 4.0;
    }
    throw Cfx::CfxResult(E_INVALIDARG, "Bond type " + std::to_string(static_cast<int>(type)) + " is not 1 to 7");
}

bool IsBondType(int code) { return code >= 1 && code <= 7; }

// ---- class records and property templates ------------------------------------------------

const xxRestrictablePropertyTemplate<xxPoint3d> xxMatter::m_pptXYZ("XYZ", &xxMatter::Class, XX_FIELD(xxMatter, xyz_),
                                                                    xxPropertyBit::kXYZ);
const xxPropertyTemplate<xxPoint3d> xxMatter::m_pptVelocity("Velocity", &xxMatter::Class, XX_FIELD(xxMatter, velocity_),
                                                            xxPropertyBit::kVelocity);
const xxPropertyTemplate<double> xxMatter::m_pptCharge("Charge", &xxMatter::Class, XX_FIELD(xxMatter, charge_),
                                                       xxPropertyBit::kCharge);
const xxPropertyTemplate<std::string> xxMatter::m_pptForcefieldType("ForcefieldType", &xxMatter::Class,
                                                                    XX_FIELD(xxMatter, forcefieldType_),
                                                                    xxPropertyBit::kForcefieldType);
const xxDetachedPropertyTemplate<xxPoint3d> xxMatter::m_pptRelativeVelocity("RelativeVelocity", &xxMatter::Class,
                                                                          xxPropertyBit::kRelativeVelocity);
const xxDetachedPropertyTemplate<xxPoint3d> xxMatter::m_pptForce("Force", &xxMatter::Class, xxPropertyBit::kForce);
// The two detached templates stay out of the table: the serialisers do not walk them.
XX_IMPLEMENT_ABSTRACT_CLASS(xxMatter, "Matter", xxObject, 2, &xxMatter::m_pptXYZ, &xxMatter::m_pptVelocity,
                            &xxMatter::m_pptCharge, &xxMatter::m_pptForcefieldType)

const xxPropertyTemplate<int> xxBondable::m_pptImportOrder("ImportOrder", &xxBondable::Class,
                                                           XX_FIELD(xxBondable, importOrder_), xxPropertyBit::kImportOrder);
XX_IMPLEMENT_ABSTRACT_CLASS(xxBondable, "Bondable", xxMatter, 1, &xxBondable::m_pptImportOrder)

XX_IMPLEMENT_ABSTRACT_CLASS(xxBondableInteraction, "BondableInteraction", xxObject, 2)

const xxCheckedPropertyTemplate<double> xxBond::m_pptOrder("Order", &xxBond::Class, XX_FIELD(xxBond, order_),
                                                           xxPropertyBit::kBondOrder, 1.0, IsBondOrder);
const xxCheckedPropertyTemplate<int> xxBond::m_pptBondType("BondType", &xxBond::Class, XX_FIELD(xxBond, type_),
                                                            xxPropertyBit::kBondType, 0, IsStoredBondType);
XX_IMPLEMENT_CLASS(xxBond, "Bond", xxBondableInteraction, 2, &xxBond::m_pptOrder, &xxBond::m_pptBondType)
XX_IMPLEMENT_CLASS(xxPiSystemBond, "PiSystemBond", xxBondableInteraction, 1)

const xxPropertyTemplate<bool> xxAtom::m_pptIsOutOfPlane("IsOutOfPlane", &xxAtom::Class, XX_FIELD(xxAtom, outOfPlane_),
                                                         xxPropertyBit::kIsOutOfPlane);
const xxPropertyTemplate<bool> xxAtom::m_pptIsBackboneAtom("IsBackboneAtom", &xxAtom::Class,
                                                           XX_FIELD(xxAtom, backbone_), xxPropertyBit::kIsBackboneAtom);
const xxPropertyTemplate<bool> xxAtom::m_pptIsChiralCenter("IsChiralCenter", &xxAtom::Class, XX_FIELD(xxAtom, chiral_),
                                                           xxPropertyBit::kIsChiralCenter);
XX_IMPLEMENT_ABSTRACT_CLASS(xxAtom, "Atom", xxBondable, 1, &xxAtom::m_pptIsOutOfPlane, &xxAtom::m_pptIsBackboneAtom,
                            &xxAtom::m_pptIsChiralCenter)

const xxCheckedPropertyTemplate<int> xxAtom3d::m_pptElement("Element", &xxAtom3d::Class, XX_FIELD(xxAtom3d, element_),
                                                            xxPropertyBit::kElement, 0, IsElementNumber);
const xxCheckedPropertyTemplate<int> xxAtom3d::m_pptIsotope("Isotope", &xxAtom3d::Class, XX_FIELD(xxAtom3d, isotope_),
                                                            xxPropertyBit::kIsotope, 0, IsMassNumber);
const xxCheckedPropertyTemplate<xxRational> xxAtom3d::m_pptFormalCharge("FormalCharge", &xxAtom3d::Class,
                                                                        XX_FIELD(xxAtom3d, formalCharge_),
                                                                        xxPropertyBit::kFormalCharge, xxRational{},
                                                                        IsReducedFraction);
const xxCheckedPropertyTemplate<double> xxAtom3d::m_pptOccupancy("Occupancy", &xxAtom3d::Class,
                                                                 XX_FIELD(xxAtom3d, occupancy_), xxPropertyBit::kOccupancy,
                                                                 1.0, IsOccupancy);
const xxCheckedPropertyTemplate<double> xxAtom3d::m_pptIsotropicTF("IsotropicTF", &xxAtom3d::Class,
                                                                   XX_FIELD(xxAtom3d, isotropicU_),
                                                                   xxPropertyBit::kIsotropicTF, 0.0, IsFinite);
const xxCheckedPropertyTemplate<int> xxAtom3d::m_pptAppliedTF("AppliedTF", &xxAtom3d::Class,
                                                              XX_FIELD(xxAtom3d, appliedTF_), xxPropertyBit::kAppliedTF,
                                                              kNoTF, IsAppliedTF);
const xxCheckedPropertyTemplate<int> xxAtom3d::m_pptHybridization("Hybridization", &xxAtom3d::Class,
                                                                  XX_FIELD(xxAtom3d, hybridization_),
                                                                  xxPropertyBit::kHybridization, 0, IsHybridization);
const xxCheckedPropertyTemplate<xxMatrix3x3> xxAtom3d::m_pptAnisotropicTF("AnisotropicTF", &xxAtom3d::Class,
                                                                          AnisotropicField, xxPropertyBit::kAnisotropicTF,
                                                                          xxMatrix3x3{}, IsFiniteMatrix);
XX_IMPLEMENT_CLASS(xxAtom3d, "Atom3d", xxAtom, 1, &xxAtom3d::m_pptElement, &xxAtom3d::m_pptIsotope,
                   &xxAtom3d::m_pptFormalCharge, &xxAtom3d::m_pptOccupancy, &xxAtom3d::m_pptIsotropicTF,
                   &xxAtom3d::m_pptAppliedTF, &xxAtom3d::m_pptHybridization, &xxAtom3d::m_pptAnisotropicTF)

const xxPropertyTemplate<std::string> xxDummyBase::m_pptDummySymbol("DummySymbol", &xxDummyBase::Class,
                                                                    XX_FIELD(xxDummyBase, dummySymbol_),
                                                                    xxPropertyBit::kDummySymbol);
const xxPropertyTemplate<std::string> xxDummyBase::m_pptDummyKind("DummyKind", &xxDummyBase::Class,
                                                                  XX_FIELD(xxDummyBase, dummyKind_),
                                                                  xxPropertyBit::kDummyKind);
XX_IMPLEMENT_ABSTRACT_CLASS(xxDummyBase, "DummyBase", xxBondable, 1, &xxDummyBase::m_pptDummySymbol,
                            &xxDummyBase::m_pptDummyKind)
XX_IMPLEMENT_CLASS(xxDummy, "Dummy", xxDummyBase, 1)

const xxPropertyTemplate<bool> xxPiSystem::m_pptHasDynamicPosition("HasDynamicPosition", &xxPiSystem::Class,
                                                                   XX_FIELD(xxPiSystem, dynamicPosition_),
                                                                   xxPropertyBit::kHasDynamicPosition);
XX_IMPLEMENT_CLASS(xxPiSystem, "PiSystem", xxBondable, 1, &xxPiSystem::m_pptHasDynamicPosition)

XX_IMPLEMENT_ABSTRACT_CLASS(xxMatterContainer, "MatterContainer", xxTreeNode, 1)
XX_IMPLEMENT_CLASS(xxMolecule, "Molecule", xxMatterContainer, 3)
XX_IMPLEMENT_CLASS(xxMultiScaleMolecule, "MultiScaleMolecule", xxMolecule, 1)
XX_IMPLEMENT_CLASS(xxSubUnit, "SubUnit", xxMatterContainer, 2)
XX_IMPLEMENT_CLASS(xxMultiScaleSubUnit, "MultiScaleSubUnit", xxSubUnit, 1)
XX_IMPLEMENT_CLASS(xxAtomisticTreeRoot, "AtomisticTreeRoot", xxClassicalEnergyHolder, 2)
XX_IMPLEMENT_CLASS(xxChargeGroup, "ChargeGroup", xxObject, 1)

template <class T>
xxRestrictable* xxRestrictablePropertyTemplate<T>::GetAsRestrictable(xxObject& object) const {
    this->CheckOwner(object);
    return &xxRestrictable::For(object, *this);
}
template class xxRestrictablePropertyTemplate<xxPoint3d>;

// ---- xxMatter ---------------------------------------------------------------------------

xxMatter::~xxMatter() {
    m_pptRelativeVelocity.Forget(*this);
    m_pptForce.Forget(*this);
}

void xxMatter::InitialiseObjectToDefault() {
    xxObject::InitialiseObjectToDefault();
    m_pptRelativeVelocity.UnassignValue(*this);
    m_pptForce.UnassignValue(*this);
}

void xxMatter::SetXYZ(const xxPoint3d& position) {
    xyz_ = position;
    AssignedMask() |= m_pptXYZ.Mask();
}

void xxMatter::SetVelocity(const xxPoint3d& velocity) {
    velocity_ = velocity;
    AssignedMask() |= m_pptVelocity.Mask();
}

void xxMatter::SetCharge(double charge) {
    charge_ = charge;
    AssignedMask() |= m_pptCharge.Mask();
}

void xxMatter::SetForcefieldType(std::string type) {
    forcefieldType_ = std::move(type);
    AssignedMask() |= m_pptForcefieldType.Mask();
}

bool xxMatter::IsMoveable() const {
    const xxRestrictable* r = xxRestrictable::Find(*this, m_pptXYZ);
    return !r || !r->IsHeldComplete();
}

xxRestrictable& xxMatter::GetXYZRestrictable() { return xxRestrictable::For(*this, m_pptXYZ); }

// ---- xxBondable -------------------------------------------------------------------------

xxBondable::~xxBondable() {
    // Each interaction dies with either end. One out of the tree (detached by its owner) is only
    // cut loose from this end.
    while (!bonds_.empty()) {
        xxBondableInteraction* interaction = bonds_.back();
        if (DestroyInteraction(*interaction)) continue;
        for (auto& end : interaction->ends_)
            if (end == this) end = nullptr;
        bonds_.pop_back();
    }
}

xxBond* xxBondable::FindBond(const xxBondable& other) const {
    // The shorter list is searched: a pi system or a metal centre may have many bonds.
    const xxBondable& from = other.bonds_.size() < bonds_.size() ? other : *this;
    const xxBondable& to = &from == this ? other : *this;
    for (xxBondableInteraction* b : from.bonds_)
        if (!b->IsPiSystemBond() && b->GetPartner(from) == &to)
            if (auto* bond = b->As<xxBond>()) return bond;
    return nullptr;
}

xxBond& xxBondable::MakeBond(xxBondable& a, xxBondable& b, xxBondType type) {
    if (&a == &b) throw Cfx::CfxResult(E_INVALIDARG, "An object cannot be bonded to itself");
    BondOrderOf(type);  // refuses a code that is not a bond type before anything changes
    if (xxBond* existing = a.FindBond(b)) return *existing;
    const auto* piA = a.As<xxPiSystem>();
    const auto* piB = b.As<xxPiSystem>();
    if ((piA && piA->IsMember(b)) || (piB && piB->IsMember(a)))
        throw Cfx::CfxResult(E_INVALIDARG, "A pi system cannot be bonded to its own member");
    xxTreeNode* home = LowestCommonNode(a, b);
    if (!home) throw Cfx::CfxResult(E_INVALIDARG, "Objects that share no tree node cannot be bonded");
    auto bond = std::make_unique<xxBond>();
    bond->SetBondType(type);
    bond->Connect(a, b);
    xxBond& ref = *bond;
    home->AdoptChild(std::move(bond));
    return ref;
}

std::vector<xxBondable*> xxBondable::GetAttached() const {
    std::vector<xxBondable*> out;
    for (xxBondableInteraction* b : bonds_)
        if (!b->IsPiSystemBond())
            if (xxBondable* partner = b->GetPartner(*this)) out.push_back(partner);
    return out;
}

std::vector<xxPiSystem*> xxBondable::GetPiSystems() const {
    std::vector<xxPiSystem*> out;
    for (xxBondableInteraction* b : bonds_)
        if (b->IsPiSystemBond() && b->GetAtoms()[1] == this)
            if (xxBondable* pi = b->GetAtoms()[0]) out.push_back(static_cast<xxPiSystem*>(pi));
    return out;
}

bool xxBondable::BreakBond(const xxBondable& other) {
    xxBond* bond = FindBond(other);
    if (!bond) return false;
    if (DestroyInteraction(*bond)) return true;
    // A bond out of the tree belongs to whoever detached it; it is only disconnected.
    for (xxBondable* end : bond->ends_)
        if (end) end->bonds_.erase_value(bond);
    bond->ends_ = {};
    return true;
}

void xxBondable::SetImportOrder(int order) {
    importOrder_ = order;
    AssignedMask() |= m_pptImportOrder.Mask();
}

void xxBondable::RehomeOwnBonds() {
    for (std::size_t i = 0; i < bonds_.size();) {
        xxBondableInteraction* b = bonds_[i];
        auto [first, second] = b->ends_;
        if (!first || !second || !b->GetParent()) {
            ++i;
            continue;
        }
        xxTreeNode* home = LowestCommonNode(*first, *second);
        if (!home) {
            // The ends now lie in different trees: the bond cannot stand anywhere.
            if (DestroyInteraction(*b)) continue;
        } else if (b->GetParent() != home) {
            b->SetParent(*home);
        }
        ++i;
    }
}

void xxBondable::RehomeBondsBelow(xxObject& root) {
    if (auto* bondable = root.As<xxBondable>()) bondable->RehomeOwnBonds();
    auto* node = root.As<xxTreeNode>();
    if (!node) return;
    // Collected first: moving bonds changes the child lists being walked.
    std::vector<xxBondable*> bondables;
    node->ForEachDescendent([&](xxObject& o) {
        if (auto* b = o.As<xxBondable>()) bondables.push_back(b);
        return true;
    });
    for (xxBondable* b : bondables) b->RehomeOwnBonds();
}

// ---- interactions -------------------------------------------------------------------------

xxBondableInteraction::~xxBondableInteraction() {
    for (xxBondable* end : ends_) {
        if (!end) continue;
        auto& list = end->bonds_;
        auto it = std::find(list.rbegin(), list.rend(), this);
        if (it != list.rend()) list.erase(std::next(it).base());
    }
}

xxBondable* xxBondableInteraction::GetPartner(const xxBondable& end) const {
    if (ends_[0] == &end) return ends_[1];
    if (ends_[1] == &end) return ends_[0];
    return nullptr;
}

void xxBondableInteraction::Connect(xxBondable& a, xxBondable& b) {
    if (ends_[0] || ends_[1]) throw Cfx::CfxResult(E_INVALIDARG, "The interaction is connected already");
    if (&a == &b) throw Cfx::CfxResult(E_INVALIDARG, "An interaction needs two different ends");
    xxBondable* first = &a;
    xxBondable* second = &b;
    if (IsPiSystemBond()) {
        // The pi system is always the first end.
        if (!first->As<xxPiSystem>()) std::swap(first, second);
        if (!first->As<xxPiSystem>() || second->As<xxPiSystem>())
            throw Cfx::CfxResult(E_INVALIDARG, "A pi-system bond joins a pi system to a member that is not one");
    }
    // Room first (growing geometrically, as push_back would): nothing below throws.
    for (xxBondable* end : {first, second}) {
        auto& list = end->bonds_;
        if (list.size() == list.capacity()) list.reserve(std::max<std::size_t>(4, 2 * list.capacity()));
    }
    first->bonds_.push_back(this);
    second->bonds_.push_back(this);
    ends_ = {first, second};
}

void xxBond::SetOrder(double order) {
    if (!IsBondOrder(order))
        throw Cfx::CfxResult(E_INVALIDARG, "A bond order must be finite and not negative");
    order_ = order;
    type_ = 0;
    AssignedMask() |= m_pptOrder.Mask();
    AssignedMask() &= ~m_pptBondType.Mask();
}

void xxBond::SetBondType(xxBondType type) {
    SetOrder(BondOrderOf(type));
    if (type == GetBondType()) return;  // the order tells it
    type_ = static_cast<int>(type);
    AssignedMask() |= m_pptBondType.Mask();
}

xxBondType xxBond::GetBondType() const {
    // A stored type whose order was changed since (through the property) no longer holds.
    if (type_ != 0 && IsBondType(type_) && BondOrderOf(static_cast<xxBondType>(type_)) == order_)
        return static_cast<xxBondType>(type_);
    if (order_ >= 2.5) return xxBondType::Triple;
    if (order_ >= 1.75) return xxBondType::Double;
    if (order_ >= 1.25) return xxBondType::Partial;
    return xxBondType::Single;
}

// ---- atoms ------------------------------------------------------------------------------

void xxAtom::SetIsOutOfPlane(bool value) {
    outOfPlane_ = value;
    AssignedMask() |= m_pptIsOutOfPlane.Mask();
}

void xxAtom::SetIsBackboneAtom(bool value) {
    backbone_ = value;
    AssignedMask() |= m_pptIsBackboneAtom.Mask();
}

void xxAtom::SetIsChiralCenter(bool value) {
    chiral_ = value;
    AssignedMask() |= m_pptIsChiralCenter.Mask();
}

xxAtom3d::xxAtom3d(std::string_view elementText) { SetElement(elementText); }

xxAtom3d::~xxAtom3d() {
    if (auto& extras = Extras(); !extras.empty()) extras.erase(this);
}

const xxElement& xxAtomComponent::GetElement() const {
    const xxElement* element = xxElementFactory::FindElementByType(element_);
    return element ? *element : xxElementFactory::Unknown();
}

bool xxAtom3d::IsMixture() const {
    const AtomExtras* extras = FindExtras(*this);
    return extras && !extras->mixture.empty();
}

std::vector<xxAtomComponent> xxAtom3d::GetMixtureProperties() const {
    const AtomExtras* extras = FindExtras(*this);
    return extras ? extras->mixture : std::vector<xxAtomComponent>{};
}

void xxAtom3d::SetMixtureProperties(std::vector<xxAtomComponent> components) {
    const xxAtomComponent* major = nullptr;
    for (const xxAtomComponent& c : components) {
        if (c.GetAtomicNumber() < 1 || c.GetAtomicNumber() > kMaxElementNumber)
            throw Cfx::CfxResult(E_INVALIDARG, "A mixed site's component has no element (" +
                                                   std::to_string(c.GetAtomicNumber()) + ")");
        if (!(c.GetComposition() >= 0 && c.GetComposition() <= 1))
            throw Cfx::CfxResult(E_INVALIDARG, "A mixed site's composition is a fraction of 0 to 1");
        if (!major || c.GetComposition() > major->GetComposition()) major = &c;
    }
    if (major) SetElementNumber(major->GetAtomicNumber());
    if (components.empty()) {
        if (auto& extras = Extras(); !extras.empty())
            if (auto it = extras.find(this); it != extras.end()) it->second.mixture.clear();
        return;
    }
    Extras()[this].mixture = std::move(components);
}

void xxAtom3d::SetAnisotropicTF(const xxMatrix3x3& u, int format) {
    if (format != kTFFormatUMatrix)
        throw Cfx::CfxResult(E_INVALIDARG, "Anisotropic temperature factors are kept as U matrices (format 6), not format " +
                                               std::to_string(format));
    if (!IsFiniteMatrix(u)) throw Cfx::CfxResult(E_INVALIDARG, "An anisotropic temperature factor must be finite");
    m_pptAnisotropicTF.SetValue(*this, u);
}

xxMatrix3x3 xxAtom3d::GetAnisotropicTF(int format) const {
    if (format != kTFFormatUMatrix)
        throw Cfx::CfxResult(E_INVALIDARG, "Anisotropic temperature factors are kept as U matrices (format 6), not format " +
                                               std::to_string(format));
    return m_pptAnisotropicTF.GetValue(*this);
}

void xxAtom3d::SetHybridization(int hybridization) {
    if (!IsHybridization(hybridization))
        throw Cfx::CfxResult(E_INVALIDARG, "A hybridisation is 0 to 13, not " + std::to_string(hybridization));
    hybridization_ = hybridization;
    AssignedMask() |= m_pptHybridization.Mask();
}

void xxAtom3d::SetElement(std::string_view elementText) {
    if (IsUnknownText(elementText)) {
        SetElementNumber(0);
        return;
    }
    const xxElement* element = xxElementFactory::FindElement(elementText);
    if (!element)
        throw Cfx::CfxResult(E_INVALIDARG, "No element has the symbol \"" + std::string(elementText) + "\"");
    SetElementNumber(element->number);
}

void xxAtom3d::SetElementNumber(int number) {
    if (!IsElementNumber(number))
        throw Cfx::CfxResult(E_INVALIDARG, "No element has the atomic number " + std::to_string(number));
    element_ = number;
    AssignedMask() |= m_pptElement.Mask();
}

const xxElement& xxAtom3d::GetElement() const { return xxElementFactory::Table()[static_cast<std::size_t>(element_)]; }

void xxAtom3d::SetIsotope(int massNumber) {
    if (!IsMassNumber(massNumber))
        throw Cfx::CfxResult(E_INVALIDARG, "An isotope mass number cannot be negative");
    isotope_ = massNumber;
    AssignedMask() |= m_pptIsotope.Mask();
}

double xxAtom3d::GetMass() const {
    const xxElement& element = GetElement();
    if (isotope_ == 0) return element.GetAtomicWeight();
    const xxIsotope* isotope = element.FindIsotope(isotope_);
    return isotope ? isotope->mass : static_cast<double>(isotope_);
}

void xxAtom3d::SetFormalCharge(int numerator, int denominator) {
    if (denominator == 0) throw Cfx::CfxResult(E_INVALIDARG, "A formal charge cannot have the denominator 0");
    std::int64_t n = numerator;
    std::int64_t d = denominator;
    if (d < 0) {
        n = -n;
        d = -d;
    }
    const std::int64_t g = std::gcd(n < 0 ? -n : n, d);
    n /= g;
    d /= g;
    if (n < std::numeric_limits<int>::min() || n > std::numeric_limits<int>::max() || d > std::numeric_limits<int>::max())
        throw Cfx::CfxResult(E_INVALIDARG, "The formal charge does not fit");
    formalCharge_ = {static_cast<int>(n), static_cast<int>(d)};
    AssignedMask() |= m_pptFormalCharge.Mask();
}

void xxAtom3d::SetOccupancy(double occupancy) {
    if (!IsOccupancy(occupancy)) throw Cfx::CfxResult(E_INVALIDARG, "An occupancy lies between 0 and 1");
    occupancy_ = occupancy;
    AssignedMask() |= m_pptOccupancy.Mask();
}

void xxAtom3d::SetIsotropicTF(double value, int format) {
    if (!std::isfinite(value)) throw Cfx::CfxResult(E_INVALIDARG, "A temperature factor must be finite");
    if (format == kTFFormatU) isotropicU_ = value;
    else if (format == kTFFormatB) isotropicU_ = value / kBPerU;
    else throw Cfx::CfxResult(E_INVALIDARG, "Temperature-factor format " + std::to_string(format) + " is not 0 (U) or 1 (B)");
    AssignedMask() |= m_pptIsotropicTF.Mask();
}

double xxAtom3d::GetIsotropicTF(int format) const {
    if (format == kTFFormatU) return isotropicU_;
    if (format == kTFFormatB) return isotropicU_ * kBPerU;
    throw Cfx::CfxResult(E_INVALIDARG, "Temperature-factor format " + std::to_string(format) + " is not 0 (U) or 1 (B)");
}

void xxAtom3d::SetAppliedTF(int applied) {
    if (!IsAppliedTF(applied))
        throw Cfx::CfxResult(E_INVALIDARG, "The applied temperature factor is 0, 1 or 2, not " + std::to_string(applied));
    appliedTF_ = applied;
    AssignedMask() |= m_pptAppliedTF.Mask();
}

void xxDummyBase::SetDummySymbol(std::string symbol) {
    dummySymbol_ = std::move(symbol);
    AssignedMask() |= m_pptDummySymbol.Mask();
}

void xxDummyBase::SetDummyKind(std::string kind) {
    dummyKind_ = std::move(kind);
    AssignedMask() |= m_pptDummyKind.Mask();
}

// ---- pi systems -----------------------------------------------------------------------------

namespace {
// Why member cannot join pi (a text for the refusal), or null when it can; home gets the node
// the link stands under.
const char* RefusedMember(const xxPiSystem& pi, const xxBondable& member, xxTreeNode*& home) {
    if (&member == &pi) return "A pi system cannot be its own member";
    if (member.As<xxPiSystem>()) return "A pi system cannot be a member of another";
    if (pi.IsBondedTo(member)) return "A pi system cannot take an object bonded to it as member";
    home = LowestCommonNode(pi, member);
    if (!home) return "A pi system and a member must share a tree node";
    return nullptr;
}

xxPiSystemBond& LinkMember(xxPiSystem& pi, xxBondable& member, xxTreeNode& home) {
    auto bond = std::make_unique<xxPiSystemBond>();
    bond->Connect(pi, member);
    xxPiSystemBond& ref = *bond;
    home.AdoptChild(std::move(bond));
    return ref;
}
}  // namespace

xxPiSystemBond& xxPiSystem::MakePiSystemBond(xxBondable& member) {
    if (&member != this)
        for (xxBondableInteraction* b : member.GetBonds())
            if (b->IsPiSystemBond() && b->GetAtoms()[0] == this) return static_cast<xxPiSystemBond&>(*b);
    xxTreeNode* home = nullptr;
    if (const char* refused = RefusedMember(*this, member, home)) throw Cfx::CfxResult(E_INVALIDARG, refused);
    return LinkMember(*this, member, *home);
}

void xxPiSystem::SetPiSystemAtoms(std::span<xxBondable* const> members) {
    std::vector<std::pair<xxBondable*, xxTreeNode*>> joining;
    std::unordered_set<const xxBondable*> seen;
    for (xxBondable* member : members) {
        if (!member) throw Cfx::CfxResult(E_POINTER, "A pi system cannot take a null member");
        if (IsMember(*member) || !seen.insert(member).second) continue;
        xxTreeNode* home = nullptr;
        if (const char* refused = RefusedMember(*this, *member, home)) throw Cfx::CfxResult(E_INVALIDARG, refused);
        joining.emplace_back(member, home);
    }
    for (const auto& [member, home] : joining) LinkMember(*this, *member, *home);
}

std::vector<xxBondable*> xxPiSystem::GetPiSystemAtoms() const {
    std::vector<xxBondable*> out;
    for (xxBondableInteraction* b : GetBonds())
        if (b->IsPiSystemBond() && b->GetAtoms()[0] == this)
            if (xxBondable* member = b->GetAtoms()[1]) out.push_back(member);
    return out;
}

std::vector<xxPiSystemBond*> xxPiSystem::GetPiSystemBonds() const {
    std::vector<xxPiSystemBond*> out;
    for (xxBondableInteraction* b : GetBonds())
        if (b->IsPiSystemBond() && b->GetAtoms()[0] == this) out.push_back(static_cast<xxPiSystemBond*>(b));
    return out;
}

bool xxPiSystem::IsMember(const xxBondable& object) const {
    // The member's list is searched: it is short, while a pi system may have many members.
    if (&object == this) return false;
    for (xxBondableInteraction* b : object.GetBonds())
        if (b->IsPiSystemBond() && b->GetAtoms()[0] == this) return true;
    return false;
}

void xxPiSystem::SetHasDynamicPosition(bool value) {
    dynamicPosition_ = value;
    AssignedMask() |= m_pptHasDynamicPosition.Mask();
}

xxPoint3d xxPiSystem::GetXYZ() const {
    if (!dynamicPosition_) return xxMatter::GetXYZ();
    xxPoint3d sum;
    std::size_t n = 0;
    for (xxBondable* member : GetPiSystemAtoms()) {
        sum = sum + member->GetXYZ();
        ++n;
    }
    return n ? (1.0 / static_cast<double>(n)) * sum : xxMatter::GetXYZ();
}

// ---- containers and charge groups ---------------------------------------------------------------

int xxMatterContainer::CalculateNumMatterObjects() const {
    int n = 0;
    ForEachDescendent([&](xxObject& o) {
        if (o.IsA(xxAtom::classType) || o.IsA(xxDummyBase::classType)) ++n;
        return n < std::numeric_limits<int>::max();
    });
    return n;
}

void xxChargeGroup::SetAtoms(std::span<xxAtom* const> atoms) {
    std::vector<xxBondable*> members(atoms.begin(), atoms.end());
    SetMembers(members);
}

void xxChargeGroup::SetMembers(std::span<xxBondable* const> members) {
    if (std::find(members.begin(), members.end(), nullptr) != members.end())
        throw Cfx::CfxResult(E_POINTER, "A charge group cannot hold a null member");
    members_.Clear();
    for (xxBondable* member : members) members_.Add(*member);
}
