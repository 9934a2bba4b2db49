#include "output_mqtt.hpp"

#include <poll.h>
#include <pthread.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <deque>
#include <set>
#include <vector>

#include "backoff.hpp"
#include "packet.hpp"
#include "state_throttle.hpp"

namespace lyx::cli {

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr std::size_t kWindow = 100;  // messages of quality 1 unacknowledged at once
constexpr std::size_t kBatch = 256;   // packets taken from the queue at a time
constexpr std::size_t kTurn = 1024;   // packets published before the loop polls again
// Packets are taken at most this often: at thousands a second, waking for each
// would cost more than publishing it.
constexpr auto kGather = std::chrono::milliseconds(5);
constexpr std::size_t kMostReplies = 1000;
constexpr auto kHousekeeping = 1s;
constexpr auto kDetailEvery = 60s;
constexpr auto kDetailSoonest = 1s;
constexpr auto kForgetUnacknowledged = 60s;
constexpr auto kCloseWait = 2s;
constexpr int kStatusQos = 1;
constexpr int kCommandQos = 1;

std::string seconds(Clock::duration d) {
    const double s = std::chrono::duration<double>(d).count();
    char text[32];
    std::snprintf(text, sizeof text, s < 10 && s != std::floor(s) ? "%.1f s" : "%.0f s", s);
    return text;
}

}  // namespace

class MqttPublisher::Session {
  public:
    explicit Session(MqttPublisher &owner)
        : owner_(owner),
          settings_(owner.settings_),
          topics_(settings_.topics),
          client_(settings_.client, callbacks()),
          backoff_(settings_.firstRetry, settings_.longestRetry),
          states_(settings_.stateInterval) {}

    void run();
    Summary summary() const {
        return {published_, owner_.packets_.counts().waiting, offlineAcknowledged_};
    }

  private:
    enum class State { Waiting, Connecting, Connected };
    enum class Finish { Flushing, Acknowledging, Closing };

    MqttClient::Callbacks callbacks() {
        return {
            [this](int result, std::string_view why) { onConnected(result, why); },
            [this](std::string_view why) { onDisconnected(why); },
            [this](std::string_view topic, std::string_view payload) { onMessage(topic, payload); },
            [this](int id) { unacknowledged_.erase(id); }};
    }

    void onConnected(int result, std::string_view why);
    void onDisconnected(std::string_view why);
    void onMessage(std::string_view topic, std::string_view payload);
    // Subscribes, says "online" and publishes the states, once connected.
    void announce(Clock::time_point now);

    void attempt(Clock::time_point now);
    void retryLater(const std::string &what, Clock::time_point now);
    void takeControl(Clock::time_point now);
    void applyStations(std::map<int, std::string> levels);
    void work(Clock::time_point now);
    bool finished(Clock::time_point now);
    void housekeeping(Clock::time_point now);
    int pollTimeout(Clock::time_point now) const;

    bool canSend() const {
        return state_ == State::Connected && !suspect_ && !client_.wantWrite() &&
               unacknowledged_.size() < kWindow;
    }
    bool send(const std::string &topic, std::string_view payload, int qos, bool retain,
              int *id = nullptr);
    void queueReply(std::string topic, std::string payload);
    void publishDetail(Clock::time_point now);
    std::string detailKey() const;

    MqttPublisher &owner_;
    const PublisherSettings &settings_;
    const Topics &topics_;
    MqttClient client_;
    Backoff backoff_;
    StateThrottle states_;

    State state_ = State::Waiting;
    bool suspect_ = false;   // a write failed; the connection is probably gone
    bool announce_ = false;  // connected, not yet announced
    std::string refusal_;    // why the broker refused the connection
    Clock::time_point nextAttempt_{};
    Clock::time_point connectDeadline_{};
    Clock::time_point nextHousekeeping_{};
    Clock::time_point nextTake_{};
    Clock::time_point nextDetail_{};
    Clock::time_point lastDetail_{};
    std::string lastDetailKey_;

    std::map<int, std::string> stations_;
    std::deque<std::pair<std::string, std::string>> replies_;
    std::map<int, Clock::time_point> unacknowledged_;
    std::vector<QueuedPacket> batch_;
    std::uint64_t published_ = 0;
    std::uint64_t lostInSending_ = 0;
    std::uint64_t connections_ = 0;

    bool stopping_ = false;
    Finish finish_ = Finish::Flushing;
    Clock::time_point stopDeadline_{};
    int offlineId_ = 0;
    bool offlineAcknowledged_ = false;
};

void MqttPublisher::Session::run() {
    const auto start = Clock::now();
    nextAttempt_ = start;
    nextHousekeeping_ = start + kHousekeeping;
    std::vector<pollfd> fds;
    for (;;) {
        auto now = Clock::now();
        takeControl(now);
        if (state_ == State::Waiting && !stopping_ && now >= nextAttempt_) attempt(now);
        if (state_ == State::Connecting && now >= connectDeadline_)
            retryLater("cannot connect to " + settings_.client.broker.url() +
                           ": no answer to the connection request",
                       now);
        if (state_ == State::Connected) work(now);
        if (stopping_ && finished(now)) return;
        if (now >= nextHousekeeping_) housekeeping(now);

        fds.clear();
        fds.push_back({owner_.control_.fd(), POLLIN, 0});
        if (canSend() && now >= nextTake_) fds.push_back({owner_.packets_.fd(), POLLIN, 0});
        const int socket = state_ == State::Waiting ? -1 : client_.socket();
        if (socket >= 0)
            fds.push_back(
                {socket, static_cast<short>(POLLIN | (client_.wantWrite() ? POLLOUT : 0)), 0});
        if (::poll(fds.data(), fds.size(), pollTimeout(now)) < 0 && errno != EINTR) {
            std::perror("lyx mqtt: poll");
            return;
        }
        if (socket >= 0) {
            const short events = fds.back().revents;
            if (events & (POLLIN | POLLHUP | POLLERR)) client_.readable();
            if ((events & POLLOUT) && client_.socket() >= 0) client_.writable();
            if (events != 0) suspect_ = false;
        }
    }
}

void MqttPublisher::Session::attempt(Clock::time_point now) {
    std::string why;
    refusal_.clear();
    if (client_.connect(why)) {
        state_ = State::Connecting;
        connectDeadline_ = now + settings_.connectTimeout;
        return;
    }
    retryLater("cannot connect to " + settings_.client.broker.url() + ": " + why, now);
}

void MqttPublisher::Session::retryLater(const std::string &what, Clock::time_point now) {
    state_ = State::Waiting;
    if (stopping_) {
        std::fprintf(stderr, "lyx mqtt: %s\n", what.c_str());
        return;
    }
    const auto wait = backoff_.next();
    nextAttempt_ = now + wait;
    const auto waiting = owner_.packets_.counts().waiting;
    std::fprintf(stderr, "lyx mqtt: %s; %zu %s waiting; trying again in %s\n", what.c_str(),
                 waiting, waiting == 1 ? "packet" : "packets", seconds(wait).c_str());
}

void MqttPublisher::Session::onConnected(int result, std::string_view why) {
    if (result != 0) {
        // The connection is closed next; onDisconnected reports it.
        refusal_ = std::string(why);
        return;
    }
    state_ = State::Connected;
    ++connections_;
    backoff_.reset();
    std::fprintf(stderr, "lyx mqtt: connected to %s as %s\n", settings_.client.broker.url().c_str(),
                 settings_.client.clientId.c_str());
    // The rest goes out from the loop: libmosquitto is not called from inside
    // its callbacks, which run under its own locks.
    announce_ = true;
}

void MqttPublisher::Session::announce(Clock::time_point now) {
    announce_ = false;
    client_.subscribe(topics_.commands(), kCommandQos);
    for (const auto &[number, level] : stations_)
        client_.subscribe(topics_.stationCommands(level), kCommandQos);
    send(topics_.status(), "online", kStatusQos, true);
    // A broker that restarted may have lost its retained messages.
    for (const auto &s : states_.takeAll(now))
        send(s.topic, s.payload, settings_.qos, true);
    publishDetail(now);
}

void MqttPublisher::Session::onDisconnected(std::string_view why) {
    if (state_ == State::Waiting) return;
    const auto now = Clock::now();
    if (why.empty() && stopping_) {
        state_ = State::Waiting;
        return;
    }
    const std::string url = settings_.client.broker.url();
    if (!refusal_.empty())
        retryLater(url + " refused the connection: " + refusal_, now);
    else if (state_ == State::Connected)
        retryLater("the connection to " + url + " was lost (" +
                       std::string(why.empty() ? "closed" : why) + ")",
                   now);
    else
        retryLater("cannot connect to " + url + ": " + std::string(why.empty() ? "closed" : why),
                   now);
}

void MqttPublisher::Session::onMessage(std::string_view topic, std::string_view payload) {
    const auto command = topics_.command(topic);
    if (!command) return;  // a reply, ours or another's, or no command at all
    if (!command->station.empty()) {
        // Only the stations of this gateway; the others belong to other gateways.
        const bool ours = std::any_of(stations_.begin(), stations_.end(),
                                      [&](const auto &s) { return s.second == command->station; });
        if (!ours) return;
    }
    std::string replyTopic = Topics::result(topic);
    ParsedRequest parsed = parseRequest(command->name, payload, !command->station.empty());
    if (!parsed.request) {
        std::fprintf(stderr, "lyx mqtt: refused a request on %.*s: %s\n",
                     static_cast<int>(topic.size()), topic.data(), parsed.error.c_str());
        queueReply(std::move(replyTopic), errorReplyJson(command->name, parsed.id, parsed.error));
        return;
    }
    if (stopping_) {
        queueReply(std::move(replyTopic),
                   errorReplyJson(command->name, parsed.id, "the gateway is stopping"));
        return;
    }
    if (owner_.commands_.size() >= kMostWaitingCommands) {
        queueReply(std::move(replyTopic),
                   errorReplyJson(command->name, parsed.id,
                                  std::to_string(kMostWaitingCommands) +
                                      " commands are waiting already; try again later"));
        return;
    }
    owner_.commands_.post({std::string(topic), command->station, std::move(*parsed.request)});
}

void MqttPublisher::Session::takeControl(Clock::time_point now) {
    for (auto &c : owner_.control_.takeAll()) {
        switch (c.kind) {
            case Control::Kind::Reply:
                queueReply(std::move(c.topic), std::move(c.payload));
                break;
            case Control::Kind::Stations:
                applyStations(std::move(c.stations));
                break;
            case Control::Kind::Stop:
                if (!stopping_) {
                    stopping_ = true;
                    stopDeadline_ = now + c.flushFor;
                }
                break;
        }
    }
}

void MqttPublisher::Session::applyStations(std::map<int, std::string> levels) {
    std::set<std::string> before;
    std::set<std::string> after;
    for (const auto &[number, level] : stations_)
        before.insert(level);
    for (const auto &[number, level] : levels)
        after.insert(level);
    stations_ = std::move(levels);
    if (state_ != State::Connected) return;  // subscribed when it connects
    for (const auto &level : before)
        if (!after.contains(level)) client_.unsubscribe(topics_.stationCommands(level));
    for (const auto &level : after)
        if (!before.contains(level)) client_.subscribe(topics_.stationCommands(level), kCommandQos);
}

void MqttPublisher::Session::queueReply(std::string topic, std::string payload) {
    if (replies_.size() >= kMostReplies) replies_.pop_front();
    replies_.emplace_back(std::move(topic), std::move(payload));
}

bool MqttPublisher::Session::send(const std::string &topic, std::string_view payload, int qos,
                                  bool retain, int *id) {
    const MqttClient::Sent sent = client_.publish(topic, payload, qos, retain);
    // A message of quality 1 stays with libmosquitto, which sends it again
    // after a reconnection, even when writing it failed.
    if (qos > 0 && sent.messageId != 0) unacknowledged_[sent.messageId] = Clock::now();
    if (id != nullptr) *id = sent.messageId;
    if (!sent.ok) suspect_ = true;
    return sent.ok || qos > 0;
}

void MqttPublisher::Session::work(Clock::time_point now) {
    if (announce_) announce(now);
    // Replies first: someone waits for each.
    while (!replies_.empty() && state_ == State::Connected) {
        send(replies_.front().first, replies_.front().second, settings_.qos, false);
        replies_.pop_front();
    }
    if (canSend())
        for (const auto &s : states_.takeDue(now, kBatch))
            send(s.topic, s.payload, settings_.qos, true);
    std::size_t turn = 0;
    while (canSend() && now >= nextTake_ && turn < kTurn) {
        batch_.clear();
        if (owner_.packets_.take(batch_, kBatch) == 0) break;
        for (auto &q : batch_) {
            const std::string payload = jsonObject(q.packet, false);
            if (send(topics_.packet(q.station, q.packet.tag), payload, settings_.qos, false))
                ++published_;
            else
                ++lostInSending_;
            const std::string state = topics_.state(q.station, q.packet.tag);
            if (states_.offer(state, payload, now)) send(state, payload, settings_.qos, true);
        }
        turn += batch_.size();
        if (batch_.size() < kBatch) nextTake_ = now + kGather;  // the queue is empty
    }
    if (now >= nextDetail_) {
        publishDetail(now);
    } else if (detailKey() != lastDetailKey_) {
        if (now - lastDetail_ >= kDetailSoonest)
            publishDetail(now);
        else
            nextDetail_ = std::min(nextDetail_, lastDetail_ + kDetailSoonest);
    }
}

std::string MqttPublisher::Session::detailKey() const {
    std::string key = std::to_string(owner_.packets_.counts().dropped + lostInSending_ +
                                     owner_.link().framesDropped);
    for (const auto &[number, level] : stations_)
        key += " " + std::to_string(number) + "=" + level;
    return key;
}

void MqttPublisher::Session::publishDetail(Clock::time_point now) {
    const auto counts = owner_.packets_.counts();
    const auto link = owner_.link();
    auto n = [](std::uint64_t v) { return std::to_string(v); };
    // What the link delivered, held back and lost before the packets reached the
    // gateway; its lost packets count among "dropped".
    const std::string linkJson =
        "{\"delivered\":" + n(link.framesDelivered) + ",\"held\":" + n(link.framesHeld) +
        ",\"held_max\":" + n(link.framesHeldMax) + ",\"dropped\":" + n(link.framesDropped) +
        ",\"bytes_dropped\":" + n(link.bytesDropped) +
        ",\"bytes_discarded\":" + n(link.bytesDiscarded) + "}";
    std::string stations;
    for (const auto &[number, level] : stations_)
        stations += (stations.empty() ? "" : ",") + jsonString(std::to_string(number)) + ":" +
                    jsonString(level);
    const std::string detail =
        "{\"time\":\"" + isoTime(std::chrono::system_clock::now(), true) + "\"" +
        ",\"client_id\":" + jsonString(settings_.client.clientId) + ",\"stations\":{" + stations +
        "},\"received\":" + std::to_string(counts.received) +
        ",\"published\":" + std::to_string(published_) +
        ",\"dropped\":" + std::to_string(counts.dropped + lostInSending_ + link.framesDropped) +
        ",\"link\":" + linkJson + ",\"waiting\":" + std::to_string(counts.waiting) +
        ",\"queue\":" + std::to_string(owner_.packets_.capacity()) +
        ",\"qos\":" + std::to_string(settings_.qos) +
        ",\"connections\":" + std::to_string(connections_) + "}";
    send(topics_.statusDetail(), detail, kStatusQos, true);
    lastDetail_ = now;
    lastDetailKey_ = detailKey();
    nextDetail_ = now + kDetailEvery;
}

bool MqttPublisher::Session::finished(Clock::time_point now) {
    switch (finish_) {
        case Finish::Flushing: {
            const bool waiting = owner_.packets_.counts().waiting > 0 || !replies_.empty();
            if (state_ == State::Connecting && now < stopDeadline_) return false;
            if (state_ == State::Connected && waiting && now < stopDeadline_) return false;
            if (state_ != State::Connected) return true;
            for (const auto &s : states_.takeDue(Clock::time_point::max(), SIZE_MAX))
                send(s.topic, s.payload, settings_.qos, true);
            publishDetail(now);
            send(topics_.status(), "offline", kStatusQos, true, &offlineId_);
            finish_ = Finish::Acknowledging;
            stopDeadline_ = now + kCloseWait;
            return false;
        }
        case Finish::Acknowledging:
            if (state_ == State::Connected && !unacknowledged_.empty() && now < stopDeadline_)
                return false;
            offlineAcknowledged_ = state_ == State::Connected && offlineId_ != 0 &&
                                   !unacknowledged_.contains(offlineId_);
            if (state_ != State::Connected) return true;
            client_.disconnect();
            finish_ = Finish::Closing;
            return false;
        case Finish::Closing:
            return client_.socket() < 0 || now >= stopDeadline_;
    }
    return true;
}

void MqttPublisher::Session::housekeeping(Clock::time_point now) {
    nextHousekeeping_ = now + kHousekeeping;
    suspect_ = false;
    if (state_ != State::Waiting && client_.socket() >= 0) client_.housekeeping();
    // A message whose acknowledgement never came must not hold the window shut.
    if (state_ == State::Connected)
        std::erase_if(unacknowledged_, [&](const auto &entry) {
            return now - entry.second >= kForgetUnacknowledged;
        });
}

int MqttPublisher::Session::pollTimeout(Clock::time_point now) const {
    Clock::time_point next = nextHousekeeping_;
    if (state_ == State::Waiting && !stopping_) next = std::min(next, nextAttempt_);
    if (state_ == State::Connecting) next = std::min(next, connectDeadline_);
    if (state_ == State::Connected) {
        next = std::min(next, nextDetail_);
        if (const auto due = states_.nextDue(); due && canSend()) next = std::min(next, *due);
        if (canSend() && nextTake_ > now) next = std::min(next, nextTake_);
    }
    if (stopping_) next = std::min(next, stopDeadline_);
    if (next <= now) return 0;
    return static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(next - now).count());
}

MqttPublisher::MqttPublisher(PublisherSettings settings, PacketQueue &packets,
                             Mailbox<CommandMessage> &commands)
    : settings_(std::move(settings)), packets_(packets), commands_(commands) {}

MqttPublisher::~MqttPublisher() {
    if (thread_.joinable()) stop(std::chrono::milliseconds(0));
}

void MqttPublisher::start() {
    auto session = std::make_unique<Session>(*this);
    thread_ = std::thread([this, session = std::move(session)] {
        ::pthread_setname_np(::pthread_self(), "lyx mqtt");  // for top -H and the like
        session->run();
        summary_ = session->summary();
    });
}

void MqttPublisher::reply(std::string topic, std::string payload) {
    control_.post({Control::Kind::Reply, std::move(topic), std::move(payload), {}, {}});
}

void MqttPublisher::setStations(std::map<int, std::string> levels) {
    control_.post({Control::Kind::Stations, {}, {}, std::move(levels), {}});
}

void MqttPublisher::setLink(const dataprovider::LinkStatistics &link) {
    std::lock_guard guard(linkLock_);
    link_ = link;
}

dataprovider::LinkStatistics MqttPublisher::link() const {
    std::lock_guard guard(linkLock_);
    return link_;
}

MqttPublisher::Summary MqttPublisher::stop(std::chrono::milliseconds flushFor) {
    if (!thread_.joinable()) return summary_;
    control_.post({Control::Kind::Stop, {}, {}, {}, flushFor});
    thread_.join();
    return summary_;
}

}  // namespace lyx::cli
