// Panics write a report to standard error before they are thrown. The tests
// that provoke one catch that report here and check it, so that a test run's
// log holds only what went wrong.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "common/panic.hpp"

namespace zorvane::testing {

// Runs f with standard error captured at the descriptor (reports written by
// any thread land there) and returns the message of the Panic it throws,
// "(no panic)" if it throws none. Expects the report of that message.
template <class F>
std::string panic_of(F&& f) {
    std::string message = "(no panic)";
    ::testing::internal::CaptureStderr();
    try {
        f();
    } catch (const Panic& p) {
        message = p.message();
    }
    const std::string report = ::testing::internal::GetCapturedStderr();
    EXPECT_NE(report.find("' panicked at "), std::string::npos) << report;
    EXPECT_NE(report.find(message), std::string::npos) << report;
    return message;
}

}  // namespace zorvane::testing
