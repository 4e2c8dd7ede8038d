// SPDX-License-Identifier: MIT
// pacelag beside the paced modes of two peer tools from Debian's packages, on
// loopback and in one sitting: pacelag's client and server (as pacing_measure
// measures them), sockperf's under-load mode over TCP (--mps) and irtt over
// UDP (-i), the latter with its default timer and with its busy-wait timer.
// For each: the achieved rate over the requested one, and CPU seconds per
// second of the pacing process. A peer that is not installed is skipped with
// one line.
//
// Everything runs twice: on the machine as it is, and again while busy loops
// (BENCH_BUSY of them, default one per processor; 0 skips this) compete for
// the processors at ordinary priority. Each condition prints one markdown
// table with the load average seen before and after it.
//
//   peers_measure [seconds per run, default 5] [rates..., default 1000 10000 100000]
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <string>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "pacelag_sides.h"

namespace {
const int kMsglen = kPacelagMsglen; // 10 digits and 200 bytes of padding

// The full path of an executable on PATH, or "".
std::string findtool(const char* name) {
    const char* path = getenv("PATH");
    std::string dirs = path ? path : "/usr/bin:/bin";
    for (size_t start = 0; start <= dirs.size();) {
        size_t end = dirs.find(':', start);
        if (end == std::string::npos) end = dirs.size();
        std::string candidate = dirs.substr(start, end - start) + "/" + name;
        if (access(candidate.c_str(), X_OK) == 0) return candidate;
        start = end + 1;
    }
    return "";
}

// A port that was free on 127.0.0.1 a moment ago, for the given socket type.
int freeport(int type) {
    int s = socket(AF_INET, type, 0);
    sockaddr_in addr = {};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    int port = -1;
    if (s >= 0 && bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
        getsockname(s, reinterpret_cast<sockaddr*>(&addr), &len) == 0)
        port = ntohs(addr.sin_port);
    if (s >= 0) close(s);
    return port;
}

// Starts argv with stdin on /dev/null and stdout and stderr on `out` (or
// /dev/null when out is -1).
pid_t spawn(const std::vector<std::string>& args, int out) {
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    pid_t pid = fork();
    if (pid == 0) {
        int devnull = open("/dev/null", O_RDWR);
        dup2(devnull, 0);
        dup2(out >= 0 ? out : devnull, 1);
        dup2(out >= 0 ? out : devnull, 2);
        execv(argv[0], argv.data());
        _exit(127);
    }
    return pid;
}

// Stops a server: SIGTERM, then SIGKILL after 3 s.
void stop(pid_t pid) {
    if (pid <= 0) return;
    kill(pid, SIGTERM);
    for (int i = 0; i < 300; ++i) {
        if (waitpid(pid, nullptr, WNOHANG) == pid) return;
        usleep(10000);
    }
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
}

struct Result {
    std::string output;
    double cpu = -1; // CPU seconds per second of the process's life
    bool ok = false; // ended by itself with status 0 within the time bound
};

// Runs a client to its end, at most `limit` seconds, collecting its output
// and its CPU use.
Result runclient(const std::vector<std::string>& args, double limit) {
    Result result;
    int pipefd[2];
    if (pipe(pipefd) != 0) return result;
    double started = now();
    pid_t pid = spawn(args, pipefd[1]);
    close(pipefd[1]);
    char buffer[4096];
    for (;;) {
        double left = started + limit - now();
        pollfd p = {pipefd[0], POLLIN, 0};
        if (left <= 0 || poll(&p, 1, static_cast<int>(left * 1000) + 1) <= 0) break;
        ssize_t n = read(pipefd[0], buffer, sizeof buffer);
        if (n <= 0) break;
        result.output.append(buffer, static_cast<size_t>(n));
    }
    close(pipefd[0]);
    int status = 0;
    rusage usage = {};
    // Its output may close a moment before it can be reaped.
    const double reapby = (now() < started + limit ? now() : started + limit) + 2;
    pid_t done = 0;
    while ((done = wait4(pid, &status, WNOHANG, &usage)) == 0 && now() < reapby) usleep(10000);
    if (done != pid) { // still running: out of time
        kill(pid, SIGKILL);
        wait4(pid, &status, 0, &usage);
        fprintf(stderr, "%s did not finish within %.0f s\n", args[0].c_str(), limit);
        return result;
    }
    result.cpu = (seconds(usage.ru_utime) + seconds(usage.ru_stime)) / (now() - started);
    result.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    if (!result.ok) fprintf(stderr, "%s failed:\n%s\n", args[0].c_str(), result.output.c_str());
    return result;
}

// Waits until a TCP server accepts on the port, up to 5 s.
bool tcpready(int port) {
    sockaddr_in addr = {};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    for (int i = 0; i < 100; ++i) {
        int s = socket(AF_INET, SOCK_STREAM, 0);
        bool up = s >= 0 && connect(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
        if (s >= 0) close(s);
        if (up) return true;
        usleep(50000);
    }
    return false;
}

// sockperf under load over TCP: its own count of sent messages over its own
// run time, which leaves out its warm-up.
Measured sockperf(const std::string& tool, int rate, int duration) {
    const std::string port = std::to_string(freeport(SOCK_STREAM));
    pid_t server = spawn({tool, "server", "--tcp", "-i", "127.0.0.1", "-p", port}, -1);
    if (!tcpready(std::stoi(port))) {
        fprintf(stderr, "sockperf server did not start\n");
        stop(server);
        return {};
    }
    Result r = runclient({tool, "under-load", "--tcp", "-i", "127.0.0.1", "-p", port, "--mps",
                          std::to_string(rate), "-t", std::to_string(duration), "-m",
                          std::to_string(kMsglen)},
                         duration + 30);
    stop(server);
    double runtime = 0;
    long long sent = 0;
    const char* total = strstr(r.output.c_str(), "[Total Run] RunTime=");
    if (!r.ok || !total ||
        sscanf(total, "[Total Run] RunTime=%lf sec; Warm up time=%*d msec; SentMessages=%lld",
               &runtime, &sent) != 2 ||
        runtime <= 0) {
        fprintf(stderr, "sockperf: no result at %d/s\n", rate);
        return {};
    }
    return {static_cast<double>(sent) / runtime, r.cpu};
}

// irtt over UDP: packets sent over the requested duration, which is the time
// irtt spends sending.
Measured irtt(const std::string& tool, int rate, int duration, bool busy) {
    const std::string port = std::to_string(freeport(SOCK_DGRAM));
    // -i 0: no minimum interval, or the server would refuse fast clients.
    pid_t server = spawn({tool, "server", "-b", "127.0.0.1:" + port, "-i", "0"}, -1);
    usleep(500000); // UDP: nothing to probe without speaking its protocol
    std::vector<std::string> args = {tool, "client",
                                     "-i", std::to_string(1000000 / rate) + "us",
                                     "-d", std::to_string(duration) + "s",
                                     "-l", std::to_string(kMsglen),
                                     "-q"};
    if (busy) args.push_back("--timer=busy");
    args.push_back("127.0.0.1:" + port);
    Result r = runclient(args, duration + 30);
    stop(server);
    long long sent = 0, received = 0;
    const char* line = strstr(r.output.c_str(), "packets sent/received:");
    if (!r.ok || !line || sscanf(line, "packets sent/received: %lld/%lld", &sent, &received) != 2) {
        fprintf(stderr, "irtt: no result at %d/s\n", rate);
        return {};
    }
    return {static_cast<double>(sent) / duration, r.cpu};
}

// The rows of a table: pacelag's two sides and each peer that is installed.
struct Tool {
    const char* name;
    Measured (*run)(const std::string& path, int rate, int duration);
    std::string path;
};

Measured pacelagclient(const std::string&, int rate, int duration) {
    return measureclient(rate, duration);
}
Measured pacelagserver(const std::string&, int rate, int duration) {
    return measureserver(rate, duration);
}
Measured sockperfrun(const std::string& path, int rate, int duration) {
    return sockperf(path, rate, duration);
}
Measured irttdefault(const std::string& path, int rate, int duration) {
    return irtt(path, rate, duration, false);
}
Measured irttbusy(const std::string& path, int rate, int duration) {
    return irtt(path, rate, duration, true);
}

// Runs every tool at every rate, the rates interleaved so that a change of
// load during the sitting touches all tools alike, and prints the table.
void condition(const char* title, const std::vector<Tool>& tools, const std::vector<int>& rates,
               int duration) {
    const std::string before = loadshort();
    std::vector<std::vector<Measured>> cells(tools.size(), std::vector<Measured>(rates.size()));
    for (size_t r = 0; r < rates.size(); ++r)
        for (size_t t = 0; t < tools.size(); ++t) {
            Measured m = tools[t].run(tools[t].path, rates[r], duration);
            cells[t][r] = m;
            fprintf(stderr, "  %s, %s at %d/s: %.3f at %.3f CPU\n", title, tools[t].name, rates[r],
                    m.achieved / rates[r], m.cpu);
        }
    printf("\n**%s** (load average %s before, %s after)\n\n| tool |", title, before.c_str(),
           loadshort().c_str());
    for (int rate : rates) printf(" %d/s ratio | CPU |", rate);
    printf("\n|---|");
    for (size_t r = 0; r < rates.size(); ++r) printf("---|---|");
    printf("\n");
    for (size_t t = 0; t < tools.size(); ++t) {
        printf("| %s |", tools[t].name);
        for (size_t r = 0; r < rates.size(); ++r) {
            const Measured& m = cells[t][r];
            if (m.achieved <= 0)
                printf(" - | - |");
            else
                printf(" %.3f | %.3f |", m.achieved / rates[r], m.cpu);
        }
        printf("\n");
    }
    fflush(stdout);
}
} // namespace

int main(int argc, char** argv) {
    int duration = argc > 1 ? atoi(argv[1]) : 5;
    if (duration <= 0) duration = 5;
    std::vector<int> rates;
    for (int i = 2; i < argc; ++i)
        if (atoi(argv[i]) > 0) rates.push_back(atoi(argv[i]));
    if (rates.empty()) rates = {1000, 10000, 100000};
    const long processors = sysconf(_SC_NPROCESSORS_ONLN);
    const int busy = envnumber("BENCH_BUSY", static_cast<int>(processors));
    signal(SIGPIPE, SIG_IGN);

    std::vector<Tool> tools = {{"pacelag client (TCP)", pacelagclient, ""},
                               {"pacelag server (TCP)", pacelagserver, ""}};
    const std::string sockperftool = findtool("sockperf"), irtttool = findtool("irtt");
    printf("pacelag and its peers on loopback: %d s per run, %d-byte messages, %ld processors\n",
           duration, kMsglen, processors);
    printf("ratio = achieved / requested rate; CPU = CPU seconds per second of the pacing "
           "process\n");
    if (sockperftool.empty())
        printf("sockperf: not installed, skipped (scripts/deps.sh bench installs it)\n");
    else
        tools.push_back({"sockperf under-load, TCP", sockperfrun, sockperftool});
    if (irtttool.empty()) {
        printf("irtt: not installed, skipped (scripts/deps.sh bench installs it)\n");
    } else {
        tools.push_back({"irtt, default timer, UDP", irttdefault, irtttool});
        tools.push_back({"irtt, busy timer, UDP", irttbusy, irtttool});
    }

    condition("No added load", tools, rates, duration);
    if (busy > 0) {
        BusyLoops loops(busy);
        const std::string title = std::to_string(loops.count()) + " busy loops competing";
        condition(title.c_str(), tools, rates, duration);
    }
    return 0;
}
