// Fatal internal errors (assertion failures).
//
// A panic is the one C++ exception type of the core. Numeric routines never
// raise it; it marks broken invariants such as profile tables of different
// lengths, or a worker pool that could not be created. Only the guard of the
// Python surface catches it and turns it into an exception for the caller.
#pragma once

#include <exception>
#include <source_location>
#include <string>

namespace zorvane {

class Panic : public std::exception {
public:
    explicit Panic(std::string message) : message_(std::move(message)) {}
    const char* what() const noexcept override { return message_.c_str(); }
    const std::string& message() const noexcept { return message_; }

private:
    std::string message_;
};

// Writes the failing thread's name, the source position and the message to
// standard error, then throws Panic(message).
[[noreturn]] void panic(std::string message,
                        std::source_location where = std::source_location::current());

// Threads that were never given a name of their own (the worker pool's) inherit
// the creating thread's name on Linux; a panic report calls them "<unnamed>".
void mark_thread_unnamed() noexcept;

// printf-style formatting into a string, for the texts of messages.hpp that
// have placeholders.
[[gnu::format(printf, 1, 2)]] std::string format(const char* pattern, ...);

// Equality assertion with the conventional two-line report:
// "assertion `left == right` failed\n  left: 3\n right: 2".
std::string assert_eq_message(long long left, long long right);

inline void assert_eq(long long left, long long right,
                      std::source_location where = std::source_location::current()) {
    if (left != right) panic(assert_eq_message(left, right), where);
}

}  // namespace zorvane
