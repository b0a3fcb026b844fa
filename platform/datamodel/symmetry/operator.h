// Symmetry operators: a 3x3 rotation with a translation, acting on fractional coordinates.
#pragma once

#include <array>
#include <string>
#include <string_view>

#include "datamodel/symmetry/linalg.h"

// A whole-cell shift.
struct xxPeriodicTranslation {
    std::array<int, 3> t{};

    constexpr int operator[](int i) const { return t[static_cast<std::size_t>(i)]; }
    constexpr int& operator[](int i) { return t[static_cast<std::size_t>(i)]; }
    friend constexpr bool operator==(const xxPeriodicTranslation&, const xxPeriodicTranslation&) = default;
};

// p' = R p + t. Default-constructed it is the identity.
class xxSymmetryOperator {
public:
    constexpr xxSymmetryOperator() : rotation_(xxMatrix3::Identity()) {}
    constexpr xxSymmetryOperator(const xxMatrix3& rotation, const xxVector3& translation)
        : rotation_(rotation), translation_(translation) {}
    // Nine rotation values row by row and three translation values, the layout of the data
    // model's transform matrices.
    constexpr xxSymmetryOperator(const std::array<double, 9>& rotation, const std::array<double, 3>& translation)
        : translation_(translation[0], translation[1], translation[2]) {
        for (int i = 0; i < 3; ++i)
            for (int j = 0; j < 3; ++j) rotation_(i, j) = rotation[static_cast<std::size_t>(3 * i + j)];
    }

    // The same layout from a file's numbers.
    void Set(const double rotation[9], const double translation[3]);

    // Parses "-x+1/2,y,-z" and the like: three comma-separated components, each a sum of terms
    // "x", "y", "z" with an optional integer or decimal coefficient ("2x", "-0.5*y") and of
    // constants (integers, decimals, fractions "1/3"); blanks and letter case do not matter.
    // Throws CfxResult E_INVALIDARG on anything else.
    static xxSymmetryOperator FromSymbol(std::string_view text);
    // "-x+1/2,y,-z": coefficients of +-1 are written bare, translations as fractions with
    // denominators up to 24 where they are such within 1e-6, else as decimals.
    std::string ToSymbol() const;

    const xxMatrix3& Rotation() const { return rotation_; }
    const xxVector3& Translation() const { return translation_; }
    void SetTranslation(const xxVector3& t) { translation_ = t; }

    xxVector3 Apply(const xxVector3& p) const { return rotation_ * p + translation_; }
    // (this * other)(p) = this(other(p)).
    friend xxSymmetryOperator operator*(const xxSymmetryOperator& a, const xxSymmetryOperator& b) {
        return {a.rotation_ * b.rotation_, a.rotation_ * b.translation_ + a.translation_};
    }
    // Throws CfxResult E_INVALIDARG when the rotation is singular.
    xxSymmetryOperator Inverse() const;

    // Shifted by a whole-cell translation.
    xxSymmetryOperator Translated(const xxPeriodicTranslation& n) const;

    bool IsIdentity(double tolerance = 1e-6) const;
    // A pure translation (identity rotation).
    bool IsTranslation(double tolerance = 1e-6) const;
    bool Equals(const xxSymmetryOperator& o, double tolerance = 1e-6) const;
    // Equal up to a whole-cell translation.
    bool EqualsModuloLattice(const xxSymmetryOperator& o, double tolerance = 1e-6) const;
    // The same operator with every translation component in [0, 1).
    xxSymmetryOperator ReducedToCell() const;

private:
    xxMatrix3 rotation_;
    xxVector3 translation_;
};
