// SPDX-License-Identifier: MIT
// The reductions the report's charts need from a run read through rundir.h:
// ages among the printed lines, per-second mark counts, peak-keeping thinning.
#pragma once

#include "rundir.h"
#include "textread.h"

#include <string>
#include <vector>

// True when the line is an age as the server prints it ("%lld").
bool is_age_line(const std::string& line, long long& age);

// Client marks counted per whole second of t as MarkTally counts them: sent
// and dropped for the seconds 0 .. the last counted mark's second.
void marks_per_second(const std::vector<Event>& events, std::vector<int>& sent,
                      std::vector<int>& dropped);

// Per-second counts averaged over bars of `width` seconds (the last bar may
// be shorter and is averaged over its own length); width is the smallest
// whole number of seconds that keeps the bars at most max_bars.
std::vector<double> per_second_bars(const std::vector<int>& counts, size_t max_bars, size_t& width);

// Indices of the points to draw when a series has more than max_points:
// the first and last, and each bucket's lowest and highest value in time
// order, so peaks survive thinning. Every index when the series is short.
std::vector<size_t> thin_indices(const std::vector<double>& y, size_t max_points);

// The print cadence pacelag derives from a rate; 0 when the rate is not a
// valid one (1 to 100000).
int mark_cadence(double rate);
