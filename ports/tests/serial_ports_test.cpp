#include "lyx/ports/serial_ports.hpp"

#include <fcntl.h>
#include <pty.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>

namespace lyx::ports {
namespace {

namespace fs = std::filesystem;

class SerialPorts : public ::testing::Test {
  protected:
    void SetUp() override {
        folder_ = fs::temp_directory_path() /
                  ("lyx-ports-" + std::to_string(::getpid()) + "-" +
                   ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(folder_);
        ::setenv("LYX_PORT_DIR", folder_.c_str(), 1);
    }
    void TearDown() override {
        ::unsetenv("LYX_PORT_DIR");
        fs::remove_all(folder_);
    }
    std::string at(const std::string &name) const { return (folder_ / name).string(); }

    fs::path folder_;
};

TEST_F(SerialPorts, TheReasonNamesTheEntryAndTheDevice) {
    // No entry and no /dev/ttyS<N-1>: both named.
    EXPECT_EQ(serialPortProblem(200),
              "serial port COM200 (/dev/ttyS199) does not exist (no entry COM200 in " +
                  folder_.string() + ")");
    // An entry pointing nowhere names where it points.
    fs::create_symlink("/nonexistent/ttyUSB9", at("COM9"));
    EXPECT_EQ(serialDevicePath(9), at("COM9"));
    EXPECT_EQ(serialPortProblem(9), "serial port COM9 (" + at("COM9") +
                                        " -> /nonexistent/ttyUSB9): /nonexistent/ttyUSB9 "
                                        "does not exist");
    // A file that is no terminal.
    std::ofstream(at("plain")) << "x";
    fs::create_symlink(at("plain"), at("COM3"));
    EXPECT_EQ(serialPortProblem(3), "serial port COM3 (" + at("COM3") + " -> " + at("plain") +
                                        ") is not a serial device");
    // A terminal that another program holds (the driver takes the same lock).
    int controller = -1, device = -1;
    char name[256];
    ASSERT_EQ(::openpty(&controller, &device, name, nullptr, nullptr), 0);
    fs::create_symlink(name, at("COM5"));
    ASSERT_EQ(::flock(device, LOCK_EX | LOCK_NB), 0);
    EXPECT_EQ(serialPortProblem(5),
              "serial port COM5 (" + at("COM5") + " -> " + name + ") is in use by another program");
    ::flock(device, LOCK_UN);
    EXPECT_EQ(serialPortProblem(5),
              "serial port COM5 (" + at("COM5") + " -> " + name + ") cannot be opened");
    ::close(device);
    ::close(controller);
}

TEST_F(SerialPorts, AUserWithoutTheRightIsToldTheDevicesGroup) {
    if (::geteuid() == 0) GTEST_SKIP() << "root opens every device";
    std::ofstream(at("locked")) << "x";
    fs::permissions(at("locked"), fs::perms::none);
    fs::create_symlink(at("locked"), at("COM4"));
    const std::string reason = serialPortProblem(4);
    EXPECT_EQ(reason.find("serial port COM4 (" + at("COM4") + " -> " + at("locked") +
                          "): permission denied"),
              0u)
        << reason;
}

}  // namespace
}  // namespace lyx::ports
