// The state of one loaded copy of the driver and the routines that work on it.
//
// The fields are public so that the command exports and the tests can reach
// them; the locking rules are given beside each group. rxLock guards the ring,
// the held frames, the mailbox, the reply-wait fields and the counters; the
// flags shared with other threads are atomics written by one side and read by
// the other.
//
// Delivery: the frame processor takes every complete frame from the ring; a
// reply that an exchange waits for goes to that exchange, every other frame to
// the held frames. In callback mode one posted WM_DRVFRAME makes the opening
// thread call the callback for every held frame, in order, one at a time, never
// while a command runs; in polling mode the oldest held frame waits in the
// mailbox for GETNEXTPACKET. Nothing is dropped unless the held frames reach
// their bound, and what is dropped is counted.
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
#include "receive/frame_store.hpp"
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
    std::int32_t anyInQueue();
    void clearBuffers();
    // The link's counters and the base stations on it (LyxDrvGetLinkStatistics).
    LyxDrvLinkStatistics statistics();

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
    // Appends received bytes to the ring (overflow rule of RxRing) and, while the
    // link runs, processes them at once.
    void RXAPPEND(std::span<const std::uint8_t> bytes);
    // For serial readers: waits until the ring has room for the chunk instead of
    // dropping unprocessed bytes (the line's own buffer holds what follows), or
    // until `stop` is raised, which drops the chunk.
    void RXAPPENDWAIT(std::span<const std::uint8_t> bytes, std::stop_token stop);
    // Takes at most one frame from the ring and gives it to the waiting exchange
    // or to the held frames; rxLock must be held. True when a frame was taken (so
    // there may be more).
    bool PROCESSRX();
    // Called by a command export when its exchange is over: the frames held
    // meanwhile go to the callback now.
    void commandFinished();
    // Waits until no processing pass runs, so that everything appended so far
    // has been taken. For tests and benchmarks.
    void waitUntilIdle();

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
    FrameStore held;  // taken from the ring, not yet delivered

    // What the link lost or kept since this copy was loaded.
    struct Counters {
        std::uint64_t framesDelivered = 0;  // to the callback, or by GETNEXTPACKET
        std::uint64_t framesDropped = 0;    // forced out of the held frames by their bound
        std::uint64_t heldMax = 0;          // the most frames held at once
        std::uint64_t bytesDropped = 0;     // lost to ring overflow
        std::uint64_t bytesDiscarded = 0;   // not part of a good frame (fill bytes aside)
    } counters;

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
    // WM_DRVFRAME on the opening thread: calls the callback for the frames held.
    void deliverHeld(WindowHandle window);
    // After frames were taken: fills the mailbox (polling mode), or in callback
    // mode tells whether a hand-over to the opening thread is due now and marks
    // it posted. rxLock held; the caller posts it after letting go of rxLock.
    [[nodiscard]] bool handOver();
    void postHandOver();  // rxLock not held
    // Runs `step` under rxLock and posts the hand-over it asks for (its result,
    // as handOver's) once the lock is let go.
    template <class Step>
    void thenHandOver(Step step) {
        bool post = false;
        {
            std::lock_guard guard(rxLock);
            post = step();
        }
        if (post) postHandOver();
    }
    void refillMailbox();  // rxLock held
    // Takes every complete frame and hands them over, while the link runs;
    // rxLock held. True when a hand-over is to be posted (see handOver).
    [[nodiscard]] bool processReceived();
    std::shared_ptr<LinkTransport> currentTransport() const;
    bool stopWorkersAndTransport();
    std::int32_t closeLinkLocked();  // linkLock held

    std::condition_variable_any replyArrived_;  // an exchange waits here
    std::condition_variable_any roomInRing_;    // a serial reader waits here
    int roomWaiters_ = 0;
    void ringSpaceFreed();  // rxLock held
    std::stop_source linkStop_;
    bool processing_ = false;              // the link runs: appends are processed at once; rxLock
    bool handOverPosted_ = false;          // a WM_DRVFRAME is on its way; rxLock
    std::atomic<bool> delivering_{false};  // the opening thread is in deliverHeld

    mutable std::mutex transportLock_;
    std::shared_ptr<LinkTransport> transport_;

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
