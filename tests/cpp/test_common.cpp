#include <gtest/gtest.h>

#include "common/panic.hpp"
#include "common/result.hpp"

namespace {

TEST(Panic, AssertEqMessageHasTheTwoOperandLines) {
    EXPECT_EQ(zorvane::assert_eq_message(3, 2), "assertion `left == right` failed\n  left: 3\n right: 2");
}

TEST(Panic, AssertEqThrowsPanicCarryingTheMessage) {
    try {
        zorvane::assert_eq(0, 5);
        FAIL() << "no panic";
    } catch (const zorvane::Panic& p) {
        EXPECT_EQ(p.message(), "assertion `left == right` failed\n  left: 0\n right: 5");
    }
    EXPECT_NO_THROW(zorvane::assert_eq(4, 4));
}

}  // namespace
