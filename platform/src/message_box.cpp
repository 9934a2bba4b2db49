// LyxMessageBox: the host installs how a box is shown; without a host the text
// goes to standard error as one line.

#include <cstdio>
#include <mutex>
#include <string>

#include "LyxPlatform.h"

namespace {

struct HandlerSlot {
    std::mutex lock;
    LyxMessageBoxHandler handler = nullptr;
    void *context = nullptr;
};

HandlerSlot &slot() {
    static HandlerSlot instance;
    return instance;
}

// One line on stderr: line breaks of the text become blanks.
std::string oneLine(const char *text) {
    std::string line = text != nullptr ? text : "";
    for (char &c : line) {
        if (c == '\r' || c == '\n') c = ' ';
    }
    return line;
}

}  // namespace

extern "C" void LyxSetMessageBoxHandler(LyxMessageBoxHandler handler, void *context) {
    std::lock_guard guard(slot().lock);
    slot().handler = handler;
    slot().context = context;
}

extern "C" int LyxMessageBox(const char *text, const char *caption, uint32_t flags) {
    LyxMessageBoxHandler handler;
    void *context;
    {
        std::lock_guard guard(slot().lock);
        handler = slot().handler;
        context = slot().context;
    }
    if (handler != nullptr) {
        return handler(context, text != nullptr ? text : "", caption != nullptr ? caption : "",
                       flags);
    }
    std::fprintf(stderr, "%s: %s\n", oneLine(caption).c_str(), oneLine(text).c_str());
    return LYX_IDOK;
}
