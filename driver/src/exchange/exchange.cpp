// The transmit path and the request/reply exchange.

#include <chrono>

#include "driver.hpp"
#include "exchange/reply_table.hpp"
#include "lyx/platform/clock.hpp"

namespace lyx::drv {

ReplyRule replyRuleFor(std::span<const std::uint8_t> payload) {
    ReplyRule rule;
    if (payload.empty()) return rule;
    switch (payload[0]) {
        case 5:
        case 6:
            rule.codes = {7, 8, 9, 10};
            rule.matchAddress = true;
            break;
        case 11:
        case 12:
            rule.codes = {13, 14, 15, 16};
            rule.matchAddress = true;
            break;
        case 21:
        case 22:
            rule.codes = {23, 24};
            break;
        case 19:
            rule.codes = {20};
            break;
        default:
            break;
    }
    // The reply must carry the device ID of the request (payload bytes 1 to 3).
    if (rule.matchAddress && payload.size() >= 4)
        rule.address.assign(payload.begin() + 1, payload.begin() + 4);
    return rule;
}

Bytes Driver::SENDCOMMAND(std::uint8_t address, std::span<const std::uint8_t> payload,
                          std::int32_t timeoutMs) {
    const Bytes frame = link::buildFrame(address, payload);
    // A send that does not wait awaits nothing: armed for the moment between
    // the write and the return, the exchange would take a quick reply (or any
    // frame) away from the application and drop it.
    const ReplyRule rule = timeoutMs > 0 ? replyRuleFor(payload) : ReplyRule{};
    {
        std::lock_guard guard(rxLock);
        replyFrame.clear();
        lastReplyCode = 0;
        awaitCodes = rule.codes;
        awaitAddress = rule.address;
    }

    if (!frame.empty()) {
        if (auto transport = currentTransport()) transport->send(address, frame);
    }

    std::unique_lock guard(rxLock);
    if (timeoutMs > 0) {
        auto deadline = platform::MonotonicClock::now() + std::chrono::milliseconds(timeoutMs);
        replyArrived_.wait_until(guard, deadline, [this] { return !replyFrame.empty(); });
    }
    Bytes result = replyFrame;
    awaitCodes.clear();
    return result;
}

}  // namespace lyx::drv
