// SPDX-License-Identifier: MIT
// `watch -metrics` in a build made without the Prometheus client library or
// libmicrohttpd: the option is understood, and refused with what to install.
#include "metrics_watch.h"

#include <cstdio>
#include <ctime>

struct MetricsWatch {};

MetricsWatch* metrics_watch_start(int, int, const std::string&) {
    fprintf(stderr, "pacelag-lab: this build has no metrics: install prometheus-cpp-dev and "
                    "libmicrohttpd-dev (scripts/deps.sh does) and build again\n");
    return nullptr;
}

std::string metrics_watch_address(const MetricsWatch*) {
    return std::string();
}

void metrics_watch_feed(MetricsWatch*, double, const std::vector<LabSock>&) {}

void metrics_watch_stop(MetricsWatch*) {}

double metrics_watch_now() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) + ts.tv_nsec / 1e9;
}
