// SPDX-License-Identifier: MIT
// `pacelag-lab watch`: the queues of every connection on one port, sampled at
// an interval and printed as aligned columns (optionally also as CSV), or
// written as the lab's JSON stream.
#pragma once

#include <ctime>
#include <string>

struct WatchOptions {
    int port = 5000;
    int interval_ms = 1000;
    std::string csv;     // empty: no CSV
    bool json = false;   // the JSON stream on stdout instead of columns
    std::string metrics; // ADDRESS:PORT to serve /metrics on; empty: none
    bool quiet = false;  // no line per connection and sample
};

// Runs until lab_stop is set; 0 then, 1 when the kernel refuses the
// diagnostics, the CSV file cannot be written or the metrics address cannot
// be served.
int lab_watch(const WatchOptions& options);

// Sleeps until `when` on the monotonic clock or until lab_stop is set,
// whichever comes first, looking at the flag at least every 50 ms: a stop
// that lands outside the sleep itself (a signal taken just before it) still
// ends the wait in time, at any interval. False when stopped.
bool watch_sleep_until(const timespec& when);
