// The "#atomset" section of the MDF: atom sets, backbone lists, fixed atoms and pseudo-atoms.
#include <algorithm>
#include <string>
#include <type_traits>
#include <unordered_set>

#include "base/text.h"
#include "cfx/cfx.h"
#include "datamodel/atomistic.h"
#include "datamodel/sets.h"
#include "datamodel/symmetry/system.h"
#include "formats/carmdf/car_writer.h"
#include "frame/clsids.h"
#include "frame/messages.h"

namespace msg = cartovane::msg;

namespace {

constexpr std::size_t kMaxListLine = 80;
constexpr std::size_t kMaxTupleDegree = 24;
constexpr std::string_view kFixedAtomsName = "MDF_FIXED_ATOMS_SUBSET";

using cartovane::text::IsScanSpace;

std::string WithoutSpace(std::string_view text) {
    std::string out;
    for (char c : text)
        if (!IsScanSpace(c)) out.push_back(c);
    return out;
}

}  // namespace

void xxSaveCAR::CollectListed() {
    if (state_.listedCollected) return;
    state_.listedCollected = true;
    // The atom order's walk of the model listed them (PrepareModel asked for the three kinds).
    auto take = [&](auto& out, std::size_t which) {
        using T = std::remove_pointer_t<typename std::remove_reference_t<decltype(out)>::value_type>;
        for (xxObject* o : order_.GetCollected(which)) out.push_back(static_cast<T*>(o));
    };
    take(state_.listedSets, kCollectedSets);
    take(state_.listedRestrictions, kCollectedRestrictions);
    take(state_.listedPiSystems, kCollectedPiSystems);
}

template <class T>
std::vector<T*> xxSaveCAR::ObjectsToWrite() {
    std::vector<T*> out;
    if (state_.symmetry) {
        for (xxObject* o : state_.symmetry->Iterator(T::classType, xxSymmetrySystem::kAll)) out.push_back(static_cast<T*>(o));
        return out;
    }
    CollectListed();
    if constexpr (std::is_same_v<T, xxSet>) return state_.listedSets;
    if constexpr (std::is_same_v<T, xxCompleteRestriction>) return state_.listedRestrictions;
    if constexpr (std::is_same_v<T, xxPiSystem>) return state_.listedPiSystems;
    return out;
}

const xxObject* xxSaveCAR::SymmetryParent(const xxObject& object) const {
    return state_.symmetry ? state_.symmetry->GetSymmetryParent(object) : &object;
}

void xxSaveCAR::BeginAtomSetSection() {
    if (state_.atomSetHeader) return;
    Line();
    state_.mdfText.Text("#atomset");
    Line();
    Line();
    state_.atomSetHeader = true;
}

void xxSaveCAR::WriteSetSection() {
    std::vector<xxSet*> sets;
    if (state_.symmetry) {
        sets = ObjectsToWrite<xxSet>();
        if (xxTreeNode* parent = state_.symmetry->GetParent())
            for (xxSet* set : parent->ChildrenOf<xxSet>()) sets.push_back(set);
    } else {
        sets = ObjectsToWrite<xxSet>();
    }
    if (sets.empty()) return;
    BeginAtomSetSection();

    // Lists of one name are read into one set, and two names stand for fixed atoms: every set
    // gets a name of its own.
    std::unordered_set<std::string> used{std::string(kFixedAtomsName), "DRAVIK4_FIXED_ATOMS"};
    bool failed = false;
    for (const xxSet* set : sets) {
        std::string stem = WithoutSpace(set->GetName());
        if (stem.empty()) stem = "Set";
        std::string name = stem;
        for (int n = 2; used.contains(name); ++n) name = stem + "_" + std::to_string(n);
        used.insert(name);
        if (!WriteMdfAtomSets(*set, name)) failed = true;
    }
    if (failed) {
        state_.setFailed = true;
        CfxReportError(E_UNEXPECTED, cartovane::CLSID_CARImportExport, msg::CARSAVE_MDF_ATOMSET);
    }
}

bool xxSaveCAR::QualifiedName(const xxObject& object, std::string& name) const {
    std::size_t position = order_.FindPosition(object);
    if (position == xxCarMdfAtomOrder::npos) return false;
    const xxCARAtomSubunitDef& entry = order_.GetAtomOrderArray()[position];
    name.assign(order_.MoleculeName(static_cast<std::size_t>(entry.molecule)))
        .append(":")
        .append(order_.SubunitName(static_cast<std::size_t>(entry.subunit)))
        .append(":")
        .append(order_.AtomName(position));
    return true;
}

void xxSaveCAR::WriteAtomNameList(const std::vector<const xxObject*>& objects, bool sixPerLine) {
    std::string previousMolecule = " ", previousSubunit = " ";
    std::string qualified;
    std::size_t lineLength = 0, namesOnLine = 0;
    bool any = false;
    for (const xxObject* object : objects) {
        if (!object || !QualifiedName(*object, qualified)) continue;
        std::size_t first = qualified.find(':');
        std::size_t last = qualified.rfind(':');
        std::string_view whole = qualified;
        std::string_view molecule = whole.substr(0, first);
        std::string_view subunit = whole.substr(first + 1, last - first - 1);
        std::string_view name = whole;
        bool bare = false;
        if (molecule == previousMolecule) {
            if (subunit == previousSubunit) {
                name = whole.substr(last + 1);
                bare = true;
            } else {
                name = whole.substr(first + 1);
            }
        }
        // Every name is followed by a blank, and a line holds at most 80 characters.
        if (!bare || lineLength + name.size() + 1 > kMaxListLine || (sixPerLine && namesOnLine == 6)) {
            Line();
            lineLength = namesOnLine = 0;
        }
        state_.mdfText.Text(name).Char(' ');
        lineLength += name.size() + 1;
        ++namesOnLine;
        previousMolecule = molecule;
        previousSubunit = subunit;
        any = true;
    }
    if (!any) return;
    Line();
    Line();
}

std::vector<const xxObject*> xxSaveCAR::CollectSymmetryParents(const std::vector<xxObject*>& objects) const {
    std::vector<const xxObject*> out;
    std::unordered_set<const xxObject*> seen;
    for (const xxObject* object : objects) {
        if (!object) continue;
        const xxObject* parent = SymmetryParent(*object);
        if (seen.insert(parent).second) out.push_back(parent);
    }
    return out;
}

bool xxSaveCAR::FindCommonSymmetryElements(std::vector<const xxObject*>& tuple) const {
    if (!state_.symmetry || tuple.empty()) return true;
    std::vector<const xxSymmetryElement*> common = state_.symmetry->GetSymmetryElements(*tuple.front());
    for (std::size_t i = 1; i < tuple.size() && !common.empty(); ++i) {
        std::vector<const xxSymmetryElement*> elements = state_.symmetry->GetSymmetryElements(*tuple[i]);
        std::erase_if(common, [&](const xxSymmetryElement* e) {
            return std::find(elements.begin(), elements.end(), e) == elements.end();
        });
    }
    if (common.empty()) return false;
    if (common.front()->IsIdentity()) return true;
    // The tuple lies whole in one image: write the tuple of parents it is the image of.
    const xxSymmetryElement* inverse = common.front()->GetInverse();
    for (const xxObject*& member : tuple) {
        xxObject* image = state_.symmetry->FindSymmetryImage(const_cast<xxObject&>(*member), inverse);
        if (!image) return false;
        member = image;
    }
    return true;
}

bool xxSaveCAR::AddTupleIfNew(const std::vector<const xxObject*>& tuple) {
    // A pair, angle or torsion read backwards is the same monitor: keep one orientation.
    std::vector<const xxObject*> key = tuple;
    if (key.size() >= 2 && key.size() <= 4) {
        std::vector<const xxObject*> reversed(key.rbegin(), key.rend());
        if (reversed < key) key = std::move(reversed);
    }
    return state_.writtenTuples.insert(std::move(key)).second;
}

bool xxSaveCAR::WriteMdfAtomSets(const xxSet& set, const std::string& name) {
    std::size_t substructures = set.GetNumFilteredItems(xxSubstructure::classType);
    std::size_t bondables = set.GetNumFilteredItems(xxBondable::classType);
    std::size_t distances = set.GetNumFilteredItems(xxDistanceStretcher::classType);
    std::size_t angles = set.GetNumFilteredItems(xxPlanarAngleBender::classType);
    std::size_t torsions = set.GetNumFilteredItems(xxTorsionTwister::classType);
    int kinds = (substructures > 0) + (bondables > 0) + (distances > 0) + (angles > 0) + (torsions > 0);
    if (kinds > 1) {
        Warn("Set " + name + " contains multiple data types - only a single type of data " +
             "may be saved in a single set.");
        return false;
    }
    if (kinds == 0) return true;

    auto writeSubset = [&](const std::vector<xxObject*>& members) {
        state_.mdfText.Text("@list subset ").Text(name);
        Line();
        WriteAtomNameList(CollectSymmetryParents(members), false);
    };
    if (bondables > 0) {
        std::vector<xxObject*> members;
        for (xxBondable* b : set.GetMembersOf<xxBondable>()) members.push_back(b);
        writeSubset(members);
        return true;
    }

    std::vector<std::vector<const xxObject*>> tuples;
    std::size_t degree = 0;
    std::size_t omitted = 0;
    if (substructures > 0) {
        std::vector<xxSubstructure*> parts = set.GetMembersOf<xxSubstructure>();
        degree = parts.front()->GetAtoms().size();
        for (const xxSubstructure* part : parts) {
            if (part->GetAtoms().size() != degree) {
                Warn("Set " + name + " contains substructures with different sizes. These " +
                     "cannot be output in this file format.");
                return false;
            }
        }
        if (degree <= 1) {
            std::vector<xxObject*> members;
            for (const xxSubstructure* part : parts)
                for (xxBondable* b : part->GetAtoms()) members.push_back(b);
            writeSubset(members);
            return true;
        }
        if (degree > kMaxTupleDegree) {
            Warn("Set " + name + " contains subStructures too large for the Mdf format. " +
                 "This data will not be output to the file.");
            return false;
        }
        for (const xxSubstructure* part : parts) {
            std::vector<const xxObject*> tuple;
            for (const xxBondable* b : part->GetAtoms()) tuple.push_back(b);
            tuples.push_back(std::move(tuple));
        }
    } else {
        degree = distances > 0 ? 2 : angles > 0 ? 3 : 4;
        for (const xxGeometryMonitor* monitor : set.GetMembersOf<xxGeometryMonitor>()) {
            std::vector<const xxObject*> tuple;
            bool bondable = true;
            for (const xxRestrictable* data : monitor->GetMonitoredData()) {
                const xxObject* object = data->GetAssociatedObject();
                if (!object || !object->IsA(xxBondable::classType)) bondable = false;
                tuple.push_back(object);
            }
            if (!bondable || tuple.size() != degree) {
                ++omitted;
                continue;
            }
            tuples.push_back(std::move(tuple));
        }
    }

    state_.writtenTuples.clear();
    bool header = false;
    std::string qualified;
    for (std::vector<const xxObject*>& tuple : tuples) {
        if (!FindCommonSymmetryElements(tuple)) {
            ++omitted;
            continue;
        }
        // A tuple with a member the file does not list would be read back short and spoil
        // the whole section.
        if (!std::all_of(tuple.begin(), tuple.end(), [&](const xxObject* o) { return QualifiedName(*o, qualified); })) {
            ++omitted;
            continue;
        }
        if (!AddTupleIfNew(tuple)) continue;
        if (!header) {
            state_.mdfText.Text("@degree ").Int(static_cast<long long>(degree)).Text(" subset ").Text(name);
            Line();
            header = true;
        }
        WriteAtomNameList(tuple, false);
    }
    state_.writtenTuples.clear();
    if (omitted > 0) {
        Warn("Set " + name + " contains a distance, angle, torsion or substructure whose " +
             "defining members lie in different symmetry or periodic images. This data cannot " +
             "be output in the mdf format, and has been omitted.");
        return false;
    }
    return true;
}

void xxSaveCAR::WriteBackboneList(std::size_t firstPosition, std::size_t endPosition, std::string_view moleculeName) {
    const auto& atoms = order_.GetAtomOrderArray();
    auto isBackbone = [](const xxBondable* b) {
        const auto* atom = b->As<xxAtom>();
        return atom && atom->IsBackboneAtom();
    };
    // The records' pass noted the backbone atoms.
    std::vector<const xxBondable*> backbone;
    for (auto p = std::lower_bound(state_.backbonePositions.begin(), state_.backbonePositions.end(), firstPosition);
         p != state_.backbonePositions.end() && *p < endPosition; ++p)
        backbone.push_back(atoms[*p].atom);
    if (backbone.empty()) return;

    auto backboneNeighbours = [&](const xxBondable* b) {
        std::vector<const xxBondable*> out;
        for (const xxBondable* n : b->GetAttached())
            if (isBackbone(n)) out.push_back(n);
        return out;
    };
    auto inMolecule = [&](const xxBondable* b) {
        std::size_t p = order_.FindPosition(*b);
        return p != xxCarMdfAtomOrder::npos && p >= firstPosition && p < endPosition;
    };

    std::vector<const xxObject*> list;
    const xxBondable* start = nullptr;
    for (const xxBondable* b : backbone) {
        if (backboneNeighbours(b).size() == 1) {
            start = b;
            break;
        }
    }
    bool walked = false;
    if (start) {
        const xxBondable* previous = nullptr;
        const xxBondable* current = start;
        walked = true;
        while (current) {
            list.push_back(current);
            if (list.size() > backbone.size()) {
                walked = false;
                break;
            }
            const xxBondable* next = nullptr;
            std::size_t count = 0;
            for (const xxBondable* n : backboneNeighbours(current)) {
                if (n == previous) continue;
                next = n;
                ++count;
            }
            if (count >= 2 || (next && !inMolecule(next))) {
                walked = false;
                break;
            }
            previous = current;
            current = next;
        }
        walked = walked && list.size() == backbone.size();
    }
    if (!walked) list.assign(backbone.begin(), backbone.end());

    BeginAtomSetSection();
    state_.mdfText.Text("@list backbone ").Text(moleculeName);
    Line();
    WriteAtomNameList(list, true);
}

void xxSaveCAR::WriteFixedAtomsSubset() {
    std::vector<xxObject*> fixed;
    for (const xxCompleteRestriction* restriction : ObjectsToWrite<xxCompleteRestriction>())
        for (const xxRestrictable* r : restriction->GetRestrictables())
            if (xxObject* o = r->GetAssociatedObject(); o && o->IsA(xxBondable::classType)) fixed.push_back(o);
    if (fixed.empty()) return;
    BeginAtomSetSection();
    state_.mdfText.Text("@list subset ").Text(kFixedAtomsName);
    Line();
    WriteAtomNameList(CollectSymmetryParents(fixed), false);
}

std::string xxSaveCAR::MakeAlphaNumericName(const xxObject& firstMember, const std::string& piName) {
    std::string prefix;
    QualifiedName(firstMember, prefix);
    prefix.erase(prefix.rfind(':') + 1);
    const auto& atoms = order_.GetAtomOrderArray();
    const std::size_t position = order_.FindPosition(firstMember);
    const int subunit = atoms[position].subunit;
    std::size_t first = position, end = position;
    while (first > 0 && atoms[first - 1].subunit == subunit) --first;
    while (end < atoms.size() && atoms[end].subunit == subunit) ++end;
    auto isFree = [&](const std::string& atomName) {
        for (std::size_t p = first; p < end; ++p)
            if (order_.AtomName(p) == atomName) return false;
        return !pseudoAtomNames_.contains(prefix + atomName);
    };

    std::string source;
    for (char c : piName)
        if (c > ' ' && c <= '~' && c != ':' && c != '#' && c != '%' && c != '/' && c != ',') source.push_back(c);
    if (source.empty()) source = "PI";
    std::string stem = source.substr(0, std::min<std::size_t>(5, source.size()));
    std::string found;
    if (isFree(stem)) {
        found = stem;
    } else {
        std::string number;
        while (found.empty() && !stem.empty()) {
            for (std::uint64_t n = 1;
                 xxCarMdfAtomOrder::IntegerToAlphaNumeric(n, xxCarMdfAtomOrder::kAtomNameWidth - stem.size(), number); ++n) {
                if (isFree(stem + number)) {
                    found = stem + number;
                    break;
                }
            }
            if (found.empty()) stem.pop_back();
        }
        if (found.empty()) found = source.substr(0, 5);
    }
    std::string name = prefix + found;
    pseudoAtomNames_.insert(name);
    return name;
}

void xxSaveCAR::WritePseudoAtomLists() {
    std::string qualified;
    for (const xxPiSystem* pi : ObjectsToWrite<xxPiSystem>()) {
        if (!pi->HasDynamicPosition()) continue;
        std::vector<const xxObject*> members;
        for (const xxBondable* member : pi->GetPiSystemAtoms()) {
            if (state_.symmetry && !state_.symmetry->IsSymmetryParent(*member)) continue;
            if (QualifiedName(*member, qualified)) members.push_back(member);
        }
        if (members.empty()) continue;
        std::string name = MakeAlphaNumericName(*members.front(), pi->GetName());
        BeginAtomSetSection();
        state_.mdfText.Text("@list pseudoatom ").Text(name).Text(" A");
        Line();
        WriteAtomNameList(members, false);
    }
}
