// SPDX-License-Identifier: MIT
// Reading the text the lab writes: one flat JSON object, RFC 4180 CSV records
// and the numbers in their fields.
#include "textread.h"

#include "pacelag/util.h"

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
