// SPDX-License-Identifier: MIT
// Detached threads, events and the random source.
#include "pacelag/util.h"

#include "alloc.h"
#include "check.h"

#include <atomic>
#include <cerrno>
#include <ctime>
#include <fcntl.h>
#include <sys/syscall.h>
#include <sys/time.h>
#include <unistd.h>

namespace {
// Fallback counter for tokens when no random bytes can be read. Atomic so that
// threads taking the fallback at the same time still get distinct tokens.
std::atomic<int32_t> tokencounter{0};
} // namespace

int64_t threadid() {
    return static_cast<int64_t>(syscall(SYS_gettid));
}

int threadstart(pthread_t* handle, void* (*routine)(void*), void* argument) {
    UTIL_CHECK(handle != nullptr && routine != nullptr);
    pthread_attr_t attr;
    if (pthread_attr_init(&attr) != 0) return -1;
    pthread_attr_setstacksize(&attr, 1024000);
    pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
    int result = pthread_create(handle, &attr, routine, argument);
    pthread_attr_destroy(&attr);
    return result == 0 ? 0 : -1;
}

int eventcreate(utilevent** event) {
    UTIL_CHECK(event != nullptr);
    *event = static_cast<utilevent*>(util_calloc(1, sizeof(utilevent)));
    if (*event == nullptr) return -1;
    int mutexresult = pthread_mutex_init(&(*event)->mutex, nullptr);
    int condresult = pthread_cond_init(&(*event)->cond, nullptr);
    int sum = mutexresult + condresult;
    if (sum != 0) {
        // Destroy only what was initialised; destroying the rest is undefined.
        if (condresult == 0) pthread_cond_destroy(&(*event)->cond);
        if (mutexresult == 0) pthread_mutex_destroy(&(*event)->mutex);
        std::free(*event);
        *event = nullptr;
    }
    return sum;
}

int eventwait(utilevent* event, int timeout) {
    UTIL_CHECK(event != nullptr);
    if (timeout < 0) timeout = 0;
    pthread_mutex_lock(&event->mutex);
    if (event->pending > 0) {
        --event->pending;
        pthread_mutex_unlock(&event->mutex);
        return 0;
    }
    struct timeval now;
    gettimeofday(&now, nullptr);
    struct timespec deadline;
    int64_t nanoseconds = (static_cast<int64_t>(timeout % 1000) * 1000 + now.tv_usec) * 1000;
    deadline.tv_sec = now.tv_sec + timeout / 1000 + static_cast<time_t>(nanoseconds / 1000000000);
    deadline.tv_nsec = static_cast<long>(nanoseconds % 1000000000);
    // One wait only: a broadcast, a spurious wake-up or the deadline ends it.
    int result = pthread_cond_timedwait(&event->cond, &event->mutex, &deadline);
    if (event->pending > 0) --event->pending;
    pthread_mutex_unlock(&event->mutex);
    return result;
}

int eventsignal(utilevent* event) {
    UTIL_CHECK(event != nullptr);
    pthread_mutex_lock(&event->mutex);
    ++event->pending;
    pthread_cond_signal(&event->cond);
    return pthread_mutex_unlock(&event->mutex);
}

int eventbroadcast(utilevent* event) {
    UTIL_CHECK(event != nullptr);
    pthread_mutex_lock(&event->mutex);
    pthread_cond_broadcast(&event->cond);
    return pthread_mutex_unlock(&event->mutex);
}

void eventfree(utilevent* event) {
    if (event == nullptr) return;
    pthread_cond_destroy(&event->cond);
    pthread_mutex_destroy(&event->mutex);
    std::free(event);
}

int randomopen(int& fd) {
    fd = open("/dev/urandom", O_RDONLY);
    return fd >= 0 ? 0 : -1;
}

int randomread(int fd, void* buffer, int count) {
    UTIL_CHECK(buffer != nullptr);
    if (count < 0) return -1;
    fcntl(fd, F_SETFD, FD_CLOEXEC);
    ssize_t got = read(fd, buffer, static_cast<size_t>(count));
    return got == count ? 0 : -1;
}

int randomtoken(int fd, char* buffer, int size) {
    UTIL_CHECK(buffer != nullptr);
    int64_t values[2];
    if (randomread(fd, values, sizeof values) != 0) {
        values[0] = static_cast<int64_t>(time(nullptr));
        values[1] = tokencounter.fetch_add(1, std::memory_order_relaxed);
    }
    char work[64];
    int length = long2b64(work, values[0]);
    long2b64(work + length, values[1]);
    return strcopy(buffer, work, size);
}

void clearint(int32_t& value) {
    value = 0;
}
