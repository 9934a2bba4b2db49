// Load and unload, opening and closing links, the notification window.

#include "driver.hpp"

#include "lyx/platform/clock.hpp"
#include "ports/port_names.hpp"
#include "ports/serial_transport.hpp"
#include "ports/usb_transport.hpp"

namespace lyx::drv {

namespace {

// A number as the window title writes it: a leading blank for
// zero and positive numbers, the minus sign for negative ones.
std::string numberText(std::int64_t n) {
    std::string text = std::to_string(n);
    if (n >= 0) text.insert(text.begin(), ' ');
    return text;
}

constexpr const char *kWindowFailure = "Cannot create callback handler window!";

}  // namespace

std::string notifyWindowTitle(std::int32_t threadId, std::int32_t instance) {
    return "LyxDrv" + numberText(threadId) + "-" + numberText(instance);
}

Driver::Driver() = default;

Driver::~Driver() {
    closePort();
    std::lock_guard guard(windowsLock_);
    for (const OwnWindow &window : ownWindows_)
        platform::destroyWindow(window.handle);
    ownWindows_.clear();
}

// A change between callback and polling mode hands the frames held so far over
// the new way.
void Driver::initialise(std::intptr_t callback) {
    callbackAddress = callback;
    thenHandOver([this] { return handOver(); });
}

void Driver::initialiseMulti(std::intptr_t callback, std::int32_t instance) {
    instanceNumber = instance;
    initialise(callback);
}

WindowHandle Driver::findOwnWindow(const std::string &title) {
    std::lock_guard guard(windowsLock_);
    for (const OwnWindow &window : ownWindows_) {
        if (window.title == title && platform::isWindow(window.handle)) return window.handle;
    }
    return 0;
}

WindowHandle Driver::createCallbackWindow(std::int32_t threadId) {
    std::string title = notifyWindowTitle(threadId, instanceNumber.load());
    WindowHandle window = platform::createWindow(
        title, [this](WindowHandle w, std::uint32_t m, std::uintptr_t wp, std::intptr_t lp) {
            return windowProc(w, m, wp, lp);
        });
    if (window != 0) {
        std::lock_guard guard(windowsLock_);
        ownWindows_.push_back({window, title});
    }
    return window;
}

std::intptr_t Driver::windowProc(WindowHandle window, std::uint32_t message, std::uintptr_t wParam,
                                 std::intptr_t) {
    switch (message) {
        case kWmDrvFrame:
            deliverHeld(window);
            break;
        case platform::kWmDeviceChange:
            if (wParam == kDeviceArrival || wParam == kDeviceRemoveComplete) {
                if (auto transport = currentTransport()) transport->enumerate();
            }
            break;
        case platform::kWmClose:
            platform::destroyWindow(window);
            break;
        default:
            break;
    }
    return 0;
}

std::shared_ptr<LinkTransport> Driver::currentTransport() const {
    std::lock_guard guard(transportLock_);
    return transport_;
}

bool Driver::STARTWORKERS() {
    std::int32_t thread = platform::currentThreadId();
    // Only a window of this copy is reused: another copy's window with the
    // same title (an object closed but not yet released, whose instance number
    // came round again) would hand over that copy's frames, not this one's.
    WindowHandle window = findOwnWindow(notifyWindowTitle(thread, instanceNumber.load()));
    if (window == 0) window = createCallbackWindow(thread);
    if (window == 0) {
        LyxMessageBox(kWindowFailure, "LyxDrv", LYX_MB_OK | LYX_MB_TASKMODAL);
        return false;
    }
    notifyWindow = window;

    std::shared_ptr<LinkTransport> transport = currentTransport();
    thenHandOver([this] {
        processing_ = true;
        handOverPosted_ = false;   // one posted to an earlier window is gone with it
        return processReceived();  // whatever the ring already holds
    });
    if (transport) {
        LinkTransport::Receiver receiver;
        if (usbMode) {
            receiver = [this](std::span<const std::uint8_t> bytes) { RXAPPEND(bytes); };
        } else {
            receiver = [this, stop = linkStop_.get_token()](std::span<const std::uint8_t> bytes) {
                RXAPPENDWAIT(bytes, stop);
            };
        }
        transport->start(std::move(receiver), [this] {
            platform::postMessage(notifyWindow.load(), platform::kWmDeviceChange, kDeviceArrival,
                                  0);
        });
    }
    return true;
}

bool Driver::openLink(std::shared_ptr<LinkTransport> transport, bool usb) {
    std::lock_guard guard(linkLock);
    usbMode = usb;
    // Whatever link is open is closed first: one copy of the driver serves one
    // link, and two sets of readers must never feed the same ring.
    stopWorkersAndTransport();
    serialOpen = usbOpen = false;
    stopWorkers = false;
    linkStop_ = std::stop_source();
    {
        std::lock_guard t(transportLock_);
        transport_ = std::move(transport);
    }
    bool started = STARTWORKERS();
    if (usb) {
        usbOpen = true;
    } else {
        serialOpen = true;
    }
    return started;
}

bool Driver::stopWorkersAndTransport() {
    stopWorkers = true;
    {
        std::lock_guard guard(rxLock);
        processing_ = false;  // bytes that still come wait in the ring for the next open
    }
    linkStop_.request_stop();
    bool closed = true;
    if (auto transport = currentTransport()) closed = transport->stop();
    return closed;
}

std::int32_t Driver::closeLinkLocked() {
    if (!serialOpen && !usbOpen) return 0;
    if (!stopWorkersAndTransport()) return -2;
    serialOpen = usbOpen = false;
    return 0;
}

std::int32_t Driver::closePort() {
    std::lock_guard guard(linkLock);
    return closeLinkLocked();
}

std::int32_t Driver::openPort(std::int16_t port, std::int32_t baudRate) {
    {
        std::lock_guard guard(linkLock);
        usbMode = false;
        if (serialOpen) closeLinkLocked();
    }
    auto opened = SerialTransport::open(serialDevicePath(port), baudRate);
    if (opened.code != SerialTransport::kOpened) return opened.code;
    openLink(std::move(opened.transport), false);
    return 0;
}

std::int32_t Driver::openUsb() {
    auto transport = std::make_shared<UsbTransport>(makeHidBus());
    openLink(transport, true);
    transport->enumerate();
    return 0;
}

void Driver::enumUsb() {
    platform::pumpMessages();
}

float Driver::readRevision(std::uint8_t slot) const {
    if (slot < 1 || slot >= kUsbSlots) return 0.0f;
    auto transport = currentTransport();
    return transport ? transport->revision(slot) : 0.0f;
}

}  // namespace lyx::drv

namespace lyx::drv {

Driver &driver() {
    static Driver instance;
    return instance;
}

}  // namespace lyx::drv
