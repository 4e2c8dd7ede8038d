// SPDX-License-Identifier: MIT
// What a scrape of pacelag-lab watch -metrics costs, with 100 connections on
// the watched port (200 sockets, both ends on this host): rendering the
// registry in either format, a whole HTTP scrape that reuses the newest
// sample, and one that makes its own socket-diagnostics query; against the
// baseline of that query alone. cpu_us is the CPU time of this process per
// scrape (server thread, client and kernel side included).
#include "metrics.h"
#include "metrics_http.h"
#include "sampler.h"

#include "loopback_conns.h"

#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <cstring>
#include <netinet/in.h>
#include <string>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace {
double cpu_seconds() {
    rusage self;
    getrusage(RUSAGE_SELF, &self);
    auto s = [](const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; };
    return s(self.ru_utime) + s(self.ru_stime);
}

LoopbackConns& connections() {
    static LoopbackConns c(100);
    return c;
}

std::vector<LabSock> sample(int port) {
    std::vector<LabSock> socks;
    int fd = diag_open();
    diag_query(fd, port, kLabStates, socks);
    close(fd);
    return socks;
}

// One GET /metrics over a fresh loopback connection; the body's size.
size_t get(int port) {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a;
    memset(&a, 0, sizeof a);
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<uint16_t>(port));
    size_t got = 0;
    if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) {
        const char req[] = "GET /metrics HTTP/1.0\r\n\r\n";
        (void)send(fd, req, sizeof req - 1, 0);
        char buf[16384];
        for (ssize_t n; (n = recv(fd, buf, sizeof buf, 0)) > 0;) got += static_cast<size_t>(n);
    }
    close(fd);
    return got;
}

void report_cpu(benchmark::State& state, double cpu0) {
    state.counters["cpu_us"] =
        benchmark::Counter((cpu_seconds() - cpu0) * 1e6 / static_cast<double>(state.iterations()));
}

void BM_QueryAlone(benchmark::State& state) {
    const int port = connections().port;
    int fd = diag_open();
    std::vector<LabSock> socks;
    double cpu0 = cpu_seconds();
    for (auto _ : state) {
        diag_query(fd, port, kLabStates, socks);
        benchmark::DoNotOptimize(socks.data());
    }
    report_cpu(state, cpu0);
    state.counters["sockets"] = static_cast<double>(socks.size());
    close(fd);
}
BENCHMARK(BM_QueryAlone);

void BM_Render(benchmark::State& state) {
    const int port = connections().port;
    PortMetrics m(port);
    m.update(0, sample(port));
    double cpu0 = cpu_seconds();
    for (auto _ : state) benchmark::DoNotOptimize(m.render(state.range(0) != 0));
    report_cpu(state, cpu0);
}
BENCHMARK(BM_Render)->Arg(0)->Arg(1)->ArgName("openmetrics");

// A whole scrape; interval 0 makes every scrape sample afresh, one hour never.
void BM_HttpScrape(benchmark::State& state) {
    const int port = connections().port;
    const bool query = state.range(0) != 0;
    MetricsExporter exporter(port, query ? 0 : 3600000);
    exporter.open();
    exporter.feed(metrics_now(), sample(port));
    MetricsServer server;
    std::string error;
    if (!server.start(
            "127.0.0.1:0", [&](bool om) { return exporter.scrape(om); }, error)) {
        state.SkipWithError(error.c_str());
        return;
    }
    const int http = atoi(server.address().c_str() + server.address().rfind(':') + 1);
    size_t bytes = 0;
    double cpu0 = cpu_seconds();
    for (auto _ : state) bytes = get(http);
    report_cpu(state, cpu0);
    state.counters["bytes"] = static_cast<double>(bytes);
    state.counters["queries_per_scrape"] =
        static_cast<double>(exporter.queries()) / static_cast<double>(state.iterations());
}
BENCHMARK(BM_HttpScrape)->Arg(0)->Arg(1)->ArgName("query")->UseRealTime();
} // namespace

BENCHMARK_MAIN();
