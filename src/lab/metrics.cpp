// SPDX-License-Identifier: MIT
// Per-side aggregation of sampled connections into gauges and counters, and
// the exporter that a scrape asks.
#include "metrics.h"

#include "metrics_format.h"

#include <prometheus/counter.h>
#include <prometheus/gauge.h>
#include <prometheus/registry.h>

#include <cmath>
#include <ctime>
#include <limits>
#include <unistd.h>

namespace {
const char* const kSideNames[2] = {"local", "remote"};

// Moves `was` up to `is` and returns by how much (0 when `is` is lower).
uint64_t grow(uint64_t& was, uint64_t is) {
    if (is <= was) return 0;
    uint64_t d = is - was;
    was = is;
    return d;
}
} // namespace

double metrics_now() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) + ts.tv_nsec / 1e9;
}

double metrics_wait_seconds(uint64_t queued, bool haverate, double bps) {
    if (queued == 0) return 0;
    if (!haverate) return std::numeric_limits<double>::quiet_NaN();
    double ms = 0;
    if (!estimate_delay_ms(queued, true, bps, ms)) return std::numeric_limits<double>::infinity();
    return ms / 1000.0;
}

PortMetrics::PortMetrics(int port)
    : port_(port), registry_(std::make_shared<prometheus::Registry>()) {
    using prometheus::BuildCounter;
    using prometheus::BuildGauge;
    prometheus::Registry& r = *registry_;
    auto& connections = BuildGauge()
                            .Name("pacelag_connections")
                            .Help("TCP connections on the watched port, by the side the port is on")
                            .Register(r);
    auto& sendq = BuildGauge()
                      .Name("pacelag_send_queue_bytes")
                      .Help("Bytes in the send queues: written, not yet acknowledged")
                      .Register(r);
    auto& unsent = BuildGauge()
                       .Name("pacelag_send_queue_unsent_bytes")
                       .Help("Bytes in the send queues not yet sent")
                       .Register(r);
    auto& recvq = BuildGauge()
                      .Name("pacelag_receive_queue_bytes")
                      .Help("Bytes in the receive queues, not yet read by the program")
                      .Register(r);
    auto& wait = BuildGauge()
                     .Name("pacelag_estimated_wait_seconds")
                     .Help("Little's law: bytes queued towards the port (local side: receive "
                           "queues; remote side: send queues) over the rate they left those "
                           "queues in the last second")
                     .Register(r);
    auto& received = BuildCounter()
                         .Name("pacelag_received_bytes_total")
                         .Help("Bytes received on the port's connections")
                         .Register(r);
    auto& sent = BuildCounter()
                     .Name("pacelag_sent_bytes_total")
                     .Help("Bytes sent on the port's connections and acknowledged by the peer")
                     .Register(r);
    auto& retrans = BuildCounter()
                        .Name("pacelag_retransmitted_segments_total")
                        .Help("Segments retransmitted on the port's connections")
                        .Register(r);
    const std::string porttext = std::to_string(port);
    for (int i = 0; i < 2; ++i) {
        const prometheus::Labels labels = {{"port", porttext}, {"side", kSideNames[i]}};
        Side& s = sides_[i];
        s.connections = &connections.Add(labels);
        s.sendq = &sendq.Add(labels);
        s.unsent = &unsent.Add(labels);
        s.recvq = &recvq.Add(labels);
        s.wait = &wait.Add(labels);
        s.received = &received.Add(labels);
        s.sent = &sent.Add(labels);
        s.retrans = &retrans.Add(labels);
    }
}

PortMetrics::~PortMetrics() = default;

void PortMetrics::update(double t, const std::vector<LabSock>& socks) {
    // Two threads sample; one that stamped its sample earlier may come second.
    if (t < sampled_at_) t = sampled_at_;
    struct Sum {
        uint64_t connections = 0, sendq = 0, unsent = 0, recvq = 0;
    } sums[2];
    for (const LabSock& sock : socks) {
        const int side = sock.lport == port_ ? kSideLocal : kSideRemote;
        if (side == kSideRemote && sock.rport != port_) continue;
        Side& s = sides_[side];
        Sum& sum = sums[side];
        ++sum.connections;
        sum.sendq += sock.sendq;
        sum.unsent += sock.unsent;
        sum.recvq += sock.recvq;

        // A connection's counters only grow; a sample taken mid-update must
        // not make a counter run back. One first seen counts what it carried
        // so far, but only its growth from then on counts towards the rate.
        auto known = s.live.find(sock.cookie);
        const bool fresh = known == s.live.end();
        Conn c = fresh ? Conn() : known->second;
        const uint64_t consumed =
            sock.bytes_received > sock.recvq ? sock.bytes_received - sock.recvq : 0;
        s.received->Increment(static_cast<double>(grow(c.received, sock.bytes_received)));
        const uint64_t acked = grow(c.acked, sock.bytes_acked);
        s.sent->Increment(static_cast<double>(acked));
        s.retrans->Increment(static_cast<double>(grow(c.retrans, sock.retrans)));
        const uint64_t read = grow(c.consumed, consumed);
        // Requests wait in the receive queues where the port is local, in the
        // send queues where it is remote; each empties at its own rate.
        if (!fresh) s.moved += side == kSideLocal ? read : acked;
        c.seen = t;
        s.live[sock.cookie] = c;
    }
    for (int i = 0; i < 2; ++i) {
        Side& s = sides_[i];
        for (auto it = s.live.begin(); it != s.live.end();) {
            if (t - it->second.seen > kRemember)
                it = s.live.erase(it);
            else
                ++it;
        }
        s.rate.add(t, 1, s.moved, 0);
        double bps = 0;
        bool haverate = s.rate.rate(bps);
        const uint64_t queued = i == kSideLocal ? sums[i].recvq : sums[i].sendq;
        s.connections->Set(static_cast<double>(sums[i].connections));
        s.sendq->Set(static_cast<double>(sums[i].sendq));
        s.unsent->Set(static_cast<double>(sums[i].unsent));
        s.recvq->Set(static_cast<double>(sums[i].recvq));
        s.wait->Set(metrics_wait_seconds(queued, haverate, bps));
    }
    sampled_at_ = t;
}

std::string PortMetrics::render(bool openmetrics) const {
    std::string out;
    if (openmetrics)
        write_openmetrics(out, registry_->Collect());
    else
        write_text_format(out, registry_->Collect());
    return out;
}

MetricsExporter::MetricsExporter(int port, int interval_ms)
    : metrics_(port), port_(port), interval_(interval_ms / 1000.0) {}

MetricsExporter::~MetricsExporter() {
    if (fd_ >= 0) close(fd_);
}

bool MetricsExporter::open() {
    fd_ = diag_open();
    return fd_ >= 0;
}

void MetricsExporter::feed(double t, const std::vector<LabSock>& socks) {
    std::lock_guard<std::mutex> lock(mutex_);
    metrics_.update(t, socks);
}

std::string MetricsExporter::scrape(bool openmetrics) {
    std::lock_guard<std::mutex> lock(mutex_);
    const double now = metrics_now();
    if (metrics_.sampled_at() < 0 || now - metrics_.sampled_at() >= interval_) {
        ++queries_;
        // A failed query leaves the last sample standing; the scrape still
        // answers, and the next one tries again.
        if (diag_query(fd_, port_, kLabStates, socks_) == 0) metrics_.update(now, socks_);
    }
    return metrics_.render(openmetrics);
}
