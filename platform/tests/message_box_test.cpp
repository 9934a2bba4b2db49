#include <gtest/gtest.h>

#include <string>

#include "LyxPlatform.h"

namespace {

struct Seen {
    std::string text, caption;
    uint32_t flags = 0;
    int calls = 0;
};

int record(void *context, const char *text, const char *caption, uint32_t flags) {
    auto *seen = static_cast<Seen *>(context);
    seen->text = text;
    seen->caption = caption;
    seen->flags = flags;
    ++seen->calls;
    return LYX_IDNO;
}

}  // namespace

TEST(MessageBox, InstalledHandlerShowsTheBoxAndAnswers) {
    Seen seen;
    LyxSetMessageBoxHandler(record, &seen);
    int answer = LyxMessageBox("Cannot go on", "Problem", LYX_MB_YESNO | LYX_MB_ICONERROR);
    LyxSetMessageBoxHandler(nullptr, nullptr);
    EXPECT_EQ(answer, LYX_IDNO);
    EXPECT_EQ(seen.calls, 1);
    EXPECT_EQ(seen.text, "Cannot go on");
    EXPECT_EQ(seen.caption, "Problem");
    EXPECT_EQ(seen.flags, uint32_t{LYX_MB_YESNO | LYX_MB_ICONERROR});
}

TEST(MessageBox, WithoutHandlerWritesOneLineToStderrAndAnswersOk) {
    testing::internal::CaptureStderr();
    int answer = LyxMessageBox("first line\r\nsecond line", "Caption", LYX_MB_OK);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(answer, LYX_IDOK);
    EXPECT_EQ(err, "Caption: first line  second line\n");
}

TEST(MessageBox, NullTextsAreShownEmpty) {
    Seen seen;
    LyxSetMessageBoxHandler(record, &seen);
    LyxMessageBox(nullptr, nullptr, 0);
    LyxSetMessageBoxHandler(nullptr, nullptr);
    EXPECT_EQ(seen.calls, 1);
    EXPECT_EQ(seen.text, "");
    EXPECT_EQ(seen.caption, "");
}
