// SPDX-License-Identifier: MIT
// Reading an experiment's files for the report: the summary object, the CSV
// records of the timeline and the printed lines, and the reductions drawn.
#include "report_data.h"

#include "pacelag/util.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace {

struct JsonScanner {
    const char* p;
    std::string err;

    void skip_space() {
        while (*p == ' ' || *p == '\t' || *p == '\n' || *p == '\r') ++p;
    }
    bool fail(const char* why) {
        if (err.empty()) err = why;
        return false;
    }

    static void put_utf8(std::string& out, unsigned cp) {
        if (cp < 0x80) {
            out += static_cast<char>(cp);
        } else if (cp < 0x800) {
            out += static_cast<char>(0xC0 | (cp >> 6));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else if (cp < 0x10000) {
            out += static_cast<char>(0xE0 | (cp >> 12));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (cp >> 18));
            out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        }
    }

    bool hex4(unsigned& cp) {
        cp = 0;
        for (int i = 0; i < 4; ++i) {
            char c = *p++;
            unsigned d;
            if (c >= '0' && c <= '9')
                d = c - '0';
            else if (c >= 'a' && c <= 'f')
                d = c - 'a' + 10;
            else if (c >= 'A' && c <= 'F')
                d = c - 'A' + 10;
            else
                return fail("bad \\u escape");
            cp = cp * 16 + d;
        }
        return true;
    }

    bool string(std::string& out) {
        if (*p != '"') return fail("expected a string");
        ++p;
        for (;;) {
            unsigned char c = static_cast<unsigned char>(*p);
            if (c == 0) return fail("unterminated string");
            if (c < 0x20) return fail("control character in a string");
            ++p;
            if (c == '"') return true;
            if (c != '\\') {
                out += static_cast<char>(c);
                continue;
            }
            char e = *p++;
            switch (e) {
            case '"': out += '"'; break;
            case '\\': out += '\\'; break;
            case '/': out += '/'; break;
            case 'b': out += '\b'; break;
            case 'f': out += '\f'; break;
            case 'n': out += '\n'; break;
            case 'r': out += '\r'; break;
            case 't': out += '\t'; break;
            case 'u': {
                unsigned cp;
                if (!hex4(cp)) return false;
                if (cp >= 0xD800 && cp < 0xDC00 && p[0] == '\\' && p[1] == 'u') {
                    const char* save = p;
                    p += 2;
                    unsigned lo;
                    if (!hex4(lo)) return false;
                    if (lo >= 0xDC00 && lo < 0xE000)
                        cp = 0x10000 + ((cp - 0xD800) << 10) + (lo - 0xDC00);
                    else
                        p = save;
                }
                // A lone surrogate has no UTF-8 form: show the replacement character.
                if (cp >= 0xD800 && cp < 0xE000) cp = 0xFFFD;
                if (cp == 0) cp = 0xFFFD; // texts end at NUL further on
                put_utf8(out, cp);
                break;
            }
            default: return fail("bad escape in a string");
            }
        }
    }

    bool number(std::string& out) {
        const char* start = p;
        if (*p == '-') ++p;
        if (*p == '0') {
            ++p;
        } else if (*p >= '1' && *p <= '9') {
            while (*p >= '0' && *p <= '9') ++p;
        } else {
            return fail("bad number");
        }
        if (*p == '.') {
            ++p;
            if (!(*p >= '0' && *p <= '9')) return fail("bad number");
            while (*p >= '0' && *p <= '9') ++p;
        }
        if (*p == 'e' || *p == 'E') {
            ++p;
            if (*p == '+' || *p == '-') ++p;
            if (!(*p >= '0' && *p <= '9')) return fail("bad number");
            while (*p >= '0' && *p <= '9') ++p;
        }
        out.assign(start, p);
        return true;
    }

    bool word(const char* w) {
        size_t n = std::strlen(w);
        if (std::strncmp(p, w, n) != 0) return fail("unexpected text");
        p += n;
        return true;
    }

    // Any value; depth bounds the recursion on hostile nesting.
    bool value(JsonMember& m, int depth) {
        if (depth > 64) return fail("nested too deeply");
        skip_space();
        const char* start = p;
        if (*p == '"') {
            m.kind = JsonKind::String;
            return string(m.text);
        }
        if (*p == '{' || *p == '[') {
            char close = *p == '{' ? '}' : ']';
            bool object = *p == '{';
            ++p;
            skip_space();
            if (*p != close) {
                for (;;) {
                    JsonMember inner;
                    if (object) {
                        skip_space();
                        std::string key;
                        if (!string(key)) return false;
                        skip_space();
                        if (*p++ != ':') return fail("expected ':'");
                    }
                    if (!value(inner, depth + 1)) return false;
                    skip_space();
                    if (*p == ',') {
                        ++p;
                        continue;
                    }
                    break;
                }
            }
            if (*p++ != close) return fail("unterminated object or array");
            m.kind = JsonKind::Other;
            m.text.assign(start, p);
            return true;
        }
        if (*p == 't' || *p == 'f') {
            m.kind = JsonKind::Bool;
            if (!word(*p == 't' ? "true" : "false")) return false;
            m.text.assign(start, p);
            return true;
        }
        if (*p == 'n') {
            m.kind = JsonKind::Null;
            if (!word("null")) return false;
            m.text = "null";
            return true;
        }
        m.kind = JsonKind::Number;
        if (!number(m.text)) return false;
        m.number = std::strtod(m.text.c_str(), nullptr);
        return true;
    }
};

} // namespace

bool parse_flat_json(const char* text, std::vector<JsonMember>& out, std::string& err) {
    out.clear();
    JsonScanner s{text, {}};
    s.skip_space();
    if (*s.p != '{') {
        err = "not a JSON object";
        return false;
    }
    ++s.p;
    s.skip_space();
    if (*s.p == '}') {
        ++s.p;
    } else {
        for (;;) {
            JsonMember m{{}, JsonKind::Null, {}, NAN};
            s.skip_space();
            if (!s.string(m.key)) break;
            s.skip_space();
            if (*s.p++ != ':') {
                s.fail("expected ':'");
                break;
            }
            if (!s.value(m, 1)) break;
            out.push_back(std::move(m));
            s.skip_space();
            if (*s.p == ',') {
                ++s.p;
                continue;
            }
            if (*s.p++ != '}') s.fail("expected ',' or '}'");
            break;
        }
    }
    if (s.err.empty()) {
        s.skip_space();
        if (*s.p != '\0') s.fail("text after the object");
    }
    if (!s.err.empty()) {
        err = s.err + " at byte " + std::to_string(s.p - text);
        out.clear();
        return false;
    }
    return true;
}

const JsonMember* json_find(const std::vector<JsonMember>& members, const char* key) {
    for (const JsonMember& m : members)
        if (m.key == key) return &m;
    return nullptr;
}

double json_number(const std::vector<JsonMember>& members, const char* key) {
    const JsonMember* m = json_find(members, key);
    return m && m->kind == JsonKind::Number ? m->number : NAN;
}

bool parse_csv(const char* text, std::vector<std::vector<std::string>>& records) {
    records.clear();
    std::string record;
    bool quoted = false;
    for (const char* p = text;; ++p) {
        if (*p == '"') quoted = !quoted;
        if (*p != '\0' && (*p != '\n' || quoted)) {
            record += *p;
            continue;
        }
        if (!record.empty() && record.back() == '\r') record.pop_back();
        if (!strblank(record.c_str())) {
            char** fields = csvsplit(",", record.c_str());
            if (!fields) return false;
            std::vector<std::string> row;
            for (char** f = fields; *f; ++f) row.emplace_back(*f);
            strlistfree(fields);
            records.push_back(std::move(row));
        }
        record.clear();
        if (*p == '\0') return true;
    }
}

double csv_number(const std::string& field) {
    if (field.empty()) return NAN;
    const char* s = field.c_str();
    // Only plain decimals: strtod alone would also take "inf", "nan" and hex.
    for (const char* c = s; *c; ++c)
        if (!std::strchr("0123456789+-.eE", *c)) return NAN;
    char* end = nullptr;
    errno = 0;
    double v = std::strtod(s, &end);
    if (end == s || *end != '\0' || errno == ERANGE || !std::isfinite(v)) return NAN;
    return v;
}

namespace {

int column_of(const std::vector<std::string>& header, const char* name) {
    for (size_t i = 0; i < header.size(); ++i)
        if (header[i] == name) return static_cast<int>(i);
    return -1;
}

bool columns_of(const std::vector<std::vector<std::string>>& records, const char* const* names,
                int count, std::vector<int>& cols, std::string& err) {
    if (records.empty()) {
        err = "empty file, no header";
        return false;
    }
    cols.clear();
    for (int i = 0; i < count; ++i) {
        int c = column_of(records[0], names[i]);
        if (c < 0) {
            err = std::string("no column \"") + names[i] + "\" in the header";
            return false;
        }
        cols.push_back(c);
    }
    return true;
}

const std::string& field(const std::vector<std::string>& row, int col) {
    static const std::string empty;
    return col < static_cast<int>(row.size()) ? row[col] : empty;
}

} // namespace

bool timeline_from_csv(const std::vector<std::vector<std::string>>& records, Timeline& out,
                       std::string& err) {
    static const char* const names[] = {
        "t",    "client_sendq", "client_unsent", "inflight",    "link_backlog", "server_recvq",
        "cwnd", "rtt_ms",       "consumed_bps",  "est_delay_ms"};
    std::vector<double>* dest[] = {&out.t,           &out.client_sendq, &out.client_unsent,
                                   &out.inflight,    &out.link_backlog, &out.server_recvq,
                                   &out.cwnd,        &out.rtt_ms,       &out.consumed_bps,
                                   &out.est_delay_ms};
    std::vector<int> cols;
    if (!columns_of(records, names, 10, cols, err)) return false;
    for (std::vector<double>* d : dest) d->clear();
    for (size_t r = 1; r < records.size(); ++r) {
        // A row without a time cannot be placed on the time axis.
        if (std::isnan(csv_number(field(records[r], cols[0])))) continue;
        for (int i = 0; i < 10; ++i) dest[i]->push_back(csv_number(field(records[r], cols[i])));
    }
    return true;
}

bool events_from_csv(const std::vector<std::vector<std::string>>& records, std::vector<Event>& out,
                     std::string& err) {
    static const char* const names[] = {"t", "side", "line"};
    std::vector<int> cols;
    if (!columns_of(records, names, 3, cols, err)) return false;
    out.clear();
    for (size_t r = 1; r < records.size(); ++r) {
        double t = csv_number(field(records[r], cols[0]));
        if (std::isnan(t)) continue;
        out.push_back({t, field(records[r], cols[1]), field(records[r], cols[2])});
    }
    return true;
}

bool is_age_line(const std::string& line, long long& age) {
    const char* s = line.c_str();
    const char* d = *s == '-' ? s + 1 : s;
    if (*d == '\0' || std::strlen(d) > 18) return false;
    for (const char* c = d; *c; ++c)
        if (*c < '0' || *c > '9') return false;
    age = std::strtoll(s, nullptr, 10);
    return true;
}

void marks_per_second(const std::vector<Event>& events, std::vector<int>& sent,
                      std::vector<int>& dropped) {
    sent.clear();
    dropped.clear();
    for (const Event& e : events) {
        if (e.side != "client" || (e.line != "#" && e.line != ".")) continue;
        // A negative or absurd time would make the vectors explode.
        if (e.t < 0 || e.t > 1e6) continue;
        size_t second = static_cast<size_t>(e.t);
        if (second >= sent.size()) {
            sent.resize(second + 1, 0);
            dropped.resize(second + 1, 0);
        }
        ++(e.line == "#" ? sent : dropped)[second];
    }
}

std::vector<double> per_second_bars(const std::vector<int>& counts, size_t max_bars,
                                    size_t& width) {
    if (max_bars < 1) max_bars = 1;
    width = counts.size() <= max_bars ? 1 : (counts.size() + max_bars - 1) / max_bars;
    std::vector<double> bars;
    for (size_t from = 0; from < counts.size(); from += width) {
        size_t to = std::min(from + width, counts.size());
        double sum = 0;
        for (size_t i = from; i < to; ++i) sum += counts[i];
        bars.push_back(sum / static_cast<double>(to - from));
    }
    return bars;
}

std::vector<size_t> thin_indices(const std::vector<double>& y, size_t max_points) {
    std::vector<size_t> keep;
    size_t n = y.size();
    if (max_points < 4) max_points = 4;
    if (n <= max_points) {
        for (size_t i = 0; i < n; ++i) keep.push_back(i);
        return keep;
    }
    size_t buckets = (max_points - 2) / 2;
    keep.push_back(0);
    for (size_t b = 0; b < buckets; ++b) {
        size_t from = 1 + b * (n - 2) / buckets, to = 1 + (b + 1) * (n - 2) / buckets;
        size_t lo = n, hi = n;
        for (size_t i = from; i < to; ++i) {
            if (std::isnan(y[i])) continue;
            if (lo == n || y[i] < y[lo]) lo = i;
            if (hi == n || y[i] > y[hi]) hi = i;
        }
        if (lo == n) {
            // Keep a gap visible where the whole bucket is missing.
            if (from < to) keep.push_back(from);
            continue;
        }
        keep.push_back(std::min(lo, hi));
        if (lo != hi) keep.push_back(std::max(lo, hi));
    }
    keep.push_back(n - 1);
    return keep;
}

int mark_cadence(double rate) {
    if (std::isnan(rate) || rate < 1 || rate > 100000 || rate != std::floor(rate)) return 0;
    int cadence = static_cast<int>(rate) / 24;
    return cadence == 0 ? 1 : cadence;
}
