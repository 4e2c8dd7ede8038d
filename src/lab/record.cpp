// SPDX-License-Identifier: MIT
// timeline.csv, events.csv and summary.json.
#include "record.h"

#include "labtext.h"
#include "run.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace {
const char kTimelineHeader[] = "t,client_sendq,client_unsent,inflight,link_backlog,server_recvq,"
                               "cwnd,rtt_ms,consumed_bps,est_delay_ms\n";
const char kEventsHeader[] = "t,side,line\n";

void put_int(std::string& row, bool have, int64_t value) {
    row += ',';
    if (have) row += std::to_string(value);
}

void put_fixed(std::string& row, bool have, double value, int decimals) {
    row += ',';
    if (!have) return;
    char text[48];
    snprintf(text, sizeof text, "%.*f", decimals, value);
    row += text;
}

// A server line that is a whole number is an age.
bool parse_age(const std::string& line, int64_t& age) {
    const char* p = line.c_str();
    if (*p == '-') ++p;
    if (*p == '\0') return false;
    for (const char* q = p; *q != '\0'; ++q)
        if (*q < '0' || *q > '9') return false;
    age = strtoll(line.c_str(), nullptr, 10);
    return true;
}

void peak(int64_t& slot, int64_t value) {
    if (value > slot) slot = value;
}

void peak_or_null(JsonObject& json, const char* key, int64_t value) {
    if (value < 0)
        json.null(key);
    else
        json.integer(key, value);
}
} // namespace

int print_cadence(int rate) {
    return rate / 24 > 0 ? rate / 24 : 1;
}

double achieved_rate(int64_t rows, double first, double last, int cadence) {
    if (rows < 2 || !(last > first)) return -1;
    return static_cast<double>(rows - 1) / (last - first) * cadence;
}

Recorder::~Recorder() {
    if (timeline_ != nullptr) fclose(timeline_);
    if (events_ != nullptr) fclose(events_);
}

int Recorder::open(const std::string& dir) {
    dir_ = dir;
    timeline_ = fopen((dir + "/timeline.csv").c_str(), "we");
    if (timeline_ == nullptr) return -1;
    events_ = fopen((dir + "/events.csv").c_str(), "we");
    if (events_ == nullptr) return -1;
    fputs(kTimelineHeader, timeline_);
    fputs(kEventsHeader, events_);
    return 0;
}

void Recorder::sample(const LabSample& s) {
    const LabSock* c = s.client;
    const LabSock* v = s.server;
    if (v != nullptr && v->hasinfo)
        consumed_.add(s.t, v->cookie, v->bytes_received, v->recvq);
    else
        consumed_.lost();
    double bps = 0;
    bool haverate = consumed_.rate(bps);
    // The client's send queue already holds whatever sits in the link's
    // qdisc or in flight (sent, not yet acknowledged), so the link's backlog
    // is shown but not added a second time.
    uint64_t queued = (c != nullptr ? c->sendq : 0) + (v != nullptr ? v->recvq : 0);
    double est = 0;
    bool haveest = estimate_delay_ms(queued, haverate, bps, est);

    std::string row;
    char t[32];
    snprintf(t, sizeof t, "%.3f", s.t);
    row += t;
    put_int(row, c != nullptr, c ? c->sendq : 0);
    put_int(row, c != nullptr && c->hasinfo, c ? c->unsent : 0);
    put_int(row, c != nullptr && c->hasinfo, c ? int64_t(c->sendq) - c->unsent : 0);
    put_int(row, s.link_backlog >= 0, s.link_backlog);
    put_int(row, v != nullptr, v ? v->recvq : 0);
    put_int(row, c != nullptr && c->hasinfo, c ? c->cwnd : 0);
    put_fixed(row, c != nullptr && c->hasinfo, c ? c->rtt_us / 1000.0 : 0, 3);
    put_int(row, haverate, haverate ? std::llround(bps) : 0);
    put_fixed(row, haveest, est, 1);
    row += '\n';
    if (timeline_ != nullptr && fputs(row.c_str(), timeline_) < 0) write_error_ = errno;

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
    const bool client = strcmp(side, "client") == 0;
    if (client && !stopping_ && (line == "#" || line == ".")) {
        ++(line == "#" ? marks_sent_ : marks_dropped_);
        if (first_mark_ < 0) first_mark_ = t;
        last_mark_ = t;
    }
    int64_t age = 0;
    if (strcmp(side, "server") == 0 && parse_age(line, age)) {
        ++ages_;
        if (first_age_ < 0) first_age_ = t;
        last_age_t_ = t;
        last_age_ = age;
        if (!max_age_seen_ || age > max_age_) max_age_ = age;
        max_age_seen_ = true;
    }
    if (events_ == nullptr) return;
    std::string row;
    char stamp[32];
    snprintf(stamp, sizeof stamp, "%.3f,", t);
    row += stamp;
    row += side;
    row += ',';
    csv_field(row, line.c_str());
    row += '\n';
    if (fputs(row.c_str(), events_) < 0) write_error_ = errno;
}

bool Recorder::last_estimate(double& ms) const {
    ms = final_est_;
    return final_est_ >= 0;
}

int Recorder::finish(const LabConfig& config, const RunFacts& facts) {
    for (FILE** f : {&timeline_, &events_}) {
        if (*f != nullptr && fclose(*f) != 0 && write_error_ == 0) write_error_ = errno;
        *f = nullptr;
    }
    const int ccad = print_cadence(config.client_rate), scad = print_cadence(config.server_rate);
    // Each mark stands for `cadence` messages.
    const int64_t sent = marks_sent_ * ccad, dropped = marks_dropped_ * ccad;

    JsonObject json;
    json.integer("server_rate", config.server_rate);
    json.integer("client_rate", config.client_rate);
    json.integer("padlen", config.padlen);
    peak_or_null(json, "client_buflen", config.client_buflen > 0 ? config.client_buflen : -1);
    peak_or_null(json, "server_buflen", config.server_buflen > 0 ? config.server_buflen : -1);
    peak_or_null(json, "link_rate_bps", facts.link_bps > 0 ? facts.link_bps : -1);
    json.integer("delay_ms", facts.delay_ms);
    json.integer("seconds", config.seconds);
    json.text("emulation", facts.emulation.c_str());
    if (facts.pacelag_version.empty())
        json.null("pacelag_version");
    else
        json.text("pacelag_version", facts.pacelag_version.c_str());
    json.text("kernel", facts.kernel.c_str());
    json.number("duration_s", facts.duration, 2);
    double crate = achieved_rate(marks_sent_ + marks_dropped_, first_mark_, last_mark_, ccad);
    double srate = achieved_rate(ages_, first_age_, last_age_t_, scad);
    if (crate < 0)
        json.null("achieved_client_rate");
    else
        json.number("achieved_client_rate", crate, 2);
    if (srate < 0)
        json.null("achieved_server_rate");
    else
        json.number("achieved_server_rate", srate, 2);
    json.integer("sent", sent);
    json.integer("dropped", dropped);
    if (sent + dropped > 0)
        json.number("drop_share", static_cast<double>(dropped) / (sent + dropped), 4);
    else
        json.null("drop_share");
    peak_or_null(json, "max_age_s", max_age_seen_ ? max_age_ : -1);
    peak_or_null(json, "peak_client_sendq", peak_sendq_);
    peak_or_null(json, "peak_client_unsent", peak_unsent_);
    peak_or_null(json, "peak_inflight", peak_inflight_);
    peak_or_null(json, "peak_link_backlog", facts.link_bps > 0 ? peak_backlog_ : -1);
    peak_or_null(json, "peak_server_recvq", peak_recvq_);
    if (max_est_ < 0) {
        json.null("max_est_delay_ms");
        json.null("final_est_delay_ms");
    } else {
        json.number("max_est_delay_ms", max_est_, 1);
        json.number("final_est_delay_ms", final_est_, 1);
    }
    json.integer("client_cadence", ccad);
    json.integer("server_cadence", scad);
    json.integer("port", facts.port);
    json.boolean("interrupted", facts.interrupted);
    if (facts.remote_host.empty())
        json.null("remote_host");
    else
        json.text("remote_host", facts.remote_host.c_str());
    json.number("clock_offset_ms", facts.clock_offset_ms, 3);
    json.number("clock_offset_uncertainty_ms", facts.clock_offset_uncertainty_ms, 3);
    if (write_text((dir_ + "/summary.json").c_str(), json.finish()) != 0) return -1;
    if (write_error_ != 0) {
        errno = write_error_;
        return -1;
    }
    return 0;
}
