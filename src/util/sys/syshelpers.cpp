// SPDX-License-Identifier: MIT
// Thin wrappers over sockets, sleeping, clocks and the processor count.
#include "pacelag/util.h"

#include <ctime>
#include <sys/ioctl.h>
#include <sys/time.h>
#include <unistd.h>

int setblocking(int fd, bool blocking) {
    int nonblocking = blocking ? 0 : 1;
    return ioctl(fd, FIONBIO, &nonblocking) == 0 ? 0 : -1;
}

void closefd(int fd) {
    if (fd >= 0) close(fd);
}

void sleepns(int64_t nanoseconds) {
    struct timespec ts;
    ts.tv_sec = static_cast<time_t>(nanoseconds / 1000000000);
    ts.tv_nsec = static_cast<long>(nanoseconds % 1000000000);
    nanosleep(&ts, nullptr); // a negative duration fails at once: no sleep
}

int64_t nowns() {
    struct timeval tv;
    gettimeofday(&tv, nullptr);
    return static_cast<int64_t>(tv.tv_sec) * 1000000000 + static_cast<int64_t>(tv.tv_usec) * 1000;
}

uint32_t nowms() {
    struct timeval tv;
    gettimeofday(&tv, nullptr);
    uint64_t ms =
        static_cast<uint64_t>(tv.tv_sec) * 1000 + static_cast<uint64_t>(tv.tv_usec) / 1000;
    return static_cast<uint32_t>(ms);
}

int cpucount() {
    long n = sysconf(_SC_NPROCESSORS_ONLN);
    return (n >= 1 && n <= 10000) ? static_cast<int>(n) : 4;
}
