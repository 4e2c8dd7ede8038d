// SPDX-License-Identifier: MIT
// The pacelag server over loopback: ages, echoes, print cadence, the counter
// across connections, faulty streams, set-up failures and stopping.
#include "tool_helpers.h"

#include <csignal>
#include <chrono>
#include <ctime>
#include <gtest/gtest.h>
#include <sstream>
#include <sys/socket.h>

namespace {
// A running server on a port of its own.
struct Server {
    int port = freeport();
    Tool tool;
    Server(int rate, int padlen, const std::vector<std::string>& more = {})
        : tool(args(port, rate, padlen, more)) {}
    static std::vector<std::string> args(int port, int rate, int padlen,
                                         const std::vector<std::string>& more) {
        std::vector<std::string> all = {"-mode",   "server",
                                        "-port",   std::to_string(port),
                                        "-rate",   std::to_string(rate),
                                        "-padlen", std::to_string(padlen)};
        all.insert(all.end(), more.begin(), more.end());
        return all;
    }
    bool ready() { return tool.waitfor("Waiting for connection..\n"); }
    // A connection once the server is listening; -1 on failure.
    int connect(const char* address = "127.0.0.1") {
        return ready() ? connectto(address, port) : -1;
    }
    void stop(int sig = SIGTERM, int timeoutms = kShortWaitMs) {
        tool.signal(sig);
        EXPECT_EQ(tool.waitexit(timeoutms), 0) << tool.output();
    }
};

// The printed ages: lines that hold only a number.
std::vector<long long> ages(const std::string& out) {
    std::vector<long long> result;
    std::istringstream in(out);
    for (std::string line; std::getline(in, line);)
        if (!line.empty() && line.find_first_not_of("-0123456789") == std::string::npos)
            result.push_back(std::stoll(line));
    return result;
}

// Sends the messages in one go and returns the echoes that come back.
std::string exchange(int fd, const std::vector<std::string>& messages, int echolen) {
    std::string all;
    for (const std::string& m : messages) all += m;
    if (!writeall(fd, all)) return "";
    return readsome(fd, static_cast<size_t>(echolen) * messages.size(), kLongWaitMs);
}

TEST(Server, PrintsAgesAtItsCadenceAndEchoesTheFirstHalf) {
    struct Case {
        int rate, padlen, messages, printed;
    };
    const Case cases[] = {
        {48, 0, 6, 3},     // cadence 2: counts 0, 2, 4
        {100, 1, 9, 3},    // cadence 4: counts 0, 4, 8; odd message length
        {100, 4000, 5, 2}, // the largest padding validation accepts
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("rate " + std::to_string(c.rate) + " padlen " + std::to_string(c.padlen));
        Server server(c.rate, c.padlen);
        Fd conn(server.connect());
        ASSERT_GE(conn.fd, 0) << server.tool.output();
        const long long stamp = time(nullptr) - 100;
        const int half = (c.padlen + 10) / 2;
        std::vector<std::string> sent;
        std::string expected;
        for (int i = 0; i < c.messages; ++i) {
            sent.push_back(message(stamp + i, c.padlen));
            expected += sent.back().substr(0, static_cast<size_t>(half));
        }
        EXPECT_EQ(exchange(conn.fd, sent, half), expected);
        // Each age is printed before its echo goes out, so all are there now.
        std::vector<long long> printed = ages(server.tool.output());
        ASSERT_EQ(static_cast<int>(printed.size()), c.printed) << server.tool.output();
        for (long long age : printed) {
            EXPECT_GE(age, 100 - c.messages);
            EXPECT_LE(age, 102);
        }
        server.stop();
    }
}

// IPv4 clients arrive on the IPv6 listener, IPv6 ones too; the message counter
// goes on from one connection to the next.
TEST(Server, ListensOnIpv4AndIpv6AndCountsAcrossConnections) {
    Server server(100, 20); // cadence 4
    const long long now = time(nullptr);
    {
        Fd first(server.connect("127.0.0.1"));
        ASSERT_GE(first.fd, 0);
        std::vector<std::string> six(6, message(now - 50, 20));
        ASSERT_EQ(exchange(first.fd, six, 15).size(), 6u * 15);
    }
    ASSERT_TRUE(server.tool.waitfor("Connection closed\nWaiting for connection..\n"))
        << server.tool.output();
    Fd second(server.connect("::1"));
    if (second.fd < 0) GTEST_SKIP() << "no IPv6 loopback here";
    // Counts 6, 7, 8: only the third message of this connection prints.
    std::vector<std::string> three = {message(now - 1000, 20), message(now - 2000, 20),
                                      message(now - 3000, 20)};
    ASSERT_EQ(exchange(second.fd, three, 15).size(), 3u * 15);
    std::vector<long long> printed = ages(server.tool.output());
    ASSERT_EQ(printed.size(), 3u) << server.tool.output();
    EXPECT_GE(printed[2], 3000);
    EXPECT_LE(printed[2], 3002);
    second.reset();
    EXPECT_TRUE(server.tool.waitfor("Connection closed\n", kShortWaitMs, 2));
    EXPECT_EQ(countof(server.tool.output(), "Accepted connection..\n"), 2);
}

// A faulty stream or a reset ends only that connection; the next client is
// served.
TEST(Server, FaultyConnectionsEndAndTheNextIsServed) {
    struct Case {
        int padlen;
        std::string stream;
        bool reset; // close with a reset instead of a FIN
        std::string report;
    };
    const long long now = time(nullptr);
    const Case cases[] = {
        // Client padding 200 against server padding 100: the second frame
        // starts in the padding.
        {100, message(now, 200) + message(now, 200), false, "[ERROR] rx parse failed: 0\n"},
        {0, "          ", false, "[ERROR] rx parse failed: -1\n"},
        {200, message(now, 200).substr(0, 50), true,
         "[WARNING] Receive failure: Connection reset by peer\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.report);
        Server server(200, c.padlen);
        Fd conn(server.connect());
        ASSERT_GE(conn.fd, 0);
        ASSERT_TRUE(writeall(conn.fd, c.stream));
        if (c.reset) { // once the server holds the partial message
            ASSERT_TRUE(server.tool.waitfor("Accepted connection..\n"));
            sleepms(100);
            linger hard = {1, 0};
            setsockopt(conn.fd, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
        }
        conn.reset();
        ASSERT_TRUE(server.tool.waitfor(c.report + "Waiting for connection..\n"))
            << server.tool.output();
        Fd next(server.connect());
        ASSERT_GE(next.fd, 0);
        const int half = (c.padlen + 10) / 2;
        std::string m = message(now, c.padlen);
        EXPECT_EQ(exchange(next.fd, {m}, half), m.substr(0, static_cast<size_t>(half)));
        server.stop();
    }
}

// Timestamps come off the wire: one beyond 64 bits must not upset the age
// arithmetic (the sanitizer build would stop on an overflow).
TEST(Server, ExtremeTimestampsGiveSaturatedAges) {
    Server server(40, 30); // cadence 1
    Fd conn(server.connect());
    ASSERT_GE(conn.fd, 0);
    std::vector<std::string> stream = {"-99999999999999999999999" + std::string(16, '#'),
                                       "99999999999999999999999" + std::string(17, '#')};
    ASSERT_EQ(exchange(conn.fd, stream, 20).size(), 40u);
    std::vector<long long> printed = ages(server.tool.output());
    ASSERT_EQ(printed.size(), 2u) << server.tool.output();
    EXPECT_EQ(printed[0], 9223372036854775807LL);
    EXPECT_EQ(printed[1], static_cast<long long>(time(nullptr)) - 9223372036854775807LL);
}

TEST(Server, PortInUseEndsTheServer) {
    int port = 0;
    Fd holder(listenlocal(port));
    ASSERT_GE(holder.fd, 0);
    int status = -3;
    std::string out =
        runtool({"-mode", "server", "-rate", "10", "-port", std::to_string(port)}, status);
    EXPECT_EQ(status, 1);
    EXPECT_EQ(out, "[ERROR] Bind failed to port " + std::to_string(port) +
                       ": Address already in use\nWaiting for connection..\n");
}

// Every stop signal ends the server with status 0, idle or in the middle of a
// message; a partial message is never reported.
TEST(Server, StopsOnSignals) {
    for (bool midmessage : {false, true}) {
        for (int sig : {SIGTERM, SIGINT, SIGHUP}) {
            SCOPED_TRACE(std::to_string(sig) + (midmessage ? " mid-message" : " idle"));
            Server server(20, 100);
            ASSERT_TRUE(server.ready());
            Fd conn;
            if (midmessage) {
                conn.reset(server.connect());
                ASSERT_GE(conn.fd, 0);
                ASSERT_EQ(exchange(conn.fd, {message(time(nullptr) - 7, 100)}, 55).size(), 55u);
                ASSERT_TRUE(writeall(conn.fd, message(time(nullptr) - 500, 100).substr(0, 60)));
                sleepms(150); // the server is now waiting for the rest
            }
            server.stop(sig);
            const std::string& out = server.tool.output();
            std::vector<long long> printed = ages(out);
            ASSERT_EQ(printed.size(), midmessage ? 1u : 0u) << out;
            if (midmessage) {
                EXPECT_LT(printed[0], 100);
                EXPECT_EQ(out.substr(out.size() - 25), "Waiting for connection..\n");
            }
        }
    }
}

// With an idle limit a client that goes silent, before its first byte or in
// the middle of a message, is dropped once the limit has passed, and the
// client waiting behind it is served. A client that sends now and then within
// the limit keeps its connection, and without the limit a silent client holds
// the server as before.
TEST(Server, IdleLimitDropsASilentClientAndServesTheNext) {
    const std::string dropped = "[WARNING] No data for 1 seconds, closing the connection\n"
                                "Waiting for connection..\nAccepted connection..\n";
    for (bool partial : {false, true}) {
        SCOPED_TRACE(partial ? "silent mid-message" : "silent from the start");
        Server server(20, 20, {"-idle", "1"});
        Fd silent(server.connect());
        ASSERT_GE(silent.fd, 0);
        ASSERT_TRUE(server.tool.waitfor("Accepted connection..\n"));
        const auto since = std::chrono::steady_clock::now();
        if (partial) {
            ASSERT_TRUE(writeall(silent.fd, message(time(nullptr), 20).substr(0, 12)));
        }
        Fd next(connectto("127.0.0.1", server.port));
        ASSERT_GE(next.fd, 0);
        ASSERT_TRUE(server.tool.waitfor(dropped, kLongWaitMs)) << server.tool.output();
        const auto waited = std::chrono::duration_cast<std::chrono::milliseconds>(
                                std::chrono::steady_clock::now() - since)
                                .count();
        EXPECT_GE(waited, 950);
        EXPECT_LE(waited, 1000 + kShortWaitMs);
        // The dropped client sees the connection end; the next one is served.
        EXPECT_EQ(readsome(silent.fd, 1, kShortWaitMs), "");
        std::string m = message(time(nullptr), 20);
        EXPECT_EQ(exchange(next.fd, {m}, 15), m.substr(0, 15));
        server.stop();
    }

    Server chatty(20, 20, {"-idle", "1"});
    Fd conn(chatty.connect());
    ASSERT_GE(conn.fd, 0);
    for (int i = 0; i < 5; ++i) {
        std::string m = message(time(nullptr), 20);
        ASSERT_EQ(exchange(conn.fd, {m}, 15), m.substr(0, 15)) << chatty.tool.output();
        sleepms(400);
    }
    EXPECT_EQ(chatty.tool.output().find("No data"), std::string::npos) << chatty.tool.output();
    chatty.stop();

    Server unlimited(20, 20);
    Fd held(unlimited.connect());
    ASSERT_GE(held.fd, 0);
    ASSERT_TRUE(unlimited.tool.waitfor("Accepted connection..\n"));
    Fd waiting(connectto("127.0.0.1", unlimited.port));
    ASSERT_GE(waiting.fd, 0);
    sleepms(2500);
    unlimited.stop();
    EXPECT_EQ(unlimited.tool.output(), "Waiting for connection..\nAccepted connection..\n"
                                       "Waiting for connection..\n");
}

// At the highest rate the wait before each message is spent polling the
// clock; a stop must still be seen there at once.
TEST(Server, StopsPromptlyAtTheHighestRate) {
    Server server(100000, 0);
    Fd conn(server.connect());
    ASSERT_GE(conn.fd, 0);
    std::string stream;
    for (int i = 0; i < 20000; ++i) stream += message(time(nullptr), 0);
    writeall(conn.fd, stream, 300); // as much as the buffers take
    ASSERT_TRUE(server.tool.waitfor("Accepted connection..\n"));
    sleepms(200);
    EXPECT_TRUE(server.tool.running());
    server.stop(SIGTERM, 2000);
}
} // namespace
