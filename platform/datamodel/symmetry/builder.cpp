#include "datamodel/symmetry/builder.h"

#include "cfx/cfx.h"
#include "datamodel/sets.h"

namespace {
std::vector<xxTransformMatrix> Transforms(const xxSymmetryGroup& group) {
    std::vector<xxTransformMatrix> out;
    out.reserve(group.GetNumOperators());
    for (const auto& op : group.GetOperators()) out.push_back(xxSymmetryConvert::ToTransform(op));
    return out;
}
}  // namespace

void xxSymmetryCreator::CreateSymmetryDefinition(const xxSpaceGroupDescription& description,
                                                 const xxSymmetrySystem& /*system*/,
                                                 std::unique_ptr<xxSpaceGroup>& definition) {
    std::unique_ptr<xxSpaceGroup> d(new xxSpaceGroup(xxSpaceGroup::FromDatabase{}, description.GetGroup()));
    d->TakeNames(description.GetName(), description.GetQualifier(), description.GetITNumber(),
                 xxLatticeRepresentationOf(description));
    d->SetCentering(static_cast<int>(description.GetCenteringType()));
    definition = std::move(d);
}

void xxSymmetryCreator::CreateSymmetryDefinition(const xxPlaneGroupDescription& description,
                                                 const xxSymmetrySystem& /*system*/,
                                                 std::unique_ptr<xxPlaneGroup>& definition) {
    std::unique_ptr<xxPlaneGroup> d(new xxPlaneGroup(xxPlaneGroup::FromDatabase{}, description.GetGroup()));
    d->TakeNames(description.GetName(), {}, description.GetNumber(), xxLatticeRepresentationOf(description));
    definition = std::move(d);
}

void xxSymmetryCreator::CreateSymmetryDefinition(const xxPointGroupDescription& description,
                                                 const xxSymmetrySystem& /*system*/,
                                                 std::unique_ptr<xxPointGroup>& definition) {
    auto d = std::make_unique<xxPointGroup>(Transforms(description.GetGroup()));
    d->SetGroupName(description.GetName());
    definition = std::move(d);
}

std::unique_ptr<xxSpaceGroup> xxSymmetryCreator::CreateSymmetryDefinition(const xxSpaceGroupDescription& description,
                                                                          const xxSymmetrySystem& system) {
    std::unique_ptr<xxSpaceGroup> d;
    CreateSymmetryDefinition(description, system, d);
    return d;
}

std::unique_ptr<xxPlaneGroup> xxSymmetryCreator::CreateSymmetryDefinition(const xxPlaneGroupDescription& description,
                                                                          const xxSymmetrySystem& system) {
    std::unique_ptr<xxPlaneGroup> d;
    CreateSymmetryDefinition(description, system, d);
    return d;
}

void xxSymmetryChanger::Build(xxSymmetrySystem& system, std::unique_ptr<xxSymmetryDefinition> definition,
                              bool findEquivalents, double tolerance, bool completeCell) {
    if (!definition) throw Cfx::CfxResult(E_POINTER, "No symmetry definition to build.");
    system.Build(std::move(definition), {findEquivalents, tolerance, completeCell});
}

void xxSymmetryChanger::Rebuild(xxSymmetrySystem& system, bool findEquivalents, double tolerance, bool completeCell) {
    system.Build(nullptr, {findEquivalents, tolerance, completeCell});
}

std::size_t xxSymmetryVisibilityUtility::MakeVisibleNTupleSets(xxSymmetrySystem& system) {
    std::vector<xxObject*> sets = system.Iterator(xxSet::classType, xxSymmetrySystem::kAll);
    if (xxTreeNode* above = system.GetParent())
        for (xxSet* set : above->ChildrenOf<xxSet>()) sets.push_back(set);

    xxSymmetryDisplay& display = system.GetSymmetryDisplay();
    std::size_t added = 0;
    auto show = [&](xxObject* member) {
        if (!member || !system.IsSymmetryParent(*system.GetSymmetryParent(*member))) return;
        if (display.MakeVisible(*system.GetSymmetryParent(*member), system.GetSymmetryElement(*member))) ++added;
    };
    for (xxObject* object : sets)
        for (xxObject* tuple : static_cast<xxSet*>(object)->GetMembers()) {
            if (const auto* monitor = tuple->As<xxGeometryMonitor>())
                for (xxObject* member : monitor->GetMonitoredObjects()) show(member);
            else if (const auto* substructure = tuple->As<xxSubstructure>())
                for (xxObject* member : substructure->GetAtoms()) show(member);
        }
    return added;
}
