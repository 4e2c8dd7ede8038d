// SPDX-License-Identifier: MIT
// Text the lab writes: CSV fields, a flat JSON object, whole files; and
// option values with units.
#pragma once

#include <cstdint>
#include <cstdio>
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

// A rate in bits per second: a plain number or one with the suffix bit, kbit,
// mbit or gbit (or k, m, g), any letter case, decimals allowed ("1.5mbit").
// -1 for anything else or a rate below 1 bit/s.
int64_t parse_bitrate(const char* text);

// Whole decimal number in low..high, nothing else around it; false otherwise.
bool parse_int(const char* text, int64_t low, int64_t high, int64_t& value);

// Writes the whole text to a new file; 0, or -1 with errno set.
int write_text(const char* path, const std::string& text);
