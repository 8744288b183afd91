#include "common/panic.hpp"

#include <pthread.h>

#include <cstdarg>
#include <cstdio>

#include "common/messages.hpp"

namespace zorvane {

std::string format(const char* pattern, ...) {
    std::va_list args;
    va_start(args, pattern);
    std::va_list again;
    va_copy(again, args);
    const int size = std::vsnprintf(nullptr, 0, pattern, args);
    va_end(args);
    std::string out(static_cast<std::size_t>(size > 0 ? size : 0), '\0');
    std::vsnprintf(out.data(), out.size() + 1, pattern, again);
    va_end(again);
    return out;
}

std::string assert_eq_message(long long left, long long right) {
    return format(messages::kAssertEq, left, right);
}

namespace {
thread_local bool thread_unnamed = false;
}

void mark_thread_unnamed() noexcept { thread_unnamed = true; }

void panic(std::string message, std::source_location where) {
    char name[64] = {0};
    if (thread_unnamed || pthread_getname_np(pthread_self(), name, sizeof name) != 0 || name[0] == '\0') {
        std::snprintf(name, sizeof name, "%s", messages::kUnnamedThread);
    }
    std::fprintf(stderr, messages::kPanicReport, name, where.file_name(),
                 static_cast<unsigned>(where.line()), static_cast<unsigned>(where.column()),
                 message.c_str());
    std::fflush(stderr);
    throw Panic(std::move(message));
}

}  // namespace zorvane
