// SPDX-License-Identifier: MIT
// The queue and wait metrics of one watched port, kept in a Prometheus
// registry: per side (the port is this end's, or the far end's) the number of
// connections, the queued bytes, the estimated wait, and counters that stay
// monotonic while connections come and go. Never one series per connection.
#pragma once

#include "estimate.h"
#include "sampler.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

namespace prometheus {
class Registry;
class Gauge;
class Counter;
} // namespace prometheus

// Which end of a connection the watched port is.
enum MetricsSide { kSideLocal = 0, kSideRemote = 1 };

class PortMetrics {
  public:
    explicit PortMetrics(int port);
    ~PortMetrics();
    PortMetrics(const PortMetrics&) = delete;
    PortMetrics& operator=(const PortMetrics&) = delete;

    // One sample of the connections on the port, taken at `t` seconds on a
    // monotonic clock. What connections that end have counted stays in the
    // counters.
    void update(double t, const std::vector<LabSock>& socks);
    // Seconds on the same clock of the newest sample; negative before any.
    double sampled_at() const { return sampled_at_; }
    // The registry's metrics in the text format 0.0.4, or OpenMetrics 1.0.
    std::string render(bool openmetrics) const;

  private:
    struct Conn {
        uint64_t received = 0, acked = 0, consumed = 0, retrans = 0;
        double seen = 0; // when a sample last held it
    };
    // How long a connection missing from the samples is remembered. A sample
    // may lack a live connection (one the watch loop has not queried for
    // yet, beside a scrape's own query); remembering it keeps its bytes from
    // being counted twice when it shows again.
    static constexpr double kRemember = 10.0;
    struct Side {
        std::unordered_map<uint64_t, Conn> live; // by socket cookie
        uint64_t moved = 0; // bytes that left the queue the wait is measured on
        ConsumedRate rate;
        prometheus::Gauge *connections = nullptr, *sendq = nullptr, *unsent = nullptr,
                          *recvq = nullptr, *wait = nullptr;
        prometheus::Counter *received = nullptr, *sent = nullptr, *retrans = nullptr;
    };
    int port_;
    double sampled_at_ = -1;
    std::shared_ptr<prometheus::Registry> registry_;
    Side sides_[2];
};

// The estimated wait of a side in seconds: 0 with nothing queued, +Inf when
// bytes are queued and nothing moved over the last second, NaN while the rate
// is not known yet.
double metrics_wait_seconds(uint64_t queued, bool haverate, double bps);

// What a scrape asks for: the watched port's metrics, sampled afresh when the
// newest sample is older than the watch interval. Shared by the watch loop
// (which feeds every sample it takes) and the HTTP thread (which scrapes).
class MetricsExporter {
  public:
    MetricsExporter(int port, int interval_ms);
    ~MetricsExporter();
    // Opens the exporter's own socket-diagnostics socket; false with errno.
    bool open();
    void feed(double t, const std::vector<LabSock>& socks);
    // The body of one scrape. At most one socket-diagnostics query.
    std::string scrape(bool openmetrics);
    // Queries made by scrapes so far (for the cost of a scrape).
    long queries() const { return queries_; }

  private:
    std::mutex mutex_;
    PortMetrics metrics_;
    int port_;
    double interval_;
    int fd_ = -1;
    long queries_ = 0;
    std::vector<LabSock> socks_;
};

// Seconds on CLOCK_MONOTONIC, the clock every sample is stamped with.
double metrics_now();
