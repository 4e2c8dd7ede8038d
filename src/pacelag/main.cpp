// SPDX-License-Identifier: MIT
// pacelag entry: stop handling, command-line options, name resolution and the
// hand-over to the client or server loop. The exit status tells scripts how the
// run ended: 0 after a stop (or help and version asked for), 1 after a failure,
// 2 for a refused command line.
#include "pacing.h"

#include "pacelag/util.h"

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <netdb.h>
#include <strings.h>
#include <sys/socket.h>

namespace {
const char program[] = "pacelag";
const char version[] = PACELAG_VERSION;
const char examplehost[] = "server.example.com";

bool stopflag = false;

enum ExitStatus { kStopped = 0, kAnswered = 0, kFailed = 1, kRefused = 2 };

void usage() {
    say("\nUsage: %s (version %s) \n\nOptions:\n", program, version);
    say("  -mode   client|server\n"
        "  -host   ip or hostname, (modes: client)\n"
        "  -port   TCP port (modes: client|server) (Default: 5000)\n"
        "  -rate   tx or rx rate in requests per second (modes: client|server)\n"
        "  -padlen padding bytes must match between client and server (modes: client|server) "
        "(Default: 200)\n"
        "  -buflen size of send/receive buffer (modes: client|server) (Default: OS defined)\n"
        "  -idle   seconds a silent client may hold the server (modes: server) (Default: no "
        "limit)\n");
    say("\nExamples:\n");
    say("%s -mode client -host %s -port 5050 -rate 4 -padlen 400\n", program, examplehost);
    say("%s -mode server -port 5050 -rate 2 -padlen 400\n", program);
    say("%s -mode client -host %s  -port 5050 -rate 4 -buflen 4096 -padlen 400\n", program,
        examplehost);
}

enum Request { kRun, kHelp, kVersion };

// Help and version are asked for by these exact words anywhere on the command
// line; the first one given decides. They are not options of the table, so
// they never reach the validation.
Request request(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        const char* word = argv[i];
        if (strcmp(word, "-h") == 0 || strcmp(word, "-help") == 0 || strcmp(word, "--help") == 0)
            return kHelp;
        if (strcmp(word, "-version") == 0 || strcmp(word, "--version") == 0) return kVersion;
    }
    return kRun;
}

const char* option(aaContext* args, const char* name) {
    return static_cast<const char*>(aaget(args, name));
}

// Decimal as strtol reads it. Values beyond 32 bits are clamped rather than
// wrapped, so that they fail the range test instead of passing as some small
// number.
int readnumber(const char* text) {
    long value = strtol(text, nullptr, 10);
    if (value > INT_MAX) return INT_MAX;
    if (value < INT_MIN) return INT_MIN;
    return static_cast<int>(value);
}

// Reads a numeric option: its default when missing, false (after printing
// `complaint`) when outside low..high.
bool numericoption(aaContext* args, const char* name, int fallback, int low, int high,
                   const char* complaint, int& value) {
    const char* text = option(args, name);
    if (strblank(text)) {
        value = fallback;
        return true;
    }
    value = readnumber(text);
    if (value >= low && value <= high) return true;
    say("%s\n", complaint);
    return false;
}

bool knownoption(const char* key) {
    static const char* const known[] = {"mode", "host", "port", "rate", "buflen", "padlen", "idle"};
    for (const char* name : known)
        if (strcasecmp(key, name) == 0) return true;
    return false;
}

// The resolver's own reason for a failed lookup. For a system error it is in
// errno; its generic "System error" would hide it.
const char* resolvertext(int rc) {
    return rc == EAI_SYSTEM ? lasterrtext() : gai_strerror(rc);
}

// Validates the options and runs the chosen loop; kRefused when the usage text
// is due. `resolved` receives the address list so that the caller frees it.
ExitStatus run(aaContext* args, addrinfo*& resolved) {
    bool unknown = false;
    aarewind(args);
    for (const char* key = aanextkey(args); key != nullptr; key = aanextkey(args)) {
        if (knownoption(key)) continue;
        say("parameter '%s' unrecognized\n", key);
        unknown = true;
    }
    if (unknown) return kRefused;

    const char* mode = option(args, "mode");
    const char* host = option(args, "host");
    if (strblank(mode)) {
        say("-mode required, must be 'client' or 'server'\n");
        return kRefused;
    }
    bool client = false;
    if (strcasecmp(mode, "client") == 0) {
        client = true;
        if (strblank(host)) {
            say("client mode requires -host parameter\n");
            return kRefused;
        }
    } else if (strcasecmp(mode, "server") != 0) {
        say("-mode invalid, must be 'client' or 'server'\n");
        return kRefused;
    }

    if (strblank(option(args, "rate"))) {
        say("-rate required in requests per second\n");
        return kRefused;
    }
    int rate = 0, port = 0, buflen = 0, padlen = 0, idle = 0;
    if (!numericoption(args, "rate", 0, 1, 100000,
                       "-rate invalid, must be between '1' per second and '100000' per second",
                       rate) ||
        !numericoption(args, "port", 5000, 1, 65535,
                       "-port invalid, must be between '1' and '65535'", port) ||
        !numericoption(args, "buflen", 0, 1, 100000000,
                       "-buflen invalid, must be between '1' and '100000000'", buflen) ||
        !numericoption(args, "padlen", 200, 0, 4000,
                       "-padlen invalid, must be between '0' and '4000'", padlen) ||
        !numericoption(args, "idle", 0, 1, 86400, "-idle invalid, must be between '1' and '86400'",
                       idle))
        return kRefused;

    if (!client)
        return pacelag_server(port, buflen, padlen, rate, stopflag, idle) == 0 ? kStopped : kFailed;
    char porttext[12];
    int2str(porttext, port);
    addrinfo hints;
    memset(&hints, 0, sizeof hints);
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    int rc = getaddrinfo(host, porttext, &hints, &resolved);
    if (rc != 0) {
        resolved = nullptr;
        say("-host invalid '%s':%s\n", host, resolvertext(rc));
        return kRefused;
    }
    return pacelag_client(resolved, host, port, buflen, padlen, rate, stopflag) == 0 ? kStopped
                                                                                     : kFailed;
}
} // namespace

extern "C" void stop_signal_handler(int) {
    setstop(stopflag);
}

int main(int argc, char** argv) {
    // No SA_RESTART: a stop must interrupt a blocking connect, not wait for
    // the system's connect timeout.
    struct sigaction action;
    memset(&action, 0, sizeof action);
    action.sa_handler = stop_signal_handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;
    sigaction(SIGHUP, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);

    switch (request(argc, argv)) {
    case kHelp: usage(); return kAnswered;
    case kVersion: say("%s %s\n", program, version); return kAnswered;
    case kRun: break;
    }

    // Only memory running out makes this fail; nothing has been printed.
    aaContext* args = args2aa(argc, argv);
    if (args == nullptr) return kFailed;

    addrinfo* resolved = nullptr;
    ExitStatus status = run(args, resolved);
    if (status == kRefused) usage();

    if (resolved != nullptr) freeaddrinfo(resolved);
    aafree(args);
    return status;
}
