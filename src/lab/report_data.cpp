// SPDX-License-Identifier: MIT
// The reductions the report's charts need: ages among the printed lines,
// per-second mark counts and peak-keeping thinning.
#include "report_data.h"

#include "marks.h"

#include "pacelag/output.h"

#include <algorithm>
#include <cmath>

bool is_age_line(const std::string& line, long long& age) {
    return read_age_line(line.c_str(), age);
}

void marks_per_second(const std::vector<Event>& events, std::vector<int>& sent,
                      std::vector<int>& dropped) {
    MarkTally tally;
    for (const Event& e : events) tally.event(e.t, e.side, e.line);
    sent = tally.sent_per_second();
    dropped = tally.dropped_per_second();
}

std::vector<double> per_second_bars(const std::vector<int>& counts, size_t max_bars,
                                    size_t& width) {
    if (max_bars < 1) max_bars = 1;
    width = counts.size() <= max_bars ? 1 : (counts.size() + max_bars - 1) / max_bars;
    std::vector<double> bars;
    for (size_t from = 0; from < counts.size(); from += width) {
        size_t to = std::min(from + width, counts.size());
        double sum = 0;
        for (size_t i = from; i < to; ++i) sum += counts[i];
        bars.push_back(sum / static_cast<double>(to - from));
    }
    return bars;
}

std::vector<size_t> thin_indices(const std::vector<double>& y, size_t max_points) {
    std::vector<size_t> keep;
    size_t n = y.size();
    if (max_points < 4) max_points = 4;
    if (n <= max_points) {
        for (size_t i = 0; i < n; ++i) keep.push_back(i);
        return keep;
    }
    size_t buckets = (max_points - 2) / 2;
    keep.push_back(0);
    for (size_t b = 0; b < buckets; ++b) {
        size_t from = 1 + b * (n - 2) / buckets, to = 1 + (b + 1) * (n - 2) / buckets;
        size_t lo = n, hi = n;
        for (size_t i = from; i < to; ++i) {
            if (std::isnan(y[i])) continue;
            if (lo == n || y[i] < y[lo]) lo = i;
            if (hi == n || y[i] > y[hi]) hi = i;
        }
        if (lo == n) {
            // Keep a gap visible where the whole bucket is missing.
            if (from < to) keep.push_back(from);
            continue;
        }
        keep.push_back(std::min(lo, hi));
        if (lo != hi) keep.push_back(std::max(lo, hi));
    }
    keep.push_back(n - 1);
    return keep;
}

int mark_cadence(double rate) {
    if (std::isnan(rate) || rate < 1 || rate > 100000 || rate != std::floor(rate)) return 0;
    return print_cadence(static_cast<int>(rate));
}
