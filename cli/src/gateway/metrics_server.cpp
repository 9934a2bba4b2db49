#include "metrics_server.hpp"

#include <arpa/inet.h>
#include <microhttpd.h>
#include <netinet/in.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string_view>

namespace lyx::cli {

namespace {

// What is known of a request while its body comes.
struct Request {
    std::size_t body = 0;
    bool tooLarge = false;
};

// The library's complaints (a port in use, a failed accept) in the gateway's journal.
void logError(void *, const char *format, va_list args) {
    char text[512];
    std::vsnprintf(text, sizeof text, format, args);
    std::size_t n = std::strlen(text);
    while (n > 0 && (text[n - 1] == '\n' || text[n - 1] == '\r'))
        text[--n] = '\0';
    std::fprintf(stderr, "lyx mqtt: metrics: %s\n", text);
}

MHD_Result answer(MHD_Connection *connection, unsigned status, const std::string &body,
                  const char *contentType, const char *allow = nullptr) {
    MHD_Response *response = MHD_create_response_from_buffer(
        body.size(), const_cast<char *>(body.data()), MHD_RESPMEM_MUST_COPY);
    if (response == nullptr) return MHD_NO;
    MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE, contentType);
    if (allow != nullptr) MHD_add_response_header(response, MHD_HTTP_HEADER_ALLOW, allow);
    const MHD_Result queued = MHD_queue_response(connection, status, response);
    MHD_destroy_response(response);
    return queued;
}

MHD_Result plain(MHD_Connection *connection, unsigned status, const std::string &body,
                 const char *allow = nullptr) {
    return answer(connection, status, body, "text/plain; charset=utf-8", allow);
}

void completed(void *, MHD_Connection *, void **state, MHD_RequestTerminationCode) {
    delete static_cast<Request *>(*state);
    *state = nullptr;
}

}  // namespace

struct MetricsServer::Handler {
    Render render;

    static MHD_Result handle(void *self, MHD_Connection *connection, const char *url,
                             const char *method, const char *, const char *,
                             std::size_t *uploadSize, void **state) {
        return static_cast<Handler *>(self)->request(connection, url, method, uploadSize, state);
    }

    MHD_Result request(MHD_Connection *connection, std::string_view url, std::string_view method,
                       std::size_t *uploadSize, void **state) {
        auto *r = static_cast<Request *>(*state);
        if (r == nullptr) {
            // The headers are in; the body, if any, comes in the next calls. One announced
            // too large is refused before a byte of it is read.
            *state = r = new Request;
            const char *length =
                MHD_lookup_connection_value(connection, MHD_HEADER_KIND, "Content-Length");
            if (length != nullptr && std::strtoull(length, nullptr, 10) > kLargestRequest)
                return tooLarge(connection);
            return MHD_YES;
        }
        if (*uploadSize > 0) {
            // Counted and dropped: nothing here takes a body.
            r->body += *uploadSize;
            r->tooLarge = r->tooLarge || r->body > kLargestRequest;
            *uploadSize = 0;
            return MHD_YES;
        }
        if (r->tooLarge) return tooLarge(connection);
        if (url != "/metrics") return plain(connection, MHD_HTTP_NOT_FOUND, "only /metrics here\n");
        if (method != MHD_HTTP_METHOD_GET && method != MHD_HTTP_METHOD_HEAD)
            return plain(connection, MHD_HTTP_METHOD_NOT_ALLOWED, "/metrics takes GET or HEAD\n",
                         "GET, HEAD");
        try {
            return answer(connection, MHD_HTTP_OK, render(),
                          "text/plain; version=0.0.4; charset=utf-8");
        } catch (const std::exception &e) {
            return plain(connection, MHD_HTTP_INTERNAL_SERVER_ERROR,
                         std::string("the metrics could not be made: ") + e.what() + "\n");
        }
    }

    static MHD_Result tooLarge(MHD_Connection *connection) {
        return plain(
            connection, MHD_HTTP_CONTENT_TOO_LARGE,
            "requests of more than " + std::to_string(kLargestRequest) + " bytes are refused\n");
    }
};

MetricsServer::MetricsServer(MetricsAddress address, Render render)
    : address_(std::move(address)),
      handler_(std::make_unique<Handler>(Handler{std::move(render)})) {}

MetricsServer::~MetricsServer() {
    stop();
}

void MetricsServer::start() {
    sockaddr_in v4{};
    sockaddr_in6 v6{};
    const sockaddr *where = nullptr;
    if (address_.ipv6) {
        v6.sin6_family = AF_INET6;
        v6.sin6_port = htons(static_cast<std::uint16_t>(address_.port));
        ::inet_pton(AF_INET6, address_.host.c_str(), &v6.sin6_addr);
        where = reinterpret_cast<const sockaddr *>(&v6);
    } else {
        v4.sin_family = AF_INET;
        v4.sin_port = htons(static_cast<std::uint16_t>(address_.port));
        ::inet_pton(AF_INET, address_.host.c_str(), &v4.sin_addr);
        where = reinterpret_cast<const sockaddr *>(&v4);
    }
    unsigned flags = MHD_USE_AUTO_INTERNAL_THREAD | MHD_USE_ERROR_LOG;
    if (address_.ipv6) flags |= MHD_USE_IPv6;
    // A scraper needs one connection at a time; a few more leave room for a person with curl.
    // The memory bound per connection caps the headers too: beyond it the library answers
    // 431 itself.
    // The logger comes first: the library warns through its own logger about
    // whatever precedes it.
    daemon_ = MHD_start_daemon(
        flags, static_cast<std::uint16_t>(address_.port), nullptr, nullptr, &Handler::handle,
        handler_.get(), MHD_OPTION_EXTERNAL_LOGGER, &logError, nullptr, MHD_OPTION_SOCK_ADDR, where,
        MHD_OPTION_CONNECTION_LIMIT, 16u, MHD_OPTION_CONNECTION_TIMEOUT, 10u,
        MHD_OPTION_CONNECTION_MEMORY_LIMIT, static_cast<std::size_t>(2 * kLargestRequest),
        MHD_OPTION_NOTIFY_COMPLETED, &completed, nullptr, MHD_OPTION_END);
    if (daemon_ == nullptr)
        throw std::runtime_error("--metrics: cannot serve on " + address_.text() +
                                 " (is the port in use, or the address not this machine's?)");
}

void MetricsServer::stop() {
    if (daemon_ != nullptr) MHD_stop_daemon(daemon_);
    daemon_ = nullptr;
}

}  // namespace lyx::cli
