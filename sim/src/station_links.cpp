#include "station_links.hpp"

#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>

#include "lyx/link/frame.hpp"

namespace lyx::sim {

namespace fs = std::filesystem;

namespace {

constexpr std::uint16_t kVendor = 0x1781;
constexpr std::uint16_t kProduct = 0x0BA4;
constexpr std::size_t kMostPendingReports = 64 * 1024;

std::string socketName(const StationConfig &config) {
    return config.usbName.empty() ? "basestation-" + std::to_string(config.number) : config.usbName;
}

}  // namespace

StationLinks::StationLinks(const StationConfig &config, EventLoop &loop, Receive receive)
    : config_(config), loop_(loop), receive_(std::move(receive)) {
    if (config_.usb) {
        vhid::Identity identity{
            kVendor, kProduct, config_.release,
            config_.serial.empty() ? std::to_string(config_.number) : config_.serial};
        // Output reports arrive on the device's own thread; the world lives on
        // the loop thread. The posted task may run after these links are gone,
        // so it holds copies, not `this`.
        auto onOutput = [loop = &loop_, receive = receive_](std::span<const std::uint8_t> report) {
            if (report.size() <= 1) return;
            link::Bytes bytes(report.begin() + 1, report.end());
            loop->post([receive, bytes = std::move(bytes)] { receive(bytes, World::Source::Usb); });
        };
        usb_ = std::make_unique<VirtualHidDevice>(config_.usbFolder, socketName(config_),
                                                  std::move(identity), onOutput);
    }
}

StationLinks::~StationLinks() {
    unplug();
}

Outcome StationLinks::plugIn() {
    if (usb_ && !usb_->pluggedIn()) {
        std::error_code ec;
        fs::create_directories(config_.usbFolder, ec);
        if (usb_->socketPath().size() + 16 >= sizeof(sockaddr_un::sun_path)) {
            return Outcome::failure("socket path too long: " + usb_->socketPath());
        }
        if (!usb_->plugIn()) {
            return Outcome::failure("cannot serve " + usb_->socketPath() + ": " +
                                    std::strerror(errno));
        }
    }
    if (config_.serialPort && !pty_) {
        auto pty = std::make_unique<PtyPort>();
        if (!pty->ok()) {
            return Outcome::failure(std::string("cannot open a pseudo-terminal: ") +
                                    std::strerror(errno));
        }
        if (config_.com > 0) {
            if (!pty->linkAs(config_.portFolder, config_.com)) {
                return Outcome::failure("cannot make " + config_.portFolder + "/COM" +
                                        std::to_string(config_.com) + ": " + std::strerror(errno));
            }
            comEntry_ = config_.portFolder + "/COM" + std::to_string(config_.com);
        }
        pty_ = std::move(pty);
        loop_.watch(pty_->masterFd(), [this] { readPty(); });
    }
    return {};
}

void StationLinks::unplug() {
    loop_.cancel(reportTimer_);
    reportTimer_ = 0;
    pendingReports_.clear();
    if (usb_) usb_->unplug();
    if (pty_) {
        loop_.unwatch(pty_->masterFd());
        removeComEntry();
        pty_.reset();
    }
}

void StationLinks::removeComEntry() {
    if (comEntry_.empty() || !pty_) return;
    // Only our own entry: another program may have taken the name since.
    std::error_code ec;
    if (fs::read_symlink(comEntry_, ec) == fs::path(pty_->devicePath())) fs::remove(comEntry_, ec);
    comEntry_.clear();
}

void StationLinks::readPty() {
    std::uint8_t buffer[4096];
    ssize_t n = ::read(pty_->masterFd(), buffer, sizeof buffer);
    if (n > 0) {
        receive_(std::span<const std::uint8_t>(buffer, static_cast<std::size_t>(n)),
                 World::Source::Serial);
    } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
        // The terminal is gone; stop watching it rather than spin.
        loop_.unwatch(pty_->masterFd());
    }
}

// The host polls the interrupt endpoints of every device on its bus in the same
// frames: a report leaves at the next poll, on a grid of `reportEvery` that all
// stations share, so that the reports of several stations reach the PC together
// as they do from real ones.
TimePoint StationLinks::nextPoll(TimePoint t) const {
    const auto every = std::chrono::duration_cast<Clock::duration>(config_.reportEvery);
    const auto since = t.time_since_epoch();
    return TimePoint((since + every - Clock::duration(1)) / every * every);
}

bool StationLinks::queueReports(std::span<const std::uint8_t> bytes) {
    if (pendingReports_.size() + bytes.size() > kMostPendingReports) return false;
    pendingReports_.insert(pendingReports_.end(), bytes.begin(), bytes.end());
    if (reportTimer_ == 0) {
        nextReport_ = std::max(nextReport_, nextPoll(loop_.now()));
        reportTimer_ = loop_.at(nextReport_, [this] { sendDueReport(); });
    }
    return true;
}

// The reports that are due, each of up to 64 bytes from what waits (a frame may
// go on in the next one: the PC reads the reports as one byte stream), one per
// slot. Slots keep their pace: a timer that fires late sends the reports of the
// slots it missed (those of 20 ms at most), as a device whose host polls on time
// would have.
void StationLinks::sendDueReport() {
    reportTimer_ = 0;
    if (!usb_ || !usb_->pluggedIn()) {
        pendingReports_.clear();
        return;
    }
    const TimePoint now = loop_.now();
    nextReport_ = std::max(nextReport_, nextPoll(now - 20 * config_.reportEvery));
    while (!pendingReports_.empty() && nextReport_ <= now) {
        const std::size_t n = std::min<std::size_t>(pendingReports_.size(), 64);
        usb_->sendReport(std::span<const std::uint8_t>(pendingReports_.data(), n),
                         VirtualHidDevice::Delivery::DropWhenFull);
        pendingReports_.erase(pendingReports_.begin(),
                              pendingReports_.begin() + static_cast<std::ptrdiff_t>(n));
        nextReport_ += config_.reportEvery;
    }
    if (!pendingReports_.empty()) reportTimer_ = loop_.at(nextReport_, [this] { sendDueReport(); });
}

bool StationLinks::send(std::span<const std::uint8_t> bytes, bool wait) {
    wait = wait && !stalled_;
    bool taken = true;
    if (usb_ && usb_->pluggedIn() && config_.reportEvery.count() > 0) {
        taken = queueReports(bytes);
    } else if (usb_ && usb_->pluggedIn()) {
        std::uint64_t before = usb_->reportsDropped();
        usb_->sendFrame(bytes, wait ? VirtualHidDevice::Delivery::Wait
                                    : VirtualHidDevice::Delivery::DropWhenFull);
        taken = usb_->reportsDropped() == before;
    }
    if (pty_) {
        if (wait) {
            taken = pty_->write(bytes, std::chrono::seconds(1)) && taken;
        } else if (pty_->writeSome(bytes) < bytes.size()) {
            taken = false;
        }
    }
    stalled_ = !taken && (wait || stalled_);
    return taken;
}

std::string StationLinks::usbSocket() const {
    return usb_ && usb_->pluggedIn() ? usb_->socketPath() : std::string();
}

std::string StationLinks::ptyDevice() const {
    return pty_ ? pty_->devicePath() : std::string();
}

}  // namespace lyx::sim
