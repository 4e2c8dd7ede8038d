// SPDX-License-Identifier: MIT
// Reading pacelag's version from its usage text.
#include "pacelag_version.h"

#include "netns.h"

std::string version_from_usage(const std::string& usage) {
    size_t at = usage.find("(version ");
    if (at == std::string::npos) return "";
    size_t end = usage.find(')', at);
    if (end == std::string::npos) return "";
    return usage.substr(at + 9, end - at - 9);
}

std::string pacelag_version(const std::string& binary) {
    const char* argv[] = {binary.c_str(), nullptr};
    std::string out;
    run_command(argv, &out, 5000);
    return version_from_usage(out);
}
