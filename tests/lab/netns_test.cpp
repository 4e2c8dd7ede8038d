// SPDX-License-Identifier: MIT
// The lab's processes and namespaces without an experiment: waiting for a
// child through signals, and telling a live lab's namespaces from a dead one's.
#include "lab_helpers.h"
#include "netns.h"

#include <atomic>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
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

namespace {
bool namespace_exists(const std::string& name) {
    return exists("/run/netns/" + name);
}

void ip_netns(const char* verb, const std::string& name) {
    const char* argv[] = {"ip", "netns", verb, name.c_str(), nullptr};
    run_command(argv, nullptr);
}
} // namespace

TEST(LabNamespaces, ALiveLabElsewhereKeepsItsNamespaces) {
    if (geteuid() != 0) GTEST_SKIP() << "namespaces need root";
    // A lab in another PID namespace: its pid names no process here.
    pid_t other = 3999999;
    while (other > 1000000 && (kill(other, 0) == 0 || errno != ESRCH)) --other;
    const std::string tag = "plab" + std::to_string(other);
    const std::string lock = testbed_lock_path(tag);
    mkdir(lock.substr(0, lock.rfind('/')).c_str(), 0755);
    int held = open(lock.c_str(), O_CREAT | O_RDWR | O_CLOEXEC, 0644);
    ASSERT_GE(held, 0) << lock << ": " << strerror(errno);
    ASSERT_EQ(flock(held, LOCK_EX | LOCK_NB), 0);
    ip_netns("add", tag + "s");
    ip_netns("add", tag + "c");
    ASSERT_TRUE(namespace_exists(tag + "s") && namespace_exists(tag + "c"));

    remove_leftovers();
    const bool kept = namespace_exists(tag + "s") && namespace_exists(tag + "c");
    // It ends without cleaning up: the kernel drops its lock.
    close(held);
    remove_leftovers();
    const bool removed = !namespace_exists(tag + "s") && !namespace_exists(tag + "c");
    const bool lock_gone = !exists(lock);
    for (const char* side : {"s", "c"})
        if (namespace_exists(tag + side)) ip_netns("del", tag + side);
    unlink(lock.c_str());
    EXPECT_TRUE(kept) << "a live lab's namespaces were removed";
    EXPECT_TRUE(removed) << "a dead lab's namespaces stayed";
    EXPECT_TRUE(lock_gone);
}
