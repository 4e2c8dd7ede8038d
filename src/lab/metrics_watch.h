// SPDX-License-Identifier: MIT
// What `watch -metrics` adds to the watch loop: an exporter that serves the
// watched port's metrics and takes every sample the loop makes.
#pragma once

#include "sampler.h"

#include <string>
#include <vector>

struct MetricsWatch;

// Binds `address` and serves /metrics for `port`, then says where on stdout.
// nullptr after printing why to stderr (the address is in use or cannot be
// bound, or this build has no metrics).
MetricsWatch* metrics_watch_start(int port, int interval_ms, const std::string& address);
// One sample of the loop, stamped with metrics_watch_now().
// The address the server listens on, port included (a port 0 asked for is
// the one the kernel chose).
std::string metrics_watch_address(const MetricsWatch* m);
void metrics_watch_feed(MetricsWatch* m, double t, const std::vector<LabSock>& socks);
// Stops serving and frees everything; nullptr is fine.
void metrics_watch_stop(MetricsWatch* m);
// Seconds on the clock the samples are stamped with.
double metrics_watch_now();
