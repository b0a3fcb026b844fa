// The models the benchmarks generate, built with the helpers of the CAR/MDF tests' models.
#pragma once

#include <cmath>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "datamodel/atomistic.h"
#include "tests/formats/carmdf/carmdf_models.h"

namespace cvbench {

using cvtest::carmdf::Model;

// Water: one molecule of three atoms and two bonds per three atoms, on a cubic grid of 3.1
// units, below parent; the grid's side in molecules.
inline int AddWater(xxTreeNode& parent, std::int64_t atoms) {
    const std::int64_t molecules = atoms / 3;
    const int side = static_cast<int>(std::cbrt(static_cast<double>(molecules))) + 1;
    for (std::int64_t m = 0; m < molecules; ++m) {
        const double x = 3.1 * static_cast<double>(m % side);
        const double y = 3.1 * static_cast<double>((m / side) % side);
        const double z = 3.1 * static_cast<double>(m / (static_cast<std::int64_t>(side) * side));
        auto& molecule = parent.CreateChild<xxMolecule>();
        molecule.SetName("HOH");
        auto& o = Model::Atom(molecule, "O", "O", {x + 0.1234567, y - 0.7654321, z + 1.0 / 3}, -0.8476, "o*");
        for (int h = 0; h < 2; ++h) {
            auto& atom = Model::Atom(molecule, h ? "H2" : "H1", "H",
                                     {x + 0.9572 * (h ? -0.24 : 1.0), y + (h ? 0.927 : 0.0), z}, 0.4238, "h*");
            xxBondable::MakeBond(o, atom);
        }
    }
    return side;
}

inline std::unique_ptr<xxAtomisticTreeRoot> WaterBox(std::int64_t atoms) {
    auto root = std::make_unique<xxAtomisticTreeRoot>();
    root->SetName("box");
    AddWater(*root, atoms);
    return root;
}

// The water box in a P1 cell that holds its grid, with the images one cell over of the
// molecules on the grid's first face (a periodic view shows such partners), made on demand: a
// few per cent of the atoms.
inline std::unique_ptr<xxAtomisticTreeRoot> PeriodicWaterBox(std::int64_t atoms) {
    Model model;
    model.root->SetName("cell");
    const double length = 3.1 * std::cbrt(static_cast<double>(atoms / 3) + 1) + 3.1;
    model.SpaceGroup("P1", length, length, length, 90, 90, 90);
    const int side = AddWater(*model.system, atoms);
    model.Build();
    std::vector<xxObject*> face;
    for (const auto& molecule : model.system->Children())
        if (molecule->IsA(xxMolecule::classType) && face.size() / 3 < static_cast<std::size_t>(side) * side)
            for (const auto& child : static_cast<const xxTreeNode&>(*molecule).Children())
                if (child->IsA(xxAtom3d::classType)) face.push_back(child.get());
    for (xxObject* atom : face) model.system->FindSymmetryImage(*atom, xxPeriodicTranslation{{0, 0, 1}});
    return std::move(model.root);
}

inline constexpr int kAtomsPerResidue = 10;
inline constexpr int kResiduesPerMolecule = 10;

// Molecules of 100 atoms in residues of 10, each residue a bonded chain.
inline std::unique_ptr<xxAtomisticTreeRoot> ResidueChains(int atoms) {
    static const char* const elements[kAtomsPerResidue] = {"C", "C", "H", "H", "N", "C", "O", "H", "C", "H"};
    Model model;
    model.root->SetName("bench");
    const int perMolecule = kAtomsPerResidue * kResiduesPerMolecule;
    for (int first = 0, molecule = 1; first < atoms; first += perMolecule, ++molecule) {
        auto& mol = model.Molecule("M" + std::to_string(molecule));
        xxMultiScaleSubUnit* sub = nullptr;
        xxAtom3d* previous = nullptr;
        for (int k = 0; k < perMolecule && first + k < atoms; ++k) {
            const int i = k % kAtomsPerResidue;
            if (i == 0) {
                sub = &Model::SubUnit(mol, "RES_" + std::to_string(k / kAtomsPerResidue + 1));
                previous = nullptr;
            }
            const int id = first + k;
            auto& atom = Model::Atom(*sub, elements[i] + std::to_string(i + 1), elements[i],
                                     {(id % 100) * 1.5, (id / 100 % 100) * 1.5, (id / 10000) * 1.5 + 0.123456789},
                                     0.01 * (i - 4), "c3");
            if (previous) xxBondable::MakeBond(*previous, atom);
            previous = &atom;
        }
    }
    return std::move(model.root);
}

// One molecule: a hub atom in a residue of its own, bonded to each of the others, which lie in
// residues of 100 (a metal centre, or a pseudo-atom's neighbours, at scale).
inline std::unique_ptr<xxAtomisticTreeRoot> Hub(int partners) {
    Model model;
    model.root->SetName("hub");
    auto& mol = model.Molecule("HUB");
    auto& hub = Model::Atom(Model::SubUnit(mol, "CEN_1"), "FE1", "Fe", {});
    xxMultiScaleSubUnit* sub = nullptr;
    for (int k = 0; k < partners; ++k) {
        if (k % 100 == 0) sub = &Model::SubUnit(mol, "LIG_" + std::to_string(k / 100 + 2));
        auto& atom = Model::Atom(*sub, "H" + std::to_string(k % 100 + 1), "H",
                                 {(k % 100) * 1.5, (k / 100 % 100) * 1.5, (k / 10000) * 1.5});
        xxBondable::MakeBond(hub, atom);
    }
    return std::move(model.root);
}

}  // namespace cvbench
