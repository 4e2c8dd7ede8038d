// SPDX-License-Identifier: MIT
// How long a request waits, by Little's law: the bytes queued between the
// client's send call and the server's read, over the rate at which the server
// really takes bytes in, measured from the kernel's counters; and, since the
// server takes those bytes in steps (one read of one message each), the same
// refined by the size and phase of those steps.
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
        steps_.clear();
        last_step_t_ = -1;
    }
    // Bytes per second over the last second: the median of that rate as the
    // last five samples saw it. False while less than a second of history
    // exists.
    bool rate(double& bps) const;
    // The server's step: the bytes one rise of its consumption brought (the
    // median of the last few rises between samples) and the time of the
    // latest rise (midway between the sample before it and the one that saw
    // it). False before the first rise.
    bool step(double& bytes, double& at) const;

  private:
    static constexpr size_t kRecent = 5;
    static constexpr size_t kSteps = 9;
    struct Point {
        double t;
        uint64_t consumed;
    };
    uint64_t cookie_ = 0;
    std::deque<Point> window_;
    std::deque<double> recent_;  // the rate at each of the last samples
    std::deque<uint64_t> steps_; // the last rises of consumption
    double last_step_t_ = -1;
};

// Milliseconds the newest byte will wait were the server to take bytes in as
// an even flow; false when the rate is unknown or 0.
bool estimate_delay_ms(uint64_t queued, bool haverate, double bps, double& ms);

// Milliseconds until the server reads the newest queued byte, at time `t` (the
// time of the consumed rate's latest sample). The server reads one step at a
// time, one step per step/rate seconds: the newest byte goes with the last
// of the steps the queue holds, and the first of them comes one period after
// the latest rise. So the wait is (queued - step) / rate plus what is left of
// the current period (nothing once it is overdue), never below 0. An even
// flow would put it at queued / rate: for a message just queued that is half
// a period too long on average and off by up to a whole period in any one
// run, whose phase between client and server stays fixed. Without a step yet
// it is the even-flow figure; false when the rate is unknown or 0.
bool estimate_wait_ms(uint64_t queued, const ConsumedRate& consumed, double t, double& ms);
