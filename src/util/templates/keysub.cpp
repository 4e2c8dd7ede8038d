// SPDX-License-Identifier: MIT
// Template key substitution: '$name' references of a template filled from an
// aaContext, with values escaped for plain text, HTML, JSON or SQL.
#include "pacelag/util.h"

#include "alloc.h"
#include "check.h"

#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

enum Flavour { PLAIN, HTML, JSON, QUERY };

// The output text and its growth rule: it starts with room for the template
// plus a margin; a template character that does not fit grows it by the
// margin, an insertion of n bytes by n plus the margin. Every growth is at
// least half the current room, though: fixed steps would copy a long output
// over and over (quadratic time wherever realloc cannot extend in place).
struct Output {
    char* buf = nullptr;
    size_t room = 0;
    size_t pos = 0;
    size_t margin = 0;
    size_t linestart = 0; // just after the last CR or LF copied from the template
};

bool setroom(Output& o, size_t room) {
    char* grown = static_cast<char*>(util_realloc(o.buf, room));
    if (grown == nullptr) return false;
    o.buf = grown;
    o.room = room;
    return true;
}

bool grow(Output& o, size_t room) {
    size_t geometric = o.room + o.room / 2;
    return setroom(o, room > geometric ? room : geometric);
}

// Room for k more template characters and the terminator, in margin steps
// (the room that growing before each single character would reach).
bool roomforcopy(Output& o, size_t k) {
    if (o.pos + k < o.room) return true;
    size_t steps = (o.pos + k - o.room) / o.margin + 1;
    return grow(o, o.room + steps * o.margin);
}

bool roomforinsert(Output& o, size_t n) {
    if (o.pos + n + 1 < o.room) return true;
    return grow(o, o.room + n + o.margin);
}

bool copytemplate(Output& o, const char* s, size_t k, Flavour flavour) {
    if (k == 0) return true;
    if (!roomforcopy(o, k)) return false;
    std::memcpy(o.buf + o.pos, s, k);
    if (flavour == QUERY) {
        for (size_t i = k; i > 0; --i) {
            if (s[i - 1] == '\n' || s[i - 1] == '\r') {
                o.linestart = o.pos + i;
                break;
            }
        }
    }
    o.pos += k;
    return true;
}

bool insert(Output& o, const char* s, size_t n) {
    if (!roomforinsert(o, n)) return false;
    std::memcpy(o.buf + o.pos, s, n);
    o.pos += n;
    return true;
}

// Name characters, ASCII only (the locale is never consulted): bit 1 for
// letters and digits, bit 2 for '_', which only keysub accepts.
struct NameClass {
    unsigned char bits[256] = {};
    constexpr NameClass() {
        for (int c = 0; c < 256; ++c) {
            bool alnum = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
            bits[c] = static_cast<unsigned char>((alnum ? 3 : 0) | (c == '_' ? 2 : 0));
        }
    }
};
constexpr NameClass nameclass;

// Plain value; right after a double quote it must not be able to close that
// quote or escape anything, so '"' and '\' become spaces.
bool insertplain(Output& o, const char* value, size_t n) {
    bool guard = o.pos > 0 && o.buf[o.pos - 1] == '"';
    if (!insert(o, value, n)) return false;
    if (guard) {
        char* p = o.buf + o.pos - n;
        for (size_t i = 0; i < n; ++i) {
            if (p[i] == '"' || p[i] == '\\') p[i] = ' ';
        }
    }
    return true;
}

// Bytes that each character adds when escaped, for HTML and for JSON.
struct EscapeGrowth {
    unsigned char html[256] = {};
    unsigned char json[256] = {};
    constexpr EscapeGrowth() {
        html[static_cast<unsigned char>('"')] = 5;  // &quot;
        html[static_cast<unsigned char>('&')] = 4;  // &amp;
        html[static_cast<unsigned char>('<')] = 3;  // &lt;
        html[static_cast<unsigned char>('>')] = 3;  // &gt;
        for (int c = 0; c < 0x20; ++c) json[c] = 5; // \u00XX
        for (const char* p = "\b\t\n\f\r\"/\\"; *p; ++p) json[static_cast<unsigned char>(*p)] = 1;
    }
};
constexpr EscapeGrowth escapegrowth;

bool inserthtml(Output& o, const char* value, size_t len) {
    size_t extra = 0;
    for (size_t i = 0; i < len; ++i)
        extra += escapegrowth.html[static_cast<unsigned char>(value[i])];
    if (extra == 0) return insert(o, value, len);
    size_t n = len + extra;
    if (!roomforinsert(o, n)) return false;
    char* w = o.buf + o.pos;
    for (const char* p = value; *p; ++p) {
        const char* entity;
        switch (*p) {
        case '"': entity = "&quot;"; break;
        case '&': entity = "&amp;"; break;
        case '<': entity = "&lt;"; break;
        case '>': entity = "&gt;"; break;
        default: *w++ = *p; continue;
        }
        size_t entitylen = std::strlen(entity);
        std::memcpy(w, entity, entitylen);
        w += entitylen;
    }
    o.pos += n;
    return true;
}

// Escape letter for the five control bytes JSON names, 0 for the others.
char jsonletter(unsigned char c) {
    switch (c) {
    case '\b': return 'b';
    case '\t': return 't';
    case '\n': return 'n';
    case '\f': return 'f';
    case '\r': return 'r';
    default: return 0;
    }
}

// Control bytes without a short escape are written as \u00XX: JSON does not
// allow them raw inside a string.
bool insertjson(Output& o, const char* value, size_t len) {
    size_t extra = 0;
    for (size_t i = 0; i < len; ++i)
        extra += escapegrowth.json[static_cast<unsigned char>(value[i])];
    if (extra == 0) return insert(o, value, len);
    size_t n = len + extra;
    if (!roomforinsert(o, n)) return false;
    static const char hexdigits[] = "0123456789abcdef";
    char* w = o.buf + o.pos;
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(value); *p; ++p) {
        unsigned char c = *p;
        char letter = jsonletter(c);
        if (c == '"' || c == '/' || c == '\\') {
            *w++ = '\\';
            *w++ = static_cast<char>(c);
        } else if (letter != 0) {
            *w++ = '\\';
            *w++ = letter;
        } else if (c < 0x20) {
            std::memcpy(w, "\\u00", 4);
            w[4] = hexdigits[c >> 4];
            w[5] = hexdigits[c & 15];
            w += 6;
        } else {
            *w++ = static_cast<char>(c);
        }
    }
    o.pos += n;
    return true;
}

// Single-quoted SQL literal with every quote of the value doubled.
bool insertquoted(Output& o, const char* value, size_t len) {
    size_t quotes = 0;
    for (size_t i = 0; i < len; ++i) quotes += value[i] == '\'';
    size_t n = len + quotes + 2;
    if (!roomforinsert(o, n)) return false;
    char* w = o.buf + o.pos;
    *w++ = '\'';
    for (size_t i = 0; i < len; ++i) {
        *w++ = value[i];
        if (value[i] == '\'') *w++ = '\'';
    }
    *w = '\'';
    o.pos += n;
    return true;
}

// The table's answers for the names met so far in one call. Templates name
// the same keys again and again, the table cannot change while a call runs,
// and the table's own hash is far dearer than this one; so after the first
// few references each distinct name goes to the table once (while there is
// room here; after that every time).
class Lookups {
  public:
    Lookups(aaContext* table, const char* end) : table(table), end(end) {}

    struct Answer {
        const char* value; // null when absent
        size_t length;
    };

    // failed is set when memory ran out.
    Answer find(const char* name, size_t namelen, bool& failed) {
        // Small templates are not worth clearing the slots for.
        if (direct > 0) {
            --direct;
            if (direct == 0) std::memset(slots, 0, sizeof slots);
            return ask(name, namelen, failed);
        }
        Key key = makekey(name, namelen);
        uint64_t h = (key.head * 0x9E3779B97F4A7C15ull) ^ (key.tail * 0xC2B2AE3D27D4EB4Full) ^
                     (namelen * 0x165667B19E3779F9ull);
        // The top bits depend on every byte of the key.
        size_t i = static_cast<size_t>(h >> (64 - bits));
        for (; slots[i].name != nullptr; i = (i + 1) & (capacity - 1)) {
            const Slot& s = slots[i];
            // Up to 16 bytes, head and tail hold the whole name.
            if (s.key.head == key.head && s.key.tail == key.tail && s.namelen == namelen &&
                (namelen <= 16 || std::memcmp(s.name, name, namelen) == 0))
                return s.answer;
        }
        Answer answer = ask(name, namelen, failed);
        if (!failed && used < capacity * 3 / 4) {
            slots[i] = {name, namelen, key, answer};
            ++used;
        }
        return answer;
    }

  private:
    static const int bits = 9;
    static const size_t capacity = size_t(1) << bits;
    static constexpr bool littleendian = __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__;
    struct Key {
        uint64_t head, tail; // the first and the last 8 bytes (fewer: zero-filled)
    };
    struct Slot {
        const char* name; // in the template; null for a free slot
        size_t namelen;
        Key key;
        Answer answer;
    };

    Key makekey(const char* name, size_t namelen) const {
        Key key = {0, 0};
        if (namelen >= 8) {
            std::memcpy(&key.head, name, 8);
            std::memcpy(&key.tail, name + namelen - 8, 8);
        } else if (littleendian && name + 8 <= end) {
            // One load of 8 bytes inside the template, masked to the name.
            std::memcpy(&key.head, name, 8);
            key.head &= namelen == 0 ? 0 : ~uint64_t(0) >> (64 - 8 * namelen);
            key.tail = key.head;
        } else {
            std::memcpy(&key.head, name, namelen);
            key.tail = key.head;
        }
        return key;
    }

    Answer ask(const char* name, size_t namelen, bool& failed) {
        const char* value;
        char small[64];
        if (namelen < sizeof small) {
            std::memcpy(small, name, namelen);
            small[namelen] = '\0';
            value = static_cast<const char*>(aaget(table, small));
        } else {
            // Long names are looked up whole rather than by a prefix.
            char* key = util_strndup(name, namelen);
            if (key == nullptr) {
                failed = true;
                return {nullptr, 0};
            }
            value = static_cast<const char*>(aaget(table, key));
            std::free(key);
        }
        return {value, value != nullptr ? std::strlen(value) : 0};
    }

    aaContext* table;
    const char* end; // of the template
    int direct = 16;
    size_t used = 0;
    Slot slots[capacity];
};

enum Step { FAILED, DONE, DROPLINE };

// Inserts the replacement of one reference.
Step replace(Output& o, Flavour flavour, Lookups& lookups, char mode, const char* name,
             size_t namelen) {
    bool failed = false;
    Lookups::Answer answer = lookups.find(name, namelen, failed);
    if (failed) return FAILED;
    const char* value = answer.value;

    bool ok = true;
    if (value == nullptr) {
        if (flavour == QUERY) {
            if (mode == '-') return DROPLINE;
            ok = insert(o, "NULL", 4);
        } else if (mode != '.') {
            // The reference as written: '$' and the name.
            ok = roomforinsert(o, namelen + 1);
            if (ok) {
                o.buf[o.pos] = '$';
                std::memcpy(o.buf + o.pos + 1, name, namelen);
                o.pos += namelen + 1;
            }
        }
    } else {
        switch (flavour) {
        case PLAIN: ok = insertplain(o, value, answer.length); break;
        case HTML: ok = inserthtml(o, value, answer.length); break;
        case JSON: ok = insertjson(o, value, answer.length); break;
        case QUERY:
            if (mode == '\'')
                ok = insertquoted(o, value, answer.length);
            else if (isnumeric(value))
                ok = insert(o, value, answer.length);
            else
                ok = insert(o, "NULL", 4);
            break;
        }
    }
    return ok ? DONE : FAILED;
}

char* substitute(const char* src, aaContext* table, Flavour flavour) {
    if (table == nullptr) return util_strdup(src);
    size_t len = std::strlen(src);
    Output o;
    o.margin = flavour == QUERY ? 512 : 192;
    if (!setroom(o, len + o.margin)) return nullptr;

    const char* p = src;
    const char* end = src + len;
    const unsigned char namebit = flavour == PLAIN ? 2 : 1;
    Lookups lookups(table, end);
    for (;;) {
        const char* dollar = static_cast<const char*>(std::memchr(p, '$', end - p));
        const char* stop = dollar != nullptr ? dollar : end;
        if (!copytemplate(o, p, stop - p, flavour)) goto fail;
        if (dollar == nullptr) break;
        p = dollar;
        // A '$' that ends a name starts the next reference at once.
        while (*p == '$') {
            ++p;
            char mode = 0;
            if ((flavour == PLAIN && *p == '.') || (flavour == QUERY && (*p == '\'' || *p == '-')))
                mode = *p++;
            const char* name = p;
            while (nameclass.bits[static_cast<unsigned char>(*p)] & namebit) ++p;
            Step step = replace(o, flavour, lookups, mode, name, p - name);
            if (step == FAILED) goto fail;
            if (step == DROPLINE) {
                // Forget the line written so far and skip the template to its
                // next LF, which is copied as usual.
                o.pos = o.linestart;
                const char* lf = static_cast<const char*>(std::memchr(p, '\n', end - p));
                p = lf != nullptr ? lf : end;
                break;
            }
        }
        // The character that ended the name is copied with the next plain run.
    }
    o.buf[o.pos] = '\0';
    return o.buf;

fail:
    std::free(o.buf);
    return nullptr;
}

} // namespace

// The checks spell the null pointer the way the reports of these routines
// have always named it.
char* keysub(char* src, aaContext* table) {
    UTIL_CHECK(src != __null);
    return substitute(src, table, PLAIN);
}

char* htmlkeysub(char* src, aaContext* table) {
    UTIL_CHECK(src != __null);
    return substitute(src, table, HTML);
}

char* jsonkeysub(char* src, aaContext* table) {
    UTIL_CHECK(src != __null);
    return substitute(src, table, JSON);
}

char* querykeysub(char* src, aaContext* table) {
    UTIL_CHECK(src != __null);
    return substitute(src, table, QUERY);
}
