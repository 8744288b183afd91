#include <gtest/gtest.h>

#include "common/panic.hpp"
#include "common/result.hpp"
#include "panics.hpp"

namespace {

TEST(Panic, AssertEqMessageHasTheTwoOperandLines) {
    EXPECT_EQ(zorvane::assert_eq_message(3, 2), "assertion `left == right` failed\n  left: 3\n right: 2");
}

TEST(Panic, AssertEqThrowsPanicCarryingTheMessage) {
    EXPECT_EQ(zorvane::testing::panic_of([] { zorvane::assert_eq(0, 5); }),
              "assertion `left == right` failed\n  left: 0\n right: 5");
    EXPECT_NO_THROW(zorvane::assert_eq(4, 4));
}

}  // namespace
