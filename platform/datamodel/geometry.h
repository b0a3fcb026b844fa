// Points, rational numbers and affine transforms of the data model.
#pragma once

#include <array>
#include <cmath>
#include <cstddef>
#include <type_traits>

struct xxPoint3d {
    double x = 0, y = 0, z = 0;

    static const xxPoint3d zero;

    friend constexpr xxPoint3d operator+(xxPoint3d a, xxPoint3d b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
    friend constexpr xxPoint3d operator-(xxPoint3d a, xxPoint3d b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
    friend constexpr xxPoint3d operator*(double s, xxPoint3d a) { return {s * a.x, s * a.y, s * a.z}; }
    friend constexpr bool operator==(xxPoint3d a, xxPoint3d b) = default;
    constexpr double Dot(xxPoint3d o) const { return x * o.x + y * o.y + z * o.z; }
    constexpr xxPoint3d Cross(xxPoint3d o) const { return {y * o.z - z * o.y, z * o.x - x * o.z, x * o.y - y * o.x}; }
    double Length() const { return std::sqrt(Dot(*this)); }
    constexpr double operator[](int i) const { return i == 0 ? x : i == 1 ? y : z; }
    constexpr double& operator[](int i) { return i == 0 ? x : i == 1 ? y : z; }
};
inline constexpr xxPoint3d xxPoint3d::zero{};

// A reduced fraction with a positive denominator.
struct xxRational {
    int numerator = 0;
    int denominator = 1;
    friend constexpr bool operator==(xxRational, xxRational) = default;
};

// A 3 x 3 tensor (a stress, say) row by row.
class xxMatrix3x3 {
public:
    constexpr xxMatrix3x3() = default;  // zero
    constexpr explicit xxMatrix3x3(const std::array<double, 9>& values) : m_(values) {}

    // Nine values row by row.
    void Set(const double values[9]) {
        for (std::size_t i = 0; i < 9; ++i) m_[i] = values[i];
    }
    constexpr double operator()(int row, int col) const { return m_[static_cast<std::size_t>(row * 3 + col)]; }
    constexpr double& operator()(int row, int col) { return m_[static_cast<std::size_t>(row * 3 + col)]; }
    constexpr const std::array<double, 9>& Values() const { return m_; }
    friend constexpr bool operator==(const xxMatrix3x3&, const xxMatrix3x3&) = default;

private:
    std::array<double, 9> m_{};
};

// p' = R p + t.
class xxTransformMatrix {
public:
    constexpr xxTransformMatrix() = default;  // identity
    constexpr xxTransformMatrix(const std::array<double, 9>& rotation, const std::array<double, 3>& translation)
        : r_(rotation), t_(translation) {}

    void Set(const double rotation[9], const double translation[3]) {
        for (int i = 0; i < 9; ++i) r_[static_cast<std::size_t>(i)] = rotation[i];
        for (int i = 0; i < 3; ++i) t_[static_cast<std::size_t>(i)] = translation[i];
    }
    constexpr double R(int row, int col) const { return r_[static_cast<std::size_t>(row * 3 + col)]; }
    constexpr double& R(int row, int col) { return r_[static_cast<std::size_t>(row * 3 + col)]; }
    constexpr double T(int i) const { return t_[static_cast<std::size_t>(i)]; }
    constexpr double& T(int i) { return t_[static_cast<std::size_t>(i)]; }
    const std::array<double, 9>& Rotation() const { return r_; }
    const std::array<double, 3>& Translation() const { return t_; }

    constexpr xxPoint3d Apply(xxPoint3d p) const {
        return {R(0, 0) * p.x + R(0, 1) * p.y + R(0, 2) * p.z + t_[0],
                R(1, 0) * p.x + R(1, 1) * p.y + R(1, 2) * p.z + t_[1],
                R(2, 0) * p.x + R(2, 1) * p.y + R(2, 2) * p.z + t_[2]};
    }
    // Rotation only: for directions and velocities.
    constexpr xxPoint3d TransformCartesianVector(xxPoint3d v) const {
        return {R(0, 0) * v.x + R(0, 1) * v.y + R(0, 2) * v.z, R(1, 0) * v.x + R(1, 1) * v.y + R(1, 2) * v.z,
                R(2, 0) * v.x + R(2, 1) * v.y + R(2, 2) * v.z};
    }
    // A tensor quantity of the model (a stress) in the transformed frame: R T R^T. Tensors, like
    // directions, do not move with the translation, so the origin they refer to changes nothing.
    constexpr xxMatrix3x3 TransformCartesianTensor(const xxMatrix3x3& tensor, const xxPoint3d& origin = xxPoint3d::zero) const {
        (void)origin;
        xxMatrix3x3 rt;  // R T
        for (int i = 0; i < 3; ++i)
            for (int j = 0; j < 3; ++j) rt(i, j) = R(i, 0) * tensor(0, j) + R(i, 1) * tensor(1, j) + R(i, 2) * tensor(2, j);
        xxMatrix3x3 out;
        for (int i = 0; i < 3; ++i)
            for (int j = 0; j < 3; ++j) out(i, j) = rt(i, 0) * R(j, 0) + rt(i, 1) * R(j, 1) + rt(i, 2) * R(j, 2);
        return out;
    }
    // this after other: p -> this(other(p)).
    constexpr xxTransformMatrix operator*(const xxTransformMatrix& o) const {
        xxTransformMatrix m;
        for (int i = 0; i < 3; ++i) {
            for (int j = 0; j < 3; ++j) m.R(i, j) = R(i, 0) * o.R(0, j) + R(i, 1) * o.R(1, j) + R(i, 2) * o.R(2, j);
            m.T(i) = R(i, 0) * o.T(0) + R(i, 1) * o.T(1) + R(i, 2) * o.T(2) + T(i);
        }
        return m;
    }
    double Determinant() const {
        return R(0, 0) * (R(1, 1) * R(2, 2) - R(1, 2) * R(2, 1)) - R(0, 1) * (R(1, 0) * R(2, 2) - R(1, 2) * R(2, 0)) +
               R(0, 2) * (R(1, 0) * R(2, 1) - R(1, 1) * R(2, 0));
    }
    // Throws Cfx::CfxResult E_INVALIDARG for a singular matrix.
    xxTransformMatrix Inverse() const;
    bool IsIdentity(double tolerance = 1e-9) const;
    // The rotation part is the identity: a pure translation.
    bool IsTranslation(double tolerance = 1e-9) const;
    // The same with the default tolerance (useTolerance) or compared exactly. Without this form
    // a call with true would take 1.0 as the tolerance and call most rotations translations.
    bool IsTranslation(bool useTolerance) const { return IsTranslation(useTolerance ? 1e-9 : 0.0); }
    // Any other argument type is a mistake, not a tolerance.
    template <class T>
        requires(!std::is_same_v<T, double> && !std::is_same_v<T, bool>)
    bool IsTranslation(T) const = delete;

private:
    std::array<double, 9> r_{1, 0, 0, 0, 1, 0, 0, 0, 1};
    std::array<double, 3> t_{0, 0, 0};
};
