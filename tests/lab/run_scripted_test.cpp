// SPDX-License-Identifier: MIT
// pacelag-lab runs against a pacelag wrapped in a script that makes a rare
// moment happen on cue: marks still in the pipe when the stop begins, and a
// port taken between the lab's pick and the server's bind.
#include "lab_helpers.h"
#include "rundir.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

namespace {
// A script in `dir` that runs the real pacelag except where `client` or
// `server` (shell text) takes over for that mode; $port holds -port's value.
std::string scripted_pacelag(const std::string& dir, const std::string& client,
                             const std::string& server) {
    const std::string path = dir + "/pacelag";
    std::ofstream out(path);
    out << "#!/bin/sh\nreal='" << PACELAG_BIN << "'\ndir='" << dir << "'\n"
        << "port=; prev=\nfor a in \"$@\"; do [ \"$prev\" = -port ] && port=$a; prev=$a; done\n"
        << "case \" $* \" in\n"
        << "*\" -mode client \"*)\n"
        << client << "\n;;\n"
        << "*\" -mode server \"*)\n"
        << server << "\n;;\n"
        << "esac\nexec \"$real\" \"$@\"\n";
    out.close();
    chmod(path.c_str(), 0755);
    return path;
}

int count_events(const std::string& dir, const std::string& side, const std::string& line) {
    int n = 0;
    for (const auto& e : read_csv(run_path(dir, kEventsFile)))
        n += e.size() == 3 && e[kEvSide] == side && e[kEvLine] == line;
    return n;
}
} // namespace

// Marks the client printed before the stop but the lab had not yet read
// count as sent.
TEST(LabRun, MarksPrintedBeforeTheStopAreCounted) {
    TempDir dir;
    ASSERT_FALSE(dir.path().empty());
    // One mark, then five more once told to, then nothing until stopped.
    const std::string pacelag = scripted_pacelag(dir.path(),
                                                 "printf '#'\n"
                                                 "while [ ! -e \"$dir/go\" ]; do sleep 0.02; done\n"
                                                 "printf '#####'\n"
                                                 "trap 'exit 0' INT\n"
                                                 "while :; do sleep 0.02; done",
                                                 ":");
    const std::string out = dir.path() + "/run";
    LabChild lab(
        {PACELAG_LAB_BIN, "run", "-loopback", "-seconds", "30", "-out", out, "-pacelag", pacelag});
    ASSERT_GT(lab.pid(), 0);
    ASSERT_TRUE(lab.waitfor("for 30 s", 10000)) << lab.output();
    usleep(1500000);
    // The lab is held still while the marks arrive, and asked to stop
    // before it can read them.
    lab.signal(SIGSTOP);
    std::ofstream(dir.path() + "/go").close();
    usleep(300000);
    lab.signal(SIGINT);
    lab.signal(SIGCONT);
    EXPECT_EQ(lab.waitexit(15000), 130) << lab.output();
    EXPECT_EQ(count_events(out, kSideClient, "#"), 6);
    auto summary = read_flat_json(slurp(run_path(out, kSummaryFile)));
    EXPECT_EQ(json_value(summary, summary_key::sent), "6");
}

// The port the lab picked is taken before the server binds it: the lab tries
// another one.
TEST(LabRun, APortTakenBeforeTheServerBindsIsReplaced) {
    TempDir dir;
    ASSERT_FALSE(dir.path().empty());
    // The first server finds its port taken and says so as pacelag does.
    const std::string pacelag =
        scripted_pacelag(dir.path(), ":",
                         "if [ ! -e \"$dir/taken\" ]; then\n"
                         "  : > \"$dir/taken\"\n"
                         "  printf '[ERROR] Bind failed to port %s: Address already in use\\n"
                         "Waiting for connection..\\n' \"$port\"\n"
                         "  exit 1\n"
                         "fi");
    const std::string out = dir.path() + "/run";
    LabChild lab(
        {PACELAG_LAB_BIN, "run", "-loopback", "-seconds", "3", "-out", out, "-pacelag", pacelag});
    ASSERT_GT(lab.pid(), 0);
    EXPECT_EQ(lab.waitexit(30000), 0) << lab.output();
    const std::string events = slurp(run_path(out, kEventsFile));
    const size_t failed = events.find("[ERROR] Bind failed to port ");
    ASSERT_NE(failed, std::string::npos) << events;
    const std::string taken =
        events.substr(failed + 28, events.find(':', failed + 28) - failed - 28);
    auto summary = read_flat_json(slurp(run_path(out, kSummaryFile)));
    EXPECT_NE(json_value(summary, summary_key::port), taken);
    EXPECT_NE(events.find("-mode server -port " + json_value(summary, summary_key::port)),
              std::string::npos)
        << events;
    EXPECT_GT(count_events(out, kSideClient, "#"), 5) << "the run went on with the new port";
}
