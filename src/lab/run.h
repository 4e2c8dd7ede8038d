// SPDX-License-Identifier: MIT
// One experiment: pacelag's server and client started under the lab's eyes,
// both sockets sampled every 10 ms, every printed line recorded, and the run
// directory written (see rundir.h), then its report drawn.
#pragma once

#include "config.h"

// Runs the experiment; messages for the user go to stdout (progress) and
// stderr (trouble). 0 when it ran its full length and its data were written
// (the report too, when the charting library is there), 1 on failure, 130
// when it was stopped early (the files are then written for the part that
// ran).
int lab_run(const LabConfig& config);
