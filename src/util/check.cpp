// SPDX-License-Identifier: MIT
// The always-on precondition check and the allocation wrappers with their
// test hook.
#include "alloc.h"
#include "check.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

void util_check_failed(const char* file, int line, const char* function, const char* expression) {
    std::fprintf(stderr, "%s:%d: %s: Assertion `%s' failed.\n", file, line, function, expression);
    std::fflush(stderr);
    std::abort();
}

namespace {
int allocs_before_failure = -1;

bool should_fail() {
    if (allocs_before_failure < 0) return false;
    if (allocs_before_failure == 0) return true;
    --allocs_before_failure;
    return false;
}
} // namespace

void util_failalloc(int after) {
    allocs_before_failure = after;
}

void* util_malloc(size_t size) {
    return should_fail() ? nullptr : std::malloc(size);
}

void* util_calloc(size_t count, size_t size) {
    return should_fail() ? nullptr : std::calloc(count, size);
}

void* util_realloc(void* block, size_t size) {
    return should_fail() ? nullptr : std::realloc(block, size);
}

char* util_strdup(const char* text) {
    return should_fail() ? nullptr : ::strdup(text);
}

char* util_strndup(const char* text, size_t length) {
    return should_fail() ? nullptr : ::strndup(text, length);
}
