// SPDX-License-Identifier: MIT
// pacelag-lab runs that end early: by SIGINT it cleans up and writes what it
// has; killed outright, it leaves namespaces that the next run removes; a
// server that cannot listen ends the run before any client starts.
#include "lab_helpers.h"
#include "netns.h"

#include <gtest/gtest.h>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

TEST(LabRun, InterruptHalfWayCleansUp) {
    TempDir dir;
    ASSERT_FALSE(dir.path().empty());
    const std::string out = dir.path() + "/run";
    const std::string port = std::to_string(20000 + getpid() % 20000);
    std::vector<std::string> args = {PACELAG_LAB_BIN, "run",  "-seconds", "30",       "-buflen",
                                     "2048",          "-out", out,        "-pacelag", PACELAG_BIN};
    if (geteuid() == 0) args.insert(args.end(), {"-port", port});
    LabChild lab(args);
    ASSERT_GT(lab.pid(), 0);
    ASSERT_TRUE(lab.waitfor("for 30 s", 10000)) << lab.output();
    if (geteuid() == 0) {
        EXPECT_EQ(namespaces_named("plab" + std::to_string(lab.pid())), 2) << "made as root";
    }
    sleep(3);
    lab.signal(SIGINT);
    const int status = lab.waitexit(15000);
    EXPECT_EQ(status, 130) << lab.output();
    EXPECT_NE(lab.output().find("stopped after"), std::string::npos) << lab.output();

    auto summary = read_flat_json(slurp(run_path(out, kSummaryFile)));
    EXPECT_EQ(json_value(summary, summary_key::interrupted), "true");
    double duration = atof(json_value(summary, summary_key::duration_s).c_str());
    EXPECT_GT(duration, 2);
    EXPECT_LT(duration, 10);
    EXPECT_GT(read_csv(run_path(out, kTimelineFile)).size(), 100u);
    auto events = read_csv(run_path(out, kEventsFile));
    ASSERT_FALSE(events.empty());
    EXPECT_EQ(events.back()[2], "stopped early");

    // Namespaces (as root) went with the run; their veth pair with them.
    const std::string tag = "plab" + std::to_string(lab.pid());
    EXPECT_EQ(namespaces_named(tag), 0);
    EXPECT_EQ(processes_with(
                  {"pacelag", "-mode", "-port " + json_value(summary, summary_key::port) + " "}),
              0);
}

// Ctrl-C pressed again and again reaches the lab and everything in its
// process group; its clean-up still removes what it made.
TEST(LabRun, RepeatedInterruptsStillCleanUp) {
    if (geteuid() != 0) GTEST_SKIP() << "namespaces need root; on loopback nothing is left over";
    TempDir dir;
    ASSERT_FALSE(dir.path().empty());
    const std::string port = std::to_string(20000 + getpid() % 20000);
    LabChild lab({PACELAG_LAB_BIN, "run", "-seconds", "30", "-out", dir.path() + "/run", "-pacelag",
                  PACELAG_BIN, "-port", port},
                 true);
    ASSERT_GT(lab.pid(), 0);
    ASSERT_TRUE(lab.waitfor("for 30 s", 10000)) << lab.output();
    const std::string tag = "plab" + std::to_string(lab.pid());
    EXPECT_EQ(namespaces_named(tag), 2);
    sleep(1);
    const long long end = lab_now_ms() + 20000;
    while (!lab.ended() && lab_now_ms() < end) {
        lab.signal_group(SIGINT);
        usleep(200);
    }
    EXPECT_EQ(lab.waitexit(5000), 130) << lab.output();
    const int left = namespaces_named(tag);
    for (const char* side : {"s", "c"}) { // not to leak them into other tests
        const std::string name = tag + side;
        const char* argv[] = {"ip", "netns", "del", name.c_str(), nullptr};
        if (exists("/run/netns/" + name)) run_command(argv, nullptr);
    }
    EXPECT_EQ(left, 0) << lab.output();
    EXPECT_FALSE(exists(testbed_lock_path(tag)));
    EXPECT_EQ(lab.output().find("cannot remove"), std::string::npos) << lab.output();
}

TEST(LabRun, RunAfterAKilledOneSucceeds) {
    if (geteuid() != 0) GTEST_SKIP() << "namespaces need root; on loopback nothing is left over";
    TempDir dir;
    ASSERT_FALSE(dir.path().empty());
    const std::string port = std::to_string(20000 + getpid() % 20000);
    std::string tag;
    {
        LabChild killed({PACELAG_LAB_BIN, "run", "-seconds", "30", "-out", dir.path() + "/a",
                         "-pacelag", PACELAG_BIN, "-port", port});
        ASSERT_GT(killed.pid(), 0);
        ASSERT_TRUE(killed.waitfor("for 30 s", 10000)) << killed.output();
        tag = "plab" + std::to_string(killed.pid());
        EXPECT_EQ(namespaces_named(tag), 2);
        killed.signal(SIGKILL);
        EXPECT_EQ(killed.waitexit(5000), -1);
    }
    // Its pacelag processes die with it (parent-death signal).
    for (int i = 0; i < 100 && processes_with({"pacelag", "-mode", "-port " + port + " "}) > 0; ++i)
        usleep(20000);
    EXPECT_EQ(processes_with({"pacelag", "-mode", "-port " + port + " "}), 0);

    LabChild next({PACELAG_LAB_BIN, "run", "-seconds", "2", "-out", dir.path() + "/b", "-pacelag",
                   PACELAG_BIN, "-port", port});
    const int status = next.waitexit(20000);
    EXPECT_EQ(status, 0) << next.output();
    EXPECT_TRUE(exists(dir.path() + "/b/summary.json"));
    EXPECT_EQ(namespaces_named(tag), 0) << "the killed run's namespaces are removed";
    EXPECT_EQ(namespaces_named("plab" + std::to_string(next.pid())), 0);
}

TEST(LabRun, ServerThatCannotListenEndsTheRun) {
    // Hold a port on every address, as the server binds, and listen on it.
    int holder = socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(holder, 0);
    int off = 0;
    setsockopt(holder, IPPROTO_IPV6, IPV6_V6ONLY, &off, sizeof off);
    sockaddr_in6 a;
    memset(&a, 0, sizeof a);
    a.sin6_family = AF_INET6;
    socklen_t len = sizeof a;
    ASSERT_EQ(bind(holder, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    ASSERT_EQ(listen(holder, 4), 0);
    getsockname(holder, reinterpret_cast<sockaddr*>(&a), &len);
    const std::string port = std::to_string(ntohs(a.sin6_port));

    TempDir dir;
    const std::string out = dir.path() + "/run";
    LabChild lab({PACELAG_LAB_BIN, "run", "-loopback", "-port", port, "-seconds", "10", "-out", out,
                  "-pacelag", PACELAG_BIN});
    EXPECT_EQ(lab.waitexit(10000), 1) << lab.output();
    close(holder);
    EXPECT_NE(lab.output().find("the server ended early"), std::string::npos) << lab.output();
    const std::string events = slurp(run_path(out, kEventsFile));
    EXPECT_NE(events.find("server,[ERROR] Bind failed to port " + port), std::string::npos);
    EXPECT_EQ(events.find("-mode client"), std::string::npos) << "no client was started";
}
