// SPDX-License-Identifier: MIT
// Progress lines of a run.
#include "progress.h"

#include <cmath>
#include <cstdio>

std::string progress_line(double t, bool have_estimate, double estimate_ms, int64_t last_age) {
    std::string e = "unknown";
    if (have_estimate) e = std::to_string(std::llround(estimate_ms)) + " ms";
    std::string age = last_age >= 0 ? std::to_string(last_age) + " s" : "none yet";
    char head[32];
    snprintf(head, sizeof head, "  %3.0f s", t);
    return std::string(head) + "  estimated delay " + e + ", last printed age " + age + "\n";
}

std::string start_line(const LabConfig& config, const std::string& where) {
    char text[512];
    snprintf(text, sizeof text,
             "pacelag-lab: client %d/s, server %d/s, %d-byte padding, %s, for %d s into ",
             config.client_rate, config.server_rate, config.padlen, where.c_str(), config.seconds);
    return text + config.out + "\n";
}
