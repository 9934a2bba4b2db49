// One connection to an MQTT broker through libmosquitto, driven by the
// caller's poll() loop: the caller watches socket() (for writing too while
// wantWrite()), calls readable() and writable() when poll() says so and
// housekeeping() about once a second. The callbacks run inside those calls
// and inside publish(). One thread uses an object, never two.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "mqtt_options.hpp"

struct mosquitto;
struct mosquitto_message;

namespace lyx::cli {

struct ClientSettings {
    BrokerAddress broker;
    std::string clientId;
    std::optional<std::string> username;
    std::optional<std::string> password;
    std::string caFile;  // TLS without one trusts the system's CAs
    std::string certFile;
    std::string keyFile;
    int keepAliveSeconds = 30;
    struct Will {
        std::string topic;
        std::string payload;
        int qos = 1;
        bool retain = true;
    } will;
};

class MqttClient {
  public:
    struct Callbacks {
        // The broker's answer to the connection request: 0 accepted, else why not.
        std::function<void(int result, std::string_view why)> connected;
        // The connection ended; `why` is empty when disconnect() asked for it.
        std::function<void(std::string_view why)> disconnected;
        // `retained`: the broker stored it earlier and sends it for a new subscription.
        std::function<void(std::string_view topic, std::string_view payload, bool retained)>
            message;
        // A message of quality 1 was acknowledged (quality 0: written out).
        std::function<void(int messageId)> delivered;
    };

    // Raises std::runtime_error when the settings are refused (a TLS file
    // libmosquitto cannot use, for one).
    MqttClient(const ClientSettings &settings, Callbacks callbacks);
    ~MqttClient();
    MqttClient(const MqttClient &) = delete;
    MqttClient &operator=(const MqttClient &) = delete;

    // Starts connecting without waiting for the broker. False when that
    // failed at once, with the reason in `why`.
    bool connect(std::string &why);
    void disconnect();

    int socket() const;  // -1 while there is no connection
    bool wantWrite() const;
    void readable();
    void writable();
    void housekeeping();

    struct Sent {
        int messageId = 0;
        bool ok = false;  // false: the connection failed while it was written
    };
    Sent publish(const std::string &topic, std::string_view payload, int qos, bool retain);
    bool subscribe(const std::string &filter, int qos);
    bool unsubscribe(const std::string &filter);

  private:
    static void onConnect(mosquitto *, void *self, int result);
    static void onDisconnect(mosquitto *, void *self, int result);
    static void onMessage(mosquitto *, void *self, const mosquitto_message *message);
    static void onPublish(mosquitto *, void *self, int messageId);
    static void onLog(mosquitto *, void *self, int level, const char *text);
    std::string describe(int result) const;
    void closedIfFailed(const std::function<int()> &step);

    const ClientSettings settings_;
    Callbacks callbacks_;
    mosquitto *handle_ = nullptr;
    std::string lastError_;  // the last error libmosquitto logged (TLS failures say why there)
    bool disconnectReported_ = false;
};

}  // namespace lyx::cli
