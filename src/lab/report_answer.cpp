// SPDX-License-Identifier: MIT
// The report's answer sentences and the gaps in the client's marks.
#include "report_answer.h"

#include "marks.h"
#include "messages.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace {

// The stretch the answer speaks of as "the end": the last five seconds of
// samples.
constexpr double kEndSeconds = 5;

std::string format(const char* f, double v) {
    char text[64];
    std::snprintf(text, sizeof text, f, v);
    return text;
}

std::string seconds(double ms) {
    return format("%.1f s", ms / 1000);
}

std::string whole(double v) {
    return format("%.0f", v);
}

double median_of(std::vector<double> v) {
    if (v.empty()) return NAN;
    std::sort(v.begin(), v.end());
    size_t n = v.size();
    return n % 2 == 1 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

// Mean of a column over the samples from `from` on; missing values count
// as 0 when `zero_missing`, else are left out (NaN when none is known).
double mean_from(const Timeline& tl, const std::vector<double>& col, double from,
                 bool zero_missing) {
    double sum = 0;
    size_t n = 0;
    for (size_t i = 0; i < tl.t.size(); ++i) {
        if (!(tl.t[i] >= from)) continue;
        if (std::isnan(col[i]) && !zero_missing) continue;
        sum += std::isnan(col[i]) ? 0 : col[i];
        ++n;
    }
    return n ? sum / static_cast<double>(n) : NAN;
}

double last_time(const Timeline& tl) {
    double t = NAN;
    for (double x : tl.t)
        if (std::isnan(t) || x > t) t = x;
    return t;
}

struct Facts {
    double msglen = NAN, client_rate = NAN, link_bps = NAN;
    double end_from = NAN; // the first instant of "the end"
    double consumed = NAN; // bytes/s the server read at the end
    double unsent = NAN, inflight = NAN, backlog = NAN, recvq = NAN;
};

Facts facts_of(const RunData& run) {
    Facts f;
    const Timeline& tl = run.timeline;
    f.msglen = json_number(run.summary, summary_key::padlen) + 10;
    f.client_rate = json_number(run.summary, summary_key::client_rate);
    f.link_bps = json_number(run.summary, summary_key::link_rate_bps);
    f.end_from = last_time(tl) - kEndSeconds;
    std::vector<double> rates;
    for (size_t i = 0; i < tl.t.size(); ++i)
        if (tl.t[i] >= f.end_from && !std::isnan(tl.consumed_bps[i]))
            rates.push_back(tl.consumed_bps[i]);
    f.consumed = median_of(rates);
    f.unsent = mean_from(tl, tl.client_unsent, f.end_from, false);
    f.inflight = mean_from(tl, tl.inflight, f.end_from, false);
    f.backlog = mean_from(tl, tl.link_backlog, f.end_from, false);
    f.recvq = mean_from(tl, tl.server_recvq, f.end_from, false);
    return f;
}

std::string bottleneck(const Facts& f) {
    if (!(f.consumed >= 0) || std::isnan(f.msglen)) return "";
    const double offered = f.client_rate * f.msglen;
    const std::string took = whole(f.consumed) + " B/s";
    const std::string offer = std::isnan(offered)
                                  ? std::string("")
                                  : " while the client offered " + whole(offered) + " B/s (" +
                                        whole(f.client_rate) + " messages/s of " + whole(f.msglen) +
                                        " bytes)";
    if (f.recvq >= f.msglen)
        return "The server was the bottleneck: it read " + took + " (" +
               format("%.1f", f.consumed / f.msglen) + " messages/s)" + offer +
               ", so the bytes piled up in its receive queue.";
    double queued_before =
        (std::isnan(f.unsent) ? 0 : f.unsent) + (std::isnan(f.inflight) ? 0 : f.inflight);
    if (f.link_bps > 0 && queued_before >= f.msglen)
        return "The link was the bottleneck: it carried " + whole(f.consumed * 8) +
               " bit/s of messages of its " + whole(f.link_bps) + " bit/s" +
               (std::isnan(offered)
                    ? std::string("")
                    : ", while the client offered " + whole(offered * 8) + " bit/s") +
               ", so the bytes piled up in the client's send queue.";
    if (queued_before >= f.msglen)
        return "The network took " + took + offer +
               ": the bytes piled up in the client's send queue.";
    return "Nothing held the messages back: the server read " + took +
           (std::isnan(offered) ? std::string("")
                                : ", all that the client offered (" + whole(offered) + " B/s)") +
           ", and the queues stayed short.";
}

std::string waited(const RunData& run) {
    double final_est = json_number(run.summary, summary_key::final_est_delay_ms);
    std::string est = std::isnan(final_est)
                          ? std::string("")
                          : " By the estimate, a request sent at the very end would wait " +
                                seconds(final_est) + ".";
    const MessageWait* last = nullptr;
    for (const MessageWait& m : run.messages)
        if (m.read()) last = &m;
    if (last == nullptr) {
        int cc = run_cadence(run.summary, summary_key::client_cadence, summary_key::client_rate);
        int sc = run_cadence(run.summary, summary_key::server_cadence, summary_key::server_rate);
        if (cc > 1 || sc > 1)
            return "The measured wait is not available: at 48 messages/s and above pacelag "
                   "prints only every n-th mark and age, so they cannot be paired." +
                   est;
        return est.empty() ? "" : est.substr(1);
    }
    std::string said = std::isnan(last->est_ms)
                           ? std::string("")
                           : "; the estimate at its sending said " + seconds(last->est_ms);
    return "At the end requests waited about " + seconds(last->wait_ms()) +
           ", measured: the last message the server read was sent at " +
           format("%.1f", last->sent_t) + " s and read at " + format("%.1f", last->read_t) + " s" +
           said + "." + est;
}

std::string split(const Facts& f) {
    if (!(f.consumed > 0)) return "";
    auto part = [&](double bytes) { return seconds(bytes / f.consumed * 1000); };
    std::string s = "Over the last " + whole(kEndSeconds) +
                    " s the wait sat in the client's send "
                    "queue (" +
                    part(std::isnan(f.unsent) ? 0 : f.unsent) + " not yet sent, " +
                    part(std::isnan(f.inflight) ? 0 : f.inflight) + " in flight";
    if (!std::isnan(f.backlog)) s += ", of which " + part(f.backlog) + " in the link's queue";
    s += ") and the server's receive queue (" + part(std::isnan(f.recvq) ? 0 : f.recvq) +
         "): each queue's bytes over the " + whole(f.consumed) + " B/s the server read.";
    return s;
}

std::string drops(const RunData& run) {
    double sent = json_number(run.summary, summary_key::sent);
    double dropped = json_number(run.summary, summary_key::dropped);
    if (std::isnan(sent) || std::isnan(dropped) || sent + dropped <= 0) return "";
    if (dropped == 0) return "No message was dropped.";
    double first = NAN;
    bool stopping = false;
    for (const Event& e : run.events) {
        if (e.side == kSideLab && e.line == kStoppingEvent) stopping = true;
        bool whole_mark = true;
        if (!stopping && e.side == kSideClient && is_mark(e.line, whole_mark) && !whole_mark) {
            first = e.t;
            break;
        }
    }
    std::string when = std::isnan(first) ? ""
                                         : "Drops began at " + format("%.1f", first) +
                                               " s, when the "
                                               "client's send queue was full; ";
    std::string share = whole(dropped) + " of " + whole(sent + dropped) + " messages (" +
                        format("%.1f", dropped / (sent + dropped) * 100) + " %) were dropped.";
    return when + share;
}

std::string gaps(const RunData& run) {
    std::vector<MarkGap> g = mark_gaps(run);
    if (g.empty()) return "";
    const MarkGap* longest = &g[0];
    for (const MarkGap& x : g)
        if (x.to - x.from > longest->to - longest->from) longest = &x;
    std::string s = "The client printed no mark for " +
                    format("%.2f", longest->to - longest->from) + " s from " +
                    format("%.1f", longest->from) + " s: " + gap_cause(*longest);
    if (g.size() > 1) s += " (" + whole(static_cast<double>(g.size())) + " such stretches";
    return s + (g.size() > 1 ? ", shaded on the last chart)." : "; shaded on the last chart.");
}

// From the pairs themselves, so that runs written before the summary kept
// the error get the sentence too.
std::string accuracy(const RunData& run) {
    WaitError e = estimate_error(run.messages);
    if (e.count == 0) return "";
    return "Against the measured wait of " + whole(static_cast<double>(e.count)) +
           " messages, the estimate at each one's sending was off by " + whole(e.median_abs) +
           " ms in the median and at most " + whole(e.p90_abs) + " ms for nine in ten (" +
           (e.median_signed >= 0 ? "+" : "") + whole(e.median_signed) + " ms signed median).";
}

} // namespace

const char* gap_cause(const MarkGap& gap) {
    if (gap.partly_sent)
        return "the client was finishing a partly sent message, the send queue having room for "
               "only part of it";
    return "the client was held up while its send queue had room (a busy machine)";
}

std::vector<MarkGap> mark_gaps(const RunData& run) {
    std::vector<MarkGap> out;
    double rate = json_number(run.summary, summary_key::client_rate);
    int cadence = run_cadence(run.summary, summary_key::client_cadence, summary_key::client_rate);
    if (!(rate > 0) || cadence < 1) return out;
    const double limit = 2.0 * cadence / rate; // two intervals between marks
    const Timeline& tl = run.timeline;
    auto partly = [&](double from, double to) {
        size_t n = 0, held = 0;
        for (size_t i = 0; i < tl.t.size(); ++i) {
            if (tl.t[i] <= from || tl.t[i] >= to) continue;
            ++n;
            held += tl.client_unsent[i] > 0;
        }
        return n > 0 && 2 * held > n;
    };
    double prev = NAN;
    for (const Event& e : run.events) {
        if (e.side == kSideLab && e.line == kStoppingEvent) {
            if (!std::isnan(prev) && e.t - prev > limit)
                out.push_back({prev, prev + limit / 2, e.t, partly(prev, e.t), true});
            break;
        }
        bool sent = false;
        if (e.side != kSideClient || !is_mark(e.line, sent)) continue;
        if (!std::isnan(prev) && e.t - prev > limit)
            out.push_back({prev, prev + limit / 2, e.t, sent && partly(prev, e.t), false});
        prev = e.t;
    }
    return out;
}

Answer answer_of(const RunData& run) {
    Answer a;
    Facts f = facts_of(run);
    a.bottleneck = bottleneck(f);
    a.waited = waited(run);
    a.split = split(f);
    a.drops = drops(run);
    a.gaps = gaps(run);
    a.accuracy = accuracy(run);
    return a;
}
