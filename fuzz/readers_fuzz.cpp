// SPDX-License-Identifier: MIT
// Fuzz target: the readers and builders of untrusted text: INI text and its
// sections, HTML tag attributes, values and entities, CSV records, delimited
// lists, template key lists, regular-expression group names and command lines.
// Properties: texts promised unchanged stay unchanged (also those written to
// for a moment), counting agrees with splitting, escaping into a buffer agrees
// with escaping into a new text, escaping and unescaping round trip, and what
// lands in a table has the shape its builder promises.
#include "pacelag/util.h"

#include "fuzzing.h"

#include <algorithm>
#include <cctype>
#include <strings.h>

namespace {

const char* const kSpaceLike = " -_.\r";
const char kEscaped[] = "\"&<>";
const char* const kEntities[] = {"&quot;", "&amp;", "&lt;", "&gt;"};

// Every entry of a table: key and value texts.
std::vector<std::pair<std::string, std::string>> entries(aaContext* table) {
    std::vector<std::pair<std::string, std::string>> out;
    aarewind(table);
    const char* key = nullptr;
    while (void* value = aanext(table, key)) out.emplace_back(key, static_cast<const char*>(value));
    return out;
}

void checkini(const std::string& text, uint8_t control) {
    HeapText t(text);
    char lineend = control & 1 ? '\n' : ';';
    char separator = control & 2 ? '=' : ':';
    aaContext* exact = aacreate();
    aaContext* nocase = aacreate(AA_NOCASE);
    FUZZ_CHECK(exact && nocase);
    FUZZ_CHECK(ini2aa(exact, t.p, lineend, separator) == 0);
    FUZZ_CHECK(ini2aa(nocase, t.p, lineend, separator) == 0);
    FUZZ_CHECK(t.same(text));
    FUZZ_CHECK(aacount(nocase) <= aacount(exact));
    for (auto& e : entries(exact)) {
        if (e.first != "keyonly")
            FUZZ_CHECK(e.first.find_first_of(kSpaceLike) == std::string::npos);
        const std::string& v = e.second;
        if (!v.empty()) {
            FUZZ_CHECK(!std::strchr(" \r\n", v.front()) && !std::strchr(" \r\n", v.back()));
        }
        FUZZ_CHECK(aaget(nocase, e.first.c_str()) != nullptr);
    }
    aafree(exact);
    aafree(nocase);
    aaContext* plain = aacreate();
    FUZZ_CHECK(ini2aa(plain, t.p) == 0);
    aafree(plain);
}

// The section rules: a header is '[' at a line start (or right after a
// closing ']') up to ']' on the same line; "[]" matches any name; the section
// runs to the next header or the end; leading line breaks are dropped.
std::string wantsection(const std::string& data, const std::string& name) {
    bool linestart = true, inheader = false, found = false, seen = false;
    size_t open = 0, begin = 0, end = data.size();
    for (size_t i = 0; i < data.size(); ++i) {
        char c = data[i];
        bool lineend = c == '\r' || c == '\n';
        if (!inheader) {
            if (c == '[' && linestart) {
                inheader = true;
                open = i;
            } else {
                linestart = lineend;
            }
        } else if (lineend) {
            inheader = false;
            linestart = true;
        } else if (c == ']') {
            inheader = false;
            if (found) {
                end = open;
                break;
            }
            std::string header = data.substr(open + 1, i - open - 1);
            if (header.empty() || header == name) {
                found = true;
                begin = i + 1;
            }
            seen = true;
        }
    }
    if (!found) {
        if (seen) return "";
        begin = 0;
    }
    std::string out = data.substr(begin, end - begin);
    size_t first = out.find_first_not_of("\r\n");
    return first == std::string::npos ? "" : out.substr(first);
}

void checksection(const std::string& text, const std::string& name) {
    HeapText t(text), n(name);
    char* section = getsection(t.p, n.p);
    FUZZ_CHECK(section != nullptr && t.same(text) && n.same(name));
    // A piece of the text, never starting with a line break.
    FUZZ_CHECK(std::strstr(t.p, section) != nullptr);
    FUZZ_CHECK(section[0] != '\r' && section[0] != '\n');
    FUZZ_CHECK(section == wantsection(t.p, n.p));
    const char* cdata = t.p;
    char* again = getsection(cdata, static_cast<const char*>(nullptr));
    FUZZ_CHECK(again != nullptr && std::strstr(t.p, again) != nullptr);
    std::free(section);
    std::free(again);
}

bool blank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

// The attribute value rules: the first occurrence of the key outside double
// quotes, '=' after optional blanks, repeated '=' and blanks skipped, then a
// quoted or a bare value, with &lt; &gt; &quot; decoded. Null: no value.
bool tagvalue(const std::string& html, const std::string& key, std::string& value) {
    std::string uhtml = html, ukey = key;
    for (char& c : uhtml) c = charupper(c);
    for (char& c : ukey) c = charupper(c);
    size_t at = uhtml.find(ukey);
    while (at != std::string::npos && std::count(html.begin(), html.begin() + at + 1, '"') % 2)
        at = uhtml.find(ukey, at + 1);
    if (at == std::string::npos) return false;
    size_t p = at + key.size();
    while (p < html.size() && blank(html[p])) ++p;
    if (p >= html.size() || html[p] != '=') return false;
    while (p < html.size() && html[p] == '=') ++p;
    while (p < html.size() && blank(html[p])) ++p;
    size_t end = p;
    if (p < html.size() && (html[p] == '"' || html[p] == '\'')) {
        char quote = html[p++];
        end = html.find(quote, p);
        if (end == std::string::npos) end = html.size();
    } else {
        while (end < html.size() && !blank(html[end])) ++end;
    }
    std::string raw = html.substr(p, end - p), lower = raw;
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    value.clear();
    for (size_t i = 0; i < raw.size(); ++i) {
        if (lower.compare(i, 4, "&lt;") == 0) {
            value += '<';
            i += 3;
        } else if (lower.compare(i, 4, "&gt;") == 0) {
            value += '>';
            i += 3;
        } else if (lower.compare(i, 6, "&quot;") == 0) {
            value += '"';
            i += 5;
        } else {
            value += raw[i];
        }
    }
    return true;
}

void checktags(const std::string& text, const std::string& key) {
    HeapText t(text), k(key);
    aaContext* table = aacreate(AA_NOCASE);
    FUZZ_CHECK(htmlattr2aa(table, t.p) == 0);
    FUZZ_CHECK(t.same(text));
    for (auto& e : entries(table)) FUZZ_CHECK(e.first.find_first_of(" -_.") == std::string::npos);
    aaclear(table);
    if (k.len > 0) {
        FUZZ_CHECK(htmlattr2aa(table, t.p, k.p, k.p) == 0 && t.same(text));
        char* value = htmltagvalue(t.p, k.p, static_cast<int>(k.len));
        FUZZ_CHECK(t.same(text));
        // Decoding only shrinks, and the value is taken from the tag text.
        if (value != nullptr) FUZZ_CHECK(std::strlen(value) < t.len);
        std::string want;
        bool found = tagvalue(t.p, k.p, want);
        FUZZ_CHECK(found ? value != nullptr && want == value : value == nullptr);
        std::free(value);
    }
    aafree(table);
}

void checkentities(const std::string& text, uint8_t control) {
    HeapText t(text);
    char* esc = htmlescape(t.p);
    FUZZ_CHECK(esc != nullptr && t.same(text));
    size_t esclen = std::strlen(esc);
    {
        HeapBuf full(static_cast<int>(esclen) + 1);
        htmlescapebuf(t.p, full.p, full.size);
        FUZZ_CHECK(std::strcmp(full.p, esc) == 0);
    }
    {
        // A smaller buffer holds the longest run of whole pieces that fits.
        HeapBuf part(static_cast<int>(esclen * control / 255) + 1);
        htmlescapebuf(t.p, part.p, part.size);
        size_t n = std::strlen(part.p), fits = 0, boundary = 0;
        for (size_t i = 0; i < t.len; ++i) {
            const char* c = std::strchr(kEscaped, t.p[i]);
            boundary += c ? std::strlen(kEntities[c - kEscaped]) : 1;
            if (boundary < static_cast<size_t>(part.size))
                fits = boundary;
            else
                break;
        }
        FUZZ_CHECK(part.terminated() && n == fits && std::strncmp(part.p, esc, n) == 0);
    }
    {
        char untouched = 'u';
        htmlescapebuf(t.p, &untouched, 0);
        FUZZ_CHECK(untouched == 'u');
    }
    // Unescaping what was escaped gives the text back.
    HeapText round(esc);
    int n = htmlunescape(round.p);
    FUZZ_CHECK(n == static_cast<int>(std::strlen(round.p)) && round.same(t.p));
    std::free(esc);

    HeapText raw(text);
    n = htmlunescape(raw.p);
    FUZZ_CHECK(n >= 0 && static_cast<size_t>(n) <= t.len && raw.p[n] == '\0');

    int len = t.len == 0 ? 0 : static_cast<int>(control % (t.len + 1));
    char* some = htmlunescapen(t.p, len);
    FUZZ_CHECK(some != nullptr && std::strlen(some) <= static_cast<size_t>(len) && t.same(text));
    std::free(some);
}

void checksearch(const std::string& text, const std::string& needle) {
    HeapText t(text), n(needle);
    std::string upper = t.p, uneedle = n.p;
    for (char& c : upper) c = charupper(c);
    for (char& c : uneedle) c = charupper(c);
    size_t at = upper.find(uneedle);
    const char* found = stristr(static_cast<const char*>(t.p), n.p);
    const char* end = stristrend(static_cast<const char*>(t.p), n.p);
    if (at == std::string::npos) {
        FUZZ_CHECK(found == nullptr && end == nullptr);
    } else {
        FUZZ_CHECK(found == t.p + at && end == t.p + at + n.len);
    }
    size_t quotes = 0;
    for (size_t i = 0; i < t.len; ++i) {
        quotes += t.p[i] == '"';
        FUZZ_CHECK(outsidequotes(t.p, t.p + i) == (quotes % 2 == 0));
    }
    FUZZ_CHECK(!outsidequotes(t.p, t.p + t.len));
}

bool csvblank(char c) {
    return c == ' ' || c == '\r' || c == '\n';
}

// The record rules: blanks around fields dropped, a separator between fields
// an empty field, a quoted field up to its closing quote with "" for a quote
// and any text after the closing quote appended, and a separator at the end
// one more empty field.
std::vector<std::string> wantcsv(const std::string& t, char sep) {
    std::vector<std::string> fields;
    size_t i = 0, n = t.size();
    bool afterseparator = false;
    for (;;) {
        while (i < n && csvblank(t[i])) ++i;
        if (i >= n) {
            if (afterseparator) fields.emplace_back();
            break;
        }
        if (t[i] == sep) {
            fields.emplace_back();
            afterseparator = true;
            ++i;
            continue;
        }
        std::string value;
        size_t end;
        if (t[i] == '"') {
            for (++i; i < n; ++i) {
                if (t[i] == '"' && i + 1 < n && t[i + 1] == '"') {
                    value += '"';
                    ++i;
                } else if (t[i] == '"') {
                    break;
                } else {
                    value += t[i];
                }
            }
            end = std::min(t.find(sep, i), n);
            if (i < n) {
                // From the closing quote to the last non-blank before the field's end.
                size_t last = t.find_last_not_of(" \r\n", end - 1);
                std::string tail = last > i ? t.substr(i, last + 1 - i) : "";
                for (size_t k = 0; k < tail.size(); ++k) {
                    value += tail[k];
                    if (tail[k] == '"' && k + 1 < tail.size() && tail[k + 1] == '"') ++k;
                }
            }
        } else {
            end = std::min(t.find(sep, i), n);
            size_t last = t.find_last_not_of(" \r\n", end - 1);
            value = t.substr(i, last + 1 - i);
        }
        fields.push_back(value);
        if (end >= n) break;
        i = end + 1;
        afterseparator = true;
    }
    return fields;
}

void checkcsv(const std::string& text, char sep) {
    HeapText t(text);
    const char separator[2] = {sep, '\0'};
    char** fields = csvsplit(separator, t.p);
    int count = csvcount(separator, t.p);
    FUZZ_CHECK(t.same(text));
    if (fields == nullptr) {
        FUZZ_CHECK(count == -1 && strblank(t.p));
        return;
    }
    FUZZ_CHECK(!strblank(t.p));
    size_t seps = std::count(t.p, t.p + t.len, sep);
    FUZZ_CHECK(count == static_cast<int>(strlistcount(fields)) && count >= 1);
    FUZZ_CHECK(static_cast<size_t>(count) <= seps + 1);
    for (char** f = fields; *f; ++f) FUZZ_CHECK(std::strlen(*f) <= t.len);
    if (!std::strchr(" \r\n\"", sep)) {
        std::vector<std::string> want = wantcsv(t.p, sep);
        FUZZ_CHECK(want.size() == static_cast<size_t>(count));
        for (int i = 0; i < count; ++i) FUZZ_CHECK(want[i] == fields[i]);
    }
    strlistfree(fields);
}

void checklists(const std::string& text, const std::string& delimiters) {
    HeapText t(text), d(delimiters);
    // One entry per distinct trimmed token, letter case ignored, keyed by itself.
    std::vector<std::string> tokens;
    {
        std::string rest = t.p;
        size_t at = 0;
        while ((at = rest.find_first_not_of(d.p, at)) != std::string::npos) {
            size_t end = rest.find_first_of(d.p, at);
            std::string token = rest.substr(at, end == std::string::npos ? end : end - at);
            size_t a = token.find_first_not_of(" \r\n"), b = token.find_last_not_of(" \r\n");
            std::string folded = a == std::string::npos ? "" : token.substr(a, b - a + 1);
            for (char& c : folded) c = charlower(c);
            if (std::find(tokens.begin(), tokens.end(), folded) == tokens.end())
                tokens.push_back(folded);
            if (end == std::string::npos) break;
            at = end;
        }
    }
    aaContext* set = list2aa(d.p, t.p);
    FUZZ_CHECK(set != nullptr && aacount(set) == static_cast<int>(tokens.size()));
    for (auto& e : entries(set)) {
        FUZZ_CHECK(e.first == e.second);
        std::string folded = e.first;
        for (char& c : folded) c = charlower(c);
        FUZZ_CHECK(std::find(tokens.begin(), tokens.end(), folded) != tokens.end());
    }
    aafree(set);

    HeapText tmpl(text);
    aaContext* keys = aacreate();
    keylist(tmpl.p, keys);
    FUZZ_CHECK(tmpl.same(text));
    FUZZ_CHECK(aacount(keys) <= std::count(tmpl.p, tmpl.p + tmpl.len, '$'));
    for (auto& e : entries(keys)) {
        FUZZ_CHECK(e.second.empty());
        for (char c : e.first) FUZZ_CHECK(std::isalnum(static_cast<unsigned char>(c)));
        FUZZ_CHECK(std::strstr(tmpl.p, ("$" + e.first).c_str()) != nullptr);
    }
    aafree(keys);

    HeapText pattern(text); // list2aa cut t up
    char** groups = regexgroups(pattern.p);
    FUZZ_CHECK(groups != nullptr && strlistcount(groups) <= 400 && pattern.same(text));
    for (char** g = groups; *g; ++g) {
        FUZZ_CHECK(**g != '\0');
        FUZZ_CHECK(std::strstr(pattern.p, (std::string("(?<") + *g + ">").c_str()) != nullptr);
    }
    strlistfree(groups);
}

// Key hashes: the case-folding forms agree, and hashing up to a delimiter is
// hashing the text before it.
void checkhashes(const std::string& text, char delim) {
    HeapText t(text);
    FUZZ_CHECK(strihash(t.p) == aahash(AA_NOCASE, t.p));
    std::string upper = t.p;
    for (char& c : upper) c = charupper(c);
    HeapText u(upper);
    FUZZ_CHECK(strihash(u.p) == strihash(t.p) && aahash(AA_NOCASE, u.p) == aahash(AA_NOCASE, t.p));
    FUZZ_CHECK(memihash(t.p, static_cast<int>(t.len)) == strihash(t.p));
    int length = -1;
    uint16_t h = strihashto(t.p, delim, length);
    const char* stop = delim != '\0' ? std::strchr(t.p, delim) : nullptr;
    int want = stop ? static_cast<int>(stop - t.p) : static_cast<int>(t.len);
    FUZZ_CHECK(length == want && h == strihashto(t.p, delim));
    HeapText prefix(std::string(t.p, want));
    FUZZ_CHECK(h == strihash(prefix.p) && t.same(text));
}

// Words separated by LF as a command line; argv[0] is the program name.
void checkargs(const std::string& text) {
    std::vector<std::string> words{"prog"};
    size_t start = 0;
    for (size_t at; (at = text.find('\n', start)) != std::string::npos; start = at + 1)
        words.push_back(text.substr(start, at - start));
    words.push_back(text.substr(start));
    std::vector<HeapText*> heap;
    std::vector<const char*> argv;
    for (auto& w : words) {
        heap.push_back(new HeapText(w));
        argv.push_back(heap.back()->p);
    }
    argv.push_back(nullptr);
    aaContext* table = args2aa(static_cast<int>(words.size()), argv.data());
    FUZZ_CHECK(table != nullptr);
    size_t options = 0;
    for (size_t i = 1; i < words.size(); ++i) options += heap[i]->p[0] == '-';
    FUZZ_CHECK(static_cast<size_t>(aacount(table)) <= options);
    for (auto& e : entries(table)) {
        bool seen = false;
        for (size_t i = 1; i < words.size() && !seen; ++i)
            seen = heap[i]->p[0] == '-' && strcasecmp(heap[i]->p + 1, e.first.c_str()) == 0;
        FUZZ_CHECK(seen);
        FUZZ_CHECK(e.second.empty() || e.second[0] != '-');
    }
    for (size_t i = 0; i < words.size(); ++i) {
        FUZZ_CHECK(heap[i]->same(words[i]));
        delete heap[i];
    }
    aafree(table);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput in(data, size);
    uint8_t control = in.byte();
    char sep = static_cast<char>(in.byte());
    if (sep == '\0') sep = ',';
    std::string text = in.rest();
    std::vector<std::string> two = in.parts('\x01', 2);
    two.resize(2);
    checkini(text, control);
    checksection(text, two[1]);
    checktags(text, two[1]);
    checkentities(text, control);
    checksearch(two[0], two[1]);
    checkcsv(text, sep);
    checklists(text, two[1]);
    checkargs(text);
    checkhashes(text, sep);
    return 0;
}
