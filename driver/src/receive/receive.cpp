// The receive engine: appending to the ring, the frame processor and its
// thread, the mailbox, and the hand-over of frames to the application.
//
// The processor sleeps on a condition variable and is woken by every append, by
// the mailbox being emptied, by the ring being cleared and by an exchange
// starting. Once awake it takes every complete frame before it sleeps again.

#include <algorithm>

#include "driver.hpp"
#include "lyx/link/synchroniser.hpp"

namespace lyx::drv {

namespace {
constexpr std::uint8_t kBindReply = 20;
}

void Driver::wakeProcessor() {
    wakePending_ = true;
    rxWake_.notify_one();
}

void Driver::RXAPPEND(std::span<const std::uint8_t> bytes) {
    if (bytes.empty()) return;
    std::lock_guard guard(rxLock);
    droppedBytes += rxRing.append(bytes);
    wakeProcessor();
}

void Driver::RXAPPENDWAIT(std::span<const std::uint8_t> bytes, std::stop_token stop) {
    if (bytes.empty()) return;
    std::unique_lock guard(rxLock);
    const auto need = std::min<std::size_t>(bytes.size(), RxRing::kCapacity);
    ++roomWaiters_;
    roomInRing_.wait(guard, stop, [&] { return rxRing.freeSpace() >= need; });
    --roomWaiters_;
    if (stop.stop_requested()) return;
    droppedBytes += rxRing.append(bytes);
    wakeProcessor();
}

void Driver::ringSpaceFreed() {
    if (roomWaiters_ > 0) roomInRing_.notify_all();
}

void Driver::processorLoop(std::stop_token stop) {
    std::unique_lock guard(rxLock);
    while (!stop.stop_requested()) {
        wakePending_ = false;
        while (!stop.stop_requested() && PROCESSRX(stop)) {
        }
        processorIdle_ = true;
        processorIdleChanged_.notify_all();
        rxWake_.wait(guard, stop, [this] { return wakePending_; });
        processorIdle_ = false;
    }
    processorIdle_ = true;
    processorIdleChanged_.notify_all();
}

bool Driver::waitUntilIdle(std::chrono::milliseconds timeout) {
    std::unique_lock guard(rxLock);
    return processorIdleChanged_.wait_for(guard, timeout,
                                          [this] { return processorIdle_ && !wakePending_; });
}

bool Driver::PROCESSRX(std::stop_token stop) {
    if (rxBusy) return false;
    rxBusy = true;
    const bool exchangeWaiting = !awaitCodes.empty() && replyFrame.empty();
    if (mailboxFull && !exchangeWaiting) {
        rxBusy = false;
        return false;
    }

    link::SyncResult found = link::findFrame(rxRing.heldBytes());
    rxRing.discard(static_cast<std::uint32_t>(found.discard));
    if (found.frameLength == 0) {
        if (found.discard > 0) ringSpaceFreed();
        rxBusy = false;
        return false;
    }
    mailbox = rxRing.take(static_cast<std::uint32_t>(found.frameLength));
    rxRing.discardZeros();
    ringSpaceFreed();
    const std::uint8_t code = link::typeCode(mailbox[3]);

    if (exchangeWaiting) {
        lastReplyCode = code;
        bool codeMatches =
            std::find(awaitCodes.begin(), awaitCodes.end(), code) != awaitCodes.end();
        bool addressMatches =
            awaitAddress.empty() ||
            (mailbox.size() >= 4 + awaitAddress.size() &&
             std::equal(awaitAddress.begin(), awaitAddress.end(), mailbox.begin() + 4));
        if (codeMatches && addressMatches) {
            replyFrame = mailbox;
            awaitCodes.clear();
            replyArrived_.notify_all();
        }
        // Anything else that arrives during an exchange is dropped.
        rxBusy = false;
        return true;
    }

    // A bind reply completes a pending asynchronous bind, and is delivered too.
    // Only a reply long enough to carry an ID and a value counts. The deadline
    // is taken with a compare-and-swap, so a poll that finds it passed at the
    // same moment cannot also report a time-out.
    double deadline = bindDeadline.load();
    if (deadline != 0.0 && code == kBindReply && mailbox.size() >= 11 &&
        bindDeadline.compare_exchange_strong(deadline, 0.0)) {
        bindId = (mailbox[4] << 16) | (mailbox[5] << 8) | mailbox[6];
        bindValue = (mailbox[7] << 8) | mailbox[8];
        bindStatus = 0;
    }

    mailboxFull = 1;
    if (callbackAddress.load() > 1) {
        deliveryFrame = mailbox;
        deliveryLength = static_cast<std::int32_t>(deliveryFrame.size());
        WindowHandle window = notifyWindow.load();
        if (window != 0 && !commandBusy) {
            inCallback = 1;
            // Checked again after inCallback is raised: a command export raises
            // commandBusy and then reads inCallback, so one of the two sides
            // always sees the other and no exchange waits behind a hand-over.
            if (!commandBusy) {
                std::intptr_t callback = callbackAddress.load();
                rxLock.unlock();
                platform::sendMessage(window, kWmDrvFrame, static_cast<std::uintptr_t>(callback), 1,
                                      stop);
                rxLock.lock();
            }
            inCallback = 0;
        }
        mailboxFull = 0;
    }
    rxBusy = false;
    return true;
}

void Driver::deliver() {
    if (stopWorkers || commandBusy) return;
    std::intptr_t callback = callbackAddress.load();
    if (callback <= 1) return;
    const std::uint8_t *frame = deliveryFrame.data();
    std::int32_t length = deliveryLength;
    std::int32_t instance = instanceNumber.load();
    if (instance != 0) {
        reinterpret_cast<LyxFrameCallback3>(callback)(&frame, &length, &instance);
    } else {
        reinterpret_cast<LyxFrameCallback2>(callback)(&frame, &length);
    }
}

LyxBStr Driver::getNextPacket() {
    std::lock_guard guard(rxLock);
    LyxBStr packet = nullptr;
    if (!mailbox.empty()) {
        packet = SysAllocStringByteLen(mailbox.data(), static_cast<std::uint32_t>(mailbox.size()));
    }
    mailbox.clear();
    mailboxFull = 0;
    // In polling mode the next frame is taken at once, so ANYINQUEUE tells the
    // truth right after this call; no hand-over can happen in that mode.
    if (callbackAddress.load() <= 1) PROCESSRX();
    wakeProcessor();
    return packet;
}

void Driver::clearBuffers() {
    std::lock_guard guard(rxLock);
    rxRing.clear();
    ringSpaceFreed();
    wakeProcessor();
}

}  // namespace lyx::drv
