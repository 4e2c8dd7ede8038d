// SPDX-License-Identifier: MIT
// The clock offset as the report explains it.
#include "report_remote.h"

#include <cmath>
#include <cstdio>

double clock_offset_s(const std::vector<JsonMember>& summary) {
    const double ms = json_number(summary, "clock_offset_ms");
    return std::isfinite(ms) && std::fabs(ms) < 1e12 ? ms / 1000 : NAN;
}

std::string clock_offset_note(const std::vector<JsonMember>& summary) {
    const double offset = clock_offset_s(summary);
    if (std::isnan(offset)) return "";
    const JsonMember* host = json_find(summary, "remote_host");
    const std::string where =
        host != nullptr && host->kind == JsonKind::String ? host->text : "the server's host";
    double within = json_number(summary, "clock_offset_uncertainty_ms");
    char text[512];
    snprintf(text, sizeof text,
             "The server ran on %s, whose clock was %.1f ms %s the lab's (within %.3g ms, "
             "measured over ssh). ",
             where.c_str(), std::fabs(offset) * 1000, offset >= 0 ? "ahead of" : "behind",
             std::isfinite(within) ? within : 0.0);
    std::string note = text;
    // An age is the server's clock at reading less the client's at sending,
    // in whole seconds: an offset below a second hides in that rounding.
    if (std::fabs(offset) >= 1) {
        snprintf(text, sizeof text,
                 "So %.1f s of each age the server printed is clock difference, not waiting: "
                 "the delay chart shows the ages as printed and with the offset taken out. ",
                 offset);
    } else {
        snprintf(text, sizeof text,
                 "That is less than the printed ages' resolution of one second, so they are "
                 "shown as printed. ");
    }
    note += text;
    note += "Times from the server's host are moved onto the lab's clock before they are "
            "merged, so every time on this page carries the offset's uncertainty as well.";
    return note;
}
