// Records the message boxes shown through LyxMessageBox while it exists.
#pragma once

#include <string>
#include <vector>

#include "LyxPlatform.h"

namespace lyx::dataprovider::testing {

struct MessageBoxRecord {
    std::string text;
    std::string caption;
    std::uint32_t flags;
};

class MessageBoxes {
  public:
    MessageBoxes() { LyxSetMessageBoxHandler(&MessageBoxes::record, this); }
    ~MessageBoxes() { LyxSetMessageBoxHandler(nullptr, nullptr); }
    MessageBoxes(const MessageBoxes &) = delete;
    MessageBoxes &operator=(const MessageBoxes &) = delete;

    std::vector<MessageBoxRecord> shown;

  private:
    static int record(void *context, const char *text, const char *caption, std::uint32_t flags) {
        static_cast<MessageBoxes *>(context)->shown.push_back({text, caption, flags});
        return LYX_IDOK;
    }
};

}  // namespace lyx::dataprovider::testing
