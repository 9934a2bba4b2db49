#include "lyx/controls/ButtonArt.h"

#include "lyx/controls/ImageButton.h"

#include <gtest/gtest.h>

#include <set>

using namespace lyx::controls;

TEST(ButtonArt, EveryIconAndStateIsItsOwnPicture) {
    std::set<QByteArray> seen;
    for (const art::ButtonIcon icon : art::kAllIcons) {
        for (const art::ButtonState state : art::kAllStates) {
            const QImage image = art::paintButton(icon, state, QSize(32, 32));
            ASSERT_EQ(image.size(), QSize(32, 32));
            EXPECT_EQ(qAlpha(image.pixel(16, 16)), 255) << "the face covers the middle";
            EXPECT_EQ(qAlpha(image.pixel(0, 0)), 0) << "rounded, transparent corners";
            const QByteArray bytes(reinterpret_cast<const char *>(image.constBits()),
                                   image.sizeInBytes());
            EXPECT_TRUE(seen.insert(bytes).second)
                << qPrintable(art::iconName(icon)) << " " << qPrintable(art::stateName(state));
        }
    }
}

TEST(ButtonArt, AppliesFourPicturesToAButton) {
    ImageButton button;
    art::applyButtonArt(button, art::ButtonIcon::Zero, QSize(24, 24));
    EXPECT_FALSE(button.normalPic().isEmpty());
    EXPECT_FALSE(button.hoverPic().isEmpty());
    EXPECT_FALSE(button.downPic().isEmpty());
    EXPECT_FALSE(button.disabledPic().isEmpty());
    EXPECT_EQ(button.curPicture(), ImageButton::NormalPicture);
}
