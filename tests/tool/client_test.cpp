// The pacelag client over loopback: the bytes on the wire, the progress marks
// against fast and stalled readers, connection failures and stopping.
#include "tool_helpers.h"

#include <csignal>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <gtest/gtest.h>
#include <sys/socket.h>

namespace {
std::vector<std::string> clientargs(int port, int rate, int padlen, int buflen = 0) {
    std::vector<std::string> a = {"-mode",   "client",
                                  "-host",   "127.0.0.1",
                                  "-port",   std::to_string(port),
                                  "-rate",   std::to_string(rate),
                                  "-padlen", std::to_string(padlen)};
    if (buflen > 0) {
        a.push_back("-buflen");
        a.push_back(std::to_string(buflen));
    }
    return a;
}

// The marks are everything before the final line end.
std::string marks(const std::string& out) {
    return out.substr(0, out.find('\n'));
}

TEST(Client, SendsTimestampedPaddedMessages) {
    for (int padlen : {0, 7, 200, 4000}) {
        SCOPED_TRACE("padlen " + std::to_string(padlen));
        int port = 0;
        Fd listener(listenlocal(port));
        ASSERT_GE(listener.fd, 0);
        const long long before = static_cast<long long>(time(nullptr));
        Tool client(clientargs(port, 50, padlen));
        Fd conn(acceptwithin(listener.fd, kShortWaitMs));
        ASSERT_GE(conn.fd, 0);
        const int msglen = 10 + padlen;
        std::string wire(static_cast<size_t>(msglen) * 3, '\0');
        ASSERT_EQ(readexact(conn.fd, &wire[0], static_cast<int>(wire.size()), kLongWaitMs),
                  static_cast<int>(wire.size()));
        const long long after = static_cast<long long>(time(nullptr));
        for (int i = 0; i < 3; ++i) {
            std::string m = wire.substr(static_cast<size_t>(i * msglen), msglen);
            long long stamp = std::stoll(m.substr(0, 10));
            EXPECT_GE(stamp, before);
            EXPECT_LE(stamp, after);
            EXPECT_EQ(m, message(stamp, padlen));
        }
        client.signal(SIGTERM);
        EXPECT_EQ(client.waitexit(), 0);
        std::string tail = readavailable(conn.fd, 100, kShortWaitMs);
        EXPECT_EQ(tail.size() % static_cast<size_t>(msglen), 0u); // nothing cut short
    }
}

// Against a reader that keeps up every message goes out whole: one "#" per
// cadence-th message, a mark for the first one.
TEST(Client, MarksEveryCadenceThMessageAgainstAFastReader) {
    struct Case {
        int rate, cadence;
    };
    for (const Case& c : {Case{20, 1}, Case{48, 2}, Case{100, 4}}) {
        SCOPED_TRACE("rate " + std::to_string(c.rate));
        int port = 0;
        Fd listener(listenlocal(port));
        ASSERT_GE(listener.fd, 0);
        Tool client(clientargs(port, c.rate, 20));
        Fd conn(acceptwithin(listener.fd, kShortWaitMs));
        ASSERT_GE(conn.fd, 0);
        ASSERT_TRUE(client.waitfor("#", kShortWaitMs, 3));
        client.signal(SIGTERM);
        std::string wire = readavailable(conn.fd, 200, kLongWaitMs);
        ASSERT_EQ(client.waitexit(), 0);
        const int received = static_cast<int>(wire.size() / 30);
        EXPECT_EQ(wire.size() % 30, 0u);
        // A stop that comes during the wait ends the pass without sending,
        // which shows as a final "." when that count is due.
        std::string m = marks(client.output());
        EXPECT_EQ(client.output(), m + "\n");
        EXPECT_EQ(countof(m, "#"), (received + c.cadence - 1) / c.cadence) << m;
        EXPECT_LE(countof(m, "."), 1) << m;
        if (countof(m, ".") == 1) {
            EXPECT_EQ(m.back(), '.');
        }
    }
}

// A reader that never reads: once both buffers are full, messages are dropped
// whole and the marks turn to ".". The client keeps going.
TEST(Client, MarksTurnToDotsWhenTheQueueIsFull) {
    int port = 0;
    Fd listener(listenlocal(port, 16, 2048));
    ASSERT_GE(listener.fd, 0);
    Tool client(clientargs(port, 100, 200, 2048));
    Fd conn(acceptwithin(listener.fd, kShortWaitMs));
    ASSERT_GE(conn.fd, 0);
    ASSERT_TRUE(client.waitfor(".", kLongWaitMs, 3)) << client.output();
    EXPECT_EQ(client.output()[0], '#');
    EXPECT_TRUE(client.running());
    client.signal(SIGTERM);
    EXPECT_EQ(client.waitexit(), 0);
    EXPECT_EQ(client.output().back(), '\n');
    // Dropped messages leave no fragments: the stream stays whole messages
    // back to back (only a stop may cut the last one short).
    std::string wire = readavailable(conn.fd, 200, kLongWaitMs);
    ASSERT_GE(wire.size(), 210u);
    for (size_t at = 0; at + 210 <= wire.size(); at += 210) {
        std::string m = wire.substr(at, 210);
        ASSERT_EQ(m, message(std::stoll(m.substr(0, 10)), 200)) << "at byte " << at;
    }
}

TEST(Client, ConnectionRefused) {
    int port = freeport();
    ASSERT_GT(port, 0);
    for (const char* host : {"127.0.0.1", "localhost"}) {
        SCOPED_TRACE(host);
        int status = -3;
        std::vector<std::string> args = clientargs(port, 10, 200);
        args[3] = host;
        std::string out = runtool(args, status);
        EXPECT_EQ(status, 0);
        EXPECT_EQ(out, std::string("[ERROR] connect failed to ") + host + " on port " +
                           std::to_string(port) + ": Connection refused\n\n");
    }
}

// The server closes: the next sends fail with a broken pipe, reported, and the
// process ends normally rather than by SIGPIPE.
TEST(Client, ServerGoneIsABrokenPipe) {
    int port = 0;
    Fd listener(listenlocal(port));
    ASSERT_GE(listener.fd, 0);
    Tool client(clientargs(port, 100, 50));
    Fd conn(acceptwithin(listener.fd, kShortWaitMs));
    ASSERT_GE(conn.fd, 0);
    char first[60];
    ASSERT_EQ(readexact(conn.fd, first, 60, kShortWaitMs), 60);
    // The FIN goes first, so the reset that the next message provokes finds
    // the client's side already half closed.
    shutdown(conn.fd, SHUT_WR);
    sleepms(30);
    conn.reset();
    EXPECT_EQ(client.waitexit(), 0) << client.output();
    const std::string& out = client.output();
    const std::string report = "\n[ERROR] send failed: Broken pipe\n\n";
    ASSERT_GE(out.size(), report.size()) << out;
    EXPECT_EQ(out.substr(out.size() - report.size()), report) << out;
}

// True once the kernel lists a connection attempt to `port` still waiting
// for its answer (SYN_SENT), i.e. a connect is blocked.
bool connectpending(int port) {
    char want[8];
    snprintf(want, sizeof want, ":%04X", port);
    std::ifstream table("/proc/net/tcp");
    std::string line;
    while (std::getline(table, line)) {
        // sl local_address rem_address st ...
        char local[64], remote[64], state[8];
        if (sscanf(line.c_str(), "%*s %63s %63s %7s", local, remote, state) != 3) continue;
        if (std::string(remote).find(want) != std::string::npos && std::string(state) == "02")
            return true;
    }
    return false;
}

// A stop during a connect that the system would keep retrying for minutes
// ends the client at once.
TEST(Client, StopInterruptsABlockingConnect) {
    int port = 0;
    Fd listener(listenlocal(port, 0));
    ASSERT_GE(listener.fd, 0);
    Fd filler(connectto("127.0.0.1", port)); // the accept queue is now full
    ASSERT_GE(filler.fd, 0);
    Tool client(clientargs(port, 10, 200));
    bool pending = false;
    for (int i = 0; i < 200 && !pending; ++i) {
        pending = connectpending(port);
        if (!pending) sleepms(20);
    }
    ASSERT_TRUE(pending) << "the client's connect never blocked";
    client.signal(SIGTERM);
    EXPECT_EQ(client.waitexit(), 0) << client.output();
    EXPECT_EQ(client.output(), "[ERROR] connect failed to 127.0.0.1 on port " +
                                   std::to_string(port) + ": Interrupted system call\n\n");
}

// A message that went out in part is finished with back-off sleeps; a stop
// cuts it short and shows as "."
TEST(Client, StopInTheMiddleOfAPartlySentMessage) {
    int port = 0;
    Fd listener(listenlocal(port, 16, 2048));
    ASSERT_GE(listener.fd, 0);
    Tool client(clientargs(port, 10, 4000, 2048));
    Fd conn(acceptwithin(listener.fd, kShortWaitMs));
    ASSERT_GE(conn.fd, 0);
    // Let the queues fill while nobody reads.
    sleepms(1500);
    client.signal(SIGTERM);
    ASSERT_EQ(client.waitexit(), 0);
    std::string wire = readavailable(conn.fd, 200, kLongWaitMs);
    std::string m = marks(client.output());
    EXPECT_EQ(client.output(), m + "\n");
    if (wire.size() % 4010 == 0) GTEST_SKIP() << "no partial message this time: " << m;
    EXPECT_EQ(m.back(), '.') << m;
}
} // namespace

namespace {
// At the highest rate the wait before each message is spent polling the
// clock; a stop must still be seen there at once.
TEST(Client, StopsPromptlyAtTheHighestRate) {
    int port = 0;
    Fd listener(listenlocal(port));
    ASSERT_GE(listener.fd, 0);
    Tool client(clientargs(port, 100000, 20));
    Fd conn(acceptwithin(listener.fd, kShortWaitMs));
    ASSERT_GE(conn.fd, 0);
    std::string wire = readavailable(conn.fd, 1000, 300);
    EXPECT_GT(wire.size(), 0u);
    client.signal(SIGTERM);
    EXPECT_EQ(client.waitexit(2000), 0);
    EXPECT_EQ(client.output().back(), '\n');
}
} // namespace
