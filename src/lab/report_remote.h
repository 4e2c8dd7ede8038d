// SPDX-License-Identifier: MIT
// What the report says about a two-machine run: the offset between the two
// hosts' clocks and how much of each age pacelag printed is clock difference.
#pragma once

#include "report_data.h"

#include <string>
#include <vector>

// The server's clock ahead of the lab's, in seconds; NaN when the run was on
// one machine or the offset was not measured.
double clock_offset_s(const std::vector<JsonMember>& summary);

// Plain sentences on the clock offset for the top of the page; empty for a
// run on one machine.
std::string clock_offset_note(const std::vector<JsonMember>& summary);
