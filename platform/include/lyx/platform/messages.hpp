// Windows and thread message queues.
//
// A window is a handler owned by the thread that created it, with a title that
// findWindow looks up anywhere in the process. Messages to a window are
// dispatched on its owner thread when that thread pumps (LyxPumpMessages, or
// its event loop watching LyxMessageFd). A thread's windows are destroyed when
// the thread ends.
//
// Every function may be called from any thread. A handler may create, destroy,
// send and pump re-entrantly.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <stop_token>
#include <string>
#include <string_view>

#include "LyxPlatform.h"

namespace lyx::platform {

using WindowHandle = std::intptr_t;  // 0 is no window

// Message numbers that mean the same here as on the system the design comes from.
inline constexpr std::uint32_t kWmClose = 0x0010;
inline constexpr std::uint32_t kWmDeviceChange = 0x0219;
inline constexpr std::uint32_t kWmUser = 0x0400;

using MessageHandler = std::function<std::intptr_t(WindowHandle window, std::uint32_t message,
                                                   std::uintptr_t wParam, std::intptr_t lParam)>;

// The kernel's ID of the calling thread.
LYX_PLATFORM_API std::int32_t currentThreadId();

// Creates a window owned by the calling thread; 0 when the thread's message
// queue cannot be made.
LYX_PLATFORM_API WindowHandle createWindow(std::string title, MessageHandler handler);

// Destroys a window: it is no longer found, nothing more is dispatched to it, and
// senders still waiting for it return without a result. False when no such window.
LYX_PLATFORM_API bool destroyWindow(WindowHandle window);

LYX_PLATFORM_API bool isWindow(WindowHandle window);

// The window with exactly this title (the oldest, if several have it), or 0.
LYX_PLATFORM_API WindowHandle findWindow(std::string_view title);

// The kernel thread ID of the window's owner, or 0.
LYX_PLATFORM_API std::int32_t windowThreadId(WindowHandle window);

// Sends a message and returns the handler's result. From the owner thread the
// handler is called directly. From another thread the message is queued and the
// call blocks until the owner has dispatched it. Without a result when the window
// does not exist or is destroyed before dispatch, when the owner thread ends, or
// when `stop` is requested; a message given up before dispatch is never
// dispatched.
LYX_PLATFORM_API std::optional<std::intptr_t> sendMessage(WindowHandle window,
                                                          std::uint32_t message,
                                                          std::uintptr_t wParam,
                                                          std::intptr_t lParam,
                                                          std::stop_token stop = {});

// Queues a message for the window's owner thread and returns at once; false when
// the window does not exist.
LYX_PLATFORM_API bool postMessage(WindowHandle window, std::uint32_t message, std::uintptr_t wParam,
                                  std::intptr_t lParam);

// The calling thread's message descriptor and pump; see LyxPlatform.h.
LYX_PLATFORM_API int messageFd();
LYX_PLATFORM_API int pumpMessages();

// Waits until the calling thread has a message or `timeoutMs` (negative: no
// limit) has passed; true when a message waits.
LYX_PLATFORM_API bool waitForMessages(int timeoutMs);

}  // namespace lyx::platform
