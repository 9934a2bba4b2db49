#include "lyx/controls/PropertyBag.h"

#include "Probe.h"

#include <gtest/gtest.h>

using namespace lyx::controls;

TEST(PropertyBag, KeysMatchWithoutRegardToCase) {
    PropertyBag bag;
    bag.writeInt(u"BorderStyle", 1);
    EXPECT_EQ(bag.readInt(u"borderstyle", 0), 1);
    EXPECT_EQ(bag.readInt(u"BORDERSTYLE", 0), 1);
    EXPECT_TRUE(bag.contains(u"bOrDeRsTyLe"));
}

TEST(PropertyBag, KeepsOrderOfFirstWritingAndTheFirstSpelling) {
    PropertyBag bag;
    bag.writeText(u"Caption", QStringLiteral("a"));
    bag.writeInt(u"Digits", 6);
    bag.writeText(u"CAPTION", QStringLiteral("b"));  // replaces in place
    EXPECT_EQ(bag.keys(), (QStringList{QStringLiteral("Caption"), QStringLiteral("Digits")}));
    EXPECT_EQ(bag.readText(u"caption", {}), QStringLiteral("b"));
}

TEST(PropertyBag, ValueEqualToDefaultIsNotStoredAndDropsAnOlderOne) {
    PropertyBag bag;
    bag.writeInt(u"Digits", 6, 8);
    ASSERT_EQ(bag.readInt(u"Digits", 8), 6);
    // Saving the default into the same bag must not leave the old 6 behind.
    bag.writeInt(u"Digits", 8, 8);
    EXPECT_FALSE(bag.contains(u"Digits"));
    EXPECT_EQ(bag.readInt(u"Digits", 8), 8);
}

TEST(PropertyBag, AbsentOrMismatchedValuesGiveTheFallback) {
    PropertyBag bag;
    bag.writeText(u"Caption", QStringLiteral("x"));
    EXPECT_EQ(bag.readInt(u"Caption", 42), 42);  // text is not a number
    EXPECT_EQ(bag.readText(u"Missing", QStringLiteral("d")), QStringLiteral("d"));
    EXPECT_TRUE(bag.readPicture(u"Missing").isEmpty());
}

TEST(PropertyBag, NumbersAndFlagsReadAcrossKinds) {
    PropertyBag bag;
    bag.writeInt(u"OnColor", 255);  // a host that keeps colours as plain integers
    bag.writeInt(u"State", 1);
    bag.writeColour(u"Back", 0x8000000Fu);
    EXPECT_EQ(bag.readColour(u"OnColor", 0), 255u);
    EXPECT_TRUE(bag.readBool(u"State", false));
    EXPECT_EQ(bag.readColour(u"Back", 0), 0x8000000Fu);
}

TEST(PropertyBag, PicturesKeepTheirIdentity) {
    QImage image(4, 4, QImage::Format_RGB32);
    image.fill(Qt::red);
    const Picture picture(image);
    PropertyBag bag;
    bag.writePicture(u"NormalPic", picture);
    bag.writePicture(u"MouseIcon", Picture(), false);
    EXPECT_EQ(bag.readPicture(u"normalpic"), picture);
    EXPECT_FALSE(bag.contains(u"MouseIcon"));
    EXPECT_NE(Picture(image), picture) << "equal pixels do not make the same picture";
}

TEST(Picture, PngBytesGiveTheImageBack) {
    QImage image(3, 2, QImage::Format_RGB32);
    image.fill(QColor(10, 20, 30));
    const Picture back = Picture::fromData(Picture(image).toPng());
    ASSERT_FALSE(back.isEmpty());
    EXPECT_EQ(back.image().pixel(2, 1), image.pixel(2, 1));
    EXPECT_TRUE(Picture::fromData(QByteArray("not a picture")).isEmpty());
    EXPECT_EQ(Picture().handle(), 0u);
}
