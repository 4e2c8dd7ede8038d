// SPDX-License-Identifier: MIT
// Private precondition check of the library and the tool. Unlike assert() it
// stays active in every build type, NDEBUG included: a null required pointer is
// a programming error and must stop the process where it happens.
#pragma once

[[noreturn]] void util_check_failed(const char* file, int line, const char* function,
                                    const char* expression);

#define UTIL_CHECK(expr)                                                                           \
    ((expr) ? (void)0 : util_check_failed(__FILE__, __LINE__, __PRETTY_FUNCTION__, #expr))
