// Bond perception from covalent radii over a cell list: linear time in the number of atoms,
// with or without a periodic cell. xxAtom::ConstructBonds makes bonds from these pairs.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <vector>

#include "datamodel/geometry.h"

// A repeating cell: three lattice vectors (Angstrom). A slab repeats along a and b only.
struct xxPeriodicCell {
    std::array<xxPoint3d, 3> vectors;
    std::array<bool, 3> periodic{true, true, true};
};

// Atom second, shifted by offset (in lattice vectors; zero without a cell), is bonded to atom
// first. first < second, or first == second for an atom bonded to its own image.
struct xxCovalentPair {
    std::uint32_t first;
    std::uint32_t second;
    std::array<int, 3> offset;
    friend bool operator==(const xxCovalentPair&, const xxCovalentPair&) = default;
};

namespace xxBondPerception {

inline constexpr double kTolerance = 0.45;        // added to the sum of the covalent radii
inline constexpr double kMinimumDistance = 0.4;   // closer pairs are overlaps, not bonds

// Every pair whose distance d satisfies kMinimumDistance <= d <= radii[i] + radii[j] +
// kTolerance, sorted by first, second and offset. An atom whose radius is negative or NaN, or
// whose position is not finite, bonds to nothing; so does one more than 1e9 cells away from the
// origin. Memory stays linear in the number of atoms whatever the coordinates.
// Throws Cfx::CfxResult E_INVALIDARG when the spans differ in length, for more than 2^32 - 1
// atoms, or for a cell whose vectors are not finite or span no volume.
std::vector<xxCovalentPair> FindCovalentPairs(std::span<const xxPoint3d> positions, std::span<const double> radii,
                                              const xxPeriodicCell* cell = nullptr);

}  // namespace xxBondPerception
