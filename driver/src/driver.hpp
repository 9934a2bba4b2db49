// The state of one loaded copy of the driver and the routines that work on it.
//
// All fields named as in the driver's design documents are public so that the
// command exports and the tests can reach them; the locking rules are given
// beside each group. rxLock guards the ring, the mailbox and the reply-wait
// fields; the flags shared with other threads are atomics written by one side
// and read by the other.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <span>
#include <stop_token>
#include <string>
#include <thread>
#include <vector>

#include "LyxDrv.h"
#include "LyxPlatform.h"
#include "lyx/link/frame.hpp"
#include "lyx/platform/messages.hpp"
#include "ports/transport.hpp"
#include "receive/ring.hpp"

namespace lyx::drv {

using link::Bytes;
using platform::WindowHandle;

inline constexpr std::uint32_t kWmDrvFrame = 0x720;
inline constexpr std::uintptr_t kDeviceArrival = 0x8000;
inline constexpr std::uintptr_t kDeviceRemoveComplete = 0x8004;
inline constexpr float kDriverVersion = 2.7f;
inline constexpr int kUsbSlots = 17;

// The notification window's title for a thread and an instance number:
// "LyxDrv 1234- 1". Numbers are written with a leading blank, or their minus sign.
std::string notifyWindowTitle(std::int32_t threadId, std::int32_t instance);

class Driver {
  public:
    Driver();   // library load
    ~Driver();  // library unload: closes the link and destroys the windows
    Driver(const Driver &) = delete;
    Driver &operator=(const Driver &) = delete;

    // --- receive side (exports) ---
    void initialise(std::intptr_t callback);
    void initialiseMulti(std::intptr_t callback, std::int32_t instance);
    WindowHandle createCallbackWindow(std::int32_t threadId);
    LyxBStr getNextPacket();
    std::int32_t anyInQueue() const { return mailboxFull.load(); }
    void clearBuffers();

    // --- links ---
    // Opens a link over `transport` (the common part of OPENPORT and OPENUSB):
    // closes what is open, starts the workers. Returns STARTWORKERS' result.
    bool openLink(std::shared_ptr<LinkTransport> transport, bool usb);
    // OPENPORT: 0 opened, -1 settings refused, -2 the port cannot be opened.
    std::int32_t openPort(std::int16_t port, std::int32_t baudRate);
    // OPENUSB: opens the USB link and finds the base stations; always 0.
    std::int32_t openUsb();
    // CLOSEPORT: stops the workers and the transport; the ring is kept. -2 when
    // the device could not be closed (the link then still counts as open).
    std::int32_t closePort();
    // ENUMUSB: dispatches the calling thread's waiting messages.
    void enumUsb();

    // --- transmission ---
    // Sends `payload` to `address` and, for commands with replies, waits up to
    // `timeoutMs` for the reply frame; empty when none arrived. The time-out is
    // 32-bit here so that a bind of more than 32 seconds is waited out in full.
    Bytes SENDCOMMAND(std::uint8_t address, std::span<const std::uint8_t> payload,
                      std::int32_t timeoutMs);
    float readRevision(std::uint8_t slot) const;

    // --- internals used across the driver ---
    bool STARTWORKERS();
    // Appends received bytes to the ring (overflow rule of RxRing) and wakes the
    // frame processor.
    void RXAPPEND(std::span<const std::uint8_t> bytes);
    // For serial readers: waits until the ring has room for the chunk instead of
    // dropping unprocessed bytes (the line's own buffer holds what follows), or
    // until `stop` is raised, which drops the chunk.
    void RXAPPENDWAIT(std::span<const std::uint8_t> bytes, std::stop_token stop);
    // Takes at most one frame from the ring; rxLock must be held. True when a
    // frame was taken (so there may be more).
    bool PROCESSRX(std::stop_token stop = {});
    // Waits until the frame processor sleeps with nothing left that it could take
    // (or no processor runs); false on time-out. For tests and benchmarks.
    bool waitUntilIdle(std::chrono::milliseconds timeout);

    // --- state guarded by rxLock ---
    mutable std::recursive_mutex rxLock;
    RxRing rxRing;
    Bytes mailbox;
    Bytes awaitCodes;
    Bytes awaitAddress;
    Bytes replyFrame;
    std::uint8_t lastReplyCode = 0;
    bool rxBusy = false;
    Bytes deliveryFrame;  // handed to the callback; valid until the next delivery
    std::int32_t deliveryLength = 0;
    std::uint64_t droppedBytes = 0;  // bytes lost to ring overflow since load

    // --- flags shared with the worker threads ---
    std::atomic<std::int16_t> mailboxFull{0};
    std::atomic<std::intptr_t> callbackAddress{0};
    std::atomic<std::int32_t> instanceNumber{0};
    std::atomic<WindowHandle> notifyWindow{0};
    std::atomic<std::int16_t> commandBusy{0};
    std::atomic<std::int16_t> inCallback{0};
    std::atomic<bool> stopWorkers{false};

    // --- asynchronous bind ---
    std::atomic<double> bindDeadline{0.0};  // monotonic seconds; 0 when none is pending
    std::atomic<std::int16_t> bindStatus{0};
    std::atomic<std::int32_t> bindId{0};
    std::atomic<std::int32_t> bindValue{0};

    // --- link state, guarded by linkLock ---
    std::mutex linkLock;
    bool usbMode = false;
    bool serialOpen = false;
    bool usbOpen = false;

  private:
    std::intptr_t windowProc(WindowHandle window, std::uint32_t message, std::uintptr_t wParam,
                             std::intptr_t lParam);
    void deliver();
    void processorLoop(std::stop_token stop);
    void wakeProcessor();  // rxLock held
    std::shared_ptr<LinkTransport> currentTransport() const;
    bool stopWorkersAndTransport();
    std::int32_t closeLinkLocked();  // linkLock held

    std::condition_variable_any rxWake_;        // the processor sleeps here
    std::condition_variable_any replyArrived_;  // an exchange waits here
    std::condition_variable_any roomInRing_;    // a serial reader waits here
    int roomWaiters_ = 0;
    void ringSpaceFreed();  // rxLock held
    std::stop_source linkStop_;
    bool wakePending_ = false;
    bool processorIdle_ = true;
    std::condition_variable_any processorIdleChanged_;

    mutable std::mutex transportLock_;
    std::shared_ptr<LinkTransport> transport_;
    std::jthread processor_;

    std::mutex windowsLock_;
    struct OwnWindow {
        WindowHandle handle;
        std::string title;
    };
    std::vector<OwnWindow> ownWindows_;  // every window this copy created
    // This copy's live window with `title`, or 0.
    WindowHandle findOwnWindow(const std::string &title);
};

// The one driver of this loaded copy.
Driver &driver();

}  // namespace lyx::drv
