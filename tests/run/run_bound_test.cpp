#include "run/run_bound.h"

#include <gtest/gtest.h>

namespace brimlet {
namespace {

TEST(RunBoundTest, SumsTheLimitsOrIsNoneWhenEitherIsZero) {
    EXPECT_EQ(RunBoundSeconds(10, 30), 10 + 4 * 30 + kLockWaitGraceSec + kRunBoundMarginSec);
    EXPECT_EQ(RunBoundSeconds(0, 30), 0);
    EXPECT_EQ(RunBoundSeconds(10, 0), 0);
    EXPECT_EQ(RunBoundSeconds(INT32_MAX, INT32_MAX), INT32_MAX);
}

}  // namespace
}  // namespace brimlet
