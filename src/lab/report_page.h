// SPDX-License-Identifier: MIT
// Building the report pages: the experiment's data turned into one HTML text
// with Chart.js, the styles, the drawing script and the data inlined.
#pragma once

#include "report_data.h"

#include <string>
#include <vector>

// Debian's libjs-chart.js puts the library here.
extern const char* const kChartJsPath;
// Where the charting library is read from: the environment's
// PACELAG_LAB_CHARTJS when set and not empty, else kChartJsPath.
const char* chartjs_path();

// One experiment as read from its directory.
using RunInput = RunData;

// One experiment of a sweep: the value as the user wrote it, the run, and
// the link to its own report (relative to the sweep's page).
struct SweepRun {
    std::string value;
    RunInput run;
    std::string link;
};

// Reads the charting library; false with a one-line reason naming the
// package when it is missing or unreadable.
bool load_chartjs(const char* path, std::string& js, std::string& err);

// false only when memory runs out.
bool render_run_page(const RunInput& run, const std::string& chartjs, std::string& html);
bool render_sweep_page(const std::string& vary, const std::vector<SweepRun>& runs,
                       const std::string& chartjs, std::string& html);

// Text placed inside a <script> element as part of a JSON/JS literal: '<'
// and the control bytes jsonkeysub leaves raw become \u escapes, so no value
// can end the element or open an HTML comment in it.
std::string script_safe(const std::string& json);
