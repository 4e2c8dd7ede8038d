// SPDX-License-Identifier: MIT
// Helpers for the lab's tests: a pacelag-lab child with its output on a pipe,
// a temporary directory, and readers for the CSV and JSON files a run writes.
// Every wait is bounded; children are killed and reaped on every path.
#pragma once

#include "rundir.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <map>
#include <poll.h>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>
#include <utility>
#include <vector>

inline long long lab_now_ms() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec * 1000LL + ts.tv_nsec / 1000000;
}

class LabChild {
  public:
    // own_group: the child leads a process group of its own, as a program
    // started from a shell does, so that signal_group reaches it and
    // whatever it started in that group, as Ctrl-C at a terminal would.
    explicit LabChild(const std::vector<std::string>& args, bool own_group = false) {
        int fds[2];
        if (pipe2(fds, O_CLOEXEC) != 0) return;
        pid_ = fork();
        if (pid_ == 0) {
            if (own_group) setpgid(0, 0);
            dup2(fds[1], 1);
            dup2(fds[1], 2);
            std::vector<char*> argv;
            for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
            argv.push_back(nullptr);
            execv(argv[0], argv.data());
            _exit(127);
        }
        if (pid_ > 0 && own_group) setpgid(pid_, pid_);
        close(fds[1]);
        out_ = fds[0];
        if (pid_ < 0) {
            close(out_);
            out_ = -1;
        }
    }
    ~LabChild() {
        if (pid_ > 0 && status_ == kRunning) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        if (out_ >= 0) close(out_);
    }
    LabChild(const LabChild&) = delete;
    LabChild& operator=(const LabChild&) = delete;

    pid_t pid() const { return pid_; }
    const std::string& output() {
        pump(0);
        return text_;
    }
    // Reads until `text` appears or the time is up.
    bool waitfor(const std::string& text, int ms) {
        long long end = lab_now_ms() + ms;
        while (text_.find(text) == std::string::npos) {
            long long left = end - lab_now_ms();
            if (left <= 0 || !pump(static_cast<int>(left))) break;
        }
        return text_.find(text) != std::string::npos;
    }
    void signal(int sig) {
        if (pid_ > 0 && status_ == kRunning) kill(pid_, sig);
    }
    void signal_group(int sig) {
        if (pid_ > 0 && status_ == kRunning) kill(-pid_, sig);
    }
    // True once it has ended (reaped); reads what it printed meanwhile.
    bool ended() { return waitexit(0) != -2; }
    // Exit status; -1 when killed by a signal, -2 when still running after `ms`.
    int waitexit(int ms) {
        long long end = lab_now_ms() + ms;
        while (status_ == kRunning) {
            int st = 0;
            pid_t r = waitpid(pid_, &st, WNOHANG);
            if (r == pid_) {
                status_ = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
                break;
            }
            if (lab_now_ms() >= end) return -2;
            pump(20);
        }
        pump(0);
        return status_;
    }

  private:
    static constexpr int kRunning = -1000;
    // One read of what is there within `ms`; false at the pipe's end.
    bool pump(int ms) {
        if (out_ < 0) return false;
        pollfd p = {out_, POLLIN, 0};
        if (poll(&p, 1, ms) <= 0) return true;
        char buf[4096];
        ssize_t n = read(out_, buf, sizeof buf);
        if (n <= 0) {
            close(out_);
            out_ = -1;
            return false;
        }
        text_.append(buf, static_cast<size_t>(n));
        return true;
    }
    pid_t pid_ = -1;
    int out_ = -1;
    int status_ = kRunning;
    std::string text_;
};

// A fresh directory under /tmp, removed with everything in it at the end.
class TempDir {
  public:
    TempDir() {
        char tmpl[] = "/tmp/pacelag-lab-test-XXXXXX";
        if (mkdtemp(tmpl) != nullptr) path_ = tmpl;
    }
    ~TempDir() {
        if (!path_.empty()) remove_all(path_);
    }
    const std::string& path() const { return path_; }

  private:
    static void remove_all(const std::string& path) {
        if (DIR* d = opendir(path.c_str())) {
            while (dirent* e = readdir(d)) {
                std::string name = e->d_name;
                if (name == "." || name == "..") continue;
                std::string full = path + "/" + name;
                struct stat st;
                if (lstat(full.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
                    remove_all(full);
                else
                    unlink(full.c_str());
            }
            closedir(d);
        }
        rmdir(path.c_str());
    }
    std::string path_;
};

inline std::string slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

inline bool exists(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

// RFC 4180 rows: quoted fields with doubled quotes, lines ending in \n.
inline std::vector<std::vector<std::string>> read_csv(const std::string& path) {
    std::string text = slurp(path);
    std::vector<std::vector<std::string>> rows;
    std::vector<std::string> row;
    std::string field;
    bool quoted = false, any = false;
    for (size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (quoted) {
            if (c == '"' && i + 1 < text.size() && text[i + 1] == '"') {
                field += '"';
                ++i;
            } else if (c == '"') {
                quoted = false;
            } else {
                field += c;
            }
        } else if (c == '"') {
            quoted = true;
        } else if (c == ',') {
            row.push_back(field);
            field.clear();
        } else if (c == '\n') {
            row.push_back(field);
            rows.push_back(row);
            row.clear();
            field.clear();
        } else {
            field += c;
        }
        any = true;
    }
    if (any && (!field.empty() || !row.empty())) {
        row.push_back(field);
        rows.push_back(row);
    }
    return rows;
}

// The keys of a flat JSON object in order, with each value's text as written
// (strings without their quotes; escapes are not undone).
inline std::vector<std::pair<std::string, std::string>> read_flat_json(const std::string& text) {
    std::vector<std::pair<std::string, std::string>> out;
    size_t i = text.find('{');
    if (i == std::string::npos) return out;
    ++i;
    auto str = [&](std::string& s) {
        s.clear();
        ++i; // opening quote
        while (i < text.size() && text[i] != '"') {
            if (text[i] == '\\') s += text[i++];
            s += text[i++];
        }
        ++i;
    };
    while (i < text.size() && text[i] != '}') {
        if (text[i] == ',' || text[i] == ' ' || text[i] == '\n') {
            ++i;
            continue;
        }
        std::string key, value;
        str(key);
        ++i; // ':'
        if (text[i] == '"') {
            str(value);
        } else {
            while (i < text.size() && text[i] != ',' && text[i] != '}') value += text[i++];
        }
        out.emplace_back(key, value);
    }
    return out;
}

inline std::string json_value(const std::vector<std::pair<std::string, std::string>>& obj,
                              const std::string& key) {
    for (const auto& kv : obj)
        if (kv.first == key) return kv.second;
    return "";
}

// The lab's namespaces of run `tag` ("plab" and its pid) that exist: the
// server's (tag + "s") and the client's (tag + "c"), names matched whole.
inline int namespaces_named(const std::string& tag) {
    int n = 0;
    for (const char* side : {"s", "c"})
        if (exists("/run/netns/" + tag + side)) ++n;
    return n;
}

// Processes whose command line holds every one of `words`.
inline int processes_with(const std::vector<std::string>& words) {
    int n = 0;
    DIR* d = opendir("/proc");
    if (d == nullptr) return 0;
    while (dirent* e = readdir(d)) {
        if (e->d_name[0] < '0' || e->d_name[0] > '9') continue;
        std::string cmd = slurp(std::string("/proc/") + e->d_name + "/cmdline");
        for (char& c : cmd)
            if (c == '\0') c = ' ';
        bool all = !cmd.empty();
        for (const std::string& w : words) all = all && cmd.find(w) != std::string::npos;
        if (all) ++n;
    }
    closedir(d);
    return n;
}

// How well the estimated delay foretold the printed ages: for each timeline
// row from `from` seconds on, the estimate at t is the wait of the message
// sent at t, which the server reads near t + estimate; the ages it prints
// within half a second of then are averaged (they are whole seconds). Rows
// whose message is read after the end are skipped. Absolute differences in s.
inline std::vector<double> estimate_vs_age(const std::string& dir, double from) {
    auto timeline = read_csv(run_path(dir, kTimelineFile));
    auto events = read_csv(run_path(dir, kEventsFile));
    std::vector<std::pair<double, double>> ages;
    for (size_t i = 1; i < events.size(); ++i) {
        const auto& e = events[i];
        if (e.size() != 3 || e[1] != "server" || e[2].empty()) continue;
        if (e[2].find_first_not_of("-0123456789") != std::string::npos) continue;
        ages.emplace_back(atof(e[0].c_str()), atof(e[2].c_str()));
    }
    std::vector<double> diffs;
    if (timeline.size() < 2) return diffs;
    const double end = atof(timeline.back()[0].c_str());
    for (size_t i = 1; i < timeline.size(); ++i) {
        const auto& r = timeline[i];
        if (r.size() != kTimelineColumnCount || r[kColEstDelayMs].empty()) continue;
        double t = atof(r[kColT].c_str()), est = atof(r[kColEstDelayMs].c_str()) / 1000;
        if (t < from || t + est > end - 0.3) continue;
        double sum = 0;
        int n = 0;
        for (const auto& a : ages)
            if (a.first >= t + est - 0.5 && a.first <= t + est + 0.5) sum += a.second, ++n;
        if (n > 0) diffs.push_back(std::abs(sum / n - est));
    }
    return diffs;
}

inline double share_within(const std::vector<double>& v, double limit) {
    if (v.empty()) return 0;
    size_t n = 0;
    for (double x : v) n += x <= limit;
    return static_cast<double>(n) / v.size();
}

inline double median(std::vector<double> v) {
    if (v.empty()) return 1e9;
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}
