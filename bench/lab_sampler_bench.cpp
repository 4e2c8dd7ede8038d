// SPDX-License-Identifier: MIT
// What pacelag-lab's sampler costs: a socket-diagnostics query for the
// connections on one port (which walks the host's whole connection table), a
// lookup of one known connection (what the lab does every 10 ms), each with
// and without many other connections on the host, and one qdisc backlog read; against the baseline
// of spawning `ss` for the same question. core_pct_at_10ms is the share of one core that sampling
// every 10 ms takes (CPU time per sample x 100 samples/s), counting the kernel's side of the query
// and, for ss, the child's CPU.
#include "sampler.h"

#include "loopback_conns.h"

#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <cstring>
#include <ctime>
#include <netinet/in.h>
#include <string>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {
double cpu_seconds() {
    rusage self, kids;
    getrusage(RUSAGE_SELF, &self);
    getrusage(RUSAGE_CHILDREN, &kids);
    auto s = [](const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; };
    return s(self.ru_utime) + s(self.ru_stime) + s(kids.ru_utime) + s(kids.ru_stime);
}

void report(benchmark::State& state, double cpu) {
    if (state.iterations() > 0)
        state.counters["core_pct_at_10ms"] = cpu / state.iterations() * 100 * 100;
}

// Connections on the watched port: 1; elsewhere on the host: range(0).
void BM_DiagOneConnection(benchmark::State& state) {
    LoopbackConns watched(1);
    LoopbackConns others(static_cast<int>(state.range(0)));
    int fd = diag_open();
    if (fd < 0) {
        state.SkipWithError("socket diagnostics refused");
        return;
    }
    std::vector<LabSock> socks;
    double cpu = cpu_seconds();
    for (auto _ : state) {
        diag_query(fd, watched.port, kLabStates, socks);
        benchmark::DoNotOptimize(socks.data());
    }
    report(state, cpu_seconds() - cpu);
    close(fd);
}
BENCHMARK(BM_DiagOneConnection)->Arg(0)->Arg(500);

// What the lab does every 10 ms once it knows the connection: a lookup by
// addresses and ports, with range(0) other connections on the host.
void BM_DiagLookup(benchmark::State& state) {
    LoopbackConns watched(1);
    LoopbackConns others(static_cast<int>(state.range(0)));
    int fd = diag_open();
    std::vector<LabSock> socks;
    if (fd < 0 || diag_query(fd, watched.port, kLabStates, socks) != 0 || socks.empty()) {
        state.SkipWithError("socket diagnostics refused");
        if (fd >= 0) close(fd);
        return;
    }
    LabSock known = socks[0];
    double cpu = cpu_seconds();
    for (auto _ : state) {
        if (diag_lookup(fd, known, known) != 0) {
            state.SkipWithError("the connection was not found again");
            break;
        }
    }
    report(state, cpu_seconds() - cpu);
    close(fd);
}
BENCHMARK(BM_DiagLookup)->Arg(0)->Arg(500);

void BM_QdiscBacklog(benchmark::State& state) {
    int fd = qdisc_open();
    if (fd < 0) {
        state.SkipWithError("rtnetlink refused");
        return;
    }
    double cpu = cpu_seconds();
    for (auto _ : state) benchmark::DoNotOptimize(qdisc_backlog(fd, 1));
    report(state, cpu_seconds() - cpu);
    close(fd);
}
BENCHMARK(BM_QdiscBacklog);

// The baseline: what `ss -tmi` costs when started for every sample.
void BM_SpawnSsBaseline(benchmark::State& state) {
    LoopbackConns watched(1);
    const std::string filter = "( sport = :" + std::to_string(watched.port) +
                               " or dport = :" + std::to_string(watched.port) + " )";
    double cpu = cpu_seconds();
    for (auto _ : state) {
        pid_t pid = fork();
        if (pid == 0) {
            if (freopen("/dev/null", "w", stdout) == nullptr) _exit(127);
            execlp("ss", "ss", "-tmin", filter.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        int status = 0;
        waitpid(pid, &status, 0);
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
            state.SkipWithError("ss did not run");
            break;
        }
    }
    report(state, cpu_seconds() - cpu);
}
BENCHMARK(BM_SpawnSsBaseline)->Iterations(200);
} // namespace

BENCHMARK_MAIN();
