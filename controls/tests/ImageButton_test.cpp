// The image button driven with real mouse events, routed through the window system the way
// the platform delivers them (grabs, implicit grabs on press).
#define QTEST_QPA_MOUSE_HANDLING

#include "lyx/controls/ImageButton.h"

#include "Probe.h"

#include <QTest>
#include <QWidget>

#include <gtest/gtest.h>

using namespace lyx::controls;

namespace {

Picture solid(QColor colour) {
    QImage image(40, 40, QImage::Format_RGB32);
    image.fill(colour);
    return Picture(image);
}

// A window with one button at (60, 60), 40 x 40, all four pictures set, and a record of the
// events it raised.
class ImageButtonTest : public ::testing::Test {
  protected:
    void SetUp() override {
        window.resize(200, 200);
        button = new ImageButton(&window);
        button->setGeometry(60, 60, 40, 40);
        button->setNormalPic(normal);
        button->setHoverPic(hover);
        button->setDownPic(down);
        button->setDisabledPic(disabled);
        const auto log = [this](const char *name) {
            return [this, name] { events << QString::fromLatin1(name); };
        };
        QObject::connect(button, &ImageButton::Click, log("Click"));
        QObject::connect(button, &ImageButton::DblClick, log("DblClick"));
        QObject::connect(button, &ImageButton::MouseIn, log("MouseIn"));
        QObject::connect(button, &ImageButton::MouseOut, log("MouseOut"));
        QObject::connect(button, &ImageButton::MouseDown, [this](int b, int, float, float) {
            events << QStringLiteral("MouseDown%1").arg(b);
        });
        QObject::connect(button, &ImageButton::MouseUp, [this](int b, int, float, float) {
            events << QStringLiteral("MouseUp%1").arg(b);
        });
        window.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
        QTest::mouseMove(&window, outside);  // start with the pointer away from the button
        events.clear();
    }

    void TearDown() override {
        // Leave no button held and no grab behind for the next test.
        if (QWidget::mouseGrabber()) QWidget::mouseGrabber()->releaseMouse();
    }

    void enter() { QTest::mouseMove(button, QPoint(20, 20)); }
    void leave() { QTest::mouseMove(&window, outside); }

    const QPoint outside{10, 10};
    // Declared before the window: a button hovered when the window goes still raises MouseOut
    // while the window hides it on its way out.
    QStringList events;
    QWidget window;
    ImageButton *button = nullptr;
    Picture normal = solid(Qt::blue), hover = solid(Qt::green), down = solid(Qt::red),
            disabled = solid(Qt::gray);
};

}  // namespace

TEST_F(ImageButtonTest, PressAndReleaseOverItClickAndShowHover) {
    enter();
    QTest::mousePress(button, Qt::LeftButton, {}, QPoint(20, 20));
    EXPECT_EQ(button->curPicture(), ImageButton::DownPicture);
    QTest::mouseRelease(button, Qt::LeftButton, {}, QPoint(20, 20));
    EXPECT_EQ(events, (QStringList{QStringLiteral("MouseIn"), QStringLiteral("MouseDown1"),
                                   QStringLiteral("MouseUp1"), QStringLiteral("Click")}));
    EXPECT_EQ(button->curPicture(), ImageButton::HoverPicture);
    const QImage image = test::render(*button);
    EXPECT_EQ(image.pixel(20, 20) & 0xFFFFFF, QColor(Qt::green).rgb() & 0xFFFFFF);
}

TEST_F(ImageButtonTest, DragOutAndReleaseGivesNoClick) {
    enter();
    QTest::mousePress(button, Qt::LeftButton, {}, QPoint(20, 20));
    QTest::mouseMove(&window, QPoint(150, 150));
    QTest::mouseRelease(&window, Qt::LeftButton, {}, QPoint(150, 150));
    EXPECT_EQ(events, (QStringList{QStringLiteral("MouseIn"), QStringLiteral("MouseDown1")}));
    EXPECT_EQ(button->curPicture(), ImageButton::HoverPicture);
    // The next plain move outside is seen as the exit.
    QTest::mouseMove(&window, QPoint(151, 150));
    EXPECT_EQ(events.last(), QStringLiteral("MouseOut"));
    EXPECT_EQ(button->curPicture(), ImageButton::NormalPicture);
}

TEST_F(ImageButtonTest, EnteringWithTheLeftButtonHeldChangesNothing) {
    QTest::mousePress(&window, Qt::LeftButton, {}, outside);
    QTest::mouseMove(button, QPoint(20, 20));
    EXPECT_TRUE(events.isEmpty());
    EXPECT_EQ(button->curPicture(), ImageButton::NormalPicture);
    QTest::mouseRelease(&window, Qt::LeftButton, {}, outside);

    // Delivered straight to the button, a move with the left button held is raised but does
    // no hover handling.
    QMouseEvent held(QEvent::MouseMove, QPointF(20, 20), button->mapToGlobal(QPointF(20, 20)),
                     Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
    int moves = 0;
    QObject::connect(button, &ImageButton::MouseMove, [&](int b, int, float, float) {
        EXPECT_EQ(b, 1);
        ++moves;
    });
    QCoreApplication::sendEvent(button, &held);
    EXPECT_EQ(moves, 1);
    EXPECT_FALSE(button->mouseInside());
    EXPECT_EQ(QWidget::mouseGrabber(), nullptr);
    EXPECT_EQ(button->curPicture(), ImageButton::NormalPicture);
}

TEST_F(ImageButtonTest, EnterAndLeaveEachRaiseOneEventWithHandAndArrow) {
    enter();
    QTest::mouseMove(button, QPoint(25, 22));
    QTest::mouseMove(button, QPoint(30, 30));
    EXPECT_EQ(events, QStringList{QStringLiteral("MouseIn")});
    EXPECT_EQ(button->cursor().shape(), Qt::PointingHandCursor);
    EXPECT_TRUE(button->mouseInside());
    EXPECT_EQ(QWidget::mouseGrabber(), button);
    EXPECT_EQ(button->curPicture(), ImageButton::HoverPicture);

    leave();
    QTest::mouseMove(&window, QPoint(12, 14));
    EXPECT_EQ(events, (QStringList{QStringLiteral("MouseIn"), QStringLiteral("MouseOut")}));
    EXPECT_EQ(button->cursor().shape(), Qt::ArrowCursor);
    EXPECT_FALSE(button->mouseInside());
    EXPECT_EQ(QWidget::mouseGrabber(), nullptr);
    EXPECT_EQ(button->curPicture(), ImageButton::NormalPicture);
}

TEST_F(ImageButtonTest, WithoutHoverPictureEnteringKeepsNormalButRaisesMouseIn) {
    button->setHoverPic(Picture());
    enter();
    EXPECT_EQ(events, QStringList{QStringLiteral("MouseIn")});
    EXPECT_TRUE(button->mouseInside());
    EXPECT_EQ(button->curPicture(), ImageButton::NormalPicture);
}

TEST_F(ImageButtonTest, ButtonWithoutAnyPictureStillTracksThePointer) {
    ImageButton *bare = new ImageButton(&window);
    bare->setGeometry(120, 20, 30, 30);
    bare->show();
    int ins = 0, outs = 0;
    QObject::connect(bare, &ImageButton::MouseIn, [&] { ++ins; });
    QObject::connect(bare, &ImageButton::MouseOut, [&] { ++outs; });
    QTest::mouseMove(bare, QPoint(10, 10));
    QTest::mouseMove(&window, outside);
    EXPECT_EQ(ins, 1);
    EXPECT_EQ(outs, 1);
    EXPECT_TRUE(bare->hoverPic().isEmpty()) << "an empty picture, not a missing one";
}

TEST_F(ImageButtonTest, DisablingWhileHoveredShowsDisabledAndLetsGo) {
    enter();
    button->setButtonEnabled(false);
    EXPECT_EQ(button->curPicture(), ImageButton::OtherPicture);
    EXPECT_EQ(button->shownPicture(), disabled);
    EXPECT_EQ(QWidget::mouseGrabber(), nullptr);

    // Disabled: presses and the exit raise nothing, and MouseInside stays set.
    QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(20, 20));
    leave();
    EXPECT_EQ(events, QStringList{QStringLiteral("MouseIn")});
    EXPECT_TRUE(button->mouseInside());

    // Enabled again, the next entry shows no hover picture and raises no MouseIn, until the
    // pointer has left once.
    button->setButtonEnabled(true);
    EXPECT_EQ(button->curPicture(), ImageButton::NormalPicture);
    enter();
    EXPECT_EQ(button->curPicture(), ImageButton::NormalPicture);
    EXPECT_EQ(events, QStringList{QStringLiteral("MouseIn")});
    leave();
    EXPECT_EQ(events.last(), QStringLiteral("MouseOut"));
    enter();
    EXPECT_EQ(events.last(), QStringLiteral("MouseIn"));
    EXPECT_EQ(button->curPicture(), ImageButton::HoverPicture);
}

TEST_F(ImageButtonTest, ReleaseResetsTheHoverState) {
    enter();
    button->setButtonEnabled(false);
    leave();
    QStringList changes;
    QObject::connect(button, &HostedControl::propertyChanged,
                     [&](const QString &n) { changes << n; });
    button->Release();
    EXPECT_FALSE(button->mouseInside());
    EXPECT_TRUE(button->buttonEnabled());
    EXPECT_EQ(changes, QStringList{QStringLiteral("Enabled")});
    EXPECT_EQ(events.last(), QStringLiteral("MouseOut"));
    enter();
    EXPECT_EQ(events.last(), QStringLiteral("MouseIn"));
    EXPECT_EQ(button->curPicture(), ImageButton::HoverPicture);
}

TEST_F(ImageButtonTest, CurPictureFollowsTheStates) {
    EXPECT_EQ(button->curPicture(), 3);
    enter();
    EXPECT_EQ(button->curPicture(), 2);
    QTest::mousePress(button, Qt::LeftButton, {}, QPoint(20, 20));
    EXPECT_EQ(button->curPicture(), 1);
    QTest::mouseRelease(button, Qt::LeftButton, {}, QPoint(20, 20));
    button->setButtonEnabled(false);
    EXPECT_EQ(button->curPicture(), 0);
}

TEST_F(ImageButtonTest, DoubleClickIsRaisedEvenWhenDisabled) {
    button->setButtonEnabled(false);
    QTest::mouseDClick(button, Qt::LeftButton, {}, QPoint(20, 20));
    EXPECT_EQ(events.count(QStringLiteral("DblClick")), 1);
    EXPECT_EQ(events.count(QStringLiteral("Click")), 0);
}

TEST_F(ImageButtonTest, StretchScalesThePictureToTheButton) {
    QImage small(10, 10, QImage::Format_RGB32);
    small.fill(Qt::red);
    button->setNormalPic(Picture(small));
    QImage image = test::render(*button);
    EXPECT_EQ(image.pixel(5, 5) & 0xFFFFFF, 0xFF0000u);
    EXPECT_EQ(image.pixel(30, 30) & 0xFFFFFF, 0xFFFFFFu) << "white where the picture ends";
    button->setStretch(true);
    image = test::render(*button);
    EXPECT_EQ(image.pixel(30, 30) & 0xFFFFFF, 0xFF0000u);
}

TEST(ImageButton, SavesAndLoadsInOrder) {
    ImageButton a;
    a.setNormalPic(solid(Qt::blue));
    a.setHoverPic(solid(Qt::green));
    a.setStretch(false);
    a.setButtonEnabled(false);
    PropertyBag bag;
    a.writeProperties(bag);
    EXPECT_EQ(bag.keys(), (QStringList{QStringLiteral("NormalPic"), QStringLiteral("DownPic"),
                                       QStringLiteral("HoverPic"), QStringLiteral("DisabledPic"),
                                       QStringLiteral("Stretch"), QStringLiteral("Enabled")}));

    PropertyBag lower;  // the host's keys may differ in case
    for (const QString &key : bag.keys())
        lower.setValue(key.toUpper(), bag.value(key));
    ImageButton b;
    QStringList changes;
    QObject::connect(&b, &HostedControl::propertyChanged, [&](const QString &n) { changes << n; });
    b.readProperties(lower);
    EXPECT_TRUE(changes.isEmpty()) << "loading stores directly";
    EXPECT_EQ(b.normalPic(), a.normalPic());
    EXPECT_EQ(b.hoverPic(), a.hoverPic());
    EXPECT_TRUE(b.downPic().isEmpty());
    EXPECT_FALSE(b.buttonEnabled());
    EXPECT_EQ(b.curPicture(), 0) << "disabled with no disabled picture";

    PropertyBag defaults;
    ImageButton fresh;
    fresh.writeProperties(defaults);
    EXPECT_EQ(defaults.keys().size(), 5) << "pictures and Stretch always; Enabled by default";
}

// A Click handler may open a modal dialog or block the GUI thread; a mouse grab held meanwhile
// would take every click of the display. The button gives the grab back first and keeps the
// hover, and takes the grab again on the next move over it.
TEST_F(ImageButtonTest, ClickRunsWithoutTheGrabAndKeepsTheHover) {
    QObject scope;  // ends the handlers below with the test
    QWidget *grabberAtMouseUp = button, *grabberAtClick = button;
    QObject::connect(button, &ImageButton::MouseUp, &scope,
                     [&](int, int, float, float) { grabberAtMouseUp = QWidget::mouseGrabber(); });
    QObject::connect(button, &ImageButton::Click, &scope,
                     [&] { grabberAtClick = QWidget::mouseGrabber(); });
    enter();
    ASSERT_EQ(QWidget::mouseGrabber(), button);
    QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(20, 20));
    EXPECT_EQ(grabberAtMouseUp, nullptr);
    EXPECT_EQ(grabberAtClick, nullptr);
    EXPECT_EQ(QWidget::mouseGrabber(), nullptr);
    EXPECT_TRUE(button->mouseInside());
    EXPECT_EQ(button->curPicture(), ImageButton::HoverPicture);
    EXPECT_EQ(button->cursor().shape(), Qt::PointingHandCursor);

    QTest::mouseMove(button, QPoint(25, 25));
    EXPECT_EQ(QWidget::mouseGrabber(), button);
    EXPECT_EQ(events.count(QStringLiteral("MouseIn")), 1);
    EXPECT_EQ(button->curPicture(), ImageButton::HoverPicture);

    leave();
    QTest::mouseMove(&window, QPoint(12, 14));
    EXPECT_EQ(events, (QStringList{QStringLiteral("MouseIn"), QStringLiteral("MouseDown1"),
                                   QStringLiteral("MouseUp1"), QStringLiteral("Click"),
                                   QStringLiteral("MouseOut")}));
    EXPECT_EQ(button->curPicture(), ImageButton::NormalPicture);
    EXPECT_EQ(QWidget::mouseGrabber(), nullptr);
}

// Without the grab the move that takes the pointer out goes to the widget beneath; the Leave
// the button gets is the exit. With the grab held, the move is.
TEST_F(ImageButtonTest, LeaveWithoutTheGrabEndsTheHoverOnce) {
    enter();
    QEvent leaveEvent(QEvent::Leave);
    QCoreApplication::sendEvent(button, &leaveEvent);
    EXPECT_TRUE(button->mouseInside()) << "a Leave while grabbed is not the exit";
    EXPECT_EQ(QWidget::mouseGrabber(), button);
    EXPECT_EQ(events.count(QStringLiteral("MouseOut")), 0);

    QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(20, 20));
    ASSERT_EQ(QWidget::mouseGrabber(), nullptr);
    leave();  // the window gets the move, the button a Leave
    EXPECT_FALSE(button->mouseInside());
    EXPECT_EQ(button->curPicture(), ImageButton::NormalPicture);
    EXPECT_EQ(button->cursor().shape(), Qt::ArrowCursor);
    EXPECT_EQ(events.count(QStringLiteral("MouseOut")), 1);

    QCoreApplication::sendEvent(button, &leaveEvent);
    QTest::mouseMove(&window, QPoint(12, 14));
    EXPECT_EQ(events.count(QStringLiteral("MouseOut")), 1);
    enter();
    EXPECT_EQ(events.last(), QStringLiteral("MouseIn"));
}

// A modal window blocking the button's window or another window taking the activation ends
// the hover: the button would never see the pointer go.
TEST_F(ImageButtonTest, WindowBlockedOrDeactivatedEndsTheHoverAndGivesTheMouseBack) {
    for (const QEvent::Type type : {QEvent::WindowDeactivate, QEvent::WindowBlocked}) {
        SCOPED_TRACE(type == QEvent::WindowBlocked ? "WindowBlocked" : "WindowDeactivate");
        events.clear();
        enter();
        ASSERT_EQ(QWidget::mouseGrabber(), button);
        QEvent event(type);
        QCoreApplication::sendEvent(&window, &event);
        EXPECT_EQ(QWidget::mouseGrabber(), nullptr);
        EXPECT_FALSE(button->mouseInside());
        EXPECT_EQ(button->curPicture(), ImageButton::NormalPicture);
        EXPECT_EQ(button->cursor().shape(), Qt::ArrowCursor);
        QCoreApplication::sendEvent(&window, &event);
        EXPECT_EQ(events, (QStringList{QStringLiteral("MouseIn"), QStringLiteral("MouseOut")}));

        // The next move over it is a new entry.
        QTest::mouseMove(button, QPoint(22, 22));
        EXPECT_EQ(events.last(), QStringLiteral("MouseIn"));
        leave();
    }
}

TEST_F(ImageButtonTest, AModalDialogOpeningOverTheHoveredButtonEndsTheHover) {
    enter();
    ASSERT_EQ(QWidget::mouseGrabber(), button);
    QWidget dialog(&window, Qt::Dialog);
    dialog.setWindowModality(Qt::ApplicationModal);
    dialog.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
    EXPECT_EQ(QWidget::mouseGrabber(), nullptr);
    EXPECT_FALSE(button->mouseInside());
    EXPECT_EQ(events, (QStringList{QStringLiteral("MouseIn"), QStringLiteral("MouseOut")}));
}

TEST_F(ImageButtonTest, HidingTheButtonOrItsWindowEndsTheHover) {
    enter();
    button->hide();
    EXPECT_EQ(QWidget::mouseGrabber(), nullptr);
    EXPECT_FALSE(button->mouseInside());
    EXPECT_EQ(button->curPicture(), ImageButton::NormalPicture);
    EXPECT_EQ(button->cursor().shape(), Qt::ArrowCursor);
    EXPECT_EQ(events, (QStringList{QStringLiteral("MouseIn"), QStringLiteral("MouseOut")}));

    button->show();
    QTest::mouseMove(button, QPoint(22, 22));  // a move to where the pointer is would be dropped
    ASSERT_TRUE(button->mouseInside());
    window.hide();
    EXPECT_EQ(QWidget::mouseGrabber(), nullptr);
    EXPECT_FALSE(button->mouseInside());
    EXPECT_EQ(events.count(QStringLiteral("MouseOut")), 2);
}

// A button moved into another window watches that window, and no longer the old one.
TEST_F(ImageButtonTest, AButtonMovedToAnotherWindowWatchesThatOne) {
    QWidget other;
    other.resize(200, 200);
    button->setParent(&other);
    button->show();
    other.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&other));
    QTest::mouseMove(button, QPoint(20, 20));
    ASSERT_EQ(QWidget::mouseGrabber(), button);

    QEvent deactivate(QEvent::WindowDeactivate);
    QCoreApplication::sendEvent(&window, &deactivate);
    EXPECT_TRUE(button->mouseInside()) << "the old window is no longer watched";
    EXPECT_EQ(QWidget::mouseGrabber(), button);
    QCoreApplication::sendEvent(&other, &deactivate);
    EXPECT_FALSE(button->mouseInside());
    EXPECT_EQ(QWidget::mouseGrabber(), nullptr);
    EXPECT_EQ(events, (QStringList{QStringLiteral("MouseIn"), QStringLiteral("MouseOut")}));
    button->setParent(&window);  // the fixture owns the button
}

TEST_F(ImageButtonTest, WhileDisabledLosingTheWindowOrHidingChangesNothing) {
    enter();
    button->setButtonEnabled(false);
    QEvent blocked(QEvent::WindowBlocked), deactivate(QEvent::WindowDeactivate);
    QCoreApplication::sendEvent(&window, &blocked);
    QCoreApplication::sendEvent(&window, &deactivate);
    button->hide();
    EXPECT_TRUE(button->mouseInside());
    EXPECT_EQ(button->shownPicture(), disabled);
    EXPECT_EQ(events, QStringList{QStringLiteral("MouseIn")});
}
