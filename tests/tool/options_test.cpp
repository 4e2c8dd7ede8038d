// SPDX-License-Identifier: MIT
// Command-line handling of the pacelag binary: every validation message, the
// usage text byte for byte, the resolver's reason and the exit status.
#include "tool_helpers.h"

#include <csignal>
#include <gtest/gtest.h>
#include <netdb.h>

namespace {
const char usage[] =
    "\nUsage: pacelag (version 1.0.0) \n\nOptions:\n"
    "  -mode   client|server\n"
    "  -host   ip or hostname, (modes: client)\n"
    "  -port   TCP port (modes: client|server) (Default: 5000)\n"
    "  -rate   tx or rx rate in requests per second (modes: client|server)\n"
    "  -padlen padding bytes must match between client and server (modes: client|server) "
    "(Default: 200)\n"
    "  -buflen size of send/receive buffer (modes: client|server) (Default: OS defined)\n"
    "  -idle   seconds a silent client may hold the server (modes: server) (Default: no limit)\n"
    "\nExamples:\n"
    "pacelag -mode client -host server.example.com -port 5050 -rate 4 -padlen 400\n"
    "pacelag -mode server -port 5050 -rate 2 -padlen 400\n"
    "pacelag -mode client -host server.example.com  -port 5050 -rate 4 -buflen 4096 -padlen 400\n";

const char rateinvalid[] =
    "-rate invalid, must be between '1' per second and '100000' per second\n";
const char portinvalid[] = "-port invalid, must be between '1' and '65535'\n";
const char bufinvalid[] = "-buflen invalid, must be between '1' and '100000000'\n";
const char padinvalid[] = "-padlen invalid, must be between '0' and '4000'\n";
const char idleinvalid[] = "-idle invalid, must be between '1' and '86400'\n";
const char modemissing[] = "-mode required, must be 'client' or 'server'\n";

TEST(Options, RefusedCommandLinesPrintOneMessageAndTheUsage) {
    struct Case {
        std::vector<std::string> args;
        std::string message;
    };
    const Case cases[] = {
        {{}, modemissing},
        {{"-mode"}, modemissing},
        {{"-mode", " \t"}, modemissing},
        {{"-mode", "client", "-rate", "10"}, "client mode requires -host parameter\n"},
        {{"-mode", "client", "-host", "  ", "-rate", "10"},
         "client mode requires -host parameter\n"},
        // Validation stops at the first failure, in a fixed order: mode, rate,
        // port, padlen.
        {{"-mode", "both", "-rate", "0", "-port", "0"},
         "-mode invalid, must be 'client' or 'server'\n"},
        {{"-mode", "server", "-rate", "0", "-port", "0"}, rateinvalid},
        {{"-mode", "server", "-rate", "10", "-port", "65536", "-padlen", "4001"}, portinvalid},
        {{"-mode", "server"}, "-rate required in requests per second\n"},
        {{"-mode", "server", "-rate", " "}, "-rate required in requests per second\n"},
        {{"-mode", "server", "-rate", "100001"}, rateinvalid},
        {{"-mode", "server", "-rate", "fast"}, rateinvalid},
        // Beyond 32 or 64 bits: refused, not wrapped round to a small number.
        {{"-mode", "server", "-rate", "4294967297"}, rateinvalid},
        {{"-mode", "server", "-rate", "99999999999999999999"}, rateinvalid},
        {{"-mode", "server", "-rate", "10", "-port", "0"}, portinvalid},
        {{"-mode", "server", "-rate", "10", "-port", "4294972296"}, portinvalid},
        {{"-mode", "server", "-rate", "10", "-buflen", "0"}, bufinvalid},
        {{"-mode", "server", "-rate", "10", "-buflen", "100000001"}, bufinvalid},
        {{"-mode", "server", "-rate", "10", "-padlen", "4001"}, padinvalid},
        {{"-mode", "server", "-rate", "10", "-idle", "0"}, idleinvalid},
        {{"-mode", "server", "-rate", "10", "-idle", "86401"}, idleinvalid},
        {{"-mode", "server", "-rate", "10", "-idle", "soon"}, idleinvalid},
        {{"-Speed", "3", "-mode", "server", "-x", "-rate", "10"},
         "parameter 'Speed' unrecognized\nparameter 'x' unrecognized\n"},
        // A negative number is an option word of its own.
        {{"-mode", "server", "-rate", "-5"}, "parameter '5' unrecognized\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.args));
        int status = -3;
        std::string out = runtool(c.args, status);
        EXPECT_EQ(status, 2);
        EXPECT_EQ(out, c.message + usage);
    }
}

// Help and version are answered on standard output with status 0 wherever
// the word stands, also beside options that would be refused; the first of
// them decides. Words that only look like them stay unknown options.
TEST(Options, HelpAndVersionAreAnsweredWithStatusZero) {
    const std::string version = "pacelag 1.0.0\n";
    const std::string refused = std::string(usage);
    struct Case {
        std::vector<std::string> args;
        std::string out;
        int status;
    };
    const Case cases[] = {
        {{"-h"}, usage, 0},
        {{"-help"}, usage, 0},
        {{"--help"}, usage, 0},
        {{"-version"}, version, 0},
        {{"--version"}, version, 0},
        {{"-mode", "server", "-rate", "0", "--help"}, usage, 0},
        {{"-speed", "3", "-version", "-h"}, version, 0},
        {{"-mode", "client", "-host", "--help", "-rate", "10"}, usage, 0},
        {{"-H"}, "parameter 'H' unrecognized\n" + refused, 2},
        {{"-helpme"}, "parameter 'helpme' unrecognized\n" + refused, 2},
        {{"---help"}, "parameter '--help' unrecognized\n" + refused, 2},
        {{"-v"}, "parameter 'v' unrecognized\n" + refused, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.args));
        int status = -3;
        std::string out = runtool(c.args, status);
        EXPECT_EQ(status, c.status);
        EXPECT_EQ(out, c.out);
    }
}

// A name that cannot resolve is a refused command line that names the
// resolver's own reason, as the C library words it for the same lookup. A
// label longer than 63 bytes is refused by the resolver itself, so the test
// sends no query to the machine's name server.
TEST(Options, UnresolvableHostGivesTheResolversReason) {
    const std::string host = std::string(64, 'x') + ".invalid";
    addrinfo hints = {};
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    int rc = getaddrinfo(host.c_str(), "5000", &hints, &found);
    if (found != nullptr) freeaddrinfo(found);
    ASSERT_NE(rc, 0) << "resolves here";
    ASSERT_NE(rc, EAI_SYSTEM);
    int status = -3;
    std::string out = runtool({"-mode", "client", "-host", host, "-rate", "10"}, status);
    EXPECT_EQ(status, 2);
    EXPECT_EQ(out, "-host invalid '" + host + "':" + gai_strerror(rc) + "\n" + usage);
    EXPECT_EQ(out.find("Unknown error"), std::string::npos);
}

// Accepted command lines start the loop; the server then listens where the
// options say and stops with status 0 (1 when the port is taken).
TEST(Options, AcceptedCommandLinesRunTheServer) {
    int port = freeport();
    ASSERT_GT(port, 0);
    const std::string p = std::to_string(port);
    struct Case {
        std::vector<std::string> args;
        int port;
    };
    const Case cases[] = {
        {{"-Mode", "SERVER", "-RATE", "10", "-port", p}, port},
        {{"-mode", "server", "-rate", "100000", "-port", p, "-padlen", "0"}, port},
        {{"-mode", "server", "-rate", "1", "-port", p, "-padlen", "4000", "-buflen", "100000000"},
         port},
        {{"-mode", "server", "-rate", "10 per second", "-port", "1", "-port", p}, port},
        {{"-mode", "server", "-rate", "10", "-port", "-buflen", "", "-padlen"}, 5000},
        {{"-mode", "server", "-rate", "10", "-port", p, "-idle", "86400"}, port},
        {{"-mode", "server", "-rate", "10", "-port", p, "-idle", ""}, port},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.args));
        Tool tool(c.args);
        ASSERT_TRUE(tool.waitfor("Waiting for connection..\n")) << tool.output();
        int expected = 0;
        if (tool.output().find("Bind failed") != std::string::npos) {
            // Someone else holds the port; the message still names it.
            EXPECT_NE(tool.output().find("port " + std::to_string(c.port) + ":"),
                      std::string::npos);
            expected = 1;
        } else {
            Fd conn(connectto("127.0.0.1", c.port));
            ASSERT_GE(conn.fd, 0);
            EXPECT_TRUE(tool.waitfor("Accepted connection..\n")) << tool.output();
            tool.signal(SIGTERM);
        }
        EXPECT_EQ(tool.waitexit(), expected) << tool.output();
        EXPECT_EQ(tool.output().find("Usage"), std::string::npos);
    }
}
} // namespace
