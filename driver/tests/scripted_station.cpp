#include "scripted_station.hpp"

#include <poll.h>
#include <unistd.h>

#include <cstdlib>

#include "LyxDrv.h"

namespace lyx::drv::testing {

ScriptedStation::ScriptedStation(Link link, const std::filesystem::path &folder) : link_(link) {
    if (link == Link::Serial) {
        ::setenv("LYX_PORT_DIR", folder.c_str(), 1);
        pty_ = std::make_unique<sim::PtyPort>();
        ok_ = pty_->ok() && pty_->linkAs(folder, 5);
        ptyReader_ = std::jthread([this](std::stop_token stop) {
            while (!stop.stop_requested()) {
                pollfd p{pty_->masterFd(), POLLIN, 0};
                if (::poll(&p, 1, 20) <= 0) continue;
                std::uint8_t buffer[512];
                ssize_t n = ::read(pty_->masterFd(), buffer, sizeof buffer);
                if (n > 0) received({buffer, static_cast<std::size_t>(n)});
            }
        });
    } else {
        ::setenv("LYX_VHID_DIR", folder.c_str(), 1);
        device_ = std::make_unique<sim::VirtualHidDevice>(
            folder.string(), "station", vhid::Identity{0x1781, 0x0BA4, 0x0203, "1"},
            [this](std::span<const std::uint8_t> report) {
                if (report.size() > 1) received(report.subspan(1));
            });
        ok_ = device_->plugIn();
    }
}

ScriptedStation::~ScriptedStation() {
    ptyReader_ = {};
    device_.reset();
    ::unsetenv("LYX_PORT_DIR");
    ::unsetenv("LYX_VHID_DIR");
}

std::int32_t ScriptedStation::open() {
    return link_ == Link::Serial ? OPENPORT(5, 115200) : OPENUSB();
}

void ScriptedStation::setScript(Script script) {
    std::lock_guard guard(lock_);
    script_ = std::move(script);
}

void ScriptedStation::send(const link::Bytes &frame) {
    if (pty_) {
        pty_->write(frame);
    } else {
        device_->sendFrame(frame);
    }
}

void ScriptedStation::received(std::span<const std::uint8_t> bytes) {
    std::vector<link::Bytes> replies;
    {
        std::lock_guard guard(lock_);
        pending_.insert(pending_.end(), bytes.begin(), bytes.end());
        // Requests may carry up to 255 payload bytes (longer than anything the
        // driver accepts on receive), so frames are found here by their length
        // pair and CRC without the receive-side limit.
        std::size_t pos = 0;
        while (pending_.size() - pos >= 2) {
            std::uint8_t length = pending_[pos];
            if (length != 0 && pending_[pos + 1] == length) {
                std::size_t size = length + link::kFrameOverhead;
                if (pending_.size() - pos < size) break;
                std::span<const std::uint8_t> candidate(pending_.data() + pos, size);
                if (link::isValidFrame(candidate)) {
                    link::Bytes request(candidate.begin(), candidate.end());
                    requests_.push_back(request);
                    if (script_) {
                        for (auto &reply : script_(request))
                            replies.push_back(std::move(reply));
                    }
                    pos += size;
                    continue;
                }
            }
            ++pos;
        }
        pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(pos));
        arrived_.notify_all();
    }
    for (const auto &reply : replies)
        send(reply);
}

std::vector<link::Bytes> ScriptedStation::requests() {
    std::lock_guard guard(lock_);
    return requests_;
}

bool ScriptedStation::waitForRequests(std::size_t count, int timeoutMs) {
    std::unique_lock guard(lock_);
    return arrived_.wait_for(guard, std::chrono::milliseconds(timeoutMs),
                             [&] { return requests_.size() >= count; });
}

}  // namespace lyx::drv::testing
