#include <gtest/gtest.h>
#include "engine.h"
TEST(Smoke, Links) { EXPECT_EQ(nullptr, OpenUpdateSource("no-such-file", nullptr)); }
