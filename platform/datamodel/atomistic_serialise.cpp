// What the atomistic classes, sets, restrictions and monitors save beyond their property
// templates: the objects they refer to. Interactions connect their ends as soon as they are read
// (forward references included: connecting only records the bond in both ends).
#include <string>
#include <vector>

#include "datamodel/atomistic.h"
#include "datamodel/object_serialise.h"
#include "datamodel/sets.h"

namespace {

template <class T>
std::vector<T*> ReadObjects(xxInput& in, const char* name) {
    std::vector<T*> objects;
    xxPointerCollection<T> collection(objects);
    in.ReadReferenceCollection(name, collection);
    return objects;
}

template <class T>
void WriteObjects(xxOutput& out, const char* name, const std::vector<T*>& objects) {
    out.WriteReferenceCollection(name, xxPointerCollection<T>(objects));
}

[[noreturn]] void Incomplete(const xxObject& object, const char* what) {
    throw std::invalid_argument(object.GetClass().GetName() + " has a null " + what);
}

// ---- interactions -----------------------------------------------------------------------------

void SaveInteraction(const xxObject& object, xxOutput& out) {
    auto ends = static_cast<const xxBondableInteraction&>(object).GetAtoms();
    out.WriteReference("Atom1", ends[0]);
    out.WriteReference("Atom2", ends[1]);
}

void LoadInteraction(xxObject& object, xxInput& in) {
    auto* a = in.ReadReferenceTo<xxBondable>("Atom1");
    auto* b = in.ReadReferenceTo<xxBondable>("Atom2");
    // An end deleted while loading leaves the interaction unconnected, as one whose end died.
    if (a && b) static_cast<xxBondableInteraction&>(object).Connect(*a, *b);
}

// ---- mixed sites ------------------------------------------------------------------------------

// Only mixed sites write their components; a presence says which (the binary stream has no names).
void SaveAtom3d(const xxObject& object, xxOutput& out) {
    const std::vector<xxAtomComponent> mixture = static_cast<const xxAtom3d&>(object).GetMixtureProperties();
    out.WriteAttributePresence("MixtureElements", !mixture.empty());
    if (mixture.empty()) return;
    std::vector<int> elements;
    std::vector<double> compositions;
    for (const xxAtomComponent& c : mixture) {
        elements.push_back(c.GetAtomicNumber());
        compositions.push_back(c.GetComposition());
    }
    out.WriteArray("MixtureElements", elements);
    out.WriteArray("MixtureCompositions", compositions);
}

void LoadAtom3d(xxObject& object, xxInput& in) {
    if (!in.HasAttribute("MixtureElements")) return;
    std::vector<int> elements;
    std::vector<double> compositions;
    in.ReadArray("MixtureElements", elements);
    in.ReadArray("MixtureCompositions", compositions);
    if (elements.size() != compositions.size())
        throw std::invalid_argument("Atom3d lists " + std::to_string(elements.size()) + " mixture elements for " +
                                    std::to_string(compositions.size()) + " compositions");
    std::vector<xxAtomComponent> mixture;
    for (std::size_t i = 0; i < elements.size(); ++i) {
        const xxElement* element = xxElementFactory::FindElementByType(elements[i]);
        if (!element || element->number == 0)
            throw std::invalid_argument("Atom3d has a mixture element " + std::to_string(elements[i]));
        mixture.emplace_back(*element, compositions[i]);
    }
    auto& atom = static_cast<xxAtom3d&>(object);
    const int element = atom.GetElementNumber();  // the document's, whatever the major component
    atom.SetMixtureProperties(std::move(mixture));
    atom.SetElementNumber(element);
}

// ---- charge groups ----------------------------------------------------------------------------

void SaveChargeGroup(const xxObject& object, xxOutput& out) {
    const auto& group = static_cast<const xxChargeGroup&>(object);
    WriteObjects(out, "Atoms", group.GetMembers());
    out.WriteReference("SwitchingCenter", group.GetSwitchingCenter());
}

void LoadChargeGroup(xxObject& object, xxInput& in) {
    auto& group = static_cast<xxChargeGroup&>(object);
    std::vector<xxBondable*> members = ReadObjects<xxBondable>(in, "Atoms");
    std::erase(members, nullptr);
    group.SetMembers(members);
    group.SetSwitchingCenter(in.ReadReferenceTo<xxBondable>("SwitchingCenter"));
}

// ---- sets, restrictions, monitors, substructures ----------------------------------------------

void SaveCollection(const xxObject& object, xxOutput& out) {
    WriteObjects(out, "Members", static_cast<const xxOrdCollection&>(object).GetMembers());
}

void LoadCollection(xxObject& object, xxInput& in) {
    auto& collection = static_cast<xxOrdCollection&>(object);
    for (xxObject* member : ReadObjects<xxObject>(in, "Members"))
        if (member) collection.Add(*member);
}

// A restrictable stands for (object, property); it is saved as the two.
void SaveRestriction(const xxObject& object, xxOutput& out) {
    std::vector<xxObject*> objects;
    std::vector<const xxPropertyBase*> properties;
    for (xxRestrictable* r : static_cast<const xxRestriction&>(object).GetRestrictables()) {
        if (!r->GetAssociatedObject()) continue;
        objects.push_back(r->GetAssociatedObject());
        properties.push_back(&r->GetProperty());
    }
    WriteObjects(out, "Objects", objects);
    out.WritePropertyTemplates("Properties", properties);
}

void LoadRestriction(xxObject& object, xxInput& in) {
    auto& restriction = static_cast<xxRestriction&>(object);
    std::vector<xxObject*> objects = ReadObjects<xxObject>(in, "Objects");
    std::vector<const xxPropertyBase*> properties;
    in.ReadPropertyTemplates("Properties", properties);
    if (objects.size() != properties.size())
        throw std::invalid_argument(object.GetClass().GetName() + " lists " + std::to_string(objects.size()) +
                                    " objects for " + std::to_string(properties.size()) + " properties");
    for (std::size_t i = 0; i < objects.size(); ++i) {
        if (!properties[i]) Incomplete(object, "property");
        if (!objects[i]) continue;  // deleted while loading
        // The name is the object's own template, whatever other class shares it.
        const xxPropertyBase* own = FindPropertyTemplate(properties[i]->Name(), objects[i]);
        restriction.AddRestrictable(xxRestrictable::For(*objects[i], own ? *own : *properties[i]));
    }
}

void SaveMonitor(const xxObject& object, xxOutput& out) {
    WriteObjects(out, "Objects", static_cast<const xxGeometryMonitor&>(object).GetMonitoredObjects());
}

void LoadMonitor(xxObject& object, xxInput& in) {
    auto& monitor = static_cast<xxGeometryMonitor&>(object);
    std::vector<xxMatter*> objects = ReadObjects<xxMatter>(in, "Objects");
    if (objects.empty()) return;
    // A monitored object deleted while loading leaves the monitor incomplete.
    for (xxMatter* o : objects)
        if (!o) return;
    monitor.SetMonitoredObjects(objects);
}

void SaveSubstructure(const xxObject& object, xxOutput& out) {
    WriteObjects(out, "Atoms", static_cast<const xxSubstructure&>(object).GetAtoms());
}

void LoadSubstructure(xxObject& object, xxInput& in) {
    for (xxBondable* atom : ReadObjects<xxBondable>(in, "Atoms"))
        if (atom) static_cast<xxSubstructure&>(object).AddAtom(*atom);
}

[[maybe_unused]] const bool registered = [] {
    RegisterClassSerialiser(xxBondableInteraction::Class(), {SaveInteraction, LoadInteraction});
    RegisterClassSerialiser(xxChargeGroup::Class(), {SaveChargeGroup, LoadChargeGroup});
    RegisterClassSerialiser(xxAtom3d::Class(), {SaveAtom3d, LoadAtom3d});
    RegisterClassSerialiser(xxOrdCollection::Class(), {SaveCollection, LoadCollection});
    RegisterClassSerialiser(xxRestriction::Class(), {SaveRestriction, LoadRestriction});
    RegisterClassSerialiser(xxGeometryMonitor::Class(), {SaveMonitor, LoadMonitor});
    RegisterClassSerialiser(xxSubstructure::Class(), {SaveSubstructure, LoadSubstructure});
    return true;
}();

}  // namespace
