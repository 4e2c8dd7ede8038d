// SPDX-License-Identifier: MIT
// The report's inputs: the flat summary object, CSV records, the timeline and
// the printed lines of one experiment, read into plain vectors, and the
// reductions the charts need (per-second mark counts, peak-keeping thinning).
#pragma once

#include <string>
#include <vector>

enum class JsonKind { Number, String, Null, Bool, Other };

// One member of the summary object. `text` is the number as written, the
// decoded string, "null", "true"/"false", or the raw text of a nested value.
struct JsonMember {
    std::string key;
    JsonKind kind;
    std::string text;
    double number; // NaN unless kind is Number
};

// Parses one JSON object into its members, in file order. Nested values are
// kept as raw text (kind Other). false with a reason in `err` when the text is
// not one well-formed object.
bool parse_flat_json(const char* text, std::vector<JsonMember>& out, std::string& err);
// The member named key, or null.
const JsonMember* json_find(const std::vector<JsonMember>& members, const char* key);
// Its number, or NaN when absent or not a number.
double json_number(const std::vector<JsonMember>& members, const char* key);

// Splits RFC 4180 text into records of fields. Line ends inside quotes belong
// to the field; CRLF and LF both end a record; blank lines are skipped. false
// only when memory runs out.
bool parse_csv(const char* text, std::vector<std::vector<std::string>>& records);

// A number field as a double; NaN for an empty field or any text that is not
// one finite decimal number.
double csv_number(const std::string& field);

// Timeline columns the charts use; a missing value is NaN.
struct Timeline {
    std::vector<double> t, client_sendq, client_unsent, inflight, link_backlog, server_recvq, cwnd,
        rtt_ms, consumed_bps, est_delay_ms;
};

struct Event {
    double t;
    std::string side;
    std::string line;
};

// Both take the file's records, header first; false with the reason in `err`
// when the header lacks a column.
bool timeline_from_csv(const std::vector<std::vector<std::string>>& records, Timeline& out,
                       std::string& err);
bool events_from_csv(const std::vector<std::vector<std::string>>& records, std::vector<Event>& out,
                     std::string& err);

// True when the line is an age as the server prints it ("%lld").
bool is_age_line(const std::string& line, long long& age);

// Client marks counted per whole second of t: sent ("#") and dropped (".")
// for the seconds 0 .. the last mark's second. Marks after 10^6 s (a corrupt
// time) are not counted.
void marks_per_second(const std::vector<Event>& events, std::vector<int>& sent,
                      std::vector<int>& dropped);

// Per-second counts averaged over bars of `width` seconds (the last bar may
// be shorter and is averaged over its own length); width is the smallest
// whole number of seconds that keeps the bars at most max_bars.
std::vector<double> per_second_bars(const std::vector<int>& counts, size_t max_bars, size_t& width);

// Indices of the points to draw when a series has more than max_points:
// the first and last, and each bucket's lowest and highest value in time
// order, so peaks survive thinning. Every index when the series is short.
std::vector<size_t> thin_indices(const std::vector<double>& y, size_t max_points);

// The print cadence pacelag derives from a rate; 0 when the rate is not a
// valid one (1 to 100000).
int mark_cadence(double rate);
