// SPDX-License-Identifier: MIT
// The fixed texts of the report pages: skeleton, styles, scripts and the
// templates of the parts that carry an experiment's values.
#pragma once

// Outer skeleton for keysub: $title $style $guard $chartjs $body $data $script
// (pieces already escaped for their place).
extern const char* const kPageSkeleton;
extern const char* const kPageStyle;
// Runs before anything else, so a failing script is recorded in the page.
extern const char* const kPageGuardJs;
// Drawing helpers and the "charts drawn" marker, shared by both pages.
extern const char* const kPageCommonJs;
extern const char* const kRunDrawJs;
extern const char* const kSweepDrawJs;

// htmlkeysub templates.
extern const char* const kRunHeader;          // $what
extern const char* const kSweepHeader;        // $vary $count
extern const char* const kSummaryRow;         // $label $cls $key $value
extern const char* const kRunCharts;          // $rateexplain
extern const char* const kRateExplainCadence; // $cadence $clientrate
extern const char* const kRateExplainEvery;
extern const char* const kRateExplainMarks;
extern const char* const kLinesHeader; // $shown $total
extern const char* const kLineRow;     // $t $side $line
extern const char* const kSweepCharts;
extern const char* const kSweepRowStart;   // $i $value $link
extern const char* const kSweepCell;       // $cls $i $key $value
extern const char* const kSweepTableStart; // $vary
extern const char* const kPageFooter;
