#include "mqtt_client.hpp"

#include <mosquitto.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace lyx::cli {

namespace {

// An encrypted private key would make OpenSSL prompt on the terminal; none is
// given, so such a key is refused instead.
int noKeyPassword(char *, int, int, void *) {
    return 0;
}

// OpenSSL's reason from a line such as
// "OpenSSL Error[0]: error:0A000086:SSL routines::certificate verify failed".
std::string tlsReason(const std::string &logged) {
    if (const auto at = logged.rfind("::"); at != std::string::npos) return logged.substr(at + 2);
    if (const auto at = logged.rfind(": "); at != std::string::npos) return logged.substr(at + 2);
    return logged;
}

}  // namespace

MqttClient::MqttClient(const ClientSettings &settings, Callbacks callbacks)
    : settings_(settings), callbacks_(std::move(callbacks)) {
    // Counted by libmosquitto, so every client may make the call.
    mosquitto_lib_init();
    handle_ = mosquitto_new(settings_.clientId.c_str(), true, this);
    if (handle_ == nullptr) {
        mosquitto_lib_cleanup();
        throw std::runtime_error(std::string("cannot make an MQTT client: ") +
                                 std::strerror(errno));
    }
    const auto fail = [&](const std::string &what, int result) {
        mosquitto_destroy(handle_);
        mosquitto_lib_cleanup();
        throw std::runtime_error(what + ": " + mosquitto_strerror(result));
    };
    mosquitto_int_option(handle_, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
    mosquitto_int_option(handle_, MOSQ_OPT_TCP_NODELAY, 1);
    // The caller keeps its own window of unacknowledged messages.
    mosquitto_max_inflight_messages_set(handle_, 0);
    mosquitto_connect_callback_set(handle_, onConnect);
    mosquitto_disconnect_callback_set(handle_, onDisconnect);
    mosquitto_message_callback_set(handle_, onMessage);
    mosquitto_publish_callback_set(handle_, onPublish);
    mosquitto_log_callback_set(handle_, onLog);
    const auto &will = settings_.will;
    if (!will.topic.empty()) {
        const int result =
            mosquitto_will_set(handle_, will.topic.c_str(), static_cast<int>(will.payload.size()),
                               will.payload.data(), will.qos, will.retain);
        if (result != MOSQ_ERR_SUCCESS) fail("cannot set the last will", result);
    }
    if (settings_.username) {
        const int result =
            mosquitto_username_pw_set(handle_, settings_.username->c_str(),
                                      settings_.password ? settings_.password->c_str() : nullptr);
        if (result != MOSQ_ERR_SUCCESS) fail("cannot set the user name", result);
    }
    if (settings_.broker.tls) {
        int result = MOSQ_ERR_SUCCESS;
        if (settings_.caFile.empty()) {
            result = mosquitto_int_option(handle_, MOSQ_OPT_TLS_USE_OS_CERTS, 1);
        } else {
            const auto file = [](const std::string &s) { return s.empty() ? nullptr : s.c_str(); };
            result =
                mosquitto_tls_set(handle_, settings_.caFile.c_str(), nullptr,
                                  file(settings_.certFile), file(settings_.keyFile), noKeyPassword);
        }
        if (result != MOSQ_ERR_SUCCESS) fail("cannot use the TLS settings", result);
    }
}

MqttClient::~MqttClient() {
    mosquitto_destroy(handle_);
    mosquitto_lib_cleanup();
}

bool MqttClient::connect(std::string &why) {
    lastError_.clear();
    const int result = mosquitto_connect_async(handle_, settings_.broker.host.c_str(),
                                               settings_.broker.port, settings_.keepAliveSeconds);
    if (result == MOSQ_ERR_SUCCESS) return true;
    why = describe(result);
    return false;
}

void MqttClient::disconnect() {
    mosquitto_disconnect(handle_);
}

int MqttClient::socket() const {
    return mosquitto_socket(handle_);
}

bool MqttClient::wantWrite() const {
    return mosquitto_want_write(handle_);
}

void MqttClient::readable() {
    closedIfFailed([this] { return mosquitto_loop_read(handle_, 1); });
}

void MqttClient::writable() {
    closedIfFailed([this] { return mosquitto_loop_write(handle_, 1); });
}

void MqttClient::housekeeping() {
    closedIfFailed([this] { return mosquitto_loop_misc(handle_); });
}

void MqttClient::closedIfFailed(const std::function<int()> &step) {
    disconnectReported_ = false;
    const int result = step();
    // A failed TLS handshake closes the socket without a disconnect callback.
    if (result != MOSQ_ERR_SUCCESS && !disconnectReported_ && mosquitto_socket(handle_) < 0 &&
        callbacks_.disconnected)
        callbacks_.disconnected(describe(result));
}

MqttClient::Sent MqttClient::publish(const std::string &topic, std::string_view payload, int qos,
                                     bool retain) {
    Sent sent;
    const int result =
        mosquitto_publish(handle_, &sent.messageId, topic.c_str(), static_cast<int>(payload.size()),
                          payload.data(), qos, retain);
    sent.ok = result == MOSQ_ERR_SUCCESS;
    return sent;
}

bool MqttClient::subscribe(const std::string &filter, int qos) {
    return mosquitto_subscribe(handle_, nullptr, filter.c_str(), qos) == MOSQ_ERR_SUCCESS;
}

bool MqttClient::unsubscribe(const std::string &filter) {
    return mosquitto_unsubscribe(handle_, nullptr, filter.c_str()) == MOSQ_ERR_SUCCESS;
}

std::string MqttClient::describe(int result) const {
    if (result == MOSQ_ERR_ERRNO) return std::strerror(errno);
    if (result == MOSQ_ERR_TLS || (!lastError_.empty() && lastError_.rfind("OpenSSL", 0) == 0)) {
        std::string why = "the TLS handshake failed";
        if (!lastError_.empty()) why += ": " + tlsReason(lastError_);
        if (lastError_.find("certificate verify failed") != std::string::npos)
            why +=
                " (is the broker's certificate signed by the CA of --tls-ca, and made out "
                "to the host name or address of --broker?)";
        return why;
    }
    if (result == MOSQ_ERR_EAI) return "the host name cannot be resolved";
    std::string text = mosquitto_strerror(result);
    if (!text.empty() && text.back() == '.') text.pop_back();
    return text;
}

void MqttClient::onConnect(mosquitto *, void *self, int result) {
    auto *client = static_cast<MqttClient *>(self);
    std::string why;
    if (result != 0) {
        why = mosquitto_connack_string(result);
        if (!why.empty() && why.back() == '.') why.pop_back();
    }
    if (client->callbacks_.connected) client->callbacks_.connected(result, why);
}

void MqttClient::onDisconnect(mosquitto *, void *self, int result) {
    auto *client = static_cast<MqttClient *>(self);
    client->disconnectReported_ = true;
    if (client->callbacks_.disconnected)
        client->callbacks_.disconnected(result == 0 ? std::string() : client->describe(result));
}

void MqttClient::onMessage(mosquitto *, void *self, const mosquitto_message *message) {
    auto *client = static_cast<MqttClient *>(self);
    if (!client->callbacks_.message || message->topic == nullptr) return;
    const std::string_view payload(
        static_cast<const char *>(message->payload),
        message->payload == nullptr ? 0 : static_cast<std::size_t>(message->payloadlen));
    client->callbacks_.message(message->topic, payload, message->retain);
}

void MqttClient::onPublish(mosquitto *, void *self, int messageId) {
    auto *client = static_cast<MqttClient *>(self);
    if (client->callbacks_.delivered) client->callbacks_.delivered(messageId);
}

void MqttClient::onLog(mosquitto *, void *self, int level, const char *text) {
    if (level == MOSQ_LOG_ERR && text != nullptr)
        static_cast<MqttClient *>(self)->lastError_ = text;
}

}  // namespace lyx::cli
