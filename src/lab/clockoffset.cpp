// SPDX-License-Identifier: MIT
// The NTP-style clock offset estimate.
#include "clockoffset.h"

#include <cmath>

bool ClockOffset::add(const ClockExchange& e) {
    if (!std::isfinite(e.t1) || !std::isfinite(e.t2) || !std::isfinite(e.t3) ||
        !std::isfinite(e.t4) || e.t3 < e.t2 || e.t4 < e.t1)
        return false;
    // The time the answer spent at the other host is not part of the trip.
    double trip = (e.t4 - e.t1) - (e.t3 - e.t2);
    if (trip < 0) trip = 0; // the other host's clock ran faster within one exchange
    ++count_;
    if (count_ == 1 || trip < round_trip_) {
        round_trip_ = trip;
        offset_ = ((e.t2 - e.t1) + (e.t3 - e.t4)) / 2;
    }
    return true;
}
