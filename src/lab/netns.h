// SPDX-License-Identifier: MIT
// The lab's test bed: two network namespaces joined by a veth pair, the
// client's side shaped with tc, and the child processes that run in them.
// Everything is named after the lab's pid, so runs side by side never meet and
// a later run can tell the leftovers of a killed one.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <sys/types.h>

struct Testbed {
    std::string server_ns, client_ns; // namespace names; empty when on loopback
    std::string server_ip, client_ip;
    std::string client_dev; // the client's veth, the one shaped
    int server_nsfd = -1, client_nsfd = -1;
    bool shaped = false; // a token bucket limits the client's side
    int delay_ms = 0;    // delay really added (0 when netem is missing)
    std::string tag;     // "plab" and the pid: the namespaces' common stem
    int owner_lock = -1; // holds testbed_lock_path(tag) while the bed exists
};

// Runs a program (looked up in PATH) and waits for it, at most `timeout_ms`;
// its standard output and error land in `output`. Exit status, or -1 when it
// could not run or was killed.
int run_command(const char* const* argv, std::string* output, int timeout_ms = 10000);

// The file a lab holds locked (flock) while its test bed named `tag`
// ("plab" and its pid) exists. The lock, not the pid, tells whether its owner
// lives: a lab in another PID namespace has a pid that means nothing here, and
// the kernel releases the lock however its owner ends.
std::string testbed_lock_path(const std::string& tag);

// Removes the namespaces of lab runs that no longer run: whose lock file is
// not held (or, for a run that left no lock file, whose pid is gone). Each
// one that cannot be removed is reported on stderr. Returns how many were
// removed.
int remove_leftovers();

// Builds the test bed for this process. link_bps 0: no shaping; delay_ms 0:
// no delay. A note for the user (such as a missing netem) goes to `note`.
// 0, or -1 with the reason in `error` (and nothing left behind).
int testbed_create(Testbed& bed, int64_t link_bps, int delay_ms, std::string& note,
                   std::string& error);

// Removes what testbed_create made; safe to call twice or on an empty bed.
// Returns how many namespaces could not be removed, each described on a line
// of `trouble` (with the command that removes it).
int testbed_destroy(Testbed& bed, std::string* trouble = nullptr);

// Runs `fn` on a short-lived thread that joined namespace `nsfd` (-1: this
// one), so that sockets it opens stay bound there. Returns fn's result, or -1
// when the namespace could not be joined.
int in_namespace(int nsfd, int (*fn)(void*), void* arg);

// A started program whose standard output and error come through `out`.
struct Child {
    pid_t pid = -1;
    int out = -1;
    int status = -1; // wait status once reaped
    bool reaped = false;
};

// Starts `argv[0]` (a path) in namespace `nsfd` (-1: this one), in its own
// process group, killed by the kernel should the lab die. 0 or -1.
int child_start(Child& child, int nsfd, const char* const* argv);

// Sends SIGINT, waits up to `grace_ms` for the process to end, then SIGKILL,
// and reaps it. Whatever it still prints goes to `sink` (may be empty); the
// pipe is closed at the end.
void child_stop(Child& child, int grace_ms,
                const std::function<void(const char*, size_t)>& sink = nullptr);

// waitpid(pid, status, 0) that goes on waiting through interrupting signals
// (the lab's handlers do not restart calls). The pid, or -1 with errno set.
pid_t wait_child(pid_t pid, int* status);

// True once the process has ended (reaps it).
bool child_ended(Child& child);
