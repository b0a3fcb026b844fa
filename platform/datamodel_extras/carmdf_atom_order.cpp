#include "datamodel_extras/carmdf_atom_order.h"

#include <algorithm>
#include <unordered_map>
#include <unordered_set>

#include "datamodel/atomistic.h"
#include "datamodel/object.h"
#include "datamodel/symmetry/system.h"

namespace {

// A name of at most 8 characters as a key.
std::uint64_t NameKey(std::string_view name) {
    std::uint64_t key = 0;
    for (char c : name) key = (key << 8) | static_cast<unsigned char>(c);
    return key;
}

bool IsNameChar(char c) {
    if (c <= ' ' || c > '~') return false;
    switch (c) {
    case ':':
    case '#':
    case '%':
    case '/':
    case ',':
        return false;
    default:
        return true;
    }
}

bool AllNameChars(std::string_view text) { return std::all_of(text.begin(), text.end(), IsNameChar); }

// The residue part of a sub-unit name (before its last "_"), when it can stand in a CAR file.
std::string_view ResidueName(std::string_view subunitName) {
    std::size_t cut = subunitName.rfind('_');
    std::string_view residue = cut == std::string_view::npos ? subunitName : subunitName.substr(0, cut);
    if (residue.empty() || residue.size() > xxCarMdfAtomOrder::kResidueNameWidth || !AllNameChars(residue)) return {};
    return residue;
}

std::string_view ResidueNumber(std::string_view subunitName) {
    std::size_t cut = subunitName.rfind('_');
    return cut == std::string_view::npos ? std::string_view{} : subunitName.substr(cut + 1);
}

// Names in use within one molecule: most hold a few, so a short list is searched until it
// grows long enough for a hash set. The names viewed must outlive the set.
class NameSet {
public:
    void Clear() {
        list_.clear();
        hashed_.clear();
    }
    bool Contains(std::string_view name) const {
        if (list_.size() <= kListed) return std::find(list_.begin(), list_.end(), name) != list_.end();
        return hashed_.contains(name);
    }
    void Insert(std::string_view name) {
        list_.push_back(name);
        if (list_.size() == kListed + 1)
            hashed_.insert(list_.begin(), list_.end());
        else if (list_.size() > kListed + 1)
            hashed_.insert(name);
    }

private:
    static constexpr std::size_t kListed = 16;
    std::vector<std::string_view> list_;
    std::unordered_set<std::string_view> hashed_;
};

}  // namespace

// What an object's class is, asked of the class registry once per class rather than per object.
class xxCarMdfAtomOrder::KindCache {
public:
    enum : unsigned {
        kOrdered = 1,  // of the ordered class type and a bondable object
        kAtom = 2,
        kAtom3d = 4,
        kPiSystem = 8,
        kTreeNode = 16,
        kMolecule = 32,
        kSubUnit = 64,
        kChargeGroup = 128,
        kSymmetrySystem = 256,
    };
    // The places of the collected types a class is of, from this bit up.
    static constexpr unsigned kCollectedShift = 16;

    KindCache(std::span<const unsigned> classTypes, const std::vector<unsigned>& collected)
        : classTypes_(classTypes), collected_(collected) {}
    unsigned Of(const xxObject& object) {
        const xxClass* cls = &object.GetClass();
        for (const auto& [c, k] : known_)
            if (c == cls) return k;
        unsigned k = 0;
        if (object.IsA(xxBondable::classType) &&
            std::any_of(classTypes_.begin(), classTypes_.end(), [&](unsigned type) { return object.IsA(type); }))
            k |= kOrdered;
        if (object.IsA(xxAtom::classType)) k |= kAtom;
        if (object.IsA(xxAtom3d::classType)) k |= kAtom3d;
        if (object.IsA(xxPiSystem::classType)) k |= kPiSystem;
        if (object.IsA(xxTreeNode::classType)) k |= kTreeNode;
        if (object.IsA(xxMolecule::classType)) k |= kMolecule;
        if (object.IsA(xxSubUnit::classType)) k |= kSubUnit;
        if (object.IsA(xxChargeGroup::classType)) k |= kChargeGroup;
        if (object.IsA(xxSymmetrySystem::classType)) k |= kSymmetrySystem;
        for (std::size_t i = 0; i < collected_.size(); ++i)
            if (object.IsA(collected_[i])) k |= 1u << (kCollectedShift + i);
        known_.emplace_back(cls, k);
        return k;
    }

private:
    std::span<const unsigned> classTypes_;
    const std::vector<unsigned>& collected_;
    std::vector<std::pair<const xxClass*, unsigned>> known_;
};

xxCarMdfAtomOrder::xxCarMdfAtomOrder() : state_(this, 0) {}
xxCarMdfAtomOrder::~xxCarMdfAtomOrder() = default;

void xxCarMdfAtomOrder::Reset() { state_ = State(this, collectedTypes_.size()); }

bool xxCarMdfAtomOrder::DefineAtomOrder(xxObject& model, unsigned classType) {
    return DefineAtomOrder(model, std::span<const unsigned>(&classType, 1));
}

bool xxCarMdfAtomOrder::DefineAtomOrder(xxObject& model, std::span<const unsigned> classTypes) {
    Reset();
    KindCache kinds(classTypes, collectedTypes_);

    // The symmetry system: the model's own or an ancestor's, else one below the model. Systems
    // hold molecules, never the other way round, so the search need not enter them.
    std::size_t systems = 0;
    for (xxObject* o = &model; o; o = o->GetParent()) {
        if (auto* system = o->As<xxSymmetrySystem>()) {
            state_.symmetrySystem = system;
            systems = 1;
            break;
        }
    }
    auto* node = model.As<xxTreeNode>();
    if (!state_.symmetrySystem && node) {
        auto search = [&](auto& self, const xxTreeNode& at) -> void {
            for (const auto& child : at.Children()) {
                unsigned k = kinds.Of(*child);
                if (!(k & KindCache::kTreeNode) || (k & (KindCache::kMolecule | KindCache::kSubUnit))) continue;
                if (k & KindCache::kSymmetrySystem) {
                    if (++systems == 1) state_.symmetrySystem = static_cast<xxSymmetrySystem*>(child.get());
                    continue;
                }
                self(self, static_cast<const xxTreeNode&>(*child));
            }
        };
        search(search, *node);
    }

    // The molecule and sub-unit the model itself lies in.
    xxObject* molecule = nullptr;
    xxObject* subunit = nullptr;
    for (xxObject* o = &model; o; o = o->GetParent()) {
        if (o->IsA(xxMolecule::classType)) {
            molecule = o;
            break;
        }
        if (o->IsA(xxSubUnit::classType)) subunit = o;
    }

    if (node) {
        Walk(*node, molecule, subunit, kinds);
    } else if (auto* bondable = model.As<xxBondable>(); bondable && (kinds.Of(model) & KindCache::kOrdered)) {
        unsigned k = kinds.Of(model);
        if (model.GetParent())
            Append(*bondable, *model.GetParent(), molecule, subunit,
                   static_cast<std::uint8_t>(((k & KindCache::kAtom) ? kAtomKind : 0) | ((k & KindCache::kAtom3d) ? kAtom3dKind : 0)));
    }

    CollectChargeGroups();
    state_.valid = systems <= 1 && !state_.outside;
    return state_.valid;
}

void xxCarMdfAtomOrder::SetCollectedTypes(std::vector<unsigned> classTypes) {
    if (classTypes.size() > kMaxCollected) classTypes.resize(kMaxCollected);
    collectedTypes_ = std::move(classTypes);
    state_.collected.assign(collectedTypes_.size(), {});
}

const std::vector<xxObject*>& xxCarMdfAtomOrder::GetCollected(std::size_t which) const {
    static const std::vector<xxObject*> none;
    return which < state_.collected.size() ? state_.collected[which] : none;
}

void xxCarMdfAtomOrder::Collect(xxObject& object, unsigned which) {
    for (std::size_t i = 0; which != 0; ++i, which >>= 1)
        if (which & 1u) state_.collected[i].push_back(&object);
}

void xxCarMdfAtomOrder::Walk(const xxTreeNode& node, xxObject* molecule, xxObject* subunit, KindCache& kinds) {
    for (const auto& child : node.Children()) {
        xxObject& object = *child;
        const unsigned k = kinds.Of(object);
        if (const unsigned which = k >> KindCache::kCollectedShift; which != 0) Collect(object, which);
        if (k & KindCache::kOrdered) {
            auto& bondable = static_cast<xxBondable&>(object);
            if ((k & KindCache::kPiSystem) && static_cast<const xxPiSystem&>(object).HasDynamicPosition()) continue;
            if (state_.symmetrySystem) {
                if (!bondable.IsDescendentOf(*state_.symmetrySystem)) {
                    state_.outside = true;
                } else if (!state_.symmetrySystem->IsSymmetryParent(bondable)) {
                    continue;  // an image: its parent stands for it
                }
            }
            Append(bondable, node, molecule, subunit,
                   static_cast<std::uint8_t>(((k & KindCache::kAtom) ? kAtomKind : 0) | ((k & KindCache::kAtom3d) ? kAtom3dKind : 0)));
            continue;
        }
        if (k & KindCache::kChargeGroup) {
            state_.foundChargeGroups.push_back(static_cast<xxChargeGroup*>(&object));
            continue;
        }
        if (k & KindCache::kTreeNode) {
            const auto& inner = static_cast<const xxTreeNode&>(object);
            if (k & KindCache::kMolecule)
                Walk(inner, &object, nullptr, kinds);
            else if (!subunit && (k & KindCache::kSubUnit))
                Walk(inner, molecule, &object, kinds);
            else
                Walk(inner, molecule, subunit, kinds);
        }
    }
}

void xxCarMdfAtomOrder::Append(xxBondable& object, const xxTreeNode& parent, xxObject* molecule, xxObject* subunit,
                               std::uint8_t kind) {
    // Objects outside a molecule form one per run under one node (sub-units under the same
    // node join the same one); objects outside a sub-unit one per run within their molecule.
    const xxObject* moleculeKey = molecule ? molecule : subunit ? static_cast<const xxObject*>(subunit->GetParent()) : &parent;
    const xxObject* subunitKey = subunit ? subunit : &parent;
    bool newMolecule = state_.order.empty() || moleculeKey != state_.lastMoleculeKey;
    if (newMolecule) state_.molecules.push_back({molecule, {}});
    if (newMolecule || subunitKey != state_.lastSubunitKey)
        state_.subunits.push_back({subunit, static_cast<int>(state_.molecules.size() - 1), state_.order.size(), {}});
    state_.lastMoleculeKey = moleculeKey;
    state_.lastSubunitKey = subunitKey;
    state_.order.push_back({&object, static_cast<int>(state_.subunits.size() - 1), static_cast<int>(state_.molecules.size() - 1)});
    state_.kinds.push_back(kind);
    // The object's own name while the walk has the object at hand; NameAtoms keeps it or not.
    ShortName& own = state_.atomNames.emplace_back();
    if (std::string_view name = object.GetName(); IsValidAtomName(name)) {
        own.size = static_cast<std::uint8_t>(name.size());
        std::copy_n(name.begin(), own.size, own.text);
    }
}

bool xxCarMdfAtomOrder::PositionMatch::operator()(std::uint32_t position, const xxObject* object) const {
    return owner->state_.order[position].atom == object;
}

const xxCarMdfAtomOrder::PositionIndex& xxCarMdfAtomOrder::Index() const {
    if (!state_.indexed) {
        state_.index.Reserve(state_.order.size());
        for (std::size_t i = 0; i < state_.order.size(); ++i)
            state_.index.Insert(state_.order[i].atom, static_cast<std::uint32_t>(i));
        state_.indexed = true;
    }
    return state_.index;
}

std::size_t xxCarMdfAtomOrder::FindPosition(const xxObject& object) const {
    const std::uint32_t* position = Index().Find(&object);
    return position ? *position : npos;
}

std::size_t xxCarMdfAtomOrder::FindPositionNear(const xxObject& object, std::size_t near) const {
    // Outwards from near: a bond partner is most often the next or the previous object. An
    // object stands at one position only, so the first match is the match.
    constexpr std::size_t kReach = 12;
    if (near < state_.order.size()) {
        if (state_.order[near].atom == &object) return near;
        for (std::size_t d = 1; d <= kReach; ++d) {
            if (d <= near && state_.order[near - d].atom == &object) return near - d;
            if (near + d < state_.order.size() && state_.order[near + d].atom == &object) return near + d;
        }
    }
    return FindPosition(object);
}

void xxCarMdfAtomOrder::CollectChargeGroups() {
    for (xxChargeGroup* group : state_.foundChargeGroups) {
        std::vector<xxAtom*> members = group->GetAtoms();
        bool whole = true;
        bool any = false;
        int subunit = -1;
        bool centreFound = false;
        auto index = static_cast<std::uint32_t>(state_.chargeGroups.size() + 1);
        for (xxAtom* atom : members) {
            std::size_t position = FindPosition(*atom);
            if (position == npos) {
                whole = false;  // an image, or an atom the file does not list
                continue;
            }
            if (state_.groupOfPosition.empty()) state_.groupOfPosition.assign(state_.order.size(), 0);
            if (state_.groupOfPosition[position] != 0 && state_.groupOfPosition[position] != index) {
                whole = false;  // in two groups: the first one keeps it
                continue;
            }
            state_.groupOfPosition[position] = index;
            any = true;
            if (subunit >= 0 && subunit != state_.order[position].subunit) whole = false;
            subunit = state_.order[position].subunit;
            if (atom == group->GetSwitchingCenter()) centreFound = true;
        }
        if (!centreFound) whole = false;
        if (!any) {
            state_.chargeGroupStatus = false;
            continue;
        }
        state_.chargeGroups.push_back({group, whole});
        if (!whole) state_.chargeGroupStatus = false;
    }
}

// ---- names ------------------------------------------------------------------------

bool xxCarMdfAtomOrder::IsValidAtomName(std::string_view name) {
    if (name.empty() || name.size() > kAtomNameWidth || !AllNameChars(name)) return false;
    if (name.front() == '!' || name.front() == '@') return false;
    return !name.starts_with("end");
}

bool xxCarMdfAtomOrder::IsValidSubunitName(std::string_view name) {
    std::size_t cut = name.rfind('_');
    if (cut == std::string_view::npos) return false;
    std::string_view residue = name.substr(0, cut);
    std::string_view number = name.substr(cut + 1);
    return !residue.empty() && residue.size() <= kResidueNameWidth && !number.empty() &&
           number.size() <= kResidueNumberWidth && AllNameChars(residue) && AllNameChars(number);
}

bool xxCarMdfAtomOrder::IsValidMoleculeName(std::string_view name) { return !name.empty() && AllNameChars(name); }

bool xxCarMdfAtomOrder::IsValidChargeGroupName(std::string_view name) {
    return !name.empty() && name.size() <= kChargeGroupNameWidth && name != "?" && AllNameChars(name);
}

bool xxCarMdfAtomOrder::IntegerToAlphaNumeric(std::uint64_t number, std::size_t width, std::string& text) {
    if (width == 0) return false;
    std::uint64_t decimalLimit = 1;
    for (std::size_t i = 0; i < width; ++i) {
        if (decimalLimit > UINT64_MAX / 10) {
            text = std::to_string(number);  // every 64-bit number fits so many digits
            return true;
        }
        decimalLimit *= 10;
    }
    if (number < decimalLimit) {
        text = std::to_string(number);
        return true;
    }
    static constexpr char kDigits[] = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ";
    std::uint64_t rest = number - decimalLimit;
    std::uint64_t tail = 1;  // 36^(length - 1)
    for (std::size_t length = 1; length <= width; ++length) {
        if (tail > UINT64_MAX / 26) return false;
        std::uint64_t count = 26 * tail;
        if (rest < count) {
            std::string out(length, '0');
            out[0] = static_cast<char>('A' + rest / tail);
            std::uint64_t low = rest % tail;
            for (std::size_t i = length; i-- > 1;) {
                out[i] = kDigits[low % 36];
                low /= 36;
            }
            text = std::move(out);
            return true;
        }
        rest -= count;
        if (tail > UINT64_MAX / 36) return false;
        tail *= 36;
    }
    return false;
}

bool xxCarMdfAtomOrder::GenerateObjectNames() {
    state_.named = false;
    if (!state_.valid) return false;
    // state_.atomNames holds the valid names of the model (DefineAtomOrder), or those made by an
    // earlier call, which are valid and unique and so come out the same.
    if (!NameAtoms()) return false;
    NameSubunits();
    NameMolecules();
    if (!NameChargeGroups()) return false;
    state_.named = true;
    return true;
}

bool xxCarMdfAtomOrder::NameAtoms() {
    // The names taken in the sub-unit, each entered as its own key.
    struct SameKey {
        bool operator()(std::uint64_t entry, std::uint64_t key) const { return entry == key; }
    };
    cartovane::NameIndex<std::uint64_t, SameKey, std::uint64_t, cartovane::MixedHash> used;
    std::vector<std::pair<std::string, std::uint64_t>> counters;  // prefix, next number
    std::string number;
    for (std::size_t s = 0; s < state_.subunits.size(); ++s) {
        std::size_t first = state_.subunits[s].first;
        std::size_t end = s + 1 < state_.subunits.size() ? state_.subunits[s + 1].first : state_.order.size();
        used.Clear();
        used.Reserve(end - first);
        counters.clear();
        // Names of the model first, so generated ones step around them; the first of a name
        // keeps it.
        for (std::size_t p = first; p < end; ++p) {
            ShortName& slot = state_.atomNames[p];
            if (slot.size != 0 && !used.Insert(NameKey(slot.View()), NameKey(slot.View()))) slot.size = 0;
        }
        for (std::size_t p = first; p < end; ++p) {
            if (state_.atomNames[p].size != 0) continue;
            const xxBondable& object = *state_.order[p].atom;
            std::string_view prefix = "Du";
            if (const auto* atom = object.As<xxAtom>()) prefix = atom->GetElement().symbol;
            // The element symbol and a number; a plain number once the symbol leaves too little room.
            bool found = false;
            for (std::string_view stem : {prefix, std::string_view{}}) {
                auto counter = std::find_if(counters.begin(), counters.end(),
                                            [&](const auto& c) { return c.first == stem; });
                if (counter == counters.end()) counter = counters.insert(counters.end(), {std::string(stem), 1});
                while (IntegerToAlphaNumeric(counter->second, kAtomNameWidth - stem.size(), number)) {
                    ++counter->second;
                    std::string name = std::string(stem) + number;
                    if (IsValidAtomName(name) && used.Insert(NameKey(name), NameKey(name))) {
                        SetAtomName(p, name);
                        found = true;
                        break;
                    }
                }
                if (found) break;
            }
            if (!found) return false;
        }
    }
    return true;
}

void xxCarMdfAtomOrder::SetAtomName(std::size_t position, std::string_view name) {
    ShortName& slot = state_.atomNames[position];
    slot.size = static_cast<std::uint8_t>(std::min(name.size(), kAtomNameWidth));
    std::copy_n(name.begin(), slot.size, slot.text);
}

void xxCarMdfAtomOrder::NameSubunits() {
    NameSet used;  // views of the names of this molecule's sub-units made so far
    std::string_view previousNumber;
    int molecule = -1;
    int index = 0;  // the sub-unit's number within its molecule, from 1
    for (Subunit& subunit : state_.subunits) {
        if (subunit.molecule != molecule) {
            molecule = subunit.molecule;
            used.Clear();
            previousNumber = {};
            index = 0;
        }
        ++index;
        std::string_view own = subunit.object ? std::string_view(subunit.object->GetName()) : std::string_view{};
        if (IsValidSubunitName(own) && ResidueNumber(own) != previousNumber && !used.Contains(own)) {
            subunit.name = own;
        } else {
            std::string_view residue = ResidueName(own);
            std::string stem = residue.empty() ? std::string("XXXX") : std::string(residue);
            for (int n = index;; ++n) {
                std::string number = std::to_string(n);
                std::string name = stem + "_" + number;
                if (number != previousNumber && !used.Contains(name)) {
                    subunit.name = std::move(name);
                    break;
                }
            }
        }
        used.Insert(subunit.name);
        previousNumber = ResidueNumber(subunit.name);
    }
}

void xxCarMdfAtomOrder::NameMolecules() {
    std::unordered_set<std::string> used;
    used.reserve(state_.molecules.size());
    for (const Molecule& molecule : state_.molecules)
        if (molecule.object && IsValidMoleculeName(molecule.object->GetName())) used.insert(molecule.object->GetName());
    std::unordered_set<std::string> taken;
    taken.reserve(state_.molecules.size());
    int next = 1;
    for (Molecule& molecule : state_.molecules) {
        if (molecule.object && IsValidMoleculeName(molecule.object->GetName()) &&
            taken.insert(molecule.object->GetName()).second) {
            molecule.name = molecule.object->GetName();
            continue;
        }
        for (;; ++next) {
            std::string name = "MOL_" + std::to_string(next);
            if (!used.contains(name) && taken.insert(name).second) {
                molecule.name = std::move(name);
                break;
            }
        }
    }
}

bool xxCarMdfAtomOrder::NameChargeGroups() {
    state_.chargeGroupNames.assign(1, "?");
    state_.positionGroupName.clear();
    if (state_.groupOfPosition.empty()) return true;
    state_.positionGroupName.assign(state_.order.size(), 0);
    std::unordered_map<std::uint32_t, std::uint32_t> named;  // group index + 1 -> name index
    std::unordered_set<std::string> used;
    std::string number;
    for (std::size_t s = 0; s < state_.subunits.size(); ++s) {
        std::size_t first = state_.subunits[s].first;
        std::size_t end = s + 1 < state_.subunits.size() ? state_.subunits[s + 1].first : state_.order.size();
        named.clear();
        used.clear();
        std::uint64_t next = 1;
        for (std::size_t p = first; p < end; ++p) {
            std::uint32_t group = state_.groupOfPosition[p];
            if (group == 0) continue;
            auto found = named.find(group);
            if (found == named.end()) {
                const std::string& own = state_.chargeGroups[group - 1].group->GetName();
                std::string name;
                if (IsValidChargeGroupName(own) && !used.contains(own)) {
                    name = own;
                } else {
                    do {
                        if (!IntegerToAlphaNumeric(next++, kChargeGroupNameWidth - 1, number)) return false;
                        name = "G" + number;
                    } while (used.contains(name));
                }
                used.insert(name);
                state_.chargeGroupNames.push_back(std::move(name));
                found = named.emplace(group, static_cast<std::uint32_t>(state_.chargeGroupNames.size() - 1)).first;
            }
            state_.positionGroupName[p] = found->second;
        }
    }
    return true;
}

bool xxCarMdfAtomOrder::GetMdfObjectName(const xxObject& object, std::string& name) const {
    return GetMdfObjectName(FindPosition(object), name);
}

bool xxCarMdfAtomOrder::GetMdfObjectName(std::size_t position, std::string& name) const {
    if (!state_.named || position >= state_.atomNames.size()) return false;
    name = state_.atomNames[position].View();
    return true;
}

bool xxCarMdfAtomOrder::GetSubunitName(std::size_t subunit, std::string& name) const {
    if (!state_.named || subunit >= state_.subunits.size()) return false;
    name = state_.subunits[subunit].name;
    return true;
}

bool xxCarMdfAtomOrder::GetMoleculeName(std::size_t molecule, std::string& name) const {
    if (!state_.named || molecule >= state_.molecules.size()) return false;
    name = state_.molecules[molecule].name;
    return true;
}

bool xxCarMdfAtomOrder::GetChargeGroupName(std::size_t position, std::string& name, int& switching) const {
    if (!state_.named || position >= state_.order.size()) return false;
    if (state_.positionGroupName.empty() || state_.positionGroupName[position] == 0) {
        name.assign(1, '?');  // (a literal here trips a false -Wrestrict in GCC 12)
        switching = 0;
        return true;
    }
    name = state_.chargeGroupNames[state_.positionGroupName[position]];
    const xxChargeGroup* group = state_.chargeGroups[state_.groupOfPosition[position] - 1].group;
    switching = group->GetSwitchingCenter() == state_.order[position].atom ? 1 : 0;
    return true;
}

std::string_view xxCarMdfAtomOrder::ChargeGroupName(std::size_t position, int& switching) const {
    if (!state_.named || position >= state_.order.size()) return {};
    if (state_.positionGroupName.empty() || state_.positionGroupName[position] == 0) {
        switching = 0;
        return "?";
    }
    const xxChargeGroup* group = state_.chargeGroups[state_.groupOfPosition[position] - 1].group;
    switching = group->GetSwitchingCenter() == state_.order[position].atom ? 1 : 0;
    return state_.chargeGroupNames[state_.positionGroupName[position]];
}

std::string_view xxCarMdfAtomOrder::AtomName(std::size_t position) const {
    return state_.named && position < state_.atomNames.size() ? state_.atomNames[position].View() : std::string_view{};
}

std::string_view xxCarMdfAtomOrder::SubunitName(std::size_t subunit) const {
    return state_.named && subunit < state_.subunits.size() ? std::string_view(state_.subunits[subunit].name) : std::string_view{};
}

std::string_view xxCarMdfAtomOrder::MoleculeName(std::size_t molecule) const {
    return state_.named && molecule < state_.molecules.size() ? std::string_view(state_.molecules[molecule].name) : std::string_view{};
}
