// SPDX-License-Identifier: MIT
// INI text: key = value lines, plain or marked up as simple HTML, read into an
// aaContext, and cutting one [section] out of an INI text. The text may be any
// bytes: every look-ahead stops at the terminating NUL.
#include "pacelag/util.h"

#include "alloc.h"
#include "check.h"

#include <cctype>
#include <cstring>

namespace {

bool alnum(char ch) {
    return std::isalnum(static_cast<unsigned char>(ch)) != 0;
}

// True when text starts with tag, letters compared ignoring case. Stops at the
// first mismatch, so a NUL in text ends the comparison.
bool hastag(const char* text, const char* tag) {
    for (; *tag != '\0'; text++, tag++) {
        if (charlower(*text) != *tag) return false;
    }
    return true;
}

// Position just past the next '>', or of the NUL when the text ends inside the tag.
int skiptag(const char* text, int i) {
    while (text[i] != '\0' && text[i] != '>') i++;
    return text[i] == '>' ? i + 1 : i;
}

// Length of a line-ending tag at text, 0 when there is none.
int lineendtag(const char* text) {
    if (hastag(text, "<br>") || hastag(text, "<tr>")) return 4;
    if (hastag(text, "<p>")) return 3;
    return 0;
}

struct Line {
    int keystart, keyend, valuestart, valueend; // -1 while unknown
    bool sepseen, keyquoted, valuequoted;
    void clear() {
        keystart = keyend = valuestart = valueend = -1;
        sepseen = keyquoted = valuequoted = false;
    }
};

char* copyrun(const char* text, int first, int last) {
    int length = last >= first ? last - first + 1 : 0;
    return util_strndup(text + first, static_cast<size_t>(length));
}

// Stores what the line holds; the line ends at position end. -1 when out of memory.
int finishline(aaContext* table, const char* text, Line& line, int end) {
    if (line.valuestart >= 0) {
        if (line.valueend < 0) line.valueend = end - 1;
        char* key = copyrun(text, line.keystart, line.keyend);
        char* value = copyrun(text, line.valuestart, line.valueend);
        if (key == nullptr || value == nullptr) {
            std::free(key);
            std::free(value);
            return -1;
        }
        for (const char* ch = " -_.\r"; *ch != '\0'; ch++) stripchar(key, *ch);
        strtrim(value);
        if (aaput(table, key, value, AA_OWNKEY | AA_OWNVALUE) == -1) {
            std::free(key);
            std::free(value);
            return -1;
        }
    } else if (line.keystart >= 0 && line.keyend < 0) {
        // Only this line's own text: later lines are read as lines of their own.
        char* value = copyrun(text, line.keystart, end - 1);
        if (value == nullptr) return -1;
        stripcrlf(value);
        strtrim(value);
        if (aaput(table, "keyonly", value, AA_COPYKEY | AA_OWNVALUE) == -1) {
            std::free(value);
            return -1;
        }
    }
    return 0;
}

} // namespace

int ini2aa(aaContext* table, const char* text, char lineend, char separator) {
    UTIL_CHECK(table != NULL);
    if (text == nullptr) return 0;
    Line line;
    line.clear();
    int i = 0;
    for (;;) {
        char ch = text[i];

        // Markup that is passed over in every state.
        if (hastag(text + i, "<td>")) {
            i += 4;
            continue;
        }
        if (hastag(text + i, "<b>") || hastag(text + i, "<i>")) {
            i += 3;
            continue;
        }
        if (ch == '<' && text[i + 1] == '/') {
            if (line.valuestart >= 0 && line.valueend < 0) line.valueend = i - 1;
            i = skiptag(text, i);
            continue;
        }

        // End of the line.
        int tag = lineendtag(text + i);
        if (ch == '\0' || ch == lineend || tag != 0) {
            if (finishline(table, text, line, i) != 0) return -1;
            if (ch == '\0') return 0;
            i += tag != 0 ? tag : 1;
            line.clear();
            continue;
        }

        if (line.keystart < 0) {
            if (ch == '"') {
                if (alnum(text[i + 1])) line.keyquoted = true;
                i++;
                continue;
            }
            if (ch == '<') {
                i = skiptag(text, i);
                continue;
            }
            if (!alnum(ch)) {
                i++;
                continue;
            }
            line.keystart = i;
        }

        // With another separator, "x=y: z" keys on y: '=' restarts the key.
        if (separator != '=' && ch == '=' && line.keyend < 0) {
            line.keystart = i + 1;
            // Never step over the terminating NUL or the end of the line: the
            // next line would be read as part of this key.
            const char* next = text + i + 1;
            i += *next == '\0' || *next == lineend || lineendtag(next) != 0 ? 1 : 2;
            continue;
        }

        if (line.keyend < 0 || !line.sepseen) {
            if (line.keyquoted && line.keyend < 0 && ch == '"') {
                line.keyend = i - 1;
                i++;
            } else if (ch == separator) {
                line.sepseen = true;
                if (line.keyend < 0) line.keyend = i - 1;
                i++;
            } else if (ch == '<') {
                if (line.keyend < 0) line.keyend = i - 1;
                i = skiptag(text, i);
            } else if (ch == '&' && hastag(text + i + 1, "eq;")) {
                line.sepseen = true;
                if (line.keyend < 0) line.keyend = i - 1;
                i += 4;
            } else {
                i++;
            }
            continue;
        }

        // The value part.
        if (line.valuestart < 0) {
            if (ch == '"' && alnum(text[i + 1])) {
                line.valuestart = i + 1;
                line.valuequoted = true;
                i += 2;
            } else if (ch == '"') {
                i++;
            } else {
                line.valuestart = i;
                i++;
            }
        } else {
            if (line.valuequoted && line.valueend < 0 && ch == '"') line.valueend = i - 1;
            i++;
        }
    }
}

int ini2aa(aaContext* table, const char* text) {
    return ini2aa(table, text, '\n', '=');
}

namespace {

char* sectioncopy(const char* from, const char* to) {
    while (from < to && (*from == '\r' || *from == '\n')) from++;
    return util_strndup(from, static_cast<size_t>(to - from));
}

char* findsection(const char* data, const char* name) {
    if (name == nullptr) name = "";
    size_t namelength = std::strlen(name);
    bool linestart = true;
    bool inheader = false;
    bool anyheader = false;
    const char* header = nullptr; // the '[' of the open header
    const char* found = nullptr;  // data of the wanted section
    const char* p = data;
    for (; *p != '\0'; p++) {
        char ch = *p;
        if (!inheader) {
            if (ch == '[' && linestart) {
                inheader = true;
                header = p;
            } else {
                linestart = ch == '\r' || ch == '\n';
            }
            continue;
        }
        if (ch == '\r' || ch == '\n') {
            inheader = false;
            linestart = true;
        } else if (ch == ']') {
            // The line-start mark stays as it was: "[a][b]" holds two headers.
            inheader = false;
            if (found != nullptr) return sectioncopy(found, header);
            size_t length = static_cast<size_t>(p - header - 1);
            if (length == 0 || (length == namelength && std::memcmp(header + 1, name, length) == 0))
                found = p + 1;
            anyheader = true;
        }
    }
    if (found != nullptr) return sectioncopy(found, p);
    if (anyheader) return util_strdup("");
    return sectioncopy(data, p);
}

} // namespace

char* getsection(char* data, char* name) {
    UTIL_CHECK(data != __null);
    return findsection(data, name);
}

char* getsection(const char* data, const char* name) {
    UTIL_CHECK(data != __null);
    return findsection(data, name);
}
