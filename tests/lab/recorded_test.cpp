// SPDX-License-Identifier: MIT
// Exact values from recorded run files (tests/lab/data): what the recorder
// sums up, what the report reads from the same lines, and what the estimator
// makes of recorded timelines, one of them cut from a real link-bottleneck run.
#include "config.h"
#include "estimate.h"
#include "lab_helpers.h"
#include "record.h"
#include "report_data.h"
#include "rundir.h"

#include <climits>
#include <cmath>
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

namespace {
std::string fixed1(double v) {
    char text[48];
    snprintf(text, sizeof text, "%.1f", v);
    return text;
}
} // namespace

// The consumed rate and the estimate, replayed from what a real run recorded
// (4 s cut from a link-bottleneck and a server-bottleneck run), come out as
// the run wrote them, once the cut holds the rate's second of history.
TEST(Recorded, EstimatorReplaysRealRunsExactly) {
    const struct {
        const char* cut;
        size_t rows;
    } cuts[] = {{"link_cut", 400}, {"server_cut", 400}};
    for (const auto& c : cuts) {
        Timeline tl;
        std::string err;
        ASSERT_TRUE(read_run_timeline(kData + "/" + c.cut, kRunFormatVersion, tl, err)) << err;
        ASSERT_EQ(tl.t.size(), c.rows) << c.cut;
        ConsumedRate consumed;
        size_t compared = 0, rate_off = 0, est_off = 0;
        for (size_t i = 0; i < tl.t.size(); ++i) {
            if (std::isfinite(tl.server_recvq[i]) && std::isfinite(tl.server_received[i]))
                consumed.add(tl.t[i], 1, static_cast<uint64_t>(tl.server_received[i]),
                             static_cast<uint32_t>(tl.server_recvq[i]));
            else
                consumed.lost();
            double bps = 0, est = 0;
            const bool have = consumed.rate(bps);
            if (tl.t[i] < tl.t[0] + 1.1) continue; // the window is still filling
            ++compared;
            ASSERT_EQ(have, std::isfinite(tl.consumed_bps[i])) << c.cut << " at " << tl.t[i];
            if (!have) continue;
            rate_off += std::llround(bps) != tl.consumed_bps[i];
            const double queued = (std::isfinite(tl.client_sendq[i]) ? tl.client_sendq[i] : 0) +
                                  (std::isfinite(tl.server_recvq[i]) ? tl.server_recvq[i] : 0);
            ASSERT_TRUE(estimate_delay_ms(static_cast<uint64_t>(queued), have, bps, est));
            est_off += fixed1(est) != fixed1(tl.est_delay_ms[i]);
        }
        EXPECT_GT(compared, 280u) << c.cut;
        EXPECT_EQ(rate_off, 0u) << c.cut;
        EXPECT_EQ(est_off, 0u) << c.cut;
    }
}
