// A flag another thread can raise and a poll() loop can wait on: an eventfd
// that is readable while the flag is up.
#pragma once

namespace lyx::cli {

class EventFlag {
  public:
    EventFlag();  // raises std::system_error when no eventfd can be made
    ~EventFlag();
    EventFlag(const EventFlag &) = delete;
    EventFlag &operator=(const EventFlag &) = delete;

    int fd() const { return fd_; }
    void raise();
    void clear();

  private:
    int fd_ = -1;
};

}  // namespace lyx::cli
