// SPDX-License-Identifier: MIT
// When a run takes its samples and prints its progress: every 10 ms and
// every 5 s of the run's own clock.
#pragma once

#include <cmath>

// Samples every `every` seconds. Late (a busy machine), it carries on from
// now rather than catching up with samples a fraction of a millisecond apart.
class SampleSchedule {
  public:
    explicit SampleSchedule(double every, double first = 0) : every_(every), next_(first) {}
    double next() const { return next_; }
    bool due(double now) const { return now >= next_; }
    // A sample was taken at `now`.
    void taken(double now) {
        next_ += every_;
        if (next_ < now + 0.002) next_ = now + every_;
    }

  private:
    double every_;
    double next_;
};

// Milliseconds to wait for output before the next sample is due (0 when it
// is due now), rounded up so that the wait never ends early.
inline int wait_ms_until(double next, double now) {
    double ms = std::ceil((next - now) * 1000);
    return ms > 0 ? static_cast<int>(ms) : 0;
}
