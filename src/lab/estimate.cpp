// The consumed-rate window and the delay estimate.
#include "estimate.h"

void ConsumedRate::add(double t, uint64_t cookie, uint64_t received, uint32_t recvq) {
    if (cookie != cookie_) {
        window_.clear();
        cookie_ = cookie;
    }
    // The receive queue can momentarily hold bytes the counter has not yet
    // counted in a sample taken mid-update; never let consumption run back.
    uint64_t consumed = received > recvq ? received - recvq : 0;
    if (!window_.empty() && consumed < window_.back().consumed) consumed = window_.back().consumed;
    window_.push_back({t, consumed});
    // Keep one point at or before a second ago (a little more for late samples).
    while (window_.size() > 2 && window_[1].t <= t - 2.0) window_.pop_front();
}

bool ConsumedRate::rate(double& bps, double span) const {
    if (window_.size() < 2) return false;
    const Point& now = window_.back();
    // The newest point at least `span` before now.
    const Point* old = nullptr;
    for (const Point& p : window_) {
        if (p.t > now.t - span + 1e-9) break;
        old = &p;
    }
    if (old == nullptr || now.t <= old->t) return false;
    bps = static_cast<double>(now.consumed - old->consumed) / (now.t - old->t);
    return true;
}

bool estimate_delay_ms(uint64_t queued, bool haverate, double bps, double& ms) {
    if (!haverate || !(bps > 0)) return false;
    ms = static_cast<double>(queued) * 1000.0 / bps;
    return true;
}
