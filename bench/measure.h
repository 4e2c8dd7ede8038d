// SPDX-License-Identifier: MIT
// Clock and machine-load helpers shared by the measuring programs.
#pragma once

#include <cstdio>
#include <ctime>
#include <string>
#include <sys/time.h>

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
