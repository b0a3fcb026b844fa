#include "datamodel/symmetry/cell.h"

#include <algorithm>
#include <numbers>
#include <string>

#include "base/text.h"
#include "cfx/cfx.h"

namespace {

using cartovane::text::NumberText;

[[noreturn]] void ThrowDegenerate(const std::string& what) {
    throw Cfx::CfxResult(E_INVALIDARG, "Degenerate cell: " + what + ".");
}

std::string ParameterText(double a, double b, double c, double alpha, double beta, double gamma) {
    constexpr double deg = 180.0 / std::numbers::pi;
    return "a=" + NumberText(a) + ", b=" + NumberText(b) + ", c=" + NumberText(c) + ", alpha=" +
           NumberText(alpha * deg) + ", beta=" + NumberText(beta * deg) + ", gamma=" + NumberText(gamma * deg) +
           " degrees";
}

// Volume below this fraction of a*b*c counts as none: such a cell cannot be inverted reliably.
constexpr double kMinRelativeVolume = 1e-6;

}  // namespace

xxCell::xxCell() : xxCell(xxMatrix3::Identity()) {}

xxCell::xxCell(const xxMatrix3& toCartesian) : toCartesian_(toCartesian) {
    const xxVector3 a = toCartesian.Column(0), b = toCartesian.Column(1), c = toCartesian.Column(2);
    length_[0] = a.Length();
    length_[1] = b.Length();
    length_[2] = c.Length();
    for (double l : length_)
        if (!std::isfinite(l) || !(l > 0)) ThrowDegenerate("a lattice vector has no usable length");
    volume_ = toCartesian.Determinant();
    if (!std::isfinite(volume_) || volume_ <= kMinRelativeVolume * length_[0] * length_[1] * length_[2])
        ThrowDegenerate("the lattice vectors span no volume or are left-handed (volume " +
                        NumberText(volume_) + ")");
    angle_[0] = std::acos(std::clamp(b.Dot(c) / (length_[1] * length_[2]), -1.0, 1.0));
    angle_[1] = std::acos(std::clamp(a.Dot(c) / (length_[0] * length_[2]), -1.0, 1.0));
    angle_[2] = std::acos(std::clamp(a.Dot(b) / (length_[0] * length_[1]), -1.0, 1.0));
    toFractional_ = toCartesian.Inverse();
}

xxCell xxCell::FromParameters(double a, double b, double c, double alpha, double beta, double gamma) {
    for (double l : {a, b, c})
        if (!std::isfinite(l) || !(l > 0))
            ThrowDegenerate("lengths must be positive (" + ParameterText(a, b, c, alpha, beta, gamma) + ")");
    for (double t : {alpha, beta, gamma})
        if (!std::isfinite(t) || !(t > 0) || !(t < std::numbers::pi))
            ThrowDegenerate("angles must lie strictly between 0 and 180 degrees (" +
                            ParameterText(a, b, c, alpha, beta, gamma) + ")");
    const double ca = std::cos(alpha), cb = std::cos(beta), cg = std::cos(gamma), sg = std::sin(gamma);
    const double g = 1 - ca * ca - cb * cb - cg * cg + 2 * ca * cb * cg;
    if (!(g > kMinRelativeVolume * kMinRelativeVolume))
        ThrowDegenerate("the angles leave no volume (" + ParameterText(a, b, c, alpha, beta, gamma) + ")");
    const xxVector3 va{a, 0, 0};
    const xxVector3 vb{b * cg, b * sg, 0};
    const xxVector3 vc{c * cb, c * (ca - cb * cg) / sg, c * std::sqrt(g) / sg};
    return xxCell(xxMatrix3::FromColumns(va, vb, vc));
}

xxCell xxCell::FromParametersDegrees(double a, double b, double c, double alpha, double beta,
                                     double gamma) {
    constexpr double rad = std::numbers::pi / 180.0;
    return FromParameters(a, b, c, alpha * rad, beta * rad, gamma * rad);
}

xxCell xxCell::FromPlaneParameters(double a, double b, double gamma) {
    return FromParameters(a, b, 1.0, std::numbers::pi / 2, std::numbers::pi / 2, gamma);
}

xxCell xxCell::FromVectors(const xxVector3& a, const xxVector3& b, const xxVector3& c) {
    return xxCell(xxMatrix3::FromColumns(a, b, c));
}

double xxCell::PeriodicDistance(const xxVector3& d) const {
    xxVector3 r;
    for (int i = 0; i < 3; ++i) r[i] = d[i] - std::nearbyint(d[i]);
    double best = ToCartesian(r).Length();
    // The nearest integer per axis is the shortest copy for near-orthogonal cells; oblique cells
    // can have a shorter one among the neighbours.
    for (int i = -1; i <= 1; ++i)
        for (int j = -1; j <= 1; ++j)
            for (int k = -1; k <= 1; ++k) {
                if (i == 0 && j == 0 && k == 0) continue;
                const double l = ToCartesian(r + xxVector3(i, j, k)).Length();
                if (l < best) best = l;
            }
    return best;
}
