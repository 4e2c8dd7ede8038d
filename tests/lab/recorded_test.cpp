// SPDX-License-Identifier: MIT
// Exact values from recorded run files (tests/lab/data): what the recorder
// sums up, what the report reads from the same lines, and what the estimator
// makes of recorded timelines, one of them cut from a real link-bottleneck run.
#include "config.h"
#include "lab_helpers.h"
#include "record.h"
#include "report_data.h"
#include "rundir.h"

#include <climits>
#include <gtest/gtest.h>
#include <numeric>

namespace {
const std::string kData = PACELAG_LAB_DATA;

// The summary a recorder writes after seeing `events` of a 4/s client and a
// 2/s server.
std::vector<std::pair<std::string, std::string>> summary_of(const std::vector<Event>& events) {
    TempDir dir;
    LabConfig config;
    Recorder rec;
    EXPECT_EQ(rec.open(dir.path()), 0);
    for (const Event& e : events) rec.event(e.t, e.side.c_str(), e.line);
    RunFacts facts;
    facts.duration = 10.2;
    EXPECT_EQ(rec.finish(config, facts), 0);
    return read_flat_json(slurp(run_path(dir.path(), kSummaryFile)));
}
} // namespace

TEST(Recorded, AgesAndMarksAgreeBetweenSummaryAndChart) {
    std::vector<Event> events;
    std::string err;
    ASSERT_TRUE(read_run_events(kData + "/ages_and_stop", events, err)) << err;
    auto summary = summary_of(events);
    // 37 '#' and 3 '.' before the stop, one of each after it; ages 0 to 19 and
    // the saturated age, every half second.
    const std::pair<const char*, const char*> expected[] = {
        {summary_key::sent, "37"},
        {summary_key::dropped, "3"},
        {summary_key::drop_share, "0.0750"},
        {summary_key::achieved_client_rate, "4.00"},
        {summary_key::achieved_server_rate, "2.00"},
        {summary_key::max_age_s, "9223372036854775807"},
    };
    for (const auto& e : expected) EXPECT_EQ(json_value(summary, e.first), e.second) << e.first;

    // The chart counts by the same rule.
    std::vector<int> sent, dropped;
    marks_per_second(events, sent, dropped);
    EXPECT_EQ(std::accumulate(sent.begin(), sent.end(), 0), 37);
    EXPECT_EQ(std::accumulate(dropped.begin(), dropped.end(), 0), 3);
    EXPECT_EQ(sent.size(), 10u) << "nothing after the stop at 10.15 s";

    // The report reads the same ages, in order, the last one saturated.
    std::vector<long long> ages;
    for (const Event& e : events) {
        long long age = 0;
        if (e.side == kSideServer && is_age_line(e.line, age)) ages.push_back(age);
    }
    std::vector<long long> want(20);
    std::iota(want.begin(), want.end(), 0);
    want.push_back(LLONG_MAX);
    EXPECT_EQ(ages, want);
}
