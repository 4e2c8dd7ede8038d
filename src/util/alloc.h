// SPDX-License-Identifier: MIT
// Private allocation entry points of the library. Everything the library
// allocates goes through these so that tests can make the n-th allocation fail
// and check the out-of-memory paths. Blocks are ordinary malloc blocks: callers
// release them with free().
#pragma once

#include <cstddef>

void* util_malloc(size_t size);
void* util_calloc(size_t count, size_t size);
void* util_realloc(void* block, size_t size);
char* util_strdup(const char* text);
char* util_strndup(const char* text, size_t length);

// Test hook: the next `after` allocations succeed, the one after them fails,
// and so does every later one until util_failalloc(-1) switches failures off.
// Not thread-safe; meant for single-threaded tests only.
void util_failalloc(int after);
