// Small fixed-size vector and matrix values for the symmetry code.
#pragma once

#include <array>
#include <cmath>

struct xxVector3 {
    std::array<double, 3> v{};

    constexpr xxVector3() = default;
    constexpr xxVector3(double x, double y, double z) : v{x, y, z} {}

    constexpr double& operator[](int i) { return v[static_cast<std::size_t>(i)]; }
    constexpr double operator[](int i) const { return v[static_cast<std::size_t>(i)]; }

    friend constexpr xxVector3 operator+(const xxVector3& a, const xxVector3& b) {
        return {a[0] + b[0], a[1] + b[1], a[2] + b[2]};
    }
    friend constexpr xxVector3 operator-(const xxVector3& a, const xxVector3& b) {
        return {a[0] - b[0], a[1] - b[1], a[2] - b[2]};
    }
    friend constexpr xxVector3 operator-(const xxVector3& a) { return {-a[0], -a[1], -a[2]}; }
    friend constexpr xxVector3 operator*(double s, const xxVector3& a) {
        return {s * a[0], s * a[1], s * a[2]};
    }
    friend constexpr bool operator==(const xxVector3&, const xxVector3&) = default;

    constexpr double Dot(const xxVector3& o) const { return v[0] * o[0] + v[1] * o[1] + v[2] * o[2]; }
    constexpr xxVector3 Cross(const xxVector3& o) const {
        return {v[1] * o[2] - v[2] * o[1], v[2] * o[0] - v[0] * o[2], v[0] * o[1] - v[1] * o[0]};
    }
    double Length() const { return std::sqrt(Dot(*this)); }
};

// Row-major 3x3 matrix: m[row][column].
struct xxMatrix3 {
    std::array<std::array<double, 3>, 3> m{};

    static constexpr xxMatrix3 Identity() {
        xxMatrix3 r;
        r.m[0][0] = r.m[1][1] = r.m[2][2] = 1.0;
        return r;
    }
    // The matrix whose columns are a, b and c.
    static constexpr xxMatrix3 FromColumns(const xxVector3& a, const xxVector3& b, const xxVector3& c) {
        xxMatrix3 r;
        for (int i = 0; i < 3; ++i) {
            r(i, 0) = a[i];
            r(i, 1) = b[i];
            r(i, 2) = c[i];
        }
        return r;
    }

    constexpr double& operator()(int r, int c) {
        return m[static_cast<std::size_t>(r)][static_cast<std::size_t>(c)];
    }
    constexpr double operator()(int r, int c) const {
        return m[static_cast<std::size_t>(r)][static_cast<std::size_t>(c)];
    }
    constexpr xxVector3 Column(int c) const { return {(*this)(0, c), (*this)(1, c), (*this)(2, c)}; }

    friend constexpr xxVector3 operator*(const xxMatrix3& a, const xxVector3& x) {
        xxVector3 r;
        for (int i = 0; i < 3; ++i) r[i] = a(i, 0) * x[0] + a(i, 1) * x[1] + a(i, 2) * x[2];
        return r;
    }
    friend constexpr xxMatrix3 operator*(const xxMatrix3& a, const xxMatrix3& b) {
        xxMatrix3 r;
        for (int i = 0; i < 3; ++i)
            for (int j = 0; j < 3; ++j) r(i, j) = a(i, 0) * b(0, j) + a(i, 1) * b(1, j) + a(i, 2) * b(2, j);
        return r;
    }
    friend constexpr bool operator==(const xxMatrix3&, const xxMatrix3&) = default;

    constexpr double Determinant() const {
        const auto& a = *this;
        return a(0, 0) * (a(1, 1) * a(2, 2) - a(1, 2) * a(2, 1)) -
               a(0, 1) * (a(1, 0) * a(2, 2) - a(1, 2) * a(2, 0)) +
               a(0, 2) * (a(1, 0) * a(2, 1) - a(1, 1) * a(2, 0));
    }
    // Only for matrices known to be regular; callers check the determinant first.
    constexpr xxMatrix3 Inverse() const {
        const auto& a = *this;
        const double d = Determinant();
        xxMatrix3 r;
        r(0, 0) = (a(1, 1) * a(2, 2) - a(1, 2) * a(2, 1)) / d;
        r(0, 1) = (a(0, 2) * a(2, 1) - a(0, 1) * a(2, 2)) / d;
        r(0, 2) = (a(0, 1) * a(1, 2) - a(0, 2) * a(1, 1)) / d;
        r(1, 0) = (a(1, 2) * a(2, 0) - a(1, 0) * a(2, 2)) / d;
        r(1, 1) = (a(0, 0) * a(2, 2) - a(0, 2) * a(2, 0)) / d;
        r(1, 2) = (a(0, 2) * a(1, 0) - a(0, 0) * a(1, 2)) / d;
        r(2, 0) = (a(1, 0) * a(2, 1) - a(1, 1) * a(2, 0)) / d;
        r(2, 1) = (a(0, 1) * a(2, 0) - a(0, 0) * a(2, 1)) / d;
        r(2, 2) = (a(0, 0) * a(1, 1) - a(0, 1) * a(1, 0)) / d;
        return r;
    }
};
