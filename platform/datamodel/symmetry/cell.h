// A periodic cell: a, b, c, alpha, beta, gamma and the lattice vectors they stand for.
#pragma once

#include "datamodel/symmetry/linalg.h"

// Lattice vectors are the columns of the fractional-to-Cartesian matrix. Cells made from
// parameters use the usual orientation: a along x, b in the xy plane, c completing a
// right-handed set. Angles are in radians. Every constructor rejects a degenerate cell
// (a non-positive or non-finite length, an angle outside (0, pi), vectors that span no volume
// or a left-handed set) with a CfxResult E_INVALIDARG that gives the values.
class xxCell {
public:
    // The unit cube.
    xxCell();

    static xxCell FromParameters(double a, double b, double c, double alpha, double beta, double gamma);
    static xxCell FromParametersDegrees(double a, double b, double c, double alpha, double beta,
                                        double gamma);
    // A slab cell (plane groups): a, b and gamma in the xy plane, c the unit vector along z, so
    // that fractional z is Cartesian z.
    static xxCell FromPlaneParameters(double a, double b, double gamma);
    static xxCell FromVectors(const xxVector3& a, const xxVector3& b, const xxVector3& c);

    double GetA() const { return length_[0]; }
    double GetB() const { return length_[1]; }
    double GetC() const { return length_[2]; }
    double GetAlpha() const { return angle_[0]; }
    double GetBeta() const { return angle_[1]; }
    double GetGamma() const { return angle_[2]; }
    double GetVolume() const { return volume_; }

    xxVector3 GetVectorA() const { return toCartesian_.Column(0); }
    xxVector3 GetVectorB() const { return toCartesian_.Column(1); }
    xxVector3 GetVectorC() const { return toCartesian_.Column(2); }
    const xxMatrix3& GetFractionalToCartesian() const { return toCartesian_; }
    const xxMatrix3& GetCartesianToFractional() const { return toFractional_; }

    xxVector3 ToCartesian(const xxVector3& fractional) const { return toCartesian_ * fractional; }
    xxVector3 ToFractional(const xxVector3& cartesian) const { return toFractional_ * cartesian; }

    // Cartesian length of the shortest lattice-periodic copy of a fractional difference.
    double PeriodicDistance(const xxVector3& fractionalDifference) const;

private:
    explicit xxCell(const xxMatrix3& toCartesian);
    xxMatrix3 toCartesian_;
    xxMatrix3 toFractional_;
    double length_[3]{};
    double angle_[3]{};
    double volume_ = 0;
};
