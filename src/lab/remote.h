// SPDX-License-Identifier: MIT
// The local end of a two-machine run: the ssh session to the remote side
// (`pacelag-lab agent` on HOST), the checks before anything starts there,
// the clock offset between the hosts, and the remote stream read with its
// times moved onto this host's clock.
#pragma once

#include "clockoffset.h"
#include "ssh.h"
#include "stream.h"

#include <functional>
#include <string>

struct RemoteSetup {
    std::string dest;                                 // [USER@]HOST
    std::string ssh = "ssh";                          // the ssh command line
    std::string lab = "pacelag-lab";                  // pacelag-lab there
    std::string pacelag = "pacelag";                  // pacelag there
    std::string lab_version;                          // here, to compare
    std::string pacelag_version;                      // here, to compare; empty: unknown
    int port = 0, rate = 2, padlen = 200, buflen = 0; // the server's options
};

class RemoteServer {
  public:
    RemoteServer() = default;
    ~RemoteServer() { stop(0, nullptr); }
    RemoteServer(const RemoteServer&) = delete;
    RemoteServer& operator=(const RemoteServer&) = delete;

    // Starts the session, checks the remote programs and their versions and
    // measures the clock offset; nothing runs there yet. 0, or -1 with a
    // one-line reason in `error` (the session is then closed).
    int open(const RemoteSetup& setup, std::string& error);
    // Starts pacelag's server there.
    int start();

    // The descriptor to poll for the stream; -1 once it ended.
    int fd() const { return ssh_.out; }
    // A record of the stream with its time on this host's wall clock.
    using Sink = std::function<void(const StreamRecord& record, double local_time)>;
    // Reads what has come (without waiting) and hands out samples and lines.
    void pump(const Sink& sink);
    // Sends a clock probe when one is due (every 2 s).
    void tick();
    // True once the remote side ended or the session broke; `why` says how.
    bool ended(std::string& why);

    // Asks the remote side to stop, hands out what it still sends for up to
    // `grace_ms`, then closes the session. Safe to call twice.
    void stop(int grace_ms, const Sink& sink);

    const ClockOffset& clock() const { return clock_; }
    int port() const { return port_; }

  private:
    bool send(const std::string& text);
    void probe();
    void line(const std::string& text, const Sink& sink);

    RemoteSetup setup_;
    SshProcess ssh_;
    ClockOffset clock_;
    std::string buffer_;
    bool hello_ = false, end_ = false;
    std::string hello_lab_, hello_pacelag_, error_;
    int port_ = 0;
    long long next_id_ = 1, waiting_id_ = 0;
    double waiting_t1_ = 0, next_probe_ = 0;
    int bad_records_ = 0;
};
