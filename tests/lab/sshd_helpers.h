// SPDX-License-Identifier: MIT
// A second host for the lab's two-machine tests: a real OpenSSH server in a
// network namespace of its own, with a throwaway host key and user key,
// listening only on that namespace's address, and a second namespace for the
// lab joined to it by a veth pair. Everything is named after this process's
// pid and removed on every path: the destructor, the kernel's parent-death
// signal for sshd, and a sweep of the leftovers of earlier killed runs.
#pragma once

#include "lab_helpers.h"

#include <sys/prctl.h>

class SshHost {
  public:
    static constexpr const char* kHostIp = "10.79.0.1";
    static constexpr const char* kLabIp = "10.79.0.2";

    // Empty `why()` when it is ready; otherwise the one-line reason.
    SshHost() {
        if (geteuid() != 0) {
            fail("needs root for network namespaces and sshd");
            return;
        }
        for (const char* tool :
             {"/usr/sbin/sshd", "/usr/bin/ssh", "/usr/bin/ssh-keygen", "/usr/bin/faketime"})
            if (access(tool, X_OK) != 0) {
                fail(std::string("no ") + tool + " (openssh-server, openssh-client, faketime)");
                return;
            }
        ip_ = access("/usr/sbin/ip", X_OK) == 0 ? "/usr/sbin/ip" : "/sbin/ip";
        remove_leftovers();
        if (dir_.path().empty()) {
            fail("no temporary directory");
            return;
        }
        const std::string tag = std::to_string(getpid());
        host_ns_ = "plssh" + tag + "h";
        lab_ns_ = "plssh" + tag + "l";
        const std::string d = dir_.path();
        const std::vector<std::vector<std::string>> steps = {
            {ip_, "netns", "add", host_ns_},
            {ip_, "netns", "add", lab_ns_},
            {ip_, "-n", host_ns_, "link", "add", "h" + tag, "type", "veth", "peer", "name",
             "l" + tag, "netns", lab_ns_},
            {ip_, "-n", host_ns_, "addr", "add", std::string(kHostIp) + "/30", "dev", "h" + tag},
            {ip_, "-n", lab_ns_, "addr", "add", std::string(kLabIp) + "/30", "dev", "l" + tag},
            {ip_, "-n", host_ns_, "link", "set", "lo", "up"},
            {ip_, "-n", lab_ns_, "link", "set", "lo", "up"},
            {ip_, "-n", host_ns_, "link", "set", "h" + tag, "up"},
            {ip_, "-n", lab_ns_, "link", "set", "l" + tag, "up"},
            {"/usr/bin/ssh-keygen", "-q", "-t", "ed25519", "-N", "", "-f", d + "/host_key"},
            {"/usr/bin/ssh-keygen", "-q", "-t", "ed25519", "-N", "", "-f", d + "/user_key"},
            {"/usr/bin/ssh-keygen", "-q", "-t", "ed25519", "-N", "", "-f", d + "/other_key"},
        };
        for (const auto& s : steps)
            if (!run(s)) {
                fail("set-up step failed: " + s[0] + " " + s[1] + " " + s[2]);
                return;
            }
        write(d + "/authorized_keys", slurp(d + "/user_key.pub"));
        write(d + "/known_hosts", std::string(kHostIp) + " " + slurp(d + "/host_key.pub"));
        write(d + "/sshd_config", "ListenAddress " + std::string(kHostIp) +
                                      ":22\n"
                                      "HostKey " +
                                      d +
                                      "/host_key\n"
                                      "AuthorizedKeysFile " +
                                      d +
                                      "/authorized_keys\n"
                                      "PermitRootLogin prohibit-password\n"
                                      "PasswordAuthentication no\n"
                                      "KbdInteractiveAuthentication no\n"
                                      "UsePAM no\n"
                                      "StrictModes no\n"
                                      "PidFile none\n"
                                      "MaxStartups 50\n");
        // The remote programs as HOST runs them: its wall clock 7 s ahead.
        // Only the wall clock: libfaketime would otherwise move
        // CLOCK_MONOTONIC as well, and a remote side that stamped its
        // samples with that clock would then pass for right.
        mkdir((d + "/bin").c_str(), 0755);
        for (const auto& p : {std::make_pair("pacelag-lab", PACELAG_LAB_BIN),
                              std::make_pair("pacelag", PACELAG_BIN)}) {
            const std::string wrapper = d + "/bin/" + p.first;
            // A sanitizer build's runtime must come first among the loaded
            // libraries; libfaketime's preload is let before it.
            write(wrapper, std::string("#!/bin/sh\nASAN_OPTIONS=verify_asan_link_order=0:"
                                       "${ASAN_OPTIONS:-} exec /usr/bin/faketime "
                                       "--exclude-monotonic -f +7s ") +
                               p.second + " \"$@\"\n");
            chmod(wrapper.c_str(), 0755);
        }
        mkdir("/run/sshd", 0755); // sshd's privilege separation directory
        sshd_ = fork();
        if (sshd_ == 0) {
            prctl(PR_SET_PDEATHSIG, SIGKILL);
            int null = open("/dev/null", O_RDWR);
            dup2(null, 0), dup2(null, 1), dup2(null, 2);
            execl(ip_.c_str(), ip_.c_str(), "netns", "exec", host_ns_.c_str(), "/usr/sbin/sshd",
                  "-D", "-e", "-f", (d + "/sshd_config").c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        if (sshd_ < 0) {
            fail("cannot fork sshd");
            return;
        }
        // Ready once a login works.
        for (long long end = lab_now_ms() + 15000; lab_now_ms() < end; usleep(100000)) {
            std::vector<std::string> probe = {ip_, "netns", "exec", lab_ns_};
            for (const std::string& w : ssh_words()) probe.push_back(w);
            probe.insert(probe.end(), {"-o", "BatchMode=yes", dest(), "true"});
            if (run(probe)) return;
        }
        fail("sshd did not accept a login within 15 s");
    }

    ~SshHost() { teardown(); }
    SshHost(const SshHost&) = delete;
    SshHost& operator=(const SshHost&) = delete;

    const std::string& why() const { return why_; }
    std::string dest() const { return std::string("root@") + kHostIp; }
    const std::string& dir() const { return dir_.path(); }
    const std::string& ip() const { return ip_; }
    const std::string& lab_ns() const { return lab_ns_; }
    std::string wrapper(const char* name) const { return dir_.path() + "/bin/" + name; }

    // The ssh command for -ssh: this user key, this host key only, no user
    // configuration.
    std::vector<std::string> ssh_words(const std::string& key = "user_key") const {
        const std::string d = dir_.path();
        return {"/usr/bin/ssh",
                "-F",
                "/dev/null",
                "-i",
                d + "/" + key,
                "-o",
                "IdentitiesOnly=yes",
                "-o",
                "UserKnownHostsFile=" + d + "/known_hosts",
                "-o",
                "GlobalKnownHostsFile=/dev/null",
                "-o",
                "StrictHostKeyChecking=yes"};
    }
    std::string ssh_command(const std::string& key = "user_key") const {
        std::string s;
        for (const std::string& w : ssh_words(key)) s += (s.empty() ? "" : " ") + w;
        return s;
    }

    // A pacelag-lab command run inside the lab's namespace.
    std::vector<std::string> in_lab(const std::vector<std::string>& args) const {
        std::vector<std::string> a = {ip_, "netns", "exec", lab_ns_};
        a.insert(a.end(), args.begin(), args.end());
        return a;
    }

    // Processes named pacelag or pacelag-lab in HOST's namespace.
    int remote_programs() const {
        struct stat ns;
        if (stat(("/run/netns/" + host_ns_).c_str(), &ns) != 0) return -1;
        int n = 0;
        DIR* d = opendir("/proc");
        if (d == nullptr) return -1;
        while (dirent* e = readdir(d)) {
            if (e->d_name[0] < '0' || e->d_name[0] > '9') continue;
            const std::string p = std::string("/proc/") + e->d_name;
            struct stat st;
            if (stat((p + "/ns/net").c_str(), &st) != 0 || st.st_ino != ns.st_ino) continue;
            std::string comm = slurp(p + "/comm");
            if (comm == "pacelag\n" || comm == "pacelag-lab\n") ++n;
        }
        closedir(d);
        return n;
    }

  private:
    void fail(const std::string& why) {
        why_ = why;
        teardown();
    }
    bool run(const std::vector<std::string>& args) const {
        pid_t pid = fork();
        if (pid == 0) {
            int null = open("/dev/null", O_RDWR);
            dup2(null, 0), dup2(null, 1), dup2(null, 2);
            std::vector<char*> argv;
            for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
            argv.push_back(nullptr);
            execv(argv[0], argv.data());
            _exit(127);
        }
        if (pid < 0) return false;
        int st = 0;
        for (long long end = lab_now_ms() + 20000; waitpid(pid, &st, WNOHANG) == 0;) {
            if (lab_now_ms() > end) {
                kill(pid, SIGKILL);
                waitpid(pid, &st, 0);
                return false;
            }
            usleep(10000);
        }
        return WIFEXITED(st) && WEXITSTATUS(st) == 0;
    }
    static void write(const std::string& path, const std::string& text) {
        std::ofstream(path, std::ios::binary) << text;
    }
    void teardown() {
        if (sshd_ > 0) {
            kill(sshd_, SIGTERM);
            int st;
            for (long long end = lab_now_ms() + 3000;
                 waitpid(sshd_, &st, WNOHANG) == 0 && lab_now_ms() < end;)
                usleep(10000);
            kill(sshd_, SIGKILL);
            waitpid(sshd_, &st, 0);
            sshd_ = -1;
        }
        for (std::string* ns : {&lab_ns_, &host_ns_}) {
            if (!ns->empty() && exists("/run/netns/" + *ns)) run({ip_, "netns", "del", *ns});
            ns->clear();
        }
    }
    // Namespaces of earlier test processes that are gone (killed mid-test).
    void remove_leftovers() const {
        DIR* d = opendir("/run/netns");
        if (d == nullptr) return;
        std::vector<std::string> stale;
        while (dirent* e = readdir(d)) {
            const char* name = e->d_name;
            if (strncmp(name, "plssh", 5) != 0) continue;
            char* end = nullptr;
            long pid = strtol(name + 5, &end, 10);
            if (pid <= 0 || (strcmp(end, "h") != 0 && strcmp(end, "l") != 0)) continue;
            if (exists("/proc/" + std::to_string(pid))) continue;
            stale.push_back(name);
        }
        closedir(d);
        for (const std::string& s : stale) run({ip_, "netns", "del", s});
    }

    TempDir dir_;
    std::string ip_, host_ns_, lab_ns_, why_;
    pid_t sshd_ = -1;
};
