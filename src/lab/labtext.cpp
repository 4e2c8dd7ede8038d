// SPDX-License-Identifier: MIT
// CSV and JSON output, whole files and option values for the lab.
#include "labtext.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <strings.h>

void csv_field(std::string& out, const char* field) {
    if (strpbrk(field, ",\"\r\n") == nullptr) {
        out += field;
        return;
    }
    out += '"';
    for (const char* p = field; *p != '\0'; ++p) {
        if (*p == '"') out += '"';
        out += *p;
    }
    out += '"';
}

void json_string(std::string& out, const char* text) {
    out += '"';
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p != '\0'; ++p) {
        switch (*p) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            if (*p < 0x20) {
                char hex[8];
                snprintf(hex, sizeof hex, "\\u%04x", *p);
                out += hex;
            } else {
                out += static_cast<char>(*p);
            }
        }
    }
    out += '"';
}

void JsonObject::key(const char* name) {
    body_ += body_.empty() ? "{" : ",";
    json_string(body_, name);
    body_ += ':';
}

void JsonObject::number(const char* name, double value, int decimals) {
    key(name);
    if (!std::isfinite(value)) {
        body_ += "null"; // JSON has no infinity
        return;
    }
    char text[64];
    snprintf(text, sizeof text, "%.*f", decimals, value);
    body_ += text;
}

void JsonObject::integer(const char* name, int64_t value) {
    key(name);
    body_ += std::to_string(value);
}

void JsonObject::text(const char* name, const char* value) {
    key(name);
    json_string(body_, value);
}

void JsonObject::boolean(const char* name, bool value) {
    key(name);
    body_ += value ? "true" : "false";
}

void JsonObject::null(const char* name) {
    key(name);
    body_ += "null";
}

std::string JsonObject::finish() const {
    return (body_.empty() ? std::string("{") : body_) + "}\n";
}

int64_t parse_bitrate(const char* text) {
    if (text == nullptr) return -1;
    char* end = nullptr;
    errno = 0;
    double value = strtod(text, &end);
    if (end == text || errno != 0 || !(value >= 0)) return -1;
    static const struct {
        const char* suffix;
        double scale;
    } units[] = {{"", 1},    {"bit", 1},    {"k", 1e3}, {"kbit", 1e3},
                 {"m", 1e6}, {"mbit", 1e6}, {"g", 1e9}, {"gbit", 1e9}};
    for (const auto& u : units) {
        if (strcasecmp(end, u.suffix) != 0) continue;
        double bits = value * u.scale;
        if (bits < 1 || bits > 1e12) return -1;
        return static_cast<int64_t>(bits + 0.5);
    }
    return -1;
}

bool parse_int(const char* text, int64_t low, int64_t high, int64_t& value) {
    if (text == nullptr || *text == '\0') return false;
    char* end = nullptr;
    errno = 0;
    long long v = strtoll(text, &end, 10);
    if (errno != 0 || *end != '\0' || v < low || v > high) return false;
    value = v;
    return true;
}

int write_text(const char* path, const std::string& text) {
    FILE* f = fopen(path, "wb");
    if (f == nullptr) return -1;
    size_t n = fwrite(text.data(), 1, text.size(), f);
    int err = n == text.size() ? 0 : errno;
    if (fclose(f) != 0 && err == 0) err = errno;
    if (err == 0) return 0;
    errno = err;
    return -1;
}
