// SPDX-License-Identifier: MIT
// The ssh session of a two-machine run, seen from the lab.
#include "remote.h"

#include "agent.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <poll.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

extern volatile sig_atomic_t lab_stop;

namespace {
constexpr int kHelloLimitS = 30;    // ssh's own connect timeout is 10 s
constexpr int kFirstExchanges = 8;  // NTP-style burst at the start
constexpr double kProbeEvery = 2.0; // then one exchange every this many s

double mono() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) + ts.tv_nsec / 1e9;
}
} // namespace

bool RemoteServer::send(const std::string& text) {
    if (ssh_.in < 0) return false;
    size_t done = 0;
    while (done < text.size()) {
        ssize_t n = write(ssh_.in, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

void RemoteServer::probe() {
    waiting_id_ = next_id_++;
    waiting_t1_ = host_clock();
    if (!send("probe " + std::to_string(waiting_id_) + "\n")) waiting_id_ = 0;
}

void RemoteServer::line(const std::string& text, const Sink& sink) {
    const double received = host_clock();
    StreamRecord r;
    std::string why;
    if (!stream_parse(text, r, why)) {
        // Not ours: a login banner or a shell's complaint. Kept for the
        // reason should the session fail.
        if (++bad_records_ <= 20) ssh_.errors += text + "\n";
        return;
    }
    if (r.type == "hello") {
        hello_ = true;
        hello_lab_ = r.lab_version;
        hello_pacelag_ = r.pacelag_version;
        port_ = r.port;
    } else if (r.type == "probe") {
        if (r.id == waiting_id_ && waiting_id_ != 0)
            clock_.add({waiting_t1_, r.t2, r.t3, received});
        waiting_id_ = 0;
    } else if (r.type == "error") {
        if (error_.empty()) error_ = r.text;
    } else if (r.type == "end") {
        end_ = true;
    } else if ((r.type == "sample" || r.type == "line") && sink) {
        sink(r, clock_.to_local(r.t));
    }
}

void RemoteServer::pump(const Sink& sink) {
    ssh_read_errors(ssh_);
    while (ssh_.out >= 0) {
        pollfd p = {ssh_.out, POLLIN, 0};
        if (poll(&p, 1, 0) <= 0) break;
        char buf[8192];
        ssize_t n = read(ssh_.out, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            close(ssh_.out);
            ssh_.out = -1;
            break;
        }
        buffer_.append(buf, static_cast<size_t>(n));
        size_t start = 0;
        for (size_t nl; (nl = buffer_.find('\n', start)) != std::string::npos; start = nl + 1)
            line(buffer_.substr(start, nl - start), sink);
        buffer_.erase(0, start);
        if (buffer_.size() > (1u << 20)) buffer_.clear(); // no line is this long
    }
}

void RemoteServer::tick() {
    const double now = mono();
    if (now < next_probe_) return;
    next_probe_ = now + kProbeEvery;
    probe(); // an unanswered one is given up
}

int RemoteServer::open(const RemoteSetup& setup, std::string& error) {
    setup_ = setup;
    const std::string host = setup.dest;
    std::vector<std::string> ssh_words;
    if (!split_command(setup.ssh, ssh_words, error)) return -1;
    std::vector<std::string> remote = {setup.lab,  "agent",
                                       "-pacelag", setup.pacelag,
                                       "-port",    std::to_string(setup.port),
                                       "-rate",    std::to_string(setup.rate),
                                       "-padlen",  std::to_string(setup.padlen)};
    if (setup.buflen > 0) remote.insert(remote.end(), {"-buflen", std::to_string(setup.buflen)});
    // A missing ssh here would exit 127 like a missing program there.
    if (find_in_path(ssh_words[0]).empty()) {
        error = "cannot run '" + ssh_words[0] + "' here: no such program (Debian's " +
                "openssh-client has ssh)";
        return -1;
    }
    if (ssh_start(ssh_, ssh_argv(ssh_words, setup.dest, remote)) != 0) {
        error = "cannot run '" + ssh_words[0] + "': " + strerror(errno);
        return -1;
    }
    auto fail = [&](const std::string& why) {
        stop(0, nullptr);
        error = why;
        return -1;
    };
    auto wait_for = [&](const std::function<bool()>& done, double seconds) {
        const double end = mono() + seconds;
        while (!done() && ssh_.out >= 0 && error_.empty() && !lab_stop && mono() < end) {
            pollfd p = {ssh_.out, POLLIN, 0};
            poll(&p, 1, 50);
            pump(nullptr);
        }
        return done();
    };
    if (!wait_for([&] { return hello_; }, kHelloLimitS)) {
        if (lab_stop) return fail("stopped before the remote side answered");
        if (!error_.empty()) {
            std::string hint = error_.find("pacelag '") != std::string::npos
                                   ? " (give its path with -remote-pacelag)"
                                   : "";
            return fail("on " + host + ": " + error_ + hint);
        }
        // The session's end tells why: ssh's own failure is 255, a remote
        // shell that finds no such program says 127.
        ssh_stop(ssh_, 3000);
        const int code = WIFEXITED(ssh_.status) ? WEXITSTATUS(ssh_.status) : -1;
        const std::string reason = ssh_reason(ssh_.errors);
        if (ssh_.out < 0 && code == 127)
            return fail("cannot run '" + setup.lab + "' on " + host +
                        " (give its path with -remote-lab): " + reason);
        if (code == 255) return fail("ssh to " + host + " failed: " + reason);
        if (code < 0 && ssh_.reaped && !WIFEXITED(ssh_.status))
            return fail("no answer from " + host + " within " + std::to_string(kHelloLimitS) +
                        " s");
        return fail("the remote side on " + host + " did not start (exit " + std::to_string(code) +
                    "): " + reason);
    }
    if (hello_lab_ != setup.lab_version ||
        (!setup.pacelag_version.empty() && hello_pacelag_ != setup.pacelag_version)) {
        return fail(host + " has pacelag-lab " + (hello_lab_.empty() ? "?" : hello_lab_) +
                    " and pacelag " + (hello_pacelag_.empty() ? "?" : hello_pacelag_) +
                    ", this host pacelag-lab " + setup.lab_version + " and pacelag " +
                    (setup.pacelag_version.empty() ? "?" : setup.pacelag_version) +
                    ": install the same version on both");
    }
    for (int i = 0; i < kFirstExchanges && !lab_stop; ++i) {
        probe();
        wait_for([&] { return waiting_id_ == 0; }, 5);
    }
    if (lab_stop) return fail("stopped while measuring the clock offset");
    if (!clock_.known()) return fail("no answer to the clock probes from " + host);
    next_probe_ = mono() + kProbeEvery;
    return 0;
}

int RemoteServer::start() {
    return send("start\n") ? 0 : -1;
}

bool RemoteServer::ended(std::string& why) {
    if (!error_.empty()) {
        why = "on " + setup_.dest + ": " + error_;
        return true;
    }
    if (end_ || ssh_.out < 0 || ssh_ended(ssh_)) {
        ssh_read_errors(ssh_);
        why = "the ssh session to " + setup_.dest + " ended: " + ssh_reason(ssh_.errors);
        return true;
    }
    return false;
}

void RemoteServer::stop(int grace_ms, const Sink& sink) {
    if (ssh_.pid < 0) return;
    if (ssh_.in >= 0 && !end_) send("stop\n");
    const double end = mono() + grace_ms / 1000.0;
    while (!end_ && ssh_.out >= 0 && mono() < end) {
        pollfd p = {ssh_.out, POLLIN, 0};
        poll(&p, 1, 20);
        pump(sink);
    }
    ssh_stop(ssh_, end_ ? 2000 : 500);
    ssh_.pid = -1;
}
