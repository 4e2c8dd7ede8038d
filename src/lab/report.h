// SPDX-License-Identifier: MIT
// The lab's report: one self-contained HTML page drawn from the files an
// experiment wrote (timeline.csv, events.csv, summary.json), or, for a sweep,
// from the summaries of several experiments. Chart.js is read from Debian's
// libjs-chart.js and inlined, so the page opens offline.
#pragma once

// Reads DIR/timeline.csv, DIR/events.csv and DIR/summary.json and writes
// DIR/report.html (through a temporary file, so a failure never leaves half a
// page). 0 on success; -1 after printing the one-line reason to stderr.
int lab_write_report(const char* dir);

// Reads RUNDIRS[i]/summary.json and RUNDIRS[i]/timeline.csv (the experiment
// for VALUES[i] of the varied parameter VARY) and writes OUTDIR/report.html
// comparing them. An experiment whose files cannot be read gets a warning on
// stderr and a row of "n/a"; -1 only when none can be read, the charting
// library is missing, or the page cannot be written.
int lab_write_sweep_report(const char* outdir, const char* vary, int count,
                           const char* const* values, const char* const* rundirs);
