// SPDX-License-Identifier: MIT
// The lab's report: reads an experiment's files (or several experiments'
// summaries for a sweep) and writes one self-contained report.html.
#include "report.h"

#include "report_page.h"
#include "rundir.h"

#include "pacelag/util.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

void complain(const std::string& what) {
    std::fprintf(stderr, "pacelag-lab: %s\n", what.c_str());
}

// Written beside and renamed, so a failed write never leaves half a page
// where a good one was.
int write_page(const std::string& dir, const std::string& html) {
    std::string path = run_path(dir, kReportFile), tmp = path + ".tmp";
    if (html.size() > static_cast<size_t>(INT_MAX)) {
        complain("the report for " + dir + " would exceed 2 GB; not written");
        return -1;
    }
    int r = writefile(tmp.c_str(), html.data(), static_cast<int>(html.size()));
    if (r != 0) {
        int e = errno;
        std::remove(tmp.c_str());
        complain("cannot write " + tmp + ": " + std::strerror(e));
        return -1;
    }
    if (std::rename(tmp.c_str(), path.c_str()) != 0) {
        int e = errno;
        std::remove(tmp.c_str());
        complain("cannot write " + path + ": " + std::strerror(e));
        return -1;
    }
    return 0;
}

bool blank(const char* text) {
    return !text || !*text;
}

std::string percent_encoded(const std::string& path) {
    std::string out;
    for (unsigned char c : path) {
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
            std::strchr("-._~/", c)) {
            out += static_cast<char>(c);
        } else {
            char hex[4];
            std::snprintf(hex, sizeof hex, "%%%02X", c);
            out += hex;
        }
    }
    return out;
}

// The run's own report as a link from the sweep's page: relative when the
// run lies under the sweep's directory, else absolute.
std::string run_link(const std::string& outdir, const std::string& rundir) {
    std::string base = outdir;
    while (base.size() > 1 && base.back() == '/') base.pop_back();
    std::string target;
    if (rundir.compare(0, base.size() + 1, base + "/") == 0 && rundir.size() > base.size() + 1) {
        target = rundir.substr(base.size() + 1);
    } else if (!rundir.empty() && rundir[0] == '/') {
        target = rundir;
    } else {
        char* real = realpath(rundir.c_str(), nullptr);
        target = real ? real : rundir;
        std::free(real);
    }
    return percent_encoded(run_path(target, kReportFile));
}

} // namespace

int lab_write_report(const char* dir) {
    if (blank(dir)) {
        complain("no directory given for the report");
        return -1;
    }
    RunInput run;
    std::string chartjs, html, err;
    if (!read_run(dir, run, err) || !load_chartjs(chartjs_path(), chartjs, err)) {
        complain(err);
        return -1;
    }
    if (!render_run_page(run, chartjs, html)) {
        complain(std::string("out of memory writing the report for ") + dir);
        return -1;
    }
    return write_page(dir, html);
}

int lab_write_sweep_report(const char* outdir, const char* vary, int count,
                           const char* const* values, const char* const* rundirs) {
    if (blank(outdir) || blank(vary) || count < 1 || !values || !rundirs) {
        complain("a sweep report needs a directory, the varied option and at least one run");
        return -1;
    }
    std::vector<SweepRun> runs(static_cast<size_t>(count));
    int readable = 0;
    for (int i = 0; i < count; ++i) {
        SweepRun& r = runs[static_cast<size_t>(i)];
        r.value = values[i] ? values[i] : "";
        std::string err, rundir = rundirs[i] ? rundirs[i] : "";
        r.link = run_link(outdir, rundir);
        // One failed experiment must not hide the others: its row shows n/a.
        if (rundir.empty() || !read_run_summary(rundir, r.run.summary, err)) {
            complain("warning: " + (rundir.empty()
                                        ? std::string("no directory for ") + vary + " " + r.value
                                        : err));
            continue;
        }
        ++readable;
        r.run.format_version = run_format_version(r.run.summary);
        if (!read_run_timeline(rundir, r.run.format_version, r.run.timeline, err))
            complain("warning: " + err + " (no timeline drawn for it)");
    }
    if (readable == 0) {
        complain(std::string("no experiment of the sweep could be read; no report in ") + outdir);
        return -1;
    }
    std::string chartjs, html, err;
    if (!load_chartjs(chartjs_path(), chartjs, err)) {
        complain(err);
        return -1;
    }
    if (!render_sweep_page(vary, runs, chartjs, html)) {
        complain(std::string("out of memory writing the report for ") + outdir);
        return -1;
    }
    return write_page(outdir, html);
}
