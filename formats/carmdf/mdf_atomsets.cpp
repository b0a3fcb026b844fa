// The MDF atom-set section: subsets, fixed atoms, backbone marks, pseudo-atoms and N-tuple sets.
#include <algorithm>
#include <functional>

#include "datamodel/atomistic.h"
#include "datamodel/sets.h"
#include "formats/carmdf/car_reader.h"
#include "formats/carmdf/car_scan.h"

namespace cs = cartovane::carscan;
namespace tx = cartovane::text;

namespace {

// The tokens of a header read as "@%s %s %s" (the "@" not among them); fewer when the line
// holds fewer, none when it does not start with "@".
struct Header {
    std::array<std::string_view, 3> tokens{};
    std::size_t count = 0;
};
Header ReadHeader(std::string_view line) {
    Header h;
    if (!line.starts_with('@')) return h;
    std::size_t pos = 1;
    while (h.count < 3) {
        const std::optional<std::string_view> token = tx::ScanString(line, pos);
        if (!token) break;
        h.tokens[h.count++] = *token;
    }
    return h;
}

// "mol:sub:atom", "sub:atom" or "atom"; the atom is after the last ":", a molecule before the
// first of two or more.
struct NameParts {
    std::string_view molecule, subUnit, atom;
};
NameParts SplitQualifiedName(std::string_view name) {
    NameParts parts;
    const std::size_t last = name.rfind(':');
    if (last == std::string_view::npos) {
        parts.atom = name;
        return parts;
    }
    parts.atom = name.substr(last + 1);
    const std::string_view prefix = name.substr(0, last);
    const std::size_t first = prefix.find(':');
    if (first == std::string_view::npos) {
        parts.subUnit = prefix;
    } else {
        parts.molecule = prefix.substr(0, first);
        parts.subUnit = prefix.substr(first + 1);
    }
    return parts;
}

std::vector<xxObject*> AsObjects(const std::vector<xxAtom*>& atoms) {
    std::vector<xxObject*> objects;
    objects.reserve(atoms.size());
    for (xxAtom* a : atoms)
        if (a) objects.push_back(a);
    return objects;
}

}  // namespace

std::size_t cs::LoadState::MonitorKeyHash::operator()(const MonitorKey& key) const noexcept {
    std::size_t h = 0;
    for (const xxAtom* a : key.atoms) h = h * 0x9E3779B97F4A7C15ull + std::hash<const xxAtom*>{}(a);
    return h;
}

xxLoadCAR::MonitorKey xxLoadCAR::MonitorKeyOf(const std::vector<xxAtom*>& atoms) {
    MonitorKey forward, reversed;
    std::copy(atoms.begin(), atoms.end(), forward.atoms.begin());
    std::copy(atoms.rbegin(), atoms.rend(), reversed.atoms.begin());
    return std::lexicographical_compare(reversed.atoms.begin(), reversed.atoms.end(), forward.atoms.begin(),
                                        forward.atoms.end(), std::less<const xxAtom*>{})
               ? reversed
               : forward;
}

bool xxLoadCAR::ReadMdfAtomSets(xxTreeNode& owner, MdfLines& lines) {
    // The records' qualified names, first record first: the names read back from the objects
    // are the record's own (the sub-unit and atom were found by them, the molecule renamed).
    qualifiedNames_.Reserve(recordObjects_.size());
    for (; recordObjectsIndexed_ < recordObjects_.size(); ++recordObjectsIndexed_) {
        xxBondable* object = recordObjects_[recordObjectsIndexed_];
        const xxObject* subUnit = object->GetParent();
        scratch_.assign(subUnit->GetParent()->GetName());
        scratch_ += ':';
        scratch_ += subUnit->GetName();
        scratch_ += ':';
        scratch_ += object->GetName();
        qualifiedNames_.Insert(scratch_, object);
    }
    sets_.clear();
    if (!lines.NextStatement()) return false;
    if (lines.Line().starts_with('#')) return true;
    for (;;) {
        const std::string_view line = lines.Line();
        std::size_t pos = 0;
        const std::string_view first = tx::ScanString(line, pos).value_or(std::string_view{});
        const std::string_view second = tx::ScanString(line, pos).value_or(std::string_view{});
        bool ok = false;
        if (second.starts_with("pseudoatom")) {
            ok = ReadPseudoAtoms(lines);
        } else if (second.starts_with("backbone")) {
            ok = ReadBackboneList(lines);
        } else if (second.starts_with("torsion")) {
            SkipToSectionLine(lines);
            ok = true;
        } else if (second.starts_with("subset")) {
            const Header h = ReadHeader(line);
            if (h.count == 3 && (h.tokens[2] == "DRAVIK4_FIXED_ATOMS" || h.tokens[2] == "MDF_FIXED_ATOMS_SUBSET"))
                ok = ReadFixedAtoms(owner, lines);
            else
                ok = ReadMdfSubset(owner, lines);
        } else if (first.starts_with("@degree")) {
            std::size_t p = 0;
            int degree = 0;
            tx::ScanString(line, p);
            const bool haveDegree = tx::ScanInt(line, p, degree);
            const std::optional<std::string_view> kind = tx::ScanString(line, p);
            const std::optional<std::string_view> name = tx::ScanString(line, p);
            // A header that names no subset cannot be read past: the section fails.
            if (haveDegree && kind && name && kind->starts_with("subset"))
                ok = ReadMdfTupleSets(owner, lines, degree, *name);
        }
        if (!ok) return false;
        if (lines.AtEnd() || lines.Line().starts_with('#')) return true;
    }
}

std::vector<xxAtom*> xxLoadCAR::ReadAtomNameList(MdfLines& lines, std::string molecule, std::string subUnit,
                                                 bool tuples) {
    std::vector<xxAtom*> atoms;
    while (lines.Next()) {
        const std::string_view line = lines.Line();
        if (cs::IsBlankOrComment(line)) continue;
        if (line.starts_with('#') || line.starts_with('@')) break;
        std::size_t start = 0;
        while (start < line.size()) {
            const std::size_t end = std::min(line.find(' ', start), line.size());
            const std::string_view token = line.substr(start, end - start);
            start = end + 1;
            if (token.empty()) continue;
            if (token == "\n") break;
            xxAtom* atom = FindAtomByName(token, molecule, subUnit);
            if (atom || tuples) atoms.push_back(atom);  // a tuple keeps the place of a name not found
        }
    }
    return atoms;
}

xxAtom* xxLoadCAR::FindAtomByName(std::string_view name, std::string& molecule, std::string& subUnit) {
    const NameParts parts = SplitQualifiedName(name);
    if (!parts.molecule.empty()) molecule.assign(parts.molecule);
    if (!parts.subUnit.empty()) subUnit.assign(parts.subUnit);
    scratch_.assign(molecule);
    scratch_ += ':';
    scratch_ += subUnit;
    scratch_ += ':';
    scratch_ += parts.atom;
    xxBondable* const* found = qualifiedNames_.Find(scratch_);
    return found ? (*found)->As<xxAtom>() : nullptr;
}

bool xxLoadCAR::ReadMdfSubset(xxTreeNode& owner, MdfLines& lines) {
    const Header h = ReadHeader(lines.Line());
    if (h.count < 3 || h.tokens[0] != "list" || h.tokens[1] != "subset") return false;
    const std::string name(h.tokens[2]);
    xxSet*& set = sets_[name];
    if (!set) {
        set = &owner.CreateChild<xxSet>();
        set->SetName(name);
    }
    const std::vector<xxAtom*> atoms = ReadAtomNameList(lines, {}, {}, false);
    std::vector<xxObject*> added(atoms.begin(), atoms.end());
    MoveUnderMembers(*set, added);
    for (xxAtom* atom : atoms) set->Add(*atom);
    return true;
}

void xxLoadCAR::MoveUnderMembers(xxSet& set, std::vector<xxObject*>& added) {
    if (added.empty()) return;
    // A set that has members already sits under their common ancestor, so the set itself stands
    // for them: a set filled by many lists costs no more than its lists.
    if (!set.IsEmpty()) added.push_back(&set);
    if (xxTreeNode* ancestor = xxUnMappedMonitor::FindCommonAncestor(added)) set.SetParent(*ancestor);
}

bool xxLoadCAR::ReadFixedAtoms(xxTreeNode& owner, MdfLines& lines) {
    xxCompleteRestriction& restriction = owner.CreateChild<xxCompleteRestriction>();
    restriction.InitialiseObjectToDefault();
    for (xxAtom* atom : ReadAtomNameList(lines, {}, {}, false))
        if (xxRestrictable* xyz = xxMatter::m_pptXYZ.GetAsRestrictable(*atom)) restriction.AddRestrictable(*xyz);
    return true;
}

bool xxLoadCAR::ReadBackboneList(MdfLines& lines) {
    std::size_t pos = 0;
    const std::string_view line = lines.Line();
    tx::ScanString(line, pos);
    tx::ScanString(line, pos);
    if (!tx::ScanString(line, pos)) return false;
    for (xxAtom* atom : ReadAtomNameList(lines, {}, {}, false)) atom->SetIsBackboneAtom(true);
    return true;
}

bool xxLoadCAR::ReadPseudoAtoms(MdfLines& lines) {
    const Header h = ReadHeader(lines.Line());
    if (h.count < 3 || h.tokens[0] != "list" || h.tokens[1] != "pseudoatom") return false;
    const NameParts parts = SplitQualifiedName(h.tokens[2]);
    const std::string name(parts.atom);
    const std::vector<xxAtom*> members =
        ReadAtomNameList(lines, std::string(parts.molecule), std::string(parts.subUnit), false);

    // The atoms bonded to every member are the ones coordinated to the pi system.
    std::vector<xxBondable*> coordinated;
    if (!members.empty()) {
        for (xxBondable* candidate : members.front()->GetAttached()) {
            const bool toAll = std::all_of(members.begin() + 1, members.end(),
                                           [&](const xxAtom* m) { return m->IsBondedTo(*candidate); });
            if (toAll) coordinated.push_back(candidate);
        }
    }
    if (coordinated.empty()) return true;
    xxTreeNode* root = xxObject::FindCommonRoot(AsObjects(members));
    if (!root) return true;

    xxPiSystem& pi = root->CreateChild<xxPiSystem>();
    pi.SetName(name);
    for (xxAtom* member : members) pi.MakePiSystemBond(*member);
    pi.SetHasDynamicPosition(true);
    for (xxBondable* atom : coordinated) {
        for (xxAtom* member : members) atom->BreakBond(*member);
        xxBondable::MakeBond(*atom, pi, xxBondType::Single);
    }
    return true;
}

xxGeometryMonitor* xxLoadCAR::MonitorOf(xxTreeNode& owner, const std::vector<xxAtom*>& atoms) {
    xxGeometryMonitor*& monitor = monitors_[MonitorKeyOf(atoms)];
    if (monitor) return monitor;
    switch (atoms.size()) {
        case 2:
            monitor = &owner.CreateChild<xxDistanceStretcher>(*atoms[0], *atoms[1]);
            break;
        case 3:
            monitor = &owner.CreateChild<xxPlanarAngleBender>(*atoms[0], *atoms[1], *atoms[2]);
            break;
        default:
            monitor = &owner.CreateChild<xxTorsionTwister>(*atoms[0], *atoms[1], *atoms[2], *atoms[3]);
            break;
    }
    monitor->SetLabeledMeasurement(false);
    return monitor;
}

bool xxLoadCAR::ReadMdfTupleSets(xxTreeNode& owner, MdfLines& lines, int degree, std::string_view setName) {
    const std::string name(setName);
    xxSet*& entry = sets_[name];
    const bool isNew = entry == nullptr;
    if (isNew) {
        entry = &owner.CreateChild<xxSet>();
        entry->SetName(name);
    }
    xxSet* set = entry;
    auto dropNewSet = [&] {
        if (!isNew) return;
        sets_.erase(name);
        set->Delete();
    };

    const std::vector<xxAtom*> places = ReadAtomNameList(lines, {}, {}, true);
    const std::size_t n = degree > 0 ? static_cast<std::size_t>(degree) : 0;
    if (places.size() < 2 || n < 1 || places.size() % n != 0) {
        dropNewSet();
        return false;
    }
    std::vector<xxObject*> collected;
    std::vector<xxAtom*> tuple(n);
    for (std::size_t first = 0, number = 1; first < places.size(); first += n, ++number) {
        std::copy_n(places.begin() + static_cast<std::ptrdiff_t>(first), n, tuple.begin());
        if (std::find(tuple.begin(), tuple.end(), nullptr) != tuple.end()) continue;  // its number stays used
        if (n >= 2 && n <= 4) {
            collected.push_back(MonitorOf(owner, tuple));
            continue;
        }
        xxSubstructure& sub = owner.CreateChild<xxSubstructure>();
        sub.InitialiseObjectToDefault();
        for (xxAtom* atom : tuple) sub.AddAtom(*atom);
        sub.SetID(static_cast<int>(number));
        sub.SetName(name + "_Tuple" + std::to_string(number));
        if (xxTreeNode* ancestor = xxUnMappedMonitor::FindCommonAncestor(AsObjects(tuple))) sub.SetParent(*ancestor);
        collected.push_back(&sub);
    }
    if (collected.empty()) {
        dropNewSet();
        return true;
    }
    if (set->IsEmpty()) set->SetParent(owner);
    MoveUnderMembers(*set, collected);
    for (xxObject* object : collected) set->Add(*object);
    if (isNew) set->SetName(name);
    return true;
}

void xxLoadCAR::SkipToSectionLine(MdfLines& lines) {
    while (lines.Next()) {
        const std::string_view line = lines.Line();
        if (cs::IsBlankOrComment(line)) continue;
        if (line.starts_with('@') || line.starts_with('#')) return;
    }
}
