// SPDX-License-Identifier: MIT
// Fuzz target: hexadecimal and positional digit texts, decimal parsing and
// ranges, truth words, number and size texts, and rounding.
// Properties: every writer stays within its stated buffer (exactly sized on
// the heap) and its text reads back to the value; parsers agree with the C
// library where their rules meet; failed parses zero their outputs; in-place
// decoders never run past their text; trimming keeps the number's value.
#include "pacelag/util.h"

#include "fuzzing.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cinttypes>
#include <climits>
#include <cmath>

namespace {

const char kB64[] = "0123456789aAbBcCdDeEfFgGhHiIjJkKlLmMnNoOpPqQrRsStTuUvVwWxXyYzZ-_";

// '-' is a digit too, so the caller says whether a sign leads.
int64_t fromb64(const char* text, bool negative) {
    if (negative) FUZZ_CHECK(text[0] == '-');
    uint64_t v = 0;
    for (const char* c = text + negative; *c; ++c) {
        const char* at = std::strchr(kB64, *c);
        FUZZ_CHECK(at != nullptr);
        v = v * 64 + static_cast<uint64_t>(at - kB64);
    }
    return negative ? static_cast<int64_t>(0 - v) : static_cast<int64_t>(v);
}

// One value, many writers: each into a buffer of exactly its stated size.
void checkwriters(uint64_t u) {
    int64_t l = static_cast<int64_t>(u);
    int32_t s = static_cast<int32_t>(u);
    uint32_t w = static_cast<uint32_t>(u);
    {
        HeapBuf b(12);
        FUZZ_CHECK(int2str(b.p, s) == static_cast<int>(std::strlen(b.p)));
        FUZZ_CHECK(std::strtol(b.p, nullptr, 10) == s);
    }
    {
        HeapBuf b(11);
        FUZZ_CHECK(uint2str(b.p, w) == static_cast<int>(std::strlen(b.p)));
        FUZZ_CHECK(std::strtoul(b.p, nullptr, 10) == w);
    }
    {
        HeapBuf b(21);
        FUZZ_CHECK(long2str(b.p, l) == static_cast<int>(std::strlen(b.p)));
        FUZZ_CHECK(std::strtoll(b.p, nullptr, 10) == l);
        FUZZ_CHECK(str2long(b.p) == l);
    }
    {
        HeapBuf b(21);
        FUZZ_CHECK(ulong2str(b.p, u) == static_cast<int>(std::strlen(b.p)));
        FUZZ_CHECK(std::strtoull(b.p, nullptr, 10) == u);
    }
    {
        HeapBuf b(16);
        FUZZ_CHECK(ipv4num2str(b.p, w) == static_cast<int>(std::strlen(b.p)));
        unsigned o[4];
        FUZZ_CHECK(std::sscanf(b.p, "%u.%u.%u.%u", &o[0], &o[1], &o[2], &o[3]) == 4);
        FUZZ_CHECK((o[0] << 24 | o[1] << 16 | o[2] << 8 | o[3]) == w);
    }
    {
        HeapBuf b(9);
        int n = uint2hex(b.p, w);
        FUZZ_CHECK(n >= 1 && n <= 8 && n == static_cast<int>(std::strlen(b.p)));
        FUZZ_CHECK(std::strtoul(b.p, nullptr, 16) == w);
    }
    {
        HeapBuf b(8);
        FUZZ_CHECK(int2b64(b.p, s) == static_cast<int>(std::strlen(b.p)));
        FUZZ_CHECK(fromb64(b.p, s < 0) == s);
    }
    {
        HeapBuf b(13);
        FUZZ_CHECK(long2b64(b.p, l) == static_cast<int>(std::strlen(b.p)));
        FUZZ_CHECK(fromb64(b.p, l < 0) == l);
    }
    {
        HeapBuf b(7); // raw bytes, but never a NUL among them
        int n = int2b128(b.p, s);
        FUZZ_CHECK(n >= 1 && n <= 6 && n == static_cast<int>(std::strlen(b.p)));
    }
    {
        HeapBuf b(NUMTEXT_SIZE);
        FUZZ_CHECK(secs2str(b.p, s) == static_cast<int>(std::strlen(b.p)));
    }
}

// Size and rate texts: values in 0..1e18 fit NUMTEXT_SIZE, plus the suffix
// when one is given.
void checkquantity(double v, const std::string& suffix, bool nullsuffix) {
    if (!(v >= 0 && v <= 1e18) && !std::isnan(v)) return;
    HeapText sfx(suffix);
    const char* sp = nullsuffix ? nullptr : sfx.p;
    int extra = nullsuffix ? 0 : static_cast<int>(sfx.len);
    HeapBuf a(NUMTEXT_SIZE + extra);
    int n = size2str(a.p, sp, v);
    FUZZ_CHECK(n == static_cast<int>(std::strlen(a.p)) && n <= 11 + extra);
    HeapBuf b(NUMTEXT_SIZE + extra);
    int m = bitrate2str(b.p, sp, v);
    FUZZ_CHECK(m == static_cast<int>(std::strlen(b.p)) && m <= 22 + (nullsuffix ? 2 : extra));
    FUZZ_CHECK(sfx.same(suffix));
}

void checkhex(const std::string& text, uint8_t control) {
    HeapText t(text);
    for (size_t i = 0; i < t.len; ++i) FUZZ_CHECK(hexval(t.p[i]) >= 0 && hexval(t.p[i]) <= 15);

    HeapBuf raw(static_cast<int>(t.len / 2));
    int r = hex2str(t.p, raw.p);
    FUZZ_CHECK(t.same(text));
    if (t.len % 2 != 0) {
        FUZZ_CHECK(r == -1 && raw.untouched());
    } else {
        FUZZ_CHECK(r == 0);
        for (size_t i = 0; i < t.len / 2; ++i)
            FUZZ_CHECK(static_cast<unsigned char>(raw.p[i]) ==
                       hexval(t.p[2 * i]) * 16 + hexval(t.p[2 * i + 1]));
        char* hex = bin2hex(reinterpret_cast<unsigned char*>(raw.p), raw.size);
        FUZZ_CHECK(hex != nullptr && std::strlen(hex) == t.len);
        for (size_t i = 0; i < t.len; ++i)
            FUZZ_CHECK(std::isxdigit(static_cast<unsigned char>(t.p[i]))
                           ? std::tolower(static_cast<unsigned char>(t.p[i])) == hex[i]
                           : hex[i] == '0');
        std::free(hex);
    }

    size_t digits = 0;
    for (size_t i = 0; i < t.len; ++i) digits += std::isxdigit(static_cast<unsigned char>(t.p[i]));
    bool lenient = control & 1;
    int len = t.len == 0 ? 0 : static_cast<int>(control % (t.len + 1));
    HeapText work(text);
    int outlen = -5;
    r = hex2bin(work.p, len, lenient, outlen);
    if (r != 0) {
        FUZZ_CHECK(r == -1 && !lenient && outlen == 0 && work.same(text));
    } else if (lenient && outlen == len && work.same(text)) {
        // refused text handed back as raw bytes, or text that decodes to itself
    } else {
        FUZZ_CHECK(outlen >= 0 && static_cast<size_t>(outlen) <= digits / 2);
        FUZZ_CHECK(work.p[outlen] == '\0');
    }
    HeapText whole(text);
    r = hex2binstr(whole.p, false, outlen);
    FUZZ_CHECK(r == 0 ? static_cast<size_t>(outlen) <= digits / 2 && whole.p[outlen] == '\0'
                      : r == -1 && outlen == 0 && whole.same(text));
}

// Text of digits, blanks, signs and '.' only: where it parses, few enough
// digits (15) make both readings exact up to one rounding, so they must agree.
bool plaindecimal(const char* t, int& ndigits) {
    ndigits = 0;
    for (const char* c = t; *c; ++c) {
        if (std::isdigit(static_cast<unsigned char>(*c)))
            ++ndigits;
        else if (!std::strchr(" \t.-+", *c))
            return false;
    }
    return true;
}

void checkdecimal(const std::string& text) {
    HeapText t(text);
    double d = 99;
    int r = str2double(t.p, d);
    FUZZ_CHECK(t.same(text));
    if (r != 0) FUZZ_CHECK(r == -1 && d == 0.0);
    double v = str2doubleval(t.p);
    FUZZ_CHECK((std::isnan(v) && std::isnan(d)) || v == d);
    int ndigits;
    if (r == 0 && plaindecimal(t.p, ndigits) && ndigits > 0 && ndigits <= 15) {
        char* end;
        double want = std::strtod(t.p, &end);
        while (*end == ' ' || *end == '\t') ++end;
        if (*end == '\0') FUZZ_CHECK(std::fabs(d - want) <= 1e-15 * std::fabs(want));
    }

    bool digitsonly = true, alld = true;
    for (size_t i = 0; i < t.len; ++i) {
        char c = t.p[i];
        digitsonly = digitsonly && c >= '0' && c <= '9';
        alld = alld && ((c >= '0' && c <= '9') || std::strchr(" -._", c));
    }
    FUZZ_CHECK(onlydigits(t.p) == digitsonly);
    FUZZ_CHECK(alldigits(t.p) == alld);
    // The checked conversions are the C library's where the text is allowed.
    errno = 0;
    FUZZ_CHECK(str2long(t.p) == (alld ? std::strtoll(t.p, nullptr, 10) : 0));
    FUZZ_CHECK(str2int(t.p) == static_cast<int32_t>(alld ? std::strtol(t.p, nullptr, 10) : 0));
    FUZZ_CHECK(str2uint(t.p) == static_cast<uint32_t>(alld ? std::strtoul(t.p, nullptr, 10) : 0));

    // isnumeric: digits, blanks, '.', '-'; no "--"; every '-' followed later by a digit.
    bool numeric = true, pending = false;
    for (size_t i = 0; i < t.len && numeric; ++i) {
        char c = t.p[i];
        if (c == '-') {
            numeric = t.p[i + 1] != '-';
            pending = true;
        } else if (c >= '0' && c <= '9') {
            pending = false;
        } else if (!std::strchr(" \t.", c)) {
            numeric = false;
        }
    }
    FUZZ_CHECK(isnumeric(t.p) == (numeric && !pending));

    int64_t low = 5, high = 5;
    r = str2range(t.p, &low, &high);
    FUZZ_CHECK(t.same(text));
    FUZZ_CHECK(r == 0 ? 0 <= low && low <= high : r == -1 && low == 0 && high == 0);

    FUZZ_CHECK(!(istrueword(t.p) && isfalseword(t.p)));
}

void checktrim(const std::string& text) {
    HeapText t(text);
    numtrim(t.p);
    std::string once = t.p;
    FUZZ_CHECK(once.size() <= t.len);
    if (once != ctext(text)) {
        // Only a plain decimal number is trimmed, and its value stays.
        FUZZ_CHECK(std::strtod(once.c_str(), nullptr) == std::strtod(ctext(text).c_str(), nullptr));
        numtrim(t.p);
        FUZZ_CHECK(once == t.p);
    }
}

void checkmac(const std::string& text) {
    HeapText t(text);
    // Any two texts: the comparison reads both alike, so it is symmetric.
    size_t cut = t.len / 2;
    HeapText a(ctext(text).substr(0, cut)), b(ctext(text).substr(cut));
    FUZZ_CHECK(macequal(a.p, b.p) == macequal(b.p, a.p));
    if (!ismacaddr(t.p)) return;
    std::string hex;
    for (size_t i = 0; i < t.len; ++i)
        if (std::isxdigit(static_cast<unsigned char>(t.p[i])))
            hex += static_cast<char>(std::tolower(static_cast<unsigned char>(t.p[i])));
    FUZZ_CHECK(hex.size() == 12 && (t.len == 12 || t.len == 14 || t.len == 17));
    HeapText plain(hex);
    FUZZ_CHECK(ismacaddr(plain.p) && macequal(t.p, plain.p) && macequal(plain.p, t.p));
    FUZZ_CHECK(macequal(t.p, t.p));
}

void checkrounding(double x, double y, int places) {
    if (!std::isfinite(x) || std::fabs(x) > 1e9) return;
    double r = rounddec(places, x);
    FUZZ_CHECK(rounddec(places, -x) == -r);
    FUZZ_CHECK(std::fabs(r - x) <= 0.5 * std::pow(10.0, -places) + 1e-6);
    double base = 1, surcharge = 1;
    double rate = std::isfinite(y) ? std::fmod(std::fabs(y), 2.0) : 0.19;
    ratesplit(&base, &surcharge, x, rate);
    if (rate <= 0) {
        FUZZ_CHECK(base == x && surcharge == 0);
    } else {
        // Each part is rounded to a cent; a shortfall is made up on the surcharge.
        FUZZ_CHECK(base + surcharge >= x - 0.0111 && base + surcharge <= x + 0.0101);
    }
}

double todouble(const uint8_t* p) {
    double d;
    std::memcpy(&d, p, sizeof d);
    return d;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput in(data, size);
    uint8_t control = in.byte();
    std::string text = in.rest();
    uint8_t word[16] = {};
    std::memcpy(word, text.data(), std::min(text.size(), sizeof word));
    uint64_t u;
    std::memcpy(&u, word, sizeof u);
    checkwriters(u);
    checkwriters(u >> (control % 64));
    checkquantity(todouble(word), text.substr(std::min<size_t>(text.size(), 8), control % 8),
                  control & 0x80);
    checkquantity(static_cast<double>(u >> (control % 64)) / 1000, "", control & 0x40);
    checkrounding(todouble(word), todouble(word + 8), static_cast<int>(control % 13) - 6);
    checkhex(text, control);
    checkdecimal(text);
    checktrim(text);
    checkmac(text);
    return 0;
}
