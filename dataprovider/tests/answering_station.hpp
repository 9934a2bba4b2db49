// A serial base station on a pseudo-terminal that answers every request at
// once with an acknowledgement: base-station reads give one data byte (5),
// remote reads the typed value 03 00 00 01 00, a bind pairs device 1 with tag 7.
#pragma once

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <mutex>
#include <thread>
#include <vector>

#include "lyx/link/frame.hpp"
#include "lyx/sim/pty_port.hpp"

namespace lyx::dataprovider::testing {

inline link::Bytes acknowledgementFor(const link::Bytes &request) {
    const std::uint8_t code = request[3];
    const link::Bytes id(request.begin() + 4,
                         request.begin() + std::min<std::size_t>(7, request.size()));
    link::Bytes reply;
    switch (code) {
        case 21:
            reply = {23, 5};
            break;
        case 22:
            reply = {23};
            break;
        case 19:
            reply = {20, 0, 0, 1, 0, 7};
            break;
        case 5:
        case 11:
            reply = {static_cast<std::uint8_t>(code == 5 ? 7 : 13)};
            reply.insert(reply.end(), id.begin(), id.end());
            reply.insert(reply.end(), {3, 0, 0, 1, 0, 0xD0, 0x40});
            break;
        case 6:
        case 12:
            reply = {static_cast<std::uint8_t>(code == 6 ? 7 : 13)};
            reply.insert(reply.end(), id.begin(), id.end());
            reply.insert(reply.end(), {0xD0, 0x40});
            break;
        default:
            return {};
    }
    return link::buildFrame(request[2], reply);
}

// Answers on `port` until destroyed, and keeps every frame it read.
class AnsweringStation {
  public:
    explicit AnsweringStation(sim::PtyPort &port)
        : thread_([this, &port](std::stop_token stop) { serve(port, stop); }) {}

    std::vector<link::Bytes> frames() {
        std::lock_guard guard(lock_);
        return frames_;
    }
    bool received(const link::Bytes &frame) {
        auto all = frames();
        return std::find(all.begin(), all.end(), frame) != all.end();
    }

  private:
    void serve(sim::PtyPort &port, std::stop_token stop) {
        link::Bytes pending;
        while (!stop.stop_requested()) {
            pollfd p{port.masterFd(), POLLIN, 0};
            if (::poll(&p, 1, 20) <= 0) continue;
            std::uint8_t buffer[512];
            ssize_t n = ::read(port.masterFd(), buffer, sizeof buffer);
            if (n <= 0) continue;
            pending.insert(pending.end(), buffer, buffer + n);
            std::size_t pos = 0;
            while (pending.size() - pos >= 2) {
                const std::size_t size = pending[pos] + link::kFrameOverhead;
                if (pending[pos] != 0 && pending[pos + 1] == pending[pos]) {
                    if (pending.size() - pos < size) break;
                    link::Bytes request(pending.begin() + static_cast<std::ptrdiff_t>(pos),
                                        pending.begin() + static_cast<std::ptrdiff_t>(pos + size));
                    if (link::isValidFrame(request)) {
                        {
                            std::lock_guard guard(lock_);
                            frames_.push_back(request);
                        }
                        if (auto reply = acknowledgementFor(request); !reply.empty())
                            port.write(reply);
                        pos += size;
                        continue;
                    }
                }
                ++pos;
            }
            pending.erase(pending.begin(), pending.begin() + static_cast<std::ptrdiff_t>(pos));
        }
    }

    std::mutex lock_;
    std::vector<link::Bytes> frames_;
    std::jthread thread_;  // last: stops before the frames go
};

}  // namespace lyx::dataprovider::testing
