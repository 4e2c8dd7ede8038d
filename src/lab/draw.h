// SPDX-License-Identifier: MIT
// Drawing a run's report once its data are written. A measurement never fails
// for want of a drawing: without the charting library the data stay, and one
// line says how to draw the report later.
#pragma once

#include <string>

enum class DrawResult {
    Drawn,     // DIR/report.html written; its path printed
    NoLibrary, // the charting library is not installed; how to draw later printed
    Failed,    // the reason printed
};

DrawResult draw_run_report(const std::string& dir);
