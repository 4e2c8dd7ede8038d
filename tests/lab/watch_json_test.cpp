// SPDX-License-Identifier: MIT
// pacelag-lab watch -json: every line of standard output is one object of
// the lab's stream, samples carry the queues the kernel holds and times on
// this host's wall clock, and the closing summary is a line record too.
#include "lab_helpers.h"
#include "stream.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>

TEST(LabWatch, JsonStreamOneObjectPerLine) {
    int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a;
    memset(&a, 0, sizeof a);
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    ASSERT_EQ(listen(listener, 4), 0);
    socklen_t len = sizeof a;
    getsockname(listener, reinterpret_cast<sockaddr*>(&a), &len);
    const int port = ntohs(a.sin_port);
    int writer = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ASSERT_EQ(connect(writer, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    int reader = accept(listener, nullptr, nullptr);
    ASSERT_GE(reader, 0);
    // 3000 bytes wait unread at the reader.
    std::string bytes(3000, 'x');
    ASSERT_EQ(send(writer, bytes.data(), bytes.size(), MSG_NOSIGNAL), 3000);

    const double before = host_clock();
    LabChild watch(
        {PACELAG_LAB_BIN, "watch", "-json", "-port", std::to_string(port), "-interval", "50"});
    ASSERT_TRUE(watch.waitfor("\"recvq\":3000", 5000)) << watch.output();
    usleep(300000);
    watch.signal(SIGINT);
    EXPECT_EQ(watch.waitexit(5000), 0) << watch.output();
    const double after = host_clock();
    close(writer);
    close(reader);
    close(listener);

    std::istringstream lines(watch.output());
    int samples = 0, reader_side = 0, records = 0;
    StreamRecord last;
    for (std::string line; std::getline(lines, line);) {
        StreamRecord r;
        std::string err;
        ASSERT_TRUE(stream_parse(line, r, err)) << err << ": " << line;
        ++records;
        EXPECT_GE(r.t, before);
        EXPECT_LE(r.t, after);
        if (r.type == "sample") {
            ++samples;
            ASSERT_TRUE(r.has_sock) << line;
            EXPECT_EQ(r.sock.state, 1) << line;
            if (r.sock.lport == port) {
                ++reader_side;
                EXPECT_EQ(r.sock.recvq, 3000u) << line;
            }
        }
        last = r;
    }
    EXPECT_GE(reader_side, 5);
    EXPECT_EQ(samples, 2 * reader_side) << "both ends of the connection are on the port";
    EXPECT_EQ(last.type, "line");
    EXPECT_EQ(last.side, "lab");
    EXPECT_NE(last.text.find("samples with connections"), std::string::npos) << last.text;
    EXPECT_GT(records, samples);
}
