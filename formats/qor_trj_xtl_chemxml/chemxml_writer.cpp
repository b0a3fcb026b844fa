#include "formats/qor_trj_xtl_chemxml/chemxml_writer.h"

#include <algorithm>
#include <tuple>
#include <vector>

#include "cfx/cfx.h"
#include "datamodel/value_types.h"
#include "formats/qor_trj_xtl_chemxml/chemxml_reader.h"
#include "utilities/export_utilities.h"

namespace cartovane::chemxml {

namespace {

bool HasMoleculeAncestor(const xxObject& object) {
    for (const xxTreeNode* p = object.GetParent(); p; p = p->GetParent())
        if (p->IsA(xxMolecule::classType)) return true;
    return false;
}

bool IsAtom(const xxBondable* end) { return end && end->IsA(xxAtom::classType); }
bool IsPiSystem(const xxBondable* end) { return end && end->IsA(xxPiSystem::classType); }

// The format has atoms and pi systems only: a bond to a dummy would name an id the file never
// defines, and the file could not be read back.
bool IsAtomBond(const xxBondableInteraction& bond) {
    const auto ends = bond.GetAtoms();
    return IsAtom(ends[0]) && IsAtom(ends[1]);
}
bool IsPiBond(const xxBondableInteraction& bond) {
    const auto ends = bond.GetAtoms();
    return (IsPiSystem(ends[0]) && IsAtom(ends[1])) || (IsAtom(ends[0]) && IsPiSystem(ends[1]));
}

}  // namespace

xmlElement& DMToChemistryXML::AddElement(std::string_view name) {
    return root_->ChildElement(root_->CreateChildElement(name));
}

const std::string& DMToChemistryXML::Id(const xxObject& object) {
    auto [it, added] = ids_.try_emplace(&object);
    if (added) it->second = "ID" + ToString(next_++);
    return it->second;
}

void DMToChemistryXML::Append(std::string& list, const xxObject& object) {
    if (!list.empty()) list += ' ';
    list += Id(object);
}

void DMToChemistryXML::Save(const xxTreeRoot* document) {
    if (!document) throw Cfx::CfxResult(E_POINTER, "must provide a document to save");
    root_ = &tree_.CreateDocumentElement("chemistryDoc");
    if (exportUtilities::GetPeriodicity(*document) != 0)
        throw xmlException("Unable to save periodic systems using this file format.");

    // By molecules only when every object written stands inside one: otherwise bonds between
    // molecules, or loose objects, would be left out. A molecule inside a molecule is written
    // as part of the outer one.
    std::vector<const xxMolecule*> molecules;
    bool everythingInAMolecule = true;
    document->ForEachDescendent([&](xxObject& object) {
        if (object.IsA(xxMolecule::classType)) {
            if (!HasMoleculeAncestor(object)) molecules.push_back(static_cast<const xxMolecule*>(&object));
        } else if (object.IsA(xxAtom::classType) || object.IsA(xxBond::classType) ||
                   object.IsA(xxPiSystem::classType)) {
            everythingInAMolecule = everythingInAMolecule && HasMoleculeAncestor(object);
        }
        return true;
    });
    if (molecules.empty() || !everythingInAMolecule) {
        Lists lists;
        SaveContent(*document, lists);
        return;
    }
    for (const xxMolecule* molecule : molecules) {
        xmlElement& element = AddElement("molecule");
        element.AddAttribute("id", Id(*molecule));
        Lists lists;
        bool atoms = false, bonds = false, piSystems = false;
        molecule->ForEachDescendent([&](xxObject& object) {
            atoms = atoms || object.IsA(xxAtom::classType);
            bonds = bonds || object.IsA(xxBond::classType);
            piSystems = piSystems || object.IsA(xxPiSystem::classType);
            return true;
        });
        SaveContent(*molecule, lists);
        if (atoms) element.AddAttribute("atoms", lists.atoms);
        if (bonds) element.AddAttribute("bonds", lists.bonds);
        if (piSystems) {
            element.AddAttribute("piSystems", lists.piSystems);
            element.AddAttribute("piBonds", lists.piBonds);
        }
    }
}

void DMToChemistryXML::SaveContent(const xxTreeNode& parent, Lists& lists) {
    const std::vector<xxAtom*> atoms = parent.DescendentsOf<xxAtom>();
    for (const xxAtom* atom : atoms) SaveAtom(*atom, lists);
    for (const xxBond* bond : parent.DescendentsOf<xxBond>())
        if (IsAtomBond(*bond)) SaveBond(*bond, lists);
    const std::vector<xxPiSystem*> piSystems = parent.DescendentsOf<xxPiSystem>();
    for (const xxPiSystem* piSystem : piSystems) SavePiSystem(*piSystem, lists);
    // A pi system's links to its members are not bonds of the file; its bonds to coordinated
    // atoms are its pi bonds.
    for (const xxPiSystem* piSystem : piSystems)
        for (const xxBondableInteraction* bond : piSystem->GetBonds())
            if (!bond->IsPiSystemBond() && bond->IsA(xxBond::classType) && IsPiBond(*bond))
                SavePiBond(static_cast<const xxBond&>(*bond), lists);
}

void DMToChemistryXML::SaveAtom(const xxAtom& atom, Lists& lists) {
    xmlElement& element = AddElement("atom");
    element.AddAttribute("id", Id(atom));
    const xxPoint3d p = atom.GetXYZ();
    element.AddAttribute("coord3DX", ToString(p.x));
    element.AddAttribute("coord3DY", ToString(p.y));
    element.AddAttribute("coord3DZ", ToString(p.z));
    element.AddAttribute("atomicNumber", ToString(static_cast<unsigned>(atom.GetElement().number)));
    const auto* atom3d = atom.As<xxAtom3d>();
    const xxRational charge = atom3d ? atom3d->GetFormalCharge() : xxRational{};
    xmlElement& formalCharge = element.ChildElement(element.CreateChildElement("formalCharge"));
    formalCharge.AddAttribute("numerator", ToString(charge.numerator));
    formalCharge.AddAttribute("denominator", ToString(charge.denominator));
    Append(lists.atoms, atom);
}

xmlElement& DMToChemistryXML::AddBondElement(std::string_view name, const xxBond& bond) {
    const auto ends = bond.GetAtoms();
    if (!ends[0] || !ends[1]) throw Cfx::CfxResult(E_POINTER, "must provide valid bond and element");
    xmlElement& element = AddElement(name);
    element.AddAttribute("id", Id(bond));
    return element;
}

void DMToChemistryXML::SaveBond(const xxBond& bond, Lists& lists) {
    xmlElement& element = AddBondElement("bond", bond);
    const auto ends = bond.GetAtoms();
    element.AddAttribute("atoms", Id(*ends[0]) + " " + Id(*ends[1]));
    element.AddAttribute("bondType", BondTypeKeyword(bond.GetBondType()));
    Append(lists.bonds, bond);
}

void DMToChemistryXML::SavePiSystem(const xxPiSystem& piSystem, Lists& lists) {
    xmlElement& element = AddElement("piSystem");
    element.AddAttribute("id", Id(piSystem));
    // The members through the membership links, then the bonds among them in the order of the
    // pairs (i, j), found through the members' own bonds.
    std::vector<const xxBondable*> members;
    for (const xxPiSystemBond* link : piSystem.GetPiSystemBonds()) {
        const auto ends = link->GetAtoms();
        if (ends[0] && ends[0]->IsA(xxAtom::classType)) members.push_back(ends[0]);
        else if (ends[1] && ends[1]->IsA(xxAtom::classType)) members.push_back(ends[1]);
    }
    std::unordered_map<const xxBondable*, std::size_t> index;
    for (std::size_t i = 0; i < members.size(); ++i) index.try_emplace(members[i], i);
    std::vector<std::tuple<std::size_t, std::size_t, const xxBondableInteraction*>> found;
    for (std::size_t i = 0; i < members.size(); ++i) {
        for (const xxBondableInteraction* bond : members[i]->GetBonds()) {
            if (bond->IsPiSystemBond() || !bond->IsA(xxBond::classType)) continue;
            const auto it = index.find(bond->GetPartner(*members[i]));
            if (it != index.end() && it->second >= i) found.emplace_back(i, it->second, bond);
        }
    }
    std::sort(found.begin(), found.end(), [](const auto& a, const auto& b) {
        return std::tie(std::get<0>(a), std::get<1>(a)) < std::tie(std::get<0>(b), std::get<1>(b));
    });
    std::string bonds;
    for (const auto& [i, j, bond] : found) Append(bonds, *bond);
    element.AddAttribute("bonds", bonds);
    Append(lists.piSystems, piSystem);
}

void DMToChemistryXML::SavePiBond(const xxBond& bond, Lists& lists) {
    xmlElement& element = AddBondElement("piBond", bond);
    const auto ends = bond.GetAtoms();
    const bool firstIsPiSystem = ends[0]->IsA(xxPiSystem::classType);
    element.AddAttribute("atom", Id(*ends[firstIsPiSystem ? 1 : 0]));
    element.AddAttribute("piSystem", Id(*ends[firstIsPiSystem ? 0 : 1]));
    Append(lists.piBonds, bond);
}

}  // namespace cartovane::chemxml
