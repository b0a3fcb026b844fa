// Transforms of model quantities: the translation test in both its forms, and tensors carried
// into a transformed frame.
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

#include "datamodel/geometry.h"

namespace {

xxTransformMatrix RotationAboutZ(double angle, std::array<double, 3> shift = {0, 0, 0}) {
    const double c = std::cos(angle), s = std::sin(angle);
    return xxTransformMatrix({c, -s, 0, s, c, 0, 0, 0, 1}, shift);
}

// Only a tolerance or a flag are arguments; an integer or a float is a mistake the compiler stops.
template <class T>
concept TranslationTestTakes = requires(const xxTransformMatrix& m, T argument) { m.IsTranslation(argument); };
static_assert(TranslationTestTakes<bool> && TranslationTestTakes<double>);
static_assert(!TranslationTestTakes<int> && !TranslationTestTakes<float> && !TranslationTestTakes<long>);

TEST(TransformMatrix, TheFlagFormOfTheTranslationTestIsNoToleranceOfOne) {
    struct Case {
        const char* name;
        xxTransformMatrix m;
        bool withTolerance;  // IsTranslation(true)
        bool exact;          // IsTranslation(false)
    } cases[] = {
        {"identity", {}, true, true},
        {"pure shift", xxTransformMatrix({1, 0, 0, 0, 1, 0, 0, 0, 1}, {5, -2, 0.5}), true, true},
        {"30 degrees", RotationAboutZ(std::numbers::pi / 6), false, false},
        {"a small turn of 0.5 (within 1.0 of the identity everywhere)", RotationAboutZ(0.5), false, false},
        {"mirror", xxTransformMatrix({-1, 0, 0, 0, 1, 0, 0, 0, 1}, {0, 0, 0}), false, false},
        {"rounding noise", xxTransformMatrix({1 + 1e-12, 0, 0, 0, 1, 0, 0, 0, 1}, {0, 0, 0}), true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.m.IsTranslation(true), c.withTolerance);
        EXPECT_EQ(c.m.IsTranslation(false), c.exact);
        EXPECT_EQ(c.m.IsTranslation(), c.withTolerance);
    }
    // The tolerance form is still there for callers who mean one.
    EXPECT_TRUE(RotationAboutZ(0.5).IsTranslation(1.0));
}

void ExpectNear(const xxMatrix3x3& actual, const xxMatrix3x3& expected) {
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) EXPECT_NEAR(actual(i, j), expected(i, j), 1e-12) << "(" << i << "," << j << ")";
}

TEST(TransformMatrix, TensorsTurnWithTheRotationAndIgnoreTheShift) {
    const xxMatrix3x3 diagonal({1, 0, 0, 0, 2, 0, 0, 0, 3});
    // A quarter turn about z exchanges the x and y axes.
    ExpectNear(RotationAboutZ(std::numbers::pi / 2).TransformCartesianTensor(diagonal),
               xxMatrix3x3({2, 0, 0, 0, 1, 0, 0, 0, 3}));

    // R T R^T, checked against the product written out, for a general rotation, tensor, shift
    // and origin.
    const xxTransformMatrix r = RotationAboutZ(0.3, {4, 5, 6}) * xxTransformMatrix({1, 0, 0, 0, 0.6, -0.8, 0, 0.8, 0.6}, {0, 0, 0});
    const xxMatrix3x3 t({1, 0.5, -0.25, 0.5, 2, 0.125, -0.25, 0.125, 3});
    xxMatrix3x3 expected;
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            for (int k = 0; k < 3; ++k)
                for (int l = 0; l < 3; ++l) expected(i, j) += r.R(i, k) * t(k, l) * r.R(j, l);
    ExpectNear(r.TransformCartesianTensor(t, {7, 8, 9}), expected);
    ExpectNear(r.TransformCartesianTensor(t), expected);

    // The identity leaves a tensor as it is, a mirror keeps a symmetric tensor symmetric.
    EXPECT_EQ(xxTransformMatrix().TransformCartesianTensor(t), t);
    const xxMatrix3x3 mirrored = xxTransformMatrix({-1, 0, 0, 0, 1, 0, 0, 0, 1}, {0, 0, 0}).TransformCartesianTensor(t);
    ExpectNear(mirrored, xxMatrix3x3({1, -0.5, 0.25, -0.5, 2, 0.125, 0.25, 0.125, 3}));
}

}  // namespace
