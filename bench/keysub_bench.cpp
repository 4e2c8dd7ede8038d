// SPDX-License-Identifier: MIT
// Speed of template substitution: a 64 KB template with 2000 references to a
// table of 200 keys, through each of the four routines, against a plain
// memcpy of the same output size in the same process (the ceiling). After the
// runs it prints output MB/s and the ratio to memcpy for each routine.
#include "pacelag/util.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>

namespace {

const int templatesize = 64 * 1024;
const int references = 2000;
const int keys = 200;

enum Routine { KEYSUB, HTML, JSON, QUERY, ROUTINES };
const char* const routinenames[ROUTINES] = {"keysub", "htmlkeysub", "jsonkeysub", "querykeysub"};
char* (*const routines[ROUTINES])(char*, aaContext*) = {keysub, htmlkeysub, jsonkeysub,
                                                        querykeysub};

// Values of 8 to 40 characters; every fourth is a number (for the SQL routine),
// the others carry a few characters that HTML, JSON and SQL escape.
aaContext* maketable() {
    aaContext* table = aacreate();
    std::mt19937 rng(99);
    for (int k = 0; k < keys; ++k) {
        std::string name = "field" + std::to_string(k);
        std::string value;
        if (k % 4 == 0) {
            value = std::to_string(rng() % 1000000) + "." + std::to_string(rng() % 100);
        } else {
            int len = 8 + static_cast<int>(rng() % 33);
            for (int i = 0; i < len; ++i) value += "abcdefghij klmnopqrstuvwxyz"[rng() % 27];
            value[rng() % len] = "'\"&</\\"[rng() % 6];
        }
        aaput(table, name.c_str(), value.c_str(), AA_COPYKEY | AA_COPYVALUE);
    }
    return table;
}

// Text with `references` references spread evenly, padded to templatesize.
// The SQL template quotes every reference to a text value.
std::string maketemplate(bool sql) {
    std::mt19937 rng(7);
    std::string t;
    const int gap = templatesize / references;
    for (int r = 0; r < references; ++r) {
        int k = static_cast<int>(rng() % keys);
        std::string ref = (sql && k % 4 != 0 ? "$'field" : "$field") + std::to_string(k);
        size_t filler = gap - ref.size() - 1;
        for (size_t i = 0; i < filler; ++i) t += "the quick brown fox, "[i % 21];
        t += ref + (r % 16 == 15 ? "\n" : " ");
    }
    t.resize(templatesize, '.');
    return t;
}

struct Fixture {
    aaContext* table = maketable();
    std::string text[ROUTINES];
    size_t outsize[ROUTINES];
    Fixture() {
        for (int r = 0; r < ROUTINES; ++r) {
            text[r] = maketemplate(r == QUERY);
            char* out = routines[r](&text[r][0], table);
            outsize[r] = std::strlen(out);
            std::free(out);
        }
    }
};

Fixture& fixture() {
    static Fixture f;
    return f;
}

void Substitute(benchmark::State& state) {
    Fixture& f = fixture();
    const int r = static_cast<int>(state.range(0));
    char* src = &f.text[r][0];
    for (auto _ : state) {
        char* out = routines[r](src, f.table);
        benchmark::DoNotOptimize(out);
        std::free(out);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * f.outsize[r]));
    state.SetLabel(routinenames[r]);
}

// The ceiling: copying the same number of bytes into a buffer allocated per
// iteration, as the routines must.
void Memcpy(benchmark::State& state) {
    Fixture& f = fixture();
    const int r = static_cast<int>(state.range(0));
    const size_t n = f.outsize[r];
    std::vector<char> from(n, 'x');
    for (auto _ : state) {
        char* out = static_cast<char*>(std::malloc(n + 1));
        std::memcpy(out, from.data(), n);
        out[n] = '\0';
        benchmark::DoNotOptimize(out);
        benchmark::ClobberMemory();
        std::free(out);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * n));
    state.SetLabel(routinenames[r]);
}

void allroutines(benchmark::internal::Benchmark* b) {
    for (int r = 0; r < ROUTINES; ++r) b->Arg(r);
    b->Unit(benchmark::kMicrosecond);
}

BENCHMARK(Substitute)->Apply(allroutines);
BENCHMARK(Memcpy)->Apply(allroutines);

// Prints the usual table and keeps the output rate of every run.
class Collector : public benchmark::ConsoleReporter {
  public:
    std::map<std::string, double> rate; // "Substitute/0" -> bytes per second

    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            if (run.run_type != Run::RT_Iteration || run.error_occurred) continue;
            auto it = run.counters.find("bytes_per_second");
            if (it != run.counters.end()) rate[run.benchmark_name()] = it->second;
        }
    }
};

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    Collector collector;
    benchmark::RunSpecifiedBenchmarks(&collector);
    Fixture& f = fixture();
    std::printf("\n%-12s %10s %12s %12s %8s\n", "routine", "output KB", "MB/s", "memcpy MB/s",
                "ratio");
    for (int r = 0; r < ROUTINES; ++r) {
        std::string arg = "/" + std::to_string(r);
        auto s = collector.rate.find("Substitute" + arg);
        auto m = collector.rate.find("Memcpy" + arg);
        if (s == collector.rate.end() || m == collector.rate.end()) continue;
        std::printf("%-12s %10.1f %12.0f %12.0f %8.3f\n", routinenames[r], f.outsize[r] / 1024.0,
                    s->second / 1e6, m->second / 1e6, s->second / m->second);
    }
    aafree(f.table);
    benchmark::Shutdown();
    return 0;
}
