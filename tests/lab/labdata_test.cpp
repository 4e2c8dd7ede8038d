// SPDX-License-Identifier: MIT
// The lab's data handling without processes: CSV and JSON text, splitting
// pacelag's output into events, option values, the consumed-rate window and
// the files a recorder writes.
#include "estimate.h"
#include "lab_helpers.h"
#include "labtext.h"
#include "options.h"
#include "output_lines.h"
#include "record.h"
#include "rundir.h"
#include "run.h"

#include "pacelag/util.h"

#include <gtest/gtest.h>

TEST(LabText, CsvFieldsAreQuotedOnlyWhenNeeded) {
    const struct {
        const char* in;
        const char* out;
    } cases[] = {
        {"3", "3"},
        {"", ""},
        {"Waiting for connection..", "Waiting for connection.."},
        {"[WARNING] Receive failure: a, b", "\"[WARNING] Receive failure: a, b\""},
        {"say \"hi\"", "\"say \"\"hi\"\"\""},
        {"two\nlines", "\"two\nlines\""},
        {"cr\r", "\"cr\r\""},
    };
    for (const auto& c : cases) {
        std::string out;
        csv_field(out, c.in);
        EXPECT_EQ(out, c.out) << c.in;
    }
}

TEST(LabText, JsonStringsEscapeQuotesBackslashesAndControls) {
    const struct {
        const char* in;
        const char* out;
    } cases[] = {
        {"6.1.0-18-amd64", "\"6.1.0-18-amd64\""}, {"a\"b\\c", "\"a\\\"b\\\\c\""},
        {"tab\tnl\n", "\"tab\\tnl\\n\""},         {"\x01", "\"\\u0001\""},
        {"caf\xc3\xa9", "\"caf\xc3\xa9\""},
    };
    for (const auto& c : cases) {
        std::string out;
        json_string(out, c.in);
        EXPECT_EQ(out, c.out);
    }
    JsonObject o;
    EXPECT_EQ(o.finish(), "{}\n");
    o.integer("a", -3);
    o.number("b", 2.0 / 3.0, 2);
    o.number("inf", 1.0 / 0.0, 1);
    o.null("c");
    o.text("d", "x\"");
    o.boolean("e", true);
    EXPECT_EQ(o.finish(),
              "{\"a\":-3,\"b\":0.67,\"inf\":null,\"c\":null,\"d\":\"x\\\"\",\"e\":true}\n");
}

TEST(LabText, OutputSplitsIntoMarksAndLines) {
    const struct {
        bool marks;
        std::vector<const char*> chunks;
        std::vector<std::string> rows;
    } cases[] = {
        // The client's marks come without line ends, one or many per read.
        {true, {"#", "#.", "#\n"}, {"#", "#", ".", "#"}},
        // An error after marks starts on a line of its own.
        {true,
         {"##\n[ERROR] send failed: Broken pipe\n\n"},
         {"#", "#", "[ERROR] send failed: Broken pipe"}},
        // A line split across reads is one row; '#' inside it is no mark.
        {true, {"[ERROR] conn", "ect failed # x\n"}, {"[ERROR] connect failed # x"}},
        // The server's lines are rows; '#' or '.' mean nothing special.
        {false,
         {"Waiting for connection..\n3\n", "1", "2\r\n"},
         {"Waiting for connection..", "3", "12"}},
        // An unfinished line comes out at the end.
        {false, {"[WARNING] Receive failure: x"}, {"[WARNING] Receive failure: x"}},
    };
    for (const auto& c : cases) {
        LineSplitter split(c.marks);
        std::vector<std::string> rows;
        auto take = [&](const std::string& r) { rows.push_back(r); };
        for (const char* chunk : c.chunks) split.feed(chunk, strlen(chunk), take);
        split.finish(take);
        EXPECT_EQ(rows, c.rows);
    }
}

TEST(LabText, BitRatesAndNumbers) {
    const struct {
        const char* in;
        int64_t bps;
    } rates[] = {
        {"1mbit", 1000000},
        {"100kbit", 100000},
        {"1.5Mbit", 1500000},
        {"64000", 64000},
        {"2g", 2000000000},
        {"500bit", 500},
        {"0", -1},
        {"", -1},
        {"fast", -1},
        {"1mbps", -1},
        {"-5kbit", -1},
        {"1e13", -1},
    };
    for (const auto& r : rates) EXPECT_EQ(parse_bitrate(r.in), r.bps) << r.in;

    int64_t v = 0;
    EXPECT_TRUE(parse_int("4000", 0, 4000, v));
    EXPECT_EQ(v, 4000);
    for (const char* bad : {"4001", "-1", "10x", "", "99999999999999999999"})
        EXPECT_FALSE(parse_int(bad, 0, 4000, v)) << bad;
}

// Options as a user types them, through the same table builder main uses.
TEST(LabOptions, RunAndSweepOptions) {
    const struct {
        std::vector<const char*> argv;
        bool sweep;
        bool ok;
        int client_buflen, server_buflen;
        const char* error_part;
    } cases[] = {
        {{"run", "-buflen", "2048"}, false, true, 2048, 2048, ""},
        // The specific buffer sizes win wherever -buflen stands.
        {{"run", "-client-buflen", "4096", "-BUFLEN", "2048"}, false, true, 4096, 2048, ""},
        {{"run", "-server-rate", "0"}, false, false, 0, 0, "-server-rate"},
        {{"run", "-padlen"}, false, false, 0, 0, "needs a value"},
        {{"run", "-link-rate", "fast"}, false, false, 0, 0, "-link-rate"},
        {{"run", "-speed", "3"}, false, false, 0, 0, "unknown option -speed"},
        {{"run", "-vary", "buflen"}, false, false, 0, 0, "unknown option -vary"},
        {{"sweep", "-vary", "buflen", "-values", "2048, 8192,"}, true, true, 0, 0, ""},
        {{"sweep", "-vary", "delay", "-values", "1"}, true, false, 0, 0, "-vary must be"},
        {{"sweep", "-vary", "padlen", "-values", "100,5000"}, true, false, 0, 0, "'5000'"},
        {{"sweep", "-vary", "padlen"}, true, false, 0, 0, "-values"},
    };
    for (const auto& c : cases) {
        std::vector<char*> argv;
        for (const char* a : c.argv) argv.push_back(const_cast<char*>(a));
        aaContext* args = args2aa(static_cast<int>(argv.size()), argv.data());
        ASSERT_NE(args, nullptr);
        LabConfig config;
        std::string vary, error;
        std::vector<std::string> values;
        bool ok = read_run_options(args, c.sweep, config, vary, values, error);
        aafree(args);
        EXPECT_EQ(ok, c.ok) << c.argv[1] << ": " << error;
        if (ok && !c.sweep) {
            EXPECT_EQ(config.client_buflen, c.client_buflen);
            EXPECT_EQ(config.server_buflen, c.server_buflen);
        }
        if (ok && c.sweep) {
            EXPECT_EQ(values, (std::vector<std::string>{"2048", "8192"}));
        }
        if (!ok) {
            EXPECT_NE(error.find(c.error_part), std::string::npos) << error;
        }
    }
    EXPECT_EQ(sweep_dirname("link-rate", "1.5mbit"), "link-rate-1.5mbit");
    EXPECT_EQ(sweep_dirname("buflen", "../x y"), "buflen-.._x_y");
}

TEST(LabEstimate, ConsumedRateOverTheLastSecond) {
    struct Step {
        double t;
        uint64_t cookie, received;
        uint32_t recvq;
    };
    // A server that reads 210 bytes every half second (a quarter second off
    // the sampling grid) while 840 arrive each second: 100 samples a second.
    auto steady = [](double from, double to, uint64_t cookie, bool reading) {
        std::vector<Step> steps;
        for (double t = from; t <= to + 1e-9; t += 0.01) {
            uint64_t received = static_cast<uint64_t>(t * 840);
            uint64_t read = reading ? static_cast<uint64_t>(t * 2 + 0.5) * 210 : 0;
            if (read > received) read = received;
            steps.push_back({t, cookie, received, static_cast<uint32_t>(received - read)});
        }
        return steps;
    };
    const struct {
        const char* name;
        std::vector<Step> steps;
        bool known;
        double bps;
    } cases[] = {
        {"under a second of history", steady(0, 0.95, 1, true), false, 0},
        {"a reading server", steady(0, 3.0, 1, true), true, 420},
        {"a server that stopped reading", steady(0, 3.0, 1, false), true, 0},
        // Reads at every half second, seen by the sample at that instant;
        // the one at 3 s comes a little late, so that sample's window (from
        // 2 s, just after a read) holds one read instead of two.
        {"a late read on the window's edge",
         [] {
             std::vector<Step> steps;
             for (int i = 0; i <= 300; ++i) {
                 uint64_t reads = static_cast<uint64_t>(i / 50) - (i == 300 ? 1 : 0);
                 steps.push_back({i / 100.0, 1, 3000, static_cast<uint32_t>(3000 - reads * 210)});
             }
             return steps;
         }(),
         true, 420},
        {"a new connection starts afresh",
         [&] {
             auto a = steady(0, 3.0, 1, true);
             auto b = steady(3.01, 3.5, 2, true);
             a.insert(a.end(), b.begin(), b.end());
             return a;
         }(),
         false, 0},
    };
    for (const auto& c : cases) {
        ConsumedRate rate;
        for (const Step& s : c.steps) rate.add(s.t, s.cookie, s.received, s.recvq);
        double bps = -1;
        EXPECT_EQ(rate.rate(bps), c.known) << c.name;
        if (c.known) {
            EXPECT_NEAR(bps, c.bps, 1) << c.name;
        }
    }
    ConsumedRate rate;
    for (const Step& s : steady(0, 2, 1, true)) rate.add(s.t, s.cookie, s.received, s.recvq);
    rate.lost();
    double bps = 0;
    EXPECT_FALSE(rate.rate(bps)) << "a vanished socket leaves no rate behind";

    const struct {
        uint64_t queued;
        bool haverate;
        double bps;
        bool ok;
        double ms;
    } delays[] = {
        {4200, true, 420, true, 10000}, {0, true, 420, true, 0},    {4200, true, 0, false, 0},
        {4200, false, 420, false, 0},   {1000, true, 1e6, true, 1},
    };
    for (const auto& d : delays) {
        double ms = -1;
        EXPECT_EQ(estimate_delay_ms(d.queued, d.haverate, d.bps, ms), d.ok);
        if (d.ok) {
            EXPECT_DOUBLE_EQ(ms, d.ms);
        }
    }
    EXPECT_DOUBLE_EQ(achieved_rate(41, 0.5, 10.5, 1), 4.0);
    EXPECT_DOUBLE_EQ(achieved_rate(11, 1, 11, 4), 4.0);
    EXPECT_LT(achieved_rate(1, 1, 1, 1), 0);
    EXPECT_EQ(print_cadence(47), 1);
    EXPECT_EQ(print_cadence(100), 4);
}

TEST(LabRecord, FilesHoldWhatWasRecorded) {
    TempDir dir;
    ASSERT_FALSE(dir.path().empty());
    LabConfig config;
    config.client_rate = 4;
    config.server_rate = 2;
    config.client_buflen = config.server_buflen = 2048;
    config.seconds = 3;
    {
        Recorder rec;
        ASSERT_EQ(rec.open(dir.path()), 0);
        LabSock client, server;
        client.sendq = 1000;
        client.unsent = 400;
        client.hasinfo = true;
        client.cwnd = 10;
        client.rtt_us = 1234;
        server.recvq = 680;
        server.hasinfo = true;
        server.cookie = 7;
        rec.sample({0.0, nullptr, nullptr, -1});
        for (int i = 0; i <= 100; ++i) {
            // 420 bytes read per second.
            server.bytes_received = 680 + static_cast<uint64_t>(i) * 42 / 10;
            rec.sample({1.0 + i * 0.01, &client, &server, -1});
        }
        for (double t : {0.25, 0.5, 0.75}) rec.event(t, "client", "#");
        rec.event(1.0, "client", ".");
        rec.event(1.1, "server", "7");
        rec.event(1.2, "server", "[WARNING] Receive failure: a, \"b\"");
        rec.stopping();
        rec.event(1.3, "client", "."); // cut short by the stop: not a drop
        RunFacts facts;
        facts.emulation = "loopback";
        facts.pacelag_version = "1.0.0";
        facts.kernel = "6.1.0";
        facts.duration = 3.014;
        ASSERT_EQ(rec.finish(config, facts), 0);
    }
    auto timeline = read_csv(dir.path() + "/timeline.csv");
    ASSERT_EQ(timeline.size(), 103u);
    std::string header;
    for (int c = 0; c < kTimelineColumnCount; ++c)
        header += std::string(c ? "," : "") + timeline_column_name(c);
    EXPECT_EQ(header, "t,client_sendq,client_unsent,inflight,link_backlog,server_recvq,cwnd,rtt_ms,"
                      "consumed_bps,est_delay_ms,server_received");
    EXPECT_EQ(slurp(dir.path() + "/" + kTimelineFile).substr(0, header.size() + 17),
              header + "\n0.000,,,,,,,,,,\n");
    // (1000 + 680) bytes queued at 420 bytes a second: 4 s.
    EXPECT_EQ(timeline.back(), (std::vector<std::string>{"2.000", "1000", "400", "600", "", "680",
                                                         "10", "1.234", "420", "4000.0", "1100"}));
    EXPECT_EQ(timeline[2][8], "") << "no rate before a second of history";

    auto events = read_csv(dir.path() + "/events.csv");
    ASSERT_EQ(events.size(), 8u);
    EXPECT_EQ(events[0], (std::vector<std::string>{"t", "side", "line"}));
    EXPECT_EQ(events[6],
              (std::vector<std::string>{"1.200", "server", "[WARNING] Receive failure: a, \"b\""}));

    auto summary = read_flat_json(slurp(dir.path() + "/summary.json"));
    const char* order[] = {summary_key::format_version,
                           summary_key::server_rate,
                           summary_key::client_rate,
                           summary_key::padlen,
                           summary_key::client_buflen,
                           summary_key::server_buflen,
                           summary_key::link_rate_bps,
                           summary_key::delay_ms,
                           summary_key::seconds,
                           summary_key::emulation,
                           summary_key::pacelag_version,
                           summary_key::kernel,
                           summary_key::duration_s,
                           summary_key::achieved_client_rate,
                           summary_key::achieved_server_rate,
                           summary_key::sent,
                           summary_key::dropped,
                           summary_key::drop_share,
                           summary_key::max_age_s,
                           summary_key::peak_client_sendq,
                           summary_key::peak_client_unsent,
                           summary_key::peak_inflight,
                           summary_key::peak_link_backlog,
                           summary_key::peak_server_recvq,
                           summary_key::max_est_delay_ms,
                           summary_key::final_est_delay_ms};
    ASSERT_GE(summary.size(), sizeof order / sizeof order[0]);
    for (size_t i = 0; i < sizeof order / sizeof order[0]; ++i)
        EXPECT_EQ(summary[i].first, order[i]);
    const std::pair<const char*, const char*> values[] = {
        {"client_buflen", "2048"}, {"link_rate_bps", "null"},        {"emulation", "loopback"},
        {"duration_s", "3.01"},    {"achieved_client_rate", "4.00"}, {"sent", "3"},
        {"dropped", "1"},          {"drop_share", "0.2500"},         {"max_age_s", "7"},
        {"peak_inflight", "600"},  {"peak_link_backlog", "null"},    {"max_est_delay_ms", "4000.0"},
    };
    for (const auto& v : values) EXPECT_EQ(json_value(summary, v.first), v.second) << v.first;
    EXPECT_EQ(json_value(summary, summary_key::format_version), std::to_string(kRunFormatVersion));
}

TEST(LabRecord, QueuesBeyondFourGigabytesAddUp) {
    // Each queue fits its 32-bit counter; their sum does not.
    TempDir dir;
    ASSERT_FALSE(dir.path().empty());
    Recorder rec;
    ASSERT_EQ(rec.open(dir.path()), 0);
    LabSock client, server;
    client.sendq = 3000000000u;
    server.recvq = 3000000000u;
    server.hasinfo = true;
    server.cookie = 1;
    for (int i = 0; i <= 100; ++i) {
        server.bytes_received = 3000000000ull + static_cast<uint64_t>(i) * 42 / 10;
        rec.sample({i * 0.01, &client, &server, -1});
    }
    ASSERT_EQ(rec.finish(LabConfig(), RunFacts()), 0);
    auto timeline = read_csv(run_path(dir.path(), kTimelineFile));
    ASSERT_EQ(timeline.size(), 102u);
    EXPECT_EQ(timeline.back()[kColConsumedBps], "420");
    // 6e9 bytes at 420 bytes a second.
    EXPECT_EQ(timeline.back()[kColEstDelayMs], "14285714285.7");
}
