// SPDX-License-Identifier: MIT
// pacelag-lab run with the link as the bottleneck: a client faster than a
// shaped 400 kbit/s link, a server faster than both. The queue sits in the
// client's send queue and the link's qdisc, and the estimate foretells the
// printed ages.
#include "lab_helpers.h"

#include <gtest/gtest.h>

TEST(LabRun, LinkBottleneck) {
    if (geteuid() != 0) GTEST_SKIP() << "shaping a link needs root (network namespaces and tc)";
    TempDir dir;
    ASSERT_FALSE(dir.path().empty());
    const std::string out = dir.path() + "/run";
    // A link fast enough that TCP's own cycles stay well inside the one-second
    // window of the consumed rate; a slower one mostly shows loss recovery.
    LabChild lab(
        {PACELAG_LAB_BIN, "run",       "-client-rate",   "100",
         "-server-rate",  "400",       "-padlen",        "1000",
         "-link-rate",    "400kbit",   "-client-buflen", "65536",
         "-seconds",      "15",        "-out",           out,
         "-pacelag",      PACELAG_BIN, "-port",          std::to_string(20000 + getpid() % 20000)});
    ASSERT_GT(lab.pid(), 0);
    const int status = lab.waitexit(60000);
    ASSERT_NE(status, -2) << lab.output();
    EXPECT_EQ(status, 0) << lab.output();
    EXPECT_TRUE(exists(run_path(out, kReportFile)));

    auto summary = read_flat_json(slurp(run_path(out, kSummaryFile)));
    EXPECT_EQ(json_value(summary, summary_key::emulation), "namespaces");
    EXPECT_EQ(json_value(summary, summary_key::link_rate_bps), "400000");
    // 101 KB/s offered to a 50 KB/s link: tens of KB wait in the send queue,
    // some in the qdisc, little at the fast server.
    EXPECT_GT(atoi(json_value(summary, summary_key::peak_client_sendq).c_str()), 30000);
    EXPECT_GT(atoi(json_value(summary, summary_key::peak_link_backlog).c_str()), 1500);
    EXPECT_LT(atoi(json_value(summary, summary_key::peak_server_recvq).c_str()),
              atoi(json_value(summary, summary_key::peak_client_sendq).c_str()) / 4);

    auto timeline = read_csv(run_path(out, kTimelineFile));
    // One row per 10 ms when the machine keeps up; a loaded one samples less often.
    ASSERT_GT(timeline.size(), 400u);
    double consumed = 0;
    int n = 0;
    for (size_t i = 1; i < timeline.size(); ++i) {
        if (atof(timeline[i][kColT].c_str()) < 5 || timeline[i][kColConsumedBps].empty()) continue;
        consumed += atof(timeline[i][kColConsumedBps].c_str());
        ++n;
        EXPECT_FALSE(timeline[i][kColLinkBacklog].empty())
            << "the link's backlog is read at every sample";
    }
    ASSERT_GT(n, 0);
    // The consumed rate is the link's, never assumed: 400 kbit/s less headers.
    EXPECT_NEAR(consumed / n, 48000, 6000);

    // Printed ages are whole seconds: within one second, nearly always.
    auto diffs = estimate_vs_age(out, 3);
    ASSERT_GT(diffs.size(), 100u);
    // Loose bounds: a live run; recorded_test pins exact values.
    EXPECT_LE(median(diffs), 1.0);
    EXPECT_GE(share_within(diffs, 1.5), 0.8);
}
