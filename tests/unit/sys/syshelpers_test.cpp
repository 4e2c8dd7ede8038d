// SPDX-License-Identifier: MIT
// Socket, sleep and clock helpers on real descriptors and the real clock.
#include "pacelag/util.h"

#include <cerrno>
#include <ctime>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

namespace {
int64_t monotonicns() {
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}
} // namespace

TEST(SysHelpers, BlockingModeAndClosedDescriptors) {
    int fds[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
    ASSERT_EQ(setblocking(fds[0], false), 0);
    char byte;
    EXPECT_EQ(recv(fds[0], &byte, 1, 0), -1);
    EXPECT_STREQ(lasterrtext(), "Operation would block");
    // Back to blocking: a byte already queued is read normally.
    ASSERT_EQ(setblocking(fds[0], true), 0);
    ASSERT_EQ(send(fds[1], "x", 1, 0), 1);
    EXPECT_EQ(recv(fds[0], &byte, 1, 0), 1);
    closefd(fds[0]);
    closefd(fds[1]);
    EXPECT_EQ(setblocking(fds[0], false), -1);
    EXPECT_EQ(lasterror(), EBADF);
    errno = 0;
    closefd(-1); // ignored, errno untouched
    EXPECT_EQ(errno, 0);
}

TEST(SysHelpers, SleepDurations) {
    struct {
        int64_t ns, atleast, below;
    } cases[] = {
        {0, 0, 50000000},
        {-1500000000, 0, 50000000},
        {20000000, 20000000, 1000000000},
        {1000000001, 1000000001, 3000000000},
    };
    for (const auto& c : cases) {
        int64_t start = monotonicns();
        sleepns(c.ns);
        int64_t took = monotonicns() - start;
        EXPECT_GE(took, c.atleast) << c.ns;
        EXPECT_LT(took, c.below) << c.ns;
    }
}

TEST(SysHelpers, ClocksAgreeWithGettimeofday) {
    struct timeval before, after;
    gettimeofday(&before, nullptr);
    int64_t ns = nowns();
    uint32_t ms = nowms();
    gettimeofday(&after, nullptr);
    int64_t lo = before.tv_sec * 1000000000LL + before.tv_usec * 1000LL;
    int64_t hi = after.tv_sec * 1000000000LL + after.tv_usec * 1000LL;
    EXPECT_GE(ns, lo);
    EXPECT_LE(ns, hi);
    EXPECT_EQ(ns % 1000, 0); // microsecond resolution
    // Only the low 32 bits survive; differences still work across the wrap.
    uint64_t mslo = static_cast<uint64_t>(lo / 1000000), mshi = static_cast<uint64_t>(hi / 1000000);
    EXPECT_LE(static_cast<uint32_t>(ms - static_cast<uint32_t>(mslo)),
              static_cast<uint32_t>(mshi - mslo));
}

TEST(SysHelpers, CpuCountMatchesSystem) {
    long n = sysconf(_SC_NPROCESSORS_ONLN);
    EXPECT_EQ(cpucount(), (n >= 1 && n <= 10000) ? static_cast<int>(n) : 4);
}
