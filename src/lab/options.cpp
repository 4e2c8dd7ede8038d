// SPDX-License-Identifier: MIT
// Reading and checking the lab's options.
#include "options.h"

#include "labtext.h"
#include "listen_address.h"
#include "pacelag/util.h"

#include <cstring>
#include <strings.h>

namespace {
bool number(const char* name, const char* value, int64_t low, int64_t high, int64_t& out,
            std::string& error) {
    if (strblank(value)) {
        error = std::string("-") + name + " needs a value";
        return false;
    }
    if (parse_int(value, low, high, out)) return true;
    error = std::string("-") + name + " must be a whole number from " + std::to_string(low) +
            " to " + std::to_string(high) + ", not '" + value + "'";
    return false;
}

bool is(const char* name, const char* want) {
    return strcasecmp(name, want) == 0;
}

const char* const kSweepable[] = {"buflen", "client-rate", "server-rate", "padlen", "link-rate"};
} // namespace

bool apply_run_option(LabConfig& c, const char* name, const char* value, std::string& error) {
    int64_t v = 0;
    if (is(name, "server-rate") || is(name, "client-rate")) {
        if (!number(name, value, 1, 100000, v, error)) return false;
        (is(name, "server-rate") ? c.server_rate : c.client_rate) = static_cast<int>(v);
    } else if (is(name, "padlen")) {
        if (!number(name, value, 0, 4000, v, error)) return false;
        c.padlen = static_cast<int>(v);
    } else if (is(name, "buflen") || is(name, "client-buflen") || is(name, "server-buflen")) {
        if (!number(name, value, 1, 100000000, v, error)) return false;
        if (!is(name, "server-buflen")) c.client_buflen = static_cast<int>(v);
        if (!is(name, "client-buflen")) c.server_buflen = static_cast<int>(v);
    } else if (is(name, "link-rate")) {
        v = parse_bitrate(value);
        if (v < 1) {
            error = std::string("-link-rate must be a rate in bits per second such as 1mbit, "
                                "500kbit or 64000, not '") +
                    (value ? value : "") + "'";
            return false;
        }
        c.link_bps = v;
    } else if (is(name, "delay")) {
        if (!number(name, value, 0, 60000, v, error)) return false;
        c.delay_ms = static_cast<int>(v);
    } else if (is(name, "seconds")) {
        if (!number(name, value, 1, 86400, v, error)) return false;
        c.seconds = static_cast<int>(v);
    } else if (is(name, "port")) {
        if (!number(name, value, 1, 65535, v, error)) return false;
        c.port = static_cast<int>(v);
    } else if (is(name, "out") || is(name, "pacelag") || is(name, "remote") || is(name, "ssh") ||
               is(name, "remote-pacelag") || is(name, "remote-lab")) {
        if (strblank(value)) {
            error = std::string("-") + name + " needs a value";
            return false;
        }
        (is(name, "out")              ? c.out
         : is(name, "pacelag")        ? c.pacelag
         : is(name, "remote")         ? c.remote
         : is(name, "ssh")            ? c.ssh
         : is(name, "remote-pacelag") ? c.remote_pacelag
                                      : c.remote_lab) = value;
    } else if (is(name, "loopback")) {
        if (!strblank(value) && !istrueword(value) && !isfalseword(value)) {
            error = std::string("-loopback takes no value, not '") + value + "'";
            return false;
        }
        c.loopback = strblank(value) || istrueword(value);
    } else {
        error = std::string("unknown option -") + name;
        return false;
    }
    if (is(name, "link-rate") || is(name, "delay") || is(name, "loopback")) c.link_given = true;
    return true;
}

bool read_run_options(aaContext* args, bool sweep, LabConfig& config, std::string& vary,
                      std::vector<std::string>& values, std::string& error) {
    // -buflen first, so that -client-buflen and -server-buflen win wherever
    // they stand.
    const char* both = static_cast<const char*>(aaget(args, "buflen"));
    if (both != nullptr && !apply_run_option(config, "buflen", both, error)) return false;
    const char* varytext = nullptr;
    const char* valuetext = nullptr;
    aarewind(args);
    for (const char* key = aanextkey(args); key != nullptr; key = aanextkey(args)) {
        const char* value = static_cast<const char*>(aaget(args, key));
        if (sweep && is(key, "vary")) {
            varytext = value;
        } else if (sweep && is(key, "values")) {
            valuetext = value;
        } else if (!is(key, "buflen") && !apply_run_option(config, key, value, error)) {
            return false;
        }
    }
    if (!sweep) return true;
    if (strblank(varytext)) {
        error = "sweep needs -vary buflen|client-rate|server-rate|padlen|link-rate";
        return false;
    }
    vary.clear();
    for (const char* name : kSweepable)
        if (is(varytext, name)) vary = name;
    if (vary.empty()) {
        error = std::string("-vary must be one of buflen, client-rate, server-rate, padlen, "
                            "link-rate, not '") +
                varytext + "'";
        return false;
    }
    values.clear();
    std::string text = valuetext ? valuetext : "";
    for (size_t start = 0; start <= text.size();) {
        size_t comma = text.find(',', start);
        if (comma == std::string::npos) comma = text.size();
        std::string v = text.substr(start, comma - start);
        while (!v.empty() && v.front() == ' ') v.erase(v.begin());
        while (!v.empty() && v.back() == ' ') v.pop_back();
        if (!v.empty()) values.push_back(v);
        start = comma + 1;
    }
    if (values.empty()) {
        error = "sweep needs -values with at least one value, such as -values 2048,8192,65536";
        return false;
    }
    for (const std::string& v : values) {
        LabConfig probe = config;
        if (!apply_run_option(probe, vary.c_str(), v.c_str(), error)) return false;
    }
    return true;
}

bool read_watch_options(aaContext* args, WatchOptions& o, std::string& error) {
    aarewind(args);
    for (const char* key = aanextkey(args); key != nullptr; key = aanextkey(args)) {
        const char* value = static_cast<const char*>(aaget(args, key));
        int64_t v = 0;
        if (is(key, "port")) {
            if (!number(key, value, 1, 65535, v, error)) return false;
            o.port = static_cast<int>(v);
        } else if (is(key, "interval")) {
            if (!number(key, value, 1, 3600000, v, error)) return false;
            o.interval_ms = static_cast<int>(v);
        } else if (is(key, "json")) {
            if (!strblank(value) && !istrueword(value) && !isfalseword(value)) {
                error = std::string("-json takes no value, not '") + value + "'";
                return false;
            }
            o.json = strblank(value) || istrueword(value);
        } else if (is(key, "csv")) {
            if (strblank(value)) {
                error = "-csv needs a file name";
                return false;
            }
            o.csv = value;
        } else if (is(key, "metrics")) {
            sockaddr_storage addr;
            socklen_t len = 0;
            if (!parse_listen_address(value, addr, len, error)) return false;
            o.metrics = value;
        } else if (is(key, "quiet")) {
            if (!strblank(value) && !istrueword(value) && !isfalseword(value)) {
                error = std::string("-quiet takes no value, not '") + value + "'";
                return false;
            }
            o.quiet = strblank(value) || istrueword(value);
        } else {
            error = std::string("unknown option -") + key;
            return false;
        }
    }
    return true;
}

std::string sweep_dirname(const std::string& vary, const std::string& value) {
    std::string name = vary + "-";
    for (char ch : value) {
        bool keep = (ch >= 'a' && ch <= 'z') || (ch >= 'A' && ch <= 'Z') ||
                    (ch >= '0' && ch <= '9') || ch == '.' || ch == '_' || ch == '-';
        name += keep ? ch : '_';
    }
    return name;
}
