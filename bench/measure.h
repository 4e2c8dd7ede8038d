// SPDX-License-Identifier: MIT
// Clock, machine-load and contention helpers shared by the measuring
// programs.
#pragma once

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <sys/prctl.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

// One measured run: the achieved rate and CPU seconds per second of the
// pacing process (negative when unknown).
struct Measured {
    double achieved = 0;
    double cpu = -1;
};

inline double now() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

inline double seconds(const timeval& tv) {
    return static_cast<double>(tv.tv_sec) + static_cast<double>(tv.tv_usec) * 1e-6;
}

// Other work on the machine takes cores from the paced process; the tables
// show how busy the machine was.
inline std::string loadavg() {
    char text[128] = "";
    FILE* f = fopen("/proc/loadavg", "r");
    if (f) {
        if (!fgets(text, sizeof text, f)) text[0] = 0;
        fclose(f);
    }
    std::string s = text;
    while (!s.empty() && s.back() == '\n') s.pop_back();
    return s;
}

// The first three fields of /proc/loadavg, as uptime shows them.
inline std::string loadshort() {
    std::string s = loadavg();
    size_t end = 0;
    for (int field = 0; field < 3 && end != std::string::npos; ++field)
        end = s.find(' ', end + (field > 0 ? 1 : 0));
    return end == std::string::npos ? s : s.substr(0, end);
}

// A whole number from the environment, or `fallback` when unset or not a
// number.
inline int envnumber(const char* name, int fallback) {
    const char* text = getenv(name);
    if (!text || !*text) return fallback;
    char* end = nullptr;
    long value = strtol(text, &end, 10);
    return *end == 0 && value >= 0 && value <= 1000 ? static_cast<int>(value) : fallback;
}

// Processes that spin at ordinary priority for as long as this object lives,
// competing with whatever is measured meanwhile, as a busy machine does. They
// die with the measuring program too, however it ends.
class BusyLoops {
  public:
    explicit BusyLoops(int count) {
        const pid_t parent = getpid();
        for (int i = 0; i < count; ++i) {
            pid_t pid = fork();
            if (pid == 0) {
                prctl(PR_SET_PDEATHSIG, SIGKILL);
                if (getppid() != parent) _exit(0);
                for (;;) __asm__ volatile("" ::: "memory");
            }
            if (pid > 0) pids_.push_back(pid);
        }
    }
    ~BusyLoops() {
        for (pid_t pid : pids_) kill(pid, SIGKILL);
        for (pid_t pid : pids_) waitpid(pid, nullptr, 0);
    }
    BusyLoops(const BusyLoops&) = delete;
    BusyLoops& operator=(const BusyLoops&) = delete;
    int count() const { return static_cast<int>(pids_.size()); }

  private:
    std::vector<pid_t> pids_;
};
