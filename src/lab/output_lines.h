// SPDX-License-Identifier: MIT
// Reading pacelag's output as it comes: the split into event rows, and what
// the server's lines say about its start (ready, failed, port taken).
#pragma once

#include <cstddef>
#include <functional>
#include <string>

// Splits one program's output into event rows. pacelag's client prints its
// marks without line ends, so for a client every leading mark of a line is a
// row of its own; any other text is a row per line. A line end alone (after
// marks) gives no row.
class LineSplitter {
  public:
    explicit LineSplitter(bool marks) : marks_(marks) {}
    void feed(const char* data, size_t len, const std::function<void(const std::string&)>& row);
    // The unfinished last line, if any.
    void finish(const std::function<void(const std::string&)>& row);

  private:
    bool marks_;
    std::string line_;
};

// The server's start as its lines tell it. A server that failed to set up
// says so first, then that it waits, and ends: it is not ready.
struct ServerStart {
    bool ready = false;      // it printed that it listens
    bool failed = false;     // it printed an error before that
    bool port_taken = false; // the error was that it could not bind its port
    void line(const std::string& text);
};
