// The lab's report: one self-contained HTML page drawn from the files an
// experiment wrote (timeline.csv, events.csv, summary.json), or, for a sweep,
// from the summaries of several experiments.
#pragma once

// Reads DIR/timeline.csv, DIR/events.csv and DIR/summary.json and writes
// DIR/report.html. 0 on success; -1 after printing the reason to stderr.
int lab_write_report(const char* dir);

// Reads RUNDIRS[i]/summary.json (the experiment for VALUES[i] of the varied
// parameter VARY) and writes OUTDIR/report.html comparing them.
int lab_write_sweep_report(const char* outdir, const char* vary, int count,
                           const char* const* values, const char* const* rundirs);
