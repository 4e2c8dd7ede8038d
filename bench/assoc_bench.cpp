// SPDX-License-Identifier: MIT
// Speed of aaContext (hashed mode, copied keys) against
// std::unordered_map<std::string, void*>: inserting and then looking up N
// distinct short text keys, same keys and same order for both, same process.
// After the runs it prints the ratios and the chain lengths that the 16-bit
// hash leaves at each size.
#include "pacelag/util.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <map>
#include <random>
#include <string>
#include <unordered_map>
#include <vector>

namespace {

// N distinct 8-byte keys: "k" and seven base-36 digits of i scrambled by a
// multiplier that is coprime to 36, so the map i -> key is one to one.
std::vector<std::string> makekeys(int n) {
    const int64_t modulus = 78364164096LL; // 36^7
    std::vector<std::string> keys;
    keys.reserve(static_cast<size_t>(n));
    for (int64_t i = 0; i < n; ++i) {
        int64_t v = (i * 1000003) % modulus;
        std::string k = "k";
        for (int d = 0; d < 7; ++d, v /= 36) k += "0123456789abcdefghijklmnopqrstuvwxyz"[v % 36];
        keys.push_back(k);
    }
    return keys;
}

const std::vector<std::string>& keysfor(int n) {
    static std::map<int, std::vector<std::string>> cache;
    auto it = cache.find(n);
    if (it == cache.end()) it = cache.emplace(n, makekeys(n)).first;
    return it->second;
}

// The lookup order: the same keys shuffled, so neither table sees them in
// insertion order.
const std::vector<const std::string*>& lookuporder(int n) {
    static std::map<int, std::vector<const std::string*>> cache;
    auto it = cache.find(n);
    if (it == cache.end()) {
        std::vector<const std::string*> order;
        for (const std::string& k : keysfor(n)) order.push_back(&k);
        std::shuffle(order.begin(), order.end(), std::mt19937(12345));
        it = cache.emplace(n, order).first;
    }
    return it->second;
}

void AssocInsert(benchmark::State& state) {
    const std::vector<std::string>& keys = keysfor(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        aaContext* t = aacreate();
        for (const std::string& k : keys) aaput(t, k.c_str(), &t, AA_COPYKEY);
        benchmark::DoNotOptimize(t->count);
        state.PauseTiming();
        aafree(t);
        state.ResumeTiming();
    }
}

void MapInsert(benchmark::State& state) {
    const std::vector<std::string>& keys = keysfor(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        auto* m = new std::unordered_map<std::string, void*>;
        for (const std::string& k : keys) m->emplace(k, m);
        benchmark::DoNotOptimize(m->size());
        state.PauseTiming();
        delete m;
        state.ResumeTiming();
    }
}

void AssocLookup(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    aaContext* t = aacreate();
    for (const std::string& k : keysfor(n)) aaput(t, k.c_str(), &t, AA_COPYKEY);
    const std::vector<const std::string*>& order = lookuporder(n);
    for (auto _ : state)
        for (const std::string* k : order) benchmark::DoNotOptimize(aaget(t, k->c_str()));
    aafree(t);
}

void MapLookup(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    std::unordered_map<std::string, void*> m;
    for (const std::string& k : keysfor(n)) m.emplace(k, &m);
    const std::vector<const std::string*>& order = lookuporder(n);
    for (auto _ : state)
        for (const std::string* k : order) benchmark::DoNotOptimize(m.find(*k)->second);
}

// Prints the usual table and keeps the time per key of every run.
class Collector : public benchmark::ConsoleReporter {
  public:
    // "AssocInsert/1000" -> ns per key of each repetition
    std::map<std::string, std::vector<double>> nsperkey;

    double median(const std::string& name) {
        auto it = nsperkey.find(name);
        if (it == nsperkey.end()) return 0;
        std::vector<double> v = it->second;
        std::sort(v.begin(), v.end());
        return v[v.size() / 2];
    }

    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& r : runs) {
            if (r.run_type != Run::RT_Iteration || r.error_occurred) continue;
            const std::string name = r.benchmark_name();
            const double n = std::stod(name.substr(name.find('/') + 1));
            // CPU time: other processes on a shared machine inflate wall time.
            const double ns =
                r.GetAdjustedCPUTime() * (r.time_unit == benchmark::kMicrosecond   ? 1e3
                                          : r.time_unit == benchmark::kMillisecond ? 1e6
                                                                                   : 1.0);
            nsperkey[name].push_back(ns / n);
        }
    }
};

void printchains(int n) {
    aaContext* t = aacreate();
    for (const std::string& k : keysfor(n)) aaput(t, k.c_str(), nullptr, AA_COPYKEY);
    int used = 0, longest = 0;
    std::vector<bool> hashes(65536);
    int distinct = 0;
    for (int i = 0; i < t->bucketcount; ++i) {
        int len = 0;
        for (const aaEntry* e = t->buckets[i]; e; e = e->next) {
            ++len;
            if (!hashes[e->hash]) {
                hashes[e->hash] = true;
                ++distinct;
            }
        }
        if (len) ++used;
        longest = std::max(longest, len);
    }
    std::printf("%8d %8d %8d %10.2f %10.2f %8d %9d\n", n, t->bucketcount, used,
                static_cast<double>(n) / t->bucketcount, static_cast<double>(n) / used, longest,
                distinct);
    aafree(t);
}

} // namespace

int main(int argc, char** argv) {
    // Registered size by size, each aaContext run next to its unordered_map
    // twin, so that both see the same load on a shared machine.
    for (int n : {1000, 10000, 100000, 1000000}) {
        benchmark::RegisterBenchmark("AssocInsert", AssocInsert)
            ->Arg(n)
            ->Unit(benchmark::kMicrosecond);
        benchmark::RegisterBenchmark("MapInsert", MapInsert)->Arg(n)->Unit(benchmark::kMicrosecond);
        benchmark::RegisterBenchmark("AssocLookup", AssocLookup)
            ->Arg(n)
            ->Unit(benchmark::kMicrosecond);
        benchmark::RegisterBenchmark("MapLookup", MapLookup)->Arg(n)->Unit(benchmark::kMicrosecond);
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    Collector collector;
    benchmark::RunSpecifiedBenchmarks(&collector);
    benchmark::Shutdown();

    std::printf("\nCPU ns per key  insert: aa    map  ratio   lookup: aa    map  ratio\n");
    for (int n : {1000, 10000, 100000, 1000000}) {
        const std::string arg = "/" + std::to_string(n);
        auto get = [&](const char* b) { return collector.median(b + arg); };
        const double ai = get("AssocInsert"), mi = get("MapInsert");
        const double al = get("AssocLookup"), ml = get("MapLookup");
        if (!(ai || mi || al || ml)) continue;
        std::printf("%-10d %14.1f %6.1f %6.2f %14.1f %6.1f %6.2f\n", n, ai, mi, mi ? ai / mi : 0,
                    al, ml, ml ? al / ml : 0);
    }
    std::printf("\nchains   keys  buckets     used  keys/bucket  keys/used  longest  hashes\n");
    for (int n : {1000, 10000, 100000, 1000000}) printchains(n);
    return 0;
}
