// SPDX-License-Identifier: MIT
// pacelag-lab watch against a real loopback connection whose reader stops
// reading: the send queue grows in the printed lines within a second, the
// printed columns equal the CSV of the same samples and what the sampler
// reads in this process, and Ctrl-C ends it with the peaks.
#include "lab_helpers.h"
#include "config.h"
#include "sampler.h"
#include "watch.h"

#include <arpa/inet.h>
#include <atomic>
#include <memory>
#include <thread>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>

namespace {
struct Sock {
    int fd = -1;
    explicit Sock(int f) : fd(f) {}
    ~Sock() {
        if (fd >= 0) close(fd);
    }
};

int local_port(int fd) {
    sockaddr_in a;
    socklen_t len = sizeof a;
    getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    return ntohs(a.sin_port);
}

std::vector<std::string> words(const std::string& line) {
    std::vector<std::string> out;
    std::istringstream in(line);
    for (std::string w; in >> w;) out.push_back(w);
    return out;
}
} // namespace

TEST(LabWatch, StalledReaderShowsAGrowingSendQueue) {
    TempDir dir;
    ASSERT_FALSE(dir.path().empty());
    // A small receive buffer on the listener (inherited by the accepted
    // socket) closes the window soon, so the bytes pile up at the sender.
    Sock listener(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    int small = 4096;
    setsockopt(listener.fd, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
    sockaddr_in a;
    memset(&a, 0, sizeof a);
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(bind(listener.fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    ASSERT_EQ(listen(listener.fd, 4), 0);
    const int port = local_port(listener.fd);
    a.sin_port = htons(static_cast<uint16_t>(port));
    Sock writer(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    int big = 1 << 20;
    setsockopt(writer.fd, SOL_SOCKET, SO_SNDBUF, &big, sizeof big);
    connect(writer.fd, reinterpret_cast<sockaddr*>(&a), sizeof a); // completes at once on loopback
    Sock reader(accept(listener.fd, nullptr, nullptr));
    ASSERT_GE(reader.fd, 0);
    const std::string mine = "127.0.0.1:" + std::to_string(local_port(writer.fd));

    const std::string csv = dir.path() + "/watch.csv";
    LabChild watch(
        {PACELAG_LAB_BIN, "watch", "-port", std::to_string(port), "-interval", "100", "-csv", csv});
    ASSERT_TRUE(watch.waitfor("rtt_ms", 5000)) << watch.output();

    // 2 KB every 50 ms for a second; the reader never reads.
    std::string chunk(2048, 'x');
    const long long start = lab_now_ms();
    while (lab_now_ms() - start < 1000) {
        (void)send(writer.fd, chunk.data(), chunk.size(), MSG_NOSIGNAL);
        usleep(50000);
    }
    usleep(300000);
    // The queue is still now: what this process samples is what watch prints.
    std::vector<LabSock> now;
    int fd = diag_open();
    ASSERT_GE(fd, 0);
    ASSERT_EQ(diag_query(fd, port, kLabStates, now), 0);
    close(fd);
    watch.waitfor("\n", 300); // let one more sample through
    usleep(250000);
    watch.signal(SIGINT);
    ASSERT_EQ(watch.waitexit(5000), 0) << watch.output();
    const std::string out = watch.output();
    EXPECT_NE(out.find("peak send queue"), std::string::npos) << out;

    // Printed lines of the writer's side: time, local, "->", remote, state,
    // sendq, unsent, recvq, sndbuf, rcvbuf, cwnd, rtt_ms, retrans.
    std::vector<std::vector<std::string>> printed;
    std::istringstream lines(out);
    for (std::string line; std::getline(lines, line);) {
        auto w = words(line);
        if (w.size() == 13 && w[1] == mine) printed.push_back(w);
    }
    ASSERT_GE(printed.size(), 10u) << out;
    // Within a second of the first write the queue has grown well past it.
    long first = atol(printed[0][5].c_str());
    long within = 0;
    for (size_t i = 0; i < printed.size() && i < 10; ++i)
        within = std::max(within, atol(printed[i][5].c_str()));
    EXPECT_GT(within, first + 8192) << out;

    // The CSV holds the same samples: column by column equal to the print.
    std::vector<std::vector<std::string>> rows;
    for (const auto& r : read_csv(csv))
        if (r.size() == 12 && r[1] == mine) rows.push_back(r);
    ASSERT_EQ(rows.size(), printed.size());
    for (size_t i = 0; i < rows.size(); ++i) {
        EXPECT_EQ(rows[i][2], printed[i][3]);
        for (int col = 3; col < 12; ++col) EXPECT_EQ(rows[i][col], printed[i][col + 1]) << i;
    }

    // And the last print equals the sampler's own reading of the still queue.
    const LabSock* w = nullptr;
    for (const LabSock& s : now)
        if (s.rport == port) w = &s;
    ASSERT_NE(w, nullptr);
    const auto& last = printed.back();
    EXPECT_GT(w->sendq, 16384u);
    EXPECT_EQ(std::to_string(w->sendq), last[5]);
    EXPECT_EQ(std::to_string(w->unsent), last[6]);
    EXPECT_EQ(std::to_string(w->recvq), last[7]);
    EXPECT_EQ(std::to_string(w->sndbuf), last[8]);
    EXPECT_EQ(std::to_string(w->rcvbuf), last[9]);
    EXPECT_EQ(std::to_string(w->cwnd), last[10]);
    EXPECT_EQ(last[4], "ESTAB");
}

TEST(LabWatch, SaysOnceThatNothingMatchesAndRejectsBadOptions) {
    // A port nobody uses: bind one and keep it, without listening.
    Sock holder(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in a;
    memset(&a, 0, sizeof a);
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(bind(holder.fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    const std::string port = std::to_string(local_port(holder.fd));
    LabChild watch({PACELAG_LAB_BIN, "watch", "-port", port, "-interval", "20"});
    EXPECT_TRUE(watch.waitfor("waiting", 5000));
    usleep(200000);
    watch.signal(SIGINT);
    EXPECT_EQ(watch.waitexit(5000), 0);
    const std::string out = watch.output();
    size_t first = out.find("no connection on port " + port);
    EXPECT_NE(first, std::string::npos) << out;
    EXPECT_EQ(out.find("no connection", first + 1), std::string::npos) << out;
    EXPECT_NE(out.find("0 samples with connections"), std::string::npos) << out;

    const std::vector<std::vector<std::string>> bad = {
        {"watch", "-port", "0"}, {"watch", "-interval", "x"},
        {"watch", "-csv"},       {"watch", "-colour", "1"},
        {"frobnicate"},          {},
    };
    for (const auto& args : bad) {
        std::vector<std::string> argv = {PACELAG_LAB_BIN};
        argv.insert(argv.end(), args.begin(), args.end());
        LabChild lab(argv);
        EXPECT_EQ(lab.waitexit(5000), 2) << lab.output();
        EXPECT_NE(lab.output().find("Usage:"), std::string::npos);
    }
}

// A stop that lands while no sleep is under way (no signal to cut it short)
// still ends the wait within a moment, even at an hour's interval.
TEST(LabWatch, StopEndsAnHourLongWaitAtOnce) {
    timespec until;
    clock_gettime(CLOCK_MONOTONIC, &until);
    until.tv_sec += 3600;
    struct Shared {
        std::atomic<bool> done{false};
        std::atomic<bool> result{true};
        std::atomic<long long> ended{0};
    };
    auto shared = std::make_shared<Shared>();
    lab_stop = 0;
    std::thread sleeper([shared, until] {
        shared->result = watch_sleep_until(until);
        shared->ended = lab_now_ms();
        shared->done = true;
    });
    usleep(100000);
    const long long stopped = lab_now_ms();
    lab_stop = 1;
    for (int i = 0; i < 200 && !shared->done; ++i) usleep(10000);
    const bool done = shared->done;
    if (done)
        sleeper.join();
    else
        sleeper.detach(); // still asleep: it ends with the test program
    EXPECT_TRUE(done) << "still asleep 2 s after the stop";
    if (done) {
        EXPECT_FALSE(shared->result);
        EXPECT_LT(shared->ended - stopped, 300) << "ms after the stop";
    }
    lab_stop = 0;

    // The same through the program: Ctrl-C ends an hour-long interval.
    LabChild watch({PACELAG_LAB_BIN, "watch", "-port", "9", "-interval", "3600000"});
    ASSERT_TRUE(watch.waitfor("waiting", 5000)) << watch.output();
    usleep(100000);
    const long long sent = lab_now_ms();
    watch.signal(SIGINT);
    EXPECT_EQ(watch.waitexit(5000), 0) << watch.output();
    EXPECT_LT(lab_now_ms() - sent, 1000);
}
