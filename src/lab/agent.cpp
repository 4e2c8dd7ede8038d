// SPDX-License-Identifier: MIT
// The remote side of a two-machine run.
#include "agent.h"

#include "config.h"
#include "discover.h"
#include "labtext.h"
#include "netns.h"
#include "output_lines.h"
#include "pacelag_version.h"
#include "ports.h"
#include "sampler.h"
#include "stream.h"

#include "pacelag/util.h"
#include "pacelag/version.h"

#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <strings.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>
#include <vector>

namespace {
constexpr double kSampleEvery = 0.010;
// Beyond this much unsent output the lab is not reading: samples are dropped
// (lines and answers are kept).
constexpr size_t kOutputLimit = 1 << 20;

double mono() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) + ts.tv_nsec / 1e9;
}

// Standard output as a queue that never blocks the sampling: a lab that
// stops reading must not stop this side from noticing that it should end.
class Output {
  public:
    Output() { fcntl(1, F_SETFL, fcntl(1, F_GETFL) | O_NONBLOCK); }
    void say(const std::string& text, bool droppable = false) {
        if (droppable && pending_.size() > kOutputLimit) {
            ++dropped_;
            return;
        }
        pending_ += text;
        flush();
    }
    void flush() {
        while (!pending_.empty() && !broken_) {
            ssize_t n = write(1, pending_.data(), pending_.size());
            if (n > 0) {
                pending_.erase(0, static_cast<size_t>(n));
            } else if (n < 0 && errno == EINTR) {
                continue;
            } else {
                if (n < 0 && errno != EAGAIN) broken_ = true; // EPIPE: the lab is gone
                break;
            }
        }
    }
    // At the end: what is left, within `seconds`.
    void drain(double seconds) {
        double end = mono() + seconds;
        while (!pending_.empty() && !broken_ && mono() < end) {
            pollfd p = {1, POLLOUT, 0};
            poll(&p, 1, 20);
            flush();
        }
    }
    bool waiting() const { return !pending_.empty(); }
    bool broken() const { return broken_; }

  private:
    std::string pending_;
    bool broken_ = false;
    long dropped_ = 0;
};

std::string error_record(const std::string& text) {
    JsonObject o;
    o.text("type", "error");
    o.text("text", text.c_str());
    return o.finish();
}

bool is(const char* a, const char* b) {
    return strcasecmp(a, b) == 0;
}
} // namespace

std::string find_in_path(const std::string& name) {
    auto runnable = [](const std::string& p) {
        struct stat st;
        return stat(p.c_str(), &st) == 0 && S_ISREG(st.st_mode) && access(p.c_str(), X_OK) == 0;
    };
    if (name.find('/') != std::string::npos) return runnable(name) ? name : "";
    const char* path = getenv("PATH");
    std::string list = path ? path : "/usr/local/bin:/usr/bin:/bin";
    for (size_t start = 0; start <= list.size();) {
        size_t colon = list.find(':', start);
        if (colon == std::string::npos) colon = list.size();
        std::string candidate = list.substr(start, colon - start) + "/" + name;
        if (colon > start && runnable(candidate)) return candidate;
        start = colon + 1;
    }
    return "";
}

bool read_agent_options(aaContext* args, AgentOptions& o, std::string& error) {
    aarewind(args);
    for (const char* key = aanextkey(args); key != nullptr; key = aanextkey(args)) {
        const char* value = static_cast<const char*>(aaget(args, key));
        int64_t v = 0;
        int* slot = is(key, "port")          ? &o.port
                    : is(key, "rate")        ? &o.rate
                    : is(key, "padlen")      ? &o.padlen
                    : is(key, "buflen")      ? &o.buflen
                    : is(key, "quiet-limit") ? &o.quiet_limit_s
                                             : nullptr;
        const int64_t low = is(key, "port") || is(key, "padlen") ? 0 : 1;
        const int64_t high = is(key, "port")          ? 65535
                             : is(key, "rate")        ? 100000
                             : is(key, "padlen")      ? 4000
                             : is(key, "quiet-limit") ? 3600
                                                      : 100000000;
        if (slot != nullptr) {
            if (!parse_int(value, low, high, v)) {
                error = std::string("-") + key + " must be a whole number from " +
                        std::to_string(low) + " to " + std::to_string(high);
                return false;
            }
            *slot = static_cast<int>(v);
        } else if (is(key, "pacelag") && !strblank(value)) {
            o.pacelag = value;
        } else {
            error = std::string("unknown or empty option -") + key;
            return false;
        }
    }
    return true;
}

int lab_agent(const AgentOptions& o) {
    // A parent that dies (the session's shell) ends this side too.
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    Output out;
    const std::string pacelag = find_in_path(o.pacelag);
    if (pacelag.empty()) {
        out.say(error_record("cannot run pacelag '" + o.pacelag + "' here" +
                             (o.pacelag.find('/') == std::string::npos ? ": not found in PATH"
                                                                       : ": no such program")));
        out.drain(2);
        return 1;
    }
    const int port = o.port > 0 ? o.port : free_port();
    {
        JsonObject hello;
        hello.text("type", "hello");
        hello.text("lab_version", PACELAG_VERSION);
        hello.text("pacelag_version", pacelag_version(pacelag).c_str());
        hello.text("pacelag", pacelag.c_str());
        hello.integer("port", port);
        out.say(hello.finish());
    }
    if (port <= 0) {
        out.say(error_record(std::string("no free port: ") + strerror(errno)));
        out.drain(2);
        return 1;
    }

    int diag = diag_open();
    Child server;
    LineSplitter lines(false);
    std::string input;
    bool started = false, input_closed = false;
    double last_heard = mono(), next_sample = 0, next_query = 0;
    LabSock known;
    bool have = false;
    std::vector<LabSock> socks;
    std::string why_end;
    auto relay = [&](const char* data, size_t len) {
        const double t = host_clock();
        lines.feed(data, len,
                   [&](const std::string& line) { out.say(stream_line(t, "server", line)); });
    };

    while (!lab_stop && !out.broken() && why_end.empty()) {
        // Commands from the lab.
        pollfd fds[3];
        nfds_t n = 0;
        if (!input_closed) fds[n++] = {0, POLLIN, 0};
        const int server_at = server.out >= 0 ? static_cast<int>(n) : -1;
        if (server.out >= 0) fds[n++] = {server.out, POLLIN, 0};
        const int out_at = out.waiting() ? static_cast<int>(n) : -1;
        if (out.waiting()) fds[n++] = {1, POLLOUT, 0};
        // Rounded up: a wait of 0 for the last fraction of a millisecond
        // would spin.
        int wait = started ? static_cast<int>(std::ceil((next_sample - mono()) * 1000)) : 200;
        poll(fds, n, wait > 0 ? wait : 0);
        if (out_at >= 0 && fds[out_at].revents != 0) out.flush();
        if (!input_closed && fds[0].revents != 0) {
            const double received = host_clock();
            char buf[1024];
            ssize_t got = read(0, buf, sizeof buf);
            if (got == 0 || (got < 0 && errno != EINTR && errno != EAGAIN)) {
                input_closed = true;
                why_end = "the lab closed the session";
            } else if (got > 0) {
                last_heard = mono();
                input.append(buf, static_cast<size_t>(got));
                if (input.size() > 65536) input.erase(0, input.size() - 4096);
            }
            for (size_t nl; why_end.empty() && (nl = input.find('\n')) != std::string::npos;) {
                std::string cmd = input.substr(0, nl);
                input.erase(0, nl + 1);
                if (!cmd.empty() && cmd.back() == '\r') cmd.pop_back();
                long long id = 0;
                if (sscanf(cmd.c_str(), "probe %lld", &id) == 1) {
                    JsonObject a;
                    a.text("type", "probe");
                    a.integer("id", id);
                    a.number("t2", received, 6);
                    a.number("t3", host_clock(), 6);
                    out.say(a.finish());
                } else if (cmd == "start" && !started) {
                    std::vector<std::string> args = {pacelag,
                                                     "-mode",
                                                     "server",
                                                     "-port",
                                                     std::to_string(port),
                                                     "-rate",
                                                     std::to_string(o.rate),
                                                     "-padlen",
                                                     std::to_string(o.padlen)};
                    if (o.buflen > 0)
                        args.insert(args.end(), {"-buflen", std::to_string(o.buflen)});
                    std::vector<const char*> argv;
                    for (const std::string& a : args) argv.push_back(a.c_str());
                    argv.push_back(nullptr);
                    if (child_start(server, -1, argv.data()) != 0) {
                        out.say(
                            error_record(std::string("cannot start pacelag: ") + strerror(errno)));
                        why_end = "failed";
                        break;
                    }
                    started = true;
                    next_sample = mono();
                } else if (cmd == "stop") {
                    why_end = "stopped by the lab";
                }
            }
        }
        if (server_at >= 0 && fds[server_at].revents != 0) {
            char buf[4096];
            ssize_t got = read(server.out, buf, sizeof buf);
            if (got > 0) {
                relay(buf, static_cast<size_t>(got));
            } else if (got == 0) {
                close(server.out);
                server.out = -1;
            }
        }
        if (started && child_ended(server) && why_end.empty()) {
            out.say(error_record("the pacelag server ended"));
            why_end = "the server ended";
        }
        if (mono() - last_heard > o.quiet_limit_s) {
            out.say(error_record("no word from the lab for " + std::to_string(o.quiet_limit_s) +
                                 " s: the connection is taken as lost"));
            why_end = "quiet";
        }
        if (started && mono() >= next_sample) {
            const double t = host_clock();
            // A query by port walks the host's whole connection table: while
            // no connection is known it is asked every 100 ms, not every sample.
            if (diag >= 0 && !(have && diag_lookup(diag, known, known) == 0) &&
                (have || mono() >= next_query)) {
                have = false;
                next_query = mono() + 0.1;
                if (diag_query(diag, port, kLabStates, socks) == 0) {
                    if (const LabSock* s = pick_connection(socks, port, true)) {
                        known = *s;
                        have = true;
                    }
                }
            }
            out.say(have ? stream_sample(t, known) : stream_no_sample(t), true);
            next_sample += kSampleEvery;
            if (next_sample < mono() + 0.002) next_sample = mono() + kSampleEvery;
        }
    }
    // The whole group: a wrapper (such as faketime) between this side and
    // pacelag would otherwise pass the signal on to nobody.
    const pid_t group = server.pid;
    if (group > 0 && !server.reaped) kill(-group, SIGINT);
    child_stop(server, 3000, relay);
    if (group > 0) kill(-group, SIGKILL);
    const double t = host_clock();
    lines.finish([&](const std::string& line) { out.say(stream_line(t, "server", line)); });
    if (diag >= 0) close(diag);
    JsonObject end;
    end.text("type", "end");
    end.number("t", host_clock(), 6);
    out.say(end.finish());
    // With the session gone nobody reads the rest: it must not hold up the end.
    out.drain(input_closed ? 0.1 : 2);
    return 0;
}
