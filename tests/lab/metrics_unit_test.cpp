// SPDX-License-Identifier: MIT
// The metrics without sockets: which format an Accept header gets, the
// OpenMetrics writer, the listen address, and how samples of connections
// that come and go become per-side gauges, counters and the wait estimate.
#include "listen_address.h"
#include "metrics.h"
#include "metrics_format.h"

#include <cmath>
#include <gtest/gtest.h>
#include <prometheus/counter.h>
#include <prometheus/gauge.h>
#include <prometheus/registry.h>
#include <sstream>

namespace {
TEST(MetricsFormat, AcceptHeaderChoosesTheFormat) {
    struct Case {
        const char* accept;
        bool openmetrics;
    };
    const Case cases[] = {
        {nullptr, false},
        {"", false},
        {"*/*", false},
        {"text/plain", false},
        // What Prometheus 2.42 sends.
        {"application/openmetrics-text;version=1.0.0,application/openmetrics-text;version=0.0.1;"
         "q=0.75,text/plain;version=0.0.4;q=0.5,*/*;q=0.1",
         true},
        {"application/openmetrics-text", true},
        {"Application/OpenMetrics-Text; version=0.0.1", true},
        {"application/openmetrics-text; version=2.0.0", false},
        {"application/openmetrics-text;q=0.4, text/plain;q=0.5", false},
        {"text/plain;q=0.5, application/openmetrics-text;q=0.6", true},
        {"application/openmetrics-text, text/plain", false}, // a tie: the text format
        {"application/openmetrics-text;q=0", false},
        {"application/openmetrics-text;q=x", false},
        {"application/openmetrics-text;q=1.5", false},
        {"text/plain;version=0.0.5, application/openmetrics-text;q=0.1", true},
        {",,;;", false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(wants_openmetrics(c.accept), c.openmetrics) << (c.accept ? c.accept : "null");
}

TEST(MetricsFormat, OpenMetricsNamesEscapesAndEnds) {
    prometheus::Registry registry;
    auto& counter = prometheus::BuildCounter()
                        .Name("demo_bytes_total")
                        .Help("with \\ and \"quotes\"\nand a line")
                        .Register(registry);
    counter.Add({{"who", "a\"b\\c\nd"}}).Increment(12345678901.0);
    auto& gauge = prometheus::BuildGauge().Name("demo_wait_seconds").Help("w").Register(registry);
    gauge.Add({{"v", "nan"}}).Set(NAN);
    gauge.Add({{"v", "inf"}}).Set(INFINITY);
    gauge.Add({{"v", "half"}}).Set(0.5);
    std::string out;
    write_openmetrics(out, registry.Collect());
    EXPECT_NE(
        out.find("# TYPE demo_bytes counter\n# HELP demo_bytes with \\\\ and \\\"quotes\\\"\\nand "
                 "a line\ndemo_bytes_total{who=\"a\\\"b\\\\c\\nd\"} 12345678901\n"),
        std::string::npos)
        << out;
    EXPECT_NE(out.find("# TYPE demo_wait_seconds gauge\n"), std::string::npos);
    EXPECT_NE(out.find("demo_wait_seconds{v=\"nan\"} NaN\n"), std::string::npos) << out;
    EXPECT_NE(out.find("demo_wait_seconds{v=\"inf\"} +Inf\n"), std::string::npos);
    EXPECT_NE(out.find("demo_wait_seconds{v=\"half\"} 0.5\n"), std::string::npos);
    ASSERT_GE(out.size(), 6u);
    EXPECT_EQ(out.substr(out.size() - 6), "# EOF\n");
    EXPECT_EQ(out.find("# EOF"), out.size() - 6); // once, at the end
}

TEST(MetricsFormat, ListenAddresses) {
    struct Case {
        const char* text;
        const char* bound; // nullptr: refused
    };
    const Case cases[] = {
        {"127.0.0.1:9464", "127.0.0.1:9464"},
        {"0.0.0.0:0", "0.0.0.0:0"},
        {"[::1]:9464", "[::1]:9464"},
        {"[::]:65535", "[::]:65535"},
        {"127.0.0.1:65536", nullptr},
        {"127.0.0.1:-1", nullptr},
        {"127.0.0.1:", nullptr},
        {":9464", nullptr},
        {"localhost:9464", nullptr},
        {"::1:9464", nullptr},
        {"[::1]", nullptr},
        {"[::1]:", nullptr},
        {"[::1]x9464", nullptr},
        {"256.0.0.1:80", nullptr},
        {"127.0.0.1:0080x", nullptr},
        {"", nullptr},
        {nullptr, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text ? c.text : "null");
        sockaddr_storage addr;
        socklen_t len = 0;
        std::string error;
        bool ok = parse_listen_address(c.text, addr, len, error);
        EXPECT_EQ(ok, c.bound != nullptr) << error;
        if (ok) {
            EXPECT_EQ(address_text(addr), c.bound);
            EXPECT_TRUE(error.empty());
        } else {
            EXPECT_NE(error.find("such as 127.0.0.1:9464"), std::string::npos);
        }
    }
}

TEST(MetricsFormat, WaitOfASide) {
    EXPECT_EQ(metrics_wait_seconds(0, false, 0), 0); // nothing queued
    EXPECT_EQ(metrics_wait_seconds(0, true, 0), 0);
    EXPECT_TRUE(std::isnan(metrics_wait_seconds(100, false, 0))); // no rate yet
    EXPECT_EQ(metrics_wait_seconds(100, true, 0), INFINITY);      // nothing moves
    EXPECT_DOUBLE_EQ(metrics_wait_seconds(1000, true, 400), 2.5);
}

// A connection as a sample shows it.
LabSock sock(uint64_t cookie, int lport, int rport, uint32_t sendq, uint32_t recvq,
             uint64_t received, uint64_t acked, uint32_t retrans) {
    LabSock s;
    s.cookie = cookie;
    s.lport = lport;
    s.rport = rport;
    s.sendq = sendq;
    s.unsent = sendq / 2;
    s.recvq = recvq;
    s.hasinfo = true;
    s.bytes_received = received;
    s.bytes_acked = acked;
    s.retrans = retrans;
    return s;
}

double value(const std::string& body, const std::string& series) {
    std::istringstream in(body);
    for (std::string line; std::getline(in, line);)
        if (line.compare(0, series.size() + 1, series + " ") == 0)
            return strtod(line.c_str() + series.size() + 1, nullptr);
    return -1;
}

TEST(PortMetrics, SidesSumsCountersAcrossReconnectsAndTheWait) {
    PortMetrics m(5000);
    const std::string local = "{port=\"5000\",side=\"local\"}";
    const std::string remote = "{port=\"5000\",side=\"remote\"}";
    // Two server sockets (port local), one client socket to the port
    // (remote), and one connection of another port, which is not counted.
    struct Step {
        double t;
        std::vector<LabSock> socks;
        double received_local, sent_remote, retrans_local, connections_local, recvq_local,
            sendq_remote, wait_local, wait_remote;
    };
    const Step steps[] = {
        {0.0,
         {sock(1, 5000, 40001, 0, 300, 1000, 0, 1), sock(2, 5000, 40002, 0, 0, 500, 0, 0),
          sock(3, 40003, 5000, 800, 0, 0, 2000, 0), sock(9, 6000, 7000, 0, 0, 70, 70, 7)},
         1500,
         2000,
         1,
         2,
         300,
         800,
         NAN,
         NAN},
        // A second on: connection 1 read 1000 bytes (its queue still 300),
        // connection 3 had 400 acknowledged.
        {1.0,
         {sock(1, 5000, 40001, 0, 300, 2000, 0, 3), sock(2, 5000, 40002, 0, 0, 500, 0, 0),
          sock(3, 40003, 5000, 800, 0, 0, 2400, 0)},
         2500,
         2400,
         3,
         2,
         300,
         800,
         0.3,
         2.0},
        // Connection 1 is gone and a new one on the same ports starts from
        // zero: the counters keep what the old one counted. Nothing was read
        // or acknowledged in this second; the rate is the median of the
        // last samples' rates (1000 and 0 for the local side).
        {2.0,
         {sock(4, 5000, 40001, 0, 100, 100, 0, 0), sock(2, 5000, 40002, 0, 0, 500, 0, 0),
          sock(3, 40003, 5000, 800, 0, 0, 2400, 0)},
         2600,
         2400,
         3,
         2,
         100,
         800,
         0.2,
         4.0},
        // Still nothing moves: queued bytes wait without end.
        {3.0,
         {sock(4, 5000, 40001, 0, 100, 100, 0, 0), sock(2, 5000, 40002, 0, 0, 500, 0, 0),
          sock(3, 40003, 5000, 800, 0, 0, 2400, 0)},
         2600,
         2400,
         3,
         2,
         100,
         800,
         INFINITY,
         INFINITY},
        // Everything gone.
        {4.0, {}, 2600, 2400, 3, 0, 0, 0, 0, 0},
    };
    for (const Step& s : steps) {
        SCOPED_TRACE("t " + std::to_string(s.t));
        m.update(s.t, s.socks);
        EXPECT_EQ(m.sampled_at(), s.t);
        for (bool om : {false, true}) {
            const std::string body = m.render(om);
            EXPECT_EQ(value(body, "pacelag_received_bytes_total" + local), s.received_local);
            EXPECT_EQ(value(body, "pacelag_sent_bytes_total" + remote), s.sent_remote);
            EXPECT_EQ(value(body, "pacelag_retransmitted_segments_total" + local), s.retrans_local);
            EXPECT_EQ(value(body, "pacelag_connections" + local), s.connections_local);
            EXPECT_EQ(value(body, "pacelag_connections" + remote), s.socks.empty() ? 0 : 1);
            EXPECT_EQ(value(body, "pacelag_receive_queue_bytes" + local), s.recvq_local);
            EXPECT_EQ(value(body, "pacelag_send_queue_bytes" + remote), s.sendq_remote);
            EXPECT_EQ(value(body, "pacelag_send_queue_unsent_bytes" + remote), s.sendq_remote / 2);
            for (const auto& [series, want] :
                 {std::make_pair(local, s.wait_local), std::make_pair(remote, s.wait_remote)}) {
                double got = value(body, "pacelag_estimated_wait_seconds" + series);
                if (std::isnan(want)) {
                    EXPECT_TRUE(std::isnan(got)) << series << " " << got;
                } else {
                    EXPECT_DOUBLE_EQ(got, want) << series;
                }
            }
        }
    }
    // A sample stamped before the newest one does not move time back.
    m.update(3.5, {});
    EXPECT_EQ(m.sampled_at(), 4.0);
}
// A sample that lacks a live connection (the watch loop's lookups know only
// the connections of its last query; a scrape's own query may have seen a
// newer one) must not make its bytes count twice when it shows again.
TEST(PortMetrics, AConnectionMissingFromOneSampleCountsOnce) {
    PortMetrics m(5000);
    const std::string series = "pacelag_received_bytes_total{port=\"5000\",side=\"local\"}";
    m.update(0.0, {sock(7, 5000, 40007, 0, 0, 1000, 0, 0)});
    m.update(0.5, {});
    EXPECT_EQ(value(m.render(false), "pacelag_connections{port=\"5000\",side=\"local\"}"), 0);
    m.update(1.0, {sock(7, 5000, 40007, 0, 0, 1500, 0, 0)});
    EXPECT_EQ(value(m.render(false), series), 1500);
}
} // namespace
