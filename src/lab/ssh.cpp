// SPDX-License-Identifier: MIT
// The ssh command line and the ssh process.
#include "ssh.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

namespace {
int64_t now_ms() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec * 1000 + ts.tv_nsec / 1000000;
}

void close_fd(int& fd) {
    if (fd >= 0) close(fd);
    fd = -1;
}
} // namespace

bool split_command(const std::string& text, std::vector<std::string>& words, std::string& error) {
    words.clear();
    std::string word;
    bool in_word = false;
    char quote = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (quote == '\'') {
            if (c == '\'')
                quote = 0;
            else
                word += c;
        } else if (c == '\\' && i + 1 < text.size() && quote != '\'') {
            word += text[++i];
            in_word = true;
        } else if (quote == '"') {
            if (c == '"')
                quote = 0;
            else
                word += c;
        } else if (c == '\'' || c == '"') {
            quote = c;
            in_word = true;
        } else if (c == ' ' || c == '\t' || c == '\n') {
            if (in_word) words.push_back(word);
            word.clear();
            in_word = false;
        } else {
            word += c;
            in_word = true;
        }
    }
    if (quote != 0) {
        error = std::string("the ssh command has an unclosed ") + quote;
        return false;
    }
    if (in_word) words.push_back(word);
    if (words.empty()) {
        error = "the ssh command is empty";
        return false;
    }
    return true;
}

std::string shell_quote(const std::string& word) {
    static const char kSafe[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"
                                "0123456789@%+=:,./_-";
    if (!word.empty() && word.find_first_not_of(kSafe) == std::string::npos) return word;
    std::string out = "'";
    for (char c : word) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

std::vector<std::string> ssh_argv(const std::vector<std::string>& ssh, const std::string& dest,
                                  const std::vector<std::string>& remote) {
    // ssh keeps the first value it is given for an option: batch mode goes
    // before the user's words so nothing can turn prompting back on; the
    // timeouts go after them so the user's own win.
    std::vector<std::string> argv = {ssh.empty() ? std::string("ssh") : ssh[0], "-T", "-o",
                                     "BatchMode=yes"};
    if (ssh.size() > 1) argv.insert(argv.end(), ssh.begin() + 1, ssh.end());
    argv.insert(argv.end(), {"-o", "ConnectTimeout=10", "-o", "ServerAliveInterval=2", "-o",
                             "ServerAliveCountMax=5", "--", dest});
    std::string command;
    for (const std::string& w : remote) command += (command.empty() ? "" : " ") + shell_quote(w);
    argv.push_back(command);
    return argv;
}

std::string ssh_host(const std::string& dest) {
    size_t at = dest.rfind('@');
    std::string host = at == std::string::npos ? dest : dest.substr(at + 1);
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']')
        host = host.substr(1, host.size() - 2);
    return host;
}

std::string ssh_reason(const std::string& errors) {
    size_t end = errors.size();
    while (end > 0) {
        size_t start = errors.rfind('\n', end - 1);
        start = start == std::string::npos ? 0 : start + 1;
        std::string line = errors.substr(start, end - start);
        while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
        if (!line.empty()) return line;
        end = start > 0 ? start - 1 : 0;
    }
    return "no reason given";
}

int ssh_start(SshProcess& p, const std::vector<std::string>& args) {
    p = SshProcess();
    int in[2], out[2], err[2];
    if (pipe2(in, O_CLOEXEC) != 0) return -1;
    if (pipe2(out, O_CLOEXEC) != 0) {
        close(in[0]), close(in[1]);
        return -1;
    }
    if (pipe2(err, O_CLOEXEC) != 0) {
        close(in[0]), close(in[1]), close(out[0]), close(out[1]);
        return -1;
    }
    std::vector<const char*> argv;
    for (const std::string& a : args) argv.push_back(a.c_str());
    argv.push_back(nullptr);
    const pid_t parent = getpid();
    pid_t pid = fork();
    if (pid == 0) {
        // Only async-signal-safe calls from here on. Its own process group,
        // so a Ctrl-C meant for the lab does not cut the session before the
        // lab has stopped the remote side in order.
        setpgid(0, 0);
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (getppid() != parent) _exit(127);
        dup2(in[0], 0);
        dup2(out[1], 1);
        dup2(err[1], 2);
        signal(SIGPIPE, SIG_DFL);
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        execvp(argv[0], const_cast<char* const*>(argv.data()));
        _exit(127);
    }
    int saved = errno;
    close(in[0]), close(out[1]), close(err[1]);
    if (pid < 0) {
        close(in[1]), close(out[0]), close(err[0]);
        errno = saved;
        return -1;
    }
    p.pid = pid;
    p.in = in[1];
    p.out = out[0];
    p.err = err[0];
    fcntl(p.err, F_SETFL, fcntl(p.err, F_GETFL) | O_NONBLOCK);
    return 0;
}

void ssh_read_errors(SshProcess& p) {
    char buf[1024];
    while (p.err >= 0) {
        ssize_t n = read(p.err, buf, sizeof buf);
        if (n > 0) {
            // Only the end matters (the reason); keep it bounded.
            p.errors.append(buf, static_cast<size_t>(n));
            if (p.errors.size() > 16384) p.errors.erase(0, p.errors.size() - 8192);
        } else if (n == 0) {
            close_fd(p.err);
        } else if (errno != EINTR) {
            break;
        }
    }
}

bool ssh_ended(SshProcess& p) {
    if (p.reaped || p.pid < 0) return true;
    pid_t r;
    do {
        r = waitpid(p.pid, &p.status, WNOHANG);
    } while (r < 0 && errno == EINTR);
    if (r == p.pid || (r < 0 && errno == ECHILD)) p.reaped = true;
    return p.reaped;
}

void ssh_stop(SshProcess& p, int grace_ms) {
    close_fd(p.in);
    if (p.pid > 0 && !ssh_ended(p)) {
        int64_t deadline = now_ms() + grace_ms;
        while (!ssh_ended(p) && now_ms() < deadline) {
            ssh_read_errors(p);
            pollfd f = {p.out, POLLIN, 0};
            // Whatever the remote side still says is not wanted any more,
            // but it must be read so the remote side is not held up.
            if (p.out >= 0 && poll(&f, 1, 10) > 0) {
                char buf[4096];
                if (read(p.out, buf, sizeof buf) == 0) close_fd(p.out);
            } else if (p.out < 0) {
                usleep(10000);
            }
        }
        if (!p.reaped) {
            kill(p.pid, SIGKILL);
            while (waitpid(p.pid, &p.status, 0) < 0 && errno == EINTR) {
            }
            p.reaped = true;
        }
    }
    ssh_read_errors(p);
    close_fd(p.out);
    close_fd(p.err);
}
