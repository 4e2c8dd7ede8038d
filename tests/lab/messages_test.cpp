// SPDX-License-Identifier: MIT
// Each message's measured wait and the estimate's error against it, on a
// recorded timeline whose every value follows from a stated model
// (tests/lab/data/read_steps): the pairing of marks with ages, the estimate
// that stands when a message is queued, and the recorder's live pairs
// against the pairs read back from its files.
#include "config.h"
#include "estimate.h"
#include "lab_helpers.h"
#include "messages.h"
#include "record.h"
#include "rundir.h"

#include <cmath>
#include <gtest/gtest.h>

namespace {
const std::string kSteps = std::string(PACELAG_LAB_DATA) + "/read_steps";

struct Steps {
    Timeline tl;
    std::vector<Event> events;
};

Steps read_steps() {
    Steps r;
    std::string err;
    EXPECT_TRUE(read_run_timeline(kSteps, kRunFormatVersion, r.tl, err)) << err;
    EXPECT_TRUE(read_run_events(kSteps, r.events, err)) << err;
    return r;
}

// The timeline replayed through the estimator: `even` takes the even-flow
// figure (queued / rate) instead of the stepwise wait.
Timeline replayed(Timeline tl, bool even) {
    ConsumedRate consumed;
    for (size_t i = 0; i < tl.t.size(); ++i) {
        consumed.add(tl.t[i], 1, static_cast<uint64_t>(tl.server_received[i]),
                     static_cast<uint32_t>(tl.server_recvq[i]));
        const uint64_t queued = static_cast<uint64_t>(tl.client_sendq[i] + tl.server_recvq[i]);
        double bps = 0, est = NAN;
        const bool haverate = consumed.rate(bps);
        bool ok = even ? estimate_delay_ms(queued, haverate, bps, est)
                       : estimate_wait_ms(queued, consumed, tl.t[i], est);
        tl.est_delay_ms[i] = ok ? timeline_as_written(kColEstDelayMs, est) : NAN;
    }
    return tl;
}
} // namespace

// The model: a client queues a 210-byte message every 0.25 s from 0.1 s, a
// server reads one every 0.5 s from 0.325 s, samples every 0.05 s. Message
// k (from 0) is sent at 0.1 + k/4 and read at 0.325 + k/2: it waits
// 225 + 250 k ms.
TEST(MessageWaits, PairsFollowTheStreamAndTheStop) {
    Steps run = read_steps();
    std::vector<MessageWait> m = pair_messages(run.events, run.tl);
    // 22 '#' before the stop; the two '.' before it and the one cut by it
    // take no place in the stream.
    ASSERT_EQ(m.size(), 22u);
    for (size_t k = 0; k < m.size(); ++k) {
        EXPECT_EQ(m[k].n, static_cast<int64_t>(k) + 1);
        EXPECT_DOUBLE_EQ(m[k].sent_t, time_as_written(0.1 + 0.25 * k));
        if (k <= 10) {
            EXPECT_DOUBLE_EQ(m[k].wait_ms(), 225.0 + 250.0 * k) << k;
            EXPECT_EQ(m[k].age_s, std::floor((0.225 + 0.25 * k))) << k;
        } else {
            EXPECT_FALSE(m[k].read()) << k << ": not read by the end";
        }
        // The rate needs a second of history: no estimate for a message sent
        // before 1 s.
        EXPECT_EQ(std::isnan(m[k].est_ms), k < 4) << k;
    }
    // The recorded estimate is the stepwise wait, exact at every sample; the
    // one that predicts a message's wait comes with the sample after its
    // sending, 50 ms later here, when 50 ms of the wait have passed.
    WaitError e = estimate_error(m);
    EXPECT_EQ(e.count, 7);
    EXPECT_EQ(e.median_abs, 50);
    EXPECT_EQ(e.p90_abs, 50);
    EXPECT_EQ(e.median_signed, -50);

    RunSummary s;
    summarize_waits(m, true, s);
    EXPECT_EQ(s.paired_messages, 11);
    EXPECT_EQ(s.unread_messages, 11);
    EXPECT_EQ(s.max_measured_wait_ms, 2725);
    EXPECT_EQ(s.final_measured_wait_ms, 2725);
    RunSummary off;
    summarize_waits(m, false, off);
    EXPECT_FALSE(off.measured_wait_available);
    EXPECT_EQ(off.paired_messages, -1);
    EXPECT_TRUE(std::isnan(off.est_error_median_ms));
    EXPECT_EQ(summary_json(off).find("\"est_error_median_ms\":null") != std::string::npos, true);
}

// Replayed, the estimator gives the recorded (exact) estimates back. The
// even-flow figure (queued / rate) stands still between reads, so it runs
// high by what had passed of the read period at the sample: 275 ms for a
// message sampled 0.325 s after a read, 25 ms for one sampled 0.075 s after.
TEST(MessageWaits, StepwiseEstimateRemovesTheEvenFlowBias) {
    Steps run = read_steps();
    const struct {
        bool even;
        double median_abs, p90_abs, median_signed;
    } cases[] = {{false, 50, 50, -50}, {true, 275, 275, 275}};
    for (const auto& c : cases) {
        Timeline tl = replayed(run.tl, c.even);
        if (!c.even) {
            for (size_t i = 0; i < tl.t.size(); ++i)
                EXPECT_EQ(std::isnan(tl.est_delay_ms[i]), std::isnan(run.tl.est_delay_ms[i]))
                    << tl.t[i];
            for (size_t i = 0; i < tl.t.size(); ++i) {
                if (!std::isnan(tl.est_delay_ms[i])) {
                    EXPECT_DOUBLE_EQ(tl.est_delay_ms[i], run.tl.est_delay_ms[i]) << tl.t[i];
                }
            }
        }
        WaitError e = estimate_error(pair_messages(run.events, tl));
        EXPECT_EQ(e.count, 7) << c.even;
        EXPECT_DOUBLE_EQ(e.median_abs, c.median_abs) << c.even;
        EXPECT_DOUBLE_EQ(e.p90_abs, c.p90_abs) << c.even;
        EXPECT_DOUBLE_EQ(e.median_signed, c.median_signed) << c.even;
    }
}

TEST(MessageWaits, ErrorStatisticsAndEdges) {
    auto msg = [](double sent, double read, double est) {
        MessageWait m;
        m.sent_t = sent;
        m.read_t = read;
        m.est_ms = est;
        return m;
    };
    // Errors -300, -100, 0, 50, 200, 400, 500, 600, 700, 900 ms, and
    // messages that cannot count: unread, or without an estimate.
    std::vector<MessageWait> m;
    const double errors[] = {-300, -100, 0, 50, 200, 400, 500, 600, 700, 900};
    for (double e : errors) m.push_back(msg(1, 2, 1000 + e));
    m.push_back(msg(1, NAN, 5));
    m.push_back(msg(1, 3, NAN));
    WaitError w = estimate_error(m);
    EXPECT_EQ(w.count, 10);
    EXPECT_DOUBLE_EQ(w.median_signed, 300); // (200 + 400) / 2
    EXPECT_DOUBLE_EQ(w.median_abs, 350);    // |e| sorted: 0 50 100 200 300 400 500 600 700 900
    EXPECT_DOUBLE_EQ(w.p90_abs, 700);       // the 9th of 10
    EXPECT_EQ(estimate_error({}).count, 0);
    EXPECT_TRUE(std::isnan(estimate_error({}).median_abs));

    // Edges of the pairing, each a list of events and samples (side "sample"
    // with the estimate as its line).
    const struct {
        const char* name;
        std::vector<Event> feed;
        size_t messages, read;
        int64_t spare;
        double first_est;
    } cases[] = {
        {"a sample in the mark's millisecond may precede the send",
         {{1.0, "client", "#"}, {1.0, "sample", "7"}, {1.001, "sample", "9"}},
         1,
         0,
         0,
         9},
        {"a sample before the mark is no estimate for it",
         {{1.0, "sample", "7"}, {1.001, "client", "#"}, {1.01, "sample", "9"}},
         1,
         0,
         0,
         9},
        {"an age before any '#' pairs with none",
         {{0.5, "server", "0"}, {1.0, "client", "#"}, {1.5, "server", "0"}},
         1,
         1,
         1,
         NAN},
        {"status lines and warnings are not ages",
         {{1.0, "client", "#"},
          {1.1, "server", "Connection closed"},
          {1.2, "server", "[WARNING] Receive failure: x"},
          {1.3, "server", "-0"}},
         1,
         0,
         0,
         NAN},
        {"a '#' after the stop is no message of the run",
         {{1.0, "client", "#"},
          {1.1, "lab", kStoppingEvent},
          {1.2, "client", "#"},
          {1.3, "server", "0"},
          {1.4, "server", "0"}},
         1,
         1,
         1,
         NAN},
    };
    for (const auto& c : cases) {
        MessagePairer p;
        for (const Event& e : c.feed) {
            if (e.side == "sample")
                p.sample(e.t, std::stod(e.line));
            else
                p.event(e.t, e.side, e.line);
        }
        ASSERT_EQ(p.messages().size(), c.messages) << c.name;
        size_t read = 0;
        for (const MessageWait& m2 : p.messages()) read += m2.read();
        EXPECT_EQ(read, c.read) << c.name;
        EXPECT_EQ(p.spare_ages(), c.spare) << c.name;
        if (std::isnan(c.first_est)) {
            EXPECT_TRUE(std::isnan(p.messages()[0].est_ms)) << c.name;
        } else {
            EXPECT_EQ(p.messages()[0].est_ms, c.first_est) << c.name;
        }
    }
}

// The recorder pairs as it goes and writes messages.csv; reading the run
// back gives those pairs, and pairing its events and timeline again gives
// the very same ones. A cadence above 1 leaves the file with its header.
TEST(MessageWaits, RecorderWritesWhatTheFilesPairAgain) {
    Steps model = read_steps();
    for (int client_rate : {4, 48}) {
        TempDir dir;
        ASSERT_FALSE(dir.path().empty());
        LabConfig config;
        config.client_rate = client_rate;
        config.server_rate = 2;
        {
            Recorder rec;
            ASSERT_EQ(rec.open(dir.path()), 0);
            size_t e = 0;
            LabSock server;
            server.hasinfo = true;
            server.cookie = 3;
            // The lab reads the programs' output, then samples: events at a
            // sample's time come before it, a little off the millisecond.
            for (size_t i = 0; i < model.tl.t.size(); ++i) {
                for (; e < model.events.size() && model.events[e].t <= model.tl.t[i]; ++e)
                    rec.event(model.events[e].t - 0.0002, model.events[e].side.c_str(),
                              model.events[e].line);
                server.recvq = static_cast<uint32_t>(model.tl.server_recvq[i]);
                server.bytes_received = static_cast<uint64_t>(model.tl.server_received[i]);
                LabSock client;
                rec.sample({model.tl.t[i] + 0.0003, &client, &server, -1});
            }
            for (; e < model.events.size(); ++e)
                rec.event(model.events[e].t, model.events[e].side.c_str(), model.events[e].line);
            RunFacts facts;
            facts.duration = 5.6;
            ASSERT_EQ(rec.finish(config, facts), 0);
        }
        RunData run;
        std::string err;
        ASSERT_TRUE(read_run(dir.path(), run, err)) << err;
        auto summary = read_flat_json(slurp(run_path(dir.path(), kSummaryFile)));
        if (client_rate == 48) {
            EXPECT_TRUE(run.messages.empty());
            EXPECT_EQ(json_value(summary, summary_key::measured_wait_available), "false");
            EXPECT_EQ(json_value(summary, summary_key::est_error_p90_ms), "null");
            continue;
        }
        ASSERT_EQ(run.messages.size(), 22u);
        std::vector<MessageWait> again = pair_messages(run.events, run.timeline);
        ASSERT_EQ(again.size(), run.messages.size());
        for (size_t k = 0; k < again.size(); ++k) {
            const MessageWait &a = run.messages[k], &b = again[k];
            EXPECT_EQ(a.n, b.n);
            EXPECT_EQ(a.sent_t, b.sent_t) << k;
            EXPECT_EQ(a.read(), b.read()) << k;
            if (a.read()) {
                EXPECT_EQ(a.wait_ms(), b.wait_ms()) << k;
            }
            EXPECT_EQ(std::isnan(a.est_ms), std::isnan(b.est_ms)) << k;
            if (!std::isnan(a.est_ms)) {
                EXPECT_EQ(a.est_ms, b.est_ms) << k;
            }
        }
        const std::pair<const char*, const char*> want[] = {
            {summary_key::measured_wait_available, "true"},
            {summary_key::paired_messages, "11"},
            {summary_key::unread_messages, "11"},
            {summary_key::est_error_messages, "7"},
        };
        for (const auto& w : want) EXPECT_EQ(json_value(summary, w.first), w.second) << w.first;
        // Samples 0.3 ms late and marks 0.2 ms early: the sample after each
        // sending comes 50 ms on, give or take a millisecond.
        EXPECT_NEAR(std::stod(json_value(summary, summary_key::est_error_median_ms)), 50, 1);
        // A run of this format without its messages is refused, by name.
        std::string path = run_path(dir.path(), kMessagesFile);
        auto header = read_csv(path)[0];
        ASSERT_EQ(std::remove(path.c_str()), 0);
        EXPECT_FALSE(read_run(dir.path(), run, err));
        EXPECT_NE(err.find(kMessagesFile), std::string::npos) << err;
        EXPECT_EQ(header, (std::vector<std::string>{"n", "sent_t", "read_t", "wait_ms", "age_s",
                                                    "est_delay_ms"}));
    }
}
