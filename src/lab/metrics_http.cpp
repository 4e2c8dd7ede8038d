// SPDX-License-Identifier: MIT
// /metrics over libmicrohttpd. The library runs without a thread of its own
// (epoll, driven from the loop here), so that every callback and the
// request deadline run on one thread: a connection's descriptor cannot be
// closed and reused between the deadline check and its shutdown.
#include "metrics_http.h"

#include "listen_address.h"
#include "metrics_format.h"

#include <microhttpd.h>

#include <arpa/inet.h>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstring>
#include <ctime>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <unistd.h>
#include <unordered_map>

struct MetricsServer::State {
    Scrape scrape;
    MetricsLimits limits;
    // Open connections and when their current request began.
    struct Open {
        int fd;
        double since;
    };
    std::unordered_map<MHD_Connection*, Open> open;
};

namespace {
int marker; // a request's context once its first call was seen

double monotonic() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) + ts.tv_nsec / 1e9;
}

MHD_Result reply(MHD_Connection* c, unsigned status, const std::string& body, const char* type,
                 const char* allow = nullptr) {
    MHD_Response* r = MHD_create_response_from_buffer(body.size(), const_cast<char*>(body.data()),
                                                      MHD_RESPMEM_MUST_COPY);
    if (r == nullptr) return MHD_NO;
    MHD_add_response_header(r, MHD_HTTP_HEADER_CONTENT_TYPE, type);
    if (allow != nullptr) MHD_add_response_header(r, MHD_HTTP_HEADER_ALLOW, allow);
    MHD_Result rc = MHD_queue_response(c, status, r);
    MHD_destroy_response(r);
    return rc;
}

// Every request is answered at its first call, once its headers are in: a
// body is never wanted, and the library closes a connection whose body it
// did not read.
MHD_Result answer(void* cls, MHD_Connection* c, const char* url, const char* method, const char*,
                  const char*, size_t* upload_size, void** context) {
    auto* state = static_cast<MetricsServer::State*>(cls);
    if (*context != nullptr) { // a body arrived after the answer: drop it
        *upload_size = 0;
        return MHD_YES;
    }
    *context = &marker;
    const char* plain = "text/plain; charset=utf-8";
    if (strcmp(method, MHD_HTTP_METHOD_GET) != 0 && strcmp(method, MHD_HTTP_METHOD_HEAD) != 0)
        return reply(c, MHD_HTTP_METHOD_NOT_ALLOWED, "only GET and HEAD\n", plain, "GET, HEAD");
    if (strcmp(url, "/metrics") != 0)
        return reply(c, MHD_HTTP_NOT_FOUND, "only /metrics is served here\n", plain);
    const bool om =
        wants_openmetrics(MHD_lookup_connection_value(c, MHD_HEADER_KIND, MHD_HTTP_HEADER_ACCEPT));
    return reply(c, MHD_HTTP_OK, state->scrape(om),
                 om ? kOpenMetricsContentType : kTextContentType);
}

void notify(void* cls, MHD_Connection* c, void**, MHD_ConnectionNotificationCode code) {
    auto* state = static_cast<MetricsServer::State*>(cls);
    if (code == MHD_CONNECTION_NOTIFY_STARTED) {
        const MHD_ConnectionInfo* info =
            MHD_get_connection_info(c, MHD_CONNECTION_INFO_CONNECTION_FD);
        state->open[c] = {info != nullptr ? info->connect_fd : -1, monotonic()};
    } else {
        state->open.erase(c);
    }
}

// The next request on a kept-alive connection has its own time.
void completed(void* cls, MHD_Connection* c, void**, MHD_RequestTerminationCode) {
    auto* state = static_cast<MetricsServer::State*>(cls);
    auto it = state->open.find(c);
    if (it != state->open.end() && std::isfinite(it->second.since)) it->second.since = monotonic();
}

} // namespace

MetricsServer::MetricsServer() : state_(new State) {}

MetricsServer::~MetricsServer() {
    stop();
}

bool MetricsServer::start(const char* address, Scrape scrape, std::string& error,
                          const MetricsLimits& limits) {
    sockaddr_storage addr;
    socklen_t len = 0;
    if (!parse_listen_address(address, addr, len, error)) return false;
    state_->scrape = std::move(scrape);
    state_->limits = limits;

    // The socket is bound here, not by the library, so that a failure can be
    // reported with the system's reason.
    int fd = socket(addr.ss_family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    int on = 1;
    if (fd < 0 || setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0 ||
        bind(fd, reinterpret_cast<sockaddr*>(&addr), len) != 0 || listen(fd, 64) != 0) {
        error = std::string("cannot serve metrics on ") + address + ": " + strerror(errno);
        if (fd >= 0) close(fd);
        return false;
    }
    sockaddr_storage bound;
    socklen_t boundlen = sizeof bound;
    getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &boundlen);
    bound_ = address_text(bound);

    daemon_ = MHD_start_daemon(
        MHD_USE_EPOLL, 0, nullptr, nullptr, &answer, state_.get(), MHD_OPTION_LISTEN_SOCKET, fd,
        MHD_OPTION_CONNECTION_LIMIT, limits.connections, MHD_OPTION_CONNECTION_MEMORY_LIMIT,
        static_cast<size_t>(limits.request_bytes), MHD_OPTION_CONNECTION_TIMEOUT,
        limits.idle_seconds, MHD_OPTION_NOTIFY_CONNECTION, &notify, state_.get(),
        MHD_OPTION_NOTIFY_COMPLETED, &completed, state_.get(), MHD_OPTION_END);
    if (daemon_ == nullptr) {
        error =
            std::string("cannot serve metrics on ") + address + ": the HTTP server did not start";
        close(fd);
        return false;
    }
    // Signals stay with the main thread, whose waits they must interrupt.
    sigset_t all, old;
    sigfillset(&all);
    pthread_sigmask(SIG_SETMASK, &all, &old);
    stopping_ = false;
    thread_ = std::thread(&MetricsServer::loop, this);
    pthread_sigmask(SIG_SETMASK, &old, nullptr);
    return true;
}

void MetricsServer::loop() {
    const MHD_DaemonInfo* info = MHD_get_daemon_info(daemon_, MHD_DAEMON_INFO_EPOLL_FD);
    const int epfd = info != nullptr ? info->epoll_fd : -1;
    while (!stopping_) {
        int wait = 100; // ms: how soon a stop is seen
        MHD_UNSIGNED_LONG_LONG due = 0;
        if (MHD_get_timeout(daemon_, &due) == MHD_YES && due < static_cast<unsigned>(wait))
            wait = static_cast<int>(due);
        pollfd p = {epfd, POLLIN, 0};
        poll(&p, 1, wait);
        MHD_run(daemon_);
        // A request that has taken too long, however slowly its bytes come,
        // is cut: shut down, its socket reads as closed at the next run.
        const double now = monotonic();
        for (auto& [conn, open] : state_->open) {
            (void)conn;
            if (open.fd >= 0 && now - open.since > state_->limits.request_seconds) {
                shutdown(open.fd, SHUT_RDWR);
                open.since = INFINITY;
            }
        }
    }
}

void MetricsServer::stop() {
    if (daemon_ == nullptr) return;
    stopping_ = true;
    if (thread_.joinable()) thread_.join();
    MHD_stop_daemon(daemon_);
    daemon_ = nullptr;
    state_->open.clear();
}
