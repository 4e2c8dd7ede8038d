// SPDX-License-Identifier: MIT
// The sentences at the top of a run's report and the stretches without
// client marks, on small runs built here whose every number is known.
#include "report_answer.h"
#include "rundir.h"
#include "textread.h"

#include <gtest/gtest.h>

namespace {

// Ten seconds sampled every 0.1 s with the given queues (bytes) and the
// server reading 420 B/s; marks every 0.25 s (a '.' from 6 s on when
// `drops`), with a hole of `hole` seconds after 3 s.
struct Shape {
    double recvq = 0, unsent = 0, inflight = 0, backlog = -1; // -1: no link column
    bool drops = false;
    double hole = 0;
    std::string summary = "";
};

RunData run_of(const Shape& s) {
    RunData run;
    std::string err;
    std::string json = "{\"client_rate\":4,\"server_rate\":2,\"padlen\":200" + s.summary + "}";
    EXPECT_TRUE(parse_flat_json(json.c_str(), run.summary, err)) << err;
    Timeline& tl = run.timeline;
    for (int i = 0; i <= 100; ++i) {
        double t = i / 10.0;
        for (int c = 0; c < kTimelineColumnCount; ++c) tl.column(c).push_back(NAN);
        tl.t.back() = t;
        tl.client_unsent.back() = s.unsent;
        tl.inflight.back() = s.inflight;
        tl.client_sendq.back() = s.unsent + s.inflight;
        if (s.backlog >= 0) tl.link_backlog.back() = s.backlog;
        tl.server_recvq.back() = s.recvq;
        if (t >= 1) tl.consumed_bps.back() = 420;
    }
    for (double t = 0.25; t < 10; t += 0.25) {
        if (t > 3 && t < 3 + s.hole) continue;
        run.events.push_back({t, kSideClient, s.drops && t >= 6 && int(t * 4) % 2 ? "." : "#"});
    }
    run.events.push_back({9.9, kSideLab, kStoppingEvent});
    run.events.push_back({9.95, kSideClient, "."}); // cut by the stop: no drop, no gap
    return run;
}

} // namespace

TEST(ReportAnswer, NamesTheBottleneckAndWhereTheWaitSat) {
    const struct {
        const char* name;
        Shape shape;
        const char* bottleneck; // the sentence's start
        const char* split;      // a part of the split sentence
    } cases[] = {
        {"server",
         {2100, 1050, 0, -1},
         "The server was the bottleneck: it read 420 B/s (2.0 "
         "messages/s) while the client offered 840 B/s (4 messages/s of 210 bytes)",
         "(2.5 s not yet sent, 0.0 s in flight) and the server's receive queue (5.0 s)"},
        {"link",
         {0, 4200, 840, 630, false, 0, ",\"link_rate_bps\":4000"},
         "The link was the bottleneck: it carried 3360 bit/s of messages of its 4000 bit/s, "
         "while the client offered 6720 bit/s",
         "(10.0 s not yet sent, 2.0 s in flight, of which 1.5 s in the link's queue)"},
        {"unshaped path",
         {0, 4200, 0, -1},
         "The network took 420 B/s while the client offered",
         "(10.0 s not yet sent"},
        {"nothing",
         {100, 0, 0, -1},
         "Nothing held the messages back: the server read 420 B/s",
         "server's receive queue (0.2 s)"},
    };
    for (const auto& c : cases) {
        Answer a = answer_of(run_of(c.shape));
        EXPECT_EQ(a.bottleneck.rfind(c.bottleneck, 0), 0u) << c.name << ": " << a.bottleneck;
        EXPECT_NE(a.split.find(c.split), std::string::npos) << c.name << ": " << a.split;
    }
}

TEST(ReportAnswer, DropsWaitsAndAccuracy) {
    Shape s{2100, 1050, 0, -1, true};
    s.summary = ",\"sent\":30,\"dropped\":10,\"final_est_delay_ms\":7512.3";
    RunData run = run_of(s);
    // Estimates 10 ms over and 70 ms under the measured waits.
    MessageWait early, last;
    early.sent_t = 1.0;
    early.read_t = 3.0;
    early.est_ms = 2010;
    last.sent_t = 2.0;
    last.read_t = 9.25;
    last.est_ms = 7180;
    run.messages = {early, last, MessageWait()};
    Answer a = answer_of(run);
    EXPECT_EQ(a.drops, "Drops began at 6.2 s, when the client's send queue was full; 10 of 40 "
                       "messages (25.0 %) were dropped.");
    EXPECT_EQ(a.waited, "At the end requests waited about 7.2 s, measured: the last message the "
                        "server read was sent at 2.0 s and read at 9.2 s; the estimate at its "
                        "sending said 7.2 s. By the estimate, a request sent at the very end "
                        "would wait 7.5 s.");
    EXPECT_EQ(a.accuracy, "Against the measured wait of 2 messages, the estimate at each one's "
                          "sending was off by 40 ms in the median and at most 70 ms for nine in "
                          "ten (-30 ms signed median).");

    // No drops; no pairs where every n-th message prints; nothing known.
    s = Shape{2100, 1050, 0, -1};
    s.summary = ",\"sent\":40,\"dropped\":0,\"client_cadence\":2,\"final_est_delay_ms\":900";
    a = answer_of(run_of(s));
    EXPECT_EQ(a.drops, "No message was dropped.");
    EXPECT_EQ(a.waited.rfind("The measured wait is not available: at 48 messages/s and above", 0),
              0u)
        << a.waited;
    EXPECT_EQ(a.accuracy, "");
    RunData empty;
    a = answer_of(empty);
    EXPECT_EQ(a.bottleneck + a.waited + a.split + a.drops + a.gaps + a.accuracy, "");
}

TEST(ReportAnswer, StretchesWithoutMarksAndTheirCause) {
    const struct {
        const char* name;
        double hole, unsent;
        size_t gaps;
        bool partly;
    } cases[] = {
        // Marks every 0.25 s: a hole of 0.5 s leaves 0.5 s between marks,
        // two intervals, which is no gap yet.
        {"two intervals", 0.5, 1000, 0, false},
        {"the send queue full: a partly sent message", 3.5, 1000, 1, true},
        {"room to send: the client was held up", 3.5, 0, 1, false},
    };
    for (const auto& c : cases) {
        Shape s{2100, c.unsent, 0, -1};
        s.hole = c.hole;
        std::vector<MarkGap> g = mark_gaps(run_of(s));
        ASSERT_EQ(g.size(), c.gaps) << c.name;
        if (g.empty()) continue;
        EXPECT_DOUBLE_EQ(g[0].from, 3.0) << c.name;
        EXPECT_DOUBLE_EQ(g[0].due, 3.25) << c.name;
        EXPECT_DOUBLE_EQ(g[0].to, 3.0 + c.hole) << c.name;
        EXPECT_EQ(g[0].partly_sent, c.partly) << c.name;
        EXPECT_FALSE(g[0].until_stop);
        Answer a = answer_of(run_of(s));
        EXPECT_EQ(a.gaps, std::string("The client printed no mark for 3.50 s from 3.0 s: ") +
                              gap_cause(g[0]) + "; shaded on the last chart.")
            << c.name;
    }
    // A stretch that runs into the stop; and the limit at a cadence of 2 (at
    // 48/s a mark every 1/24 s: two intervals are 1/12 s).
    RunData run = run_of(Shape{2100, 1000});
    run.events.clear();
    for (int i = 1; i <= 12; ++i) run.events.push_back({i * 0.25, kSideClient, "#"});
    run.events.push_back({9.9, kSideLab, kStoppingEvent});
    std::vector<MarkGap> g = mark_gaps(run);
    ASSERT_EQ(g.size(), 1u);
    EXPECT_DOUBLE_EQ(g[0].from, 3.0);
    EXPECT_DOUBLE_EQ(g[0].to, 9.9);
    EXPECT_TRUE(g[0].until_stop);
    EXPECT_TRUE(g[0].partly_sent);

    std::string err;
    ASSERT_TRUE(parse_flat_json("{\"client_rate\":48,\"client_cadence\":2}", run.summary, err));
    run.events.clear();
    for (double t : {0.0, 1 / 24.0, 2 / 24.0, 3.9 / 24.0, 6 / 24.0})
        run.events.push_back({t, kSideClient, "#"});
    g = mark_gaps(run);
    ASSERT_EQ(g.size(), 1u) << "2.1 intervals are a gap, 1.9 are not";
    EXPECT_DOUBLE_EQ(g[0].from, 3.9 / 24.0);
}
