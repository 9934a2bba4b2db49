// Waiting for a device path to appear again, by events rather than polling:
// inotify watches the folder of the path and the folders of every link on the
// way to the device (a port entry COM5 -> /dev/serial/by-id/usb-... ->
// ../../ttyUSB0 gives the port folder, /dev/serial/by-id and /dev). A folder
// that does not exist yet (udev removes /dev/serial/by-id with the last
// adapter) is stood in for by its nearest existing parent, and the watches are
// laid again after every event, so the chain is followed as it comes back.
//
// Threads: one thread uses it.
#pragma once

#include <string>
#include <vector>

namespace lyx::drv {

class DeviceWatch {
  public:
    explicit DeviceWatch(std::string path);
    ~DeviceWatch();
    DeviceWatch(const DeviceWatch &) = delete;
    DeviceWatch &operator=(const DeviceWatch &) = delete;

    // False when inotify could not be had (no instance or watch left): the
    // caller then has only its timer.
    bool ok() const { return fd_ >= 0 && !watches_.empty(); }
    // Readable when something changed in a watched folder.
    int fd() const { return fd_; }
    // Reads the waiting events and lays the watches again along the chain as
    // it is now.
    void refresh();

    // The folders to watch for `path`: its own folder and that of each link
    // target on the way, each replaced by its nearest existing parent.
    static std::vector<std::string> foldersFor(const std::string &path);

  private:
    void watchFolders();

    std::string path_;
    int fd_ = -1;
    std::vector<int> watches_;
};

}  // namespace lyx::drv
