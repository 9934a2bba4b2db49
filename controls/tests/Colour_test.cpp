#include "lyx/controls/Colour.h"

#include <QGuiApplication>

#include <gtest/gtest.h>

using namespace lyx::controls;

TEST(Colour, RedSitsInTheLowByte) {
    EXPECT_EQ(toQColor(7969130), QColor(106, 153, 121));
    EXPECT_EQ(toQColor(0x0000FF), QColor(255, 0, 0));
    EXPECT_EQ(fromQColor(QColor(146, 180, 156)), 10269842u);
}

TEST(Colour, SystemColoursComeFromThePalette) {
    QPalette palette;
    palette.setColor(QPalette::Active, QPalette::Button, QColor(1, 2, 3));
    palette.setColor(QPalette::Active, QPalette::Midlight, QColor(4, 5, 6));
    palette.setColor(QPalette::Active, QPalette::Window, QColor(7, 8, 9));
    EXPECT_EQ(toQColor(SystemColour::ButtonFace, palette), QColor(1, 2, 3));
    EXPECT_EQ(toQColor(SystemColour::ThreeDLight, palette), QColor(4, 5, 6));
    EXPECT_EQ(toQColor(0x800000FFu, palette), QColor(7, 8, 9)) << "unknown index";
    EXPECT_EQ(toQColor(SystemColour::ButtonFace),
              QGuiApplication::palette().color(QPalette::Active, QPalette::Button));
}
