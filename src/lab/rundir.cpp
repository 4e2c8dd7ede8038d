// SPDX-License-Identifier: MIT
// The run directory's format: names, the writer and the reader.
#include "rundir.h"

#include "labtext.h"

#include "pacelag/util.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace {

struct ColumnFormat {
    const char* name;
    int decimals;
    int since;
};

// In TimelineColumn's order.
const ColumnFormat kTimeline[kTimelineColumnCount] = {
    {"t", 3, 1},
    {"client_sendq", 0, 1},
    {"client_unsent", 0, 1},
    {"inflight", 0, 1},
    {"link_backlog", 0, 1},
    {"server_recvq", 0, 1},
    {"cwnd", 0, 1},
    {"rtt_ms", 3, 1},
    {"consumed_bps", 0, 1},
    {"est_delay_ms", 1, 1},
    {"server_received", 0, 2},
};

const char* const kEventNames[kEventColumnCount] = {"t", "side", "line"};

void put_optional(JsonObject& json, const char* key, int64_t value) {
    if (value < 0)
        json.null(key);
    else
        json.integer(key, value);
}

void put_measure(JsonObject& json, const char* key, double value, int decimals) {
    if (std::isnan(value))
        json.null(key);
    else
        json.number(key, value, decimals);
}

bool read_text(const std::string& path, std::string& text, std::string& err) {
    errno = 0;
    int len = 0;
    char* data = readfile(path.c_str(), &len);
    if (!data) {
        err = "cannot read " + path + ": " + (errno ? std::strerror(errno) : "not a readable file");
        return false;
    }
    // A NUL inside would cut the text short unnoticed further on.
    bool clean = std::memchr(data, '\0', static_cast<size_t>(len)) == nullptr;
    text.assign(data, static_cast<size_t>(len));
    std::free(data);
    if (!clean) {
        err = path + ": holds a NUL byte, not a text file";
        return false;
    }
    return true;
}

bool read_records(const std::string& path, std::vector<std::vector<std::string>>& records,
                  std::string& err) {
    std::string text;
    if (!read_text(path, text, err)) return false;
    if (!parse_csv(text.c_str(), records)) {
        err = path + ": out of memory";
        return false;
    }
    return true;
}

int column_of(const std::vector<std::string>& header, const char* name) {
    for (size_t i = 0; i < header.size(); ++i)
        if (header[i] == name) return static_cast<int>(i);
    return -1;
}

const std::string& field(const std::vector<std::string>& row, int col) {
    static const std::string empty;
    return col >= 0 && col < static_cast<int>(row.size()) ? row[col] : empty;
}

} // namespace

std::string run_path(const std::string& dir, const char* name) {
    if (dir.empty() || dir.back() == '/') return dir + name;
    return dir + "/" + name;
}

int run_dir_prepare(const std::string& dir) {
    std::string part;
    for (size_t i = 0; i <= dir.size(); ++i) {
        if (i == dir.size() || (dir[i] == '/' && i > 0)) {
            part = dir.substr(0, i);
            if (mkdir(part.c_str(), 0755) != 0 && errno != EEXIST) return -1;
        }
    }
    struct stat st;
    if (stat(dir.c_str(), &st) != 0) return -1;
    if (!S_ISDIR(st.st_mode)) {
        errno = ENOTDIR;
        return -1;
    }
    if (unlink(run_path(dir, kReportFile).c_str()) != 0 && errno != ENOENT) return -1;
    return 0;
}

const char* timeline_column_name(int column) {
    return column >= 0 && column < kTimelineColumnCount ? kTimeline[column].name : "";
}

int timeline_column_since(int column) {
    return column >= 0 && column < kTimelineColumnCount ? kTimeline[column].since : 1;
}

const char* event_column_name(int column) {
    return column >= 0 && column < kEventColumnCount ? kEventNames[column] : "";
}

TimelineRow::TimelineRow() {
    for (double& x : v) x = NAN;
}

std::vector<double>& Timeline::column(int c) {
    std::vector<double>* cols[kTimelineColumnCount] = {
        &t,    &client_sendq, &client_unsent, &inflight,     &link_backlog,   &server_recvq,
        &cwnd, &rtt_ms,       &consumed_bps,  &est_delay_ms, &server_received};
    return *cols[c];
}

const std::vector<double>& Timeline::column(int c) const {
    return const_cast<Timeline*>(this)->column(c);
}

std::string summary_json(const RunSummary& s) {
    namespace k = summary_key;
    JsonObject json;
    json.integer(k::format_version, kRunFormatVersion);
    json.integer(k::server_rate, s.server_rate);
    json.integer(k::client_rate, s.client_rate);
    json.integer(k::padlen, s.padlen);
    put_optional(json, k::client_buflen, s.client_buflen);
    put_optional(json, k::server_buflen, s.server_buflen);
    put_optional(json, k::link_rate_bps, s.link_rate_bps);
    json.integer(k::delay_ms, s.delay_ms);
    json.integer(k::seconds, s.seconds);
    json.text(k::emulation, s.emulation.c_str());
    if (s.pacelag_version.empty())
        json.null(k::pacelag_version);
    else
        json.text(k::pacelag_version, s.pacelag_version.c_str());
    json.text(k::kernel, s.kernel.c_str());
    json.number(k::duration_s, s.duration_s, 2);
    put_measure(json, k::achieved_client_rate, s.achieved_client_rate, 2);
    put_measure(json, k::achieved_server_rate, s.achieved_server_rate, 2);
    json.integer(k::sent, s.sent);
    json.integer(k::dropped, s.dropped);
    if (s.sent + s.dropped > 0)
        json.number(k::drop_share, static_cast<double>(s.dropped) / (s.sent + s.dropped), 4);
    else
        json.null(k::drop_share);
    if (s.have_max_age)
        json.integer(k::max_age_s, s.max_age_s);
    else
        json.null(k::max_age_s);
    put_optional(json, k::peak_client_sendq, s.peak_client_sendq);
    put_optional(json, k::peak_client_unsent, s.peak_client_unsent);
    put_optional(json, k::peak_inflight, s.peak_inflight);
    put_optional(json, k::peak_link_backlog, s.peak_link_backlog);
    put_optional(json, k::peak_server_recvq, s.peak_server_recvq);
    put_measure(json, k::max_est_delay_ms, s.max_est_delay_ms, 1);
    put_measure(json, k::final_est_delay_ms, s.final_est_delay_ms, 1);
    json.integer(k::client_cadence, s.client_cadence);
    json.integer(k::server_cadence, s.server_cadence);
    json.integer(k::port, s.port);
    json.boolean(k::interrupted, s.interrupted);
    return json.finish();
}

RunWriter::~RunWriter() {
    if (timeline_ != nullptr) fclose(timeline_);
    if (events_ != nullptr) fclose(events_);
}

int RunWriter::open(const std::string& dir) {
    dir_ = dir;
    timeline_ = fopen(run_path(dir, kTimelineFile).c_str(), "we");
    if (timeline_ == nullptr) return -1;
    events_ = fopen(run_path(dir, kEventsFile).c_str(), "we");
    if (events_ == nullptr) return -1;
    std::string header;
    for (int c = 0; c < kTimelineColumnCount; ++c)
        header += std::string(c ? "," : "") + kTimeline[c].name;
    put(timeline_, header + "\n");
    header.clear();
    for (int c = 0; c < kEventColumnCount; ++c)
        header += std::string(c ? "," : "") + kEventNames[c];
    put(events_, header + "\n");
    return error_ == 0 ? 0 : (errno = error_, -1);
}

void RunWriter::put(FILE* f, const std::string& text) {
    if (f != nullptr && fputs(text.c_str(), f) < 0 && error_ == 0) error_ = errno ? errno : EIO;
}

void RunWriter::timeline(const TimelineRow& row) {
    std::string line;
    for (int c = 0; c < kTimelineColumnCount; ++c) {
        if (c > 0) line += ',';
        if (std::isnan(row.v[c])) continue;
        char text[48];
        snprintf(text, sizeof text, "%.*f", kTimeline[c].decimals, row.v[c]);
        line += text;
    }
    line += '\n';
    put(timeline_, line);
}

void RunWriter::event(double t, const char* side, const std::string& line) {
    char stamp[32];
    snprintf(stamp, sizeof stamp, "%.3f,", t);
    std::string row = stamp;
    row += side;
    row += ',';
    csv_field(row, line.c_str());
    row += '\n';
    put(events_, row);
}

int RunWriter::finish(const RunSummary& summary) {
    for (FILE** f : {&timeline_, &events_}) {
        if (*f != nullptr && fclose(*f) != 0 && error_ == 0) error_ = errno;
        *f = nullptr;
    }
    if (write_text(run_path(dir_, kSummaryFile).c_str(), summary_json(summary)) != 0) return -1;
    if (error_ != 0) {
        errno = error_;
        return -1;
    }
    return 0;
}

int run_format_version(const std::vector<JsonMember>& summary) {
    double v = json_number(summary, summary_key::format_version);
    return std::isfinite(v) ? static_cast<int>(v) : 1;
}

bool read_run_summary(const std::string& dir, std::vector<JsonMember>& summary, std::string& err) {
    std::string path = run_path(dir, kSummaryFile), text;
    if (!read_text(path, text, err)) return false;
    if (!parse_flat_json(text.c_str(), summary, err)) {
        err = path + ": " + err;
        return false;
    }
    const JsonMember* v = json_find(summary, summary_key::format_version);
    if (v != nullptr) {
        double n = v->number;
        if (v->kind != JsonKind::Number || !(n >= 1) || n != std::floor(n)) {
            err = path + ": format_version is not a whole number from 1 up";
            return false;
        }
        if (n > kRunFormatVersion) {
            err = path + ": written in format " + v->text + " by a newer pacelag-lab; this one " +
                  "reads formats up to " + std::to_string(kRunFormatVersion);
            return false;
        }
    }
    return true;
}

bool timeline_from_csv(const std::vector<std::vector<std::string>>& records, Timeline& out,
                       std::string& err, int version) {
    if (records.empty()) {
        err = "empty file, no header";
        return false;
    }
    int cols[kTimelineColumnCount];
    for (int c = 0; c < kTimelineColumnCount; ++c) {
        cols[c] = column_of(records[0], kTimeline[c].name);
        if (cols[c] < 0 && kTimeline[c].since <= version) {
            err = std::string("no column \"") + kTimeline[c].name + "\" in the header";
            return false;
        }
    }
    for (int c = 0; c < kTimelineColumnCount; ++c) out.column(c).clear();
    for (size_t r = 1; r < records.size(); ++r) {
        // A row without a time cannot be placed on the time axis.
        if (std::isnan(csv_number(field(records[r], cols[kColT])))) continue;
        for (int c = 0; c < kTimelineColumnCount; ++c)
            out.column(c).push_back(csv_number(field(records[r], cols[c])));
    }
    return true;
}

bool events_from_csv(const std::vector<std::vector<std::string>>& records, std::vector<Event>& out,
                     std::string& err) {
    if (records.empty()) {
        err = "empty file, no header";
        return false;
    }
    int cols[kEventColumnCount];
    for (int c = 0; c < kEventColumnCount; ++c) {
        cols[c] = column_of(records[0], kEventNames[c]);
        if (cols[c] < 0) {
            err = std::string("no column \"") + kEventNames[c] + "\" in the header";
            return false;
        }
    }
    out.clear();
    for (size_t r = 1; r < records.size(); ++r) {
        double t = csv_number(field(records[r], cols[kEvT]));
        if (std::isnan(t)) continue;
        out.push_back({t, field(records[r], cols[kEvSide]), field(records[r], cols[kEvLine])});
    }
    return true;
}

bool read_run_timeline(const std::string& dir, int version, Timeline& timeline, std::string& err) {
    std::string path = run_path(dir, kTimelineFile);
    std::vector<std::vector<std::string>> records;
    if (!read_records(path, records, err)) return false;
    if (!timeline_from_csv(records, timeline, err, version)) {
        err = path + ": " + err;
        return false;
    }
    return true;
}

bool read_run_events(const std::string& dir, std::vector<Event>& events, std::string& err) {
    std::string path = run_path(dir, kEventsFile);
    std::vector<std::vector<std::string>> records;
    if (!read_records(path, records, err)) return false;
    if (!events_from_csv(records, events, err)) {
        err = path + ": " + err;
        return false;
    }
    return true;
}

bool read_run(const std::string& dir, RunData& run, std::string& err) {
    if (!read_run_summary(dir, run.summary, err)) return false;
    run.format_version = run_format_version(run.summary);
    return read_run_timeline(dir, run.format_version, run.timeline, err) &&
           read_run_events(dir, run.events, err);
}
