// SPDX-License-Identifier: MIT
// Writing and reading the lab's JSON stream.
#include "stream.h"

#include "labtext.h"
#include "report_data.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <time.h>

double host_clock() {
    timespec ts;
    clock_gettime(CLOCK_REALTIME, &ts);
    return static_cast<double>(ts.tv_sec) + ts.tv_nsec / 1e9;
}

std::string stream_sample(double t, const LabSock& s) {
    char local[64], remote[64];
    labsock_endpoint(s, true, local, sizeof local);
    labsock_endpoint(s, false, remote, sizeof remote);
    JsonObject o;
    o.text("type", "sample");
    o.number("t", t, 6);
    o.text("local", local);
    o.text("remote", remote);
    o.text("state", tcpstate_name(s.state));
    // The cookie is a 64-bit number, more than a JSON reader's double holds.
    o.text("cookie", std::to_string(s.cookie).c_str());
    o.integer("sendq", s.sendq);
    o.integer("recvq", s.recvq);
    if (s.hasinfo) {
        o.integer("unsent", s.unsent);
        o.integer("cwnd", s.cwnd);
        o.number("rtt_ms", s.rtt_us / 1000.0, 3);
        o.integer("retrans", s.retrans);
        o.text("bytes_received", std::to_string(s.bytes_received).c_str());
        o.text("bytes_acked", std::to_string(s.bytes_acked).c_str());
    }
    if (s.hasmem) {
        o.integer("sndbuf", s.sndbuf);
        o.integer("rcvbuf", s.rcvbuf);
    }
    return o.finish();
}

std::string stream_no_sample(double t) {
    JsonObject o;
    o.text("type", "sample");
    o.number("t", t, 6);
    return o.finish();
}

std::string stream_line(double t, const char* side, const std::string& text) {
    JsonObject o;
    o.text("type", "line");
    o.number("t", t, 6);
    o.text("side", side);
    o.text("text", text.c_str());
    return o.finish();
}

namespace {
// "10.0.0.1:5000" or "[::1]:5000": the address into `addr` (16 bytes, IPv4
// as an IPv4-mapped address) and the port.
bool endpoint(const std::string& text, uint8_t* addr, int& port) {
    size_t colon = text.rfind(':');
    if (colon == std::string::npos) return false;
    int64_t p = 0;
    if (!parse_int(text.c_str() + colon + 1, 0, 65535, p)) return false;
    port = static_cast<int>(p);
    std::string host = text.substr(0, colon);
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']')
        return inet_pton(AF_INET6, host.substr(1, host.size() - 2).c_str(), addr) == 1;
    memset(addr, 0, 16);
    addr[10] = addr[11] = 0xff;
    return inet_pton(AF_INET, host.c_str(), addr + 12) == 1;
}

bool unsigned_text(const JsonMember* m, uint64_t& out) {
    if (m == nullptr || m->kind != JsonKind::String || m->text.empty()) return false;
    if (m->text.find_first_not_of("0123456789") != std::string::npos) return false;
    errno = 0;
    out = strtoull(m->text.c_str(), nullptr, 10);
    return errno == 0;
}

bool count(const std::vector<JsonMember>& m, const char* key, uint32_t& out) {
    double v = json_number(m, key);
    if (!(v >= 0 && v <= 4294967295.0) || v != std::floor(v)) return false;
    out = static_cast<uint32_t>(v);
    return true;
}

std::string text_of(const std::vector<JsonMember>& m, const char* key) {
    const JsonMember* f = json_find(m, key);
    return f != nullptr && f->kind == JsonKind::String ? f->text : std::string();
}

int state_number(const std::string& name) {
    for (int i = 1; i < 12; ++i)
        if (name == tcpstate_name(i)) return i;
    return -1;
}
} // namespace

bool stream_parse(const std::string& line, StreamRecord& out, std::string& error) {
    out = StreamRecord();
    std::vector<JsonMember> m;
    if (line.find('\0') != std::string::npos) {
        error = "a NUL byte in the line";
        return false;
    }
    if (!parse_flat_json(line.c_str(), m, error)) return false;
    out.type = text_of(m, "type");
    if (out.type.empty()) {
        error = "no \"type\"";
        return false;
    }
    if (const JsonMember* t = json_find(m, "t")) {
        if (t->kind != JsonKind::Number || !(t->number >= 0) || !std::isfinite(t->number)) {
            error = "\"t\" is not a time";
            return false;
        }
        out.t = t->number;
    }
    const bool timed = out.type == "sample" || out.type == "line";
    if (timed && out.t < 0) {
        error = "a " + out.type + " without \"t\"";
        return false;
    }
    if (out.type == "sample" && json_find(m, "state") != nullptr) {
        LabSock& s = out.sock;
        s.family = AF_INET6;
        s.state = state_number(text_of(m, "state"));
        if (s.state < 0 || !endpoint(text_of(m, "local"), s.local, s.lport) ||
            !endpoint(text_of(m, "remote"), s.remote, s.rport) ||
            !unsigned_text(json_find(m, "cookie"), s.cookie) || !count(m, "sendq", s.sendq) ||
            !count(m, "recvq", s.recvq)) {
            error = "a sample without its connection's state, endpoints, cookie or queues";
            return false;
        }
        s.hasinfo = count(m, "unsent", s.unsent) &&
                    unsigned_text(json_find(m, "bytes_received"), s.bytes_received);
        if (s.hasinfo) {
            count(m, "cwnd", s.cwnd);
            count(m, "retrans", s.retrans);
            double rtt = json_number(m, "rtt_ms");
            if (rtt >= 0 && rtt < 4e6) s.rtt_us = static_cast<uint32_t>(std::llround(rtt * 1000));
            unsigned_text(json_find(m, "bytes_acked"), s.bytes_acked);
        }
        s.hasmem = count(m, "sndbuf", s.sndbuf) && count(m, "rcvbuf", s.rcvbuf);
        out.has_sock = true;
    }
    out.side = text_of(m, "side");
    out.text = text_of(m, "text");
    if (out.type == "line" && (out.side.empty() || json_find(m, "text") == nullptr)) {
        error = "a line without \"side\" or \"text\"";
        return false;
    }
    out.lab_version = text_of(m, "lab_version");
    out.pacelag_version = text_of(m, "pacelag_version");
    double id = json_number(m, "id");
    if (id >= 0 && id < 1e15) out.id = static_cast<long long>(id);
    double t2 = json_number(m, "t2"), t3 = json_number(m, "t3");
    if (t2 >= 0 && t3 >= 0) out.t2 = t2, out.t3 = t3;
    double port = json_number(m, "port");
    if (port >= 1 && port <= 65535) out.port = static_cast<int>(port);
    return true;
}
