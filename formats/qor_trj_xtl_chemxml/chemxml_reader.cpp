#include "formats/qor_trj_xtl_chemxml/chemxml_reader.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <optional>
#include <system_error>
#include <utility>

#include "base/address_table.h"
#include "base/text.h"
#include "cfx/cfx.h"
#include "datamodel/elements.h"
#include "datamodel/split_strings.h"
#include "datamodel/value_types.h"

namespace cartovane::chemxml {

namespace {

struct BondKeyword {
    std::string_view keyword;
    xxBondType type;
};
constexpr BondKeyword kBondKeywords[] = {
    {"single", xxBondType::Single},          {"doublePartial", xxBondType::Partial},
    {"aromatic", xxBondType::Aromatic},      {"double", xxBondType::Double},
    {"triplePartial", xxBondType::TriplePartial}, {"triple", xxBondType::Triple},
    {"quadruple", xxBondType::Quadruple},
};

[[noreturn]] void Fail(HRESULT hr, const char* text) { throw Cfx::CfxResult(hr, text); }

using Key = ChemistryXMLToDM::Key;

std::string_view Required(const ChemistryXMLToDM& builder, const xmlElement& element, Key key, const char* missing) {
    const std::optional<std::string_view> value = builder.Attribute(element, key);
    if (!value) Fail(E_ABORT, missing);
    return *value;
}

template <class T>
T Number(const ChemistryXMLToDM& builder, const xmlElement& element, Key key, T fallback) {
    T value = fallback;
    if (const std::optional<std::string_view> text = builder.Attribute(element, key)) FromString(*text, value);
    return value;
}

const xmlElement& Checked(const xmlElement* element) {
    if (!element) Fail(E_POINTER, "must provide a valid element");
    return *element;
}

}  // namespace

xxBondType BondTypeOf(std::string_view keyword) {
    for (const BondKeyword& k : kBondKeywords)
        if (k.keyword == keyword) return k.type;
    return xxBondType::Single;
}

std::string_view BondTypeKeyword(xxBondType type) {
    for (const BondKeyword& k : kBondKeywords)
        if (k.type == type) return k.keyword;
    return "single";
}

std::string_view NameSuffix(std::string_view id) {
    const std::size_t start = id.find_first_not_of("ID");
    return start == std::string_view::npos ? std::string_view() : id.substr(start);
}

// ---- node processors --------------------------------------------------------------------------

namespace ChemistryXMLToDMImpl {

void ChemistryXMLNodeProcessor::Process(const xmlElement* element) {
    if (!element) Fail(E_POINTER, "must provide a valid node");
    if (const std::optional<std::string_view> id = builder_.Attribute(*element, Key::Id)) id_ = *id;
    for (std::size_t i = 0; i < element->ChildCount(); ++i) CollectElement(&element->Child(i));
}

void ChemistryXMLRootNodeProcessor::CollectElement(const xmlNode* node) {
    if (!node) Fail(E_POINTER, "must provide a valid node");
    if (const xmlElement* element = node->AsElement()) {
        auto it = elements_.find(element->GetName());
        if (it == elements_.end()) it = elements_.emplace(element->GetName(), std::vector<const xmlElement*>{}).first;
        it->second.push_back(element);
    }
}

const std::vector<const xmlElement*>& ChemistryXMLRootNodeProcessor::Elements(std::string_view name) const {
    static const std::vector<const xmlElement*> none;
    const auto it = elements_.find(name);
    return it == elements_.end() ? none : it->second;
}

void ChemistryXMLAtomNodeProcessor::Process(const xmlElement* given) {
    const xmlElement& element = Checked(given);
    id_ = Required(builder_, element, Key::Id, "Required atom attribute \"id\" not present");
    xxAtom3d& atom = builder_.Scratch().CreateChild<xxAtom3d>();
    atom.InitialiseObjectToDefault();
    builder_.Register(id_, &atom);
    atom.SetXYZ({Number(builder_, element, Key::Coord3DX, 0.0), Number(builder_, element, Key::Coord3DY, 0.0),
                 Number(builder_, element, Key::Coord3DZ, 0.0)});
    const unsigned atomicNumber = Number(builder_, element, Key::AtomicNumber, 6u);
    if (atomicNumber > static_cast<unsigned>(kMaxElementNumber))
        throw Cfx::CfxResult(E_INVALIDARG, "Atomic number " + std::to_string(atomicNumber) + " names no element");
    atom.SetElementNumber(static_cast<int>(atomicNumber));
    // The loader drops white space between child elements, so the first child is the charge.
    if (element.ChildCount() > 0) {
        if (const xmlElement* charge = element.Child(0).AsElement()) {
            const std::string_view numerator = Required(builder_, *charge, Key::Numerator,
                                                        "Required formalCharge attribute \"numerator\" not present");
            int value = 0;
            FromString(numerator, value);
            atom.SetFormalCharge(value, Number(builder_, *charge, Key::Denominator, 1));
        }
    }
    if (!id_.empty()) {
        std::string name(atom.GetElementSymbol());
        name += NameSuffix(id_);
        atom.SetName(std::move(name));
    }
}

void ChemistryXMLBondNodeProcessor::Process(const xmlElement* given) {
    const xmlElement& element = Checked(given);
    id_ = Required(builder_, element, Key::Id, "Required bond attribute \"id\" not present");
    // The first two pieces of the list, as SplitStrings gives them.
    const std::string_view ends = Required(builder_, element, Key::Atoms, "Required bond attribute \"atoms\" not present");
    const std::size_t blank = ends.find(' ');
    xxObject* first = builder_.Find(ends.substr(0, blank), xxAtom::classType);
    xxObject* second = nullptr;
    if (blank != std::string_view::npos) {
        const std::string_view rest = ends.substr(blank + 1);
        second = builder_.Find(rest.substr(0, rest.find(' ')), xxAtom::classType);
    }
    if (!first || !second) Fail(E_ABORT, "Bond referenced atom not found");
    auto& a = static_cast<xxBondable&>(*first);
    auto& b = static_cast<xxBondable&>(*second);
    xxBond& bond = xxBondable::MakeBond(a, b, xxBondType::Single);
    if (const std::optional<std::string_view> type = builder_.Attribute(element, Key::BondType))
        bond.SetBondType(BondTypeOf(*type));
    builder_.Register(id_, &bond);
    bond.SetName(a.GetName() + " - " + b.GetName());
}

void ChemistryXMLPiSystemNodeProcessor::Process(const xmlElement* given) {
    const xmlElement& element = Checked(given);
    id_ = Required(builder_, element, Key::Id, "Required piSystem attribute \"id\" not present");
    const std::string_view bonds = Required(builder_, element, Key::Bonds, "Required piSystem attribute \"bonds\" not present");
    xxPiSystem& piSystem = builder_.Scratch().CreateChild<xxPiSystem>();
    piSystem.InitialiseObjectToDefault();
    builder_.Register(id_, &piSystem);
    if (!bonds.empty()) {
        // The members are the atoms of the listed bonds; an atom of several joins once.
        std::vector<xxBondable*> members;
        for (std::string_view id : SplitStrings(bonds, ' ')) {
            const auto* bond = static_cast<const xxBond*>(builder_.Find(id, xxBond::classType));
            const auto ends = bond ? bond->GetAtoms() : std::array<xxBondable*, 2>{};
            if (!ends[0] || !ends[1] || !ends[0]->IsA(xxAtom::classType) || !ends[1]->IsA(xxAtom::classType))
                Fail(E_ABORT, "piSystem referenced object not found");
            members.insert(members.end(), ends.begin(), ends.end());
        }
        piSystem.SetPiSystemAtoms(members);
    }
    if (!id_.empty()) piSystem.SetName("Cp" + std::string(NameSuffix(id_)));
}

void ChemistryXMLPiBondNodeProcessor::Process(const xmlElement* given) {
    const xmlElement& element = Checked(given);
    id_ = Required(builder_, element, Key::Id, "Required piBond attribute \"id\" not present");
    const std::optional<std::string_view> atomId = builder_.Attribute(element, Key::Atom);
    const std::optional<std::string_view> piSystemId = builder_.Attribute(element, Key::PiSystem);
    if (!atomId || !piSystemId) Fail(E_ABORT, "Required piBond attributes \"atom\" and/or \"piSystem\" not present");
    xxObject* atom = builder_.Find(*atomId, xxAtom::classType);
    xxObject* piSystem = builder_.Find(*piSystemId, xxPiSystem::classType);
    if (!atom || !piSystem) Fail(E_ABORT, "Bond referenced atom or piSystem not found");
    auto& a = static_cast<xxBondable&>(*atom);
    auto& p = static_cast<xxBondable&>(*piSystem);
    xxBond& bond = xxBondable::MakeBond(a, p, xxBondType::Single);
    builder_.Register(id_, &bond);
    bond.SetName(a.GetName() + " - " + p.GetName());
}

void ChemistryXMLMoleculeNodeProcessor::Process(const xmlElement* given) {
    const xmlElement& element = Checked(given);
    xxMultiScaleMolecule& molecule = builder_.Scratch().CreateChild<xxMultiScaleMolecule>();
    builder_.AddMolecule(molecule);
    if (const std::optional<std::string_view> id = builder_.Attribute(element, Key::Id)) {
        id_ = *id;
        builder_.Register(id_, &molecule);
    }
    // Listed atoms and pi systems move under the molecule; a listed bond moves with its atoms.
    // Unknown ids, and ids of another kind, name nothing.
    const std::pair<Key, unsigned> lists[] = {{Key::Atoms, xxAtom::classType}, {Key::PiSystems, xxPiSystem::classType}};
    for (const auto& [name, classType] : lists) {
        const std::optional<std::string_view> list = builder_.Attribute(element, name);
        if (!list) continue;
        for (std::string_view id : SplitStrings(*list, ' '))
            if (xxObject* member = builder_.Find(id, classType))
                builder_.List(molecule, static_cast<xxBondable&>(*member));
    }
}

}  // namespace ChemistryXMLToDMImpl

// ---- the builder ----------------------------------------------------------------------------

ChemistryXMLToDM::ChemistryXMLToDM(xxTreeRoot& target) : target_(target) {
    std::unique_ptr<xxClassInstance> instance = target.GetClass().CreateNew();
    auto* root = dynamic_cast<xxTreeRoot*>(instance.get());
    if (!root) throw Cfx::CfxResult(E_UNEXPECTED, "Cannot make a tree of the document's class");
    instance.release();
    scratch_.reset(root);
}

ChemistryXMLToDM::~ChemistryXMLToDM() = default;

bool ChemistryXMLToDM::IndexedMatch::operator()(const Indexed& entry, std::string_view id) const {
    if (entry.size != id.size()) return false;
    const std::size_t head = std::min(id.size(), Indexed::kHead);
    if (std::memcmp(entry.head.data(), id.data(), head) != 0) return false;
    return id.size() <= Indexed::kHead || (*registered)[entry.registered].id.substr(head) == id.substr(head);
}

std::optional<std::uint32_t> ChemistryXMLToDM::NumberOf(std::string_view id) const {
    if (id.size() < 3 || id[0] != 'I' || id[1] != 'D' || (id[2] == '0' && id.size() > 3)) return std::nullopt;
    std::uint32_t n = 0;
    if (text::ParseExact(id.substr(2), n) != std::errc{} || n >= numberLimit_) return std::nullopt;
    return n;
}

void ChemistryXMLToDM::Register(std::string_view id, xxObject* object) {
    if (!object) Fail(E_POINTER, "must provide a valid object");
    if (const std::optional<std::uint32_t> n = NumberOf(id)) {
        if (*n >= byNumber_.size()) byNumber_.resize(std::size_t{*n} + 1, nullptr);
        if (byNumber_[*n]) return KeepUnregistered(*object);
        byNumber_[*n] = object;
        registered_.push_back({id, object});
        return;
    }
    Indexed entry;  // the tree keeps no text of 4 GiB or more
    std::memcpy(entry.head.data(), id.data(), std::min(id.size(), Indexed::kHead));
    entry.size = static_cast<std::uint32_t>(id.size());
    entry.registered = static_cast<std::uint32_t>(registered_.size());
    entry.object = object;
    if (ids_.Insert(id, entry)) registered_.push_back({id, object});
    else KeepUnregistered(*object);
}

xxObject* ChemistryXMLToDM::Find(std::string_view id, unsigned classType) const {
    // An empty piece of a list names nothing, even when an object has the empty id.
    if (id.empty()) return nullptr;
    xxObject* object = nullptr;
    if (const std::optional<std::uint32_t> n = NumberOf(id)) {
        object = *n < byNumber_.size() ? byNumber_[*n] : nullptr;
    } else {
        const Indexed* entry = ids_.Find(id);
        object = entry ? entry->object : nullptr;
    }
    return object && object->IsA(classType) ? object : nullptr;
}

std::optional<std::string_view> ChemistryXMLToDM::Attribute(const xmlElement& element, Key key) const {
    const xmlAttributeClass* cls = keys_[static_cast<std::size_t>(key)];
    return cls ? element.FindAttribute(*cls) : std::nullopt;
}

void ChemistryXMLToDM::List(xxMultiScaleMolecule& molecule, xxBondable& member) {
    listings_.emplace_back(&molecule, &member);
}

void ChemistryXMLToDM::Build(const xmlTree* tree) {
    using namespace ChemistryXMLToDMImpl;
    if (!tree) Fail(E_POINTER, "require a valid XML tree to build from");
    constexpr std::string_view kKeyNames[] = {"id",        "coord3DX", "coord3DY", "coord3DZ", "atomicNumber",
                                              "numerator", "denominator", "atoms", "bondType", "bonds",
                                              "atom",      "piSystem",    "piSystems"};
    static_assert(std::size(kKeyNames) == static_cast<std::size_t>(Key::Count));
    for (std::size_t i = 0; i < keys_.size(); ++i) keys_[i] = tree->FindAttributeClass(kKeyNames[i]);
    ChemistryXMLRootNodeProcessor root(*this);
    root.Process(tree->GetDocumentElement());
    std::size_t elements = 0;
    for (std::string_view name : {"atom", "bond", "piSystem", "piBond", "molecule"}) elements += root.Elements(name).size();
    registered_.reserve(elements);
    numberLimit_ = 2 * elements + 64;
    auto each = [&](std::string_view name, auto make) {
        for (const xmlElement* element : root.Elements(name)) make().Process(element);
    };
    each("atom", [&] { return ChemistryXMLAtomNodeProcessor(*this); });
    each("bond", [&] { return ChemistryXMLBondNodeProcessor(*this); });
    each("piSystem", [&] { return ChemistryXMLPiSystemNodeProcessor(*this); });
    each("piBond", [&] { return ChemistryXMLPiBondNodeProcessor(*this); });
    each("molecule", [&] { return ChemistryXMLMoleculeNodeProcessor(*this); });
    Place();
}

// Everything made so far stands below the scratch root. It is taken out whole and put into the
// target in the order of the file: the molecules with their members, then the atoms and pi
// systems no molecule lists, by ascending id text, then those whose id was taken already, then
// the bonds that join objects of different parents. Each bond goes under its ends' lowest
// common node. Nothing is moved twice, so a large file costs linear time (and one sort of the
// ids not placed by then).
void ChemistryXMLToDM::Place() {
    // Every object made stands below the scratch root: its slot holds it until it is put.
    struct Slot {
        std::uint32_t index = 0;  // in taken
        xxMultiScaleMolecule* home = nullptr;
    };
    const std::size_t count = scratch_->NumChildren();
    std::vector<std::unique_ptr<xxObject>> taken(count);
    AddressTable<xxObject, Slot> slots;
    slots.Reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        bool added = false;
        slots.At(slots.FindOrAdd(&scratch_->GetChild(i), added)).index = static_cast<std::uint32_t>(i);
    }
    // From the back, so that every removal is immediate.
    for (std::size_t i = count; i-- > 0;) taken[i] = scratch_->DetachChild(scratch_->GetChild(i));
    for (const auto& [molecule, member] : listings_)
        if (Slot* slot = slots.Find(member)) slot->home = molecule;

    auto put = [&](xxTreeNode& parent, const xxObject* object) {
        if (const Slot* slot = slots.Find(object); slot && taken[slot->index]) parent.AdoptChild(std::move(taken[slot->index]));
    };
    auto placed = [&](const xxObject* object) {
        const Slot* slot = slots.Find(object);
        return !slot || !taken[slot->index];
    };
    auto homeOf = [&](const xxObject* object) -> xxMultiScaleMolecule* {
        const Slot* slot = slots.Find(object);
        return slot ? slot->home : nullptr;
    };

    for (xxMultiScaleMolecule* molecule : molecules_) put(target_, molecule);
    for (const auto& [molecule, member] : listings_)
        if (homeOf(member) == molecule) put(*molecule, member);
    // Only those still to place take part in the sort: putting a placed one does nothing.
    std::vector<const Registered*> byId;
    for (const Registered& entry : registered_)
        if (entry.object->IsA(xxBondable::classType) && !placed(entry.object)) byId.push_back(&entry);
    std::sort(byId.begin(), byId.end(), [](const Registered* a, const Registered* b) { return a->id < b->id; });
    for (const Registered* entry : byId) put(target_, entry->object);
    for (const xxObject* object : unregistered_)
        if (object->IsA(xxBondable::classType)) put(target_, object);
    for (const auto& slot : taken) {
        const xxObject* object = slot.get();
        if (!object) continue;
        const auto* interaction = object->As<xxBondableInteraction>();
        if (!interaction) continue;
        const auto ends = interaction->GetAtoms();
        xxMultiScaleMolecule* first = homeOf(ends[0]);
        put(first && first == homeOf(ends[1]) ? static_cast<xxTreeNode&>(*first) : target_, object);
    }
    for (auto& object : taken)
        if (object) target_.AdoptChild(std::move(object));
}

}  // namespace cartovane::chemxml
