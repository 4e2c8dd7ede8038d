// SPDX-License-Identifier: MIT
// pacelag-lab across two machines, against a real sshd in a namespace of its
// own whose programs see a wall clock 7 s ahead: the offset is measured and
// taken out, the server's queue comes from the remote sampler, a killed lab
// leaves nothing on the remote host, and every failure to reach it is one
// clear line before anything starts.
#include "messages.h"
#include "rundir.h"
#include "sshd_helpers.h"

#include <gtest/gtest.h>

namespace {
SshHost* host = nullptr;

class RemoteRun : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { host = new SshHost(); }
    static void TearDownTestSuite() {
        delete host;
        host = nullptr;
    }
    void SetUp() override {
        if (!host->why().empty()) GTEST_SKIP() << host->why();
    }

    std::vector<std::string> run_args(const std::string& out, int seconds,
                                      const std::string& key = "user_key") const {
        return host->in_lab({PACELAG_LAB_BIN,
                             "run",
                             "-remote",
                             host->dest(),
                             "-ssh",
                             host->ssh_command(key),
                             "-remote-lab",
                             host->wrapper("pacelag-lab"),
                             "-remote-pacelag",
                             host->wrapper("pacelag"),
                             "-pacelag",
                             PACELAG_BIN,
                             "-client-rate",
                             "4",
                             "-server-rate",
                             "2",
                             "-buflen",
                             "2048",
                             "-seconds",
                             std::to_string(seconds),
                             "-out",
                             out});
    }

    // Waits up to 5 s for HOST to have no pacelag or pacelag-lab; the time it took in ms, or -1.
    static long long remote_gone_within_5s() {
        const long long start = lab_now_ms();
        while (lab_now_ms() - start < 5000) {
            if (host->remote_programs() == 0) return lab_now_ms() - start;
            usleep(20000);
        }
        return -1;
    }
};

TEST_F(RemoteRun, WrongClockIsMeasuredAndTakenOut) {
    TempDir dir;
    const std::string out = dir.path() + "/run";
    LabChild lab(run_args(out, 25));
    ASSERT_GT(lab.pid(), 0);
    const int status = lab.waitexit(90000);
    ASSERT_NE(status, -2) << lab.output();
    ASSERT_EQ(status, 0) << lab.output();
    EXPECT_NE(lab.output().find("clock is 70"), std::string::npos) << lab.output();
    EXPECT_EQ(remote_gone_within_5s() >= 0, true);

    auto summary = read_flat_json(slurp(out + "/summary.json"));
    EXPECT_EQ(json_value(summary, summary_key::emulation), "remote");
    EXPECT_EQ(json_value(summary, summary_key::remote_host), host->dest());
    const double offset = atof(json_value(summary, summary_key::clock_offset_ms).c_str());
    const double uncertainty =
        atof(json_value(summary, summary_key::clock_offset_uncertainty_ms).c_str());
    printf("offset %.3f ms (error %.3f ms), uncertainty %.3f ms\n", offset, offset - 7000,
           uncertainty);
    EXPECT_NEAR(offset, 7000, 200);
    EXPECT_GT(uncertainty, 0);
    EXPECT_LT(uncertainty, 200);

    // The lab's namespace holds only the client's socket: every server queue
    // in the timeline came from the remote sampler.
    auto timeline = read_csv(out + "/timeline.csv");
    ASSERT_GT(timeline.size(), 1000u);
    int with_server = 0, queued = 0;
    double last = -1;
    for (size_t i = 1; i < timeline.size(); ++i) {
        ASSERT_EQ(timeline[i].size(), static_cast<size_t>(kTimelineColumnCount));
        double t = atof(timeline[i][kColT].c_str());
        EXPECT_GT(t, last) << i;
        last = t;
        with_server += !timeline[i][kColServerRecvq].empty();
        queued += atoi(timeline[i][kColServerRecvq].c_str()) > 1000;
    }
    EXPECT_GT(with_server, static_cast<int>(timeline.size()) * 8 / 10);
    EXPECT_GT(queued, 500) << "the server's receive queue fills";

    // Printed ages carry the 7 s; with the offset taken out they are the
    // estimated delay again (whole seconds, so within one).
    auto events = read_csv(out + "/events.csv");
    std::vector<std::vector<std::string>> corrected = {events[0]};
    int printed_high = 0, ages = 0;
    for (size_t i = 1; i < events.size(); ++i) {
        auto e = events[i];
        if (e.size() == 3 && e[1] == "server" && !e[2].empty() &&
            e[2].find_first_not_of("0123456789") == std::string::npos) {
            ++ages;
            printed_high += atoi(e[2].c_str()) >= 7;
            char text[32];
            snprintf(text, sizeof text, "%.3f", atof(e[2].c_str()) - offset / 1000);
            e[2] = text;
        }
        corrected.push_back(e);
    }
    EXPECT_GT(ages, 30);
    EXPECT_EQ(printed_high, ages) << "every printed age holds the clock difference";
    // estimate_vs_age reads ages as whole numbers only; compare here directly.
    std::vector<std::pair<double, double>> age_at;
    for (size_t i = 1; i < corrected.size(); ++i)
        if (corrected[i][1] == "server" &&
            corrected[i][2].find_first_not_of("-0123456789.") == std::string::npos)
            age_at.emplace_back(atof(corrected[i][0].c_str()), atof(corrected[i][2].c_str()));
    std::vector<double> diffs;
    for (size_t i = 1; i < timeline.size(); ++i) {
        const auto& r = timeline[i];
        if (r[kColEstDelayMs].empty()) continue;
        double t = atof(r[kColT].c_str()), est = atof(r[kColEstDelayMs].c_str()) / 1000;
        if (t < 5 || t + est > last - 0.3) continue;
        double sum = 0;
        int n = 0;
        for (const auto& a : age_at)
            if (a.first >= t + est - 0.5 && a.first <= t + est + 0.5) sum += a.second, ++n;
        if (n > 0) diffs.push_back(std::abs(sum / n - est));
    }
    ASSERT_GT(diffs.size(), 200u);
    EXPECT_LE(median(diffs), 0.6);
    EXPECT_GE(share_within(diffs, 1.1), 0.85);

    // The report says how much of each age is clock difference.
    const std::string page = slurp(out + "/report.html");
    EXPECT_NE(page.find("clock difference"), std::string::npos);

    // Each message's wait is measured on this host's clock after the
    // correction: a client mark here paired with an age line read there. The
    // raw clocks would put every wait 7 s too high.
    EXPECT_EQ(json_value(summary, summary_key::measured_wait_available), "true");
    std::vector<MessageWait> messages;
    std::string err;
    ASSERT_TRUE(read_run_messages(out, messages, err)) << err;
    int read = 0;
    for (const MessageWait& m : messages) {
        if (!m.read()) continue;
        ++read;
        EXPECT_GE(m.wait_ms(), -50) << m.n;
        // The printed age, whole seconds on two clocks, less the offset.
        EXPECT_NEAR(m.wait_ms() / 1000, m.age_s - offset / 1000, 1.5) << m.n;
    }
    EXPECT_GT(read, 30);
    printf("estimate against measured wait: median %s ms, p90 %s ms, signed median %s ms\n",
           json_value(summary, summary_key::est_error_median_ms).c_str(),
           json_value(summary, summary_key::est_error_p90_ms).c_str(),
           json_value(summary, summary_key::est_error_signed_median_ms).c_str());
    EXPECT_LT(atof(json_value(summary, summary_key::est_error_median_ms).c_str()), 500);
    EXPECT_NE(page.find("Against the measured wait of"), std::string::npos);
}

TEST_F(RemoteRun, KilledLabLeavesNothingAndTheNextRunSucceeds) {
    TempDir dir;
    {
        // Ctrl-C: the remote side is stopped in order and the files are written.
        LabChild lab(run_args(dir.path() + "/int", 60));
        ASSERT_GT(lab.pid(), 0);
        ASSERT_TRUE(lab.waitfor("for 60 s", 30000)) << lab.output();
        sleep(2);
        lab.signal(SIGINT);
        EXPECT_EQ(lab.waitexit(15000), 130) << lab.output();
        EXPECT_EQ(host->remote_programs(), 0) << "nothing outlives an orderly stop";
        auto summary = read_flat_json(slurp(dir.path() + "/int/summary.json"));
        EXPECT_EQ(json_value(summary, summary_key::interrupted), "true");
        EXPECT_NEAR(atof(json_value(summary, summary_key::clock_offset_ms).c_str()), 7000, 200);
    }
    {
        LabChild lab(run_args(dir.path() + "/a", 60));
        ASSERT_GT(lab.pid(), 0);
        ASSERT_TRUE(lab.waitfor("estimated delay", 30000)) << lab.output();
        ASSERT_GT(host->remote_programs(), 0) << "the remote side runs";
        lab.signal(SIGKILL);
        lab.waitexit(5000);
        const long long gone = remote_gone_within_5s();
        printf("remote side gone %lld ms after the kill\n", gone);
        EXPECT_GE(gone, 0) << host->remote_programs() << " programs left on HOST";
    }
    LabChild again(run_args(dir.path() + "/b", 4));
    EXPECT_EQ(again.waitexit(60000), 0) << again.output();
    EXPECT_TRUE(exists(dir.path() + "/b/summary.json"));
    EXPECT_EQ(remote_gone_within_5s() >= 0, true);
}

TEST_F(RemoteRun, FailuresAreOneClearLineBeforeAnythingStarts) {
    TempDir dir;
    const std::string out = dir.path() + "/run";
    auto with = [&](std::vector<std::string> args, const std::string& option,
                    const std::string& value) {
        for (size_t i = 0; i + 1 < args.size(); ++i)
            if (args[i] == option) args[i + 1] = value;
        return args;
    };
    const std::string old_pacelag = dir.path() + "/old-pacelag";
    {
        std::ofstream(old_pacelag) << "#!/bin/sh\necho 'Usage: pacelag (version 0.9.0) '\n";
        chmod(old_pacelag.c_str(), 0755);
    }
    const struct {
        const char* what;
        std::vector<std::string> args;
        const char* says;
    } cases[] = {
        {"a key HOST does not accept", run_args(out, 5, "other_key"), "Permission denied"},
        {"an unreachable host", with(run_args(out, 5), "-remote", "root@10.79.0.3"),
         "failed: ssh: connect to host 10.79.0.3"},
        {"no pacelag there", with(run_args(out, 5), "-remote-pacelag", "/nonexistent/pacelag"),
         "-remote-pacelag"},
        {"no pacelag-lab there", with(run_args(out, 5), "-remote-lab", "/nonexistent/pacelag-lab"),
         "-remote-lab"},
        {"no ssh here", with(run_args(out, 5), "-ssh", "/nonexistent/ssh -i key"),
         "cannot run '/nonexistent/ssh' here"},
        {"another version there", with(run_args(out, 5), "-remote-pacelag", old_pacelag),
         "install the same version on both"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        LabChild lab(c.args);
        ASSERT_GT(lab.pid(), 0);
        EXPECT_EQ(lab.waitexit(30000), 1) << lab.output();
        const std::string said = lab.output();
        EXPECT_NE(said.find(c.says), std::string::npos) << said;
        // One line of trouble after the one saying where it goes.
        EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 2) << said;
        EXPECT_FALSE(exists(out)) << "nothing started, nothing written";
        EXPECT_EQ(host->remote_programs(), 0);
        EXPECT_EQ(processes_with({"ssh", "-o", "BatchMode=yes"}), 0);
    }
}
TEST_F(RemoteRun, SweepRunsEachValueOnHost) {
    TempDir dir;
    const std::string out = dir.path() + "/sweep";
    auto args = run_args(out, 3);
    for (std::string& a : args)
        if (a == "run") a = "sweep";
    args.insert(args.end(), {"-vary", "server-rate", "-values", "2,4"});
    LabChild lab(args);
    EXPECT_EQ(lab.waitexit(90000), 0) << lab.output();
    for (const char* v : {"server-rate-2", "server-rate-4"}) {
        auto summary = read_flat_json(slurp(out + "/" + v + "/summary.json"));
        EXPECT_EQ(json_value(summary, summary_key::emulation), "remote") << v << lab.output();
        EXPECT_NEAR(atof(json_value(summary, summary_key::clock_offset_ms).c_str()), 7000, 200)
            << v << lab.output();
    }
    EXPECT_TRUE(exists(out + "/report.html"));
    EXPECT_EQ(remote_gone_within_5s() >= 0, true);
}
} // namespace
