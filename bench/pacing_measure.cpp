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
#include <string>
#include <vector>

#include "pacelag_sides.h"

namespace {
const int kRates[] = {10, 100, 1000, 10000, 100000};
// One run as it goes, on standard error, so that a long sitting shows progress.
void progress(const char* side, int rate, const Measured& m) {
    fprintf(stderr, "  %s at %d/s: %.1f/s, ratio %.3f at %.3f CPU\n", side, rate, m.achieved,
            m.achieved / rate, m.cpu);
}

// Relative sleeps of one interval, timed in this thread.
Measured baseline(int rate, double duration) {
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
    return {slope.rate(), cpu / wall};
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
    const std::string before = loadshort();
    std::vector<Measured> sleeps, clients, servers;
    for (int rate : rates) {
        sleeps.push_back(baseline(rate, duration < 2 ? duration : 2));
        progress("sleep", rate, sleeps.back());
    }
    for (int rate : rates) {
        clients.push_back(measureclient(rate, duration));
        progress("client", rate, clients.back());
    }
    for (int rate : rates) {
        servers.push_back(measureserver(rate, duration));
        progress("server", rate, servers.back());
    }
    // The table as the README shows it.
    printf("\nload average %s before, %s after\n\n", before.c_str(), loadshort().c_str());
    printf("| rate   | client ratio | server ratio | CPU (client / server) | plain sleep loop |\n");
    printf("|--------|--------------|--------------|-----------------------|------------------|\n");
    for (size_t i = 0; i < rates.size(); ++i) {
        char cpu[64];
        snprintf(cpu, sizeof cpu, "%.1f %% / %.1f %%", clients[i].cpu * 100, servers[i].cpu * 100);
        printf("| %-6d | %-12.3f | %-12.3f | %-21s | %-16.3f |\n", rates[i],
               clients[i].achieved / rates[i], servers[i].achieved / rates[i], cpu,
               sleeps[i].achieved / rates[i]);
    }
    return 0;
}
