// SPDX-License-Identifier: MIT
// The version of the pacelag binary a run uses, for the summary.
#pragma once

#include <string>

// "1.0.0" from the usage text pacelag prints when run without options;
// empty when it says none.
std::string pacelag_version(const std::string& binary);

// The same from that text.
std::string version_from_usage(const std::string& usage);
