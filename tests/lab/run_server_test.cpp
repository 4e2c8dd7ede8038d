// SPDX-License-Identifier: MIT
// pacelag-lab run with the server as the bottleneck: client 4/s, server 2/s,
// 2048-byte buffers, 20 s. The queue fills, drops appear, the estimate rises
// and foretells the ages the server prints, and nothing is left behind.
#include "lab_helpers.h"
#include "netns.h"

#include <gtest/gtest.h>

TEST(LabRun, ServerBottleneck) {
    TempDir dir;
    ASSERT_FALSE(dir.path().empty());
    const bool root = geteuid() == 0;
    const std::string out = dir.path() + "/run";
    std::vector<std::string> args = {
        PACELAG_LAB_BIN, "run", "-client-rate", "4", "-server-rate", "2",        "-buflen", "2048",
        "-seconds",      "20",  "-out",         out, "-pacelag",     PACELAG_BIN};
    const std::string port = std::to_string(20000 + getpid() % 20000);
    if (root) args.insert(args.end(), {"-port", port});
    LabChild lab(args);
    ASSERT_GT(lab.pid(), 0);
    const std::string tag = "plab" + std::to_string(lab.pid());
    if (root) {
        // While it runs, its namespaces exist and hold the veth pair.
        ASSERT_TRUE(lab.waitfor("for 20 s", 10000)) << lab.output();
        EXPECT_EQ(namespaces_named(tag), 2);
        const std::string veth = tag + "s";
        const char* argv[] = {"ip", "-n", veth.c_str(), "link", "show", veth.c_str(), nullptr};
        EXPECT_EQ(run_command(argv, nullptr), 0) << "no veth " << veth << " in its namespace";
    }
    const int status = lab.waitexit(60000);
    ASSERT_NE(status, -2) << lab.output();
    EXPECT_EQ(status, 0) << lab.output();
    EXPECT_TRUE(exists(run_path(out, kReportFile)));

    auto timeline = read_csv(run_path(out, kTimelineFile));
    // One row per 10 ms when the machine keeps up; a loaded one samples less often.
    ASSERT_GT(timeline.size(), 600u);
    EXPECT_EQ(timeline[0][0], "t");
    double last = -1;
    for (size_t i = 1; i < timeline.size(); ++i) {
        ASSERT_EQ(timeline[i].size(), size_t(kTimelineColumnCount)) << i;
        double t = atof(timeline[i][0].c_str());
        EXPECT_GT(t, last) << i;
        last = t;
        EXPECT_EQ(timeline[i][kColLinkBacklog], "") << "no link was shaped";
    }
    EXPECT_NEAR(last, 20, 0.5);

    // The estimate rises: early on a message waits for one read slot, at the
    // end for a full queue.
    auto est_near = [&](double at) {
        for (size_t i = 1; i < timeline.size(); ++i)
            if (atof(timeline[i][kColT].c_str()) >= at && !timeline[i][kColEstDelayMs].empty())
                return atof(timeline[i][kColEstDelayMs].c_str());
        return -1.0;
    };
    EXPECT_GT(est_near(2), 0);
    EXPECT_GT(est_near(19), est_near(2) + 4000);

    auto summary = read_flat_json(slurp(run_path(out, kSummaryFile)));
    EXPECT_EQ(json_value(summary, summary_key::emulation), root ? "namespaces" : "loopback");
    EXPECT_EQ(json_value(summary, summary_key::client_buflen), "2048");
    EXPECT_EQ(json_value(summary, summary_key::pacelag_version), "1.0.0");
    EXPECT_GT(atoi(json_value(summary, summary_key::dropped).c_str()), 0) << "drops appear";
    EXPECT_NEAR(atof(json_value(summary, summary_key::achieved_server_rate).c_str()), 2, 0.3);
    EXPECT_GE(atoi(json_value(summary, summary_key::max_age_s).c_str()), 5);
    auto events = read_csv(run_path(out, kEventsFile));
    int dots = 0, marks = 0;
    double first = -1, lastmark = -1;
    for (const auto& e : events) {
        if (e.size() == 3 && e[kEvSide] == kSideLab && e[kEvLine] == kStoppingEvent) break;
        if (e.size() != 3 || e[1] != "client" || (e[2] != "." && e[2] != "#")) continue;
        dots += e[2] == ".";
        ++marks;
        if (first < 0) first = atof(e[0].c_str());
        lastmark = atof(e[0].c_str());
    }
    EXPECT_GT(dots, 0);
    // The client finishes a message that went out in part with back-off
    // sleeps, so it may fall below 4/s; the summary counts what it printed
    // before the lab began to stop it.
    double achieved = atof(json_value(summary, summary_key::achieved_client_rate).c_str());
    EXPECT_GT(achieved, 2.5);
    EXPECT_LT(achieved, 4.5);
    EXPECT_NEAR(achieved, (marks - 1) / (lastmark - first), 0.15);

    // Once the queue is there, the estimate at t is the age printed when that
    // message is read; printed ages are whole seconds, so within one second.
    auto diffs = estimate_vs_age(out, 3);
    ASSERT_GT(diffs.size(), 200u);
    // A smoke test with loose bounds: a live run on a shared machine varies;
    // recorded_test pins the estimator's exact values on recorded timelines.
    EXPECT_LE(median(diffs), 1.0);
    EXPECT_GE(share_within(diffs, 1.5), 0.8);

    // Nothing left behind: the namespaces (and with them the veth pair), the
    // lock file, the processes.
    EXPECT_EQ(namespaces_named(tag), 0);
    EXPECT_FALSE(exists(testbed_lock_path(tag)));
    EXPECT_EQ(processes_with(
                  {"pacelag", "-mode", "-port " + json_value(summary, summary_key::port) + " "}),
              0);
}
