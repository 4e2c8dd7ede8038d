// SPDX-License-Identifier: MIT
// pacelag-lab sweep: one whole run per value, each in its own directory with
// the value applied, then one comparing report.
#include "lab_helpers.h"

#include <gtest/gtest.h>

TEST(LabSweep, OneRunPerValue) {
    TempDir dir;
    ASSERT_FALSE(dir.path().empty());
    const std::string out = dir.path() + "/sweep";
    LabChild lab({PACELAG_LAB_BIN, "sweep", "-vary", "padlen", "-values", "100, 300", "-seconds",
                  "2", "-loopback", "-out", out, "-pacelag", PACELAG_BIN});
    const int status = lab.waitexit(30000);
    ASSERT_NE(status, -2) << lab.output();
    EXPECT_EQ(status, 0) << lab.output();
    EXPECT_TRUE(exists(run_path(out, kReportFile)));
    for (const char* value : {"100", "300"}) {
        const std::string run = out + "/padlen-" + value;
        auto summary = read_flat_json(slurp(run_path(run, kSummaryFile)));
        EXPECT_EQ(json_value(summary, summary_key::padlen), value) << run;
        EXPECT_EQ(json_value(summary, summary_key::emulation), "loopback");
        EXPECT_GT(read_csv(run_path(run, kTimelineFile)).size(), 50u) << run;
        EXPECT_TRUE(exists(run_path(run, kEventsFile))) << run;
        EXPECT_TRUE(exists(run_path(run, kReportFile))) << run;
    }
}
