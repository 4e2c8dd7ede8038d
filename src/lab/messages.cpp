// SPDX-License-Identifier: MIT
// Pairing the client's marks with the server's ages, and the estimate's error.
#include "messages.h"

#include "marks.h"

#include "pacelag/output.h"

#include <algorithm>
#include <cmath>

void MessagePairer::event(double t, const std::string& side, const std::string& line) {
    if (side == kSideLab && line == kStoppingEvent) stopping_ = true;
    long long age = 0;
    bool whole = false;
    if (side == kSideClient && !stopping_ && is_mark(line, whole) && whole) {
        MessageWait m;
        m.n = static_cast<int64_t>(messages_.size()) + 1;
        m.sent_t = t;
        messages_.push_back(m);
    } else if (side == kSideServer && read_age_line(line.c_str(), age)) {
        if (next_read_ < messages_.size()) {
            messages_[next_read_].read_t = t;
            messages_[next_read_].age_s = static_cast<double>(age);
            ++next_read_;
        } else {
            ++spare_ages_;
        }
    }
}

void MessagePairer::sample(double t, double est) {
    for (; next_est_ < messages_.size() && messages_[next_est_].sent_t < t; ++next_est_)
        messages_[next_est_].est_ms = est;
}

std::vector<MessageWait> pair_messages(const std::vector<Event>& events, const Timeline& timeline) {
    MessagePairer pairer;
    const std::vector<double>& t = timeline.t;
    size_t i = 0;
    for (const Event& e : events) {
        for (; i < t.size() && t[i] <= e.t; ++i) pairer.sample(t[i], timeline.est_delay_ms[i]);
        pairer.event(e.t, e.side, e.line);
    }
    for (; i < t.size(); ++i) pairer.sample(t[i], timeline.est_delay_ms[i]);
    return pairer.messages();
}

namespace {
double median_of(std::vector<double>& v) {
    std::sort(v.begin(), v.end());
    size_t n = v.size();
    return n % 2 == 1 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}
} // namespace

WaitError estimate_error(const std::vector<MessageWait>& messages) {
    std::vector<double> signed_errors, abs_errors;
    for (const MessageWait& m : messages) {
        if (!m.read() || std::isnan(m.est_ms)) continue;
        double e = m.est_ms - m.wait_ms();
        signed_errors.push_back(e);
        abs_errors.push_back(std::fabs(e));
    }
    WaitError w;
    w.count = static_cast<int64_t>(abs_errors.size());
    if (w.count == 0) return w;
    w.median_signed = median_of(signed_errors);
    w.median_abs = median_of(abs_errors);
    size_t rank = static_cast<size_t>(std::ceil(0.9 * static_cast<double>(abs_errors.size())));
    w.p90_abs = abs_errors[rank - 1];
    return w;
}

void summarize_waits(const std::vector<MessageWait>& messages, bool available, RunSummary& s) {
    s.measured_wait_available = available;
    if (!available) return;
    s.paired_messages = s.unread_messages = 0;
    for (const MessageWait& m : messages) {
        if (!m.read()) {
            ++s.unread_messages;
            continue;
        }
        ++s.paired_messages;
        double w = m.wait_ms();
        if (std::isnan(s.max_measured_wait_ms) || w > s.max_measured_wait_ms)
            s.max_measured_wait_ms = w;
        s.final_measured_wait_ms = w;
    }
    WaitError e = estimate_error(messages);
    s.est_error_messages = e.count;
    s.est_error_median_ms = e.median_abs;
    s.est_error_p90_ms = e.p90_abs;
    s.est_error_signed_median_ms = e.median_signed;
}
