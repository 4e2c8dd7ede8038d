// SPDX-License-Identifier: MIT
// The experiment runner: test bed, the two pacelag processes, the 10 ms
// sampling loop and the clean-up that every path goes through.
#include "run.h"

#include "labtext.h"
#include "merge.h"
#include "netns.h"
#include "record.h"
#include "remote.h"
#include "report.h"
#include "sampler.h"
#include "ssh.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <net/if.h>
#include "pacelag/version.h"
#include <netinet/in.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/utsname.h>
#include <time.h>
#include <unistd.h>
#include <vector>

volatile sig_atomic_t lab_stop = 0;

namespace {
constexpr double kSampleEvery = 0.010;
constexpr double kServerStartLimit = 5.0;
constexpr int kStopGraceMs = 3000;

double mono_seconds() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) + ts.tv_nsec / 1e9;
}

// mkdir -p
int make_dirs(const std::string& path) {
    std::string part;
    for (size_t i = 0; i <= path.size(); ++i) {
        if (i == path.size() || (path[i] == '/' && i > 0)) {
            part = path.substr(0, i);
            if (mkdir(part.c_str(), 0755) != 0 && errno != EEXIST) return -1;
        }
    }
    struct stat st;
    if (stat(path.c_str(), &st) != 0) return -1;
    if (!S_ISDIR(st.st_mode)) {
        errno = ENOTDIR;
        return -1;
    }
    return 0;
}

// A port nobody listens on right now, as the server binds (dual-stack).
int free_port() {
    int fd = socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    int off = 0;
    setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &off, sizeof off);
    sockaddr_in6 a;
    memset(&a, 0, sizeof a);
    a.sin6_family = AF_INET6;
    socklen_t len = sizeof a;
    int port = -1;
    if (bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
        getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) == 0)
        port = ntohs(a.sin6_port);
    close(fd);
    return port;
}

// "1.0.0" from the usage text pacelag prints without options.
std::string pacelag_version(const std::string& binary) {
    const char* argv[] = {binary.c_str(), nullptr};
    std::string out;
    run_command(argv, &out, 5000);
    size_t at = out.find("(version ");
    if (at == std::string::npos) return "";
    size_t end = out.find(')', at);
    if (end == std::string::npos) return "";
    return out.substr(at + 9, end - at - 9);
}

struct Opened {
    int diag = -1;
    int qdisc = -1;
    int ifindex = 0;
    const char* dev = nullptr;
};

int open_diag(void* arg) {
    Opened* o = static_cast<Opened*>(arg);
    o->diag = diag_open();
    return o->diag < 0 ? -1 : 0;
}

int open_qdisc(void* arg) {
    Opened* o = static_cast<Opened*>(arg);
    o->ifindex = static_cast<int>(if_nametoindex(o->dev));
    o->qdisc = qdisc_open();
    return o->qdisc < 0 || o->ifindex == 0 ? -1 : 0;
}

// The established connection among `socks` whose local (server) or remote
// (client) port is `port`.
const LabSock* pick(const std::vector<LabSock>& socks, int port, bool server) {
    const LabSock* found = nullptr;
    for (const LabSock& s : socks) {
        if ((server ? s.lport : s.rport) != port) continue;
        if (s.state == 1) return &s; // TCP_ESTABLISHED
        if (found == nullptr) found = &s;
    }
    return found;
}

// Everything one experiment holds; the destructor is the one clean-up path.
struct Experiment {
    const LabConfig& config;
    Testbed bed;
    Child server, client;
    Opened sdiag, cdiag, link;
    Recorder recorder;
    LineSplitter server_lines{false}, client_lines{true};
    double t0 = 0;
    int port = 0;
    bool server_ready = false;  // it printed that it listens
    bool server_failed = false; // it printed an error before that
    // A two-machine run: the server is on the remote host, its socket
    // sampled there; `r0` is this host's wall clock at t0.
    bool is_remote = false;
    RemoteServer remote;
    TimelineMerge merge;
    double r0 = 0;

    explicit Experiment(const LabConfig& c) : config(c) {}
    ~Experiment() { cleanup(); }

    double now() const { return mono_seconds() - t0; }

    void take(Child& child, const char* data, size_t len) {
        const double t = now();
        const char* side = &child == &server ? "server" : "client";
        LineSplitter& split = &child == &server ? server_lines : client_lines;
        split.feed(data, len, [&](const std::string& line) {
            if (&child == &server)
                server_line(t, line);
            else
                recorder.event(t, side, line);
        });
    }

    void server_line(double t, const std::string& line) {
        recorder.event(t, "server", line);
        // A server that failed to set up says so first, then that it
        // waits, and ends: it is not ready.
        if (line.compare(0, 7, "[ERROR]") == 0) server_failed = true;
        if (line == "Waiting for connection.." && !server_failed) server_ready = true;
    }

    // What the remote side sends, its time already on this host's clock.
    void remote_record(const StreamRecord& r, double local_time) {
        const double t = local_time - r0;
        if (r.type == "sample")
            merge.add_remote(t, r.has_sock ? &r.sock : nullptr);
        else if (r.type == "line" && r.side == "server")
            server_line(t, r.text);
    }
    RemoteServer::Sink remote_sink() {
        return [this](const StreamRecord& r, double lt) { remote_record(r, lt); };
    }

    bool stopping = false;

    void stop_children() {
        if (!stopping && (server.pid > 0 || client.pid > 0 || remote.fd() >= 0)) {
            // Marks after this row come from the stop itself (a message cut
            // short shows as '.'); the summary leaves them out.
            recorder.event(now(), "lab", "stopping pacelag");
            recorder.stopping();
        }
        stopping = true;
        // The client first, so the server sees the connection close as it
        // would in a real test, and then stops itself.
        for (Child* c : {&client, &server}) {
            child_stop(*c, kStopGraceMs, [&](const char* d, size_t n) { take(*c, d, n); });
            const char* side = c == &server ? "server" : "client";
            LineSplitter& split = c == &server ? server_lines : client_lines;
            const double t = now();
            split.finish([&](const std::string& line) { recorder.event(t, side, line); });
        }
        if (is_remote) {
            remote.stop(kStopGraceMs + 2000, remote_sink());
            merge.flush(now(), true, [&](const LabSample& s) { recorder.sample(s); });
        }
    }

    void cleanup() {
        stop_children();
        for (int* fd : {&sdiag.diag, &cdiag.diag, &link.qdisc}) {
            if (*fd >= 0) close(*fd);
            *fd = -1;
        }
        testbed_destroy(bed);
    }

    // Once both sockets are known each sample is two hash lookups; a query
    // by port walks every connection of the host and is kept for finding
    // them (before the connection, or after it changed).
    LabSock known_server, known_client;
    bool have_server = false, have_client = false;

    void find(int fd, bool server, std::vector<LabSock>& socks, LabSock& known, bool& have) {
        if (have && diag_lookup(fd, known, known) == 0) return;
        have = false;
        if (diag_query(fd, port, kLabStates, socks) != 0) return;
        if (const LabSock* s = pick(socks, port, server)) {
            known = *s;
            have = true;
        }
    }

    void sample() {
        static thread_local std::vector<LabSock> socks;
        LabSample s;
        s.t = now();
        if (is_remote) {
            // The server's side comes with the remote samples around this time.
            find(sdiag.diag, false, socks, known_client, have_client);
            merge.add_local(s.t, have_client ? &known_client : nullptr, -1);
            merge.flush(now(), false, [&](const LabSample& row) { recorder.sample(row); });
            return;
        }
        find(sdiag.diag, true, socks, known_server, have_server);
        find(cdiag.diag >= 0 ? cdiag.diag : sdiag.diag, false, socks, known_client, have_client);
        s.server = have_server ? &known_server : nullptr;
        s.client = have_client ? &known_client : nullptr;
        if (bed.shaped && link.qdisc >= 0) s.link_backlog = qdisc_backlog(link.qdisc, link.ifindex);
        recorder.sample(s);
    }

    // Runs until the time is up, a stop is asked for or a program ends.
    // 0, 1 (a program ended early) or 130 (stopped).
    int loop() {
        bool client_started = false;
        double next = 0;
        double next_progress = 5;
        for (;;) {
            if (lab_stop) return 130;
            const double t = now();
            if (t >= config.seconds) return 0;
            std::string why_remote;
            if (is_remote && remote.ended(why_remote)) {
                recorder.event(now(), "lab", why_remote);
                fprintf(stderr, "pacelag-lab: %s\n", why_remote.c_str());
                return 1;
            }
            if (is_remote) remote.tick();
            for (Child* c : {&server, &client}) {
                if (c->pid < 0 || !child_ended(*c)) continue;
                const char* who = c == &server ? "server" : "client";
                std::string why = std::string("the ") + who + " ended early";
                // Keep what it printed last: it usually says why.
                child_stop(*c, 0, [&](const char* d, size_t n) { take(*c, d, n); });
                recorder.event(now(), "lab", why);
                fprintf(stderr, "pacelag-lab: %s\n", why.c_str());
                return 1;
            }
            if (!client_started && server_ready) {
                if (start_client() != 0) return 1;
                client_started = true;
            } else if (!client_started && t > kServerStartLimit) {
                fprintf(stderr, "pacelag-lab: the pacelag server did not start listening\n");
                recorder.event(t, "lab", "the server did not start listening");
                return 1;
            }
            pollfd fds[3];
            int n = 0;
            for (Child* c : {&server, &client})
                if (c->out >= 0) fds[n++] = {c->out, POLLIN, 0};
            if (is_remote && remote.fd() >= 0) fds[n++] = {remote.fd(), POLLIN, 0};
            int wait = static_cast<int>(std::ceil((next - now()) * 1000));
            if (poll(fds, static_cast<nfds_t>(n), wait > 0 ? wait : 0) > 0) {
                for (int i = 0; i < n; ++i) {
                    if (fds[i].revents == 0) continue;
                    if (is_remote && fds[i].fd == remote.fd()) {
                        remote.pump(remote_sink());
                        continue;
                    }
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
            }
            if (now() >= next) {
                sample();
                next += kSampleEvery;
                // Late (a busy machine): carry on from now rather than
                // catching up with samples a fraction of a millisecond apart.
                if (next < now() + 0.002) next = now() + kSampleEvery;
            }
            if (now() >= next_progress) {
                progress(next_progress);
                next_progress += 5;
            }
        }
    }

    void progress(double t) {
        double est = 0;
        std::string e = "unknown";
        if (recorder.last_estimate(est)) e = std::to_string(std::llround(est)) + " ms";
        std::string age =
            recorder.last_age() >= 0 ? std::to_string(recorder.last_age()) + " s" : "none yet";
        printf("  %3.0f s  estimated delay %s, last printed age %s\n", t, e.c_str(), age.c_str());
        fflush(stdout);
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
        recorder.event(now(), "lab", line);
        return 0;
    }

    int start_client() {
        return start(client, bed.client_nsfd,
                     pacelag_args("client", config.client_rate, config.client_buflen));
    }

    int open_remote(RunFacts& facts);
    int run();
};

int Experiment::open_remote(RunFacts& facts) {
    RemoteSetup setup;
    setup.dest = config.remote;
    setup.ssh = config.ssh;
    setup.lab = config.remote_lab;
    setup.pacelag = config.remote_pacelag;
    setup.lab_version = PACELAG_VERSION;
    setup.pacelag_version = facts.pacelag_version;
    setup.port = config.port;
    setup.rate = config.server_rate;
    setup.padlen = config.padlen;
    setup.buflen = config.server_buflen;
    printf("pacelag-lab: reaching %s over ssh\n", config.remote.c_str());
    fflush(stdout);
    std::string error;
    if (remote.open(setup, error) != 0) {
        fprintf(stderr, "pacelag-lab: %s\n", error.c_str());
        return -1;
    }
    bed.server_ip = ssh_host(config.remote);
    return 0;
}

int Experiment::run() {
    const bool root = geteuid() == 0;
    bool namespaces = root && !config.loopback;
    std::string why_loopback = root ? "on loopback as asked" : "not root, so on loopback";
    if (access(config.pacelag.c_str(), X_OK) != 0) {
        fprintf(stderr, "pacelag-lab: cannot run pacelag at '%s': %s\n", config.pacelag.c_str(),
                strerror(errno));
        return 1;
    }
    RunFacts facts;
    facts.pacelag_version = pacelag_version(config.pacelag);
    if (!config.remote.empty()) {
        // Everything there is checked before anything starts here.
        is_remote = true;
        namespaces = false;
        if (open_remote(facts) != 0) return lab_stop ? 130 : 1;
    }
    if (make_dirs(config.out) != 0) {
        fprintf(stderr, "pacelag-lab: cannot make the directory '%s': %s\n", config.out.c_str(),
                strerror(errno));
        return 1;
    }
    // A report left from an earlier run into the same directory must not
    // pass for this one's should drawing it fail.
    unlink((config.out + "/report.html").c_str());
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
    facts.emulation = is_remote ? "remote" : namespaces ? "namespaces" : "loopback";
    if (is_remote) {
        port = remote.port();
    } else if (namespaces) {
        port = config.port > 0 ? config.port : 5000;
    } else {
        port = config.port > 0 ? config.port : free_port();
        if (port <= 0) {
            fprintf(stderr, "pacelag-lab: no free port: %s\n", strerror(errno));
            return 1;
        }
    }
    facts.port = port;
    facts.link_bps = bed.shaped ? config.link_bps : 0;
    facts.delay_ms = bed.delay_ms;

    if (in_namespace(bed.server_nsfd, open_diag, &sdiag) != 0 ||
        (namespaces && in_namespace(bed.client_nsfd, open_diag, &cdiag) != 0)) {
        fprintf(stderr, "pacelag-lab: the kernel refused socket diagnostics: %s\n",
                strerror(errno));
        return 1;
    }
    if (!namespaces) cdiag.diag = -1; // the one socket sees both ends
    link.dev = bed.client_dev.c_str();
    if (bed.shaped && in_namespace(bed.client_nsfd, open_qdisc, &link) != 0)
        fprintf(stderr, "pacelag-lab: cannot read the link's queue; its column stays empty\n");
    if (recorder.open(config.out) != 0) {
        fprintf(stderr, "pacelag-lab: cannot write into '%s': %s\n", config.out.c_str(),
                strerror(errno));
        return 1;
    }

    std::string where = is_remote ? "server on " + config.remote : "loopback";
    if (namespaces)
        where = bed.shaped ? "namespaces, link " + std::to_string(config.link_bps) + " bit/s"
                           : "namespaces, unshaped link";
    printf("pacelag-lab: client %d/s, server %d/s, %d-byte padding, %s, for %d s into %s\n",
           config.client_rate, config.server_rate, config.padlen, where.c_str(), config.seconds,
           config.out.c_str());
    if (is_remote) {
        const ClockOffset& c = remote.clock();
        printf("pacelag-lab: %s's clock is %.1f ms %s this one's (within %.1f ms)\n",
               bed.server_ip.c_str(), std::fabs(c.offset() * 1000),
               c.offset() >= 0 ? "ahead of" : "behind", c.uncertainty() * 1000);
        if (config.link_given)
            printf("pacelag-lab: a remote run measures the real path: -link-rate, -delay and "
                   "-loopback do not apply\n");
    } else if (!namespaces)
        printf("pacelag-lab: %s: no link is emulated%s\n", why_loopback.c_str(),
               config.link_bps > 0 || config.delay_ms > 0 ? " (-link-rate and -delay ignored)"
                                                          : "");
    if (!note.empty()) printf("pacelag-lab: %s\n", note.c_str());
    fflush(stdout);

    t0 = mono_seconds();
    r0 = host_clock();
    if (!note.empty()) recorder.event(0, "lab", note);
    int rc = 1;
    if (is_remote) {
        std::vector<std::string> args =
            pacelag_args("server", config.server_rate, config.server_buflen);
        std::string line = "started on " + config.remote + ": pacelag";
        for (size_t i = 1; i < args.size(); ++i) line += " " + args[i];
        if (remote.start() == 0) {
            recorder.event(now(), "lab", line);
            rc = loop();
        } else {
            fprintf(stderr, "pacelag-lab: the ssh session to %s broke\n", config.remote.c_str());
        }
    } else if (start(server, bed.server_nsfd,
                     pacelag_args("server", config.server_rate, config.server_buflen)) == 0) {
        rc = loop();
    }
    facts.interrupted = rc == 130;
    stop_children();
    if (is_remote && remote.clock().known()) {
        facts.remote_host = config.remote;
        facts.clock_offset_ms = remote.clock().offset() * 1000;
        facts.clock_offset_uncertainty_ms = remote.clock().uncertainty() * 1000;
    }
    facts.duration = now();
    recorder.event(facts.duration, "lab", rc == 130 ? "stopped early" : "ended");
    cleanup();
    if (recorder.finish(config, facts) != 0) {
        fprintf(stderr, "pacelag-lab: cannot write the results into '%s': %s\n", config.out.c_str(),
                strerror(errno));
        return 1;
    }
    if (rc == 130) printf("pacelag-lab: stopped after %.1f s\n", facts.duration);
    if (lab_write_report(config.out.c_str()) != 0) {
        fprintf(stderr, "pacelag-lab: the report was not written; the data files are in %s\n",
                config.out.c_str());
        return rc != 0 ? rc : 1;
    }
    printf("pacelag-lab: report: %s/report.html\n", config.out.c_str());
    return rc;
}
} // namespace

int lab_run(const LabConfig& config) {
    Experiment experiment(config);
    return experiment.run();
}
