// SPDX-License-Identifier: MIT
// A run on a machine without the charting library: its data are written, it
// says how to draw the report later, and succeeds; drawn later, the report
// comes from the same files.
#include "lab_helpers.h"
#include "report_page.h"

#include <gtest/gtest.h>

TEST(LabRun, WithoutChartLibraryKeepsTheDataAndSucceeds) {
    TempDir dir;
    ASSERT_FALSE(dir.path().empty());
    const std::string out = dir.path() + "/run";
    setenv("PACELAG_LAB_CHARTJS", (dir.path() + "/no-chart.min.js").c_str(), 1);
    LabChild lab({PACELAG_LAB_BIN, "run", "-loopback", "-seconds", "2", "-out", out, "-pacelag",
                  PACELAG_BIN});
    unsetenv("PACELAG_LAB_CHARTJS");
    ASSERT_GT(lab.pid(), 0);
    EXPECT_EQ(lab.waitexit(30000), 0) << lab.output();
    for (const char* file : {kTimelineFile, kEventsFile, kSummaryFile})
        EXPECT_TRUE(exists(run_path(out, file))) << file;
    EXPECT_FALSE(exists(run_path(out, kReportFile)));
    // One line names the package and the command that draws the report.
    const std::string said = lab.output();
    const size_t at = said.find("libjs-chart.js");
    ASSERT_NE(at, std::string::npos) << said;
    const size_t start = said.rfind('\n', at) + 1, end = said.find('\n', at);
    EXPECT_NE(said.substr(start, end - start).find("pacelag-lab report " + out), std::string::npos)
        << said;

    // A sweep's measurements stand without the drawing too.
    setenv("PACELAG_LAB_CHARTJS", (dir.path() + "/no-chart.min.js").c_str(), 1);
    LabChild sweep({PACELAG_LAB_BIN, "sweep", "-vary", "padlen", "-values", "100,200", "-loopback",
                    "-seconds", "1", "-out", dir.path() + "/sweep", "-pacelag", PACELAG_BIN});
    unsetenv("PACELAG_LAB_CHARTJS");
    EXPECT_EQ(sweep.waitexit(30000), 0) << sweep.output();
    EXPECT_TRUE(exists(run_path(dir.path() + "/sweep/padlen-200", kSummaryFile)));
    EXPECT_NE(sweep.output().find("no sweep report drawn"), std::string::npos) << sweep.output();

    if (access(kChartJsPath, R_OK) != 0) GTEST_SKIP() << "no libjs-chart.js to draw it now";
    LabChild report({PACELAG_LAB_BIN, "report", out});
    EXPECT_EQ(report.waitexit(30000), 0) << report.output();
    EXPECT_TRUE(exists(run_path(out, kReportFile)));
}
