// SPDX-License-Identifier: MIT
// `pacelag-lab agent`: the remote side of a two-machine run, started by the
// local lab over ssh. It says hello with its versions, answers clock probes,
// starts pacelag's server when told, samples the server's socket every 10 ms
// and relays what the server prints, all as the JSON stream on standard
// output. It ends, and ends the server, when its standard input closes (the
// ssh session is gone), on "stop", on a signal, when its parent dies, or when
// the lab has not spoken for a while (a connection lost without a close).
//
// Commands on standard input, one per line: "probe ID", "start", "stop".
#pragma once

#include <string>

struct aaContext;

struct AgentOptions {
    std::string pacelag = "pacelag"; // a path, or a name looked up in PATH
    int port = 0;                    // 0: a free one
    int rate = 2;
    int padlen = 200;
    int buflen = 0;
    int quiet_limit_s = 20; // ends when the lab says nothing for this long (-quiet-limit)
};

bool read_agent_options(aaContext* args, AgentOptions& options, std::string& error);

// 0 after an orderly end, 1 when pacelag cannot be run.
int lab_agent(const AgentOptions& options);

// `name` when it holds a '/', otherwise the first executable of that name in
// PATH; empty when there is none.
std::string find_in_path(const std::string& name);
