// SPDX-License-Identifier: MIT
// Reading the text the lab writes: one flat JSON object into its members, CSV
// text into records of fields, and a field into a number.
#pragma once

#include <string>
#include <vector>

enum class JsonKind { Number, String, Null, Bool, Other };

// One member of a flat object. `text` is the number as written, the decoded
// string, "null", "true"/"false", or the raw text of a nested value.
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
