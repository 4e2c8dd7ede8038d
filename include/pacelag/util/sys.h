// SPDX-License-Identifier: MIT
// Part of pacelag/util.h: the library's own texts for system error numbers and
// thin wrappers over sockets, sleeping, clocks and processor count.
#pragma once

#include <cstdint>

// Declarations here are exported from the shared library; the rest of it is hidden.
#pragma GCC visibility push(default)

// Constant English text for a Linux error number 1..125; "Unknown error" for
// anything else (0, 41, 58, negatives, above 125). Never null.
const char* errtext(int number);
// The calling thread's errno; read it directly after the failed call.
int lasterror();
const char* lasterrtext();

// Switches the descriptor's non-blocking mode (FIONBIO). 0, or -1 with errno set.
int setblocking(int fd, bool blocking);
// Closes fd when it is 0 or more.
void closefd(int fd);
// One nanosleep; an interrupted sleep is not resumed, a negative one returns at once.
void sleepns(int64_t nanoseconds);
// Wall clock in nanoseconds since the epoch (microsecond resolution).
int64_t nowns();
// Wall clock in milliseconds, low 32 bits only: for differences over short spans.
uint32_t nowms();
// Online processors when the system reports 1..10000, else 4.
int cpucount();

#pragma GCC visibility pop
