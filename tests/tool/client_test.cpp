// SPDX-License-Identifier: MIT
// The pacelag client over loopback: the bytes on the wire, the progress marks
// against fast and stalled readers, connection failures and stopping.
#include "tool_helpers.h"

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <gtest/gtest.h>
#include <sys/socket.h>

namespace {
std::vector<std::string> clientargs(int port, int rate, int padlen, int buflen = 0) {
    std::vector<std::string> a = {"-mode", "client", "-host", "127.0.0.1"};
    a.insert(a.end(), {"-port", std::to_string(port), "-rate", std::to_string(rate)});
    a.insert(a.end(), {"-padlen", std::to_string(padlen)});
    if (buflen > 0) a.insert(a.end(), {"-buflen", std::to_string(buflen)});
    return a;
}

// A client against a listener of the test's own (receive buffer `buflen` too)
// and the connection accepted from it.
struct Link {
    const long long started = time(nullptr);
    const int padlen;
    int port = 0;
    Fd listener;
    Tool client;
    Fd conn;
    Link(int rate, int padlen, int buflen = 0)
        : padlen(padlen), listener(listenlocal(port, 16, buflen)),
          client(clientargs(port, rate, padlen, buflen)),
          conn(acceptwithin(listener.fd, kShortWaitMs)) {}
    // Stops the client, then returns the rest of what it sent.
    std::string stop(int timeoutms = kShortWaitMs) {
        client.signal(SIGTERM);
        EXPECT_EQ(client.waitexit(timeoutms), 0) << client.output();
        return readsome(conn.fd, SIZE_MAX, 200);
    }
    // Expects whole messages back to back, stamped with the time; only where
    // `cut` allows may a stop have cut the last one short. Returns how many.
    size_t expectwhole(const std::string& wire, bool cut = false) {
        const size_t len = static_cast<size_t>(padlen) + 10;
        EXPECT_TRUE(cut || wire.size() % len == 0) << "a message was cut short";
        for (size_t at = 0; at + len <= wire.size(); at += len) {
            std::string m = wire.substr(at, len);
            long long stamp = atoll(m.c_str());
            if (m != message(stamp, padlen) || stamp < started || stamp > time(nullptr)) {
                ADD_FAILURE() << "bad message at byte " << at << ": " << m.substr(0, 20);
                break;
            }
        }
        return wire.size() / len;
    }
};

// The marks, which are the whole output: one line.
std::string marks(const std::string& out) {
    EXPECT_EQ(out.find('\n'), out.size() - 1) << out;
    return out.substr(0, out.find('\n'));
}

// Against a reader that keeps up every message goes out whole, stamped with
// the time and padded: one "#" for every cadence-th message, the first one on.
TEST(Client, SendsWholeMessagesAndMarksThemAgainstAFastReader) {
    struct Case {
        int rate, padlen, cadence;
    };
    for (const Case& c : {Case{20, 4000, 1}, Case{48, 0, 2}, Case{100, 200, 4}}) {
        SCOPED_TRACE("rate " + std::to_string(c.rate) + " padlen " + std::to_string(c.padlen));
        Link link(c.rate, c.padlen);
        ASSERT_GE(link.conn.fd, 0);
        ASSERT_TRUE(link.client.waitfor("#", kShortWaitMs, 3));
        const int sent = static_cast<int>(link.expectwhole(link.stop()));
        std::string m = marks(link.client.output());
        EXPECT_EQ(countof(m, "#"), (sent + c.cadence - 1) / c.cadence) << m;
        EXPECT_EQ(countof(m, "."), 0) << m;
    }
}

// A stop that arrives while the client waits for its next slot ends the pass
// unsent, and that is no drop: the line of marks holds "#" only, wherever in
// the interval the stop lands.
TEST(Client, AStopIsNotMarkedAsADrop) {
    for (int delay : {0, 23, 51, 77}) {
        SCOPED_TRACE("stop " + std::to_string(delay) + " ms after the third mark");
        Link link(10, 200);
        ASSERT_GE(link.conn.fd, 0);
        ASSERT_TRUE(link.client.waitfor("#", kShortWaitMs, 3));
        sleepms(delay);
        link.expectwhole(link.stop());
        const std::string m = marks(link.client.output());
        EXPECT_EQ(m.find_first_not_of('#'), std::string::npos) << m;
    }
}

// A reader that never reads, small buffers: once they are full, messages are
// dropped whole and the marks turn to "." while the client keeps going. A
// message that went out in part is finished with back-off sleeps; a stop that
// cuts it short shows as a final ".".
TEST(Client, StalledReaderTurnsMarksToDotsAndAStopCutsAPartlySentMessage) {
    struct Case {
        int rate, padlen;
        bool partial; // messages larger than the buffers go out in part
    };
    for (const Case& c : {Case{100, 200, false}, Case{10, 4000, true}}) {
        SCOPED_TRACE("padlen " + std::to_string(c.padlen));
        Link link(c.rate, c.padlen, 2048);
        ASSERT_GE(link.conn.fd, 0);
        if (c.partial)
            sleepms(1500);
        else
            ASSERT_TRUE(link.client.waitfor(".", kLongWaitMs, 3)) << link.client.output();
        EXPECT_TRUE(link.client.running());
        std::string wire = link.stop();
        const std::string m = marks(link.client.output());
        EXPECT_EQ(m[0], '#');
        link.expectwhole(wire, true);
        if (!c.partial) continue;
        if (wire.size() % 4010 == 0) GTEST_SKIP() << "no partial message this time: " << m;
        EXPECT_EQ(m.back(), '.') << m;
    }
}

TEST(Client, ConnectionRefused) {
    int port = freeport();
    ASSERT_GT(port, 0);
    for (const char* host : {"127.0.0.1", "localhost"}) {
        SCOPED_TRACE(host);
        std::vector<std::string> args = clientargs(port, 10, 200);
        args[3] = host;
        int status = -3;
        std::string out = runtool(args, status);
        EXPECT_EQ(status, 1);
        EXPECT_EQ(out, std::string("[ERROR] connect failed to ") + host + " on port " +
                           std::to_string(port) + ": Connection refused\n\n");
    }
}

// The server closes: the next sends fail with a broken pipe, reported, and the
// process ends with the failure status rather than by SIGPIPE.
TEST(Client, ServerGoneIsABrokenPipe) {
    Link link(100, 50);
    ASSERT_GE(link.conn.fd, 0);
    ASSERT_EQ(readsome(link.conn.fd, 60, kShortWaitMs).size(), 60u);
    // The FIN goes first, so the reset that the next message provokes finds
    // the client's side already half closed.
    shutdown(link.conn.fd, SHUT_WR);
    sleepms(30);
    link.conn.reset();
    EXPECT_EQ(link.client.waitexit(), 1) << link.client.output();
    const std::string& out = link.client.output();
    const std::string report = "\n[ERROR] send failed: Broken pipe\n\n";
    EXPECT_EQ(out.substr(out.size() - std::min(out.size(), report.size())), report) << out;
}

// True once the kernel lists a connection attempt to `port` still waiting
// for its answer (SYN_SENT), i.e. a connect is blocked.
bool connectpending(int port) {
    char want[8];
    snprintf(want, sizeof want, ":%04X", port);
    std::ifstream table("/proc/net/tcp");
    std::string line;
    while (std::getline(table, line)) {
        char remote[64], state[8]; // sl local_address rem_address st ...
        if (sscanf(line.c_str(), "%*s %*s %63s %7s", remote, state) == 2 &&
            std::string(remote).find(want) != std::string::npos && std::string(state) == "02")
            return true;
    }
    return false;
}

// A stop during a connect that the system would keep retrying for minutes
// ends the client at once, and as a stop, not a failure.
TEST(Client, StopInterruptsABlockingConnect) {
    int port = 0;
    Fd listener(listenlocal(port, 0));
    ASSERT_GE(listener.fd, 0);
    Fd filler(connectto("127.0.0.1", port)); // the accept queue is now full
    ASSERT_GE(filler.fd, 0);
    Tool client(clientargs(port, 10, 200));
    bool pending = false;
    for (int i = 0; i < 200 && !(pending = connectpending(port)); ++i) sleepms(20);
    ASSERT_TRUE(pending) << "the client's connect never blocked";
    client.signal(SIGTERM);
    EXPECT_EQ(client.waitexit(), 0) << client.output();
    EXPECT_EQ(client.output(), "[ERROR] connect failed to 127.0.0.1 on port " +
                                   std::to_string(port) + ": Interrupted system call\n\n");
}

// At the highest rate the wait before each message is spent polling the
// clock; a stop must still be seen there at once.
TEST(Client, StopsPromptlyAtTheHighestRate) {
    Link link(100000, 20);
    ASSERT_GE(link.conn.fd, 0);
    EXPECT_GT(readsome(link.conn.fd, SIZE_MAX, 1000, 300).size(), 0u);
    link.stop(2000);
    marks(link.client.output());
}

// A client stopped for longer than the catch-up bound (a SIGSTOP, a suspended
// machine) goes on at its rate when it continues: the slots of the stop are
// lost, not sent in one burst, and the messages stay whole.
TEST(Client, AfterALongStopGoesOnWithoutABurst) {
    Link link(500, 0);
    ASSERT_GE(link.conn.fd, 0);
    std::string wire = readsome(link.conn.fd, SIZE_MAX, 1000, 300);
    EXPECT_GT(wire.size(), 0u);
    link.client.signal(SIGSTOP);
    wire += readsome(link.conn.fd, SIZE_MAX, 100, 300); // what was on its way
    sleepms(2000);                                      // 1000 slots at 500/s
    link.client.signal(SIGCONT);
    const std::string after = readsome(link.conn.fd, SIZE_MAX, 1000, 200);
    // 200 ms at 500/s is 100 messages, a burst at most 51 more; the 1000
    // slots of the stop would come at once.
    EXPECT_LT(after.size() / 10, 500u);
    wire += after + link.stop();
    link.expectwhole(wire, true);
}
} // namespace
