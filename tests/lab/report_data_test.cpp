// SPDX-License-Identifier: MIT
// Reading an experiment's files for the report: the summary object, CSV
// records, the timeline columns, mark counts and peak-keeping thinning.
#include "report_data.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <string>
#include <vector>

using Records = std::vector<std::vector<std::string>>;

TEST(ReportData, SummaryObjects) {
    struct Case {
        const char* text;
        std::vector<std::pair<std::string, std::string>> members; // key, text
    } good[] = {
        {"{}", {}},
        {" {\"a\":1,\"b\":-2.5e3 ,\"c\":null}\n", {{"a", "1"}, {"b", "-2.5e3"}, {"c", "null"}}},
        {"{\"k\":\"6.1 \\\"x\\\" \\\\ \\/ \\n\"}", {{"k", "6.1 \"x\" \\ / \n"}}},
        {"{\"u\":\"\\u00e9\\ud83d\\ude00\\ud800x\"}",
         {{"u", "\xC3\xA9\xF0\x9F\x98\x80\xEF\xBF\xBDx"}}},
        {"{\"t\":true,\"f\":false}", {{"t", "true"}, {"f", "false"}}},
        // Keys appended later may nest; they are kept whole, not refused.
        {"{\"n\":{\"a\":[1,{\"b\":\"}\"}]},\"z\":0}",
         {{"n", "{\"a\":[1,{\"b\":\"}\"}]}"}, {"z", "0"}}},
    };
    for (const Case& c : good) {
        std::vector<JsonMember> out;
        std::string err;
        ASSERT_TRUE(parse_flat_json(c.text, out, err)) << c.text << ": " << err;
        ASSERT_EQ(out.size(), c.members.size()) << c.text;
        for (size_t i = 0; i < out.size(); ++i) {
            EXPECT_EQ(out[i].key, c.members[i].first) << c.text;
            EXPECT_EQ(out[i].text, c.members[i].second) << c.text;
        }
    }
    std::vector<JsonMember> out;
    std::string err;
    ASSERT_TRUE(parse_flat_json("{\"a\":7300.5,\"s\":\"7\",\"n\":null}", out, err));
    EXPECT_EQ(json_number(out, "a"), 7300.5);
    EXPECT_TRUE(std::isnan(json_number(out, "s")));
    EXPECT_TRUE(std::isnan(json_number(out, "n")));
    EXPECT_TRUE(std::isnan(json_number(out, "absent")));

    const char* bad[] = {"",
                         "[]",
                         "{\"a\":1",
                         "{\"a\" 1}",
                         "{a:1}",
                         "{\"a\":01}",
                         "{\"a\":1.}",
                         "{\"a\":-}",
                         "{\"a\":nul}",
                         "{\"a\":1,}",
                         "{\"a\":1}x",
                         "{\"a\":\"x}",
                         "{\"a\":\"\t\"}",
                         "{\"a\":\"\\q\"}",
                         "{\"a\":\"\\u12\"}",
                         "{\"a\":[1,2}"};
    for (const char* text : bad) {
        out.assign(1, JsonMember{"x", JsonKind::Null, "null", NAN});
        err.clear();
        EXPECT_FALSE(parse_flat_json(text, out, err)) << text;
        EXPECT_TRUE(out.empty()) << text;
        EXPECT_FALSE(err.empty()) << text;
    }
    std::string deep(200, '[');
    EXPECT_FALSE(parse_flat_json(("{\"a\":" + deep).c_str(), out, err));
}

TEST(ReportData, CsvRecordsAndNumbers) {
    struct Case {
        const char* text;
        Records records;
    } cases[] = {
        {"t,side,line\n1.000,client,#\n", {{"t", "side", "line"}, {"1.000", "client", "#"}}},
        {"a,b\r\n\r\n1,\r\n", {{"a", "b"}, {"1", ""}}},
        {"1,,\n", {{"1", "", ""}}},
        {"2.5,lab,\"x, \"\"y\"\"\nz\"\n3,server,4",
         {{"2.5", "lab", "x, \"y\"\nz"}, {"3", "server", "4"}}},
        {"", {}},
    };
    for (const Case& c : cases) {
        Records got;
        ASSERT_TRUE(parse_csv(c.text, got)) << c.text;
        EXPECT_EQ(got, c.records) << c.text;
    }
    struct Num {
        const char* field;
        double value; // NaN: refused
    } nums[] = {{"0.010", 0.01}, {"4608", 4608}, {"-1.5", -1.5}, {"1e3", 1000},
                {"", NAN},       {"inf", NAN},   {"nan", NAN},   {"0x10", NAN},
                {"12abc", NAN},  {"1e999", NAN}, {" 5", NAN}};
    for (const Num& n : nums) {
        double got = csv_number(n.field);
        if (std::isnan(n.value))
            EXPECT_TRUE(std::isnan(got)) << n.field;
        else
            EXPECT_EQ(got, n.value) << n.field;
    }
}

TEST(ReportData, TimelineAndEventColumns) {
    // Columns are found by name, so a header with a column added still reads.
    Records records;
    ASSERT_TRUE(parse_csv("t,client_sendq,client_unsent,inflight,link_backlog,server_recvq,cwnd,"
                          "rtt_ms,consumed_bps,est_delay_ms,extra\n"
                          "0.000,,,,,,,,,,x\n"
                          "0.010,4608,4000,608,,2400,10,0.052,420,17000.5,y\n"
                          "bad,1,1,1,1,1,1,1,1,1,z\n"
                          "0.020,1\n",
                          records));
    Timeline tl;
    std::string err;
    ASSERT_TRUE(timeline_from_csv(records, tl, err)) << err;
    ASSERT_EQ(tl.t, (std::vector<double>{0, 0.01, 0.02}));
    EXPECT_TRUE(std::isnan(tl.client_sendq[0]));
    EXPECT_EQ(tl.client_sendq[1], 4608);
    EXPECT_TRUE(std::isnan(tl.link_backlog[1]));
    EXPECT_EQ(tl.est_delay_ms[1], 17000.5);
    EXPECT_EQ(tl.client_sendq[2], 1);
    EXPECT_TRUE(std::isnan(tl.server_recvq[2])); // short row: the rest is missing

    ASSERT_TRUE(parse_csv("t,client_sendq\n1,2\n", records));
    EXPECT_FALSE(timeline_from_csv(records, tl, err));
    EXPECT_NE(err.find("client_unsent"), std::string::npos) << err;

    std::vector<Event> events;
    ASSERT_TRUE(parse_csv("t,side,line\n0.5,server,3\n0.75,client,\"a,b\"\n", records));
    ASSERT_TRUE(events_from_csv(records, events, err));
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[1].line, "a,b");
    ASSERT_TRUE(parse_csv("time,side,line\n", records));
    EXPECT_FALSE(events_from_csv(records, events, err));
    records.clear();
    EXPECT_FALSE(events_from_csv(records, events, err));
}

TEST(ReportData, AgesMarksAndCadence) {
    struct Age {
        const char* line;
        bool age;
        long long value;
    } ages[] = {
        {"3", true, 3}, {"0", true, 0},  {"-2", true, -2}, {"Waiting for connection..", false, 0},
        {"", false, 0}, {"-", false, 0}, {"3 ", false, 0}, {"12345678901234567890", false, 0}};
    for (const Age& a : ages) {
        long long v = -99;
        EXPECT_EQ(is_age_line(a.line, v), a.age) << a.line;
        if (a.age) {
            EXPECT_EQ(v, a.value) << a.line;
        }
    }

    std::vector<Event> events = {{0.1, "client", "#"}, {0.9, "client", "."},  {0.95, "server", "#"},
                                 {2.0, "client", "#"}, {2.5, "client", "##"}, {-1, "client", "#"},
                                 {2.99, "client", "."}};
    std::vector<int> sent, dropped;
    marks_per_second(events, sent, dropped);
    EXPECT_EQ(sent, (std::vector<int>{1, 0, 1}));
    EXPECT_EQ(dropped, (std::vector<int>{1, 0, 1}));

    struct Bars {
        std::vector<int> counts;
        size_t max_bars, width;
        std::vector<double> bars;
    } bars[] = {{{}, 600, 1, {}},
                {{1, 2, 3}, 600, 1, {1, 2, 3}},
                {{1, 2, 3, 4, 5}, 2, 3, {2, 4.5}},
                {{4, 4, 4, 4}, 2, 2, {4, 4}},
                {{1, 2, 3}, 0, 3, {2}}};
    for (const Bars& b : bars) {
        size_t width = 0;
        EXPECT_EQ(per_second_bars(b.counts, b.max_bars, width), b.bars) << b.counts.size();
        EXPECT_EQ(width, b.width) << b.counts.size();
    }

    struct Cadence {
        double rate;
        int cadence;
    } cadences[] = {{1, 1}, {47, 1}, {48, 2},  {100, 4},    {100000, 4166},
                    {0, 0}, {-4, 0}, {1.5, 0}, {100001, 0}, {NAN, 0}};
    for (const Cadence& c : cadences) EXPECT_EQ(mark_cadence(c.rate), c.cadence) << c.rate;
}

TEST(ReportData, ThinningKeepsPeaksAndOrder) {
    std::mt19937 rng(3);
    std::uniform_real_distribution<double> noise(0, 100);
    for (size_t n : {0, 1, 5, 1200, 1201, 3000, 100000}) {
        std::vector<double> y(n);
        for (double& v : y) v = noise(rng);
        if (n > 10) {
            y[n / 3] = 1e6;  // a one-sample spike
            y[n / 2] = -1e6; // and a dip
            for (size_t i = n / 4; i < n / 4 + 5; ++i) y[i] = NAN;
        }
        std::vector<size_t> keep = thin_indices(y, 1200);
        EXPECT_LE(keep.size(), std::min<size_t>(n, 1200)) << n;
        EXPECT_TRUE(std::is_sorted(keep.begin(), keep.end())) << n;
        EXPECT_EQ(std::adjacent_find(keep.begin(), keep.end()), keep.end()) << n;
        if (n == 0) continue;
        EXPECT_EQ(keep.front(), 0u);
        EXPECT_EQ(keep.back(), n - 1);
        if (n > 10) {
            EXPECT_TRUE(std::count(keep.begin(), keep.end(), n / 3)) << n;
            EXPECT_TRUE(std::count(keep.begin(), keep.end(), n / 2)) << n;
        }
    }
}
