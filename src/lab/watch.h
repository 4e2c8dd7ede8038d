// SPDX-License-Identifier: MIT
// `pacelag-lab watch`: the queues of every connection on one port, sampled at
// an interval and printed as aligned columns (optionally also as CSV).
#pragma once

#include <string>

struct WatchOptions {
    int port = 5000;
    int interval_ms = 1000;
    std::string csv;     // empty: no CSV
    std::string metrics; // ADDRESS:PORT to serve /metrics on; empty: none
    bool quiet = false;  // no line per connection and sample
};

// Runs until lab_stop is set; 0 then, 1 when the kernel refuses the
// diagnostics, the CSV file cannot be written or the metrics address cannot
// be served.
int lab_watch(const WatchOptions& options);
