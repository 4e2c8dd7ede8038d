// SPDX-License-Identifier: MIT
// Fuzz target: character-class tests, in-place filters, quote removal and
// doubling, backslash and entity escaping, data masking, path splitting and
// joining, common names of distinguished names, the NUL-free byte coding, the
// Internet checksum, common leading bits, and the bounded copies and trims of
// the string primitives.
// Input: a control byte (buffer sizes, mask type, quote), then the text; a
// 0x01 byte splits it into two texts where a routine takes two.
// Properties: outputs stay within exactly-sized buffers; failures leave the
// buffers they promise to leave alone untouched; filters keep only what they
// promise and are idempotent; undoing an escape gives the text back.
#include "pacelag/util.h"

#include "fuzzing.h"

#include <algorithm>
#include <cctype>

namespace {

bool letter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}
bool digit(char c) {
    return c >= '0' && c <= '9';
}
bool alnum(char c) {
    return letter(c) || digit(c);
}

void checkclasses(const HeapText& t) {
    const std::string s = t.p;
    bool printable = true, pathtext = true, anyletter = false, alnums = true;
    for (char c : s) {
        printable = printable && c >= 0x20 && c <= 0x7E;
        pathtext = pathtext && (alnum(c) || std::strchr("+-.@/\\_", c));
        anyletter = anyletter || letter(c);
        alnums = alnums && alnum(c);
        bool token = alnum(c) || std::strchr("!\"#$%&'*+-.^_`{|}~", c);
        FUZZ_CHECK(istokenchar(c) == token);
    }
    FUZZ_CHECK(isprintable(t.p) == printable);
    FUZZ_CHECK(ispathtext(t.p) == pathtext);
    FUZZ_CHECK(hasletter(t.p) == anyletter);
    FUZZ_CHECK(isalnumstr(t.p) == alnums);

    bool safe = s.find_first_of("*:?\\") == std::string::npos &&
                (s.empty() || (s.front() != '.' && s.back() != '.')) &&
                s.find("..") == std::string::npos;
    FUZZ_CHECK(issafepath(t.p) == safe);

    bool host = s.empty() || (s.front() != '-' && s.front() != '.' && s.back() != '-');
    for (char c : s) host = host && (alnum(c) || c == '-' || c == '.');
    host = host && s.find("-.") == std::string::npos;
    FUZZ_CHECK(ishostname(t.p) == host);
}

void checkfilters(const std::string& text) {
    HeapText a(text), b(text), c(text);
    std::string want;
    const std::string s = ctext(text);
    for (size_t i = 0; i < s.size(); ++i) {
        unsigned char c0 = s[i];
        if (c0 == 0xE2 && i + 2 < s.size()) {
            unsigned char c1 = s[i + 1], c2 = s[i + 2];
            if ((c1 == 0x80 && c2 >= 0xAA && c2 <= 0xAE) ||
                (c1 == 0x81 && c2 >= 0xA6 && c2 <= 0xA9)) {
                i += 2;
                continue;
            }
        }
        want += static_cast<char>(c0);
    }
    int n = stripbidi(a.p);
    FUZZ_CHECK(n == static_cast<int>(std::strlen(a.p)) && want == a.p);

    n = stripunsafe(b.p);
    FUZZ_CHECK(n == static_cast<int>(std::strlen(b.p)));
    for (const char* p = b.p; *p; ++p) FUZZ_CHECK(alnum(*p) || std::strchr(" +,-./@_", *p));
    FUZZ_CHECK(stripunsafe(b.p) == n);

    n = makeident(c.p);
    FUZZ_CHECK(n == static_cast<int>(std::strlen(c.p)));
    for (const char* p = c.p; *p; ++p) FUZZ_CHECK(alnum(*p) || *p == '_');
    FUZZ_CHECK(makeident(c.p) == n);
}

void checkquotes(const std::string& text, uint8_t control) {
    const std::string s = ctext(text);
    std::string doubled;
    for (char c : s) doubled += c == '\'' ? std::string("''") : std::string(1, c);

    // quotedup and quotedupn: a prefix of the doubled text that never splits a pair.
    int size = static_cast<int>(doubled.size() * control / 255) + 1;
    HeapText src(text);
    for (int count : {-1, static_cast<int>(control % (s.size() + 1))}) {
        HeapBuf dst(size);
        int n = count < 0 ? quotedup(src.p, dst.p, size) : quotedupn(src.p, count, dst.p, size);
        FUZZ_CHECK(dst.terminated() && n == static_cast<int>(std::strlen(dst.p)) && n < size);
        FUZZ_CHECK(doubled.compare(0, n, dst.p) == 0);
        size_t quotes = 0;
        while (quotes < static_cast<size_t>(n) && dst.p[n - 1 - quotes] == '\'') ++quotes;
        FUZZ_CHECK(quotes % 2 == 0);
    }
    FUZZ_CHECK(src.same(text));

    // In place within a buffer of the text's size plus some room: every
    // character whose escape no longer fits becomes a space, later ones that
    // fit are still escaped.
    int room = static_cast<int>(s.size()) + 1 + control % (s.size() + 2);
    for (bool escape : {false, true}) {
        std::string want;
        size_t len = s.size();
        for (char c : s) {
            std::string piece(1, c);
            if (c == '\'') piece = escape ? "\\'" : "''";
            if (escape && c == '\\') piece = "\\\\";
            if (escape && c == '<') piece = "&lt;";
            if (escape && c == '>') piece = "&gt;";
            if (piece.size() > 1 && len + piece.size() - 1 > static_cast<size_t>(room - 1)) {
                piece = " ";
            } else {
                len += piece.size() - 1;
            }
            want += piece;
        }
        HeapBuf buf(room);
        std::memcpy(buf.p, s.c_str(), s.size() + 1);
        FUZZ_CHECK((escape ? escapeinplace(buf.p, room) : quotedupin(buf.p, room)) == buf.p);
        FUZZ_CHECK(buf.terminated() && want == buf.p);
    }

    // One pair of quotes around the text, blanks outside them ignored: the
    // closing one cut, the result just past the opening one.
    char quote = control & 1 ? '"' : '\'';
    size_t first = s.find_first_not_of(" \t\r\n"), last = s.find_last_not_of(" \t\r\n");
    size_t want = 0; // offset of the result
    std::string cut = s;
    if (first == std::string::npos) {
        want = s.size();
    } else if (s[first] == quote && last == first) {
        want = first + 1;
    } else if (s[first] == quote && s[last] == quote) {
        want = first + 1;
        cut.resize(last);
    }
    HeapText q(text);
    char* inner = stripquote(q.p, quote);
    FUZZ_CHECK(inner == q.p + want && cut == q.p);
}

void checkmask(const std::string& text, uint8_t control) {
    int type = control % 6;
    int size = 1 + control / 6 % 24;
    HeapText src(text);
    HeapBuf dst(size);
    datamask_mask(src.p, type, dst.p, size);
    FUZZ_CHECK(dst.terminated() && src.same(text));
    if (type >= 1 && type <= 4 && !strblank(dst.p)) {
        HeapText copy(dst.p);
        FUZZ_CHECK(datamask_check(copy.p, type));
    }
    // Masking in place gives what masking a copy gives, when the value fits.
    if (src.len < static_cast<size_t>(size)) {
        HeapBuf same(size);
        std::memcpy(same.p, src.p, src.len + 1);
        datamask_mask(same.p, type, same.p, size);
        FUZZ_CHECK(std::strcmp(same.p, dst.p) == 0);
    }
    HeapBuf empty(size);
    datamask_mask(nullptr, type, empty.p, size);
    FUZZ_CHECK(empty.p[0] == '\0');
    HeapText check(text);
    bool masked = datamask_check(check.p, type);
    if (type < 1 || type > 4) FUZZ_CHECK(!masked);
}

// The common name: pairs of a key (from a letter or digit to '=' or a blank)
// and a value (from a letter or digit to the separator, or between double
// quotes); the separator is '/' when the text starts with one, else ','.
bool wantcn(const std::string& dn, std::string& value) {
    char sep = !dn.empty() && dn[0] == '/' ? '/' : ',';
    enum { IDLE, KEY, BEFOREVALUE, VALUE, QUOTED } state = IDLE;
    size_t keystart = 0, keyend = 0, valuestart = 0;
    auto iscn = [&] {
        return keyend - keystart == 2 &&
               std::toupper(static_cast<unsigned char>(dn[keystart])) == 'C' &&
               std::toupper(static_cast<unsigned char>(dn[keystart + 1])) == 'N';
    };
    for (size_t i = 0; i < dn.size(); ++i) {
        char c = dn[i];
        bool ends = false;
        switch (state) {
        case IDLE:
            if (alnum(c)) state = KEY, keystart = i;
            break;
        case KEY:
            if (c == '=' || c == ' ') state = BEFOREVALUE, keyend = i;
            break;
        case BEFOREVALUE:
            if (alnum(c)) state = VALUE, valuestart = i;
            if (c == '"') state = QUOTED, valuestart = i + 1;
            break;
        case VALUE: ends = c == sep; break;
        case QUOTED: ends = c == '"'; break;
        }
        if (ends) {
            if (iscn()) {
                value = dn.substr(valuestart, i - valuestart);
                return true;
            }
            state = IDLE;
        }
    }
    if ((state == VALUE || state == QUOTED) && iscn()) {
        value = dn.substr(valuestart);
        return true;
    }
    return false;
}

void checkpaths(const std::string& first, const std::string& second, uint8_t control) {
    HeapText path(first), name(second);
    int dirsize = 1 + control % 16, filesize = 1 + control / 16;
    HeapBuf dir(dirsize), file(filesize);
    int r = splitpath(path.p, dir.p, dirsize, file.p, filesize);
    FUZZ_CHECK(path.same(first) && dir.terminated() && file.terminated());
    const std::string p = path.p;
    size_t sep = p.find_last_of("/\\");
    if (r == 0) {
        if (sep == std::string::npos) {
            FUZZ_CHECK(dir.p[0] == '\0' && p == file.p);
        } else {
            FUZZ_CHECK(p.substr(0, sep) == dir.p && p.substr(sep + 1) == file.p);
        }
    } else {
        FUZZ_CHECK(r == -1);
    }
    HeapBuf big(static_cast<int>(path.len) + 1);
    r = splitpath(path.p, nullptr, 0, big.p, big.size);
    FUZZ_CHECK(r == 0 && p.substr(sep == std::string::npos ? 0 : sep + 1) == big.p);

    int dstsize = static_cast<int>(path.len + name.len) + 2 - control % 4;
    if (dstsize < 1) dstsize = 1;
    HeapBuf dst(dstsize);
    r = pathjoin(path.p, name.p, dst.p, dstsize);
    FUZZ_CHECK(path.same(first) && name.same(second));
    // dir, one '/', name less one leading separator, '\\' as '/'; a blank dir
    // gives the name as it is. The size check counts the '/' always.
    std::string want;
    bool fits = !strblank(name.p);
    if (fits && strblank(path.p)) {
        want = name.p;
        fits = name.len < static_cast<size_t>(dstsize);
    } else if (fits) {
        std::string d = path.p, n = name.p;
        std::replace(d.begin(), d.end(), '\\', '/');
        if (n[0] == '/' || n[0] == '\\') n.erase(0, 1);
        std::replace(n.begin(), n.end(), '\\', '/');
        want = d + (d.back() == '/' ? "" : "/") + n;
        fits = path.len + name.len + 1 < static_cast<size_t>(dstsize);
    }
    if (fits) {
        FUZZ_CHECK(r == 0 && dst.terminated() && want == dst.p);
    } else {
        FUZZ_CHECK(r == -1 && dst.untouched());
    }

    HeapBuf cn(1 + control % 32);
    r = dn2cn(path.p, cn.p, cn.size);
    FUZZ_CHECK(path.same(first));
    std::string common;
    bool found = wantcn(path.p, common);
    if (r == 1) {
        FUZZ_CHECK(found && cn.terminated() && common == cn.p);
    } else {
        FUZZ_CHECK(!found || common.size() >= static_cast<size_t>(cn.size));
        FUZZ_CHECK(r == 0 && cn.untouched());
    }
}

void checknulcoding(const std::string& bytes) {
    int n = static_cast<int>(bytes.size());
    HeapBuf out(2 * n + 1);
    int m = nulescape(bytes.data(), n, out.p, out.size);
    FUZZ_CHECK(m == static_cast<int>(std::strlen(out.p)) && m >= n && m <= 2 * n);
    HeapBuf back(n);
    // maxlen counts source bytes; the output, never longer, is exactly n here.
    FUZZ_CHECK(nulunescape(out.p, back.p, m) == n);
    FUZZ_CHECK(std::memcmp(back.p, bytes.data(), n) == 0);
    // A smaller buffer takes a prefix, still terminated.
    HeapBuf part(n / 2 + 1);
    int k = nulescape(bytes.data(), n, part.p, part.size);
    FUZZ_CHECK(part.terminated() && k == static_cast<int>(std::strlen(part.p)));
    FUZZ_CHECK(std::strncmp(part.p, out.p, k) == 0);

    // An even run followed by its own checksum sums to zero.
    int even = n & ~1;
    HeapBuf sealed(even + 2);
    std::memcpy(sealed.p, bytes.data(), even);
    uint16_t sum = inetchecksum(sealed.p, even);
    std::memcpy(sealed.p + even, &sum, 2);
    FUZZ_CHECK(inetchecksum(sealed.p, even + 2) == 0);

    // Equal leading bits of the two halves, bit by bit.
    int half = n / 2, same = 0;
    const uint8_t* a = reinterpret_cast<const uint8_t*>(bytes.data());
    while (same < 8 * half && ((a[same / 8] ^ a[half + same / 8]) & (0x80 >> same % 8)) == 0)
        ++same;
    FUZZ_CHECK(commonbits(a, a + half, half) == same);
}

// The bounded copies and the in-place trims of the string primitives.
void checkprimitives(const std::string& first, const std::string& second, uint8_t control) {
    HeapText a(first), b(second);
    const std::string s = a.p, t = b.p;
    int size = 1 + control % 24;
    HeapBuf copy(size);
    int n = strcopy(copy.p, a.p, size);
    FUZZ_CHECK(n == static_cast<int>(std::min(s.size(), static_cast<size_t>(size - 1))));
    FUZZ_CHECK(s.compare(0, n, copy.p) == 0 && copy.p[n] == '\0');
    int added = strconcat(copy.p, b.p, size);
    FUZZ_CHECK(copy.terminated() && std::strlen(copy.p) == static_cast<size_t>(n + added));
    FUZZ_CHECK(t.compare(0, added, copy.p + n) == 0);

    HeapBuf app(size);
    app.p[0] = '\0';
    int pos = 0;
    int r = strappendstr(app.p, size, a.p, pos);
    FUZZ_CHECK(r == 0 ? s == app.p && pos == static_cast<int>(s.size())
                      : r == -1 && pos == 0 && app.p[0] == '\0');
    r = strappend(app.p, size, b.p, static_cast<int>(b.len), pos);
    FUZZ_CHECK(app.terminated() && (r == 0 || r == -1));

    HeapText trim(first);
    char* trimmed = strtrim(trim.p);
    std::string tt = trimmed;
    FUZZ_CHECK(s.find(tt) != std::string::npos);
    if (!tt.empty()) {
        FUZZ_CHECK(!std::strchr(" \r\n", tt.front()) && !std::strchr(" \r\n", tt.back()));
    }

    bool tail = t.size() <= s.size();
    for (size_t i = 0; tail && i < t.size(); ++i)
        tail = std::tolower(static_cast<unsigned char>(s[s.size() - t.size() + i])) ==
               std::tolower(static_cast<unsigned char>(t[i]));
    FUZZ_CHECK(exticmp(a.p, b.p) == tail);
    size_t sep = s.find_last_of("/\\");
    FUZZ_CHECK(pathleaf(static_cast<const char*>(a.p)) ==
               a.p + (sep == std::string::npos ? 0 : sep + 1));
    size_t at = s.find(t);
    const char* after = strafter(static_cast<const char*>(a.p), b.p);
    FUZZ_CHECK(at == std::string::npos ? after == nullptr : after == a.p + at + t.size());
    FUZZ_CHECK(a.same(first) && b.same(second));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput in(data, size);
    uint8_t control = in.byte();
    std::string text = in.rest();
    std::vector<std::string> two = in.parts('\x01', 2);
    two.resize(2);
    HeapText t(text);
    checkclasses(t);
    checkfilters(text);
    checkquotes(text, control);
    checkmask(text, control);
    checkpaths(two[0], two[1], control);
    checknulcoding(text);
    checkprimitives(two[0], two[1], control);
    return 0;
}
