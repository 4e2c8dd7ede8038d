// SPDX-License-Identifier: MIT
// The lab's newline-delimited JSON stream: one object per line, each with its
// time on the writing host's wall clock. `watch -json` writes it, and the
// remote side of a two-machine run sends it back over ssh. Types:
//   sample  one connection's queues ({"type":"sample","t":..,"state":..});
//           a sample without "state" says that no connection was found
//   line    a line a program printed ({"type":"line","t":..,"side":..,"text":..})
//   hello, probe, ready, error, end   the remote side's conversation
#pragma once

#include "sampler.h"

#include <string>

// Seconds since the epoch on this host's wall clock (CLOCK_REALTIME), the
// clock the stream's times are on.
double host_clock();

std::string stream_sample(double t, const LabSock& s);
std::string stream_no_sample(double t);
std::string stream_line(double t, const char* side, const std::string& text);

// One decoded object of the stream. Unknown members are ignored, so a newer
// writer can add some.
struct StreamRecord {
    std::string type;
    double t = -1; // -1: none given
    bool has_sock = false;
    LabSock sock; // for a sample with a connection
    std::string side, text;
    // hello / probe / ready / error members
    std::string lab_version, pacelag_version;
    long long id = -1;
    double t2 = -1, t3 = -1;
    int port = 0;
};

// Decodes one line (without its line end). false with the reason in `error`
// when it is not one object of the stream.
bool stream_parse(const std::string& line, StreamRecord& out, std::string& error);
