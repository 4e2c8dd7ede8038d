// SPDX-License-Identifier: MIT
// Threads, events and the random source under real threads.
#include "pacelag/util.h"

#include "alloc.h"

#include <atomic>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <set>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {
using Clock = std::chrono::steady_clock;

long long millisecondssince(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

int32_t pendingof(utilevent* event) {
    pthread_mutex_lock(&event->mutex);
    int32_t pending = event->pending;
    pthread_mutex_unlock(&event->mutex);
    return pending;
}

const char* const alphabet = "0123456789aAbBcCdDeEfFgGhHiIjJkKlLmMnNoOpPqQrRsStTuUvVwWxXyYzZ-_";
} // namespace

TEST(Threads, DetachedThreadRunsWithItsOwnId) {
    struct {
        std::atomic<int64_t> tid{0};
        utilevent* done = nullptr;
    } args;
    ASSERT_EQ(eventcreate(&args.done), 0);
    auto record = [](void* p) -> void* {
        auto* a = static_cast<decltype(args)*>(p);
        a->tid = threadid();
        eventsignal(a->done);
        return nullptr;
    };
    pthread_t handle;
    ASSERT_EQ(threadstart(&handle, record, &args), 0);
    EXPECT_EQ(eventwait(args.done, 5000), 0);
    EXPECT_GT(args.tid.load(), 0);
    EXPECT_NE(args.tid.load(), threadid());
    EXPECT_EQ(threadid(), static_cast<int64_t>(getpid())); // the main thread's id is the pid
    // The detached thread may still be unwinding; give it a moment before the
    // event goes away under it.
    usleep(20000);
    eventfree(args.done);
}

TEST(Threads, PendingSignalsAreTakenAtOnceElseTheWaitTimesOut) {
    utilevent* event = reinterpret_cast<utilevent*>(1);
    util_failalloc(0);
    EXPECT_EQ(eventcreate(&event), -1);
    util_failalloc(-1);
    EXPECT_EQ(event, nullptr);

    ASSERT_EQ(eventcreate(&event), 0);
    EXPECT_EQ(eventsignal(event), 0);
    EXPECT_EQ(eventsignal(event), 0);
    auto start = Clock::now();
    EXPECT_EQ(eventwait(event, 10000), 0);
    EXPECT_EQ(eventwait(event, 10000), 0);
    EXPECT_LT(millisecondssince(start), 1000);
    // Both signals are used up: the next wait times out after about its timeout.
    start = Clock::now();
    EXPECT_EQ(eventwait(event, 150), 110);
    long long took = millisecondssince(start);
    EXPECT_GE(took, 140);
    EXPECT_LT(took, 5000);
    EXPECT_EQ(eventwait(event, -5), 110); // a negative timeout does not wait
    eventfree(event);
    eventfree(nullptr);
}

TEST(Threads, EverySignalTakenExactlyOnce) {
    // A wait's result of 0 does not tell whether that waiter took the signal
    // (another may have taken it first), so count what is left pending.
    utilevent* event = nullptr;
    ASSERT_EQ(eventcreate(&event), 0);
    std::atomic<bool> stop{false};
    std::atomic<int> zeroes{0};
    std::vector<std::thread> threads;
    for (int i = 0; i < 4; ++i) {
        threads.emplace_back([&] {
            while (!stop)
                if (eventwait(event, 20) == 0) ++zeroes;
        });
    }
    for (int i = 0; i < 400; ++i) {
        eventsignal(event);
        if (i % 50 == 0) usleep(1000);
    }
    auto start = Clock::now();
    while (pendingof(event) > 0 && millisecondssince(start) < 10000) usleep(1000);
    stop = true;
    for (auto& t : threads) t.join();
    EXPECT_EQ(pendingof(event), 0) << "signals left untaken";
    EXPECT_GT(zeroes.load(), 0);
    eventfree(event);
}

TEST(Threads, BroadcastWakesEveryWaiterAndConsumesNothing) {
    utilevent* event = nullptr;
    ASSERT_EQ(eventcreate(&event), 0);
    std::atomic<int> woken{0}, results{0};
    std::vector<std::thread> threads;
    for (int i = 0; i < 3; ++i) {
        threads.emplace_back([&] {
            results += eventwait(event, 10000);
            ++woken;
        });
    }
    // Broadcast until every waiter has returned (a waiter may not be waiting yet).
    auto start = Clock::now();
    while (woken < 3 && millisecondssince(start) < 10000) {
        eventbroadcast(event);
        usleep(5000);
    }
    for (auto& t : threads) t.join();
    EXPECT_EQ(results.load(), 0) << "a waiter timed out";
    EXPECT_EQ(pendingof(event), 0);

    // A broadcast with nobody waiting leaves nothing behind.
    eventbroadcast(event);
    EXPECT_EQ(eventwait(event, 10), 110);
    eventfree(event);
}

TEST(Random, ReadsAndTokens) {
    int fd = 123;
    ASSERT_EQ(randomopen(fd), 0);
    ASSERT_GE(fd, 0);
    unsigned char bytes[32] = {};
    EXPECT_EQ(randomread(fd, bytes, sizeof bytes), 0);
    EXPECT_EQ(fcntl(fd, F_GETFD) & FD_CLOEXEC, FD_CLOEXEC); // set by the read
    EXPECT_EQ(randomread(-1, bytes, 4), -1);

    std::set<std::string> seen;
    char token[32];
    for (int i = 0; i < 10000; ++i) {
        int n = randomtoken(fd, token, sizeof token);
        ASSERT_TRUE(n == static_cast<int>(std::strlen(token)) && n >= 2 && n <= 24 &&
                    std::strspn(token, alphabet) == std::strlen(token))
            << n << " " << token;
        seen.insert(token);
    }
    EXPECT_EQ(seen.size(), 10000u);

    // Truncation keeps the terminator inside the buffer.
    char small[8];
    EXPECT_EQ(randomtoken(fd, small, sizeof small), 7);
    EXPECT_EQ(std::strlen(small), 7u);
    close(fd);
}

TEST(Random, FallbackTokensNeverRepeatAcrossThreads) {
    // Without a descriptor the time and a shared counter make the token; tokens
    // made within the same second differ by the counter alone, so the counter
    // must hand out distinct values to threads racing for it.
    const int each = 2000;
    std::vector<std::string> made[4];
    std::vector<std::thread> workers;
    for (auto& list : made) {
        workers.emplace_back([&list] {
            char token[32];
            for (int i = 0; i < each; ++i) {
                randomtoken(-1, token, sizeof token);
                list.push_back(token);
            }
        });
    }
    for (auto& w : workers) w.join();
    std::set<std::string> seen;
    for (const auto& list : made) seen.insert(list.begin(), list.end());
    EXPECT_EQ(seen.size(), 4u * each);

    int32_t flag = 42;
    clearint(flag);
    EXPECT_EQ(flag, 0);
}
