// A model for TRJ files, built in code: a host document whose file is a TRJ file, holding atoms
// with IDs in one molecule, under a symmetry system with a cell when the model is periodic (a P1
// space group, or a p1 plane group), and the trajectory over its matter.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "datamodel/atomistic.h"
#include "datamodel/symmetry/definition.h"
#include "datamodel/symmetry/system.h"
#include "host/documents.h"
#include "utilities/import_utilities.h"
#include "utilities/trajectory.h"

namespace cvtest {

struct TrjModel {
    CfxComPtr<host::ContainerRoot> root = host::ContainerRoot::Create();
    CfxComPtr<host::Model3dDocument> document = host::Model3dDocument::Create(kAtomistic3dDocumentProgID);
    xxMatterSymmetrySystem* system = nullptr;
    std::vector<xxAtom3d*> atoms;

    // Atoms with the given IDs at (10 + k, 20 + k, 30 + k) / 10; dimension 3 or 2 gives the model
    // a cell (an orthogonal 20 x 21 x 22 box, or a 20 x 21 rectangle), laid out "xyz" / "xy".
    TrjModel(const std::string& trjPath, const std::vector<int>& ids, int dimension = 0) {
        document->SetURL(trjPath);
        xxTreeNode* parent = &Tree();
        if (dimension == 3) {
            auto group = std::make_unique<xxSpaceGroup>();
            group->SetCellParameters(20, 21, 22, kRightAngle, kRightAngle, kRightAngle, false);
            system = &Tree().CreateChild<xxMultiScaleSymmetrySystem>(std::move(group));
        } else if (dimension == 2) {
            auto group = std::make_unique<xxPlaneGroup>();
            group->SetCellParameters(20, 21, kRightAngle, false);
            system = &Tree().CreateChild<xxMultiScaleSymmetrySystem>(std::move(group));
        }
        if (system) parent = system;
        xxSubUnit& unit = parent->CreateChild<xxMultiScaleMolecule>().CreateChild<xxMultiScaleSubUnit>();
        for (std::size_t k = 0; k < ids.size(); ++k) {
            auto& atom = unit.CreateChild<xxAtom3d>("C");
            atom.SetID(ids[k]);
            atom.SetXYZ(Start(static_cast<int>(k)));
            atoms.push_back(&atom);
        }
    }

    static constexpr double kRightAngle = 1.5707963267948966;
    static xxPoint3d Start(int k) { return {(10.0 + k) / 10, (20.0 + k) / 10, (30.0 + k) / 10}; }
    // Atoms with the IDs 1 ... n.
    static std::vector<int> Ids(int n) {
        std::vector<int> ids;
        for (int k = 1; k <= n; ++k) ids.push_back(k);
        return ids;
    }

    xxTreeRoot& Tree() { return document->Tree(); }
    xxSymmetryDefinition& Definition() { return system->GetSymmetryDefinition(); }
    // A new trajectory of the document's TRJ file over its matter.
    xxTrajectory& Trajectory() {
        return *ImportUtilities::CreateDefaultedTrajectory(root.Get(), Tree(), "trj",
                                                           ImportUtilities::Mattertype(&Tree()));
    }
};

}  // namespace cvtest
