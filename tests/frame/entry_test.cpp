#include <gtest/gtest.h>
TEST(Placeholder3, Builds) {}
