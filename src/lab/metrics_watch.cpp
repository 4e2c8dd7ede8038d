// SPDX-License-Identifier: MIT
// The exporter and its HTTP server, started and stopped for the watch loop.
#include "metrics_watch.h"

#include "metrics.h"
#include "metrics_http.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

struct MetricsWatch {
    MetricsWatch(int port, int interval_ms) : exporter(port, interval_ms) {}
    MetricsExporter exporter;
    MetricsServer server; // stopped first: it calls into the exporter
};

MetricsWatch* metrics_watch_start(int port, int interval_ms, const std::string& address) {
    auto* m = new MetricsWatch(port, interval_ms);
    if (!m->exporter.open()) {
        fprintf(stderr, "pacelag-lab: the kernel refused socket diagnostics: %s\n",
                strerror(errno));
        delete m;
        return nullptr;
    }
    std::string error;
    MetricsExporter* exporter = &m->exporter;
    if (!m->server.start(
            address.c_str(), [exporter](bool om) { return exporter->scrape(om); }, error)) {
        fprintf(stderr, "pacelag-lab: %s\n", error.c_str());
        delete m;
        return nullptr;
    }
    return m;
}

std::string metrics_watch_address(const MetricsWatch* m) {
    return m != nullptr ? m->server.address() : std::string();
}

void metrics_watch_feed(MetricsWatch* m, double t, const std::vector<LabSock>& socks) {
    if (m != nullptr) m->exporter.feed(t, socks);
}

void metrics_watch_stop(MetricsWatch* m) {
    if (m == nullptr) return;
    m->server.stop();
    delete m;
}

double metrics_watch_now() {
    return metrics_now();
}
