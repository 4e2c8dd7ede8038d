// SPDX-License-Identifier: MIT
// The client's marks as a run counts them, for the summary and the chart
// alike. One rule: once the lab has begun to stop pacelag (its "stopping
// pacelag" event), a mark is an artefact of the stop (a message cut short
// shows as '.') and counts neither as sent nor as dropped.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class MarkTally {
  public:
    // Every event of the run, in the order recorded.
    void event(double t, const std::string& side, const std::string& line);
    // The stop began (as its event does).
    void stop() { stopping_ = true; }

    int64_t sent() const { return sent_; }
    int64_t dropped() const { return dropped_; }
    // Times of the first and last counted mark; -1 before any.
    double first() const { return first_; }
    double last() const { return last_; }
    // Counted marks per whole second of t, from second 0 to the last mark's.
    // Marks at a negative time or after 10^6 s (a corrupt time) are left out
    // of these, so a bad row cannot blow them up.
    const std::vector<int>& sent_per_second() const { return sent_at_; }
    const std::vector<int>& dropped_per_second() const { return dropped_at_; }

  private:
    bool stopping_ = false, any_ = false;
    int64_t sent_ = 0, dropped_ = 0;
    double first_ = -1, last_ = -1;
    std::vector<int> sent_at_, dropped_at_;
};

// The client line is a mark; `sent` tells which.
bool is_mark(const std::string& line, bool& sent);
