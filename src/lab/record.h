// SPDX-License-Identifier: MIT
// What an experiment records: the timeline of sampled queues, the lines both
// programs printed, and the summary drawn from them at the end, written into
// the run directory through rundir.h.
#pragma once

#include "estimate.h"
#include "marks.h"
#include "rundir.h"
#include "sampler.h"

#include "pacelag/output.h" // print_cadence

#include <cstdint>
#include <string>

struct LabConfig;

// One sample of the two sockets and the link.
struct LabSample {
    double t = 0;
    const LabSock* client = nullptr; // null: no such socket at this sample
    const LabSock* server = nullptr;
    int64_t link_backlog = -1; // -1: no shaped link, or unreadable
};

struct RunFacts {
    std::string emulation;       // "namespaces" or "loopback"
    std::string pacelag_version; // empty: unknown
    std::string kernel;
    int64_t link_bps = 0; // 0: not shaped
    int delay_ms = 0;     // delay really added
    int port = 0;
    double duration = 0;
    bool interrupted = false;
};

class Recorder {
  public:
    // Creates DIR/timeline.csv and DIR/events.csv with their headers.
    // 0, or -1 with errno set.
    int open(const std::string& dir);
    // Appends a timeline row; what it estimated is kept for the summary.
    void sample(const LabSample& s);
    // Appends an event row; side is "server", "client" or "lab".
    void event(double t, const char* side, const std::string& line);
    // Closes both files and writes DIR/summary.json. 0, or -1 with errno set.
    int finish(const LabConfig& config, const RunFacts& facts);

    // From now on the programs are being stopped: a client's mark is then an
    // artefact of the stop (a message cut short shows as '.'), recorded as an
    // event but not counted as sent or dropped.
    void stopping() { marks_.stop(); }

    // The newest estimate, for progress lines; false while unknown.
    bool last_estimate(double& ms) const;
    int64_t last_age() const { return max_age_seen_ ? last_age_ : -1; }

  private:
    RunWriter writer_;
    ConsumedRate consumed_;
    MarkTally marks_;
    // Summary state.
    int64_t ages_ = 0;
    double first_age_ = -1, last_age_t_ = -1;
    long long max_age_ = 0, last_age_ = 0;
    bool max_age_seen_ = false;
    int64_t peak_sendq_ = -1, peak_unsent_ = -1, peak_inflight_ = -1, peak_backlog_ = -1,
            peak_recvq_ = -1;
    double max_est_ = -1, final_est_ = -1;
};

// Achieved messages per second from the times of printed lines: rows per
// second between the first and the last, times the print cadence. -1 when
// fewer than two rows came.
double achieved_rate(int64_t rows, double first, double last, int cadence);
