#include "lyx/controls/eLCDText.h"

#include "Probe.h"

#include <QFontMetrics>
#include <QTest>

#include <gtest/gtest.h>

using namespace lyx::controls;
using lyx::controls::test::countPixels;
using lyx::controls::test::render;
using lyx::controls::test::rgb;

namespace {
constexpr OleColor kBack = 10269842, kOn = 0x0000C0, kOff = 0x00A000;

void colour(eLCDText &t) {
    t.setBackColor(kBack);
    t.setOnColor(kOn);
    t.setOffColor(kOff);
}
}  // namespace

TEST(eLCDText, UnlitShowsOffColourAndLitShowsOnColour) {
    eLCDText text;
    colour(text);
    text.setCaption(QStringLiteral("ZEROED"));
    QImage image = render(text);
    EXPECT_GT(countPixels(image, image.rect(), rgb(kOff)), 20);
    EXPECT_EQ(countPixels(image, image.rect(), rgb(kOn)), 0);

    text.setState(true);
    image = render(text);
    EXPECT_GT(countPixels(image, image.rect(), rgb(kOn)), 20);
    EXPECT_EQ(countPixels(image, image.rect(), rgb(kOff)), 0) << "the lit copy covers the unlit";
}

TEST(eLCDText, InverseShowsTextInBackColourOnAColouredBlock) {
    eLCDText text;
    colour(text);
    text.setCaption(QStringLiteral("LOW BATTERY"));
    text.setInverse(true);
    QImage image = render(text);
    const int area = image.width() * image.height();
    EXPECT_GT(countPixels(image, image.rect(), rgb(kOff)), area / 2) << "an unlit block";
    EXPECT_GT(countPixels(image, image.rect(), rgb(kBack)), 20) << "text in the background colour";
    EXPECT_EQ(countPixels(image, image.rect(), rgb(kOn)), 0);

    text.setState(true);
    image = render(text);
    EXPECT_GT(countPixels(image, image.rect(), rgb(kOn)), area / 2) << "a lit block";
    EXPECT_GT(countPixels(image, image.rect(), rgb(kBack)), 20);

    // The text colour was fixed when the colours were applied; a later background alone
    // does not change it.
    text.setBackColor(0x404040);
    image = render(text);
    EXPECT_GT(countPixels(image, image.rect(), rgb(kBack)), 20);
}

TEST(eLCDText, LongerCaptionWidensTheLabelAtOnce) {
    eLCDText text;
    text.setCaption(QStringLiteral("CH 1"));
    const int narrow = text.width();
    text.setCaption(QStringLiteral("CH 1 SEARCHING"));
    const QFontMetrics metrics(text.font());
    EXPECT_GT(text.width(), narrow);
    EXPECT_EQ(text.size(), metrics.size(0, QStringLiteral("CH 1 SEARCHING")));

    text.show();
    text.resize(500, 200);  // the host cannot size it otherwise
    EXPECT_EQ(text.size(), metrics.size(0, QStringLiteral("CH 1 SEARCHING")));
}

TEST(eLCDText, FontAttributesReportTheirOwnNameAndResize) {
    eLCDText text;
    text.setCaption(QStringLiteral("PACKETS"));
    QStringList changes;
    QObject::connect(&text, &HostedControl::propertyChanged,
                     [&](const QString &n) { changes << n; });
    const QSize bold = text.size();
    text.setFontSize(24);
    EXPECT_GT(text.height(), bold.height());
    EXPECT_FLOAT_EQ(text.fontSize(), 24);
    text.setFontItalic(true);
    text.setFontUnderline(true);
    text.setFontStrikethru(true);
    text.setFontBold(false);
    text.setFontName(QStringLiteral("Serif"));
    EXPECT_EQ(changes,
              (QStringList{QStringLiteral("FontSize"), QStringLiteral("FontItalic"),
                           QStringLiteral("FontUnderline"), QStringLiteral("FontStrikethru"),
                           QStringLiteral("FontBold"), QStringLiteral("FontName")}));
    EXPECT_TRUE(text.fontItalic() && text.fontUnderline() && text.fontStrikethru());
    EXPECT_FALSE(text.fontBold());
    EXPECT_EQ(text.size(), QFontMetrics(text.font()).size(0, QStringLiteral("PACKETS")));
}

TEST(eLCDText, MouseButtonsOverTheTextRaiseOnlyClick) {
    eLCDText text;
    text.setBorderStyle(1);
    QStringList events;
    QObject::connect(&text, &LcdControl::MouseDown,
                     [&](int, int, float, float) { events << QStringLiteral("down"); });
    QObject::connect(&text, &LcdControl::Click, [&] { events << QStringLiteral("click"); });
    QTest::mouseClick(&text, Qt::LeftButton, {}, text.rect().center());
    EXPECT_EQ(events, QStringList{QStringLiteral("click")});
    events.clear();
    QTest::mouseClick(&text, Qt::LeftButton, {}, QPoint(1, 1));  // on the border
    EXPECT_EQ(events, (QStringList{QStringLiteral("down"), QStringLiteral("click")}));
}

TEST(eLCDText, SavesAndLoadsEveryPropertyFontFirst) {
    eLCDText a;
    a.setCaption(QStringLiteral("RADIO CH 5"));
    a.setBackColor(0x112233);
    a.setOnColor(0x0000FF);
    a.setOffColor(0x000040);
    a.setMousePointer(2);
    a.setBorderStyle(1);
    QFont font(QStringLiteral("Serif"), 20);
    font.setItalic(true);
    a.setControlFont(font);
    a.setState(true);
    a.setInverse(true);

    PropertyBag bag;
    a.writeProperties(bag);
    EXPECT_EQ(bag.keys(), (QStringList{QStringLiteral("Caption"), QStringLiteral("BackColor"),
                                       QStringLiteral("OnColor"), QStringLiteral("OffColor"),
                                       QStringLiteral("MousePointer"),
                                       QStringLiteral("BorderStyle"), QStringLiteral("Font"),
                                       QStringLiteral("State"), QStringLiteral("Inverse")}));

    class RecordingBag : public PropertyBag {
      public:
        std::optional<PropertyValue> value(QStringView key) const override {
            reads.append(key.toString());
            return PropertyBag::value(key);
        }
        mutable QStringList reads;
    } recording;
    for (const QString &key : bag.keys())
        recording.setValue(key.toLower(), bag.value(key));

    eLCDText b;
    b.readProperties(recording);
    EXPECT_EQ(recording.reads.first(), QStringLiteral("Font"));
    EXPECT_EQ(recording.reads.indexOf(QStringLiteral("Caption")), 1);
    EXPECT_EQ(b.caption(), a.caption());
    EXPECT_EQ(b.controlFont(), font);
    EXPECT_EQ(b.size(), a.size()) << "sized to the caption in the loaded font";
    EXPECT_EQ(render(b), render(a));
    EXPECT_EQ(b.mousePointer(), 2);
    EXPECT_TRUE(b.state());
    EXPECT_TRUE(b.inverse());
}
