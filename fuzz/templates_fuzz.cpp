// SPDX-License-Identifier: MIT
// Fuzz target: the four template substitution routines and quote doubling,
// against a small table whose keys compare exactly or ignoring case. Input:
// a control byte, a value for the key "v", LF, then the template.
// Properties: the template and the table are left unchanged; a template
// without '$' comes back as it is; both key modes agree when case cannot
// matter; each routine's escaping of a value undoes to the value.
#include "pacelag/util.h"

#include "fuzzing.h"

#include <algorithm>
#include <cctype>

namespace {

const char* const kPairs[][2] = {{"a", "1<2&3"},     {"n", "42"},      {"t", "it's"},
                                 {"s", "C:\\dir/x"}, {"n_1", "under"}, {"", "empty"}};

aaContext* maketable(int flags, const char* v) {
    aaContext* table = aacreate(flags);
    FUZZ_CHECK(table != nullptr);
    for (auto& p : kPairs) FUZZ_CHECK(aaput(table, p[0], p[1], AA_COPYKEY | AA_COPYVALUE) == 0);
    FUZZ_CHECK(aaput(table, "v", v, AA_COPYKEY | AA_COPYVALUE) == 0);
    return table;
}

// Undoes the JSON string escapes the substitution writes.
std::string unjson(const char* s) {
    std::string out;
    for (; *s; ++s) {
        if (*s != '\\') {
            out += *s;
            continue;
        }
        ++s;
        FUZZ_CHECK(*s != '\0');
        if (*s == 'u') { // other control bytes as \u00XX
            FUZZ_CHECK(std::strncmp(s + 1, "00", 2) == 0 &&
                       std::isxdigit(static_cast<unsigned char>(s[3])) &&
                       std::isxdigit(static_cast<unsigned char>(s[4])));
            char c = static_cast<char>(std::strtoul(std::string(s + 3, 2).c_str(), nullptr, 16));
            FUZZ_CHECK(static_cast<unsigned char>(c) < 0x20);
            out += c;
            s += 4;
            continue;
        }
        const char* from = "btnfr\"/\\";
        const char* to = "\b\t\n\f\r\"/\\";
        const char* at = std::strchr(from, *s);
        FUZZ_CHECK(at != nullptr);
        out += to[at - from];
    }
    return out;
}

enum Kind { PLAIN, HTML, JSON, QUERY };

std::string escaped(Kind kind, const std::string& value) {
    std::string out;
    for (unsigned char c : value) {
        if (kind == HTML && std::strchr("\"&<>", c) && c) {
            out += c == '"' ? "&quot;" : c == '&' ? "&amp;" : c == '<' ? "&lt;" : "&gt;";
        } else if (kind == JSON && c && std::strchr("\b\t\n\f\r", c)) {
            out += '\\';
            out += "btnfr"[std::strchr("\b\t\n\f\r", c) - "\b\t\n\f\r"];
        } else if (kind == JSON && c && std::strchr("\"/\\", c)) {
            out += '\\';
            out += static_cast<char>(c);
        } else if (kind == JSON && c < 0x20) {
            char u[8];
            std::snprintf(u, sizeof u, "\\u%04x", c);
            out += u;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

// The substitution rules over a template: '$', a mode character ('.' plain;
// '\'' or '-' query), the longest run of name characters, the replacement,
// then the character that ended the name copied as it is.
std::string wantsub(Kind kind, const std::string& t, aaContext* table) {
    std::string out;
    size_t linestart = 0; // just past the last line break copied from the template
    size_t i = 0;
    auto copy = [&](char c) {
        out += c;
        if (c == '\r' || c == '\n') linestart = out.size();
    };
    while (i < t.size()) {
        if (t[i] != '$') {
            copy(t[i++]);
            continue;
        }
        ++i;
        char mode = 0;
        if (i < t.size() &&
            ((kind == PLAIN && t[i] == '.') || (kind == QUERY && (t[i] == '\'' || t[i] == '-'))))
            mode = t[i++];
        size_t start = i;
        while (i < t.size() &&
               (std::isalnum(static_cast<unsigned char>(t[i])) || (kind == PLAIN && t[i] == '_')))
            ++i;
        std::string name = t.substr(start, i - start);
        const char* value = static_cast<const char*>(aaget(table, name.c_str()));
        if (kind == QUERY) {
            if (value == nullptr && mode == '-') {
                out.resize(linestart);
                size_t lf = t.find('\n', i);
                i = lf == std::string::npos ? t.size() : lf;
                continue;
            }
            if (value == nullptr)
                out += "NULL";
            else if (mode == '\'') {
                out += '\'';
                for (const char* c = value; *c; ++c) out += *c == '\'' ? "''" : std::string(1, *c);
                out += '\'';
            } else {
                out += isnumeric(value) ? value : "NULL";
            }
        } else if (value == nullptr) {
            if (mode != '.') out += "$" + name;
        } else if (kind == PLAIN) {
            bool guard = !out.empty() && out.back() == '"';
            std::string v = value;
            if (guard)
                for (char& c : v)
                    if (c == '"' || c == '\\') c = ' ';
            out += v;
        } else {
            out += escaped(kind, value);
        }
        if (i < t.size() && t[i] != '$') copy(t[i++]);
    }
    return out;
}

using Substitution = char* (*)(char*, aaContext*);
const Substitution kRoutines[] = {keysub, htmlkeysub, jsonkeysub, querykeysub};

void checktemplate(const std::string& text, aaContext* exact, aaContext* nocase) {
    HeapText t(text);
    int before = aacount(exact);
    bool hasdollar = std::strchr(t.p, '$') != nullptr;
    bool hasupper = false;
    for (size_t i = 0; i < t.len; ++i)
        hasupper = hasupper || std::isupper(static_cast<unsigned char>(t.p[i]));
    // Names past 63 characters may be looked up by a prefix.
    size_t run = 0, longest = 0;
    for (size_t i = 0; i < t.len; ++i) {
        run = std::isalnum(static_cast<unsigned char>(t.p[i])) || t.p[i] == '_' ? run + 1 : 0;
        longest = std::max(longest, run);
    }
    for (Kind kind : {PLAIN, HTML, JSON, QUERY}) {
        Substitution sub = kRoutines[kind];
        char* a = sub(t.p, exact);
        if (a != nullptr && longest <= 63) FUZZ_CHECK(wantsub(kind, t.p, exact) == a);
        char* b = sub(t.p, nocase);
        char* c = sub(t.p, nullptr);
        FUZZ_CHECK(a && b && c && t.same(text));
        FUZZ_CHECK(std::strcmp(c, t.p) == 0);
        if (!hasdollar) FUZZ_CHECK(std::strcmp(a, t.p) == 0 && std::strcmp(b, t.p) == 0);
        if (!hasupper) FUZZ_CHECK(std::strcmp(a, b) == 0);
        std::free(a);
        std::free(b);
        std::free(c);
    }
    FUZZ_CHECK(aacount(exact) == before);
}

// A reference to "v" alone, and right after a template double quote.
void checkvalue(const std::string& value, aaContext* table) {
    HeapText v(value);
    char plain[] = "$v";
    char quoted[] = "\"$v";
    char literal[] = "$'v";
    char* k = keysub(plain, table);
    FUZZ_CHECK(k && std::strcmp(k, v.p) == 0);
    char* kq = keysub(quoted, table);
    std::string guarded = std::string("\"") + v.p;
    for (size_t i = 1; i < guarded.size(); ++i)
        if (guarded[i] == '"' || guarded[i] == '\\') guarded[i] = ' ';
    FUZZ_CHECK(kq && guarded == kq);

    char* h = htmlkeysub(plain, table);
    FUZZ_CHECK(h != nullptr);
    htmlunescape(h);
    FUZZ_CHECK(std::strcmp(h, v.p) == 0);

    char* j = jsonkeysub(plain, table);
    FUZZ_CHECK(j && unjson(j) == v.p);

    char* q = querykeysub(plain, table);
    FUZZ_CHECK(q && std::strcmp(q, isnumeric(v.p) ? v.p : "NULL") == 0);
    char* ql = querykeysub(literal, table);
    char* doubled = nullptr;
    int n = quotedupnew(v.p, doubled);
    FUZZ_CHECK(doubled && n == static_cast<int>(std::strlen(doubled)));
    FUZZ_CHECK(ql && std::string("'") + doubled + "'" == ql);
    // Undoubling gives the value back.
    std::string undone;
    for (const char* c = doubled; *c; ++c) {
        undone += *c;
        if (*c == '\'') {
            FUZZ_CHECK(c[1] == '\'');
            ++c;
        }
    }
    FUZZ_CHECK(undone == v.p);
    for (char* p : {k, kq, h, j, q, ql, doubled}) std::free(p);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput in(data, size);
    in.byte();
    std::vector<std::string> parts = in.parts('\n', 2);
    parts.resize(2);
    std::string value = ctext(parts[0]);
    aaContext* exact = maketable(0, value.c_str());
    aaContext* nocase = maketable(AA_NOCASE, value.c_str());
    checktemplate(parts[1], exact, nocase);
    checktemplate(in.rest(), exact, nocase);
    checkvalue(value, exact);
    aafree(exact);
    aafree(nocase);
    return 0;
}
