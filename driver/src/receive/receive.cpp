// The receive engine: appending to the ring, the frame processor and its
// thread, the held frames, the mailbox, and the hand-over of frames to the
// application.
//
// The frame processor runs where the bytes arrive: right after a reader has
// appended them, under rxLock, it takes every complete frame and then hands over
// what it took in one step: one posted message to the opening thread in callback
// mode (none while one is still on its way), the mailbox in polling mode. So a
// frame costs no thread switch before its hand-over, and the processor never
// waits for the application: a busy opening thread or a running command holds
// frames back but never stops reception.
// There is no thread of the processor's own: a reader thread (or the thread
// that opens the link, for what the ring held before) runs it, and an open link
// without traffic costs nothing.

#include <algorithm>

#include "driver.hpp"
#include "lyx/link/synchroniser.hpp"

namespace lyx::drv {

namespace {
constexpr std::uint8_t kBindReply = 20;

// Bytes among the first `count` held that are not fill (zero) bytes.
std::uint64_t nonFillBytes(const link::HeldBytes &bytes, std::size_t count) {
    std::uint64_t n = 0;
    for (std::size_t i = 0; i < count; ++i)
        n += bytes[i] != 0 ? 1 : 0;
    return n;
}
}  // namespace

bool Driver::processReceived() {
    if (!processing_) return false;
    while (PROCESSRX()) {
    }
    return handOver();
}

void Driver::RXAPPEND(std::span<const std::uint8_t> bytes) {
    if (bytes.empty()) return;
    thenHandOver([&] {
        counters.bytesDropped += rxRing.append(bytes);
        return processReceived();
    });
}

void Driver::RXAPPENDWAIT(std::span<const std::uint8_t> bytes, std::stop_token stop) {
    if (bytes.empty()) return;
    std::unique_lock guard(rxLock);
    const auto need = std::min<std::size_t>(bytes.size(), RxRing::kCapacity);
    ++roomWaiters_;
    roomInRing_.wait(guard, stop, [&] { return rxRing.freeSpace() >= need; });
    --roomWaiters_;
    if (stop.stop_requested()) return;
    counters.bytesDropped += rxRing.append(bytes);
    const bool post = processReceived();
    guard.unlock();
    if (post) postHandOver();
}

void Driver::ringSpaceFreed() {
    if (roomWaiters_ > 0) roomInRing_.notify_all();
}

void Driver::waitUntilIdle() {
    // Frames are processed under rxLock as they are appended: once the lock is
    // had, no pass runs.
    std::lock_guard guard(rxLock);
}

bool Driver::PROCESSRX() {
    if (rxBusy) return false;
    rxBusy = true;

    link::HeldBytes bytes = rxRing.heldBytes();
    link::SyncResult found = link::findFrame(bytes);
    if (found.discard > 0) {
        counters.bytesDiscarded += nonFillBytes(bytes, found.discard);
        rxRing.discard(static_cast<std::uint32_t>(found.discard));
    }
    if (found.frameLength == 0) {
        if (found.discard > 0) ringSpaceFreed();
        rxBusy = false;
        return false;
    }
    Bytes frame = rxRing.take(static_cast<std::uint32_t>(found.frameLength));
    rxRing.discardZeros();
    ringSpaceFreed();
    const std::uint8_t code = link::typeCode(frame[3]);

    if (!awaitCodes.empty() && replyFrame.empty()) {
        lastReplyCode = code;
        bool codeMatches =
            std::find(awaitCodes.begin(), awaitCodes.end(), code) != awaitCodes.end();
        bool addressMatches =
            awaitAddress.empty() ||
            (frame.size() >= 4 + awaitAddress.size() &&
             std::equal(awaitAddress.begin(), awaitAddress.end(), frame.begin() + 4));
        if (codeMatches && addressMatches) {
            // The reply goes to the exchange that waits for it and not to the
            // application.
            replyFrame = std::move(frame);
            awaitCodes.clear();
            replyArrived_.notify_all();
            rxBusy = false;
            return true;
        }
        // Any other frame is held for the application like every frame.
    }

    // A bind reply completes a pending asynchronous bind, and is delivered too.
    // Only a reply long enough to carry an ID and a value counts. The deadline
    // is taken with a compare-and-swap, so a poll that finds it passed at the
    // same moment cannot also report a time-out.
    double deadline = bindDeadline.load();
    if (deadline != 0.0 && code == kBindReply && frame.size() >= 11 &&
        bindDeadline.compare_exchange_strong(deadline, 0.0)) {
        bindId = (frame[4] << 16) | (frame[5] << 8) | frame[6];
        bindValue = (frame[7] << 8) | frame[8];
        bindStatus = 0;
    }

    counters.framesDropped += held.push(frame);
    counters.heldMax = std::max<std::uint64_t>(counters.heldMax, held.size());
    rxBusy = false;
    return true;
}

void Driver::refillMailbox() {
    if (mailboxFull || callbackAddress.load() > 1) return;
    if (held.pop(mailbox)) mailboxFull = 1;
}

bool Driver::handOver() {
    if (callbackAddress.load() <= 1) {
        refillMailbox();
        return false;
    }
    // While a command runs nothing is posted: the command posts when it ends.
    if (handOverPosted_ || held.empty() || commandBusy || stopWorkers) return false;
    handOverPosted_ = true;
    return true;
}

// Posted without rxLock: the opening thread, woken at once, would otherwise
// find the lock still held by the thread that woke it.
void Driver::postHandOver() {
    if (platform::postMessage(notifyWindow.load(), kWmDrvFrame,
                              static_cast<std::uintptr_t>(callbackAddress.load()), 1)) {
        return;
    }
    std::lock_guard guard(rxLock);
    handOverPosted_ = false;
}

void Driver::commandFinished() {
    thenHandOver([this] { return handOver(); });
}

void Driver::deliverHeld(WindowHandle window) {
    // Only the window of the link that is open now delivers; a hand-over posted
    // to the window of an earlier link, on another thread, is stale.
    if (window != notifyWindow.load()) return;
    // A callback that dispatches messages may meet the next hand-over: the loop
    // below delivers those frames after it returns, in order.
    if (delivering_.exchange(true)) return;
    struct Leave {
        Driver &d;
        ~Leave() {
            d.inCallback = 0;
            d.delivering_ = false;
            d.thenHandOver([&] {
                d.handOverPosted_ = false;
                return d.handOver();
            });
        }
    } leave{*this};
    std::size_t budget = 0;
    {
        std::lock_guard guard(rxLock);
        budget = held.size();
    }
    // At most the frames held when the hand-over began, so that the thread's other
    // messages get their turn between batches even under a constant stream.
    for (; budget > 0; --budget) {
        std::intptr_t callback = callbackAddress.load();
        if (stopWorkers || callback <= 1) break;
        // A command export raises commandBusy and then reads inCallback; this
        // side raises inCallback and then reads commandBusy, so one of the two
        // always sees the other: no frame is delivered while a command runs.
        inCallback = 1;
        if (commandBusy) break;
        {
            std::lock_guard guard(rxLock);
            if (!held.pop(deliveryFrame)) break;
            deliveryLength = static_cast<std::int32_t>(deliveryFrame.size());
            mailbox = deliveryFrame;  // GETNEXTPACKET inside the callback returns it
            ++counters.framesDelivered;
        }
        const std::uint8_t *frame = deliveryFrame.data();
        std::int32_t length = deliveryLength;
        std::int32_t instance = instanceNumber.load();
        if (instance != 0) {
            reinterpret_cast<LyxFrameCallback3>(callback)(&frame, &length, &instance);
        } else {
            reinterpret_cast<LyxFrameCallback2>(callback)(&frame, &length);
        }
        inCallback = 0;
    }
}

LyxBStr Driver::getNextPacket() {
    std::lock_guard guard(rxLock);
    const bool polling = callbackAddress.load() <= 1;
    if (polling) refillMailbox();  // frames held before a switch to polling
    LyxBStr packet = nullptr;
    if (!mailbox.empty()) {
        packet = SysAllocStringByteLen(mailbox.data(), static_cast<std::uint32_t>(mailbox.size()));
    }
    if (polling && mailboxFull) ++counters.framesDelivered;
    mailbox.clear();
    mailboxFull = 0;
    // The next frame waits at once, so ANYINQUEUE tells the truth right after
    // this call.
    if (polling) refillMailbox();
    return packet;
}

std::int32_t Driver::anyInQueue() {
    std::lock_guard guard(rxLock);
    if (callbackAddress.load() <= 1) refillMailbox();
    return mailboxFull.load();
}

void Driver::clearBuffers() {
    std::lock_guard guard(rxLock);
    rxRing.clear();
    held.clear();
    if (callbackAddress.load() <= 1) {
        mailbox.clear();
        mailboxFull = 0;
    }
    ringSpaceFreed();
}

LyxDrvLinkStatistics Driver::statistics() {
    LyxDrvLinkStatistics s{};
    s.size = sizeof s;
    if (auto transport = currentTransport()) s.stations = transport->stations();
    std::lock_guard guard(rxLock);
    s.framesDelivered = counters.framesDelivered;
    s.framesHeld = held.size() + (mailboxFull ? 1 : 0);
    s.framesHeldMax = std::max<std::uint64_t>(counters.heldMax, s.framesHeld);
    s.framesDropped = counters.framesDropped;
    s.bytesDropped = counters.bytesDropped;
    s.bytesDiscarded = counters.bytesDiscarded;
    s.heldLimitBytes = held.memoryLimit();
    return s;
}

}  // namespace lyx::drv
