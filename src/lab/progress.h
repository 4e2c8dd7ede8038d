// SPDX-License-Identifier: MIT
// The lines a run prints as it goes: where and what it runs, and every five
// seconds what it estimates beside the age pacelag printed last.
#pragma once

#include "config.h"

#include <cstdint>
#include <string>

constexpr double kProgressEvery = 5.0;

// "  %3.0f s  estimated delay N ms, last printed age N s"; the estimate is
// "unknown" while there is none (have_estimate false), the age "none yet"
// while negative.
std::string progress_line(double t, bool have_estimate, double estimate_ms, int64_t last_age);

// The opening line: rates, padding, where (`where`), for how long, into where.
std::string start_line(const LabConfig& config, const std::string& where);
