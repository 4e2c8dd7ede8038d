// SPDX-License-Identifier: MIT
// Counting the client's marks.
#include "marks.h"

#include "rundir.h"

#include "pacelag/output.h"

bool is_mark(const std::string& line, bool& sent) {
    if (line.size() != 1 || (line[0] != kMarkSent && line[0] != kMarkDropped)) return false;
    sent = line[0] == kMarkSent;
    return true;
}

void MarkTally::event(double t, const std::string& side, const std::string& line) {
    if (side == kSideLab && line == kStoppingEvent) stopping_ = true;
    bool whole = false;
    if (stopping_ || side != kSideClient || !is_mark(line, whole)) return;
    ++(whole ? sent_ : dropped_);
    if (!any_) first_ = t;
    any_ = true;
    last_ = t;
    if (!(t >= 0 && t <= 1e6)) return;
    size_t second = static_cast<size_t>(t);
    if (second >= sent_at_.size()) {
        sent_at_.resize(second + 1, 0);
        dropped_at_.resize(second + 1, 0);
    }
    ++(whole ? sent_at_ : dropped_at_)[second];
}
