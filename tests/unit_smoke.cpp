#include <gtest/gtest.h>

#include "nscr/token.h"

TEST(Smoke, EmptyLineHasNoTokens) { EXPECT_TRUE(nscr::parseToToken("").empty()); }
