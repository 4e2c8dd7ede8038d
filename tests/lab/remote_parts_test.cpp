// SPDX-License-Identifier: MIT
// The parts of a two-machine run that need no second machine: the clock
// offset estimate, the JSON stream both ways, the ssh command line, and the
// merge of local and remote samples into one timeline.
#include "clockoffset.h"
#include "merge.h"
#include "ssh.h"
#include "stream.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <cmath>

TEST(ClockOffset, KeepsTheExchangeWithTheSmallestRoundTrip) {
    // The other clock is 7 s ahead. Each exchange: one-way delays out and
    // back (s) and time spent answering there.
    struct Case {
        double out, back, there;
    };
    const double offset = 7.0;
    const Case cases[] = {
        {0.040, 0.010, 0.001}, {0.002, 0.003, 0.0005}, {0.300, 0.001, 0.0}, {0.010, 0.010, 2.0}};
    ClockOffset c;
    EXPECT_FALSE(c.known());
    EXPECT_EQ(c.uncertainty(), 0);
    double t = 1000;
    for (const Case& k : cases) {
        ClockExchange e;
        e.t1 = t;
        e.t2 = t + k.out + offset;
        e.t3 = e.t2 + k.there;
        e.t4 = t + k.out + k.there + k.back;
        EXPECT_TRUE(c.add(e));
        t += 2;
    }
    // The second exchange has the smallest trip (5 ms): its asymmetry of
    // 1 ms makes it 0.5 ms off, within its half trip of 2.5 ms. The fourth's
    // long stay there is not part of its trip (20 ms).
    EXPECT_EQ(c.exchanges(), 4);
    EXPECT_NEAR(c.offset(), offset - 0.0005, 1e-9);
    EXPECT_NEAR(c.uncertainty(), 0.0025, 1e-9);
    EXPECT_NEAR(c.to_local(1007.5), 1000.5005, 1e-9);
    EXPECT_LE(std::fabs(c.offset() - offset), c.uncertainty());

    // Impossible exchanges are refused and change nothing.
    const ClockExchange bad[] = {
        {10, 17, 16.9, 10.1}, {10, 17, 17, 9.9}, {NAN, 17, 17, 10.1}, {10, 17, INFINITY, 10.1}};
    for (const ClockExchange& e : bad) EXPECT_FALSE(c.add(e));
    EXPECT_EQ(c.exchanges(), 4);
    EXPECT_NEAR(c.offset(), offset - 0.0005, 1e-9);

    // Behind instead of ahead.
    ClockOffset behind;
    behind.add({100, 90.001, 90.001, 100.002});
    EXPECT_NEAR(behind.offset(), -10, 1e-9);
}

TEST(Stream, SamplesAndLinesRoundTrip) {
    LabSock s;
    s.family = AF_INET6;
    inet_pton(AF_INET6, "::ffff:10.0.0.1", s.local);
    inet_pton(AF_INET6, "2001:db8::7", s.remote);
    s.lport = 5000;
    s.rport = 40000;
    s.state = 1;
    s.cookie = 18446744073709551615ull; // more than a double holds
    s.sendq = 10;
    s.recvq = 4294967295u;
    s.hasinfo = true;
    s.unsent = 3;
    s.cwnd = 10;
    s.rtt_us = 1234;
    s.retrans = 2;
    s.bytes_received = 9007199254740993ull;
    s.hasmem = true;
    s.sndbuf = 4608;
    s.rcvbuf = 4096;
    const std::string text = stream_sample(1796659977.123456, s);
    ASSERT_EQ(text.back(), '\n');
    ASSERT_EQ(text.find('\n'), text.size() - 1) << "one object per line";
    StreamRecord r;
    std::string err;
    ASSERT_TRUE(stream_parse(text.substr(0, text.size() - 1), r, err)) << err;
    EXPECT_EQ(r.type, "sample");
    EXPECT_NEAR(r.t, 1796659977.123456, 1e-6);
    ASSERT_TRUE(r.has_sock);
    EXPECT_EQ(r.sock.cookie, s.cookie);
    EXPECT_EQ(r.sock.bytes_received, s.bytes_received);
    EXPECT_EQ(r.sock.recvq, s.recvq);
    EXPECT_EQ(r.sock.unsent, 3u);
    EXPECT_EQ(r.sock.rtt_us, 1234u);
    EXPECT_EQ(r.sock.lport, 5000);
    EXPECT_EQ(r.sock.rport, 40000);
    EXPECT_EQ(memcmp(r.sock.local, s.local, 16), 0);
    EXPECT_EQ(memcmp(r.sock.remote, s.remote, 16), 0);
    EXPECT_TRUE(r.sock.hasmem);
    EXPECT_EQ(r.sock.rcvbuf, 4096u);

    ASSERT_TRUE(stream_parse("{\"type\":\"sample\",\"t\":5}", r, err)) << err;
    EXPECT_FALSE(r.has_sock) << "a sample without a connection";

    const std::string odd = "quote \" back\\slash\ttab \x01 end";
    std::string line = stream_line(12.5, "server", odd);
    ASSERT_TRUE(stream_parse(line.substr(0, line.size() - 1), r, err)) << err;
    EXPECT_EQ(r.type, "line");
    EXPECT_EQ(r.side, "server");
    EXPECT_EQ(r.text, odd);

    // What a broken or foreign line looks like is refused with a reason.
    const char* refused[] = {
        "",
        "Welcome to HOST",
        "{\"t\":1}",
        "{\"type\":\"line\",\"side\":\"server\",\"text\":\"x\"}",
        "{\"type\":\"sample\",\"t\":-1}",
        "{\"type\":\"sample\",\"t\":1,\"state\":\"ESTAB\",\"local\":\"1.2.3.4:5\"}",
        "{\"type\":\"sample\",\"t\":1,\"state\":\"ESTAB\",\"local\":\"1.2.3.4:5\",\"remote\":"
        "\"1.2.3.4:99999\",\"cookie\":\"1\",\"sendq\":0,\"recvq\":0}",
        "{\"type\":\"sample\",\"t\":1,\"state\":\"ESTAB\",\"local\":\"1.2.3.4:5\",\"remote\":"
        "\"1.2.3.4:6\",\"cookie\":\"1\",\"sendq\":-1,\"recvq\":0}",
        "{\"type\":\"line\",\"t\":1,\"side\":\"server\"}",
        "{\"type\":\"hello\"} trailing",
    };
    for (const char* bad : refused) {
        err.clear();
        EXPECT_FALSE(stream_parse(bad, r, err)) << bad;
        EXPECT_FALSE(err.empty()) << bad;
    }
}

TEST(Ssh, CommandLineQuotingAndReasons) {
    struct Split {
        const char* text;
        std::vector<std::string> words;
    } splits[] = {
        {"ssh", {"ssh"}},
        {"  ssh  -p 2222 ", {"ssh", "-p", "2222"}},
        {"ssh -i '/keys/my key' -o \"ProxyJump=a b\"",
         {"ssh", "-i", "/keys/my key", "-o", "ProxyJump=a b"}},
        {"ssh -i my\\ key ''", {"ssh", "-i", "my key", ""}},
    };
    for (const Split& s : splits) {
        std::vector<std::string> words;
        std::string err;
        EXPECT_TRUE(split_command(s.text, words, err)) << s.text;
        EXPECT_EQ(words, s.words) << s.text;
    }
    std::vector<std::string> words;
    std::string err;
    EXPECT_FALSE(split_command("ssh -i 'open", words, err));
    EXPECT_FALSE(split_command("   ", words, err));

    EXPECT_EQ(shell_quote("/usr/bin/pacelag-lab"), "/usr/bin/pacelag-lab");
    EXPECT_EQ(shell_quote("it's $HOME; rm"), "'it'\\''s $HOME; rm'");
    EXPECT_EQ(shell_quote(""), "''");

    // Batch mode before the user's words (ssh keeps an option's first
    // value), timeouts after them, the remote command as one quoted word.
    auto argv = ssh_argv({"ssh", "-o", "BatchMode=no", "-o", "ConnectTimeout=3"}, "me@host",
                         {"/opt/my lab/pacelag-lab", "agent", "-port", "0"});
    auto at = [&](const std::string& w) {
        return std::find(argv.begin(), argv.end(), w) - argv.begin();
    };
    EXPECT_EQ(argv[0], "ssh");
    EXPECT_LT(at("BatchMode=yes"), at("BatchMode=no"));
    EXPECT_LT(at("ConnectTimeout=3"), at("ConnectTimeout=10"));
    EXPECT_EQ(argv[argv.size() - 3], "--");
    EXPECT_EQ(argv[argv.size() - 2], "me@host");
    EXPECT_EQ(argv.back(), "'/opt/my lab/pacelag-lab' agent -port 0");

    EXPECT_EQ(ssh_host("me@10.0.0.1"), "10.0.0.1");
    EXPECT_EQ(ssh_host("a@b@[2001:db8::1]"), "2001:db8::1");
    EXPECT_EQ(ssh_host("host"), "host");
    EXPECT_EQ(ssh_reason("Warning: x\nroot@h: Permission denied (publickey).\r\n\n"),
              "root@h: Permission denied (publickey).");
    EXPECT_EQ(ssh_reason(""), "no reason given");
}

TEST(TimelineMerge, EachRowTakesTheNearestRemoteSample) {
    TimelineMerge merge(1.0, 0.05);
    std::vector<LabSample> rows;
    std::vector<uint32_t> recvq; // the server's queue of each row, or -1 for none
    auto emit = [&](const LabSample& s) {
        rows.push_back(s);
        recvq.push_back(s.server ? s.server->recvq : UINT32_MAX);
    };
    LabSock client, a, b;
    client.sendq = 7;
    a.recvq = 100;
    b.recvq = 200;
    merge.add_local(1.000, &client, -1);
    merge.add_local(1.010, &client, -1);
    merge.flush(1.011, false, emit);
    EXPECT_TRUE(rows.empty()) << "nothing from the remote side yet: the rows wait";
    merge.add_remote(0.998, &a);
    merge.add_remote(1.009, &b);
    merge.flush(1.012, false, emit);
    ASSERT_EQ(rows.size(), 1u) << "the second row waits for a remote sample after it";
    EXPECT_EQ(recvq[0], 100u);
    EXPECT_EQ(rows[0].client->sendq, 7u);
    merge.add_local(1.020, nullptr, 5);
    merge.add_remote(1.021, nullptr); // the server's socket is gone
    merge.add_remote(1.030, &a);      // and the last word for a while
    merge.add_local(1.500, &client, -1);
    merge.flush(1.03, false, emit);
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(recvq[1], 200u);
    EXPECT_EQ(recvq[2], UINT32_MAX);
    EXPECT_EQ(rows[2].client, nullptr);
    EXPECT_EQ(rows[2].link_backlog, 5);
    // A remote side that fell silent: the row goes out after the hold
    // without a server, since the nearest sample is too far away.
    merge.flush(2.4, false, emit);
    EXPECT_EQ(rows.size(), 3u);
    merge.flush(2.6, false, emit);
    ASSERT_EQ(rows.size(), 4u);
    EXPECT_EQ(recvq[3], UINT32_MAX);
    // At the end everything goes out; a remote time that went back a
    // little (a refined offset) keeps the order.
    merge.add_remote(3.0, &a);
    merge.add_remote(2.999, &b);
    merge.add_local(3.0, &client, -1);
    merge.flush(3.0, true, emit);
    ASSERT_EQ(rows.size(), 5u);
    EXPECT_EQ(merge.pending(), 0u);
    for (size_t i = 1; i < rows.size(); ++i) EXPECT_GT(rows[i].t, rows[i - 1].t);
}
