// SPDX-License-Identifier: MIT
// One timeline from two samplers: the client's socket sampled here every
// 10 ms, the server's sampled on the remote host every 10 ms and arriving
// later over ssh, its times already moved onto this host's clock. Each local
// sample waits until the remote samples around its time have come (or for
// at most `hold` seconds) and then takes the server's socket from the remote
// sample nearest to it.
#pragma once

#include "record.h"
#include "sampler.h"

#include <deque>
#include <functional>

class TimelineMerge {
  public:
    // hold: how long a local sample waits for the remote side; near: the
    // farthest a remote sample may lie from a local one and still count.
    explicit TimelineMerge(double hold = 1.0, double near = 0.05) : hold_(hold), near_(near) {}

    // A remote sample at t (on the lab's timeline); sock null: the remote
    // side found no connection then. Remote samples come in time order.
    void add_remote(double t, const LabSock* sock);
    void add_local(double t, const LabSock* client, int64_t link_backlog);

    // Hands out, in time order, each local sample whose server side is
    // settled: a remote sample at or after its time has come, it has waited
    // `hold` seconds by `now`, or `all` is set (the end of the run).
    void flush(double now, bool all, const std::function<void(const LabSample&)>& emit);

    size_t pending() const { return local_.size(); }

  private:
    struct Remote {
        double t;
        bool has;
        LabSock sock;
    };
    struct Local {
        double t;
        bool has;
        LabSock client;
        int64_t backlog;
    };
    double hold_, near_;
    std::deque<Remote> remote_;
    std::deque<Local> local_;
};
