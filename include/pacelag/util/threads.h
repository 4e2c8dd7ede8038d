// SPDX-License-Identifier: MIT
// Part of pacelag/util.h: detached threads, events (counting wake-ups on a
// condition variable) and the random source.
#pragma once

#include <cstdint>
#include <pthread.h>

// Declarations here are exported from the shared library; the rest of it is hidden.
#pragma GCC visibility push(default)

// The caller's kernel thread id (gettid).
int64_t threadid();
// Starts a detached thread with a 1024000-byte stack. 0, or -1 when not created.
int threadstart(pthread_t* handle, void* (*routine)(void*), void* argument);

// An event counts signals that no waiter has taken yet.
struct utilevent {
    pthread_cond_t cond;
    pthread_mutex_t mutex;
    int32_t pending;
};

// 0 on success, -1 when out of memory, else the non-zero sum of the init
// results; after a non-zero result *event must not be used.
int eventcreate(utilevent** event);
// Takes a pending signal at once (0), else makes one timed wait of `timeout`
// milliseconds and returns its result (0, or 110 on time-out). A negative
// timeout counts as 0.
int eventwait(utilevent* event, int timeout);
// Adds one pending signal and wakes at most one waiter.
int eventsignal(utilevent* event);
// Wakes every waiter without adding a pending signal.
int eventbroadcast(utilevent* event);
void eventfree(utilevent* event); // null accepted

// Opens /dev/urandom read-only: 0, or -1 with fd set to -1.
int randomopen(int& fd);
// One read of exactly count bytes (descriptor made close-on-exec): 0, else -1.
int randomread(int fd, void* buffer, int count);
// Writes a token of two base-64 numbers (up to 24 characters) truncated to
// size - 1; falls back to the time and a process-wide counter when fd cannot
// be read. Returns the length stored.
int randomtoken(int fd, char* buffer, int size);

// Resets a caller's flag or counter to 0.
void clearint(int32_t& value);

#pragma GCC visibility pop
