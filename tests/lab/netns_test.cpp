// SPDX-License-Identifier: MIT
// The lab's processes and namespaces without an experiment: waiting for a
// child through signals, and telling a live lab's namespaces from a dead one's.
#include "lab_helpers.h"
#include "netns.h"

#include <atomic>
#include <gtest/gtest.h>
#include <pthread.h>
#include <thread>

namespace {
extern "C" void on_usr1(int) {}
} // namespace

TEST(LabProcesses, WaitingForAChildOutlastsSignals) {
    // As the lab installs its handlers: no SA_RESTART.
    struct sigaction a, old;
    memset(&a, 0, sizeof a);
    a.sa_handler = on_usr1;
    sigemptyset(&a.sa_mask);
    ASSERT_EQ(sigaction(SIGUSR1, &a, &old), 0);
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        usleep(400000);
        _exit(7);
    }
    const pthread_t waiter = pthread_self();
    std::thread nudger([waiter] {
        for (int i = 0; i < 3; ++i) {
            usleep(80000);
            pthread_kill(waiter, SIGUSR1);
        }
    });
    int status = -1;
    pid_t got = wait_child(pid, &status);
    nudger.join();
    if (got != pid) waitpid(pid, nullptr, 0); // no zombie left behind either way
    sigaction(SIGUSR1, &old, nullptr);
    ASSERT_EQ(got, pid) << strerror(errno);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 7);
}
