#include "formats/qor_trj_xtl_chemxml/chemxml_writer.h"

#include <algorithm>
#include <ostream>
#include <tuple>
#include <unordered_map>
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

DMToChemistryXML::IdText::IdText(int number) : text_{'I', 'D'} {
    size_ = static_cast<std::size_t>(text::WriteNumber(text_.data() + 2, text_.data() + text_.size(), number) - text_.data());
}

int DMToChemistryXML::NumberOf(const xxObject& object) {
    bool added = false;
    int& number = numbers_.At(numbers_.FindOrAdd(&object, added));
    if (added) number = next_++;
    return number;
}

void DMToChemistryXML::Append(std::string& list, int number) {
    if (!list.empty()) list += ' ';
    list += IdText(number);
}

DMToChemistryXML::DMToChemistryXML(const xxTreeRoot* document)
    : document_(document ? *document : throw Cfx::CfxResult(E_POINTER, "must provide a document to save")) {
    root_ = &tree_.CreateDocumentElement("chemistryDoc");
    if (exportUtilities::GetPeriodicity(document_) != 0)
        throw xmlException("Unable to save periodic systems using this file format.");

    // By molecules only when every object written stands inside one: otherwise bonds between
    // molecules, or loose objects, would be left out. A molecule inside a molecule is written
    // as part of the outer one.
    bool everythingInAMolecule = true;
    std::size_t objects = 0;
    document_.ForEachDescendent([&](xxObject& object) {
        ++objects;
        if (object.IsA(xxMolecule::classType)) {
            if (!HasMoleculeAncestor(object)) molecules_.push_back(static_cast<const xxMolecule*>(&object));
        } else if (object.IsA(xxAtom::classType) || object.IsA(xxBond::classType) ||
                   object.IsA(xxPiSystem::classType)) {
            everythingInAMolecule = everythingInAMolecule && HasMoleculeAncestor(object);
        }
        return true;
    });
    if (!everythingInAMolecule) molecules_.clear();
    numbers_.Reserve(objects);  // more than get ids: the table need not regrow

    names_ = {&tree_.InternElementClass("molecule"),       &tree_.InternElementClass("atom"),
              &tree_.InternElementClass("formalCharge"),   &tree_.InternElementClass("bond"),
              &tree_.InternElementClass("piSystem"),       &tree_.InternElementClass("piBond"),
              &tree_.InternAttributeClass("id"),           &tree_.InternAttributeClass("atoms"),
              &tree_.InternAttributeClass("bonds"),        &tree_.InternAttributeClass("piSystems"),
              &tree_.InternAttributeClass("piBonds"),      &tree_.InternAttributeClass("coord3DX"),
              &tree_.InternAttributeClass("coord3DY"),     &tree_.InternAttributeClass("coord3DZ"),
              &tree_.InternAttributeClass("atomicNumber"), &tree_.InternAttributeClass("numerator"),
              &tree_.InternAttributeClass("denominator"),  &tree_.InternAttributeClass("bondType"),
              &tree_.InternAttributeClass("atom"),         &tree_.InternAttributeClass("piSystem")};
}

bool DMToChemistryXML::Write(std::ostream& out, int encoding, int header) {
    xmlTreeAndLeafTextSaver saver(out, tree_, false);
    saver_ = &saver;
    saver.BeginSave(encoding, header);
    if (molecules_.empty()) {
        Content content = Gather(document_);
        Lists lists;
        GiveIds(content, lists);
        WriteContent(content);
    }
    for (const xxMolecule* molecule : molecules_) {
        // The molecule's element comes before its content and lists it: the ids are given first.
        xmlElement& element = NewElement(*names_.molecule);
        element.AddAttribute(*names_.id, Id(*molecule));
        Content content = Gather(*molecule);
        Lists lists;
        GiveIds(content, lists);
        if (!content.atoms.empty()) element.AddAttribute(*names_.atoms, lists.atoms);
        if (!content.bonds.empty()) element.AddAttribute(*names_.bonds, lists.bonds);
        if (!content.piSystems.empty()) {
            element.AddAttribute(*names_.piSystems, lists.piSystems);
            element.AddAttribute(*names_.piBonds, lists.piBonds);
        }
        Written(element);
        WriteContent(content);
    }
    saver.EndSave();
    saver_ = nullptr;
    return static_cast<bool>(out);
}

DMToChemistryXML::Content DMToChemistryXML::Gather(const xxTreeNode& parent) {
    Content content;
    parent.ForEachDescendent([&](xxObject& object) {
        if (object.IsA(xxAtom::classType)) content.atoms.push_back(static_cast<const xxAtom*>(&object));
        if (object.IsA(xxBond::classType)) content.bonds.push_back(static_cast<const xxBond*>(&object));
        if (object.IsA(xxPiSystem::classType)) content.piSystems.push_back(static_cast<const xxPiSystem*>(&object));
        return true;
    });
    return content;
}

// Every id is given here, before its first element is written, in the order the elements
// themselves once gave them.
void DMToChemistryXML::GiveIds(Content& content, Lists& lists) {
    content.atomNumbers.reserve(content.atoms.size());
    for (const xxAtom* atom : content.atoms) {
        content.atomNumbers.push_back(NumberOf(*atom));
        Append(lists.atoms, content.atomNumbers.back());
    }
    for (const xxBond* bond : content.bonds) {
        if (!IsAtomBond(*bond)) continue;
        const auto ends = bond->GetAtoms();
        if (!ends[0] || !ends[1]) throw Cfx::CfxResult(E_POINTER, "must provide valid bond and element");
        const int number = NumberOf(*bond);
        // Ends without an id yet (outside the content) get theirs second end first, as in the
        // files written so far.
        const int second = NumberOf(*ends[1]);
        content.bondNumbers.push_back({number, NumberOf(*ends[0]), second});
        Append(lists.bonds, number);
    }
    for (const xxPiSystem* piSystem : content.piSystems) {
        NumberOf(*piSystem);
        content.piSystemBonds.push_back(PiSystemBonds(*piSystem));
        Append(lists.piSystems, *piSystem);
    }
    for (const xxPiSystem* piSystem : content.piSystems)
        for (const xxBondableInteraction* bond : piSystem->GetBonds())
            if (!bond->IsPiSystemBond() && bond->IsA(xxBond::classType) && IsPiBond(*bond)) {
                const auto ends = bond->GetAtoms();
                const bool firstIsPiSystem = ends[0]->IsA(xxPiSystem::classType);
                NumberOf(*bond);
                NumberOf(*ends[firstIsPiSystem ? 1 : 0]);
                NumberOf(*ends[firstIsPiSystem ? 0 : 1]);
                Append(lists.piBonds, *bond);
            }
}

void DMToChemistryXML::WriteContent(const Content& content) {
    for (std::size_t i = 0; i < content.atoms.size(); ++i) WriteAtom(*content.atoms[i], content.atomNumbers[i]);
    std::size_t written = 0;
    for (const xxBond* bond : content.bonds)
        if (IsAtomBond(*bond)) WriteBond(*bond, content.bondNumbers[written++]);
    for (std::size_t i = 0; i < content.piSystems.size(); ++i)
        WritePiSystem(*content.piSystems[i], content.piSystemBonds[i]);
    // A pi system's links to its members are not bonds of the file; its bonds to coordinated
    // atoms are its pi bonds.
    for (const xxPiSystem* piSystem : content.piSystems)
        for (const xxBondableInteraction* bond : piSystem->GetBonds())
            if (!bond->IsPiSystemBond() && bond->IsA(xxBond::classType) && IsPiBond(*bond))
                WritePiBond(static_cast<const xxBond&>(*bond));
}

xmlElement& DMToChemistryXML::NewElement(const xmlElementClass& cls) {
    return root_->ChildElement(root_->CreateChildElement(cls));
}

void DMToChemistryXML::Written(xmlElement& element) {
    saver_->BeginElement(element);
    for (std::size_t i = 0; i < element.ChildCount(); ++i) {
        saver_->BeginElement(element.ChildElement(i));
        saver_->EndElement(element.ChildElement(i));
    }
    saver_->EndElement(element);
    root_->PurgeFirstChildren(root_->ChildCount());
}

void DMToChemistryXML::WriteAtom(const xxAtom& atom, int number) {
    xmlElement& element = NewElement(*names_.atom);
    element.AddAttribute(*names_.id, IdText(number));
    const xxPoint3d p = atom.GetXYZ();
    element.AddAttribute(*names_.coord3DX, ToString(p.x));
    element.AddAttribute(*names_.coord3DY, ToString(p.y));
    element.AddAttribute(*names_.coord3DZ, ToString(p.z));
    element.AddAttribute(*names_.atomicNumber, ToString(static_cast<unsigned>(atom.GetElement().number)));
    const auto* atom3d = atom.As<xxAtom3d>();
    const xxRational charge = atom3d ? atom3d->GetFormalCharge() : xxRational{};
    xmlElement& formalCharge = element.ChildElement(element.CreateChildElement(*names_.formalCharge));
    formalCharge.AddAttribute(*names_.numerator, ToString(charge.numerator));
    formalCharge.AddAttribute(*names_.denominator, ToString(charge.denominator));
    Written(element);
}

void DMToChemistryXML::WriteBond(const xxBond& bond, const std::array<int, 3>& numbers) {
    xmlElement& element = NewElement(*names_.bond);
    element.AddAttribute(*names_.id, IdText(numbers[0]));
    text_ = std::string_view(IdText(numbers[1]));
    text_ += ' ';
    text_ += IdText(numbers[2]);
    element.AddAttribute(*names_.atoms, text_);
    element.AddAttribute(*names_.bondType, BondTypeKeyword(bond.GetBondType()));
    Written(element);
}

std::string DMToChemistryXML::PiSystemBonds(const xxPiSystem& piSystem) {
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
    return bonds;
}

void DMToChemistryXML::WritePiSystem(const xxPiSystem& piSystem, const std::string& bonds) {
    xmlElement& element = NewElement(*names_.piSystem);
    element.AddAttribute(*names_.id, Id(piSystem));
    element.AddAttribute(*names_.bonds, bonds);
    Written(element);
}

void DMToChemistryXML::WritePiBond(const xxBond& bond) {
    const auto ends = bond.GetAtoms();
    xmlElement& element = NewElement(*names_.piBond);
    element.AddAttribute(*names_.id, Id(bond));
    const bool firstIsPiSystem = ends[0]->IsA(xxPiSystem::classType);
    element.AddAttribute(*names_.atomOfPiBond, Id(*ends[firstIsPiSystem ? 1 : 0]));
    element.AddAttribute(*names_.piSystemOfPiBond, Id(*ends[firstIsPiSystem ? 0 : 1]));
    Written(element);
}

}  // namespace cartovane::chemxml
