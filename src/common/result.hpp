// Value-or-error results shared by every numeric routine and model operation.
#pragma once

#include <expected>

namespace zorvane {

// A numeric failure. The message is a static text that starts with the name of
// the routine that detected it ("ellipk: m must be less than 1."); callers pass
// an inner routine's error up unchanged.
struct Error {
    const char* message;
    friend bool operator==(const Error&, const Error&) = default;
};

template <class T>
using Result = std::expected<T, Error>;

// Shorthand for returning the error alternative: `return fail("elliprc: ...");`
inline constexpr std::unexpected<Error> fail(const char* message) noexcept {
    return std::unexpected<Error>(Error{message});
}

}  // namespace zorvane
