// SPDX-License-Identifier: MIT
// Text the lab writes and reads: CSV fields, a flat JSON object, the split of
// pacelag's output into event rows, and option values with units.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>

// Appends `field` to `out` as one CSV field: quoted with inner quotes doubled
// only when it holds a comma, a quote or a line end.
void csv_field(std::string& out, const char* field);

// Appends `text` as a JSON string literal, quotes included.
void json_string(std::string& out, const char* text);

// A flat JSON object written key by key in the order given.
class JsonObject {
  public:
    void number(const char* key, double value, int decimals);
    void integer(const char* key, int64_t value);
    void text(const char* key, const char* value);
    void boolean(const char* key, bool value);
    void null(const char* key);
    std::string finish() const; // "{...}\n"

  private:
    void key(const char* name);
    std::string body_;
};

// Splits one program's output into event rows. pacelag's client prints its
// marks without line ends, so for a client every leading '#' or '.' of a line
// is a row of its own; any other text is a row per line. A line end alone
// (after marks) gives no row.
class LineSplitter {
  public:
    explicit LineSplitter(bool marks) : marks_(marks) {}
    void feed(const char* data, size_t len, const std::function<void(const std::string&)>& row);
    // The unfinished last line, if any.
    void finish(const std::function<void(const std::string&)>& row);

  private:
    bool marks_;
    std::string line_;
};

// A rate in bits per second: a plain number or one with the suffix bit, kbit,
// mbit or gbit (or k, m, g), any letter case, decimals allowed ("1.5mbit").
// -1 for anything else or a rate below 1 bit/s.
int64_t parse_bitrate(const char* text);

// Whole decimal number in low..high, nothing else around it; false otherwise.
bool parse_int(const char* text, int64_t low, int64_t high, int64_t& value);

// Writes the whole text to a new file; 0, or -1 with errno set.
int write_text(const char* path, const std::string& text);
