// SPDX-License-Identifier: MIT
// The watch command: sample, print one line per connection, keep the peaks.
#include "watch.h"

#include "labtext.h"
#include "config.h"
#include "metrics_watch.h"
#include "sampler.h"
#include "stream.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <sys/time.h>
#include <unistd.h>
#include <vector>

namespace {
const char kHeader[] = "%-12s %-47s %-11s %8s %8s %8s %8s %8s %5s %9s %7s\n";
const char kCsvHeader[] = "t,local,remote,state,sendq,unsent,recvq,sndbuf,rcvbuf,cwnd,rtt_ms,"
                          "retrans\n";

void wall_clock(char* buf, size_t size) {
    timeval tv;
    gettimeofday(&tv, nullptr);
    tm local;
    localtime_r(&tv.tv_sec, &local);
    size_t n = strftime(buf, size, "%H:%M:%S", &local);
    snprintf(buf + n, size - n, ".%03ld", static_cast<long>(tv.tv_usec / 1000));
}

// A message for the user: a line of text, or a line record of the stream.
void say(bool json, const std::string& text) {
    if (json)
        fputs(stream_line(host_clock(), "lab", text).c_str(), stdout);
    else
        printf("pacelag-lab: %s\n", text.c_str());
}
} // namespace

bool watch_sleep_until(const timespec& when) {
    // A signal cuts a sleep short, but one taken just before the sleep began
    // would leave it to run its whole length: so sleep in short slices.
    constexpr long kSliceNs = 50000000;
    while (!lab_stop) {
        timespec now;
        clock_gettime(CLOCK_MONOTONIC, &now);
        if (now.tv_sec > when.tv_sec || (now.tv_sec == when.tv_sec && now.tv_nsec >= when.tv_nsec))
            return true;
        timespec slice = now;
        slice.tv_nsec += kSliceNs;
        if (slice.tv_nsec >= 1000000000L) {
            slice.tv_sec += 1;
            slice.tv_nsec -= 1000000000L;
        }
        if (slice.tv_sec > when.tv_sec ||
            (slice.tv_sec == when.tv_sec && slice.tv_nsec > when.tv_nsec))
            slice = when;
        clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &slice, nullptr);
    }
    return false;
}

int lab_watch(const WatchOptions& o) {
    int fd = diag_open();
    std::vector<LabSock> socks;
    if (fd < 0 || diag_query(fd, o.port, kLabStates, socks) != 0) {
        fprintf(stderr, "pacelag-lab: the kernel refused socket diagnostics: %s\n",
                strerror(errno));
        if (fd >= 0) close(fd);
        return 1;
    }
    FILE* csv = nullptr;
    if (!o.csv.empty()) {
        csv = fopen(o.csv.c_str(), "we");
        if (csv == nullptr) {
            fprintf(stderr, "pacelag-lab: cannot write '%s': %s\n", o.csv.c_str(), strerror(errno));
            close(fd);
            return 1;
        }
        fputs(kCsvHeader, csv);
    }
    MetricsWatch* metrics = nullptr;
    if (!o.metrics.empty()) {
        metrics = metrics_watch_start(o.port, o.interval_ms, o.metrics);
        if (metrics == nullptr) {
            if (csv != nullptr) fclose(csv);
            close(fd);
            return 1;
        }
        // Also with -quiet: a port 0 asked for is only known from this line.
        say(o.json, "metrics on http://" + metrics_watch_address(metrics) + "/metrics");
        fflush(stdout);
    }
    if (!o.json && !o.quiet)
        printf(kHeader, "time", "local -> remote", "state", "sendq", "unsent", "recvq", "sndbuf",
               "rcvbuf", "cwnd", "rtt_ms", "retrans");
    fflush(stdout);

    timespec start, next;
    clock_gettime(CLOCK_MONOTONIC, &start);
    next = start;
    long samples = 0;
    uint32_t peak_sendq = 0, peak_unsent = 0, peak_recvq = 0;
    bool waiting_said = false;
    int rc = 0;
    // A query by port walks the host's whole connection table, which costs
    // milliseconds on a big host; between such queries, at most a second
    // apart, the known connections are looked up one by one.
    double last_query = -1e9;
    std::vector<LabSock> known;
    while (!lab_stop) {
        timespec now;
        clock_gettime(CLOCK_MONOTONIC, &now);
        double t = (now.tv_sec - start.tv_sec) + (now.tv_nsec - start.tv_nsec) / 1e9;
        if (t - last_query >= 1.0) {
            if (diag_query(fd, o.port, kLabStates, socks) != 0) {
                if (errno == EINTR) continue;
                fprintf(stderr, "pacelag-lab: socket diagnostics failed: %s\n", strerror(errno));
                rc = 1;
                break;
            }
            last_query = t;
        } else {
            known.swap(socks);
            socks.clear();
            for (const LabSock& k : known) {
                LabSock s;
                if (diag_lookup(fd, k, s) == 0 && ((1u << s.state) & kLabStates) != 0)
                    socks.push_back(s);
            }
        }
        metrics_watch_feed(metrics, metrics_watch_now(), socks);
        if (socks.empty() && !waiting_said) {
            if (o.json || !o.quiet)
                say(o.json, "no connection on port " + std::to_string(o.port) + " yet; waiting");
            waiting_said = true;
        } else if (!socks.empty()) {
            waiting_said = false;
            ++samples;
        }
        char when[32];
        wall_clock(when, sizeof when);
        const double host_t = host_clock();
        for (const LabSock& s : socks) {
            if (o.json) fputs(stream_sample(host_t, s).c_str(), stdout);
            char local[64], remote[64], pair[140];
            labsock_endpoint(s, true, local, sizeof local);
            labsock_endpoint(s, false, remote, sizeof remote);
            snprintf(pair, sizeof pair, "%s -> %s", local, remote);
            if (!o.json && !o.quiet)
                printf("%-12s %-47s %-11s %8u %8u %8u %8u %8u %5u %9.3f %7u\n", when, pair,
                       tcpstate_name(s.state), s.sendq, s.unsent, s.recvq, s.sndbuf, s.rcvbuf,
                       s.cwnd, s.rtt_us / 1000.0, s.retrans);
            if (csv != nullptr) {
                std::string row;
                char num[160];
                snprintf(num, sizeof num, "%.3f,", t);
                row += num;
                csv_field(row, local);
                row += ',';
                csv_field(row, remote);
                snprintf(num, sizeof num, ",%s,%u,%u,%u,%u,%u,%u,%.3f,%u\n", tcpstate_name(s.state),
                         s.sendq, s.unsent, s.recvq, s.sndbuf, s.rcvbuf, s.cwnd, s.rtt_us / 1000.0,
                         s.retrans);
                row += num;
                if (fputs(row.c_str(), csv) < 0) {
                    fprintf(stderr, "pacelag-lab: cannot write '%s': %s\n", o.csv.c_str(),
                            strerror(errno));
                    rc = 1;
                    lab_stop = 1;
                }
            }
            if (s.sendq > peak_sendq) peak_sendq = s.sendq;
            if (s.unsent > peak_unsent) peak_unsent = s.unsent;
            if (s.recvq > peak_recvq) peak_recvq = s.recvq;
        }
        fflush(stdout);
        if (csv != nullptr) fflush(csv);
        // A fixed schedule; a late wake-up does not shift the samples after it.
        next.tv_nsec += static_cast<long>(o.interval_ms % 1000) * 1000000L;
        next.tv_sec += o.interval_ms / 1000 + next.tv_nsec / 1000000000L;
        next.tv_nsec %= 1000000000L;
        if (now.tv_sec > next.tv_sec + 1) next = now; // far behind: start afresh
        watch_sleep_until(next);
    }
    metrics_watch_stop(metrics);
    close(fd);
    if (csv != nullptr && fclose(csv) != 0 && rc == 0) {
        fprintf(stderr, "pacelag-lab: cannot write '%s': %s\n", o.csv.c_str(), strerror(errno));
        rc = 1;
    }
    char end[200];
    snprintf(end, sizeof end,
             "%ld samples with connections; peak send queue %u bytes, of which unsent %u, peak "
             "receive queue %u bytes",
             samples, peak_sendq, peak_unsent, peak_recvq);
    say(o.json, end);
    return rc;
}
