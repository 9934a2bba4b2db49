#include "output_mqtt.hpp"

#include <poll.h>
#include <pthread.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <deque>
#include <nlohmann/json.hpp>
#include <random>
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
constexpr auto kDetailLatest = 5s;
constexpr auto kForgetUnacknowledged = 60s;
constexpr auto kCloseWait = 2s;
constexpr int kStatusQos = 1;
constexpr int kCommandQos = 1;
// Events kept while the broker is away.
constexpr std::size_t kMostPendingEvents = 1000;
// Retained commands remembered as answered, so that each is answered once a run.
constexpr std::size_t kMostRetainedAnswered = 1000;
// While packets go to the spool they are taken from memory this often.
constexpr auto kSpoolGather = 100ms;
// Home Assistant's "online": the configs go again after a random wait in this range, so
// that gateways do not all answer at once.
constexpr auto kRediscoverSoonest = 500ms;
constexpr auto kRediscoverLatest = 2500ms;

// The wall-clock time of a moment on the steady clock.
std::chrono::system_clock::time_point wallTime(Clock::time_point t) {
    const auto now = Clock::now();
    return std::chrono::system_clock::now() -
           std::chrono::duration_cast<std::chrono::system_clock::duration>(now - t);
}

std::string stationIdJson(const std::string &level) {
    return hasStationId(level) ? jsonString(level) : "null";
}

std::string textOrNull(const std::string &text) {
    return text.empty() ? "null" : jsonString(text);
}

// A packet's JSON marked as published late, from the spool.
std::string historical(std::string json) {
    if (!json.empty() && json.back() == '}') json.insert(json.size() - 1, ",\"historical\":true");
    return json;
}

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
          states_(settings_.stateInterval),
          discovery_(settings_.discoverySettings, topics_),
          transmits_(settings_.transmitsPerSecond, settings_.transmitsPerSecond),
          random_(std::random_device{}()),
          spool_(owner.spool_.get()) {}

    void run();
    Summary summary() const {
        Summary s{published_, owner_.packets_.counts().waiting, {}, offlineAcknowledged_};
        if (spool_ != nullptr) s.spooled = spool_->counts().packets;
        return s;
    }

  private:
    enum class State { Waiting, Connecting, Connected };
    enum class Finish { Flushing, Acknowledging, Closing };
    struct Forget {
        std::string replyTopic;
        std::string id;
        std::string station;  // only under this station; empty: under every one
        int tag = 0;
    };

    MqttClient::Callbacks callbacks() {
        return {[this](int result, std::string_view why) { onConnected(result, why); },
                [this](std::string_view why) { onDisconnected(why); },
                [this](std::string_view topic, std::string_view payload, bool retained) {
                    onMessage(topic, payload, retained);
                },
                [this](int id) { acknowledged(id); }};
    }
    void acknowledged(int id);

    // The spool: packets go there while they cannot be published at once (the broker is
    // away, or the spool still holds older ones, or the queue is half full); they come back
    // from it, oldest first, before any newer one.
    void spoolTurn(Clock::time_point now);
    void spoolEverything(Clock::time_point now);
    bool diverting() const;
    std::size_t publishSpooled(Clock::time_point now);
    void spoolDelivered();
    // The retained state of the tag, unless a newer reading is its state already.
    void offerState(const std::string &station, int tag, std::chrono::system_clock::time_point time,
                    const std::string &payload, Clock::time_point now);

    void onConnected(int result, std::string_view why);
    void onDisconnected(std::string_view why);
    void onMessage(std::string_view topic, std::string_view payload, bool retained);
    void onCommand(const CommandTopic &command, std::string_view topic, std::string_view payload,
                   bool retained);
    void refuse(std::string_view topic, std::string_view name, const std::string &id,
                const std::string &why);
    // Subscribes, says "online" and publishes the states, the tags and the modules, once
    // connected.
    void announce(Clock::time_point now);

    void attempt(Clock::time_point now);
    void retryLater(const std::string &what, Clock::time_point now);
    void takeControl(Clock::time_point now);
    void applyStations(std::map<int, std::string> levels, std::uint32_t present);
    // Publishes the stations' statuses that differ from those published on
    // this connection (all of them: `all`).
    void publishStationStatus(bool all);
    void work(Clock::time_point now);
    bool finished(Clock::time_point now);
    void housekeeping(Clock::time_point now);
    int pollTimeout(Clock::time_point now) const;

    // The model of tags: its events, each tag's availability and discovery, the list.
    void takeTagEvents(Clock::time_point now);
    std::string eventJson(const TagTracker::Event &e) const;
    void publishTag(const std::string &station, int tag, bool available, bool numeric);
    void publishEveryTag(Clock::time_point now);
    void publishModules(Clock::time_point now);
    void forget(const Forget &request);

    bool canSend() const {
        return state_ == State::Connected && !suspect_ && !client_.wantWrite() &&
               unacknowledged_.size() < kWindow;
    }
    bool send(const std::string &topic, std::string_view payload, int qos, bool retain,
              int *id = nullptr);
    void queueReply(std::string topic, std::string payload);
    void publishDetail(Clock::time_point now);
    // What, changed, makes the detail go again soon (losses, stations), and the other
    // counters it holds.
    std::string detailKey() const;
    std::string detailCounters() const;
    PacketLabels labels(const std::string &station, int tag) const;

    MqttPublisher &owner_;
    const PublisherSettings &settings_;
    const Topics &topics_;
    MqttClient client_;
    Backoff backoff_;
    StateThrottle states_;
    Discovery discovery_;
    RateLimit transmits_;
    std::minstd_rand random_;

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
    std::string lastDetailCounters_;

    std::map<int, std::string> stations_;
    std::map<std::string, bool> online_;     // level -> on the link; every level ever known
    std::map<std::string, bool> announced_;  // what this connection has published
    std::deque<std::pair<std::string, std::string>> replies_;
    std::map<int, Clock::time_point> unacknowledged_;
    std::vector<QueuedPacket> batch_;
    std::uint64_t published_ = 0;
    std::uint64_t lostInSending_ = 0;
    std::uint64_t connections_ = 0;
    std::map<std::string, std::chrono::system_clock::time_point> stateTimes_;

    Spool *spool_ = nullptr;
    std::vector<Spool::Entry> spooled_;
    Clock::time_point nextSpoolMove_{};
    std::map<int, std::int64_t> spoolInFlight_;  // message ID -> row, unacknowledged
    std::multiset<std::int64_t> spoolRowsInFlight_;
    std::int64_t spoolHandedOut_ = 0;

    // Tags: the events not yet published (while the broker is away), whether each tag's
    // discovery went out with a numeric value, the list's last version and time, and when
    // Home Assistant asked for the configs again.
    std::deque<std::string> pendingEvents_;
    std::map<std::pair<std::string, int>, bool> discovered_;
    std::set<std::string> discoveredStations_;
    std::uint64_t modulesVersion_ = 0;
    bool modulesPublished_ = false;
    Clock::time_point lastModules_{};
    std::optional<Clock::time_point> rediscoverAt_;
    std::deque<Forget> forgets_;
    std::set<std::string> retainedAnswered_;

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
        spoolTurn(now);
        if (state_ == State::Waiting && !stopping_ && now >= nextAttempt_) attempt(now);
        if (state_ == State::Connecting && now >= connectDeadline_)
            retryLater("cannot connect to " + settings_.client.broker.url() +
                           ": no answer to the connection request",
                       now);
        takeTagEvents(now);
        if (state_ == State::Connected) work(now);
        if (stopping_ && finished(now)) {
            // What could not go waits for the next start.
            spoolEverything(now);
            return;
        }
        if (now >= nextHousekeeping_) housekeeping(now);

        fds.clear();
        fds.push_back({owner_.control_.fd(), POLLIN, 0});
        fds.push_back({owner_.tags_.fd(), POLLIN, 0});
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
    {
        std::lock_guard guard(owner_.statisticsLock_);
        owner_.statistics_.connected = false;
    }
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
    {
        std::lock_guard guard(owner_.statisticsLock_);
        owner_.statistics_.connections = connections_;
        owner_.statistics_.connected = true;
        owner_.statistics_.lastConnection = std::chrono::system_clock::now();
    }
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
    client_.subscribe(topics_.gatewayCommands(), kCommandQos);
    for (const auto &[number, level] : stations_)
        client_.subscribe(topics_.stationCommands(level), kCommandQos);
    if (settings_.discovery) client_.subscribe(discovery_.statusTopic(), kCommandQos);
    send(topics_.status(), "online", kStatusQos, true);
    publishStationStatus(true);
    // A broker that restarted may have lost its retained messages.
    for (const auto &s : states_.takeAll(now))
        send(s.topic, s.payload, settings_.qos, true);
    publishEveryTag(now);
    publishModules(now);
    // What happened while the broker was away, in order.
    for (const auto &event : pendingEvents_)
        send(topics_.event(), event, settings_.qos, false);
    pendingEvents_.clear();
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

void MqttPublisher::Session::onMessage(std::string_view topic, std::string_view payload,
                                       bool retained) {
    if (settings_.discovery && topic == discovery_.statusTopic()) {
        // Home Assistant started: its configs go again soon. A retained "online" is the
        // broker's memory of an earlier start; every connection sends them anyway.
        if (payload == "online" && !retained) {
            std::uniform_int_distribution<long> spread(kRediscoverSoonest.count(),
                                                       kRediscoverLatest.count());
            const auto at = Clock::now() + std::chrono::milliseconds(spread(random_));
            if (!rediscoverAt_ || at < *rediscoverAt_) rediscoverAt_ = at;
        }
        return;
    }
    const auto command = topics_.command(topic);
    if (!command) return;  // a reply, ours or another's, or no command at all
    if (!command->station.empty()) {
        // Only the stations of this gateway; the others belong to other gateways.
        const bool ours = std::any_of(stations_.begin(), stations_.end(),
                                      [&](const auto &s) { return s.second == command->station; });
        if (!ours) return;
    }
    onCommand(*command, topic, payload, retained);
}

void MqttPublisher::Session::refuse(std::string_view topic, std::string_view name,
                                    const std::string &id, const std::string &why) {
    const std::string who = id.empty() ? "" : " (id " + id + ")";
    std::fprintf(stderr, "lyx mqtt: refused %.*s on %.*s%s: %s\n", static_cast<int>(name.size()),
                 name.data(), static_cast<int>(topic.size()), topic.data(), who.c_str(),
                 why.c_str());
    owner_.countCommand(name, "refused");
    queueReply(Topics::result(topic), errorReplyJson(name, id, why, settings_.client.clientId));
}

void MqttPublisher::Session::onCommand(const CommandTopic &command, std::string_view topic,
                                       std::string_view payload, bool retained) {
    ParsedRequest parsed = parseRequest(command.name, payload, !command.station.empty());
    if (retained) {
        // Stored by the broker earlier, perhaps long ago: old news, not a request. Answered
        // once, not at every reconnection.
        std::string key = std::string(topic) + '\n' + std::string(payload);
        if (retainedAnswered_.count(key)) return;
        if (retainedAnswered_.size() >= kMostRetainedAnswered) retainedAnswered_.clear();
        retainedAnswered_.insert(std::move(key));
        refuse(topic, command.name, parsed.id,
               "retained commands are not executed; publish it without the retain flag (and "
               "clear the retained one: an empty retained message on " +
                   std::string(topic) + ")");
        return;
    }
    if (!parsed.request) return refuse(topic, command.name, parsed.id, parsed.error);
    if (!settings_.commands.allows(command.name))
        return refuse(topic, command.name, parsed.id, settings_.commands.refusal(command.name));
    if (stopping_) return refuse(topic, command.name, parsed.id, "the gateway is stopping");
    const std::string &name = parsed.request->name;
    if ((name == "send" || name == "pause" || name == "stay-awake") &&
        !transmits_.take(Clock::now())) {
        char rate[32];
        std::snprintf(rate, sizeof rate, "%g", settings_.transmitsPerSecond);
        const std::string limit = std::string("more than ") + rate +
                                  " radio transmissions a second (send, pause and stay-awake "
                                  "together); try again later";
        return refuse(topic, command.name, parsed.id, limit);
    }
    if (name == "forget") {
        // The gateway's own business: done on this thread, outside libmosquitto's callback.
        forgets_.push_back(
            {Topics::result(topic), parsed.id, command.station, *parsed.request->tag});
        return;
    }
    if (owner_.commands_.size() >= kMostWaitingCommands)
        return refuse(topic, command.name, parsed.id,
                      std::to_string(kMostWaitingCommands) +
                          " commands are waiting already; try again later");
    // The answer comes from the link's thread.
    MqttPublisher *owner = &owner_;
    auto answer = [owner, replyTopic = Topics::result(topic), name, id = parsed.id,
                   gateway = settings_.client.clientId](const Outcome &outcome) {
        owner->countCommand(name, outcome.status == 0 ? "ok" : "failed");
        owner->reply(replyTopic, replyJson(name, id, outcome, gateway));
    };
    owner_.commands_.post(
        {std::string(topic), command.station, std::move(*parsed.request), std::move(answer)});
}

void MqttPublisher::Session::takeControl(Clock::time_point now) {
    for (auto &c : owner_.control_.takeAll()) {
        switch (c.kind) {
            case Control::Kind::Reply:
                queueReply(std::move(c.topic), std::move(c.payload));
                break;
            case Control::Kind::Stations:
                applyStations(std::move(c.stations), c.present);
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

void MqttPublisher::Session::applyStations(std::map<int, std::string> levels,
                                           std::uint32_t present) {
    std::set<std::string> before;
    std::set<std::string> after;
    for (const auto &[number, level] : stations_)
        before.insert(level);
    for (const auto &[number, level] : levels)
        after.insert(level);
    stations_ = std::move(levels);
    // A level no longer given to any station (another station took its slot)
    // is offline; one that two slots share is online if either is on the link.
    for (auto &[level, online] : online_)
        online = false;
    for (const auto &[number, level] : stations_)
        online_[level] = online_[level] || (number < 32 && (present & (1u << number)) != 0);
    if (state_ != State::Connected) return;  // subscribed and published when it connects
    // Subscribed before its status goes out: the broker takes a client's requests in order,
    // so whoever sees a station "online" can count on its command topic being heard.
    for (const auto &level : before)
        if (!after.contains(level)) client_.unsubscribe(topics_.stationCommands(level));
    for (const auto &level : after)
        if (!before.contains(level)) client_.subscribe(topics_.stationCommands(level), kCommandQos);
    if (!announce_) publishStationStatus(false);  // else announce() publishes them all
}

void MqttPublisher::Session::publishStationStatus(bool all) {
    if (all) announced_.clear();
    for (const auto &[level, online] : online_) {
        const auto found = announced_.find(level);
        if (found != announced_.end() && found->second == online) continue;
        send(topics_.stationStatus(level), online ? "online" : "offline", kStatusQos, true);
        announced_[level] = online;
    }
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

PacketLabels MqttPublisher::Session::labels(const std::string &station, int tag) const {
    PacketLabels l;
    l.withStationId = true;
    if (hasStationId(station)) l.stationId = station;
    const tags::TagInfo &info = owner_.tags_.info(tag);
    l.name = info.name;
    l.unit = info.unit;
    return l;
}

void MqttPublisher::Session::work(Clock::time_point now) {
    if (announce_) announce(now);
    // Replies first: someone waits for each.
    while (!replies_.empty() && state_ == State::Connected) {
        send(replies_.front().first, replies_.front().second, settings_.qos, false);
        replies_.pop_front();
    }
    while (!forgets_.empty() && state_ == State::Connected) {
        forget(forgets_.front());
        forgets_.pop_front();
    }
    if (rediscoverAt_ && now >= *rediscoverAt_) {
        rediscoverAt_.reset();
        discovered_.clear();
        discoveredStations_.clear();
        publishEveryTag(now);
    }
    if (canSend())
        for (const auto &s : states_.takeDue(now, kBatch))
            send(s.topic, s.payload, settings_.qos, true);
    std::size_t turn = 0;
    while (canSend() && turn < kTurn) {
        if (spool_ != nullptr && spool_->pending()) {
            const std::size_t n = publishSpooled(now);
            if (n == 0) break;
            turn += n;
            continue;
        }
        if (now < nextTake_) break;
        batch_.clear();
        if (owner_.packets_.take(batch_, kBatch) == 0) break;
        for (auto &q : batch_) {
            const std::string payload =
                jsonObject(q.packet, false, labels(q.station, q.packet.tag));
            if (send(topics_.packet(q.station, q.packet.tag), payload, settings_.qos, false))
                ++published_;
            else
                ++lostInSending_;
            offerState(q.station, q.packet.tag, q.packet.time, payload, now);
        }
        {
            std::lock_guard guard(owner_.statisticsLock_);
            owner_.statistics_.published = published_;
            owner_.statistics_.failed = lostInSending_;
        }
        turn += batch_.size();
        if (batch_.size() < kBatch) nextTake_ = now + kGather;  // the queue is empty
    }
    if (owner_.tags_.version() != modulesVersion_ &&
        now - lastModules_ >= settings_.modulesInterval)
        publishModules(now);
    // A loss or a change of stations goes out within a second, any other change of the
    // counters within kDetailLatest, so that the retained detail is never stale for long
    // yet goes at most once a second however fast the packets come.
    if (now < nextDetail_) {
        const bool urgent = detailKey() != lastDetailKey_;
        if (urgent || detailCounters() != lastDetailCounters_)
            nextDetail_ =
                std::min(nextDetail_, lastDetail_ + (urgent ? kDetailSoonest : kDetailLatest));
    }
    if (now >= nextDetail_) publishDetail(now);
}

void MqttPublisher::Session::takeTagEvents(Clock::time_point now) {
    const auto silence = owner_.tags_.nextSilence();
    pollfd fd{owner_.tags_.fd(), POLLIN, 0};
    const bool waiting = ::poll(&fd, 1, 0) > 0;
    if (!waiting && !(silence && now >= *silence)) return;
    for (const auto &e : owner_.tags_.takeEvents(now)) {
        const std::string json = eventJson(e);
        std::fprintf(stderr, "lyx mqtt: tag %d on %s %s\n", e.tag, e.station.c_str(),
                     e.kind == TagTracker::Event::Kind::Joined ? "joined"
                     : e.kind == TagTracker::Event::Kind::Gone ? "is gone"
                                                               : "is back");
        if (state_ != State::Connected || announce_) {
            // Published once connected; the availability and discovery then come from the
            // model itself.
            if (pendingEvents_.size() >= kMostPendingEvents) pendingEvents_.pop_front();
            pendingEvents_.push_back(json);
            continue;
        }
        send(topics_.event(), json, settings_.qos, false);
        if (e.kind == TagTracker::Event::Kind::Gone) {
            send(topics_.availability(e.station, e.tag), "offline", kStatusQos, true);
            continue;
        }
        // Joined or back: its discovery first (a forgotten tag may have lost it), then
        // "online", so that Home Assistant finds the entity before it turns available.
        const auto modules = owner_.tags_.modules(now);
        const auto it = std::find_if(modules.begin(), modules.end(), [&](const auto &m) {
            return m.station == e.station && m.tag == e.tag;
        });
        const bool numeric = it != modules.end() && classify(it->value) == ValueKind::Number;
        publishTag(e.station, e.tag, true, numeric);
    }
}

void MqttPublisher::Session::publishTag(const std::string &station, int tag, bool available,
                                        bool numeric) {
    if (settings_.discovery && hasStationId(station)) {
        if (discoveredStations_.insert(station).second)
            for (const auto &m : discovery_.station(station))
                send(m.topic, m.payload, kStatusQos, true);
        const auto key = std::make_pair(station, tag);
        const auto known = discovered_.find(key);
        if (known == discovered_.end() || known->second != numeric) {
            for (const auto &m : discovery_.tag(station, tag, owner_.tags_.info(tag), numeric))
                send(m.topic, m.payload, kStatusQos, true);
            discovered_[key] = numeric;
        }
    }
    send(topics_.availability(station, tag), available ? "online" : "offline", kStatusQos, true);
}

void MqttPublisher::Session::publishEveryTag(Clock::time_point now) {
    for (const auto &m : owner_.tags_.modules(now))
        publishTag(m.station, m.tag, m.available, classify(m.value) == ValueKind::Number);
}

std::string MqttPublisher::Session::eventJson(const TagTracker::Event &e) const {
    using Kind = TagTracker::Event::Kind;
    const tags::TagInfo &info = owner_.tags_.info(e.tag);
    std::string out = std::string("{\"event\":\"") +
                      (e.kind == Kind::Joined ? "joined"
                       : e.kind == Kind::Gone ? "gone"
                                              : "back") +
                      "\",\"time\":\"" + isoTime(wallTime(e.at), true) + "\"";
    out += ",\"station\":" + std::to_string(e.stationNumber);
    out += ",\"station_id\":" + stationIdJson(e.station);
    out += ",\"tag\":" + std::to_string(e.tag);
    out += ",\"name\":" + textOrNull(info.name) + ",\"unit\":" + textOrNull(info.unit);
    if (e.kind != Kind::Joined) {
        // When it was last heard before it went (or before it came back), and the silence
        // that counted as gone.
        char timeout[32];
        std::snprintf(timeout, sizeof timeout, "%.3f",
                      std::chrono::duration<double>(e.timeout).count());
        out += ",\"last_seen\":\"" + isoTime(wallTime(e.lastHeard), true) + "\"";
        out += std::string(",\"timeout\":") + timeout;
    }
    return out + "}";
}

void MqttPublisher::Session::publishModules(Clock::time_point now) {
    modulesVersion_ = owner_.tags_.version();
    lastModules_ = now;
    const auto modules = owner_.tags_.modules(now);
    if (modules.empty() && !modulesPublished_) return;  // nothing heard yet: nothing to say
    std::string out = "[";
    for (const auto &m : modules) {
        const tags::TagInfo &info = owner_.tags_.info(m.tag);
        if (out.size() > 1) out += ",";
        out += "{\"station\":" + std::to_string(m.stationNumber) +
               ",\"station_id\":" + stationIdJson(m.station) + ",\"tag\":" + std::to_string(m.tag) +
               ",\"name\":" + textOrNull(info.name) + ",\"unit\":" + textOrNull(info.unit) +
               ",\"last_seen\":\"" + isoTime(wallTime(m.lastHeard), true) +
               "\",\"packets\":" + std::to_string(m.packets) + ",\"availability\":\"" +
               (m.available ? "online" : "offline") + "\"}";
    }
    send(topics_.modules(), out + "]", kStatusQos, true);
    modulesPublished_ = true;
}

void MqttPublisher::Session::forget(const Forget &request) {
    const std::vector<std::string> heard = owner_.tags_.forget(request.tag, request.station);
    // Also under every station of this gateway now: what an earlier run published for it.
    std::set<std::string> levels(heard.begin(), heard.end());
    if (request.station.empty())
        for (const auto &[number, level] : stations_)
            levels.insert(level);
    else
        levels.insert(request.station);
    std::string list;
    for (const auto &level : levels) {
        if (settings_.discovery && hasStationId(level))
            for (const auto &m : discovery_.remove(level, request.tag))
                send(m.topic, m.payload, kStatusQos, true);
        discovered_.erase({level, request.tag});
        // Empty retained messages remove what the broker keeps of it.
        send(topics_.availability(level, request.tag), "", kStatusQos, true);
        const std::string state = topics_.state(level, request.tag);
        send(state, "", kStatusQos, true);
        states_.forget(state);
        stateTimes_.erase(state);
        if (!list.empty()) list += ',';  // appended: see detailKey()
        list += jsonString(level);
    }
    Outcome outcome;
    outcome.message = heard.empty() ? "tag " + std::to_string(request.tag) +
                                          " was not heard; what is published of it is cleared"
                                    : "forgot tag " + std::to_string(request.tag);
    outcome.fields.emplace_back("tag", std::to_string(request.tag));
    outcome.fields.emplace_back("stations", "[" + list + "]");
    std::fprintf(stderr, "lyx mqtt: forget on %s%s: %s\n", request.replyTopic.c_str(),
                 request.id.empty() ? "" : (" (id " + request.id + ")").c_str(),
                 outcome.message.c_str());
    owner_.countCommand("forget", "ok");
    queueReply(request.replyTopic,
               replyJson("forget", request.id, outcome, settings_.client.clientId));
    // The list changes at once.
    publishModules(Clock::now());
}

void MqttPublisher::Session::acknowledged(int id) {
    unacknowledged_.erase(id);
    const auto row = spoolInFlight_.find(id);
    if (row == spoolInFlight_.end()) return;
    spoolRowsInFlight_.erase(spoolRowsInFlight_.find(row->second));
    spoolInFlight_.erase(row);
    spoolDelivered();
}

bool MqttPublisher::Session::diverting() const {
    return state_ != State::Connected || announce_ || spool_->pending() ||
           owner_.packets_.counts().waiting > owner_.packets_.capacity() / 2;
}

void MqttPublisher::Session::spoolTurn(Clock::time_point now) {
    if (spool_ == nullptr) return;
    if (now >= nextSpoolMove_ && diverting()) {
        nextSpoolMove_ = now + kSpoolGather;
        batch_.clear();
        while (owner_.packets_.take(batch_, kBatch) > 0) {
            for (auto &q : batch_)
                spool_->add(
                    {0, q.station, q.packet.tag, q.packet.time,
                     historical(jsonObject(q.packet, false, labels(q.station, q.packet.tag)))});
            batch_.clear();
        }
    }
    if (const auto due = spool_->commitDue(); due && now >= *due) spool_->commit(now);
    std::lock_guard guard(owner_.statisticsLock_);
    owner_.statistics_.spool = spool_->counts();
}

void MqttPublisher::Session::spoolEverything(Clock::time_point now) {
    if (spool_ == nullptr) return;
    nextSpoolMove_ = now;
    const State was = state_;
    state_ = State::Waiting;  // diverting, whatever the connection
    spoolTurn(now);
    state_ = was;
    spool_->commit(now);
    std::lock_guard guard(owner_.statisticsLock_);
    owner_.statistics_.spool = spool_->counts();
}

std::size_t MqttPublisher::Session::publishSpooled(Clock::time_point now) {
    spooled_.clear();
    const std::size_t n = spool_->next(spooled_, kBatch);
    for (const auto &e : spooled_) {
        int id = 0;
        if (send(topics_.packet(e.station, e.tag), e.payload, settings_.qos, false, &id))
            ++published_;
        else
            ++lostInSending_;
        if (settings_.qos > 0 && id != 0) {
            spoolInFlight_[id] = e.id;
            spoolRowsInFlight_.insert(e.id);
        }
        spoolHandedOut_ = e.id;
        offerState(e.station, e.tag, e.time, e.payload, now);
    }
    spoolDelivered();
    std::lock_guard guard(owner_.statisticsLock_);
    owner_.statistics_.published = published_;
    owner_.statistics_.failed = lostInSending_;
    return n;
}

void MqttPublisher::Session::spoolDelivered() {
    // Every row before the oldest unacknowledged one is with the broker.
    spool_->delivered(spoolRowsInFlight_.empty() ? spoolHandedOut_
                                                 : *spoolRowsInFlight_.begin() - 1);
}

void MqttPublisher::Session::offerState(const std::string &station, int tag,
                                        std::chrono::system_clock::time_point time,
                                        const std::string &payload, Clock::time_point now) {
    const std::string state = topics_.state(station, tag);
    auto &newest = stateTimes_[state];
    if (time < newest) return;
    newest = time;
    if (states_.offer(state, payload, now)) send(state, payload, settings_.qos, true);
}

std::string MqttPublisher::Session::detailKey() const {
    std::string key = std::to_string(owner_.packets_.counts().dropped + lostInSending_ +
                                     owner_.linkStatistics().framesDropped +
                                     (spool_ != nullptr ? spool_->counts().dropped : 0));
    // Appended piece by piece: " " + string makes GCC 12 warn (-Wrestrict, a false
    // positive on the inlined insert at the front of a temporary).
    for (const auto &[number, level] : stations_) {
        key += ' ';
        key += std::to_string(number);
        key += '=';
        key += level;
    }
    return key;
}

std::string MqttPublisher::Session::detailCounters() const {
    const auto counts = owner_.packets_.counts();
    const auto link = owner_.linkStatistics();
    std::string key;
    for (const std::uint64_t v :
         {std::uint64_t{counts.received}, std::uint64_t{counts.waiting}, published_, connections_,
          std::uint64_t{link.framesDelivered}, std::uint64_t{link.framesHeld},
          std::uint64_t{link.framesHeldMax}, std::uint64_t{link.bytesDropped},
          std::uint64_t{link.bytesDiscarded}, spool_ != nullptr ? spool_->counts().packets : 0}) {
        key += std::to_string(v);
        key += ' ';
    }
    return key;
}

void MqttPublisher::Session::publishDetail(Clock::time_point now) {
    const auto counts = owner_.packets_.counts();
    const auto link = owner_.linkStatistics();
    auto n = [](std::uint64_t v) { return std::to_string(v); };
    // What the link delivered, held back and lost before the packets reached the
    // gateway; its lost packets count among "dropped".
    const std::string linkJson =
        "{\"delivered\":" + n(link.framesDelivered) + ",\"held\":" + n(link.framesHeld) +
        ",\"held_max\":" + n(link.framesHeldMax) + ",\"dropped\":" + n(link.framesDropped) +
        ",\"bytes_dropped\":" + n(link.bytesDropped) +
        ",\"bytes_discarded\":" + n(link.bytesDiscarded) + "}";
    std::string stations;
    for (const auto &[number, level] : stations_) {
        if (!stations.empty()) stations += ',';  // appended: see detailKey()
        stations += jsonString(std::to_string(number));
        stations += ':';
        stations += jsonString(level);
    }
    std::string spool = "null";
    std::uint64_t spoolDropped = 0;
    if (spool_ != nullptr) {
        const auto c = spool_->counts();
        spoolDropped = c.dropped;
        char age[32] = "null";
        if (c.oldest)
            std::snprintf(
                age, sizeof age, "%.3f",
                std::chrono::duration<double>(std::chrono::system_clock::now() - *c.oldest)
                    .count());
        spool = "{\"packets\":" + n(c.packets) + ",\"bytes\":" + n(c.bytes) +
                ",\"oldest_age\":" + age + ",\"dropped\":" + n(c.dropped) +
                ",\"spooled\":" + n(c.spooled) + ",\"limit\":" + n(settings_.spoolLimit) + "}";
    }
    const std::string detail =
        "{\"time\":\"" + isoTime(std::chrono::system_clock::now(), true) + "\"" +
        ",\"client_id\":" + jsonString(settings_.client.clientId) + ",\"stations\":{" + stations +
        "},\"received\":" + std::to_string(counts.received) +
        ",\"published\":" + std::to_string(published_) + ",\"dropped\":" +
        std::to_string(counts.dropped + lostInSending_ + link.framesDropped + spoolDropped) +
        ",\"link\":" + linkJson + ",\"waiting\":" + std::to_string(counts.waiting) +
        ",\"queue\":" + std::to_string(owner_.packets_.capacity()) +
        ",\"qos\":" + std::to_string(settings_.qos) +
        ",\"connections\":" + std::to_string(connections_) + ",\"spool\":" + spool +
        ",\"commands\":" + jsonString(settings_.commands.describe()) + "}";
    send(topics_.statusDetail(), detail, kStatusQos, true);
    lastDetail_ = now;
    lastDetailKey_ = detailKey();
    lastDetailCounters_ = detailCounters();
    nextDetail_ = now + kDetailEvery;
}

bool MqttPublisher::Session::finished(Clock::time_point now) {
    switch (finish_) {
        case Finish::Flushing: {
            const bool waiting = owner_.packets_.counts().waiting > 0 || !replies_.empty() ||
                                 (spool_ != nullptr && spool_->pending());
            if (state_ == State::Connecting && now < stopDeadline_) return false;
            if (state_ == State::Connected && waiting && now < stopDeadline_) return false;
            if (state_ != State::Connected) return true;
            for (const auto &s : states_.takeDue(Clock::time_point::max(), SIZE_MAX))
                send(s.topic, s.payload, settings_.qos, true);
            publishDetail(now);
            // The stations are not served any more either.
            for (auto &[level, online] : online_)
                online = false;
            publishStationStatus(false);
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
            if (now - entry.second < kForgetUnacknowledged) return false;
            if (const auto row = spoolInFlight_.find(entry.first); row != spoolInFlight_.end()) {
                spoolRowsInFlight_.erase(spoolRowsInFlight_.find(row->second));
                spoolInFlight_.erase(row);
            }
            return true;
        });
    if (spool_ != nullptr) spoolDelivered();
}

int MqttPublisher::Session::pollTimeout(Clock::time_point now) const {
    Clock::time_point next = nextHousekeeping_;
    if (state_ == State::Waiting && !stopping_) next = std::min(next, nextAttempt_);
    if (state_ == State::Connecting) next = std::min(next, connectDeadline_);
    if (spool_ != nullptr) {
        if (const auto due = spool_->commitDue()) next = std::min(next, *due);
        if (diverting() && owner_.packets_.counts().waiting > 0)
            next = std::min(next, nextSpoolMove_);
        if (state_ == State::Connected && canSend() && spool_->pending()) next = now;
    }
    if (state_ == State::Connected) {
        next = std::min(next, nextDetail_);
        if (const auto due = states_.nextDue(); due && canSend()) next = std::min(next, *due);
        if (canSend() && nextTake_ > now) next = std::min(next, nextTake_);
    }
    if (stopping_) next = std::min(next, stopDeadline_);
    if (const auto silence = owner_.tags_.nextSilence()) next = std::min(next, *silence);
    if (state_ == State::Connected) {
        if (rediscoverAt_) next = std::min(next, *rediscoverAt_);
        if (owner_.tags_.version() != modulesVersion_)
            next = std::min(next, lastModules_ + settings_.modulesInterval);
    }
    if (next <= now) return 0;
    return static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(next - now).count());
}

MqttPublisher::MqttPublisher(PublisherSettings settings, TagTracker &tags,
                             Mailbox<CommandMessage> &commands)
    : settings_(std::move(settings)), tags_(tags), packets_(settings_.queue), commands_(commands) {}

MqttPublisher::~MqttPublisher() {
    if (thread_.joinable()) stop(std::chrono::milliseconds(0));
}

void MqttPublisher::start() {
    if (!settings_.spoolFolder.empty()) {
        spool_ = std::make_unique<Spool>(settings_.spoolFolder, settings_.spoolLimit);
        const auto held = spool_->counts();
        if (held.packets > 0)
            std::fprintf(stderr,
                         "lyx mqtt: the spool %s holds %llu packets from before; they go first "
                         "once the broker is connected\n",
                         spool_->path().c_str(), static_cast<unsigned long long>(held.packets));
    }
    auto session = std::make_unique<Session>(*this);
    thread_ = std::thread([this, session = std::move(session)] {
        ::pthread_setname_np(::pthread_self(), "lyx mqtt");  // for top -H and the like
        session->run();
        summary_ = session->summary();
    });
}

void MqttPublisher::packet(const std::string &station, const Packet &p) {
    packets_.push({station, p});
}

void MqttPublisher::lost(std::uint64_t count) {
    if (count == 0) return;
    packets_.countDropped(count);
    std::lock_guard guard(statisticsLock_);
    statistics_.lostBefore += count;
}

void MqttPublisher::countCommand(std::string_view name, std::string_view result) {
    const auto &known = commandNames();
    const bool ours = std::find(known.begin(), known.end(), name) != known.end();
    std::lock_guard guard(statisticsLock_);
    ++statistics_.commands[{ours ? std::string(name) : "unknown", std::string(result)}];
}

MqttPublisher::Statistics MqttPublisher::statistics() const {
    const auto counts = packets_.counts();
    std::lock_guard guard(statisticsLock_);
    Statistics s = statistics_;
    s.queue = counts;
    return s;
}

void MqttPublisher::reply(std::string topic, std::string payload) {
    control_.post({Control::Kind::Reply, std::move(topic), std::move(payload), {}, 0, {}});
}

void MqttPublisher::stations(const std::map<int, std::string> &levels, std::uint32_t present) {
    control_.post({Control::Kind::Stations, {}, {}, levels, present, {}});
}

void MqttPublisher::link(const dataprovider::LinkStatistics &statistics) {
    std::lock_guard guard(linkLock_);
    link_ = statistics;
}

dataprovider::LinkStatistics MqttPublisher::linkStatistics() const {
    std::lock_guard guard(linkLock_);
    return link_;
}

std::string MqttPublisher::stop(std::chrono::milliseconds flushFor) {
    if (thread_.joinable()) {
        control_.post({Control::Kind::Stop, {}, {}, {}, 0, flushFor});
        thread_.join();
    }
    const auto counts = packets_.counts();
    return std::to_string(counts.received) + " packets received, " +
           std::to_string(summary_.published) + " published, " + std::to_string(counts.dropped) +
           " dropped, " + std::to_string(summary_.left) + " left unpublished" +
           (summary_.spooled ? ", " + std::to_string(*summary_.spooled) + " in the spool" : "") +
           "; " + (summary_.offline ? "\"offline\" published" : "\"offline\" not published");
}

}  // namespace lyx::cli
