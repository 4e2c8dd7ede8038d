// The pacelag server over loopback: ages, echoes, print cadence, the counter
// across connections, faulty streams, set-up failures and stopping.
#include "tool_helpers.h"

#include <csignal>
#include <ctime>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>

namespace {
// A running server on a port of its own.
struct Server {
    int port;
    Tool tool;
    Server(int rate, int padlen, std::vector<std::string> extra = {})
        : port(freeport()), tool(args(port, rate, padlen, extra)) {}
    static std::vector<std::string> args(int port, int rate, int padlen,
                                         std::vector<std::string> extra) {
        std::vector<std::string> a = {"-mode",   "server",
                                      "-port",   std::to_string(port),
                                      "-rate",   std::to_string(rate),
                                      "-padlen", std::to_string(padlen)};
        a.insert(a.end(), extra.begin(), extra.end());
        return a;
    }
    bool ready() { return tool.waitfor("Waiting for connection..\n"); }
};

std::vector<std::string> agelines(const std::string& out) {
    std::vector<std::string> ages;
    for (const std::string& line : lines(out))
        if (!line.empty() && line.find_first_not_of("-0123456789") == std::string::npos)
            ages.push_back(line);
    return ages;
}

// Sends the messages in one go and collects every echo; returns the echo bytes.
std::string exchange(int fd, const std::vector<std::string>& messages, int echolen) {
    std::string all;
    for (const std::string& m : messages) all += m;
    if (!writeall(fd, all)) return "";
    std::string echo(static_cast<size_t>(echolen) * messages.size(), '\0');
    int got = readexact(fd, &echo[0], static_cast<int>(echo.size()), kLongWaitMs);
    echo.resize(static_cast<size_t>(got));
    return echo;
}

TEST(Server, PrintsAgesAtItsCadenceAndEchoesTheFirstHalf) {
    struct Case {
        int rate, padlen, messages, printed;
    };
    const Case cases[] = {
        {47, 200, 3, 3},   // cadence 1: every message
        {48, 0, 6, 3},     // cadence 2: counts 0, 2, 4
        {100, 1, 9, 3},    // cadence 4: counts 0, 4, 8; odd message length
        {100, 4000, 5, 2}, // the largest padding validation accepts
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("rate " + std::to_string(c.rate) + " padlen " + std::to_string(c.padlen));
        Server server(c.rate, c.padlen);
        ASSERT_TRUE(server.ready()) << server.tool.output();
        Fd conn(connectto("127.0.0.1", server.port));
        ASSERT_GE(conn.fd, 0);

        const long long stamp = static_cast<long long>(time(nullptr)) - 100;
        std::vector<std::string> sent;
        std::string expected;
        const int msglen = c.padlen + 10;
        for (int i = 0; i < c.messages; ++i) {
            sent.push_back(message(stamp + i, c.padlen));
            expected += sent.back().substr(0, static_cast<size_t>(msglen / 2));
        }
        EXPECT_EQ(exchange(conn.fd, sent, msglen / 2), expected);

        // Each age is printed before its echo goes out, so all are there now.
        std::vector<std::string> ages = agelines(server.tool.output());
        ASSERT_EQ(static_cast<int>(ages.size()), c.printed) << server.tool.output();
        for (const std::string& age : ages) {
            EXPECT_GE(std::stoll(age), 100 - c.messages);
            EXPECT_LE(std::stoll(age), 102);
        }
        server.tool.signal(SIGTERM);
        EXPECT_EQ(server.tool.waitexit(), 0);
    }
}

TEST(Server, CounterSurvivesConnections) {
    Server server(100, 20); // cadence 4
    ASSERT_TRUE(server.ready());
    const long long now = static_cast<long long>(time(nullptr));
    {
        Fd first(connectto("127.0.0.1", server.port));
        ASSERT_GE(first.fd, 0);
        std::vector<std::string> six(6, message(now - 50, 20));
        ASSERT_EQ(exchange(first.fd, six, 15).size(), 6u * 15);
    }
    ASSERT_TRUE(server.tool.waitfor("Connection closed\nWaiting for connection..\n"))
        << server.tool.output();

    Fd second(connectto("127.0.0.1", server.port));
    ASSERT_GE(second.fd, 0);
    // Counts 6, 7, 8: only the third message of this connection prints.
    std::vector<std::string> three = {message(now - 1000, 20), message(now - 2000, 20),
                                      message(now - 3000, 20)};
    ASSERT_EQ(exchange(second.fd, three, 15).size(), 3u * 15);
    std::vector<std::string> ages = agelines(server.tool.output());
    ASSERT_EQ(ages.size(), 3u) << server.tool.output();
    EXPECT_GE(std::stoll(ages[2]), 3000);
    EXPECT_LE(std::stoll(ages[2]), 3002);
    EXPECT_EQ(countof(server.tool.output(), "Accepted connection..\n"), 2);
}

// A faulty stream ends only that connection; the next client is served.
TEST(Server, FaultyStreamsDropTheConnection) {
    struct Case {
        int padlen;
        std::string stream;
        std::string report;
    };
    const long long now = static_cast<long long>(time(nullptr));
    const Case cases[] = {
        // Client padding 200 against server padding 100: the second frame
        // starts in the padding.
        {100, message(now, 200) + message(now, 200), "[ERROR] rx parse failed: 0\n"},
        {0, "          ", "[ERROR] rx parse failed: -1\n"},
        {0, "abcdefghij", "[ERROR] rx parse failed: 0\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.stream.substr(0, 24));
        Server server(200, c.padlen);
        ASSERT_TRUE(server.ready());
        Fd conn(connectto("127.0.0.1", server.port));
        ASSERT_GE(conn.fd, 0);
        ASSERT_TRUE(writeall(conn.fd, c.stream));
        ASSERT_TRUE(server.tool.waitfor(c.report)) << server.tool.output();
        conn.reset();
        ASSERT_TRUE(server.tool.waitfor("Waiting for connection..\n", kShortWaitMs, 2))
            << server.tool.output();

        Fd next(connectto("127.0.0.1", server.port));
        ASSERT_GE(next.fd, 0);
        std::string m = message(now, c.padlen);
        EXPECT_EQ(exchange(next.fd, {m}, (c.padlen + 10) / 2),
                  m.substr(0, static_cast<size_t>((c.padlen + 10) / 2)));
        server.tool.signal(SIGTERM);
        EXPECT_EQ(server.tool.waitexit(), 0);
    }
}

// Timestamps come off the wire: one beyond 64 bits must not upset the age
// arithmetic (the sanitizer build would stop on an overflow).
TEST(Server, ExtremeTimestampsGiveSaturatedAges) {
    Server server(40, 30); // cadence 1
    ASSERT_TRUE(server.ready());
    Fd conn(connectto("127.0.0.1", server.port));
    ASSERT_GE(conn.fd, 0);
    std::vector<std::string> stream = {"-99999999999999999999999" + std::string(16, '#'),
                                       "99999999999999999999999" + std::string(17, '#')};
    ASSERT_EQ(exchange(conn.fd, stream, 20).size(), 40u);
    std::vector<std::string> ages = agelines(server.tool.output());
    ASSERT_EQ(ages.size(), 2u) << server.tool.output();
    EXPECT_EQ(ages[0], "9223372036854775807");
    EXPECT_EQ(std::stoll(ages[1]), static_cast<long long>(time(nullptr)) - 9223372036854775807LL);
}

TEST(Server, ResetByClientIsAWarning) {
    Server server(100, 200);
    ASSERT_TRUE(server.ready());
    Fd conn(connectto("127.0.0.1", server.port));
    ASSERT_GE(conn.fd, 0);
    ASSERT_TRUE(server.tool.waitfor("Accepted connection..\n"));
    ASSERT_TRUE(writeall(conn.fd, message(time(nullptr), 200).substr(0, 50)));
    sleepms(100);
    linger hard = {1, 0}; // close with a reset instead of a FIN
    setsockopt(conn.fd, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
    conn.reset();
    EXPECT_TRUE(server.tool.waitfor(
        "[WARNING] Receive failure: Connection reset by peer\nWaiting for connection..\n"))
        << server.tool.output();
    EXPECT_TRUE(server.tool.running());
}

TEST(Server, ListensOnIpv4AndIpv6) {
    Server server(200, 10);
    ASSERT_TRUE(server.ready());
    for (const char* address : {"127.0.0.1", "::1"}) {
        SCOPED_TRACE(address);
        Fd conn(connectto(address, server.port));
        if (conn.fd < 0 && std::string(address) == "::1") {
            GTEST_SKIP() << "no IPv6 loopback here";
        }
        ASSERT_GE(conn.fd, 0);
        std::string m = message(time(nullptr), 10);
        EXPECT_EQ(exchange(conn.fd, {m}, 10), m.substr(0, 10));
        conn.reset();
        ASSERT_TRUE(server.tool.waitfor("Connection closed\n")) << server.tool.output();
        sleepms(10);
    }
}

TEST(Server, PortInUseEndsTheServer) {
    int port = 0;
    Fd holder(socket(AF_INET6, SOCK_STREAM, 0));
    ASSERT_GE(holder.fd, 0);
    sockaddr_in6 addr = {};
    addr.sin6_family = AF_INET6;
    addr.sin6_addr = in6addr_any;
    ASSERT_EQ(bind(holder.fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    ASSERT_EQ(listen(holder.fd, 4), 0);
    socklen_t len = sizeof addr;
    ASSERT_EQ(getsockname(holder.fd, reinterpret_cast<sockaddr*>(&addr), &len), 0);
    port = ntohs(addr.sin6_port);

    int status = -3;
    std::string out =
        runtool({"-mode", "server", "-rate", "10", "-port", std::to_string(port)}, status);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(out, "[ERROR] Bind failed to port " + std::to_string(port) +
                       ": Address already in use\nWaiting for connection..\n");
}

// Every stop signal ends the server with status 0, idle or in the middle of a
// message; a partial message is never reported.
TEST(Server, StopsOnSignals) {
    struct Case {
        int sig;
        bool midmessage;
    };
    const Case cases[] = {{SIGTERM, false}, {SIGINT, false}, {SIGHUP, false},
                          {SIGTERM, true},  {SIGINT, true},  {SIGHUP, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.sig) + (c.midmessage ? " mid-message" : " idle"));
        Server server(20, 100);
        ASSERT_TRUE(server.ready());
        Fd conn;
        if (c.midmessage) {
            conn.reset(connectto("127.0.0.1", server.port));
            ASSERT_GE(conn.fd, 0);
            std::string whole = message(time(nullptr) - 7, 100);
            ASSERT_EQ(exchange(conn.fd, {whole}, 55).size(), 55u);
            ASSERT_TRUE(writeall(conn.fd, message(time(nullptr) - 500, 100).substr(0, 60)));
            sleepms(150); // the server is now waiting for the rest
        }
        server.tool.signal(c.sig);
        EXPECT_EQ(server.tool.waitexit(), 0) << server.tool.output();
        std::vector<std::string> ages = agelines(server.tool.output());
        EXPECT_EQ(ages.size(), c.midmessage ? 1u : 0u) << server.tool.output();
        if (c.midmessage) {
            EXPECT_LT(std::stoll(ages[0]), 100);
            EXPECT_EQ(server.tool.output().substr(server.tool.output().size() - 25),
                      "Waiting for connection..\n");
        }
    }
}
} // namespace

namespace {
// At the highest rate the wait before each message is spent polling the
// clock; a stop must still be seen there at once.
TEST(Server, StopsPromptlyAtTheHighestRate) {
    Server server(100000, 0);
    ASSERT_TRUE(server.ready());
    Fd conn(connectto("127.0.0.1", server.port));
    ASSERT_GE(conn.fd, 0);
    std::string stream;
    for (int i = 0; i < 20000; ++i) stream += message(time(nullptr), 0);
    writeall(conn.fd, stream, 300); // as much as the buffers take
    ASSERT_TRUE(server.tool.waitfor("Accepted connection..\n"));
    sleepms(200);
    EXPECT_TRUE(server.tool.running());
    server.tool.signal(SIGTERM);
    EXPECT_EQ(server.tool.waitexit(2000), 0) << server.tool.output();
}
} // namespace
