// SPDX-License-Identifier: MIT
// Builders of an aaContext or a list of texts from HTML tag attributes,
// template '$' references, delimited lists, separated records and the named
// groups of a regular expression.
#include "pacelag/util.h"

#include "alloc.h"
#include "check.h"
#include "tagvalue.h"

#include <cctype>
#include <cstring>

namespace {

bool alnum(char ch) {
    return std::isalnum(static_cast<unsigned char>(ch)) != 0;
}

bool blank(char ch) {
    return ch == ' ' || ch == '\r' || ch == '\n';
}

} // namespace

int htmlattr2aa(aaContext* aa, char* html, char* nameattr, char* valueattr) {
    UTIL_CHECK(aa != __null);
    if (html == nullptr) return 0;
    const char* nattr = nameattr != nullptr ? nameattr : "NAME";
    const char* vattr = valueattr != nullptr ? valueattr : "VALUE";
    int nlength = static_cast<int>(std::strlen(nattr));
    int vlength = static_cast<int>(std::strlen(vattr));
    int result = 0;
    char* tag = nullptr;
    for (char* p = html; *p != '\0'; p++) {
        if (*p == '<' && tag == nullptr) {
            tag = p + 1;
            continue;
        }
        if (*p != '>' || tag == nullptr) continue;
        // The tag ends here for the attribute lookups only; the '>' goes back below.
        *p = '\0';
        char* name = nullptr;
        char* value = nullptr;
        int named = findtagvalue(tag, nattr, nlength, name);
        int valued = findtagvalue(tag, vattr, vlength, value);
        *p = '>';
        tag = nullptr;
        if (named == 0) {
            std::free(value);
            continue;
        }
        // A name or value that was there but could not be copied is a pair
        // not stored, not a tag without a pair.
        if (named > 0 && valued == 0) value = util_strdup("");
        if (name == nullptr || value == nullptr) {
            std::free(name);
            std::free(value);
            result = -1;
            continue;
        }
        for (const char* ch = "-_. "; *ch != '\0'; ch++) stripchar(name, *ch);
        if (aaput(aa, name, value, AA_OWNKEY | AA_OWNVALUE) == -1) {
            std::free(name);
            std::free(value);
            result = -1;
        }
    }
    return result;
}

int htmlattr2aa(aaContext* aa, char* html) {
    return htmlattr2aa(aa, html, nullptr, nullptr);
}

void keylist(char* src, aaContext* varlist) {
    UTIL_CHECK(src != __null && varlist != __null);
    char* p = src;
    while (*p != '\0') {
        if (*p != '$') {
            p++;
            continue;
        }
        char* name = p + 1;
        char* end = name;
        while (alnum(*end)) end++;
        char saved = *end;
        *end = '\0';
        aaput(varlist, name, "", AA_COPYKEY | AA_COPYVALUE); // a failed store is skipped
        *end = saved;
        p = end; // a '$' here starts the next name at once
    }
}

aaContext* list2aa(const char* delimiters, char* text) {
    aaContext* table = aacreate(AA_NOCASE);
    if (table == nullptr || text == nullptr) return table;
    if (delimiters == nullptr) delimiters = "";
    bool failed = false;
    char* state = nullptr;
    for (char* token = strtok_r(text, delimiters, &state); token != nullptr;
         token = strtok_r(nullptr, delimiters, &state)) {
        char* word = util_strdup(token);
        if (word == nullptr) {
            failed = true;
            continue;
        }
        strtrim(word);
        // The entry owns the text once; its value points at the same text.
        if (aaput(table, word, word, AA_OWNKEY) < 0) {
            std::free(word);
            failed = true;
        }
    }
    if (failed) {
        aafree(table);
        return nullptr;
    }
    return table;
}

namespace {

// Appends run[0..length) to out with each pair of double quotes as one.
size_t unquote(char* out, size_t at, const char* run, size_t length) {
    for (size_t i = 0; i < length; i++) {
        out[at++] = run[i];
        if (run[i] == '"' && i + 1 < length && run[i + 1] == '"') i++;
    }
    return at;
}

// The field at text (past any blanks between fields). Sets `next` to the
// position after the field (the separator that ends it, or the NUL).
char* readfield(const char* text, char sep, const char*& next) {
    const char* p = text;
    const char* quoted = nullptr; // inside the quotes, when the field is quoted
    const char* quotedend = nullptr;
    if (*p == '"') {
        quoted = ++p;
        while (*p != '\0') {
            if (*p == '"' && p[1] == '"') {
                p += 2;
            } else if (*p == '"') {
                break;
            } else {
                p++;
            }
        }
        quotedend = p;
        if (*p == '"') p++;
    }
    // Unquoted text, or what follows a closing quote: up to the separator.
    const char* rest = p;
    const char* last = nullptr; // last byte other than a blank
    while (*p != '\0' && *p != sep) {
        if (!blank(*p)) last = p;
        p++;
    }
    next = p;

    size_t size = 1;
    if (quoted != nullptr) size += static_cast<size_t>(quotedend - quoted);
    const char* tail = quoted != nullptr ? quotedend : rest; // the closing quote onwards
    size_t taillength = last != nullptr ? static_cast<size_t>(last - tail + 1) : 0;
    size += taillength;
    char* field = static_cast<char*>(util_malloc(size));
    if (field == nullptr) return nullptr;
    size_t at = 0;
    if (quoted != nullptr) at = unquote(field, at, quoted, static_cast<size_t>(quotedend - quoted));
    if (quoted != nullptr) {
        at = unquote(field, at, tail, taillength);
    } else {
        std::memcpy(field + at, tail, taillength);
        at += taillength;
    }
    field[at] = '\0';
    return field;
}

} // namespace

char** csvsplit(const char* separator, const char* text) {
    if (strblank(text)) return nullptr;
    char sep = separator != nullptr ? separator[0] : '\0';
    size_t capacity = 1;
    if (sep != '\0')
        for (const char* p = text; *p != '\0'; p++) capacity += *p == sep;
    char** list = static_cast<char**>(util_calloc(capacity + 1, sizeof(char*)));
    if (list == nullptr) return nullptr;

    size_t count = 0;
    bool trailing = false; // a separator ended the last field or stood between fields
    const char* p = text;
    for (;;) {
        // Between fields.
        if (*p == '\0') break;
        if (blank(*p)) {
            p++;
            continue;
        }
        char* field;
        if (*p == sep) {
            field = util_strdup("");
            p++;
            trailing = true;
        } else {
            field = readfield(p, sep, p);
            trailing = *p != '\0'; // stopped at the separator, not at the end
            if (trailing) p++;
        }
        if (field == nullptr || count >= capacity) {
            std::free(field);
            strlistfree(list);
            return nullptr;
        }
        list[count++] = field;
    }
    if (trailing) {
        // The capacity counts every separator, so the extra field always fits.
        char* field = count < capacity ? util_strdup("") : nullptr;
        if (field == nullptr) {
            strlistfree(list);
            return nullptr;
        }
        list[count++] = field;
    }
    return list;
}

int csvcount(const char* separator, const char* text) {
    char** list = csvsplit(separator, text);
    if (list == nullptr) return -1;
    int count = static_cast<int>(strlistcount(list));
    strlistfree(list);
    return count;
}

namespace {

const int maxgroups = 400;

// Walks the named groups of pattern; stores them in list when it is given.
// Returns the number found (at most maxgroups), or -1 when a copy failed.
int scangroups(const char* pattern, char** list) {
    int count = 0;
    const char* p = pattern;
    while (*p != '\0' && count < maxgroups) {
        bool opens = p[0] == '(' && p[1] == '?' && p[2] == '<' && alnum(p[3]) &&
                     (p == pattern || p[-1] != '\\');
        if (!opens) {
            p++;
            continue;
        }
        const char* name = p + 3;
        p = name;
        while (alnum(*p)) p++;
        if (*p != '>') continue; // the byte that dropped the name is scanned on
        if (list != nullptr) {
            list[count] = util_strndup(name, static_cast<size_t>(p - name));
            if (list[count] == nullptr) return -1;
        }
        count++;
        p++;
    }
    return count;
}

} // namespace

char** regexgroups(const char* pattern) {
    if (pattern == nullptr) pattern = "";
    int count = scangroups(pattern, nullptr);
    char** list = static_cast<char**>(util_calloc(static_cast<size_t>(count) + 1, sizeof(char*)));
    if (list == nullptr) return nullptr;
    if (scangroups(pattern, list) < 0) {
        strlistfree(list);
        return nullptr;
    }
    return list;
}

void strlistfree(char** list) {
    if (list == nullptr) return;
    for (char** p = list; *p != nullptr; p++) std::free(*p);
    std::free(list);
}
