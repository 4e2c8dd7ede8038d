// SPDX-License-Identifier: MIT
// Each message's measured wait: the client's k-th '#' paired with the
// server's k-th age line, and the estimate that stood when the message was
// queued. Fed live by the recorder, or again from a run's files; both meet
// the same events and samples in the same order, so both give the same pairs.
#pragma once

#include "rundir.h"

#include <cstdint>
#include <string>
#include <vector>

// The pairing holds only while every message prints: below 48 messages per
// second on both sides. A '.' never entered the stream, so it takes no age.
// A message the client had only partly sent waits in the stream until the
// rest goes; its '#' comes when send has taken the last byte, so its wait is
// counted from then, like any other's. Client marks after the lab began to
// stop pacelag count nowhere (as in the mark tally): a '.' there is a message
// cut short, whose first bytes the server never reads whole. A '#' before the
// stop whose age never came was not read by the end; an age beyond the
// counted '#' marks (for a message sent as the stop began) pairs with none.
class MessagePairer {
  public:
    // Times as the files hold them (whole milliseconds).
    void event(double t, const std::string& side, const std::string& line);
    // A timeline sample, after every event before its time; `est` is NaN
    // when the sample has no estimate. The estimate that predicts a
    // message's wait is the one of the first sample after its '#', in whole
    // milliseconds: a sample written with the mark's millisecond may have
    // been taken before the send call returned (the files cannot tell), and
    // would then miss the message's own bytes.
    void sample(double t, double est);

    const std::vector<MessageWait>& messages() const { return messages_; }
    // Ages that found no '#' to pair with.
    int64_t spare_ages() const { return spare_ages_; }

  private:
    std::vector<MessageWait> messages_;
    size_t next_read_ = 0; // the next message an age belongs to
    size_t next_est_ = 0;  // the first message still waiting for a sample
    bool stopping_ = false;
    int64_t spare_ages_ = 0;
};

// The pairs of a run from its files: its events in their order, each sample
// after the events before its time and before those at or after it.
std::vector<MessageWait> pair_messages(const std::vector<Event>& events, const Timeline& timeline);

// The estimate's error against the measured wait, over the messages read
// that had an estimate when sent: median and 90th percentile (nearest rank)
// of |estimate - measured| and the median of estimate - measured, in ms.
struct WaitError {
    int64_t count = 0;
    double median_abs = NAN, p90_abs = NAN, median_signed = NAN;
};
WaitError estimate_error(const std::vector<MessageWait>& messages);

// Fills the summary's measured-wait keys; `available` is false when a print
// cadence above 1 leaves the wait unmeasured (the keys stay null).
void summarize_waits(const std::vector<MessageWait>& messages, bool available, RunSummary& s);
