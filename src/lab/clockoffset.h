// SPDX-License-Identifier: MIT
// The offset between two hosts' wall clocks, estimated in the NTP manner from
// request/answer exchanges over a channel between them: of all exchanges the
// one with the smallest round trip is kept, since its answer could be off by
// at most half that round trip.
#pragma once

// One exchange, in seconds: t1 asked here, t2 received there, t3 answered
// there, t4 the answer received here. t1 and t4 are on this host's clock, t2
// and t3 on the other's.
struct ClockExchange {
    double t1 = 0, t2 = 0, t3 = 0, t4 = 0;
};

class ClockOffset {
  public:
    // Takes one exchange; false (and ignored) when its times cannot be right:
    // not finite, answered before received, or received back before asked.
    bool add(const ClockExchange& e);
    bool known() const { return count_ > 0; }
    int exchanges() const { return count_; }
    // Seconds the other clock is ahead of this one; 0 while unknown.
    double offset() const { return offset_; }
    // Half the round trip of the exchange kept; the offset is right within it.
    double uncertainty() const { return known() ? round_trip_ / 2 : 0; }
    // A time on the other host's clock moved onto this one's.
    double to_local(double remote) const { return remote - offset_; }

  private:
    int count_ = 0;
    double offset_ = 0;
    double round_trip_ = 0;
};
