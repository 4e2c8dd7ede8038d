// SPDX-License-Identifier: MIT
// Command-line options of the lab's commands, read from the table args2aa
// builds (names without the dash, any letter case).
#pragma once

#include "config.h"
#include "watch.h"

#include <string>
#include <vector>

struct aaContext;

// Sets one run option from its text. False with a message in `error` when the
// name is unknown or the value is out of range.
bool apply_run_option(LabConfig& config, const char* name, const char* value, std::string& error);

// All options of `run` (and, with `sweep`, -vary and -values, returned
// through the two outputs; values split at commas). False with a message.
bool read_run_options(aaContext* args, bool sweep, LabConfig& config, std::string& vary,
                      std::vector<std::string>& values, std::string& error);

bool read_watch_options(aaContext* args, WatchOptions& options, std::string& error);

// The name a sweep gives the run directory of one value: the value with
// anything but letters, digits, '.', '_' and '-' turned into '_'.
std::string sweep_dirname(const std::string& vary, const std::string& value);
