// SPDX-License-Identifier: MIT
// `pacelag-lab watch`: the queues of every connection on one port, sampled at
// an interval and printed as aligned columns (optionally also as CSV), or
// written as the lab's JSON stream.
#pragma once

#include <string>

struct WatchOptions {
    int port = 5000;
    int interval_ms = 1000;
    std::string csv;   // empty: no CSV
    bool json = false; // the JSON stream on stdout instead of columns
};

// Runs until lab_stop is set; 0 then, 1 when the kernel refuses the
// diagnostics or the CSV file cannot be written.
int lab_watch(const WatchOptions& options);
