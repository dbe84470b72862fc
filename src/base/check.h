// VORN_CHECK: a programming-error check that logs and recovers in release builds.
#pragma once

#include <cstdio>

namespace vorn::detail {
inline void checkFailed(const char *condition, const char *file, int line)
{
    std::fprintf(stderr, "vorn: check \"%s\" failed at %s:%d\n", condition, file, line);
}
} // namespace vorn::detail

// Usage: VORN_CHECK(ptr, return -1);  The action runs when the condition is false.
#define VORN_CHECK(cond, action)                                           \
    if (!(cond)) {                                                         \
        ::vorn::detail::checkFailed(#cond, __FILE__, __LINE__);            \
        action;                                                            \
    } else                                                                 \
        do {                                                               \
        } while (0)
