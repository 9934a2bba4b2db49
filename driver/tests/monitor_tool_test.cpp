// The lyx-monitor program against a pseudo-terminal base station.

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <future>
#include <string>
#include <thread>

#include "lyx/link/frame.hpp"
#include "lyx/sim/pty_port.hpp"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

TEST(MonitorTool, PrintsTheDataPacketsOfASerialBaseStation) {
    fs::path folder = fs::temp_directory_path() / ("lyx-monitor-" + std::to_string(::getpid()));
    fs::create_directories(folder);
    lyx::sim::PtyPort pty;
    ASSERT_TRUE(pty.linkAs(folder, 5));
    std::string command = "LYX_PORT_DIR=" + folder.string() + " " LYX_MONITOR_FILE +
                          " --port 5 --count 1 --seconds 20 2>/dev/null";
    auto output = std::async(std::launch::async, [&] {
        std::string text;
        FILE *pipe = ::popen(command.c_str(), "r");
        if (pipe == nullptr) return text;
        char buffer[256];
        while (std::fgets(buffer, sizeof buffer, pipe) != nullptr)
            text += buffer;
        ::pclose(pipe);
        return text;
    });
    // The monitor discards what waits on the line when it opens it, so the
    // frame goes out again until the monitor has printed it and ended.
    auto frame = lyx::link::buildFrame(1, lyx::link::Bytes{0x03, 0x04, 0xD2, 0x00, 0x01, 0x05});
    while (output.wait_for(100ms) != std::future_status::ready)
        pty.write(frame);
    std::string text = output.get();
    EXPECT_NE(text.find("base 1"), std::string::npos) << text;
    EXPECT_NE(text.find("tag  1234"), std::string::npos) << text;
    EXPECT_NE(text.find("06 06 01 03 04 d2 00 01 05"), std::string::npos) << text;
    fs::remove_all(folder);
}
