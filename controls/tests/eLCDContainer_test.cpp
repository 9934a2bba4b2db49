#include "lyx/controls/eLCDContainer.h"

#include "Probe.h"
#include "lyx/controls/eLCD.h"
#include "lyx/controls/eLCDBar.h"
#include "lyx/controls/eLCDModule.h"
#include "lyx/controls/eLCDText.h"

#include <QLabel>

#include <gtest/gtest.h>

using namespace lyx::controls;
using lyx::controls::test::countPixels;
using lyx::controls::test::render;
using lyx::controls::test::rgb;

namespace {

constexpr OleColor kRedBack = 65557, kRedOff = 64, kRedOn = 255;

// A container holding one of each LCD control and a plain label that has no colour
// properties.
struct Panel {
    eLCDContainer box;
    eLCD *lcd = new eLCD(&box);
    eLCDText *text = new eLCDText(&box);
    QLabel *label = new QLabel(QStringLiteral("plain"), &box);
    eLCDBar *bar = new eLCDBar(&box);

    Panel() {
        box.resize(300, 120);
        lcd->setGeometry(0, 0, 300, lcd->heightForWidth(300));
        text->move(10, 80);
        label->move(120, 80);
        bar->setGeometry(200, 80, 90, 18);
    }
    std::vector<LcdControl *> controls() const { return {lcd, text, bar}; }
};

void expectColours(const LcdControl *c, OleColor back, OleColor on, OleColor off) {
    EXPECT_EQ(c->backColor(), back) << c->metaObject()->className();
    EXPECT_EQ(c->onColor(), on) << c->metaObject()->className();
    EXPECT_EQ(c->offColor(), off) << c->metaObject()->className();
}

}  // namespace

TEST(eLCDContainer, SchemeFourTurnsItselfAndEveryChildRedOnNearBlack) {
    Panel p;
    QStringList lcdChanges;
    QObject::connect(p.lcd, &HostedControl::propertyChanged,
                     [&](const QString &n) { lcdChanges << n; });
    p.box.setScheme(4);
    expectColours(&p.box, kRedBack, kRedOn, kRedOff);
    for (const LcdControl *c : p.controls())
        expectColours(c, kRedBack, kRedOn, kRedOff);
    EXPECT_EQ(lcdChanges, (QStringList{QStringLiteral("BackColor"), QStringLiteral("OnColor"),
                                       QStringLiteral("OffColor")}));
    EXPECT_FALSE(p.label->property("BackColor").isValid()) << "no property made up on the label";

    const QImage image = render(p.box);
    EXPECT_EQ(image.pixel(p.box.width() - 2, p.box.height() - 2) & 0xFFFFFF,
              rgb(kRedBack) & 0xFFFFFF);
    const QRect lcdArea = p.lcd->geometry();
    EXPECT_GT(countPixels(image, lcdArea, rgb(kRedOn)), 50) << "lit segments in red";
    EXPECT_GT(countPixels(image, lcdArea, rgb(kRedOff)), 50);
    EXPECT_GT(countPixels(image, p.text->geometry(), rgb(kRedOff)), 10) << "unlit text";
}

TEST(eLCDContainer, SchemeZeroPushesTheCurrentColoursWithoutChangingTheContainer) {
    Panel p;
    p.box.setBackColor(0x111111);
    p.box.setOnColor(0x222222);
    p.box.setOffColor(0x333333);
    p.box.setScheme(0);
    expectColours(&p.box, 0x111111, 0x222222, 0x333333);
    for (const LcdControl *c : p.controls())
        expectColours(c, 0x111111, 0x222222, 0x333333);
}

TEST(eLCDContainer, ColorChildrenRecoloursAndReadsFalse) {
    Panel p;
    p.box.setOnColor(0x0000AA);
    for (const LcdControl *c : p.controls())
        EXPECT_NE(c->onColor(), 0x0000AAu);
    EXPECT_TRUE(p.box.setProperty("ColorChildren", 7));
    for (const LcdControl *c : p.controls())
        EXPECT_EQ(c->onColor(), 0x0000AAu);
    EXPECT_EQ(p.box.property("ColorChildren"), QVariant(false));
}

TEST(eLCDContainer, SchemeOutsideTheTableOnlyPushes) {
    Panel p;
    for (const int scheme : {6, -1}) {
        p.box.setScheme(scheme);
        EXPECT_EQ(p.box.scheme(), scheme);
        expectColours(&p.box, SystemColour::ThreeDLight, 0, 7969130);
        expectColours(p.lcd, SystemColour::ThreeDLight, 0, 7969130);
    }
}

TEST(eLCDContainer, LoadingAStoredSchemeRestoresColoursButDoesNotPush) {
    PropertyBag bag;
    {
        Panel saved;
        saved.box.setScheme(4);
        saved.box.setBorderStyle(1);
        saved.box.writeProperties(bag);
    }
    EXPECT_EQ(bag.keys(), (QStringList{QStringLiteral("BackColor"), QStringLiteral("OnColor"),
                                       QStringLiteral("OffColor"), QStringLiteral("BorderStyle"),
                                       QStringLiteral("Scheme")}));
    Panel loaded;
    loaded.box.readProperties(bag);
    EXPECT_EQ(loaded.box.scheme(), 4);
    EXPECT_EQ(loaded.box.borderStyle(), 1);
    expectColours(&loaded.box, kRedBack, kRedOn, kRedOff);
    expectColours(loaded.lcd, SystemColour::ThreeDLight, 0, 7969130);
    expectColours(loaded.text, 10269842, 0, 7969130);
}

TEST(eLCDContainer, RaisesResizeOnEverySizeChange) {
    eLCDContainer box;
    box.show();
    int resizes = 0;
    QObject::connect(&box, &eLCDContainer::Resize, [&] { ++resizes; });
    box.resize(200, 100);
    box.resize(210, 100);
    box.resize(210, 100);  // no change
    EXPECT_EQ(resizes, 2);
}

TEST(eLCDModule, ApplySchemeSetsColoursOnAnyControlByName) {
    eLCDText text;
    EXPECT_TRUE(eLCDModule::ApplyScheme(4, &text));
    expectColours(&text, 795916, 65280, 16384);
    EXPECT_FALSE(eLCDModule::ApplyScheme(5, &text));
    EXPECT_FALSE(eLCDModule::ApplyScheme(-1, &text));
    QLabel label;
    EXPECT_TRUE(eLCDModule::ApplyScheme(0, &label));
    EXPECT_TRUE(label.dynamicPropertyNames().isEmpty());
}
