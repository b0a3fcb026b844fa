#include "datamodel/symmetry/definition.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>

#include "base/text.h"
#include "cfx/cfx.h"
#include "datamodel/symmetry/plane_groups.h"
#include "datamodel/symmetry/space_groups.h"
#include "datamodel/symmetry/system.h"

XX_IMPLEMENT_CLASS(xxSymmetryElement, "SymmetryElement", xxObject, 1)
XX_IMPLEMENT_ABSTRACT_CLASS(xxSymmetryDefinition, "SymmetryDefinition", xxObject, 1)
XX_IMPLEMENT_CLASS(xxPointGroup, "PointGroup", xxSymmetryDefinition, 1)
XX_IMPLEMENT_CLASS(xxSpaceGroup, "SpaceGroup", xxSymmetryDefinition, 1)
XX_IMPLEMENT_CLASS(xxPlaneGroup, "PlaneGroup", xxSymmetryDefinition, 3)

namespace {

constexpr double kHalfPi = std::numbers::pi / 2;
constexpr double kDefaultLength = 10;

std::string Int(int v) { return std::to_string(v); }

// Rounds a vector that must be integral (a difference of equal operators) to ints.
xxPeriodicTranslation Rounded(const xxVector3& v) {
    xxPeriodicTranslation t;
    for (int i = 0; i < 3; ++i) t[i] = xxSymmetryUtility::WholeCells(std::nearbyint(v[i]));
    return t;
}

bool InRange(const xxPeriodicTranslation& t) {
    for (int i = 0; i < 3; ++i)
        if (t[i] > xxSymmetryDefinition::kMaxTranslation || t[i] < -xxSymmetryDefinition::kMaxTranslation)
            return false;
    return true;
}

// a + R b for the small integer matrices of lattice operators; 64-bit so no sum overflows.
std::optional<xxPeriodicTranslation> ShiftSum(const xxPeriodicTranslation& a, const xxMatrix3& r,
                                              const xxPeriodicTranslation& b) {
    xxPeriodicTranslation out;
    for (int i = 0; i < 3; ++i) {
        long long s = a[i];
        for (int j = 0; j < 3; ++j) s += static_cast<long long>(std::nearbyint(r(i, j))) * b[j];
        if (s > xxSymmetryDefinition::kMaxTranslation || s < -xxSymmetryDefinition::kMaxTranslation)
            return std::nullopt;
        out[i] = static_cast<int>(s);
    }
    return out;
}

std::vector<xxSymmetryOperator> ToOperators(const std::vector<xxTransformMatrix>& operators) {
    std::vector<xxSymmetryOperator> out;
    out.reserve(operators.size());
    for (const auto& m : operators) out.push_back(xxSymmetryConvert::ToOperator(m));
    return out;
}

// Centring translations by the codes the model files use.
std::vector<xxVector3> CentringVectors(int centering) {
    switch (centering) {
        case 1: return {{0.5, 0.5, 0.5}};
        case 2: return {{0, 0.5, 0.5}, {0.5, 0, 0.5}, {0.5, 0.5, 0}};
        case 3: return {{0, 0.5, 0.5}};
        case 4: return {{0.5, 0, 0.5}};
        case 5: return {{0.5, 0.5, 0}};
        case 6: return {{2.0 / 3, 1.0 / 3, 1.0 / 3}, {1.0 / 3, 2.0 / 3, 2.0 / 3}};
        default: return {};
    }
}

// The list with every operator also combined with each centring translation (and the
// combinations of those), keeping the given operators first and in order.
std::vector<xxSymmetryOperator> WithCentring(std::vector<xxSymmetryOperator> ops, int centering) {
    const std::vector<xxVector3> centres = CentringVectors(centering);
    if (centres.empty()) return ops;
    auto contains = [&](const xxSymmetryOperator& op) {
        for (const auto& o : ops)
            if (o.EqualsModuloLattice(op, xxSymmetryGroup::kTolerance)) return true;
        return false;
    };
    // The list only grows up to the largest group a cell can have; beyond that it is no group
    // and FromOperators says so.
    constexpr std::size_t kLimit = 192 * 4;
    for (std::size_t i = 0; i < ops.size() && ops.size() <= kLimit; ++i)
        for (const auto& c : centres) {
            xxSymmetryOperator shifted(ops[i].Rotation(), ops[i].Translation() + c);
            if (!contains(shifted)) ops.push_back(shifted);
        }
    return ops;
}

bool IsIsometry(const xxMatrix3& r, const xxCell& cell, double relative) {
    // G' = R^T G R must equal the metric G.
    const xxMatrix3& m = cell.GetFractionalToCartesian();
    xxMatrix3 g;
    double scale = 0;
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) {
            g(i, j) = m.Column(i).Dot(m.Column(j));
            scale = std::max(scale, std::fabs(g(i, j)));
        }
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) {
            double v = 0;
            for (int k = 0; k < 3; ++k)
                for (int l = 0; l < 3; ++l) v += r(k, i) * g(k, l) * r(l, j);
            if (std::fabs(v - g(i, j)) > relative * scale) return false;
        }
    return true;
}

bool AllIsometries(const xxSymmetryGroup& group, const xxCell& cell) {
    for (const auto& op : group.GetOperators())
        if (!IsIsometry(op.Rotation(), cell, 1e-3)) return false;
    return true;
}

// A starting cell the operators keep: the cube, or hexagonal axes for three- and six-fold ones.
xxCell DefaultCell(const xxSymmetryGroup& group, double length, bool plane) {
    const double third = plane ? 1.0 : length;
    xxCell cube = xxCell::FromParameters(length, length, third, kHalfPi, kHalfPi, kHalfPi);
    if (AllIsometries(group, cube)) return cube;
    return xxCell::FromParameters(length, length, third, kHalfPi, kHalfPi, 2 * std::numbers::pi / 3);
}

bool SameOrder(const xxSymmetryGroup& a, const xxSymmetryGroup& b) {
    if (a.GetNumOperators() != b.GetNumOperators()) return false;
    for (std::size_t i = 0; i < a.GetNumOperators(); ++i)
        if (!a.GetOperators()[i].EqualsModuloLattice(b.GetOperators()[i], xxSymmetryGroup::kTolerance)) return false;
    return true;
}

}  // namespace

// ---- conversions -----------------------------------------------------------------

xxSymmetryOperator xxSymmetryConvert::ToOperator(const xxTransformMatrix& m) {
    return xxSymmetryOperator(m.Rotation(), m.Translation());
}

xxTransformMatrix xxSymmetryConvert::ToTransform(const xxSymmetryOperator& op) {
    return ToTransform(op.Rotation(), op.Translation());
}

xxTransformMatrix xxSymmetryConvert::ToTransform(const xxMatrix3& rotation, const xxVector3& translation) {
    xxTransformMatrix m;
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j) m.R(i, j) = rotation(i, j);
        m.T(i) = translation[i];
    }
    return m;
}

// ---- orientation conventions ----------------------------------------------------------

namespace {
struct Convention {
    int value;
    std::string_view axes;
};
constexpr Convention kConventions[] = {{0, "zyx"},  {3, "xyz"},  {6, "yxz"},  {9, "zxy"},
                                       {12, "xzy"}, {15, "yzx"}, {19, "xy"},  {20, "yx"},
                                       {22, "xz"},  {24, "zx"},  {26, "yz"},  {28, "zy"}};
}  // namespace

std::optional<int> xxLatticeOrientation::FromAxisOrder(std::string_view axes) {
    const std::string lowered = cartovane::text::ToLower(axes);
    for (const auto& c : kConventions)
        if (c.axes == lowered) return c.value;
    return std::nullopt;
}

std::string_view xxLatticeOrientation::AxisOrder(int convention) {
    for (const auto& c : kConventions)
        if (c.value == convention) return c.axes;
    return {};
}

int xxLatticeOrientation::Dimension(int convention) {
    if (convention == kPlaneBAlongZ) return 2;
    return static_cast<int>(AxisOrder(convention).size()) % 4;
}

xxMatrix3 xxLatticeOrientation::Layout(int convention, const xxCell& standard) {
    const xxMatrix3& m = standard.GetFractionalToCartesian();
    if (convention == kCAlongZ) {
        const double a = standard.GetA(), b = standard.GetB(), c = standard.GetC();
        const double ca = std::cos(standard.GetAlpha()), sa = std::sin(standard.GetAlpha());
        const double cb = std::cos(standard.GetBeta()), cg = std::cos(standard.GetGamma());
        const double ay = a * (cg - ca * cb) / sa, az = a * cb;
        const double ax = std::sqrt(std::max(0.0, a * a - ay * ay - az * az));
        return xxMatrix3::FromColumns({ax, ay, az}, {0, b * sa, b * ca}, {0, 0, c});
    }
    if (convention == kPlaneBAlongZ) {
        // The slab normal (the standard cell's third vector, of unit length) goes to +x.
        const double a = standard.GetA(), b = standard.GetB(), g = standard.GetGamma();
        return xxMatrix3::FromColumns({0, a * std::sin(g), a * std::cos(g)}, {0, 0, b}, {standard.GetC(), 0, 0});
    }
    const std::string_view axes = AxisOrder(convention);
    if (axes.empty())
        throw Cfx::CfxResult(E_INVALIDARG, "There is no lattice orientation convention " + Int(convention) + ".");
    auto unit = [](char axis) {
        xxVector3 v;
        v[axis - 'x'] = 1;
        return v;
    };
    const xxVector3 x = unit(axes[0]), y = unit(axes[1]);
    return xxMatrix3::FromColumns(x, y, x.Cross(y)) * m;
}

// ---- cell parameters of vectors ----------------------------------------------------------

namespace {
double Angle(const xxVector3& u, const xxVector3& v) {
    if (u.Length() == 0 || v.Length() == 0) return std::numeric_limits<double>::quiet_NaN();
    return std::atan2(u.Cross(v).Length(), u.Dot(v));
}
}  // namespace

xxSymmetryUtility::CellParameters3D xxSymmetryUtility::Get3DCellParametersFromVectors(const xxPoint3d& a,
                                                                                      const xxPoint3d& b,
                                                                                      const xxPoint3d& c) {
    using xxSymmetryConvert::ToVector;
    const xxVector3 va = ToVector(a), vb = ToVector(b), vc = ToVector(c);
    return {va.Length(), vb.Length(), vc.Length(), Angle(vb, vc), Angle(va, vc), Angle(va, vb)};
}

xxSymmetryUtility::CellParameters2D xxSymmetryUtility::Get2DCellParametersFromVectors(const xxPoint3d& a,
                                                                                      const xxPoint3d& b) {
    using xxSymmetryConvert::ToVector;
    const xxVector3 va = ToVector(a), vb = ToVector(b);
    return {va.Length(), vb.Length(), Angle(va, vb)};
}

// ---- elements ------------------------------------------------------------------------

xxTransformMatrix xxSymmetryElement::GetOperator() const {
    if (!definition_) return {};
    return xxSymmetryConvert::ToTransform(definition_->GetGroup().GetOperator(static_cast<std::size_t>(operator_)));
}

std::string xxSymmetryElement::GetOperatorSymbol() const {
    if (!definition_) return xxSymmetryOperator().ToSymbol();
    return definition_->GetGroup().GetOperator(static_cast<std::size_t>(operator_)).ToSymbol();
}

xxSymmetryOperator xxSymmetryElement::GetFractionalTransform() const {
    if (!definition_) return xxSymmetryOperator().Translated(translation_);
    return definition_->GetGroup().GetOperator(static_cast<std::size_t>(operator_)).Translated(translation_);
}

xxTransformMatrix xxSymmetryElement::GetCartesianTransform() const {
    const xxSymmetryOperator f = GetFractionalTransform();
    if (!definition_) return xxSymmetryConvert::ToTransform(f);
    const xxCell& cell = definition_->GetCell();
    const xxMatrix3& m = cell.GetFractionalToCartesian();
    return xxSymmetryConvert::ToTransform(m * f.Rotation() * cell.GetCartesianToFractional(), m * f.Translation());
}

bool xxSymmetryElement::IsIdentity() const { return GetFractionalTransform().IsIdentity(1e-9); }

const xxSymmetryElement* xxSymmetryElement::GetInverse() const {
    if (!definition_) return nullptr;
    definition_->Tabulate();
    const auto& inv = definition_->inverses_[static_cast<std::size_t>(operator_ - 1)];
    // (R, s + t)^-1 = R^-1 p - R^-1 (s + t) = op_k p + shift - R^-1 t.
    const xxMatrix3& rInverse = definition_->rotations_[static_cast<std::size_t>(inv.op - 1)];
    xxPeriodicTranslation minusT;
    for (int i = 0; i < 3; ++i) minusT[i] = -translation_[i];
    const auto shift = ShiftSum(inv.shift, rInverse, minusT);
    return shift ? definition_->FindSymmetryElement(inv.op, *shift) : nullptr;
}

// ---- definitions ------------------------------------------------------------------

xxSymmetryDefinition::xxSymmetryDefinition(xxSymmetryGroup group, const xxCell& standardCell, int convention)
    : group_(std::move(group)), cell_(standardCell), convention_(convention) {
    SetStandardCell(standardCell, false);
}

xxSymmetryDefinition::~xxSymmetryDefinition() = default;

std::size_t xxSymmetryDefinition::Axis(int axis) {
    if (axis < 0 || axis > 2) throw Cfx::CfxResult(DISP_E_BADINDEX, "A cell has axes 0 to 2, not " + Int(axis) + ".");
    return static_cast<std::size_t>(axis);
}

xxTransformMatrix xxSymmetryDefinition::GetOperator(int number) const {
    if (number < 1 || number > GetNumOperators())
        throw Cfx::CfxResult(DISP_E_BADINDEX, "There is no symmetry operator " + Int(number) + "; the group has " +
                                                  Int(GetNumOperators()) + ".");
    return xxSymmetryConvert::ToTransform(group_.GetOperator(static_cast<std::size_t>(number)));
}

const xxSymmetryElement* xxSymmetryDefinition::GetOperatorElement(int number) const {
    return FindSymmetryElement(number, {});
}

const xxSymmetryElement* xxSymmetryDefinition::FindSymmetryElement(int number, const xxPeriodicTranslation& t) const {
    if (number < 1 || number > GetNumOperators() || !InRange(t)) return nullptr;
    const int dimension = GetDimension();
    for (int i = dimension; i < 3; ++i)
        if (t[i] != 0) return nullptr;
    auto& slot = elements_[{number, t[0], t[1], t[2]}];
    if (!slot) slot.reset(new xxSymmetryElement(*this, number, t));
    return slot.get();
}

const xxSymmetryElement& xxSymmetryDefinition::GetIdentityElement() const {
    if (!identity_) {
        // Every group holds the identity (FromOperators checks it).
        const auto number = group_.FindOperator(xxSymmetryOperator());
        identity_ = FindSymmetryElement(static_cast<int>(number.value_or(1)), {});
    }
    return *identity_;
}

void xxSymmetryDefinition::CheckOwnElement(const xxSymmetryElement& element) const {
    if (element.GetDefinition() != this)
        throw Cfx::CfxResult(E_INVALIDARG, "The symmetry element " + element.GetOperatorSymbol() +
                                               " belongs to another symmetry definition.");
}

namespace {
// The rotation of a lattice operator as one number: its entries are small integers.
std::uint64_t RotationKey(const xxMatrix3& r) {
    std::uint64_t key = 0;
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) key = key * 16 + static_cast<std::uint64_t>(std::nearbyint(r(i, j)) + 8);
    return key;
}
}  // namespace

void xxSymmetryDefinition::Tabulate() const {
    if (!products_.empty()) return;
    const auto& ops = group_.GetOperators();
    const std::size_t n = ops.size();
    std::vector<Entry> products(n * n), inverses(n);
    std::vector<xxMatrix3> rotations(n);
    // Operators by rotation: a rotation recurs only with the centring translations, so a
    // product is found among a handful.
    std::multimap<std::uint64_t, std::size_t> byRotation;
    for (std::size_t i = 0; i < n; ++i) byRotation.emplace(RotationKey(ops[i].Rotation()), i);
    auto entryOf = [&](const xxSymmetryOperator& op) {
        // The group is closed (checked when it was made), so every product is in the list.
        std::size_t k = 0;
        for (auto [it, end] = byRotation.equal_range(RotationKey(op.Rotation())); it != end; ++it)
            if (ops[it->second].EqualsModuloLattice(op, xxSymmetryGroup::kTolerance)) {
                k = it->second;
                break;
            }
        return Entry{static_cast<int>(k + 1), Rounded(op.Translation() - ops[k].Translation())};
    };
    for (std::size_t i = 0; i < n; ++i) {
        rotations[i] = ops[i].Rotation();
        for (std::size_t j = 0; j < n; ++j) products[i * n + j] = entryOf(ops[i] * ops[j]);
        inverses[i] = entryOf(ops[i].Inverse());
    }
    products_ = std::move(products);
    inverses_ = std::move(inverses);
    rotations_ = std::move(rotations);
}

const xxSymmetryElement* xxSymmetryDefinition::Compose(const xxSymmetryElement& second,
                                                       const xxSymmetryElement& first) const {
    CheckOwnElement(second);
    CheckOwnElement(first);
    Tabulate();
    const std::size_t n = group_.GetNumOperators();
    const auto i = static_cast<std::size_t>(second.operator_ - 1), j = static_cast<std::size_t>(first.operator_ - 1);
    const Entry& e = products_[i * n + j];
    // op_i (op_j p + t_j) + t_i = op_k p + shift + R_i t_j + t_i.
    const auto partial = ShiftSum(second.translation_, rotations_[i], first.translation_);
    if (!partial) return nullptr;
    const auto shift = ShiftSum(*partial, xxMatrix3::Identity(), e.shift);
    return shift ? FindSymmetryElement(e.op, *shift) : nullptr;
}

void xxSymmetryDefinition::CheckConvention(int convention) const {
    const int d = xxLatticeOrientation::Dimension(convention);
    if (d == 0)
        throw Cfx::CfxResult(E_INVALIDARG, "There is no lattice orientation convention " + Int(convention) + ".");
    const int own = GetDimension();
    const std::string_view axes = xxLatticeOrientation::AxisOrder(convention);
    if (own != 0 && d != own)
        throw Cfx::CfxResult(E_INVALIDARG, "The lattice orientation convention \"" +
                                               (axes.empty() ? Int(convention) : std::string(axes)) + "\" is for " +
                                               (d == 3 ? "three" : "two") + "-dimensional cells; this group is " +
                                               (own == 3 ? "three" : "two") + "-dimensional.");
}

void xxSymmetryDefinition::SetOrientationConvention(int convention) {
    CheckConvention(convention);
    convention_ = convention;
}

void xxSymmetryDefinition::ResetOrientation() { SetStandardCell(StandardCellFromParameters(), true); }

xxMatrix3 xxSymmetryDefinition::LayoutRotation(int convention) const {
    CheckConvention(convention);
    const xxMatrix3 target = xxLatticeOrientation::Layout(convention, StandardCellFromParameters());
    return target * cell_.GetCartesianToFractional();
}

xxTransformMatrix xxSymmetryDefinition::GetTransformationToOrientation(int convention) const {
    return xxSymmetryConvert::ToTransform(LayoutRotation(convention));
}

xxTransformMatrix xxSymmetryDefinition::GetTransformationFromOrientation(int convention) const {
    // A rotation: its inverse is its transpose.
    const xxMatrix3 r = LayoutRotation(convention);
    xxMatrix3 t;
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) t(i, j) = r(j, i);
    return xxSymmetryConvert::ToTransform(t);
}

xxTransformMatrix xxSymmetryDefinition::GetFractionalToCartesianTransform() const {
    return xxSymmetryConvert::ToTransform(cell_.GetFractionalToCartesian());
}

xxTransformMatrix xxSymmetryDefinition::GetCartesianToFractionalTransform() const {
    return xxSymmetryConvert::ToTransform(cell_.GetCartesianToFractional());
}

void xxSymmetryDefinition::CheckCellFitsGroup() const {
    const auto& ops = group_.GetOperators();
    for (std::size_t i = 0; i < ops.size(); ++i)
        if (!IsIsometry(ops[i].Rotation(), cell_, 1e-3))
            throw Cfx::CfxResult(E_INVALIDARG,
                                 "The cell does not have the symmetry of the group" +
                                     (name_.empty() ? std::string() : " " + name_) + ": operator " +
                                     std::to_string(i + 1) + " (" + ops[i].ToSymbol() +
                                     ") changes its lengths or angles.");
}

void xxSymmetryDefinition::SetStandardCell(const xxCell& standardCell, bool updateImages) {
    const xxMatrix3 laid = xxLatticeOrientation::Layout(convention_, standardCell);
    SetCellAsIs(xxCell::FromVectors(laid.Column(0), laid.Column(1), laid.Column(2)), updateImages);
}

void xxSymmetryDefinition::SetCellAsIs(const xxCell& cell, bool updateImages) {
    cell_ = cell;
    if (updateImages && system_ && &system_->GetSymmetryDefinition() == this) system_->SynchronizeImages();
}

void xxSymmetryDefinition::SetRanges(int axes, const double* minMax) {
    double ranges[3][2] = {{0, 1}, {0, 1}, {0, 1}};
    for (int i = 0; i < axes; ++i) {
        const double lo = minMax[2 * i], hi = minMax[2 * i + 1];
        if (!std::isfinite(lo) || !std::isfinite(hi) || lo > hi || hi - lo > kMaxDisplaySpan ||
            std::fabs(lo) > kMaxTranslation || std::fabs(hi) > kMaxTranslation)
            throw Cfx::CfxResult(E_INVALIDARG, "A display range runs from a finite minimum to a maximum at most " +
                                                   std::to_string(static_cast<int>(kMaxDisplaySpan)) +
                                                   " cells above it; axis " + std::string(1, char('a' + i)) +
                                                   " was given " + std::to_string(lo) + " to " + std::to_string(hi) + ".");
        ranges[i][0] = lo;
        ranges[i][1] = hi;
    }
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 2; ++j) ranges_[i][j] = ranges[i][j];
}

void xxSymmetryDefinition::TakeNames(std::string name, std::string qualifier, int itNumber, int latticeRepresentation) {
    name_ = std::move(name);
    qualifier_ = std::move(qualifier);
    itNumber_ = itNumber;
    latticeRepresentation_ = latticeRepresentation;
}

xxCell xxSymmetryDefinition::CellOf(const xxVector3& a, const xxVector3& b, const xxVector3& c) const {
    return xxCell::FromVectors(a, b, c);
}

void xxSymmetryDefinition::Save(xxOutput& out) const {
    xxObject::Save(out);
    out.WriteValue("GroupName", name_, std::string());
    out.WriteValue("Qualifier", qualifier_, std::string());
    out.WriteValue("ITNumber", itNumber_, 0);
    out.WriteValue("CenteringType", centering_, 0);
    out.WriteValue("LatticeRepresentation", latticeRepresentation_, 0);
    out.WriteValue("OrientationConvention", convention_);
    std::vector<double> ops;
    ops.reserve(12 * group_.GetNumOperators());
    for (const auto& op : group_.GetOperators())
        for (int i = 0; i < 3; ++i) {
            for (int j = 0; j < 3; ++j) ops.push_back(op.Rotation()(i, j));
            ops.push_back(op.Translation()[i]);
        }
    out.WriteArray("Operators", ops);
    std::vector<double> vectors;
    for (int v = 0; v < 3; ++v)
        for (int i = 0; i < 3; ++i) vectors.push_back(cell_.GetFractionalToCartesian()(i, v));
    out.WriteArray("CellVectors", vectors);
    out.WriteArray("DisplayRanges", std::vector<double>{ranges_[0][0], ranges_[0][1], ranges_[1][0], ranges_[1][1],
                                                        ranges_[2][0], ranges_[2][1]});
}

void xxSymmetryDefinition::Load(xxInput& in) {
    if (system_)
        throw Cfx::CfxResult(E_UNEXPECTED, "A symmetry definition cannot be read while a symmetry system holds it.");
    xxObject::Load(in);
    std::string name, qualifier;
    int itNumber = 0, centering = 0, lattice = 0, convention = 0;
    in.ReadValue("GroupName", name, "");
    in.ReadValue("Qualifier", qualifier, "");
    in.ReadValue("ITNumber", itNumber, 0);
    in.ReadValue("CenteringType", centering, 0);
    in.ReadValue("LatticeRepresentation", lattice, 0);
    in.ReadValue("OrientationConvention", convention);
    std::vector<double> ops, vectors, ranges;
    in.ReadArray("Operators", ops);
    in.ReadArray("CellVectors", vectors);
    in.ReadArray("DisplayRanges", ranges);

    CheckConvention(convention);
    // A cell has at most 192 operators; xxSymmetryGroup says so for longer lists.
    if (ops.empty() || ops.size() % 12 != 0 || ops.size() > 12 * 1024)
        throw Cfx::CfxResult(E_INVALIDARG, "A symmetry definition's operators come as twelve numbers each; " +
                                               std::to_string(ops.size()) + " were read.");
    std::vector<xxTransformMatrix> transforms(ops.size() / 12);
    for (std::size_t k = 0; k < transforms.size(); ++k)
        for (int i = 0; i < 3; ++i) {
            for (int j = 0; j < 3; ++j) transforms[k].R(i, j) = ops[12 * k + 4 * static_cast<std::size_t>(i) + static_cast<std::size_t>(j)];
            transforms[k].T(i) = ops[12 * k + 4 * static_cast<std::size_t>(i) + 3];
        }
    xxSymmetryGroup group = GroupOf(transforms);
    if (vectors.size() != 9)
        throw Cfx::CfxResult(E_INVALIDARG, "A symmetry definition's cell comes as nine numbers; " +
                                               std::to_string(vectors.size()) + " were read.");
    const xxCell cell = CellOf({vectors[0], vectors[1], vectors[2]}, {vectors[3], vectors[4], vectors[5]},
                               {vectors[6], vectors[7], vectors[8]});
    if (ranges.size() != 6)
        throw Cfx::CfxResult(E_INVALIDARG, "A symmetry definition's display ranges come as six numbers; " +
                                               std::to_string(ranges.size()) + " were read.");
    SetRanges(GetDimension(), ranges.data());

    group_ = std::move(group);
    cell_ = cell;
    convention_ = convention;
    TakeNames(std::move(name), std::move(qualifier), itNumber, lattice);
    centering_ = centering;
    elements_.clear();
    identity_ = nullptr;
    products_.clear();
    inverses_.clear();
    rotations_.clear();
}

// ---- point groups -----------------------------------------------------------------

namespace {
xxSymmetryGroup PointGroupOf(const std::vector<xxTransformMatrix>& operators) {
    std::vector<xxSymmetryOperator> ops = ToOperators(operators);
    for (std::size_t i = 0; i < ops.size(); ++i) {
        const xxVector3& t = ops[i].Translation();
        if (std::fabs(t[0]) > 1e-9 || std::fabs(t[1]) > 1e-9 || std::fabs(t[2]) > 1e-9)
            throw Cfx::CfxResult(E_INVALIDARG, "A point group has no translations; operator " + std::to_string(i + 1) +
                                                   " (" + ops[i].ToSymbol() + ") has one.");
    }
    return xxSymmetryGroup::FromOperators(std::move(ops));
}
}  // namespace

xxPointGroup::xxPointGroup() : xxSymmetryDefinition(xxSymmetryGroup(), xxCell(), xxLatticeOrientation::kXYZ) {
    SetGroupName("1");
}

xxPointGroup::xxPointGroup(const std::vector<xxTransformMatrix>& operators)
    : xxSymmetryDefinition(PointGroupOf(operators), xxCell(), xxLatticeOrientation::kXYZ) {
    SetStandardCell(StandardCellFromParameters(), false);
}

xxCell xxPointGroup::StandardCellFromParameters() const {
    return DefaultCell(GetGroup(), 1.0, false);
}

xxSymmetryGroup xxPointGroup::GroupOf(const std::vector<xxTransformMatrix>& operators) const {
    return PointGroupOf(operators);
}

// ---- space groups -----------------------------------------------------------------

namespace {
xxSymmetryGroup SpaceGroupOf(const std::vector<xxTransformMatrix>& operators, int centering) {
    return xxSymmetryGroup::FromOperators(WithCentring(ToOperators(operators), centering));
}

}  // namespace

int xxLatticeRepresentationOf(const xxSpaceGroupDescription& d) {
    const std::string& q = d.GetQualifier();
    switch (d.GetCrystalSystem()) {
        case xxCrystalSystem::Triclinic: return 0;
        case xxCrystalSystem::Monoclinic:
            if (q.find("A-Unique") != std::string::npos) return 1;
            if (q.find("C-Unique") != std::string::npos) return 3;
            return 2;
        case xxCrystalSystem::Orthorhombic: return 4;
        case xxCrystalSystem::Tetragonal: return 5;
        case xxCrystalSystem::Trigonal:
            return d.GetSettingChoice() == "R" || q.find("Rhombohedral") != std::string::npos ? 7 : 6;
        case xxCrystalSystem::Hexagonal: return 6;
        case xxCrystalSystem::Cubic: return 8;
    }
    return 0;
}

int xxLatticeRepresentationOf(const xxPlaneGroupDescription& d) {
    const int n = d.GetNumber();
    if (n <= 2) return 0;   // oblique
    if (n <= 9) return 4;   // rectangular
    if (n <= 12) return 5;  // square
    return 6;               // hexagonal
}

xxSpaceGroup::xxSpaceGroup()
    : xxSymmetryDefinition(xxSymmetryGroup(), DefaultCell(xxSymmetryGroup(), kDefaultLength, false),
                           xxLatticeOrientation::kXYZ) {
    SetGroupName("P1");
    SetITNumber(1);
}

xxSpaceGroup::xxSpaceGroup(const xxSymmetrySystem& /*system*/, const std::vector<xxTransformMatrix>& operators,
                           int centering)
    : xxSpaceGroup(FromDatabase{}, SpaceGroupOf(operators, centering)) {
    SetCentering(centering);
    if (const auto* d = xxSpaceGroupFactory::Instantiate().FindSpaceGroupByOperators(GetGroup().GetOperators()))
        if (SameOrder(d->GetGroup(), GetGroup()))
            TakeNames(d->GetName(), d->GetQualifier(), d->GetITNumber(), xxLatticeRepresentationOf(*d));
}

xxSpaceGroup::xxSpaceGroup(FromDatabase, xxSymmetryGroup group)
    : xxSymmetryDefinition(std::move(group), xxCell(), xxLatticeOrientation::kXYZ) {
    SetStandardCell(DefaultCell(GetGroup(), kDefaultLength, false), false);
}

xxCell xxSpaceGroup::StandardCellFromParameters() const {
    return xxCell::FromParameters(GetA(), GetB(), GetC(), GetAlpha(), GetBeta(), GetGamma());
}

xxSymmetryGroup xxSpaceGroup::GroupOf(const std::vector<xxTransformMatrix>& operators) const {
    return SpaceGroupOf(operators, 0);
}

void xxSpaceGroup::SetCellParameters(double a, double b, double c, double alpha, double beta, double gamma,
                                     bool updateImages) {
    SetStandardCell(xxCell::FromParameters(a, b, c, alpha, beta, gamma), updateImages);
}

void xxSpaceGroup::SetCellVectors(const xxPoint3d& a, const xxPoint3d& b, const xxPoint3d& c, bool updateImages) {
    using xxSymmetryConvert::ToVector;
    SetCellAsIs(xxCell::FromVectors(ToVector(a), ToVector(b), ToVector(c)), updateImages);
}

void xxSpaceGroup::SetDisplayRanges(double minA, double maxA, double minB, double maxB, double minC, double maxC) {
    const double r[] = {minA, maxA, minB, maxB, minC, maxC};
    SetRanges(3, r);
}

// ---- plane groups -----------------------------------------------------------------

namespace {
xxSymmetryGroup PlaneGroupOf(const std::vector<xxTransformMatrix>& operators, int centering) {
    std::vector<xxSymmetryOperator> ops = WithCentring(ToOperators(operators), centering == 8 ? 0 : centering);
    for (std::size_t i = 0; i < ops.size(); ++i) {
        const xxMatrix3& r = ops[i].Rotation();
        if (std::fabs(r(2, 0)) > 1e-9 || std::fabs(r(2, 1)) > 1e-9 || std::fabs(r(0, 2)) > 1e-9 ||
            std::fabs(r(1, 2)) > 1e-9 || std::fabs(r(2, 2) - 1) > 1e-9 || std::fabs(ops[i].Translation()[2]) > 1e-9)
            throw Cfx::CfxResult(E_INVALIDARG, "A plane-group operator must leave z alone; operator " +
                                                   std::to_string(i + 1) + " (" + ops[i].ToSymbol() + ") does not.");
    }
    return xxSymmetryGroup::FromOperators(std::move(ops));
}
}  // namespace

xxPlaneGroup::xxPlaneGroup()
    : xxSymmetryDefinition(xxSymmetryGroup(), DefaultCell(xxSymmetryGroup(), kDefaultLength, true),
                           xxLatticeOrientation::kXY) {
    SetGroupName("p1");
    SetITNumber(1);
    SetCentering(8);
}

xxPlaneGroup::xxPlaneGroup(const xxSymmetrySystem& /*system*/, const std::vector<xxTransformMatrix>& operators,
                           int centering)
    : xxPlaneGroup(FromDatabase{}, PlaneGroupOf(operators, centering)) {
    SetCentering(centering);
    if (const auto* d = xxPlaneGroupFactory::Instantiate().FindPlaneGroupByOperators(GetGroup().GetOperators()))
        if (SameOrder(d->GetGroup(), GetGroup())) TakeNames(d->GetName(), {}, d->GetNumber(), xxLatticeRepresentationOf(*d));
}

xxPlaneGroup::xxPlaneGroup(FromDatabase, xxSymmetryGroup group)
    : xxSymmetryDefinition(std::move(group), xxCell(), xxLatticeOrientation::kXY) {
    SetCentering(8);
    SetStandardCell(DefaultCell(GetGroup(), kDefaultLength, true), false);
}

xxCell xxPlaneGroup::StandardCellFromParameters() const {
    return xxCell::FromPlaneParameters(GetA(), GetB(), GetGamma());
}

void xxPlaneGroup::SetCellParameters(double a, double b, double gamma, bool updateImages) {
    SetStandardCell(xxCell::FromPlaneParameters(a, b, gamma), updateImages);
}

xxSymmetryGroup xxPlaneGroup::GroupOf(const std::vector<xxTransformMatrix>& operators) const {
    return PlaneGroupOf(operators, 8);
}

// The third vector is always the unit normal of the slab.
xxCell xxPlaneGroup::CellOf(const xxVector3& a, const xxVector3& b, const xxVector3&) const {
    const xxVector3 normal = a.Cross(b);
    const double length = normal.Length();
    if (!(length > 0) || !std::isfinite(length))
        throw Cfx::CfxResult(E_INVALIDARG, "Degenerate cell: the plane vectors span no area.");
    return xxCell::FromVectors(a, b, (1 / length) * normal);
}

void xxPlaneGroup::SetCellVectors(const xxPoint3d& a, const xxPoint3d& b, bool updateImages) {
    using xxSymmetryConvert::ToVector;
    SetCellAsIs(CellOf(ToVector(a), ToVector(b), {}), updateImages);
}

void xxPlaneGroup::SetDisplayRanges(double minA, double maxA, double minB, double maxB) {
    const double r[] = {minA, maxA, minB, maxB};
    SetRanges(2, r);
}
