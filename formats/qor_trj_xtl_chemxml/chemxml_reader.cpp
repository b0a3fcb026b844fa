#include "formats/qor_trj_xtl_chemxml/chemxml_reader.h"

#include <algorithm>
#include <optional>
#include <unordered_map>
#include <utility>

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

std::optional<std::string_view> Attribute(const xmlElement& element, std::string_view name) {
    return element.FindAttribute(name);
}

std::string_view Required(const xmlElement& element, std::string_view name, const char* missing) {
    const std::optional<std::string_view> value = element.FindAttribute(name);
    if (!value) Fail(E_ABORT, missing);
    return *value;
}

template <class T>
T Number(const xmlElement& element, std::string_view name, T fallback) {
    T value = fallback;
    if (const std::optional<std::string_view> text = element.FindAttribute(name)) FromString(*text, value);
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
    if (const std::optional<std::string_view> id = Attribute(*element, "id")) id_.assign(*id);
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
    id_.assign(Required(element, "id", "Required atom attribute \"id\" not present"));
    xxAtom3d& atom = builder_.Scratch().CreateChild<xxAtom3d>();
    atom.InitialiseObjectToDefault();
    builder_.Register(id_, &atom);
    atom.SetXYZ({Number(element, "coord3DX", 0.0), Number(element, "coord3DY", 0.0), Number(element, "coord3DZ", 0.0)});
    const unsigned atomicNumber = Number(element, "atomicNumber", 6u);
    if (atomicNumber > static_cast<unsigned>(kMaxElementNumber))
        throw Cfx::CfxResult(E_INVALIDARG, "Atomic number " + std::to_string(atomicNumber) + " names no element");
    atom.SetElementNumber(static_cast<int>(atomicNumber));
    // The loader drops white space between child elements, so the first child is the charge.
    if (element.ChildCount() > 0) {
        if (const xmlElement* charge = element.Child(0).AsElement()) {
            const std::string_view numerator =
                Required(*charge, "numerator", "Required formalCharge attribute \"numerator\" not present");
            int value = 0;
            FromString(numerator, value);
            atom.SetFormalCharge(value, Number(*charge, "denominator", 1));
        }
    }
    if (!id_.empty()) atom.SetName(std::string(atom.GetElementSymbol()) + std::string(NameSuffix(id_)));
}

void ChemistryXMLBondNodeProcessor::Process(const xmlElement* given) {
    const xmlElement& element = Checked(given);
    id_.assign(Required(element, "id", "Required bond attribute \"id\" not present"));
    const std::vector<std::string_view> ends =
        SplitStrings(Required(element, "atoms", "Required bond attribute \"atoms\" not present"), ' ');
    xxObject* first = builder_.Find(ends[0], xxAtom::classType);
    xxObject* second = ends.size() > 1 ? builder_.Find(ends[1], xxAtom::classType) : nullptr;
    if (!first || !second) Fail(E_ABORT, "Bond referenced atom not found");
    auto& a = static_cast<xxBondable&>(*first);
    auto& b = static_cast<xxBondable&>(*second);
    xxBond& bond = xxBondable::MakeBond(a, b, xxBondType::Single);
    if (const std::optional<std::string_view> type = Attribute(element, "bondType")) bond.SetBondType(BondTypeOf(*type));
    builder_.Register(id_, &bond);
    bond.SetName(a.GetName() + " - " + b.GetName());
}

void ChemistryXMLPiSystemNodeProcessor::Process(const xmlElement* given) {
    const xmlElement& element = Checked(given);
    id_.assign(Required(element, "id", "Required piSystem attribute \"id\" not present"));
    const std::string_view bonds = Required(element, "bonds", "Required piSystem attribute \"bonds\" not present");
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
    id_.assign(Required(element, "id", "Required piBond attribute \"id\" not present"));
    const std::optional<std::string_view> atomId = Attribute(element, "atom");
    const std::optional<std::string_view> piSystemId = Attribute(element, "piSystem");
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
    if (const std::optional<std::string_view> id = Attribute(element, "id")) {
        id_.assign(*id);
        builder_.Register(id_, &molecule);
    }
    // Listed atoms and pi systems move under the molecule; a listed bond moves with its atoms.
    // Unknown ids, and ids of another kind, name nothing.
    const std::pair<std::string_view, unsigned> lists[] = {{"atoms", xxAtom::classType},
                                                           {"piSystems", xxPiSystem::classType}};
    for (const auto& [name, classType] : lists) {
        const std::optional<std::string_view> list = Attribute(element, name);
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

void ChemistryXMLToDM::Register(std::string_view id, xxObject* object) {
    if (!object) Fail(E_POINTER, "must provide a valid object");
    if (!ids_.emplace(std::string(id), object).second) KeepUnregistered(*object);
}

xxObject* ChemistryXMLToDM::Find(std::string_view id, unsigned classType) const {
    // An empty piece of a list names nothing, even when an object has the empty id.
    if (id.empty()) return nullptr;
    const auto it = ids_.find(id);
    return it != ids_.end() && it->second->IsA(classType) ? it->second : nullptr;
}

void ChemistryXMLToDM::List(xxMultiScaleMolecule& molecule, xxBondable& member) {
    listings_.emplace_back(&molecule, &member);
}

void ChemistryXMLToDM::Build(const xmlTree* tree) {
    using namespace ChemistryXMLToDMImpl;
    if (!tree) Fail(E_POINTER, "require a valid XML tree to build from");
    ChemistryXMLRootNodeProcessor root(*this);
    root.Process(tree->GetDocumentElement());
    std::size_t elements = 0;
    for (std::string_view name : {"atom", "bond", "piSystem", "piBond", "molecule"}) elements += root.Elements(name).size();
    ids_.reserve(elements);
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
// common node. Nothing is moved twice, so a large file costs linear time.
void ChemistryXMLToDM::Place() {
    std::unordered_map<const xxObject*, xxMultiScaleMolecule*> home;
    for (const auto& [molecule, member] : listings_) home[member] = molecule;

    std::unordered_map<const xxObject*, std::unique_ptr<xxObject>> taken;
    std::vector<const xxObject*> order;
    order.reserve(scratch_->NumChildren());
    taken.reserve(scratch_->NumChildren());
    while (scratch_->NumChildren() > 0) {
        // From the back, so that every removal is immediate.
        xxObject& last = scratch_->GetChild(scratch_->NumChildren() - 1);
        order.push_back(&last);
        taken.emplace(&last, scratch_->DetachChild(last));
    }
    std::reverse(order.begin(), order.end());

    auto put = [&](xxTreeNode& parent, const xxObject* object) {
        const auto it = taken.find(object);
        if (it != taken.end() && it->second) parent.AdoptChild(std::move(it->second));
    };
    auto homeOf = [&](const xxObject* object) -> xxMultiScaleMolecule* {
        const auto it = home.find(object);
        return it == home.end() ? nullptr : it->second;
    };

    for (xxMultiScaleMolecule* molecule : molecules_) put(target_, molecule);
    for (const auto& [molecule, member] : listings_)
        if (homeOf(member) == molecule) put(*molecule, member);
    std::vector<const std::pair<const std::string, xxObject*>*> byId;
    byId.reserve(ids_.size());
    for (const auto& entry : ids_) byId.push_back(&entry);
    std::sort(byId.begin(), byId.end(), [](const auto* a, const auto* b) { return a->first < b->first; });
    for (const auto* entry : byId)
        if (entry->second->IsA(xxBondable::classType)) put(target_, entry->second);
    for (const xxObject* object : unregistered_)
        if (object->IsA(xxBondable::classType)) put(target_, object);
    for (const xxObject* object : order) {
        const auto* interaction = object->As<xxBondableInteraction>();
        if (!interaction) continue;
        const auto ends = interaction->GetAtoms();
        xxMultiScaleMolecule* first = homeOf(ends[0]);
        put(first && first == homeOf(ends[1]) ? static_cast<xxTreeNode&>(*first) : target_, object);
    }
    for (const xxObject* object : order) put(target_, object);
}

}  // namespace cartovane::chemxml
