// The gateway's HTTP endpoint for Prometheus: GET (or HEAD) /metrics answers with the text a
// function renders, on libmicrohttpd's own thread. Another path gets 404, another method 405,
// a request with a body of more than 8 KiB 413 (headers beyond that the library refuses
// itself); none of them touches the gateway.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "mqtt_options.hpp"

struct MHD_Daemon;

namespace lyx::cli {

class MetricsServer {
  public:
    static constexpr std::size_t kLargestRequest = 8192;

    // Called on the server's thread for each GET /metrics.
    using Render = std::function<std::string()>;

    MetricsServer(MetricsAddress address, Render render);
    ~MetricsServer();
    MetricsServer(const MetricsServer &) = delete;
    MetricsServer &operator=(const MetricsServer &) = delete;

    // Listens; raises std::runtime_error when the address cannot be had.
    void start();
    // Stops listening and waits for the requests under way.
    void stop();

  private:
    struct Handler;
    MetricsAddress address_;
    std::unique_ptr<Handler> handler_;
    MHD_Daemon *daemon_ = nullptr;
};

}  // namespace lyx::cli
