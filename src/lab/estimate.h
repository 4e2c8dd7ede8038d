// SPDX-License-Identifier: MIT
// How long a request waits, by Little's law: the bytes queued between the
// client's send call and the server's read, over the rate at which the server
// really takes bytes in, measured from the kernel's counters.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>

// The server's consumed rate over the last second: growth of the bytes its
// socket received less growth of its receive queue, i.e. what the program read.
class ConsumedRate {
  public:
    // One sample of the server socket. A new cookie (another connection)
    // starts the window afresh: its counters begin at zero.
    void add(double t, uint64_t cookie, uint64_t received, uint32_t recvq);
    // The server socket was absent at this sample.
    void lost() {
        window_.clear();
        recent_.clear();
    }
    // Bytes per second over the last second: the median of that rate as the
    // last five samples saw it. False while less than a second of history
    // exists.
    bool rate(double& bps) const;

  private:
    static constexpr size_t kRecent = 5;
    struct Point {
        double t;
        uint64_t consumed;
    };
    uint64_t cookie_ = 0;
    std::deque<Point> window_;
    std::deque<double> recent_; // the rate at each of the last samples
};

// Milliseconds the newest byte will wait; false when the rate is unknown or 0.
bool estimate_delay_ms(uint64_t queued, bool haverate, double bps, double& ms);
