// SPDX-License-Identifier: MIT
// The answer at the top of a run's report, in plain sentences computed from
// the run: what the bottleneck was, how long requests waited at the end
// (measured and estimated) and in which queue, when drops began and how
// many, and where the client printed no marks for a while, and why.
#pragma once

#include "rundir.h"

#include <string>
#include <vector>

// A stretch without counted client marks longer than two client intervals:
// from the mark before it to the mark that ended it (or to the stop).
struct MarkGap {
    double from = 0;
    double due = 0; // when the next mark was due, one interval after `from`
    double to = 0;
    // The send queue held unsent bytes through most of it and a '#' ended
    // it: the client was finishing a message the queue had room for only
    // part of. Otherwise the client was held up with room to send.
    bool partly_sent = false;
    bool until_stop = false; // no mark ended it before the stop
};
std::vector<MarkGap> mark_gaps(const RunData& run);

// What the legend and the text say a gap was.
const char* gap_cause(const MarkGap& gap);

// One sentence each, plain text (the page escapes it), in the order above;
// sentences with nothing to say are left out.
struct Answer {
    std::string bottleneck, waited, split, drops, gaps, accuracy;
};
Answer answer_of(const RunData& run);
