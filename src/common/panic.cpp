#include "common/panic.hpp"

#include <pthread.h>

#include <cstdio>

namespace zorvane {

std::string assert_eq_message(long long left, long long right) {
    return "assertion `left == right` failed\n  left: " + std::to_string(left) + "\n right: " +
           std::to_string(right);
}

namespace {
thread_local bool thread_unnamed = false;
}

void mark_thread_unnamed() noexcept { thread_unnamed = true; }

void panic(std::string message, std::source_location where) {
    char name[64] = {0};
    if (thread_unnamed || pthread_getname_np(pthread_self(), name, sizeof name) != 0 || name[0] == '\0') {
        std::snprintf(name, sizeof name, "<unnamed>");
    }
    std::fprintf(stderr, "\nthread '%s' panicked at %s:%u:%u:\n%s\n", name, where.file_name(),
                 static_cast<unsigned>(where.line()), static_cast<unsigned>(where.column()),
                 message.c_str());
    std::fflush(stderr);
    throw Panic(std::move(message));
}

}  // namespace zorvane
