// Symmetry definitions of the data model: the group a symmetry system applies (point group,
// space group, plane group) with its cell, the lattice orientation convention and the symmetry
// elements (an operator of the group combined with a whole-cell shift).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "datamodel/geometry.h"
#include "datamodel/object.h"
#include "datamodel/symmetry/cell.h"
#include "datamodel/symmetry/group.h"

class xxSpaceGroupDescription;
class xxPlaneGroupDescription;
class xxSymmetryDefinition;
class xxSymmetrySystem;

// Conversions between the data model's transforms and points and the symmetry library's values.
namespace xxSymmetryConvert {
xxSymmetryOperator ToOperator(const xxTransformMatrix& m);
xxTransformMatrix ToTransform(const xxSymmetryOperator& op);
xxTransformMatrix ToTransform(const xxMatrix3& rotation, const xxVector3& translation = {});
inline xxVector3 ToVector(const xxPoint3d& p) { return {p.x, p.y, p.z}; }
inline xxPoint3d ToPoint(const xxVector3& v) { return {v[0], v[1], v[2]}; }
}  // namespace xxSymmetryConvert

// Lattice orientation conventions: which Cartesian axes the lattice vectors are laid along.
// The axis order names the axis of a, then the axis of the plane that holds b (then the axis c
// leans to): "xyz" puts a along x and b in the xy plane. The third direction always completes a
// right-handed set, so every convention is a proper rotation of every other.
//
// Two conventions are laid out from the other end, as MD trajectory files store their cells:
// 0 (named "zyx") puts c along +z and b in the yz plane toward +y, a completing a right-handed
// set; 29 (a plane convention without a name) puts b along +z and a in the yz plane toward +y,
// the slab normal along +x. Where they put a (or, for 29, the normal) depends on the cell's
// angles, so they are no fixed turn of the standard layout.
namespace xxLatticeOrientation {
inline constexpr int kZYX = 0, kXYZ = 3, kYXZ = 6, kZXY = 9, kXZY = 12, kYZX = 15;
inline constexpr int kXY = 19, kYX = 20, kXZ = 22, kZX = 24, kYZ = 26, kZY = 28;
inline constexpr int kCAlongZ = kZYX;     // c along z, b in the yz plane
inline constexpr int kPlaneBAlongZ = 29;  // plane b along z, a in the yz plane

// "xyz" -> 3, "yx" -> 20, ...; letter case is ignored; nullopt for anything else.
std::optional<int> FromAxisOrder(std::string_view axes);
// "xyz" for 3; empty for a value that is no convention and for 29.
std::string_view AxisOrder(int convention);
// 3 for the three-letter conventions, 2 for the two-letter ones and 29, 0 for anything else.
int Dimension(int convention);
// The lattice vectors (columns) of a cell given in the standard layout ("xyz", "xy": a along x,
// b in the xy plane), laid out in the convention. Throws CfxResult E_INVALIDARG for an unknown
// convention.
xxMatrix3 Layout(int convention, const xxCell& standardCell);
}  // namespace xxLatticeOrientation

// Cell parameters of lattice vectors, angles in radians as SetCellParameters takes them.
namespace xxSymmetryUtility {
struct CellParameters3D {
    double a, b, c, alpha, beta, gamma;
};
struct CellParameters2D {
    double a, b, gamma;
};
// The lengths and the angles between the vectors (alpha between b and c, beta between a and c,
// gamma between a and b). A zero vector has length 0 and angles NaN, which every cell refuses.
CellParameters3D Get3DCellParametersFromVectors(const xxPoint3d& a, const xxPoint3d& b, const xxPoint3d& c);
CellParameters2D Get2DCellParametersFromVectors(const xxPoint3d& a, const xxPoint3d& b);
}  // namespace xxSymmetryUtility

// The lattice representation (as xxSymmetryDefinition::GetLatticeRepresentation numbers it) of
// a database setting.
int xxLatticeRepresentationOf(const xxSpaceGroupDescription& description);
int xxLatticeRepresentationOf(const xxPlaneGroupDescription& description);

// One symmetry element: operator number n of its definition's group followed by a whole-cell
// shift t, so that it maps fractional p to R_n p + s_n + t. Elements are made and owned by their
// definition, which hands out one object per (n, t); compare them by address.
class xxSymmetryElement : public xxObject {
    XX_DECLARE_CLASS(xxSymmetryElement)
public:
    // The definition that made the element; null only for one the class registry created.
    const xxSymmetryDefinition* GetDefinition() const { return definition_; }
    int GetOperatorNumber() const { return operator_; }  // from 1
    // The group's operator alone, fractional, without the element's shift (rotation rows and
    // the translation column, as files list operators).
    xxTransformMatrix GetOperator() const;
    const xxPeriodicTranslation& GetPeriodicTranslation() const { return translation_; }
    // The operator's symbol ("-x,y+1/2,-z+1/2"), without the element's shift.
    std::string GetOperatorSymbol() const;
    // The whole map, shift included: fractional and Cartesian (in the definition's current
    // orientation).
    xxSymmetryOperator GetFractionalTransform() const;
    xxTransformMatrix GetCartesianTransform() const;
    xxVector3 ApplyFractional(const xxVector3& p) const { return GetFractionalTransform().Apply(p); }

    // The identity operator with no shift.
    bool IsIdentity() const;
    // The element that undoes this one.
    const xxSymmetryElement* GetInverse() const;

private:
    friend class xxSymmetryDefinition;
    xxSymmetryElement() = default;
    xxSymmetryElement(const xxSymmetryDefinition& definition, int operatorNumber, const xxPeriodicTranslation& t)
        : definition_(&definition), operator_(operatorNumber), translation_(t) {}

    const xxSymmetryDefinition* definition_ = nullptr;
    int operator_ = 1;
    xxPeriodicTranslation translation_;
};

// The base of the group objects a symmetry system holds. A definition keeps its group's
// operators, acting on fractional coordinates, in the order they were given (operator numbers
// in files refer to it), and a cell whose lattice vectors are Cartesian in the model's current
// orientation, so model positions convert to fractional ones through it directly.
class xxSymmetryDefinition : public xxObject {
    XX_DECLARE_CLASS(xxSymmetryDefinition)
public:
    // Whole-cell shifts beyond this are refused: no model reaches that far, and it keeps every
    // sum of shifts well inside int.
    static constexpr int kMaxTranslation = 1'000'000;
    // A display range may span at most this many cells per axis.
    static constexpr double kMaxDisplaySpan = 16;

    ~xxSymmetryDefinition() override;

    // 3 for space groups, 2 for plane groups, 0 for point groups (no periodicity).
    virtual int GetDimension() const = 0;

    // ---- group ----
    const xxSymmetryGroup& GetGroup() const { return group_; }
    int GetNumOperators() const { return static_cast<int>(group_.GetNumOperators()); }
    // Operator n (from 1), fractional. Throws CfxResult DISP_E_BADINDEX outside 1..N.
    xxTransformMatrix GetOperator(int number) const;
    // The element of operator n with no shift; null outside 1..N.
    const xxSymmetryElement* GetOperatorElement(int number) const;
    // The element of operator n and shift t; null when n is outside 1..N or t is no lattice
    // shift of this definition (a c shift for a plane group, any shift for a point group, a
    // component beyond kMaxTranslation).
    const xxSymmetryElement* FindSymmetryElement(int number, const xxPeriodicTranslation& t) const;
    const xxSymmetryElement& GetIdentityElement() const;
    // second after first. Both must be this definition's (else CfxResult E_INVALIDARG); null when
    // the combined shift leaves the range FindSymmetryElement accepts.
    const xxSymmetryElement* Compose(const xxSymmetryElement& second, const xxSymmetryElement& first) const;
    // Throws CfxResult E_INVALIDARG for an element of another definition.
    void CheckOwnElement(const xxSymmetryElement& element) const;

    // ---- names ----
    const std::string& GetGroupName() const { return name_; }
    void SetGroupName(std::string name) { name_ = std::move(name); }
    // Comma-separated setting words ("B-Unique,Cell-1"); empty when the name says it all.
    const std::string& GetQualifier() const { return qualifier_; }
    void SetQualifier(std::string qualifier) { qualifier_ = std::move(qualifier); }
    // International Tables number; 0 when the group was not identified.
    int GetITNumber() const { return itNumber_; }
    void SetITNumber(int number) { itNumber_ = number; }
    // Centring code as given at construction (0 primitive .. 6 rhombohedral; 8 for plane groups).
    int GetCenteringType() const { return centering_; }
    // 0 triclinic, 1..3 monoclinic a/b/c unique, 4 orthorhombic, 5 tetragonal, 6 hexagonal,
    // 7 rhombohedral, 8 cubic.
    int GetLatticeRepresentation() const { return latticeRepresentation_; }
    void SetLatticeRepresentation(int representation) { latticeRepresentation_ = representation; }

    // ---- orientation ----
    int GetOrientationConvention() const { return convention_; }
    // Names the convention the cell follows; the lattice vectors stay where they are until
    // ResetOrientation or new cell parameters lay them out. Throws CfxResult E_INVALIDARG for a
    // value that is no convention or one of the wrong dimension (a two-letter one for a space
    // group, a three-letter one for a plane group); point groups take either.
    void SetOrientationConvention(int convention);
    // Lays the lattice vectors out from the cell parameters in the current convention.
    void ResetOrientation();
    // The rotation that takes Cartesian coordinates in the current orientation to those of the
    // same lattice laid out in convention k, and its inverse. Throws CfxResult E_INVALIDARG as
    // SetOrientationConvention does.
    xxTransformMatrix GetTransformationToOrientation(int convention) const;
    xxTransformMatrix GetTransformationFromOrientation(int convention) const;

    // ---- how the lattice vectors change with time (a trajectory frame's), zero until set ----
    void SetVector1Velocity(const xxPoint3d& v) { vectorVelocities_[0] = v; }
    void SetVector2Velocity(const xxPoint3d& v) { vectorVelocities_[1] = v; }
    void SetVector3Velocity(const xxPoint3d& v) { vectorVelocities_[2] = v; }
    const xxPoint3d& GetVector1Velocity() const { return vectorVelocities_[0]; }
    const xxPoint3d& GetVector2Velocity() const { return vectorVelocities_[1]; }
    const xxPoint3d& GetVector3Velocity() const { return vectorVelocities_[2]; }

    // ---- cell ----
    const xxCell& GetCell() const { return cell_; }
    double GetA() const { return cell_.GetA(); }
    double GetB() const { return cell_.GetB(); }
    double GetC() const { return cell_.GetC(); }
    double GetAlpha() const { return cell_.GetAlpha(); }  // radians
    double GetBeta() const { return cell_.GetBeta(); }
    double GetGamma() const { return cell_.GetGamma(); }
    xxPoint3d GetAVector() const { return xxSymmetryConvert::ToPoint(cell_.GetVectorA()); }
    xxPoint3d GetBVector() const { return xxSymmetryConvert::ToPoint(cell_.GetVectorB()); }
    xxPoint3d GetCVector() const { return xxSymmetryConvert::ToPoint(cell_.GetVectorC()); }
    xxTransformMatrix GetFractionalToCartesianTransform() const;
    xxTransformMatrix GetCartesianToFractionalTransform() const;
    // Throws CfxResult E_INVALIDARG naming the first operator that does not keep the cell's
    // lengths and angles (a cubic group on a cell with a != b, say), within a relative 1e-3.
    void CheckCellFitsGroup() const;

    // ---- display ranges (fractional, per lattice axis) ----
    double GetRangeMin(int axis) const { return ranges_[Axis(axis)][0]; }
    double GetRangeMax(int axis) const { return ranges_[Axis(axis)][1]; }
    double GetRangeMinA() const { return ranges_[0][0]; }
    double GetRangeMaxA() const { return ranges_[0][1]; }
    double GetRangeMinB() const { return ranges_[1][0]; }
    double GetRangeMaxB() const { return ranges_[1][1]; }
    double GetRangeMinC() const { return ranges_[2][0]; }
    double GetRangeMaxC() const { return ranges_[2][1]; }

    // The system that holds the definition; null while it is still being set up.
    xxSymmetrySystem* GetSymmetrySystem() const { return system_; }

    // The object's values, then the names, the orientation convention, the operators (twelve
    // numbers each: rotation rows, translation), the lattice vectors and the display ranges.
    // Load checks them as the constructors and setters do (CfxResult E_INVALIDARG), and refuses
    // (E_UNEXPECTED) while a system holds the definition: its images refer to the operators.
    void Save(xxOutput& out) const override;
    void Load(xxInput& in) override;

protected:
    xxSymmetryDefinition(xxSymmetryGroup group, const xxCell& standardCell, int convention);

    // Takes a cell given in the standard layout and lays it out in the current convention.
    void SetStandardCell(const xxCell& standardCell, bool updateImages);
    // Takes Cartesian lattice vectors as they are.
    void SetCellAsIs(const xxCell& cell, bool updateImages);
    void SetRanges(int axes, const double* minMax);
    void SetCentering(int centering) { centering_ = centering; }
    // Group name, qualifier, IT number and lattice representation of a database setting.
    void TakeNames(std::string name, std::string qualifier, int itNumber, int latticeRepresentation);
    // The standard-layout cell of the current one (its parameters laid along x and y).
    virtual xxCell StandardCellFromParameters() const = 0;
    // The group of a complete operator list, checked as this kind of group needs.
    virtual xxSymmetryGroup GroupOf(const std::vector<xxTransformMatrix>& operators) const = 0;
    // A cell from three lattice vectors, as this kind of group keeps it.
    virtual xxCell CellOf(const xxVector3& a, const xxVector3& b, const xxVector3& c) const;

private:
    friend class xxSymmetrySystem;
    friend class xxSymmetryElement;

    static std::size_t Axis(int axis);
    void CheckConvention(int convention) const;
    xxMatrix3 LayoutRotation(int convention) const;  // current vectors -> convention k
    void Tabulate() const;

    // Product and inverse tables of the operators: op_i * op_j = op_k + shift, op_i^-1 = op_k + shift.
    struct Entry {
        int op;
        xxPeriodicTranslation shift;
    };

    xxSymmetryGroup group_;
    xxCell cell_;
    int convention_;
    std::string name_, qualifier_;
    int itNumber_ = 0;
    int centering_ = 0;
    int latticeRepresentation_ = 0;
    double ranges_[3][2] = {{0, 1}, {0, 1}, {0, 1}};
    std::array<xxPoint3d, 3> vectorVelocities_{};
    xxSymmetrySystem* system_ = nullptr;

    mutable std::map<std::array<int, 4>, std::unique_ptr<xxSymmetryElement>> elements_;
    mutable const xxSymmetryElement* identity_ = nullptr;
    mutable std::vector<Entry> products_;  // N x N, row = first factor
    mutable std::vector<Entry> inverses_;
    mutable std::vector<xxMatrix3> rotations_;
};

// A group without translations: the provisional definition of a model before its periodic
// group is known, or the symmetry of a molecule. Its operators act on coordinates in a unit
// basis: the Cartesian axes, or hexagonal axes (a = b = 1, gamma 120 degrees) where the
// rotations need them.
class xxPointGroup : public xxSymmetryDefinition {
    XX_DECLARE_CLASS(xxPointGroup)
public:
    // The group 1: the identity alone.
    xxPointGroup();
    // Throws CfxResult E_INVALIDARG for operators that are no group or that translate.
    explicit xxPointGroup(const std::vector<xxTransformMatrix>& operators);
    int GetDimension() const override { return 0; }

protected:
    xxCell StandardCellFromParameters() const override;
    xxSymmetryGroup GroupOf(const std::vector<xxTransformMatrix>& operators) const override;
};

// A three-dimensional periodic group with its cell.
class xxSpaceGroup : public xxSymmetryDefinition {
    XX_DECLARE_CLASS(xxSpaceGroup)
public:
    // P1 on a 10 x 10 x 10 cube.
    xxSpaceGroup();
    // The group of a complete operator list, identity included, in the list's order. Centring
    // codes 1 (I) to 6 (R) add their centring translations to every operator (operators the
    // list already holds are not repeated); other codes add nothing. Operators that are exactly
    // a database setting's, in its order, take its name, qualifier and IT number. The cell
    // starts as a 10-unit cube, or hexagonal when the operators need it. Throws CfxResult
    // E_INVALIDARG for operators that do not form a group. The system is the one the group is
    // made for; the group takes effect when it is built into it (xxSymmetryChanger::Build).
    xxSpaceGroup(const xxSymmetrySystem& system, const std::vector<xxTransformMatrix>& operators, int centering);
    int GetDimension() const override { return 3; }

    // Angles in radians. With updateImages, a system already built on this group moves the
    // images it made to their new places. Throws CfxResult E_INVALIDARG for a degenerate cell.
    void SetCellParameters(double a, double b, double c, double alpha, double beta, double gamma,
                           bool updateImages);
    // Lattice vectors in the model's Cartesian frame, kept as given.
    void SetCellVectors(const xxPoint3d& a, const xxPoint3d& b, const xxPoint3d& c, bool updateImages);
    // Fractional ranges per axis; throws CfxResult E_INVALIDARG for a non-finite value, a
    // minimum above its maximum, a span beyond kMaxDisplaySpan or a range beyond
    // kMaxTranslation cells.
    void SetDisplayRanges(double minA, double maxA, double minB, double maxB, double minC, double maxC);

protected:
    xxCell StandardCellFromParameters() const override;
    xxSymmetryGroup GroupOf(const std::vector<xxTransformMatrix>& operators) const override;

private:
    friend class xxSymmetryCreator;
    struct FromDatabase {};
    xxSpaceGroup(FromDatabase, xxSymmetryGroup group);
};

// A two-dimensional periodic group: a slab periodic along a and b. Its cell's third vector is
// the unit normal of the slab, so the fractional c coordinate is the height above the plane.
class xxPlaneGroup : public xxSymmetryDefinition {
    XX_DECLARE_CLASS(xxPlaneGroup)
public:
    // p1 on a 10 x 10 square.
    xxPlaneGroup();
    // As the space group's constructor; the operators must leave z alone (third row and column
    // those of the identity, no z translation). Centring code 8 is the plane groups' own and
    // adds nothing; a c-centred list holds its (1/2, 1/2) operators itself.
    xxPlaneGroup(const xxSymmetrySystem& system, const std::vector<xxTransformMatrix>& operators, int centering);
    int GetDimension() const override { return 2; }

    void SetCellParameters(double a, double b, double gamma, bool updateImages);
    void SetCellVectors(const xxPoint3d& a, const xxPoint3d& b, bool updateImages);
    void SetDisplayRanges(double minA, double maxA, double minB, double maxB);

protected:
    xxCell StandardCellFromParameters() const override;
    xxSymmetryGroup GroupOf(const std::vector<xxTransformMatrix>& operators) const override;
    xxCell CellOf(const xxVector3& a, const xxVector3& b, const xxVector3& c) const override;

private:
    friend class xxSymmetryCreator;
    struct FromDatabase {};
    xxPlaneGroup(FromDatabase, xxSymmetryGroup group);
};
