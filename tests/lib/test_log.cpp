#include "lib/log.h"
#include <gtest/gtest.h>
TEST(Log, Placeholder) { EXPECT_EQ(log_dump_text("", 0).size(), 65u + 65u); }
