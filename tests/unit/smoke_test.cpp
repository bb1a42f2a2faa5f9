#include "framework/headless/headless.h"
#include <gtest/gtest.h>
TEST(Smoke, Builds) { fw::headless::HeadlessPlatform p; EXPECT_EQ(p.pathSeparator(), '/'); }
