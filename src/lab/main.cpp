// SPDX-License-Identifier: MIT
// pacelag-lab: watches pacelag's connections in the kernel, runs experiments
// with the real pacelag binaries, sweeps one parameter, and draws reports.
#include "agent.h"
#include "options.h"
#include "report.h"
#include "report_page.h"
#include "rundir.h"
#include "run.h"
#include "watch.h"

#include "pacelag/util.h"
#include "pacelag/version.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {
const char kUsage[] =
    "Usage:\n"
    "  pacelag-lab watch [-port N] [-interval MS] [-csv FILE] [-json] [-metrics ADDRESS:PORT]\n"
    "                    [-quiet]\n"
    "  pacelag-lab run [-client-rate N] [-server-rate N] [-padlen N] [-buflen N]\n"
    "                  [-client-buflen N] [-server-buflen N] [-link-rate RATE] [-delay MS]\n"
    "                  [-seconds N] [-out DIR] [-port N] [-loopback] [-pacelag PATH]\n"
    "                  [-remote [USER@]HOST [-ssh COMMAND] [-remote-pacelag PATH]\n"
    "                  [-remote-lab PATH]]\n"
    "  pacelag-lab sweep -vary buflen|client-rate|server-rate|padlen|link-rate\n"
    "                  -values A,B,C [run options]\n"
    "  pacelag-lab report DIR\n"
    "See pacelag-lab(1).\n";

extern "C" void on_stop(int) {
    lab_stop = 1;
}

void install_handlers() {
    struct sigaction a;
    memset(&a, 0, sizeof a);
    a.sa_handler = on_stop;
    sigemptyset(&a.sa_mask);
    a.sa_flags = 0; // no SA_RESTART: waits must wake up and see the stop
    sigaction(SIGINT, &a, nullptr);
    sigaction(SIGTERM, &a, nullptr);
    sigaction(SIGHUP, &a, nullptr);
    signal(SIGPIPE, SIG_IGN);
}

bool executable(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && access(path.c_str(), X_OK) == 0;
}

// pacelag beside this program (an installed pair), then the one this build
// made, then the first in PATH.
std::string find_pacelag() {
    char self[4096];
    ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    if (n > 0) {
        self[n] = '\0';
        std::string dir(self);
        dir.erase(dir.rfind('/') + 1);
        if (executable(dir + "pacelag")) return dir + "pacelag";
    }
#ifdef PACELAG_BUILD_BIN
    if (executable(PACELAG_BUILD_BIN)) return PACELAG_BUILD_BIN;
#endif
    const char* path = getenv("PATH");
    std::string list = path ? path : "/usr/local/bin:/usr/bin:/bin";
    for (size_t start = 0; start <= list.size();) {
        size_t colon = list.find(':', start);
        if (colon == std::string::npos) colon = list.size();
        std::string candidate = list.substr(start, colon - start) + "/pacelag";
        if (colon > start && executable(candidate)) return candidate;
        start = colon + 1;
    }
    return "pacelag";
}

int usage_error(const std::string& message) {
    fprintf(stderr, "pacelag-lab: %s\n%s", message.c_str(), kUsage);
    return 2;
}

int sweep(LabConfig base, const std::string& vary, const std::vector<std::string>& values) {
    const std::string outdir = base.out;
    std::vector<std::string> dirs;
    std::vector<std::string> done; // values whose run left a summary
    int rc = 0;
    for (const std::string& value : values) {
        LabConfig config = base;
        std::string error;
        apply_run_option(config, vary.c_str(), value.c_str(), error); // checked before
        config.out = outdir + "/" + sweep_dirname(vary, value);
        printf("pacelag-lab: sweep: -%s %s\n", vary.c_str(), value.c_str());
        fflush(stdout);
        int one = lab_run(config);
        struct stat st;
        if (stat(run_path(config.out, kSummaryFile).c_str(), &st) == 0) {
            dirs.push_back(config.out);
            done.push_back(value);
        }
        if (one == 130) {
            rc = 130;
            break;
        }
        if (one != 0) rc = 1;
    }
    if (dirs.empty()) return rc != 0 ? rc : 1;
    std::vector<const char*> v, d;
    for (size_t i = 0; i < dirs.size(); ++i) {
        v.push_back(done[i].c_str());
        d.push_back(dirs[i].c_str());
    }
    // As for one run: the measurements stand without the drawing.
    if (access(chartjs_path(), F_OK) != 0 && errno == ENOENT) {
        printf("pacelag-lab: no sweep report drawn: %s is missing; install Debian's "
               "libjs-chart.js; each run's data are in %s/\n",
               chartjs_path(), outdir.c_str());
        return rc;
    }
    if (lab_write_sweep_report(outdir.c_str(), vary.c_str(), static_cast<int>(dirs.size()),
                               v.data(), d.data()) != 0) {
        fprintf(stderr, "pacelag-lab: the sweep report was not written\n");
        return rc != 0 ? rc : 1;
    }
    printf("pacelag-lab: sweep report: %s/report.html\n", outdir.c_str());
    return rc;
}
} // namespace

int main(int argc, char** argv) {
    install_handlers();
    if (argc < 2) return usage_error("a command is needed");
    const char* command = argv[1];
    if (strcmp(command, "-h") == 0 || strcmp(command, "--help") == 0 ||
        strcmp(command, "help") == 0) {
        fputs(kUsage, stdout);
        return 0;
    }
    if (strcmp(command, "-version") == 0 || strcmp(command, "--version") == 0) {
        printf("pacelag-lab %s\n", PACELAG_VERSION);
        return 0;
    }
    if (strcmp(command, "report") == 0) {
        if (argc != 3 || strblank(argv[2])) return usage_error("report needs one directory");
        if (lab_write_report(argv[2]) != 0) return 1;
        printf("pacelag-lab: report: %s/report.html\n", argv[2]);
        return 0;
    }
    const bool is_agent = strcmp(command, "agent") == 0;
    const bool is_watch = strcmp(command, "watch") == 0;
    const bool is_run = strcmp(command, "run") == 0;
    const bool is_sweep = strcmp(command, "sweep") == 0;
    if (!is_watch && !is_run && !is_sweep && !is_agent)
        return usage_error(std::string("unknown command '") + command + "'");

    // args2aa skips its first word, which here is the command.
    aaContext* args = args2aa(argc - 1, argv + 1);
    if (args == nullptr) {
        fprintf(stderr, "pacelag-lab: out of memory\n");
        return 1;
    }
    std::string error;
    int rc = 0;
    if (is_agent) {
        AgentOptions options;
        bool ok = read_agent_options(args, options, error);
        aafree(args);
        if (!ok) return usage_error(error);
        return lab_agent(options);
    }
    if (is_watch) {
        WatchOptions options;
        if (!read_watch_options(args, options, error)) {
            aafree(args);
            return usage_error(error);
        }
        aafree(args);
        return lab_watch(options);
    }
    LabConfig config;
    std::string vary;
    std::vector<std::string> values;
    bool ok = read_run_options(args, is_sweep, config, vary, values, error);
    aafree(args);
    if (!ok) return usage_error(error);
    if (config.pacelag.empty()) config.pacelag = find_pacelag();
    rc = is_sweep ? sweep(config, vary, values) : lab_run(config);
    return rc;
}
