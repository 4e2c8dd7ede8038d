// SPDX-License-Identifier: MIT
// Network namespaces, veth and tc through iproute2, and child processes that
// start inside a namespace.
#include "netns.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <sys/file.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <time.h>
#include <unistd.h>
#include <vector>

namespace {
const char kNsDir[] = "/run/netns";
const char kPrefix[] = "plab";
const char kLockDir[] = "/run/pacelag-lab";

int64_t now_ms() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec * 1000 + ts.tv_nsec / 1000000;
}

// Reaps `pid` within `ms`; true when it ended.
bool reap_within(pid_t pid, int& status, int ms) {
    int64_t deadline = now_ms() + ms;
    for (;;) {
        pid_t r = waitpid(pid, &status, WNOHANG);
        if (r == pid || (r < 0 && errno == ECHILD)) return true;
        if (now_ms() >= deadline) return false;
        usleep(5000);
    }
}

// Reads what the pipe holds into `sink` (or discards it); false at its end.
bool drain(int fd, int wait_ms, const std::function<void(const char*, size_t)>& sink) {
    pollfd p = {fd, POLLIN, 0};
    int n = poll(&p, 1, wait_ms);
    if (n <= 0) return true;
    char buf[4096];
    ssize_t got = read(fd, buf, sizeof buf);
    if (got < 0) return errno == EINTR || errno == EAGAIN;
    if (got == 0) return false;
    if (sink) sink(buf, static_cast<size_t>(got));
    return true;
}

// Runs a step of the set-up; on failure describes it in `error`.
bool step(const std::vector<std::string>& words, std::string& error) {
    std::vector<const char*> argv;
    for (const std::string& w : words) argv.push_back(w.c_str());
    argv.push_back(nullptr);
    std::string output;
    int rc = run_command(argv.data(), &output);
    if (rc == 0) return true;
    while (!output.empty() && (output.back() == '\n' || output.back() == ' ')) output.pop_back();
    std::string text;
    for (const std::string& w : words) text += (text.empty() ? "" : " ") + w;
    error = "'" + text + "' failed" + (output.empty() ? "" : ": " + output);
    return false;
}
} // namespace

int run_command(const char* const* argv, std::string* output, int timeout_ms) {
    int pipefd[2];
    if (pipe2(pipefd, O_CLOEXEC) != 0) return -1;
    pid_t pid = fork();
    if (pid < 0) {
        close(pipefd[0]);
        close(pipefd[1]);
        return -1;
    }
    if (pid == 0) {
        // A group of its own: a Ctrl-C at the terminal (pressed again during
        // clean-up, say) reaches the lab, which finishes what it started,
        // and never kills an `ip netns del` half way.
        setpgid(0, 0);
        int null = open("/dev/null", O_RDONLY);
        if (null >= 0) dup2(null, 0);
        dup2(pipefd[1], 1);
        dup2(pipefd[1], 2);
        signal(SIGPIPE, SIG_DFL);
        execvp(argv[0], const_cast<char* const*>(argv));
        _exit(127);
    }
    close(pipefd[1]);
    int64_t deadline = now_ms() + timeout_ms;
    auto keep = [output](const char* data, size_t len) {
        if (output != nullptr) output->append(data, len);
    };
    while (now_ms() < deadline && drain(pipefd[0], 50, keep)) {
    }
    close(pipefd[0]);
    int status = 0;
    if (!reap_within(pid, status,
                     static_cast<int>(deadline - now_ms() > 0 ? deadline - now_ms() : 0))) {
        kill(pid, SIGKILL);
        wait_child(pid, &status);
        return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string testbed_lock_path(const std::string& tag) {
    return std::string(kLockDir) + "/" + tag + ".lock";
}

namespace {
constexpr int kLockHeld = -1, kNoLockFile = -2;

// The lock of `tag`'s owner, taken when nobody holds it (the caller closes
// the descriptor); kLockHeld when a live process holds it, or when the file
// cannot be opened (better to leave a namespace than to take a live one's);
// kNoLockFile when there is none.
int take_owner_lock(const std::string& tag) {
    int fd = open(testbed_lock_path(tag).c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) return errno == ENOENT ? kNoLockFile : kLockHeld;
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        close(fd);
        return kLockHeld;
    }
    return fd;
}
} // namespace

int remove_leftovers() {
    DIR* dir = opendir(kNsDir);
    if (dir == nullptr) return 0;
    std::vector<std::string> tags, names;
    while (dirent* e = readdir(dir)) {
        const char* name = e->d_name;
        if (strncmp(name, kPrefix, sizeof kPrefix - 1) != 0) continue;
        char* end = nullptr;
        long pid = strtol(name + sizeof kPrefix - 1, &end, 10);
        if (end == name + sizeof kPrefix - 1 || (strcmp(end, "s") != 0 && strcmp(end, "c") != 0))
            continue;
        if (pid <= 0 || pid == getpid()) continue;
        names.push_back(name);
        std::string tag(name, static_cast<size_t>(end - name));
        if (std::find(tags.begin(), tags.end(), tag) == tags.end()) tags.push_back(tag);
    }
    closedir(dir);
    int removed = 0;
    for (const std::string& tag : tags) {
        int lock = take_owner_lock(tag);
        if (lock == kLockHeld) continue; // its lab still runs
        if (lock == kNoLockFile) {
            // Left by a lab that kept no lock file: only its pid can tell.
            long pid = strtol(tag.c_str() + sizeof kPrefix - 1, nullptr, 10);
            if (kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH) continue;
        }
        bool all = true;
        for (const std::string& name : names) {
            if (name.compare(0, tag.size(), tag) != 0 || name.size() != tag.size() + 1) continue;
            std::string why;
            if (step({"ip", "netns", "del", name}, why)) {
                ++removed;
            } else {
                all = false;
                fprintf(stderr,
                        "pacelag-lab: cannot remove the network namespace %s left by an "
                        "earlier run: %s\n",
                        name.c_str(), why.c_str());
            }
        }
        if (all) unlink(testbed_lock_path(tag).c_str());
        if (lock >= 0) close(lock);
    }
    return removed;
}

int testbed_create(Testbed& bed, int64_t link_bps, int delay_ms, std::string& note,
                   std::string& error) {
    const std::string tag = kPrefix + std::to_string(getpid());
    const std::string s = tag + "s", c = tag + "c";
    bed = Testbed();
    // Held as long as the test bed exists; see testbed_lock_path.
    if (mkdir(kLockDir, 0755) != 0 && errno != EEXIST) {
        error = std::string("cannot make ") + kLockDir + ": " + strerror(errno);
        return -1;
    }
    bed.owner_lock = open(testbed_lock_path(tag).c_str(), O_CREAT | O_RDWR | O_CLOEXEC, 0644);
    if (bed.owner_lock < 0 || flock(bed.owner_lock, LOCK_EX | LOCK_NB) != 0) {
        error = bed.owner_lock < 0
                    ? "cannot make " + testbed_lock_path(tag) + ": " + strerror(errno)
                    : "another pacelag-lab (in another PID namespace) uses the names " + s +
                          " and " + c;
        if (bed.owner_lock >= 0) close(bed.owner_lock);
        bed.owner_lock = -1;
        return -1;
    }
    bed.tag = tag;
    // Names with this pid can only be left from an earlier process that had
    // the same pid and was killed.
    for (const std::string* name : {&s, &c}) {
        if (access((std::string(kNsDir) + "/" + *name).c_str(), F_OK) != 0) continue;
        const char* argv[] = {"ip", "netns", "del", name->c_str(), nullptr};
        run_command(argv, nullptr);
    }
    if (!step({"ip", "netns", "add", s}, error)) {
        testbed_destroy(bed);
        return -1;
    }
    bed.server_ns = s;
    bool ok = step({"ip", "netns", "add", c}, error);
    if (ok) bed.client_ns = c;
    const std::vector<std::vector<std::string>> wiring = {
        {"ip", "-n", s, "link", "add", s, "type", "veth", "peer", "name", c, "netns", c},
        {"ip", "-n", s, "addr", "add", "10.77.0.1/30", "dev", s},
        {"ip", "-n", c, "addr", "add", "10.77.0.2/30", "dev", c},
        {"ip", "-n", s, "link", "set", "lo", "up"},
        {"ip", "-n", c, "link", "set", "lo", "up"},
        {"ip", "-n", s, "link", "set", s, "up"},
        {"ip", "-n", c, "link", "set", c, "up"},
    };
    for (const auto& cmd : wiring) ok = ok && step(cmd, error);
    bed.server_ip = "10.77.0.1";
    bed.client_ip = "10.77.0.2";
    bed.client_dev = c;
    if (ok && link_bps > 0) {
        // The burst must hold a full packet. The limit is a modest router
        // buffer (a fifth of a second, at least a few packets): a deep one
        // only turns the link's queue into losses and retransmissions.
        int64_t bytes = link_bps / 8;
        int64_t burst = bytes / 50 > 3200 ? bytes / 50 : 3200;
        int64_t limit = bytes / 5 > 8000 ? bytes / 5 : 8000;
        ok = step({"tc", "-n", c, "qdisc", "add", "dev", c, "root", "handle", "1:", "tbf", "rate",
                   std::to_string(link_bps) + "bit", "burst", std::to_string(burst), "limit",
                   std::to_string(limit)},
                  error);
        bed.shaped = ok;
    }
    if (ok && delay_ms > 0) {
        std::vector<std::string> netem = {"tc", "-n", c, "qdisc", "add", "dev", c};
        if (bed.shaped)
            netem.insert(netem.end(), {"parent", "1:1", "handle", "10:"});
        else
            netem.insert(netem.end(), {"root", "handle", "1:"});
        netem.insert(netem.end(),
                     {"netem", "delay", std::to_string(delay_ms) + "ms", "limit", "100000"});
        std::string why;
        if (step(netem, why))
            bed.delay_ms = delay_ms;
        else
            note = "this kernel has no netem (" + why + "): going on without delay";
    }
    if (ok) {
        bed.server_nsfd = open((std::string(kNsDir) + "/" + s).c_str(), O_RDONLY | O_CLOEXEC);
        bed.client_nsfd = open((std::string(kNsDir) + "/" + c).c_str(), O_RDONLY | O_CLOEXEC);
        if (bed.server_nsfd < 0 || bed.client_nsfd < 0) {
            error = std::string("cannot open the namespaces: ") + strerror(errno);
            ok = false;
        }
    }
    if (!ok) {
        testbed_destroy(bed);
        return -1;
    }
    return 0;
}

int testbed_destroy(Testbed& bed, std::string* trouble) {
    if (bed.server_nsfd >= 0) close(bed.server_nsfd);
    if (bed.client_nsfd >= 0) close(bed.client_nsfd);
    bed.server_nsfd = bed.client_nsfd = -1;
    // Deleting a namespace takes its veth end, the peer and the qdiscs along.
    int left = 0;
    for (std::string* ns : {&bed.client_ns, &bed.server_ns}) {
        if (ns->empty()) continue;
        std::string why;
        if (!step({"ip", "netns", "del", *ns}, why)) {
            ++left;
            if (trouble != nullptr)
                *trouble += "pacelag-lab: cannot remove the network namespace " + *ns + ": " + why +
                            "; remove it with: ip netns del " + *ns + "\n";
        }
        ns->clear();
    }
    // A namespace left behind keeps its lock file, so that a later run,
    // finding the lock free, removes it.
    if (!bed.tag.empty() && left == 0) unlink(testbed_lock_path(bed.tag).c_str());
    if (bed.owner_lock >= 0) close(bed.owner_lock);
    bed.owner_lock = -1;
    bed.tag.clear();
    return left;
}

int in_namespace(int nsfd, int (*fn)(void*), void* arg) {
    if (nsfd < 0) return fn(arg);
    int result = -1;
    std::thread worker([&] {
        if (setns(nsfd, CLONE_NEWNET) == 0) result = fn(arg);
    });
    worker.join();
    return result;
}

int child_start(Child& child, int nsfd, const char* const* argv) {
    child = Child();
    int pipefd[2];
    if (pipe2(pipefd, O_CLOEXEC) != 0) return -1;
    const pid_t parent = getpid();
    pid_t pid = fork();
    if (pid < 0) {
        close(pipefd[0]);
        close(pipefd[1]);
        return -1;
    }
    if (pid == 0) {
        // Only async-signal-safe calls from here on.
        setpgid(0, 0); // a Ctrl-C reaches the lab, which stops the children in order
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (getppid() != parent) _exit(127);
        if (nsfd >= 0 && setns(nsfd, CLONE_NEWNET) != 0) _exit(126);
        int null = open("/dev/null", O_RDONLY);
        if (null >= 0) dup2(null, 0);
        dup2(pipefd[1], 1);
        dup2(pipefd[1], 2);
        signal(SIGPIPE, SIG_DFL);
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        execv(argv[0], const_cast<char* const*>(argv));
        _exit(127);
    }
    close(pipefd[1]);
    child.pid = pid;
    child.out = pipefd[0];
    return 0;
}

pid_t wait_child(pid_t pid, int* status) {
    for (;;) {
        pid_t r = waitpid(pid, status, 0);
        if (r >= 0 || errno != EINTR) return r;
    }
}

bool child_ended(Child& child) {
    if (child.reaped || child.pid < 0) return true;
    pid_t r = waitpid(child.pid, &child.status, WNOHANG);
    if (r == child.pid || (r < 0 && errno == ECHILD)) child.reaped = true;
    return child.reaped;
}

void child_stop(Child& child, int grace_ms, const std::function<void(const char*, size_t)>& sink) {
    if (child.pid > 0 && !child_ended(child)) {
        kill(child.pid, SIGINT);
        int64_t deadline = now_ms() + grace_ms;
        while (!child_ended(child) && now_ms() < deadline) {
            if (child.out < 0 || !drain(child.out, 10, sink)) usleep(5000);
        }
        if (!child.reaped) {
            kill(child.pid, SIGKILL);
            wait_child(child.pid, &child.status);
            child.reaped = true;
        }
    }
    // What is left in the pipe after the end; bounded, a grandchild could hold it open.
    if (child.out >= 0) {
        int64_t deadline = now_ms() + 500;
        while (now_ms() < deadline && drain(child.out, 20, sink)) {
        }
        close(child.out);
        child.out = -1;
    }
}
