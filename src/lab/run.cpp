// SPDX-License-Identifier: MIT
// The experiment runner: the test bed, the two pacelag processes, the 10 ms
// sampling loop and the clean-up that every path goes through. The jobs it
// calls on live beside it: rundir (the directory and its files), ports,
// pacelag_version, discover (the sockets to sample), output_lines (reading
// what pacelag prints), schedule, progress and draw (the report).
#include "run.h"

#include "discover.h"
#include "draw.h"
#include "netns.h"
#include "output_lines.h"
#include "pacelag_version.h"
#include "ports.h"
#include "progress.h"
#include "record.h"
#include "rundir.h"
#include "sampler.h"
#include "schedule.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <poll.h>
#include <sys/utsname.h>
#include <time.h>
#include <unistd.h>
#include <vector>

namespace {
constexpr double kSampleEvery = 0.010;
constexpr double kServerStartLimit = 5.0;
constexpr int kStopGraceMs = 3000;
constexpr int kPortTries = 5; // fresh ports tried after the first was taken

double mono_seconds() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) + ts.tv_nsec / 1e9;
}

// Everything one experiment holds; the destructor is the one clean-up path.
struct Experiment {
    const LabConfig& config;
    Testbed bed;
    Child server, client;
    DiagHandles diag;
    Recorder recorder;
    LineSplitter server_lines{false}, client_lines{true};
    ServerStart server_start;
    SockFinder server_sock{true}, client_sock{false};
    double t0 = 0;
    double server_started = 0; // when the server was last started
    int port = 0;
    bool port_picked = false; // the lab chose the port, and may choose another
    int port_tries = 0;
    bool stopping = false;

    explicit Experiment(const LabConfig& c) : config(c) {}
    ~Experiment() { cleanup(); }

    double now() const { return mono_seconds() - t0; }
    const char* side_of(const Child& c) const { return &c == &server ? kSideServer : kSideClient; }
    LineSplitter& lines_of(const Child& c) { return &c == &server ? server_lines : client_lines; }

    void take(Child& child, const char* data, size_t len) {
        const double t = now();
        const char* side = side_of(child);
        lines_of(child).feed(data, len, [&](const std::string& line) {
            recorder.event(t, side, line);
            if (&child == &server) server_start.line(line);
        });
    }

    void stop_children() {
        if (!stopping && (server.pid > 0 || client.pid > 0)) {
            // What they printed and the lab has not read yet came before the
            // stop, and counts as such. Bounded: a program may print on.
            for (int i = 0; i < 256 && read_output(0); ++i) {
            }
            // Marks after this row come from the stop itself (a message cut
            // short shows as '.'); the summary leaves them out.
            recorder.event(now(), kSideLab, kStoppingEvent);
            recorder.stopping();
        }
        stopping = true;
        // The client first, so the server sees the connection close as it
        // would in a real test, and then stops itself.
        for (Child* c : {&client, &server}) {
            child_stop(*c, kStopGraceMs, [&](const char* d, size_t n) { take(*c, d, n); });
            const char* side = side_of(*c);
            const double t = now();
            lines_of(*c).finish([&](const std::string& line) { recorder.event(t, side, line); });
        }
    }

    void cleanup() {
        stop_children();
        diag.close_all();
        std::string trouble;
        if (testbed_destroy(bed, &trouble) > 0) fputs(trouble.c_str(), stderr);
    }

    void sample() {
        LabSample s;
        s.t = now();
        s.server = server_sock.find(diag.server, port);
        s.client = client_sock.find(diag.client >= 0 ? diag.client : diag.server, port);
        if (bed.shaped && diag.qdisc >= 0) s.link_backlog = qdisc_backlog(diag.qdisc, diag.ifindex);
        recorder.sample(s);
    }

    // Reads what the programs printed, waiting at most `wait_ms`; false when
    // nothing came.
    bool read_output(int wait_ms) {
        pollfd fds[2];
        int n = 0;
        for (Child* c : {&server, &client})
            if (c->out >= 0) fds[n++] = {c->out, POLLIN, 0};
        if (poll(fds, static_cast<nfds_t>(n), wait_ms) <= 0) return false;
        for (int i = 0; i < n; ++i) {
            if (fds[i].revents == 0) continue;
            Child& c = fds[i].fd == server.out ? server : client;
            char buf[4096];
            ssize_t got = read(c.out, buf, sizeof buf);
            if (got > 0) {
                take(c, buf, static_cast<size_t>(got));
            } else if (got == 0) {
                close(c.out); // its end; child_ended notices the exit
                c.out = -1;
            }
        }
        return true;
    }

    // Runs until the time is up, a stop is asked for or a program ends.
    // 0, 1 (a program ended early) or 130 (stopped).
    int loop() {
        bool client_started = false;
        SampleSchedule samples(kSampleEvery);
        SampleSchedule progress(kProgressEvery, kProgressEvery);
        for (;;) {
            if (lab_stop) return 130;
            const double t = now();
            if (t >= config.seconds) return 0;
            bool restarted = false;
            for (Child* c : {&server, &client}) {
                if (c->pid < 0 || !child_ended(*c)) continue;
                std::string why = std::string("the ") + side_of(*c) + " ended early";
                // Keep what it printed last: it usually says why.
                child_stop(*c, 0, [&](const char* d, size_t n) { take(*c, d, n); });
                if (c == &server && !client_started && server_start.port_taken &&
                    restart_server()) {
                    restarted = true;
                    break;
                }
                recorder.event(now(), kSideLab, why);
                fprintf(stderr, "pacelag-lab: %s\n", why.c_str());
                return 1;
            }
            if (restarted) continue;
            if (!client_started && server_start.ready) {
                if (start_client() != 0) return 1;
                client_started = true;
            } else if (!client_started && t - server_started > kServerStartLimit) {
                fprintf(stderr, "pacelag-lab: the pacelag server did not start listening\n");
                recorder.event(t, kSideLab, "the server did not start listening");
                return 1;
            }
            read_output(wait_ms_until(samples.next(), now()));
            if (samples.due(now())) {
                sample();
                samples.taken(now());
            }
            if (progress.due(now())) {
                double est = 0;
                bool have = recorder.last_estimate(est);
                fputs(progress_line(progress.next(), have, est, recorder.last_age()).c_str(),
                      stdout);
                fflush(stdout);
                progress.taken(progress.next());
            }
        }
    }

    std::vector<std::string> pacelag_args(const char* mode, int rate, int buflen) const {
        std::vector<std::string> a = {config.pacelag, "-mode", mode};
        if (strcmp(mode, "client") == 0) {
            a.push_back("-host");
            a.push_back(bed.server_ip.empty() ? "127.0.0.1" : bed.server_ip);
        }
        a.insert(a.end(), {"-port", std::to_string(port), "-rate", std::to_string(rate), "-padlen",
                           std::to_string(config.padlen)});
        if (buflen > 0) a.insert(a.end(), {"-buflen", std::to_string(buflen)});
        return a;
    }

    int start(Child& child, int nsfd, const std::vector<std::string>& args) {
        std::vector<const char*> argv;
        for (const std::string& s : args) argv.push_back(s.c_str());
        argv.push_back(nullptr);
        std::string line = "started:";
        for (size_t i = 0; i < args.size(); ++i)
            line += " " + (i == 0 ? std::string("pacelag") : args[i]);
        if (child_start(child, nsfd, argv.data()) != 0) {
            fprintf(stderr, "pacelag-lab: cannot start %s: %s\n", args[0].c_str(), strerror(errno));
            return -1;
        }
        recorder.event(now(), kSideLab, line);
        return 0;
    }

    // The server could not bind the port picked for it: another program
    // took it after the lab found it free. When the lab picked it, the
    // server starts again on another one. False when it does not.
    bool restart_server() {
        if (!port_picked || port_tries >= kPortTries) return false;
        const int next = free_port();
        if (next <= 0) return false;
        server_lines.finish(
            [&](const std::string& line) { recorder.event(now(), kSideServer, line); });
        recorder.event(now(), kSideLab,
                       "port " + std::to_string(port) + " was taken; trying port " +
                           std::to_string(next));
        port = next;
        ++port_tries;
        server = Child();
        server_start = ServerStart();
        server_started = now();
        return start(server, bed.server_nsfd,
                     pacelag_args("server", config.server_rate, config.server_buflen)) == 0;
    }

    int start_client() {
        return start(client, bed.client_nsfd,
                     pacelag_args("client", config.client_rate, config.client_buflen));
    }

    int run();
};

int Experiment::run() {
    const bool root = geteuid() == 0;
    bool namespaces = root && !config.loopback;
    std::string why_loopback = root ? "on loopback as asked" : "not root, so on loopback";
    if (access(config.pacelag.c_str(), X_OK) != 0) {
        fprintf(stderr, "pacelag-lab: cannot run pacelag at '%s': %s\n", config.pacelag.c_str(),
                strerror(errno));
        return 1;
    }
    if (run_dir_prepare(config.out) != 0) {
        fprintf(stderr, "pacelag-lab: cannot make the directory '%s': %s\n", config.out.c_str(),
                strerror(errno));
        return 1;
    }
    RunFacts facts;
    facts.pacelag_version = pacelag_version(config.pacelag);
    utsname u;
    if (uname(&u) == 0) facts.kernel = u.release;

    std::string note;
    if (namespaces) {
        remove_leftovers();
        std::string error;
        if (testbed_create(bed, config.link_bps, config.delay_ms, note, error) != 0) {
            fprintf(stderr, "pacelag-lab: cannot build the test network: %s\n", error.c_str());
            // Without a link to shape, loopback still answers the question
            // (a container may deny namespaces even to root).
            if (config.link_bps > 0 || config.delay_ms > 0) return 1;
            namespaces = false;
            why_loopback = "on loopback instead";
        }
    }
    facts.emulation = namespaces ? "namespaces" : "loopback";
    if (namespaces) {
        port = config.port > 0 ? config.port : 5000;
    } else {
        port = config.port > 0 ? config.port : free_port();
        port_picked = config.port <= 0;
        if (port <= 0) {
            fprintf(stderr, "pacelag-lab: no free port: %s\n", strerror(errno));
            return 1;
        }
    }
    facts.port = port;
    facts.link_bps = bed.shaped ? config.link_bps : 0;
    facts.delay_ms = bed.delay_ms;

    if (open_diag_in(bed.server_nsfd, diag.server) != 0 ||
        (namespaces && open_diag_in(bed.client_nsfd, diag.client) != 0)) {
        fprintf(stderr, "pacelag-lab: the kernel refused socket diagnostics: %s\n",
                strerror(errno));
        return 1;
    }
    if (bed.shaped &&
        open_qdisc_in(bed.client_nsfd, bed.client_dev.c_str(), diag.qdisc, diag.ifindex) != 0)
        fprintf(stderr, "pacelag-lab: cannot read the link's queue; its column stays empty\n");
    if (recorder.open(config.out) != 0) {
        fprintf(stderr, "pacelag-lab: cannot write into '%s': %s\n", config.out.c_str(),
                strerror(errno));
        return 1;
    }

    std::string where = "loopback";
    if (namespaces)
        where = bed.shaped ? "namespaces, link " + std::to_string(config.link_bps) + " bit/s"
                           : "namespaces, unshaped link";
    fputs(start_line(config, where).c_str(), stdout);
    if (!namespaces)
        printf("pacelag-lab: %s: no link is emulated%s\n", why_loopback.c_str(),
               config.link_bps > 0 || config.delay_ms > 0 ? " (-link-rate and -delay ignored)"
                                                          : "");
    if (!note.empty()) printf("pacelag-lab: %s\n", note.c_str());
    fflush(stdout);

    t0 = mono_seconds();
    if (!note.empty()) recorder.event(0, kSideLab, note);
    int rc = start(server, bed.server_nsfd,
                   pacelag_args("server", config.server_rate, config.server_buflen)) == 0
                 ? loop()
                 : 1;
    facts.interrupted = rc == 130;
    facts.port = port; // another one when the first was taken
    stop_children();
    facts.duration = now();
    recorder.event(facts.duration, kSideLab, rc == 130 ? kStoppedEarlyEvent : kEndedEvent);
    cleanup();
    if (recorder.finish(config, facts) != 0) {
        fprintf(stderr, "pacelag-lab: cannot write the results into '%s': %s\n", config.out.c_str(),
                strerror(errno));
        return 1;
    }
    if (rc == 130) printf("pacelag-lab: stopped after %.1f s\n", facts.duration);
    if (draw_run_report(config.out) == DrawResult::Failed) return rc != 0 ? rc : 1;
    return rc;
}
} // namespace

int lab_run(const LabConfig& config) {
    Experiment experiment(config);
    return experiment.run();
}
