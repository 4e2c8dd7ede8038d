// SPDX-License-Identifier: MIT
// What one experiment is asked to do, and the stop flag every long-running
// command of the lab watches.
#pragma once

#include <csignal>
#include <cstdint>
#include <string>

struct LabConfig {
    int server_rate = 2;
    int client_rate = 4;
    int padlen = 200;
    int client_buflen = 0; // 0: the system's default
    int server_buflen = 0;
    int64_t link_bps = 0; // 0: no shaping
    int delay_ms = 0;
    int seconds = 30;
    int port = 0;          // 0: 5000 in namespaces, a free one on loopback
    bool loopback = false; // stay on loopback even as root
    std::string out = "lab-out";
    std::string pacelag; // the pacelag binary
};

// Set from a signal handler to end a run or a watch early; a run is then
// cleaned up and its files are written for the time it ran.
extern volatile sig_atomic_t lab_stop;
