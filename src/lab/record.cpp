// SPDX-License-Identifier: MIT
// The recorder: timeline rows with their estimate, event rows, and the
// summary's running values.
#include "record.h"

#include "config.h"

#include "pacelag/output.h"

#include <cmath>
#include <cstring>

namespace {
void peak(int64_t& slot, int64_t value) {
    if (value > slot) slot = value;
}
} // namespace

double achieved_rate(int64_t rows, double first, double last, int cadence) {
    if (rows < 2 || !(last > first)) return -1;
    return static_cast<double>(rows - 1) / (last - first) * cadence;
}

int Recorder::open(const std::string& dir) {
    return writer_.open(dir);
}

void Recorder::sample(const LabSample& s) {
    const LabSock* c = s.client;
    const LabSock* v = s.server;
    // The estimator sees the time as the timeline holds it (whole ms), so
    // that a recorded timeline replays through it to the very same values.
    const double t = std::round(s.t * 1000) / 1000;
    if (v != nullptr && v->hasinfo)
        consumed_.add(t, v->cookie, v->bytes_received, v->recvq);
    else
        consumed_.lost();
    double bps = 0;
    bool haverate = consumed_.rate(bps);
    // The client's send queue already holds whatever sits in the link's
    // qdisc or in flight (sent, not yet acknowledged), so the link's backlog
    // is shown but not added a second time.
    // Each count is 32 bits; widened before they are added.
    uint64_t queued =
        (c != nullptr ? uint64_t{c->sendq} : 0) + (v != nullptr ? uint64_t{v->recvq} : 0);
    double est = 0;
    bool haveest = estimate_delay_ms(queued, haverate, bps, est);

    TimelineRow row;
    row.set(kColT, t);
    if (c != nullptr) {
        row.set(kColClientSendq, c->sendq);
        if (c->hasinfo) {
            row.set(kColClientUnsent, c->unsent);
            row.set(kColInflight, static_cast<double>(int64_t(c->sendq) - c->unsent));
            row.set(kColCwnd, c->cwnd);
            row.set(kColRttMs, c->rtt_us / 1000.0);
        }
    }
    if (s.link_backlog >= 0) row.set(kColLinkBacklog, static_cast<double>(s.link_backlog));
    if (v != nullptr) {
        row.set(kColServerRecvq, v->recvq);
        if (v->hasinfo) row.set(kColServerReceived, static_cast<double>(v->bytes_received));
    }
    if (haverate) row.set(kColConsumedBps, static_cast<double>(std::llround(bps)));
    if (haveest) row.set(kColEstDelayMs, est);
    writer_.timeline(row);

    if (c != nullptr) {
        peak(peak_sendq_, c->sendq);
        if (c->hasinfo) {
            peak(peak_unsent_, c->unsent);
            peak(peak_inflight_, int64_t(c->sendq) - c->unsent);
        }
    }
    if (s.link_backlog >= 0) peak(peak_backlog_, s.link_backlog);
    if (v != nullptr) peak(peak_recvq_, v->recvq);
    if (haveest) {
        if (est > max_est_) max_est_ = est;
        final_est_ = est;
    }
}

void Recorder::event(double t, const char* side, const std::string& line) {
    marks_.event(t, side, line);
    long long age = 0;
    if (strcmp(side, kSideServer) == 0 && read_age_line(line.c_str(), age)) {
        ++ages_;
        if (first_age_ < 0) first_age_ = t;
        last_age_t_ = t;
        last_age_ = age;
        if (!max_age_seen_ || age > max_age_) max_age_ = age;
        max_age_seen_ = true;
    }
    writer_.event(t, side, line);
}

bool Recorder::last_estimate(double& ms) const {
    ms = final_est_;
    return final_est_ >= 0;
}

int Recorder::finish(const LabConfig& config, const RunFacts& facts) {
    RunSummary s;
    s.client_cadence = print_cadence(config.client_rate);
    s.server_cadence = print_cadence(config.server_rate);
    s.server_rate = config.server_rate;
    s.client_rate = config.client_rate;
    s.padlen = config.padlen;
    s.client_buflen = config.client_buflen > 0 ? config.client_buflen : -1;
    s.server_buflen = config.server_buflen > 0 ? config.server_buflen : -1;
    s.link_rate_bps = facts.link_bps > 0 ? facts.link_bps : -1;
    s.delay_ms = facts.delay_ms;
    s.seconds = config.seconds;
    s.emulation = facts.emulation;
    s.pacelag_version = facts.pacelag_version;
    s.kernel = facts.kernel;
    s.duration_s = facts.duration;
    double crate = achieved_rate(marks_.sent() + marks_.dropped(), marks_.first(), marks_.last(),
                                 s.client_cadence);
    double srate = achieved_rate(ages_, first_age_, last_age_t_, s.server_cadence);
    s.achieved_client_rate = crate < 0 ? NAN : crate;
    s.achieved_server_rate = srate < 0 ? NAN : srate;
    // Each mark stands for `cadence` messages.
    s.sent = marks_.sent() * s.client_cadence;
    s.dropped = marks_.dropped() * s.client_cadence;
    s.have_max_age = max_age_seen_;
    s.max_age_s = max_age_;
    s.peak_client_sendq = peak_sendq_;
    s.peak_client_unsent = peak_unsent_;
    s.peak_inflight = peak_inflight_;
    s.peak_link_backlog = facts.link_bps > 0 ? peak_backlog_ : -1;
    s.peak_server_recvq = peak_recvq_;
    if (max_est_ >= 0) {
        s.max_est_delay_ms = max_est_;
        s.final_est_delay_ms = final_est_;
    }
    s.port = facts.port;
    s.interrupted = facts.interrupted;
    return writer_.finish(s);
}
