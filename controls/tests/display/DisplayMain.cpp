// Runs the display tests inside one QApplication on the xcb platform: they move and click the
// real pointer of an X display, so they run under scripts/desktop-session, never offscreen.

#include <QApplication>

#include <gtest/gtest.h>

#include <cstdio>

int main(int argc, char **argv) {
    ::testing::InitGoogleTest(&argc, argv);
    if (qEnvironmentVariableIsEmpty("DISPLAY")) {
        std::fprintf(stderr,
                     "No X display: run these tests under scripts/desktop-session, which starts "
                     "a private one.\n");
        return 1;
    }
    qputenv("QT_QPA_PLATFORM", "xcb");
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
