// SPDX-License-Identifier: MIT
// A real Prometheus server, started here on loopback with a scrape interval
// of 1 s, scrapes pacelag-lab watch -metrics while connections come and go:
// its query API gives the send queue within 10 % of what the kernel reports,
// and no counter ever went down across the reconnects. Skipped, with one
// line, where Debian's prometheus package is not installed.
#include "metrics_helpers.h"
#include "sampler.h"

#include <gtest/gtest.h>

namespace {
const char kPrometheus[] = "/usr/bin/prometheus";

// A port free on 127.0.0.1 right now.
int free_port() {
    OwnedFd fd(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in a;
    memset(&a, 0, sizeof a);
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (bind(fd.fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) return -1;
    return local_port_of(fd.fd);
}

// The value of an instant query that gives one series; NAN when it gives
// none (or the server did not answer).
double query(int port, const std::string& promql) {
    HttpAnswer a = http_get(port, "/api/v1/query?query=" + url_encode(promql), "", 5000);
    size_t at = a.body.find("\"value\":[");
    if (a.status != 200 || at == std::string::npos) return NAN;
    size_t quote = a.body.find('"', a.body.find(',', at));
    return strtod(a.body.c_str() + quote + 1, nullptr);
}

bool write_file(const std::string& path, const std::string& text) {
    FILE* f = fopen(path.c_str(), "we");
    if (f == nullptr) return false;
    bool ok = fwrite(text.data(), 1, text.size(), f) == text.size();
    return fclose(f) == 0 && ok;
}

// Traffic both ways on a fresh connection to the stalled pair's listener;
// both ends close after `holdms`. The exporter samples: a connection must
// live across a sample for its bytes to be counted.
void reconnect(StalledPair& pair, size_t bytes, int holdms) {
    OwnedFd client(connect_loopback(pair.port));
    OwnedFd server(accept(pair.listener.fd, nullptr, nullptr));
    ASSERT_GE(client.fd, 0);
    ASSERT_GE(server.fd, 0);
    std::string data(bytes, 'r');
    for (int fd : {client.fd, server.fd}) {
        int peer = fd == client.fd ? server.fd : client.fd;
        size_t got = 0;
        ASSERT_EQ(send(fd, data.data(), data.size(), MSG_NOSIGNAL),
                  static_cast<ssize_t>(data.size()));
        char buf[8192];
        while (got < bytes) {
            ssize_t n = recv(peer, buf, sizeof buf, 0);
            ASSERT_GT(n, 0);
            got += static_cast<size_t>(n);
        }
    }
    usleep(static_cast<useconds_t>(holdms) * 1000);
}

TEST(LabMetricsPrometheus, ScrapedSendQueueMatchesTheKernelAndCountersNeverFall) {
    if (access(kPrometheus, X_OK) != 0)
        GTEST_SKIP() << "prometheus is not installed (scripts/deps.sh test installs it)";
    StalledPair pair;
    ASSERT_TRUE(pair.open());
    pair.fill(1 << 20);

    TempDir dir;
    ASSERT_FALSE(dir.path().empty());
    LabChild watch({PACELAG_LAB_BIN, "watch", "-port", std::to_string(pair.port), "-metrics",
                    "127.0.0.1:0", "-quiet", "-interval", "500"});
    const int mport = metrics_port(watch);
    ASSERT_GT(mport, 0) << watch.output();

    const int pport = free_port();
    ASSERT_GT(pport, 0);
    ASSERT_TRUE(write_file(dir.path() + "/prometheus.yml",
                           "global:\n  scrape_interval: 1s\n  evaluation_interval: 1s\n"
                           "scrape_configs:\n  - job_name: pacelag\n    static_configs:\n"
                           "      - targets: ['127.0.0.1:" +
                               std::to_string(mport) + "']\n"));
    LabChild prometheus({kPrometheus, "--config.file=" + dir.path() + "/prometheus.yml",
                         "--storage.tsdb.path=" + dir.path() + "/data",
                         "--web.listen-address=127.0.0.1:" + std::to_string(pport),
                         "--log.level=warn"});
    // Up, and one scrape in.
    long long end = lab_now_ms() + 30000;
    while (!(query(pport, "up{job=\"pacelag\"}") == 1) && lab_now_ms() < end) {
        prometheus.output(); // keep its log pipe from filling
        usleep(200000);
    }
    ASSERT_EQ(query(pport, "up{job=\"pacelag\"}"), 1) << prometheus.output();

    // Connections come and go, each carrying less than the one before, while
    // Prometheus scrapes and so does this test.
    const std::string sel = "{port=\"" + std::to_string(pair.port) + "\",side=\"local\"}";
    double last_received = 0;
    for (size_t bytes : {40000u, 20000u, 10000u}) {
        reconnect(pair, bytes, 2000);
        for (int i = 0; i < 3; ++i) {
            usleep(250000);
            HttpAnswer a = http_get(mport, "/metrics");
            double received = sample_value(a.body, "pacelag_received_bytes_total" + sel);
            EXPECT_GE(received, last_received);
            last_received = received;
        }
    }
    usleep(1500000); // one more scrape after the last connection ended
    // 40000 + 20000 + 10000 came in on connections that have gone.
    EXPECT_GE(last_received, 70000);

    std::vector<LabSock> kernel;
    int fd = diag_open();
    ASSERT_GE(fd, 0);
    ASSERT_EQ(diag_query(fd, pair.port, kLabStates, kernel), 0);
    close(fd);
    uint64_t sendq = 0;
    for (const LabSock& s : kernel)
        if (s.rport == pair.port) sendq += s.sendq;
    ASSERT_GT(sendq, 16384u);
    const std::string remote = "{port=\"" + std::to_string(pair.port) + "\",side=\"remote\"}";
    double scraped = query(pport, "pacelag_send_queue_bytes" + remote);
    EXPECT_NEAR(scraped, static_cast<double>(sendq), 0.1 * static_cast<double>(sendq));
    for (const char* counter : {"pacelag_received_bytes_total", "pacelag_sent_bytes_total",
                                "pacelag_retransmitted_segments_total"}) {
        for (const std::string& side : {sel, remote}) {
            SCOPED_TRACE(std::string(counter) + side);
            EXPECT_EQ(query(pport, "resets(" + std::string(counter) + side + "[5m])"), 0);
        }
    }
    EXPECT_GE(query(pport, "pacelag_received_bytes_total" + sel), 70000);

    prometheus.signal(SIGTERM);
    EXPECT_GE(prometheus.waitexit(10000), 0);
    watch.signal(SIGINT);
    EXPECT_EQ(watch.waitexit(5000), 0) << watch.output();
}
} // namespace
