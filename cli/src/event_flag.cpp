#include "event_flag.hpp"

#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <system_error>

namespace lyx::cli {

EventFlag::EventFlag() {
    fd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (fd_ < 0) throw std::system_error(errno, std::generic_category(), "eventfd");
}

EventFlag::~EventFlag() {
    ::close(fd_);
}

void EventFlag::raise() {
    const std::uint64_t one = 1;
    // Only a counter at its maximum refuses the write, and then it is up anyway.
    [[maybe_unused]] const auto written = ::write(fd_, &one, sizeof one);
}

void EventFlag::clear() {
    std::uint64_t count = 0;
    [[maybe_unused]] const auto read = ::read(fd_, &count, sizeof count);
}

}  // namespace lyx::cli
