#include "datamodel/graphics.h"

#include <gtest/gtest.h>

#include <limits>

namespace {

TEST(Color, PackedFormsAndAlpha) {
    xxColor c(0x12, 0x34, 0x56);
    EXPECT_EQ(c.A(), 255);
    EXPECT_EQ(c.GetRGB(), 0x123456u);
    EXPECT_EQ(c.GetARGB(), 0xFF123456u);
    c.SetA(0.5);
    c.SetRGB(0xFFABCDEFu);  // bits above the colour are no alpha
    EXPECT_EQ(c, xxColor(0xAB, 0xCD, 0xEF, 128));
    c.SetARGB(0x01020304u);
    EXPECT_EQ(c, xxColor(2, 3, 4, 1));
    EXPECT_EQ(xxColor::White, xxColor(255, 255, 255, 255));

    struct Case {
        double a;
        int stored;
    } cases[] = {{0, 0},    {1, 255},  {0.5, 128}, {0.2, 51}, {0.25, 64},
                 {-3, 0},   {7, 255},  {std::numeric_limits<double>::quiet_NaN(), 0},
                 {std::numeric_limits<double>::infinity(), 255}};
    for (const Case& k : cases) {
        xxColor x = xxColor::White;
        x.SetA(k.a);
        EXPECT_EQ(x.A(), k.stored) << k.a;
        EXPECT_EQ(x.GetRGB(), 0xFFFFFFu);  // alpha alone changes
    }
}

TEST(TriangleMesh, IndicesAreCheckedAgainstTheVertices) {
    xxTriangleMesh mesh;
    EXPECT_EQ(mesh.GetColor(), xxColor::White);
    mesh.Vertices().resize(3);
    mesh.Triangles().push_back({0, 1, 2});
    EXPECT_TRUE(mesh.IndicesAreValid());
    mesh.Triangles().push_back({0, 3, 1});
    EXPECT_FALSE(mesh.IndicesAreValid());
    EXPECT_EQ(mesh.Vertices()[0].color, xxColor::White);
}

}  // namespace
