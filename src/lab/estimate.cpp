// SPDX-License-Identifier: MIT
// The consumed-rate window and the delay estimate.
#include "estimate.h"

#include <algorithm>

void ConsumedRate::add(double t, uint64_t cookie, uint64_t received, uint32_t recvq) {
    if (cookie != cookie_) {
        lost();
        cookie_ = cookie;
    }
    // The receive queue can momentarily hold bytes the counter has not yet
    // counted in a sample taken mid-update; never let consumption run back.
    uint64_t consumed = received > recvq ? received - recvq : 0;
    if (!window_.empty() && consumed < window_.back().consumed) consumed = window_.back().consumed;
    if (!window_.empty() && consumed > window_.back().consumed) {
        steps_.push_back(consumed - window_.back().consumed);
        if (steps_.size() > kSteps) steps_.pop_front();
        last_step_t_ = (window_.back().t + t) / 2;
    }
    window_.push_back({t, consumed});
    // Keep one point at or before a second ago (a little more for late samples).
    while (window_.size() > 2 && window_[1].t <= t - 2.0) window_.pop_front();

    // The newest point at least a second before now.
    const Point* old = nullptr;
    for (const Point& p : window_) {
        if (p.t > t - 1.0 + 1e-9) break;
        old = &p;
    }
    if (old == nullptr || t <= old->t) return;
    recent_.push_back(static_cast<double>(consumed - old->consumed) / (t - old->t));
    if (recent_.size() > kRecent) recent_.pop_front();
}

bool ConsumedRate::rate(double& bps) const {
    if (recent_.empty()) return false;
    // A server reads in steps; a step that lands just outside one end of the
    // window and just inside the other changes one sample's rate by a whole
    // step (half of it at 2 reads a second). The median of the last few
    // samples' rates leaves such a sample out.
    double sorted[kRecent];
    size_t n = 0;
    for (double r : recent_) sorted[n++] = r;
    std::sort(sorted, sorted + n);
    bps = n % 2 == 1 ? sorted[n / 2] : (sorted[n / 2 - 1] + sorted[n / 2]) / 2;
    return true;
}

bool estimate_delay_ms(uint64_t queued, bool haverate, double bps, double& ms) {
    if (!haverate || !(bps > 0)) return false;
    ms = static_cast<double>(queued) * 1000.0 / bps;
    return true;
}

bool ConsumedRate::step(double& bytes, double& at) const {
    if (steps_.empty()) return false;
    uint64_t sorted[kSteps];
    size_t n = 0;
    for (uint64_t s : steps_) sorted[n++] = s;
    std::sort(sorted, sorted + n);
    bytes = n % 2 == 1 ? static_cast<double>(sorted[n / 2])
                       : (static_cast<double>(sorted[n / 2 - 1]) + sorted[n / 2]) / 2;
    at = last_step_t_;
    return true;
}

bool estimate_wait_ms(uint64_t queued, const ConsumedRate& consumed, double t, double& ms) {
    double bps = 0, step = 0, at = 0;
    if (!consumed.rate(bps)) return false;
    if (!consumed.step(step, at)) return estimate_delay_ms(queued, true, bps, ms);
    if (!(bps > 0)) return false;
    const double period = step / bps;
    const double left = std::max(0.0, period - (t - at));
    ms = std::max(0.0, (static_cast<double>(queued) - step) / bps + left) * 1000.0;
    return true;
}
