// SPDX-License-Identifier: MIT
// The HTTP side of the metrics: /metrics and nothing else, served by
// libmicrohttpd from one thread of its own, with limits on what a client may
// hold: the size of a request, the number of connections, idle time and the
// time a whole request may take.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <sys/socket.h>
#include <thread>

struct MHD_Daemon;

struct MetricsLimits {
    unsigned connections = 128;     // at once; more are closed when accepted
    unsigned request_bytes = 16384; // request line and headers, per connection
    unsigned idle_seconds = 3;      // with nothing received or sent
    double request_seconds = 5;     // from a connection's start, or its last answer
};

class MetricsServer {
  public:
    // Body of a scrape in the text format, or OpenMetrics.
    using Scrape = std::function<std::string(bool openmetrics)>;

    MetricsServer();
    ~MetricsServer();
    MetricsServer(const MetricsServer&) = delete;
    MetricsServer& operator=(const MetricsServer&) = delete;

    // Binds the address and starts serving. False with a message in `error`
    // (the address is in use, cannot be bound, ...).
    bool start(const char* address, Scrape scrape, std::string& error,
               const MetricsLimits& limits = MetricsLimits());
    // The bound address as "127.0.0.1:PORT" or "[::1]:PORT".
    const std::string& address() const { return bound_; }
    // Ends the thread and closes every connection; safe to call twice.
    void stop();

    struct State; // what the library's callbacks reach

  private:
    void loop();
    MHD_Daemon* daemon_ = nullptr;
    std::thread thread_;
    std::atomic<bool> stopping_{false};
    std::string bound_;
    std::unique_ptr<State> state_;
};
