// SPDX-License-Identifier: MIT
// A run's report after the run, or the way to draw it later.
#include "draw.h"

#include "report.h"
#include "report_page.h"
#include "rundir.h"

#include <cerrno>
#include <cstdio>
#include <unistd.h>

DrawResult draw_run_report(const std::string& dir) {
    const char* chartjs = chartjs_path();
    if (access(chartjs, F_OK) != 0 && errno == ENOENT) {
        printf("pacelag-lab: no report drawn: %s is missing; install Debian's libjs-chart.js, "
               "then run: pacelag-lab report %s\n",
               chartjs, dir.c_str());
        fflush(stdout);
        return DrawResult::NoLibrary;
    }
    if (lab_write_report(dir.c_str()) != 0) {
        fprintf(stderr, "pacelag-lab: the report was not written; the data files are in %s\n",
                dir.c_str());
        return DrawResult::Failed;
    }
    printf("pacelag-lab: report: %s\n", run_path(dir, kReportFile).c_str());
    fflush(stdout);
    return DrawResult::Drawn;
}
