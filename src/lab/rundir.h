// SPDX-License-Identifier: MIT
// The run directory: the one owner of what an experiment leaves behind. Its
// file names, the timeline's and the events' columns, the summary's keys and
// the format version, the writer the recorder uses and the reader the report
// uses. Whatever reads or writes a run directory takes the names from here.
//
// Adding to the format: a new timeline column goes at the end of
// TimelineColumn (with its name, decimals and the version it came with in
// rundir.cpp, and a member of Timeline); a new summary key gets a constant in
// summary_key, a field in RunSummary and a line in summary_json. Readers
// treat columns newer than a file's format version as absent, so older runs
// keep drawing. Bump kRunFormatVersion whenever what is written changes.
#pragma once

#include "textread.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

// 1: runs written before the version was recorded (no "format_version" key).
// 2: "format_version" in summary.json; timeline column server_received.
constexpr int kRunFormatVersion = 2;

constexpr const char kTimelineFile[] = "timeline.csv";
constexpr const char kEventsFile[] = "events.csv";
constexpr const char kSummaryFile[] = "summary.json";
constexpr const char kReportFile[] = "report.html";

// DIR/name, with one slash between.
std::string run_path(const std::string& dir, const char* name);

// Makes the directory (with its parents) and removes a report left in it by
// an earlier run, which must not pass for this run's. 0, or -1 with errno.
int run_dir_prepare(const std::string& dir);

// ---- timeline.csv: one row per sample ----

enum TimelineColumn {
    kColT,              // seconds since the start, 3 decimals
    kColClientSendq,    // bytes in the client's send queue, unsent included
    kColClientUnsent,   // of which not yet handed to the network
    kColInflight,       // of which sent, not yet acknowledged
    kColLinkBacklog,    // bytes in the shaped link's queue
    kColServerRecvq,    // bytes in the server's receive queue
    kColCwnd,           // client's congestion window, segments
    kColRttMs,          // client's smoothed round-trip time
    kColConsumedBps,    // bytes the server read per second
    kColEstDelayMs,     // estimated wait of a message sent now
    kColServerReceived, // bytes the server's socket received in all (since 2)
    kTimelineColumnCount
};

// The column's name in the header.
const char* timeline_column_name(int column);
// The format version that brought the column.
int timeline_column_since(int column);

// One row; NaN for a field left empty (no such socket, value unknown).
// Whole-number columns must be given whole numbers.
struct TimelineRow {
    double v[kTimelineColumnCount];
    TimelineRow();
    void set(TimelineColumn c, double value) { v[c] = value; }
};

// The timeline as read; a missing value is NaN.
struct Timeline {
    std::vector<double> t, client_sendq, client_unsent, inflight, link_backlog, server_recvq, cwnd,
        rtt_ms, consumed_bps, est_delay_ms, server_received;
    // The column's values, by TimelineColumn.
    std::vector<double>& column(int c);
    const std::vector<double>& column(int c) const;
};

// ---- events.csv: every line the programs printed and the lab's own notes ----

enum EventColumn { kEvT, kEvSide, kEvLine, kEventColumnCount };
const char* event_column_name(int column);

// The sides of an event.
constexpr const char kSideServer[] = "server";
constexpr const char kSideClient[] = "client";
constexpr const char kSideLab[] = "lab";

// The lab's note that it begins to stop pacelag: client marks after it are
// artefacts of the stop (see marks.h).
constexpr const char kStoppingEvent[] = "stopping pacelag";
// The lab's last note: the run ended as planned, or was stopped early.
constexpr const char kEndedEvent[] = "ended";
constexpr const char kStoppedEarlyEvent[] = "stopped early";

struct Event {
    double t;
    std::string side;
    std::string line;
};

// ---- summary.json: one flat object ----

namespace summary_key {
constexpr const char format_version[] = "format_version";
constexpr const char server_rate[] = "server_rate";
constexpr const char client_rate[] = "client_rate";
constexpr const char padlen[] = "padlen";
constexpr const char client_buflen[] = "client_buflen";
constexpr const char server_buflen[] = "server_buflen";
constexpr const char link_rate_bps[] = "link_rate_bps";
constexpr const char delay_ms[] = "delay_ms";
constexpr const char seconds[] = "seconds";
constexpr const char emulation[] = "emulation";
constexpr const char pacelag_version[] = "pacelag_version";
constexpr const char kernel[] = "kernel";
constexpr const char duration_s[] = "duration_s"; // the first of the measured values
constexpr const char achieved_client_rate[] = "achieved_client_rate";
constexpr const char achieved_server_rate[] = "achieved_server_rate";
constexpr const char sent[] = "sent";
constexpr const char dropped[] = "dropped";
constexpr const char drop_share[] = "drop_share";
constexpr const char max_age_s[] = "max_age_s";
constexpr const char peak_client_sendq[] = "peak_client_sendq";
constexpr const char peak_client_unsent[] = "peak_client_unsent";
constexpr const char peak_inflight[] = "peak_inflight";
constexpr const char peak_link_backlog[] = "peak_link_backlog";
constexpr const char peak_server_recvq[] = "peak_server_recvq";
constexpr const char max_est_delay_ms[] = "max_est_delay_ms";
constexpr const char final_est_delay_ms[] = "final_est_delay_ms";
constexpr const char client_cadence[] = "client_cadence";
constexpr const char server_cadence[] = "server_cadence";
constexpr const char port[] = "port";
constexpr const char interrupted[] = "interrupted";
} // namespace summary_key

// What summary.json holds. Optional counts are -1 and optional measures NaN
// when unknown; they are written as null.
struct RunSummary {
    int server_rate = 0, client_rate = 0, padlen = 0;
    int64_t client_buflen = -1, server_buflen = -1; // -1: the system's default
    int64_t link_rate_bps = -1;                     // -1: no shaped link
    int delay_ms = 0;
    int seconds = 0;
    std::string emulation;       // "namespaces" or "loopback"
    std::string pacelag_version; // empty: unknown
    std::string kernel;
    double duration_s = 0;
    double achieved_client_rate = NAN, achieved_server_rate = NAN;
    int64_t sent = 0, dropped = 0; // messages (marks times the cadence)
    bool have_max_age = false;
    long long max_age_s = 0;
    int64_t peak_client_sendq = -1, peak_client_unsent = -1, peak_inflight = -1,
            peak_link_backlog = -1, peak_server_recvq = -1;
    double max_est_delay_ms = NAN, final_est_delay_ms = NAN;
    int client_cadence = 1, server_cadence = 1;
    int port = 0;
    bool interrupted = false;
};

// The summary's text, keys in a fixed order, format_version first.
std::string summary_json(const RunSummary& s);

// ---- writing ----

// Writes timeline.csv and events.csv row by row as the run goes, and the
// summary at the end. A failed write is remembered and reported by close().
class RunWriter {
  public:
    RunWriter() = default;
    ~RunWriter();
    RunWriter(const RunWriter&) = delete;
    RunWriter& operator=(const RunWriter&) = delete;

    // Creates both CSV files with their headers. 0, or -1 with errno set.
    int open(const std::string& dir);
    void timeline(const TimelineRow& row);
    void event(double t, const char* side, const std::string& line);
    // Closes the CSV files and writes summary.json. 0, or -1 with errno set
    // (also for an earlier failed row).
    int finish(const RunSummary& summary);
    const std::string& dir() const { return dir_; }

  private:
    void put(FILE* f, const std::string& text);
    std::string dir_;
    FILE* timeline_ = nullptr;
    FILE* events_ = nullptr;
    int error_ = 0;
};

// ---- reading ----

// The format version a summary declares; 1 when it has none.
int run_format_version(const std::vector<JsonMember>& summary);

// Each reads one file of DIR; false with a one-line reason in `err` (naming
// the file) when it cannot be read, is not of this format, or comes from a
// newer format than this program knows.
bool read_run_summary(const std::string& dir, std::vector<JsonMember>& summary, std::string& err);
// `version`: the run's format version; columns it predates are left empty.
bool read_run_timeline(const std::string& dir, int version, Timeline& timeline, std::string& err);
bool read_run_events(const std::string& dir, std::vector<Event>& events, std::string& err);

// One experiment as read from its directory.
struct RunData {
    std::vector<JsonMember> summary;
    int format_version = 1;
    Timeline timeline;
    std::vector<Event> events;
};
bool read_run(const std::string& dir, RunData& run, std::string& err);

// The same from CSV records already split (header first): false with the
// reason in `err` when the header lacks a column the version requires.
bool timeline_from_csv(const std::vector<std::vector<std::string>>& records, Timeline& out,
                       std::string& err, int version = 1);
bool events_from_csv(const std::vector<std::vector<std::string>>& records, std::vector<Event>& out,
                     std::string& err);
