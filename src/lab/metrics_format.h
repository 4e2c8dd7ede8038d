// SPDX-License-Identifier: MIT
// The two formats a scraper can get: the Prometheus text format 0.0.4 (what
// the client library writes) and OpenMetrics 1.0 (which that library does not
// write), and the choice between them from a request's Accept header.
#pragma once

#include <string>
#include <vector>

namespace prometheus {
struct MetricFamily;
}

extern const char kTextContentType[];        // text format 0.0.4
extern const char kOpenMetricsContentType[]; // OpenMetrics 1.0.0

// True when the Accept header ranks OpenMetrics above the text format: a
// media range application/openmetrics-text (version 1.0.0, 0.0.1 or none)
// with a quality above that of text/plain, text/* and */*. Without a header,
// or on a tie, the text format.
bool wants_openmetrics(const char* accept);

void write_text_format(std::string& out, const std::vector<prometheus::MetricFamily>& families);
// Gauges and counters (the only types the metrics use); a counter family's
// name without its "_total", which its samples carry. Ends with "# EOF".
void write_openmetrics(std::string& out, const std::vector<prometheus::MetricFamily>& families);
