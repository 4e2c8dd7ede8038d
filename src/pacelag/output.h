// SPDX-License-Identifier: MIT
// What pacelag prints that others read: the server's ready line, the prefix of
// its error reports, the client's marks, the server's age lines and how often
// each side prints. pacelag prints through these definitions and pacelag-lab
// reads its output through them, so the two cannot drift apart.
#pragma once

#include <cerrno>
#include <cstdlib>
#include <cstring>

// The line the server prints once it listens, and again after each
// connection and after a failed set-up step.
#define PACELAG_READY_LINE "Waiting for connection.."
// Every error report starts with this; as a macro so that it joins the
// literal texts of the reports at compile time.
#define PACELAG_ERROR_PREFIX "[ERROR]"
// The server's report of a port it could not bind, followed by ": <reason>".
#define PACELAG_BIND_FAILED PACELAG_ERROR_PREFIX " Bind failed to port %d"

constexpr const char kReadyLine[] = PACELAG_READY_LINE;
constexpr const char kErrorPrefix[] = PACELAG_ERROR_PREFIX;
constexpr const char kBindFailedPrefix[] = PACELAG_ERROR_PREFIX " Bind failed to port ";

// The client prints one mark per cadence-th message, without a line end:
// sent whole, or dropped because the send queue was full (or, at a stop, a
// message cut short).
constexpr char kMarkSent = '#';
constexpr char kMarkDropped = '.';

// The server prints the age of every cadence-th message it reads, in whole
// seconds, as "%lld" on a line of its own.
#define PACELAG_AGE_FORMAT "%lld\n"

// How many messages stand behind one printed mark or age at `rate`: one in
// rate / 24, at least 1, so that neither side prints more than about 24
// times a second.
inline int print_cadence(int rate) {
    return rate / 24 > 0 ? rate / 24 : 1;
}

// True when `line` (without its line end) is an age as the server prints it:
// an optional minus and decimal digits whose value fits a long long, as
// "%lld" writes it (no plus, no space, no leading zeros but a lone 0). The
// server saturates an age that would overflow, so the extremes are ages too.
inline bool read_age_line(const char* line, long long& age) {
    const char* digits = *line == '-' ? line + 1 : line;
    if (*digits < '0' || *digits > '9') return false;
    if (*digits == '0' && digits[1] != '\0') return false;
    for (const char* p = digits; *p != '\0'; ++p)
        if (*p < '0' || *p > '9') return false;
    if (digits != line && strcmp(digits, "0") == 0) return false; // "-0" is never printed
    errno = 0;
    long long value = strtoll(line, nullptr, 10);
    if (errno == ERANGE) return false;
    age = value;
    return true;
}

// True when `line` starts with the error prefix.
inline bool is_error_line(const char* line) {
    return strncmp(line, kErrorPrefix, sizeof kErrorPrefix - 1) == 0;
}

// True when `line` is the server's report that it could not bind a port.
inline bool is_bind_failure(const char* line) {
    return strncmp(line, kBindFailedPrefix, sizeof kBindFailedPrefix - 1) == 0;
}
