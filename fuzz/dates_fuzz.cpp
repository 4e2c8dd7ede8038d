// Fuzz target: the compact date reader and the four date writers, in UTC so
// that every wall-clock time exists exactly once. Input: a control byte (a
// buffer size), eight bytes of a time value, then the text to read.
// Properties: the reader agrees with timegm on the fields it takes; each
// writer either fills its exactly-sized buffer with the C library's text for
// the same instant (or a prefix of it) or fails with the empty text.
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

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    setenv("TZ", "UTC", 1);
    tzset();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput in(data, size);
    int bufsize = 1 + in.byte() % 48;
    uint64_t raw = 0;
    for (int i = 0; i < 8; ++i) raw = raw << 8 | in.byte();
    // Mostly instants within a few thousand years, sometimes anything at all.
    int64_t t = static_cast<int64_t>(raw);
    if (raw >> 63) t = static_cast<int64_t>(raw % 400000000000ULL) - 200000000000LL;

    std::string text = in.rest();
    HeapText tx(text);
    int64_t got = isotime(tx.p);
    FUZZ_CHECK(tx.same(text) && got == wantisotime(tx.p));
    FUZZ_CHECK(timestring(tx.p) == got);

    checkwriter(gmtdate, t, bufsize, "%a, %d %b %Y %H:%M:%S GMT", 32);
    checkwriter(asctimetext, t, bufsize, "%a %b %d %H:%M:%S %Y", 27);
    checkwriter(shorttimetext, t, bufsize, "%b %d %H:%M:%S %Y", 23);
    checkwriter(maildate, t, bufsize, "%a, %d %b %Y %H:%M:%S +0000", 34);
    return 0;
}
