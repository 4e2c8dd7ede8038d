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

struct StartArgs {
    std::atomic<int64_t> tid{0};
    utilevent* done = nullptr;
};

void* recordtid(void* p) {
    auto* args = static_cast<StartArgs*>(p);
    args->tid = threadid();
    eventsignal(args->done);
    return nullptr;
}

int32_t pendingof(utilevent* event) {
    pthread_mutex_lock(&event->mutex);
    int32_t pending = event->pending;
    pthread_mutex_unlock(&event->mutex);
    return pending;
}

bool tokenalphabet(const char* token) {
    static const char symbols[] =
        "0123456789aAbBcCdDeEfFgGhHiIjJkKlLmMnNoOpPqQrRsStTuUvVwWxXyYzZ-_";
    return std::strspn(token, symbols) == std::strlen(token);
}
} // namespace

TEST(Threads, DetachedThreadRunsWithItsOwnId) {
    StartArgs args;
    ASSERT_EQ(eventcreate(&args.done), 0);
    pthread_t handle;
    ASSERT_EQ(threadstart(&handle, recordtid, &args), 0);
    EXPECT_EQ(eventwait(args.done, 5000), 0);
    EXPECT_GT(args.tid.load(), 0);
    EXPECT_NE(args.tid.load(), threadid());
    EXPECT_EQ(threadid(), static_cast<int64_t>(getpid())); // the main thread's id is the pid
    // The detached thread may still be unwinding; give it a moment before the
    // event goes away under it.
    usleep(20000);
    eventfree(args.done);
}

TEST(Threads, PendingSignalsAreTakenAtOnce) {
    utilevent* event = nullptr;
    ASSERT_EQ(eventcreate(&event), 0);
    EXPECT_EQ(eventsignal(event), 0);
    EXPECT_EQ(eventsignal(event), 0);
    auto start = Clock::now();
    EXPECT_EQ(eventwait(event, 10000), 0);
    EXPECT_EQ(eventwait(event, 10000), 0);
    EXPECT_LT(millisecondssince(start), 1000);
    EXPECT_EQ(pendingof(event), 0);

    // Nothing pending: a short wait times out after about its timeout.
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
    const int waiters = 4, signals = 400;
    std::atomic<bool> stop{false};
    std::atomic<int> zeroes{0};
    std::vector<std::thread> threads;
    for (int i = 0; i < waiters; ++i) {
        threads.emplace_back([&] {
            while (!stop) {
                if (eventwait(event, 20) == 0) ++zeroes;
            }
        });
    }
    for (int i = 0; i < signals; ++i) {
        eventsignal(event);
        if (i % 50 == 0) usleep(1000);
    }
    auto start = Clock::now();
    while (pendingof(event) > 0 && millisecondssince(start) < 10000) usleep(1000);
    stop = true;
    for (auto& t : threads) t.join();
    EXPECT_EQ(pendingof(event), 0) << "signals left untaken";
    EXPECT_GT(zeroes.load(), 0);

    // Nothing was taken twice: one new signal is there for exactly one wait.
    eventsignal(event);
    EXPECT_EQ(eventwait(event, 0), 0);
    EXPECT_EQ(eventwait(event, 0), 110);
    eventfree(event);
}

TEST(Threads, BroadcastWakesEveryWaiterAndConsumesNothing) {
    utilevent* event = nullptr;
    ASSERT_EQ(eventcreate(&event), 0);
    const int waiters = 3;
    std::atomic<int> woken{0};
    std::atomic<int> results{0};
    std::vector<std::thread> threads;
    for (int i = 0; i < waiters; ++i) {
        threads.emplace_back([&] {
            results += eventwait(event, 10000);
            ++woken;
        });
    }
    // Broadcast until every waiter has returned (a waiter may not be waiting yet).
    auto start = Clock::now();
    while (woken < waiters && millisecondssince(start) < 10000) {
        eventbroadcast(event);
        usleep(5000);
    }
    for (auto& t : threads) t.join();
    EXPECT_EQ(woken.load(), waiters);
    EXPECT_EQ(results.load(), 0);
    EXPECT_EQ(pendingof(event), 0);

    // A broadcast with nobody waiting leaves nothing behind.
    eventbroadcast(event);
    EXPECT_EQ(eventwait(event, 10), 110);
    eventfree(event);
}

TEST(Threads, CreateFailsCleanlyWithoutMemory) {
    utilevent* event = reinterpret_cast<utilevent*>(1);
    util_failalloc(0);
    EXPECT_EQ(eventcreate(&event), -1);
    util_failalloc(-1);
    EXPECT_EQ(event, nullptr);
}

TEST(Random, ReadsAndTokens) {
    int fd = 123;
    ASSERT_EQ(randomopen(fd), 0);
    ASSERT_GE(fd, 0);
    unsigned char bytes[32] = {};
    EXPECT_EQ(randomread(fd, bytes, sizeof bytes), 0);
    EXPECT_EQ(fcntl(fd, F_GETFD) & FD_CLOEXEC, FD_CLOEXEC);
    EXPECT_EQ(randomread(-1, bytes, 4), -1);

    std::set<std::string> seen;
    char token[32];
    for (int i = 0; i < 10000; ++i) {
        int n = randomtoken(fd, token, sizeof token);
        ASSERT_EQ(n, static_cast<int>(std::strlen(token)));
        ASSERT_GE(n, 2);
        ASSERT_LE(n, 24);
        ASSERT_TRUE(tokenalphabet(token)) << token;
        seen.insert(token);
    }
    EXPECT_EQ(seen.size(), 10000u);

    // Truncation keeps the terminator inside the buffer.
    char small[8];
    std::memset(small, 'Z', sizeof small);
    int n = randomtoken(fd, small, sizeof small);
    EXPECT_EQ(n, static_cast<int>(std::strlen(small)));
    EXPECT_LE(n, 7);
    close(fd);
}

TEST(Random, FallbackTokensNeverRepeatAcrossThreads) {
    // Without a descriptor the time and a shared counter make the token; the
    // counter must hand out distinct values to threads racing for it.
    const int threads = 4, each = 2000;
    std::vector<std::vector<std::string>> made(threads);
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t) {
        workers.emplace_back([&, t] {
            char token[32];
            for (int i = 0; i < each; ++i) {
                randomtoken(-1, token, sizeof token);
                made[static_cast<size_t>(t)].push_back(token);
            }
        });
    }
    for (auto& w : workers) w.join();
    std::set<std::string> seen;
    size_t total = 0;
    for (const auto& list : made) {
        for (const auto& token : list) {
            EXPECT_TRUE(tokenalphabet(token.c_str())) << token;
            seen.insert(token);
            ++total;
        }
    }
    // Tokens made within the same second differ by the counter alone.
    EXPECT_EQ(seen.size(), total);

    int32_t flag = 42;
    clearint(flag);
    EXPECT_EQ(flag, 0);
}
