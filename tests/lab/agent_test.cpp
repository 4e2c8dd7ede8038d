// SPDX-License-Identifier: MIT
// pacelag-lab agent, the remote side of a two-machine run, driven here
// through its standard input as the lab drives it over ssh: it says hello,
// answers a clock probe, starts the server when told, and ends it, and
// itself, when the session closes or the lab has been silent too long (a
// connection lost without a close).
#include "lab_helpers.h"
#include "stream.h"

#include "pacelag/version.h"

#include <gtest/gtest.h>

namespace {
class Agent {
  public:
    explicit Agent(int quiet_limit_s) {
        int in[2], out[2];
        if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0) return;
        pid_ = fork();
        if (pid_ == 0) {
            dup2(in[0], 0);
            dup2(out[1], 1);
            execl(PACELAG_LAB_BIN, PACELAG_LAB_BIN, "agent", "-pacelag", PACELAG_BIN, "-rate", "2",
                  "-quiet-limit", std::to_string(quiet_limit_s).c_str(),
                  static_cast<char*>(nullptr));
            _exit(127);
        }
        close(in[0]);
        close(out[1]);
        in_ = in[1];
        out_ = out[0];
    }
    ~Agent() {
        if (pid_ > 0 && !ended_) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        if (in_ >= 0) close(in_);
        if (out_ >= 0) close(out_);
    }
    void say(const std::string& line) { (void)!write(in_, line.data(), line.size()); }
    void hang_up() {
        close(in_);
        in_ = -1;
    }
    // The next record of the given type within `ms`; type empty when none came.
    StreamRecord next(const std::string& type, int ms) {
        const long long end = lab_now_ms() + ms;
        for (;;) {
            size_t nl;
            while ((nl = buffer_.find('\n')) != std::string::npos) {
                StreamRecord r;
                std::string err;
                std::string line = buffer_.substr(0, nl);
                buffer_.erase(0, nl + 1);
                EXPECT_TRUE(stream_parse(line, r, err)) << err << ": " << line;
                if (r.type == type) return r;
            }
            const long long left = end - lab_now_ms();
            pollfd p = {out_, POLLIN, 0};
            if (left <= 0 || poll(&p, 1, static_cast<int>(left)) <= 0) return StreamRecord();
            char buf[4096];
            ssize_t n = read(out_, buf, sizeof buf);
            if (n <= 0) return StreamRecord();
            buffer_.append(buf, static_cast<size_t>(n));
        }
    }
    // Exit status within `ms`; -2 when still running.
    int wait(int ms) {
        for (const long long end = lab_now_ms() + ms; lab_now_ms() < end; usleep(10000)) {
            int st = 0;
            if (waitpid(pid_, &st, WNOHANG) == pid_) {
                ended_ = true;
                return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
            }
        }
        return -2;
    }

  private:
    pid_t pid_ = -1;
    int in_ = -1, out_ = -1;
    bool ended_ = false;
    std::string buffer_;
};
} // namespace

TEST(LabAgent, EndsWithItsSessionOrAfterSilence) {
    const struct {
        const char* how;
        bool hang_up;
    } cases[] = {{"the session closes", true}, {"the lab falls silent", false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.how);
        Agent agent(1);
        StreamRecord hello = agent.next("hello", 10000);
        ASSERT_EQ(hello.type, "hello");
        EXPECT_EQ(hello.lab_version, PACELAG_VERSION);
        EXPECT_EQ(hello.pacelag_version, PACELAG_VERSION);
        ASSERT_GT(hello.port, 0);
        const double before = host_clock();
        agent.say("probe 7\n");
        StreamRecord probe = agent.next("probe", 5000);
        EXPECT_EQ(probe.id, 7);
        EXPECT_GE(probe.t2, before);
        EXPECT_GE(probe.t3, probe.t2);
        EXPECT_LE(probe.t3, host_clock());

        agent.say("start\n");
        StreamRecord line = agent.next("line", 5000);
        EXPECT_EQ(line.side, "server");
        EXPECT_EQ(line.text, "Waiting for connection..");
        const std::string server_port = "-port " + std::to_string(hello.port) + " ";
        EXPECT_EQ(processes_with({PACELAG_BIN, "-mode server", server_port}), 1);
        EXPECT_EQ(agent.next("sample", 1000).type, "sample");

        const long long from = lab_now_ms();
        if (c.hang_up) agent.hang_up();
        EXPECT_EQ(agent.wait(5000), 0);
        const long long took = lab_now_ms() - from;
        EXPECT_LT(took, c.hang_up ? 1500 : 3500);
        EXPECT_EQ(processes_with({PACELAG_BIN, "-mode server", server_port}), 0);
    }
}
