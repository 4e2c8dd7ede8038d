// SPDX-License-Identifier: MIT
// Reaching another host with OpenSSH: the ssh command line the lab builds
// (batch mode, never a prompt), the remote command quoted for the remote
// shell, and an ssh process whose standard input, output and error are
// pipes to the lab.
#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

// Splits a command line such as `ssh -i key -p 2222` into words: blanks
// separate, single and double quotes group, a backslash outside single quotes
// takes the next byte as it is. false with a reason for an unclosed quote or
// an empty command.
bool split_command(const std::string& text, std::vector<std::string>& words, std::string& error);

// `word` as one word for a POSIX shell: as it is when it holds only safe
// bytes, otherwise in single quotes.
std::string shell_quote(const std::string& word);

// The full argv: the ssh command's first word, options that make it fail
// rather than ask (batch mode, no terminal), the user's own words, options
// the user may override (connect timeout, keep-alives), then the destination
// and the remote command, each word quoted.
std::vector<std::string> ssh_argv(const std::vector<std::string>& ssh, const std::string& dest,
                                  const std::vector<std::string>& remote);

// The host part of [USER@]HOST (an IPv6 address may be in brackets).
std::string ssh_host(const std::string& dest);

// The last non-blank line of ssh's error output: its reason for failing.
std::string ssh_reason(const std::string& errors);

// An ssh process in its own process group, killed by the kernel should the
// lab die (so that its session, and everything the remote side started,
// ends with it).
struct SshProcess {
    pid_t pid = -1;
    int in = -1;  // its standard input
    int out = -1; // its standard output
    int err = -1; // its standard error
    int status = -1;
    bool reaped = false;
    std::string errors; // what it wrote to standard error so far
};

// Starts argv (argv[0] looked up in PATH). 0, or -1 with errno set.
int ssh_start(SshProcess& p, const std::vector<std::string>& argv);

// Reads what its standard error holds into `errors` without waiting.
void ssh_read_errors(SshProcess& p);

// True once it has ended (reaps it).
bool ssh_ended(SshProcess& p);

// Closes its input (the remote side ends on that), waits up to `grace_ms`
// for it to end, then kills it; closes every pipe. Safe to call twice.
void ssh_stop(SshProcess& p, int grace_ms);
