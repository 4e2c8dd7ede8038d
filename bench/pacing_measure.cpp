// SPDX-License-Identifier: MIT
// Measures how closely the pacelag binary keeps its requested rate, as client
// against a reader that keeps up and as server fed by a writer that keeps its
// receive queue full, and what CPU share that costs. A plain loop of relative
// sleeps, the obvious way to pace, runs first as the baseline.
//
//   pacing_measure [seconds per run, default 5] [rates..., default 10 to 100000]
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <sys/resource.h>
#include <vector>

#include "pacelag_sides.h"

namespace {
const int kRates[] = {10, 100, 1000, 10000, 100000};
void row(const char* side, int rate, double achieved, double cpu) {
    printf("| %-8s | %9d | %11.1f | %6.3f | %7.3f |\n", side, rate, achieved, achieved / rate, cpu);
    fflush(stdout);
}

// Relative sleeps of one interval, timed in this thread.
void baseline(int rate, double duration) {
    const long interval = 1000000000L / rate;
    rusage before, after;
    getrusage(RUSAGE_THREAD, &before);
    double start = now();
    long long n = 0;
    Slope slope;
    while (now() - start < duration) {
        timespec ts = {interval / 1000000000L, interval % 1000000000L};
        nanosleep(&ts, nullptr);
        ++n;
        slope.sample(now(), n, start);
    }
    double wall = now() - start;
    getrusage(RUSAGE_THREAD, &after);
    double cpu = seconds(after.ru_utime) - seconds(before.ru_utime) + seconds(after.ru_stime) -
                 seconds(before.ru_stime);
    row("sleep", rate, slope.rate(), cpu / wall);
}
} // namespace

int main(int argc, char** argv) {
    double duration = argc > 1 ? atof(argv[1]) : 5;
    if (duration <= 0) duration = 5;
    std::vector<int> rates;
    for (int i = 2; i < argc; ++i)
        if (atoi(argv[i]) > 0) rates.push_back(atoi(argv[i]));
    if (rates.empty()) rates.assign(std::begin(kRates), std::end(kRates));
    signal(SIGPIPE, SIG_IGN);
    printf("pacelag pacing on loopback: %.0f s per run after %.1f s warm-up, padding %d bytes\n",
           duration, kWarmup, kPacelagPadlen);
    printf("sleep = a loop of relative nanosleep(interval) in this process (the baseline)\n");
    printf("load average before: %s\n", loadavg().c_str());
    printf("\n| side     | requested |    achieved |  ratio | CPU s/s |\n");
    printf("|----------|-----------|-------------|--------|---------|\n");
    for (int rate : rates) baseline(rate, duration < 2 ? duration : 2);
    for (int rate : rates) {
        Measured m = measureclient(rate, duration);
        row("client", rate, m.achieved, m.cpu);
    }
    for (int rate : rates) {
        Measured m = measureserver(rate, duration);
        row("server", rate, m.achieved, m.cpu);
    }
    printf("\nload average after: %s\n", loadavg().c_str());
    return 0;
}
