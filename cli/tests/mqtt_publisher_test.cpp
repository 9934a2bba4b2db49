// The MQTT thread against a real mosquitto broker process: packets pushed
// from another thread arrive in order, a command reaches the commands mailbox
// and its reply goes out, and a stop says "offline".
#include "mqtt_publisher.hpp"

#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace lyx::cli {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

int freePort() {
    const int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(s, reinterpret_cast<sockaddr *>(&a), sizeof a);
    socklen_t n = sizeof a;
    ::getsockname(s, reinterpret_cast<sockaddr *>(&a), &n);
    ::close(s);
    return ntohs(a.sin_port);
}

bool listening(int port) {
    const int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<std::uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool ok = ::connect(s, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0;
    ::close(s);
    return ok;
}

// mosquitto on 127.0.0.1 at a free port, ended by its PID.
class Broker {
  public:
    Broker() {
        char pattern[] = "/tmp/lyx-mqtt-test-XXXXXX";
        folder_ = ::mkdtemp(pattern);
        port_ = freePort();
        const std::string conf = folder_ + "/mosquitto.conf";
        std::ofstream(conf) << "listener " << port_ << " 127.0.0.1\nallow_anonymous true\n"
                            << "persistence false\n"
                            // a slow subscriber gets everything, however late
                            << "max_queued_messages 0\n"
                            << (::geteuid() == 0 ? "user root\n" : "");
        const std::string log = folder_ + "/broker.log";
        pid_ = ::fork();
        if (pid_ == 0) {
            ::prctl(PR_SET_PDEATHSIG, SIGTERM);  // a test that aborts takes its broker along
            const int fd = ::open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            ::dup2(fd, 1);
            ::dup2(fd, 2);
            ::execlp("mosquitto", "mosquitto", "-c", conf.c_str(), nullptr);
            ::execl("/usr/sbin/mosquitto", "mosquitto", "-c", conf.c_str(), nullptr);
            ::_exit(127);
        }
        // Nothing announces that it listens; it is asked until it does.
        const auto deadline = Clock::now() + 10s;
        while (!listening(port_) && Clock::now() < deadline)
            std::this_thread::sleep_for(20ms);
    }
    ~Broker() {
        if (pid_ > 0) {
            ::kill(pid_, SIGTERM);
            ::waitpid(pid_, nullptr, 0);
        }
        std::filesystem::remove_all(folder_);
    }
    int port() const { return port_; }
    bool up() const { return listening(port_); }

  private:
    std::string folder_;
    int port_ = 0;
    pid_t pid_ = -1;
};

// A subscriber on the test's thread.
class Subscriber {
  public:
    explicit Subscriber(int port)
        : client_(settings(port),
                  {[this](int result, std::string_view) { connected_ = result == 0; },
                   {},
                   [this](std::string_view topic, std::string_view payload) {
                       messages.emplace_back(topic, payload);
                   },
                   {}}) {
        std::string why;
        EXPECT_TRUE(client_.connect(why)) << why;
        EXPECT_TRUE(driveUntil([&] { return connected_; }));
        client_.subscribe("t/#", 1);
        // Subscribed once its own probe comes back.
        client_.publish("t/probe", "probe", 1, false);
        EXPECT_TRUE(driveUntil([&] { return count("t/probe") > 0; }));
    }

    template <typename Done>
    bool driveUntil(Done done, std::chrono::seconds limit = 15s) {
        const auto deadline = Clock::now() + limit;
        while (!done()) {
            if (Clock::now() > deadline) return false;
            const int s = client_.socket();
            if (s < 0) return false;
            pollfd p{s, static_cast<short>(POLLIN | (client_.wantWrite() ? POLLOUT : 0)), 0};
            ::poll(&p, 1, 100);
            if (p.revents & (POLLIN | POLLERR | POLLHUP)) client_.readable();
            if ((p.revents & POLLOUT) && client_.socket() >= 0) client_.writable();
        }
        return true;
    }

    std::size_t count(std::string_view topic) const {
        std::size_t n = 0;
        for (const auto &m : messages)
            n += m.first == topic;
        return n;
    }
    MqttClient &client() { return client_; }

    std::vector<std::pair<std::string, std::string>> messages;

  private:
    static ClientSettings settings(int port) {
        ClientSettings s;
        s.broker.host = "127.0.0.1";
        s.broker.port = port;
        s.clientId = "test-subscriber";
        return s;
    }
    MqttClient client_;
    bool connected_ = false;
};

PublisherSettings gatewayAt(int port) {
    PublisherSettings s;
    s.topics = Topics("t", "gw");
    s.qos = 1;
    s.client.broker.host = "127.0.0.1";
    s.client.broker.port = port;
    s.client.clientId = "gw";
    s.client.will = {s.topics.status(), "offline", 1, true};
    s.firstRetry = 100ms;
    return s;
}

TEST(MqttPublisher, PacketsFromAnotherThreadCommandsAndRepliesAndOffline) {
    Broker broker;
    if (!broker.up()) GTEST_SKIP() << "mosquitto cannot be started";
    Subscriber sub(broker.port());
    PacketQueue packets(10000);
    Mailbox<CommandMessage> commands;
    MqttPublisher publisher(gatewayAt(broker.port()), packets, commands);
    publisher.start();
    publisher.setStations({{1, "001234"}});
    ASSERT_TRUE(sub.driveUntil([&] { return sub.count("t/gateway/gw/status") > 0; }));

    constexpr int kPackets = 3000;
    std::thread link([&] {
        for (int n = 1; n <= kPackets; ++n) {
            Packet p;
            p.station = 1;
            p.tag = 7;
            p.value = std::to_string(n);
            packets.push({"001234", p});
        }
    });
    const bool all = sub.driveUntil([&] { return sub.count("t/001234/7/packet") == kPackets; });
    link.join();
    ASSERT_TRUE(all) << sub.count("t/001234/7/packet");
    int expected = 1;
    for (const auto &[topic, payload] : sub.messages) {
        if (topic != "t/001234/7/packet") continue;
        EXPECT_NE(payload.find("\"value\":" + std::to_string(expected++) + ","), std::string::npos)
            << payload;
    }
    EXPECT_GE(sub.count("t/001234/7/state"), 1u);

    // A command for the station is handed over; its reply goes back.
    sub.client().publish("t/001234/cmd/station", R"({"id":"s1"})", 1, false);
    ASSERT_TRUE(sub.driveUntil([&] { return commands.size() > 0; }));
    auto command = commands.take();
    ASSERT_TRUE(command);
    EXPECT_EQ(command->station, "001234");
    EXPECT_EQ(command->request.name, "station");
    EXPECT_EQ(command->request.id, R"("s1")");
    publisher.reply(Topics::result(command->topic), R"({"id":"s1","status":0})");
    ASSERT_TRUE(sub.driveUntil([&] { return sub.count("t/001234/cmd/station/result") > 0; }));
    // Another gateway's station is not ours to answer; a bad body is answered at once.
    sub.client().publish("t/00BEEF/cmd/station", "{}", 1, false);
    sub.client().publish("t/cmd/sleep", "{", 1, false);
    ASSERT_TRUE(sub.driveUntil([&] { return sub.count("t/cmd/sleep/result") > 0; }));
    EXPECT_EQ(commands.size(), 0u);
    EXPECT_EQ(sub.count("t/00BEEF/cmd/station/result"), 0u);

    const auto summary = publisher.stop(2s);
    EXPECT_EQ(summary.published, static_cast<std::uint64_t>(kPackets));
    EXPECT_EQ(summary.left, 0u);
    EXPECT_TRUE(summary.offline);
    ASSERT_TRUE(sub.driveUntil([&] { return sub.count("t/gateway/gw/status") == 2; }));
    EXPECT_EQ(sub.messages.back().second, "offline");
}

TEST(MqttPublisher, StopsWhileTheBrokerIsAwayAndKeepsTheQueueBounded) {
    PacketQueue packets(10);
    Mailbox<CommandMessage> commands;
    MqttPublisher publisher(gatewayAt(freePort()), packets, commands);
    publisher.start();
    std::thread link([&] {
        for (int n = 0; n < 50; ++n)
            packets.push({"001234", Packet{}});
    });
    link.join();
    const auto summary = publisher.stop(200ms);
    EXPECT_EQ(summary.published, 0u);
    EXPECT_EQ(summary.left, 10u);
    EXPECT_FALSE(summary.offline);
    EXPECT_EQ(packets.counts().dropped, 40u);
}

}  // namespace
}  // namespace lyx::cli
