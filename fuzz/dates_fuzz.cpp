// SPDX-License-Identifier: MIT
// Fuzz target: the compact date reader and the four date writers. Input: a
// control byte (a buffer size and a zone), eight bytes of a time value, then
// the text to read.
// Properties: in UTC, where every wall-clock time exists exactly once, the
// reader agrees with timegm on the fields it takes, and each writer either
// fills its exactly-sized buffer with the C library's text for the same
// instant (or a prefix of it) or fails with the empty text. In zones with
// gaps and repeats, the reader gives the earliest instant of an existing wall
// clock and reads one in a gap with the offset in force before the gap.
#include "pacelag/util.h"

#include "fuzzing.h"

#include <cerrno>

namespace {

// The fields as the reader takes them: year, month, day, optional blanks,
// hour:minute:second, each missing or unreadable field counting as 0.
int64_t wantisotime(const char* text) {
    char f[6][5] = {};
    std::sscanf(text, "%4s%2s%2s %2s:%2s:%2s", f[0], f[1], f[2], f[3], f[4], f[5]);
    long v[6];
    for (int i = 0; i < 6; ++i) v[i] = std::strtol(f[i], nullptr, 10);
    struct tm tm = {};
    tm.tm_year = static_cast<int>(v[0] - 1900);
    tm.tm_mon = static_cast<int>(v[1] - 1);
    tm.tm_mday = static_cast<int>(v[2]);
    tm.tm_hour = static_cast<int>(v[3]);
    tm.tm_min = static_cast<int>(v[4]);
    tm.tm_sec = static_cast<int>(v[5]);
    return timegm(&tm);
}

// Zones with gaps and repeats of every kind: summer time flagged as standard
// time (Dublin, Casablanca), a skipped day (Apia), half-hour steps (Lord Howe).
const char* const kZones[] = {
    "UTC",          "Europe/Berlin",    "Europe/Dublin",       "Africa/Casablanca",
    "Pacific/Apia", "America/New_York", "Australia/Lord_Howe", "America/Sao_Paulo"};

void usezone(const char* zone) {
    static const char* current = nullptr;
    if (zone == current) return;
    setenv("TZ", zone, 1);
    tzset();
    current = zone;
}

// Local wall clock of t as seconds of a UTC calendar, and its offset.
int64_t wallclock(int64_t t, long* offset = nullptr) {
    time_t tt = static_cast<time_t>(t);
    struct tm tm;
    FUZZ_CHECK(localtime_r(&tt, &tm) != nullptr);
    if (offset) *offset = tm.tm_gmtoff;
    return timegm(&tm);
}

// The local reading of a wall clock: an existing time gives its earliest
// instant; a time in a gap is read with the offset in force before the gap,
// so it lands the gap's length later on the clock.
void checklocal(const char* text, int64_t got) {
    char f[6][5] = {};
    std::sscanf(text, "%4s%2s%2s %2s:%2s:%2s", f[0], f[1], f[2], f[3], f[4], f[5]);
    struct tm tm = {};
    tm.tm_year = static_cast<int>(std::strtol(f[0], nullptr, 10) - 1900);
    tm.tm_mon = static_cast<int>(std::strtol(f[1], nullptr, 10) - 1);
    tm.tm_mday = static_cast<int>(std::strtol(f[2], nullptr, 10));
    tm.tm_hour = static_cast<int>(std::strtol(f[3], nullptr, 10));
    tm.tm_min = static_cast<int>(std::strtol(f[4], nullptr, 10));
    tm.tm_sec = static_cast<int>(std::strtol(f[5], nullptr, 10));
    int64_t wall = timegm(&tm);                     // the named wall clock, normalised
    if (tm.tm_year < 0 || tm.tm_year > 200) return; // outside the zone data's years
    // -1 is also the instant before the epoch, which some wall clock names.
    if (got == -1) FUZZ_CHECK(wallclock(-1) == wall);
    long offset;
    int64_t reads = wallclock(got, &offset);
    const int64_t step = 900, span = 2 * 86400;
    if (reads == wall) {
        for (int64_t d = step; d <= span; d += step) FUZZ_CHECK(wallclock(got - d) != wall);
        return;
    }
    int64_t shift = reads - wall;
    FUZZ_CHECK(shift > 0 && shift <= 86400 + 3600);
    for (int64_t d = -span; d <= span; d += step) FUZZ_CHECK(wallclock(got + d) != wall);
    long before;
    wallclock(got - shift, &before);
    FUZZ_CHECK(before == offset - shift);
}

using Writer = int (*)(int64_t, char*, int);

void checkwriter(Writer write, int64_t t, int size, const char* format, int smallest) {
    HeapBuf buf(size);
    int r = write(t, buf.p, size);
    time_t tt = static_cast<time_t>(t);
    struct tm tm;
    char want[128] = "";
    bool known = gmtime_r(&tt, &tm) != nullptr;
    if (known) std::strftime(want, sizeof want, format, &tm);
    if (r != 0) {
        FUZZ_CHECK(r == -1 && buf.p[0] == '\0');
        // Refused only below the smallest size, for an instant with no
        // breakdown, or for a text that does not fit.
        FUZZ_CHECK(size < smallest || !known || std::strlen(want) >= static_cast<size_t>(size));
        return;
    }
    FUZZ_CHECK(size >= smallest && known && buf.terminated());
    FUZZ_CHECK(std::strncmp(want, buf.p, std::strlen(buf.p)) == 0);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput in(data, size);
    uint8_t control = in.byte();
    int bufsize = 1 + control % 48;
    const char* zone = kZones[control / 48 < 4 ? 0 : control % 8];
    uint64_t raw = 0;
    for (int i = 0; i < 8; ++i) raw = raw << 8 | in.byte();
    // Mostly instants within a few thousand years, sometimes anything at all.
    int64_t t = static_cast<int64_t>(raw);
    if (raw >> 63) t = static_cast<int64_t>(raw % 400000000000ULL) - 200000000000LL;

    std::string text = in.rest();
    HeapText tx(text);
    usezone(zone);
    int64_t got = isotime(tx.p);
    FUZZ_CHECK(tx.same(text) && timestring(tx.p) == got);
    if (zone != kZones[0]) {
        checklocal(tx.p, got);
        return 0;
    }
    FUZZ_CHECK(got == wantisotime(tx.p));

    checkwriter(gmtdate, t, bufsize, "%a, %d %b %Y %H:%M:%S GMT", 32);
    checkwriter(asctimetext, t, bufsize, "%a %b %d %H:%M:%S %Y", 27);
    checkwriter(shorttimetext, t, bufsize, "%b %d %H:%M:%S %Y", 23);
    checkwriter(maildate, t, bufsize, "%a, %d %b %Y %H:%M:%S +0000", 34);
    return 0;
}
