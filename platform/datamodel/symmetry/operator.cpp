#include "datamodel/symmetry/operator.h"

#include <charconv>
#include <cmath>

#include "base/text.h"
#include "cfx/cfx.h"

namespace {

[[noreturn]] void ThrowBadSymbol(std::string_view text, std::string_view why) {
    throw Cfx::CfxResult(E_INVALIDARG, "Malformed symmetry operator \"" + std::string(text) +
                                           "\": " + std::string(why) + ".");
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

int VariableIndex(char c) {
    switch (c) {
        case 'x': case 'X': return 0;
        case 'y': case 'Y': return 1;
        case 'z': case 'Z': return 2;
        default: return -1;
    }
}

// One component ("-x+y+1/2"): the row of the rotation and the translation.
void ParseComponent(std::string_view whole, std::string_view s, double row[3], double& constant) {
    std::size_t pos = 0;
    auto skipBlanks = [&] {
        while (pos < s.size() && IsBlank(s[pos])) ++pos;
    };
    skipBlanks();
    if (pos == s.size()) ThrowBadSymbol(whole, "a component is empty");
    bool first = true;
    while (pos < s.size()) {
        double sign = 1;
        if (s[pos] == '+' || s[pos] == '-') {
            sign = s[pos] == '-' ? -1 : 1;
            ++pos;
            skipBlanks();
        } else if (!first) {
            ThrowBadSymbol(whole, "terms must be joined by + or -");
        }
        if (pos == s.size()) ThrowBadSymbol(whole, "a sign is followed by nothing");
        double value = 1;
        bool haveNumber = false;
        const char c = s[pos];
        if ((c >= '0' && c <= '9') || c == '.') {
            auto r = std::from_chars(s.data() + pos, s.data() + s.size(), value);
            if (r.ec != std::errc() || !std::isfinite(value)) ThrowBadSymbol(whole, "a number does not read");
            pos = static_cast<std::size_t>(r.ptr - s.data());
            skipBlanks();
            if (pos < s.size() && s[pos] == '/') {
                ++pos;
                skipBlanks();
                double denominator = 0;
                auto d = std::from_chars(s.data() + pos, s.data() + s.size(), denominator);
                if (d.ec != std::errc() || !std::isfinite(denominator))
                    ThrowBadSymbol(whole, "a fraction has no denominator");
                if (denominator == 0) ThrowBadSymbol(whole, "a fraction divides by zero");
                value /= denominator;
                pos = static_cast<std::size_t>(d.ptr - s.data());
                skipBlanks();
            }
            haveNumber = true;
            if (pos < s.size() && s[pos] == '*') {
                ++pos;
                skipBlanks();
                if (pos == s.size() || VariableIndex(s[pos]) < 0)
                    ThrowBadSymbol(whole, "'*' must be followed by x, y or z");
            }
        }
        if (pos < s.size() && VariableIndex(s[pos]) >= 0) {
            row[VariableIndex(s[pos])] += sign * value;
            ++pos;
        } else if (haveNumber) {
            constant += sign * value;
        } else {
            ThrowBadSymbol(whole, std::string("unexpected character '") + s[pos] + "'");
        }
        skipBlanks();
        first = false;
    }
}

// "+1/2", "-1/3", "+0.1234" for a non-zero constant.
std::string FormatConstant(double t) {
    // A fraction only where numerator and denominator fit (any text may name an operator).
    if (!(std::fabs(t) < 1e9)) return (t < 0 ? "" : "+") + cartovane::text::NumberText(t);
    for (int den : {1, 2, 3, 4, 6, 8, 12, 24}) {
        const double num = std::nearbyint(t * den);
        if (std::fabs(t * den - num) < 1e-6 * den) {
            const long n = static_cast<long>(num);
            std::string s = (n < 0 ? "-" : "+") + std::to_string(n < 0 ? -n : n);
            if (den != 1) s += "/" + std::to_string(den);
            return s;
        }
    }
    return (t < 0 ? "" : "+") + cartovane::text::NumberText(t);
}

bool Near(double a, double b, double tolerance) { return std::fabs(a - b) <= tolerance; }

}  // namespace

void xxSymmetryOperator::Set(const double rotation[9], const double translation[3]) {
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j) rotation_(i, j) = rotation[3 * i + j];
        translation_[i] = translation[i];
    }
}

xxSymmetryOperator xxSymmetryOperator::FromSymbol(std::string_view text) {
    xxSymmetryOperator op;
    op.rotation_ = xxMatrix3{};
    std::size_t start = 0;
    for (int i = 0; i < 3; ++i) {
        const std::size_t comma = text.find(',', start);
        if ((i < 2) != (comma != std::string_view::npos)) ThrowBadSymbol(text, "it needs three components");
        const std::string_view part = text.substr(start, i < 2 ? comma - start : std::string_view::npos);
        double row[3] = {0, 0, 0};
        double constant = 0;
        ParseComponent(text, part, row, constant);
        for (int j = 0; j < 3; ++j) op.rotation_(i, j) = row[j];
        op.translation_[i] = constant;
        start = comma + 1;
    }
    return op;
}

std::string xxSymmetryOperator::ToSymbol() const {
    static constexpr char kVariables[] = {'x', 'y', 'z'};
    std::string out;
    for (int i = 0; i < 3; ++i) {
        if (i) out += ',';
        std::string row;
        for (int j = 0; j < 3; ++j) {
            const double c = rotation_(i, j);
            if (Near(c, 0, 1e-9)) continue;
            if (Near(c, 1, 1e-9)) row += '+';
            else if (Near(c, -1, 1e-9)) row += '-';
            else row += (c < 0 ? "" : "+") + cartovane::text::NumberText(c);
            row += kVariables[j];
        }
        if (!Near(translation_[i], 0, 1e-9)) row += FormatConstant(translation_[i]);
        if (row.empty()) row = "0";
        if (row[0] == '+') row.erase(0, 1);
        out += row;
    }
    return out;
}

xxSymmetryOperator xxSymmetryOperator::Inverse() const {
    const double det = rotation_.Determinant();
    if (!std::isfinite(det) || std::fabs(det) < 1e-12)
        throw Cfx::CfxResult(E_INVALIDARG, "The symmetry operator " + ToSymbol() + " has no inverse.");
    const xxMatrix3 inv = rotation_.Inverse();
    return {inv, -(inv * translation_)};
}

xxSymmetryOperator xxSymmetryOperator::Translated(const xxPeriodicTranslation& n) const {
    return {rotation_, translation_ + xxVector3(n[0], n[1], n[2])};
}

bool xxSymmetryOperator::IsTranslation(double tolerance) const {
    const xxMatrix3 id = xxMatrix3::Identity();
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            if (!Near(rotation_(i, j), id(i, j), tolerance)) return false;
    return true;
}

bool xxSymmetryOperator::IsIdentity(double tolerance) const {
    return IsTranslation(tolerance) && Near(translation_[0], 0, tolerance) &&
           Near(translation_[1], 0, tolerance) && Near(translation_[2], 0, tolerance);
}

bool xxSymmetryOperator::Equals(const xxSymmetryOperator& o, double tolerance) const {
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j)
            if (!Near(rotation_(i, j), o.rotation_(i, j), tolerance)) return false;
        if (!Near(translation_[i], o.translation_[i], tolerance)) return false;
    }
    return true;
}

bool xxSymmetryOperator::EqualsModuloLattice(const xxSymmetryOperator& o, double tolerance) const {
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j)
            if (!Near(rotation_(i, j), o.rotation_(i, j), tolerance)) return false;
        const double d = translation_[i] - o.translation_[i];
        if (!Near(d, std::nearbyint(d), tolerance)) return false;
    }
    return true;
}

xxSymmetryOperator xxSymmetryOperator::ReducedToCell() const {
    xxVector3 t = translation_;
    for (int i = 0; i < 3; ++i) {
        t[i] -= std::floor(t[i]);
        if (t[i] >= 1 - 1e-12) t[i] = 0;
    }
    return {rotation_, t};
}
