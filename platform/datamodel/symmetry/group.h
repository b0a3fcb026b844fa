// A symmetry group as an ordered operator list, and the images it makes of a position.
#pragma once

#include <cmath>
#include <cstddef>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "datamodel/symmetry/cell.h"
#include "datamodel/symmetry/operator.h"

// One symmetry copy of a position: the operator (numbered from 1, as files and the data model
// number them), the whole-cell shift that brings it into the cell, and the fractional position
// with every component in [0, 1).
struct xxSymmetryImage {
    std::size_t operatorNumber = 1;
    xxPeriodicTranslation translation;
    xxVector3 position;
};

// Operators act on fractional coordinates; the list holds every operator of one cell, the
// centring translations included, and it is closed modulo whole-cell translations. The order
// is kept: operator numbers in files refer to it.
class xxSymmetryGroup {
public:
    // Translations this close are the same.
    static constexpr double kTolerance = 1e-3;
    // No operator of a cell shifts by more cells, or has a larger rotation entry in any setting
    // of one; within these the images of any position the data model admits stay far inside int.
    static constexpr double kMaxTranslation = 1e6;
    static constexpr double kMaxRotationEntry = 7;

    // Whether every number of a file's operator is finite and within the bounds above; one that
    // is not can be no operator of a group (FromOperators refuses it).
    static bool IsInRange(const xxSymmetryOperator& op);

    // P1: the identity alone.
    xxSymmetryGroup();

    // A group from operators as a file lists them. Every operator must be in range (IsInRange),
    // rotations integral (within 1e-3) with determinant +-1, translations within 2e-3 of a multiple of 1/24 are snapped to it (files
    // print three decimals), the identity must be present, no two operators may coincide modulo
    // whole-cell translations and every product must be in the list. Throws CfxResult
    // E_INVALIDARG naming the first fault.
    static xxSymmetryGroup FromOperators(std::vector<xxSymmetryOperator> operators);
    // The same checks without throwing: the fault's text, or nullopt for a valid group.
    static std::optional<std::string> CheckOperators(const std::vector<xxSymmetryOperator>& operators);

    std::size_t GetNumOperators() const { return operators_.size(); }
    // Numbered from 1; throws CfxResult DISP_E_BADINDEX outside 1..GetNumOperators().
    const xxSymmetryOperator& GetOperator(std::size_t number) const;
    const std::vector<xxSymmetryOperator>& GetOperators() const { return operators_; }

    // The number of the operator equal to op modulo whole-cell translations, if any.
    std::optional<std::size_t> FindOperator(const xxSymmetryOperator& op) const;
    // The same set of operators modulo whole-cell translations, in any order.
    bool IsSameGroup(const xxSymmetryGroup& other) const;

    // The distinct images of a fractional position: one per operator, in operator order, with
    // every image closer than tolerance (Cartesian, in the cell's length unit, across cell
    // boundaries) to an earlier one left out. A general position gives GetNumOperators() images,
    // a special position fewer. Throws CfxResult E_INVALIDARG for a negative or non-finite
    // tolerance or position.
    std::vector<xxSymmetryImage> GenerateImages(const xxVector3& fractional, const xxCell& cell,
                                                double tolerance) const;

private:
    struct Trusted {};
    xxSymmetryGroup(Trusted, std::vector<xxSymmetryOperator> operators) : operators_(std::move(operators)) {}
    friend class xxSpaceGroupFactory;
    friend class xxPlaneGroupFactory;
    friend class xxPointGroupFactory;

    std::vector<xxSymmetryOperator> operators_;
};

namespace xxSymmetryUtility {
// True when the operators form a group as xxSymmetryGroup::FromOperators demands.
bool IsGroupComplete(const std::vector<xxSymmetryOperator>& operators);
[[noreturn]] void TooFarOutsideTheCell();
// A whole number of cells as an int; throws CfxResult E_INVALIDARG ("A symmetry image lies too
// far outside the cell.") for one beyond 1e9 cells or not finite, so none is ever converted.
// Inline: the symmetry search converts a few for every position it meets.
inline int WholeCells(double cells) {
    if (!(std::fabs(cells) <= 1e9)) TooFarOutsideTheCell();
    return static_cast<int>(cells);
}
}  // namespace xxSymmetryUtility
