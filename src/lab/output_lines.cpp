// SPDX-License-Identifier: MIT
// Splitting pacelag's output into rows and reading the server's start.
#include "output_lines.h"

#include "pacelag/output.h"

void LineSplitter::feed(const char* data, size_t len,
                        const std::function<void(const std::string&)>& row) {
    for (size_t i = 0; i < len; ++i) {
        char c = data[i];
        if (c == '\n') {
            if (!line_.empty() && line_.back() == '\r') line_.pop_back();
            if (!line_.empty()) row(line_);
            line_.clear();
        } else if (marks_ && line_.empty() && (c == kMarkSent || c == kMarkDropped)) {
            row(std::string(1, c));
        } else {
            line_ += c;
        }
    }
}

void LineSplitter::finish(const std::function<void(const std::string&)>& row) {
    if (!line_.empty()) row(line_);
    line_.clear();
}

void ServerStart::line(const std::string& text) {
    if (ready) return;
    if (is_error_line(text.c_str())) {
        failed = true;
        if (is_bind_failure(text.c_str())) port_taken = true;
    }
    if (text == kReadyLine && !failed) ready = true;
}
