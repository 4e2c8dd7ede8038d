// SPDX-License-Identifier: MIT
// Speed of the IPv6 address text routines against the C library, on the same
// 10000 addresses in the same process: str2ipv6addr against
// inet_pton(AF_INET6) reading the texts inet_ntop wrote, and ipv6addr2str
// against inet_ntop writing them. Prints the ratios after the table.
#include "pacelag/util.h"

#include <benchmark/benchmark.h>

#include <arpa/inet.h>
#include <array>
#include <cstdio>
#include <map>
#include <random>
#include <string>
#include <vector>

namespace {
const int count = 10000;

struct Corpus {
    std::vector<std::array<unsigned char, 16>> addrs;
    std::vector<std::string> texts;
};

// Addresses as they turn up: many with runs of zero groups, some short
// groups, and one in twenty IPv4-mapped.
const Corpus& corpus() {
    static Corpus c = [] {
        Corpus k;
        std::mt19937 rng(2026);
        for (int i = 0; i < count; ++i) {
            std::array<unsigned char, 16> a{};
            if (i % 20 == 0) {
                a[10] = a[11] = 0xFF;
                for (int j = 12; j < 16; ++j) a[j] = static_cast<unsigned char>(rng());
            } else {
                int zeroodds = static_cast<int>(rng() % 4);
                for (int g = 0; g < 8; ++g) {
                    unsigned v = static_cast<int>(rng() % 4) < zeroodds ? 0 : rng() & 0xFFFF;
                    if (rng() % 4 == 0) v &= 0xFF;
                    a[2 * g] = static_cast<unsigned char>(v >> 8);
                    a[2 * g + 1] = static_cast<unsigned char>(v);
                }
            }
            char text[INET6_ADDRSTRLEN];
            inet_ntop(AF_INET6, a.data(), text, sizeof text);
            k.addrs.push_back(a);
            k.texts.push_back(text);
        }
        return k;
    }();
    return c;
}

void Str2Ipv6Addr(benchmark::State& state) {
    const Corpus& c = corpus();
    unsigned char a[16];
    for (auto _ : state) {
        for (const std::string& t : c.texts) {
            benchmark::DoNotOptimize(str2ipv6addr(t.c_str(), a));
            benchmark::ClobberMemory();
        }
    }
    state.SetItemsProcessed(state.iterations() * count);
}

void InetPton(benchmark::State& state) {
    const Corpus& c = corpus();
    unsigned char a[16];
    for (auto _ : state) {
        for (const std::string& t : c.texts) {
            benchmark::DoNotOptimize(inet_pton(AF_INET6, t.c_str(), a));
            benchmark::ClobberMemory();
        }
    }
    state.SetItemsProcessed(state.iterations() * count);
}

void Ipv6Addr2Str(benchmark::State& state) {
    const Corpus& c = corpus();
    char buf[40];
    for (auto _ : state) {
        for (const auto& a : c.addrs) {
            benchmark::DoNotOptimize(ipv6addr2str(buf, a.data()));
            benchmark::ClobberMemory();
        }
    }
    state.SetItemsProcessed(state.iterations() * count);
}

void InetNtop(benchmark::State& state) {
    const Corpus& c = corpus();
    char buf[INET6_ADDRSTRLEN];
    for (auto _ : state) {
        for (const auto& a : c.addrs) {
            benchmark::DoNotOptimize(inet_ntop(AF_INET6, a.data(), buf, sizeof buf));
            benchmark::ClobberMemory();
        }
    }
    state.SetItemsProcessed(state.iterations() * count);
}

BENCHMARK(Str2Ipv6Addr)->Unit(benchmark::kMicrosecond);
BENCHMARK(InetPton)->Unit(benchmark::kMicrosecond);
BENCHMARK(Ipv6Addr2Str)->Unit(benchmark::kMicrosecond);
BENCHMARK(InetNtop)->Unit(benchmark::kMicrosecond);

// Prints the usual table and keeps the CPU time per address of every run
// (CPU rather than wall time: the machine is shared).
class Collector : public benchmark::ConsoleReporter {
  public:
    std::map<std::string, double> nsper;

    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& r : runs) {
            if (r.run_type != Run::RT_Iteration || r.error_occurred) continue;
            double us = r.GetAdjustedCPUTime() * (r.time_unit == benchmark::kMillisecond  ? 1e3
                                                  : r.time_unit == benchmark::kNanosecond ? 1e-3
                                                                                          : 1.0);
            nsper[r.benchmark_name()] = us * 1e3 / count;
        }
    }
};
} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    Collector collector;
    benchmark::RunSpecifiedBenchmarks(&collector);
    benchmark::Shutdown();

    auto get = [&](const char* name) {
        auto it = collector.nsper.find(name);
        return it == collector.nsper.end() ? 0.0 : it->second;
    };
    struct {
        const char* what;
        const char* ours;
        const char* theirs;
    } pairs[] = {{"parse", "Str2Ipv6Addr", "InetPton"}, {"write", "Ipv6Addr2Str", "InetNtop"}};
    std::printf("\nns per address   ours   libc  ratio (goal <= 1.50)\n");
    for (const auto& p : pairs) {
        double o = get(p.ours), t = get(p.theirs);
        if (o == 0 || t == 0) continue;
        std::printf("%-14s %6.1f %6.1f %6.2f\n", p.what, o, t, o / t);
    }
    return 0;
}
