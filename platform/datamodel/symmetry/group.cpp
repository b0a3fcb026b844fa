#include "datamodel/symmetry/group.h"

#include <cmath>

#include "cfx/cfx.h"

namespace {

// The most operators a conventional crystallographic cell has (Fm-3m); it also bounds the
// cubic closure check.
constexpr std::size_t kMaxOperators = 192;

std::string OperatorText(std::size_t index, const xxSymmetryOperator& op) {
    return std::to_string(index + 1) + " (" + op.ToSymbol() + ")";
}

// Snaps a file's operator to exact values; the fault's text when it is no lattice operator.
std::optional<std::string> Snap(std::size_t index, xxSymmetryOperator& op) {
    if (!xxSymmetryGroup::IsInRange(op))
        return "operator " + std::to_string(index + 1) + " has a number that is not finite or lies beyond what a cell can have";
    xxMatrix3 r = op.Rotation();
    xxVector3 t = op.Translation();
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j) {
            const double v = r(i, j);
            if (std::fabs(v - std::nearbyint(v)) > 1e-3)
                return "operator " + OperatorText(index, op) + " does not map the lattice onto itself";
            r(i, j) = std::nearbyint(v);
        }
        const double k = std::nearbyint(t[i] * 24);
        if (std::fabs(t[i] * 24 - k) <= 2e-3 * 24) t[i] = k / 24;
    }
    const double det = r.Determinant();
    if (det != 1 && det != -1)
        return "operator " + OperatorText(index, op) + " does not map the lattice onto itself";
    op = xxSymmetryOperator(r, t);
    return std::nullopt;
}

std::optional<std::size_t> Find(const std::vector<xxSymmetryOperator>& ops, const xxSymmetryOperator& op) {
    for (std::size_t i = 0; i < ops.size(); ++i)
        if (ops[i].EqualsModuloLattice(op, xxSymmetryGroup::kTolerance)) return i;
    return std::nullopt;
}

// Checks (and snaps) the list in place.
std::optional<std::string> Validate(std::vector<xxSymmetryOperator>& ops) {
    if (ops.empty()) return std::string("the operator list is empty");
    if (ops.size() > kMaxOperators)
        return "there are " + std::to_string(ops.size()) + " operators; a cell has at most " +
               std::to_string(kMaxOperators);
    for (std::size_t i = 0; i < ops.size(); ++i)
        if (auto fault = Snap(i, ops[i])) return fault;
    if (!Find(ops, xxSymmetryOperator())) return std::string("the identity is missing");
    for (std::size_t i = 0; i < ops.size(); ++i)
        for (std::size_t j = 0; j < i; ++j)
            if (ops[i].EqualsModuloLattice(ops[j], xxSymmetryGroup::kTolerance))
                return "operators " + OperatorText(j, ops[j]) + " and " + OperatorText(i, ops[i]) +
                       " are the same";
    for (std::size_t i = 0; i < ops.size(); ++i)
        for (std::size_t j = 0; j < ops.size(); ++j)
            if (!Find(ops, ops[i] * ops[j]))
                return "the product of operators " + OperatorText(i, ops[i]) + " and " +
                       OperatorText(j, ops[j]) + " is not in the list";
    return std::nullopt;
}

}  // namespace

xxSymmetryGroup::xxSymmetryGroup() : operators_{xxSymmetryOperator()} {}

bool xxSymmetryGroup::IsInRange(const xxSymmetryOperator& op) {
    // Written so that NaN fails every test.
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j)
            if (!(std::fabs(op.Rotation()(i, j)) <= kMaxRotationEntry)) return false;
        if (!(std::fabs(op.Translation()[i]) <= kMaxTranslation)) return false;
    }
    return true;
}

std::optional<std::string> xxSymmetryGroup::CheckOperators(const std::vector<xxSymmetryOperator>& operators) {
    std::vector<xxSymmetryOperator> copy = operators;
    return Validate(copy);
}

xxSymmetryGroup xxSymmetryGroup::FromOperators(std::vector<xxSymmetryOperator> operators) {
    if (auto fault = Validate(operators))
        throw Cfx::CfxResult(E_INVALIDARG, "The symmetry operators do not form a group: " + *fault + ".");
    return xxSymmetryGroup(Trusted{}, std::move(operators));
}

const xxSymmetryOperator& xxSymmetryGroup::GetOperator(std::size_t number) const {
    if (number < 1 || number > operators_.size())
        throw Cfx::CfxResult(DISP_E_BADINDEX, "There is no symmetry operator " + std::to_string(number) +
                                                  "; the group has " + std::to_string(operators_.size()) + ".");
    return operators_[number - 1];
}

std::optional<std::size_t> xxSymmetryGroup::FindOperator(const xxSymmetryOperator& op) const {
    if (auto i = Find(operators_, op)) return *i + 1;
    return std::nullopt;
}

bool xxSymmetryGroup::IsSameGroup(const xxSymmetryGroup& other) const {
    if (other.operators_.size() != operators_.size()) return false;
    for (const auto& op : other.operators_)
        if (!Find(operators_, op)) return false;
    return true;
}

std::vector<xxSymmetryImage> xxSymmetryGroup::GenerateImages(const xxVector3& fractional, const xxCell& cell,
                                                             double tolerance) const {
    if (!std::isfinite(tolerance) || tolerance < 0)
        throw Cfx::CfxResult(E_INVALIDARG, "The symmetry tolerance must be a finite non-negative length.");
    for (int i = 0; i < 3; ++i)
        if (!std::isfinite(fractional[i]))
            throw Cfx::CfxResult(E_INVALIDARG, "A symmetry image needs a finite position.");

    // A Cartesian distance below tolerance bounds fractional component i by tolerance * |a*_i|.
    // While that bound stays below 1/2, only the nearest-integer copy of a difference can be
    // that close, so one test per pair suffices.
    const xxMatrix3& toFractional = cell.GetCartesianToFractional();
    double bound[3];
    bool nearestSuffices = true;
    for (int i = 0; i < 3; ++i) {
        const xxVector3 row{toFractional(i, 0), toFractional(i, 1), toFractional(i, 2)};
        bound[i] = tolerance * row.Length();
        if (!(bound[i] < 0.5)) nearestSuffices = false;
    }
    auto same = [&](const xxVector3& p, const xxVector3& q) {
        const xxVector3 d = p - q;
        if (!nearestSuffices) return cell.PeriodicDistance(d) <= tolerance;
        xxVector3 r;
        for (int i = 0; i < 3; ++i) {
            r[i] = d[i] - std::nearbyint(d[i]);
            if (std::fabs(r[i]) > bound[i]) return false;
        }
        return cell.ToCartesian(r).Length() <= tolerance;
    };

    std::vector<xxSymmetryImage> images;
    images.reserve(operators_.size());
    for (std::size_t k = 0; k < operators_.size(); ++k) {
        xxSymmetryImage image;
        image.operatorNumber = k + 1;
        const xxVector3 p = operators_[k].Apply(fractional);
        for (int i = 0; i < 3; ++i) {
            double shift = std::floor(p[i]);
            double w = p[i] - shift;
            if (w >= 1) {  // rounding of values just below a whole number
                w = 0;
                shift += 1;
            }
            image.position[i] = w;
            image.translation[i] = -xxSymmetryUtility::WholeCells(shift);
        }
        bool duplicate = false;
        for (const auto& kept : images)
            if (same(image.position, kept.position)) {
                duplicate = true;
                break;
            }
        if (!duplicate) images.push_back(image);
    }
    return images;
}

bool xxSymmetryUtility::IsGroupComplete(const std::vector<xxSymmetryOperator>& operators) {
    return !xxSymmetryGroup::CheckOperators(operators).has_value();
}

void xxSymmetryUtility::TooFarOutsideTheCell() {
    throw Cfx::CfxResult(E_INVALIDARG, "A symmetry image lies too far outside the cell.");
}
