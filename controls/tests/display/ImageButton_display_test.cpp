// The image button on a real X display: a Click handler that opens a modal message box must
// leave the pointer free, so that the user can press the box's OK button. On X11 a Qt mouse
// grab is a pointer grab of the server, which would route that click to the button's window,
// where the modal box blocks it.

#include "XPointer.h"

#include "lyx/controls/ButtonArt.h"
#include "lyx/controls/ImageButton.h"

#include <QAbstractButton>
#include <QApplication>
#include <QKeyEvent>
#include <QMessageBox>
#include <QTest>
#include <QTimer>
#include <QWidget>

#include <gtest/gtest.h>

#include <optional>

using namespace lyx::controls;
using lyx::controls::test::kDisplayWaitMs;
using lyx::controls::test::XPointer;

namespace {

// Notes that a Shift key release reached a widget of `window`.
class ShiftWatcher : public QObject {
  public:
    explicit ShiftWatcher(QWidget *window) : window_(window) { qApp->installEventFilter(this); }
    ~ShiftWatcher() override { qApp->removeEventFilter(this); }
    bool seen() const { return seen_; }

  protected:
    bool eventFilter(QObject *watched, QEvent *event) override {
        if (event->type() == QEvent::KeyRelease &&
            static_cast<QKeyEvent *>(event)->key() == Qt::Key_Shift && watched->isWidgetType() &&
            static_cast<QWidget *>(watched)->window() == window_)
            seen_ = true;
        return false;
    }

  private:
    QWidget *window_;
    bool seen_ = false;
};

// A top-level window, shown and active, away from the pointer's starting place in the middle
// of the screen.
class DisplayTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(XPointer::available()) << "xdotool is not installed";
        window.setWindowTitle(QStringLiteral("display test"));
        window.setGeometry(40, 40, 420, 300);
    }

    ::testing::AssertionResult showAndActivate(QWidget &widget) {
        widget.show();
        if (!QTest::qWaitForWindowExposed(&widget, kDisplayWaitMs))
            return ::testing::AssertionFailure() << "not exposed";
        widget.activateWindow();
        if (!QTest::qWaitForWindowActive(&widget, kDisplayWaitMs))
            return ::testing::AssertionFailure() << "not active";
        return ::testing::AssertionSuccess();
    }

    void TearDown() override {
        if (QWidget::mouseGrabber()) QWidget::mouseGrabber()->releaseMouse();
    }

    // Waits until the box can be seen and has the focus, then clicks its OK button on the
    // screen.
    void answer(QMessageBox &box) {
        ASSERT_TRUE(showAndActivate(box));
        QAbstractButton *ok = box.button(QMessageBox::Ok);
        ASSERT_NE(ok, nullptr);
        ASSERT_TRUE(pointer.moveTo(XPointer::centreOf(*ok)));
        ASSERT_TRUE(pointer.click());
    }

    XPointer pointer;
    QWidget window;
};

// What happened to the message box the button's Click opened.
struct BoxOutcome {
    bool clickRaised = false;
    QWidget *grabberAtClick = nullptr;
    bool okClicked = false;
    bool returned = false;
    int result = -1;
};

}  // namespace

TEST_F(DisplayTest, AModalBoxOpenedByAClickTakesThePointersClick) {
    auto *button = new ImageButton(&window);
    button->setGeometry(20, 20, 64, 64);
    art::applyButtonArt(*button, art::ButtonIcon::Pair, QSize(64, 64));
    int mouseIns = 0, mouseOuts = 0;
    BoxOutcome outcome;
    QObject scope;  // ends the handlers below with the test, before the window goes
    QObject::connect(button, &ImageButton::MouseIn, &scope, [&] { ++mouseIns; });
    QObject::connect(button, &ImageButton::MouseOut, &scope, [&] { ++mouseOuts; });
    QObject::connect(button, &ImageButton::Click, &scope, [&] {
        outcome.clickRaised = true;
        outcome.grabberAtClick = QWidget::mouseGrabber();
        QMessageBox box(QMessageBox::Information, QStringLiteral("Pairing"),
                        QStringLiteral("The module is paired."), QMessageBox::Ok, &window);
        QObject::connect(box.button(QMessageBox::Ok), &QAbstractButton::clicked,
                         [&] { outcome.okClicked = true; });
        // Answered from inside the box's own event loop; should the answer not get through,
        // the box is closed without one so that the test ends.
        QTimer::singleShot(0, &box, [&] {
            answer(box);
            if (QTest::qWaitFor([&] { return !box.isVisible(); }, kDisplayWaitMs)) return;
            ADD_FAILURE() << "the click on OK never reached the box";
            box.done(-1);
        });
        outcome.result = box.exec();
        outcome.returned = true;
    });

    ASSERT_TRUE(showAndActivate(window));
    ASSERT_TRUE(pointer.moveTo(XPointer::centreOf(*button)));
    ASSERT_TRUE(QTest::qWaitFor([&] { return button->mouseInside(); }, kDisplayWaitMs));
    EXPECT_EQ(QWidget::mouseGrabber(), button) << "the hover tracks the pointer with a grab";
    EXPECT_EQ(button->curPicture(), ImageButton::HoverPicture);

    ASSERT_TRUE(pointer.click());
    ASSERT_TRUE(QTest::qWaitFor([&] { return outcome.returned; }, 3 * kDisplayWaitMs))
        << (outcome.clickRaised ? "the box never returned" : "the button raised no Click");
    EXPECT_EQ(outcome.grabberAtClick, nullptr);
    EXPECT_TRUE(outcome.okClicked);
    EXPECT_EQ(outcome.result, QMessageBox::Ok);
    EXPECT_EQ(mouseIns, 1);
    EXPECT_EQ(mouseOuts, 1) << "the box blocking the window ends the hover";

    // The button works on after the box: entering and leaving it once more.
    ASSERT_TRUE(pointer.moveTo(XPointer::centreOf(*button) + QPoint(3, 3)));
    ASSERT_TRUE(QTest::qWaitFor([&] { return button->mouseInside(); }, kDisplayWaitMs));
    EXPECT_EQ(mouseIns, 2);
    EXPECT_EQ(QWidget::mouseGrabber(), button);
    ASSERT_TRUE(pointer.moveTo(XPointer::centreOf(window) + QPoint(100, 0)));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !button->mouseInside(); }, kDisplayWaitMs));
    EXPECT_EQ(mouseOuts, 2);
    EXPECT_EQ(QWidget::mouseGrabber(), nullptr);
}

// The pairing handler blocks the GUI thread for seconds: the pointer of the whole display must
// be free meanwhile.
TEST_F(DisplayTest, AClickHandlerThatBlocksLeavesThePointerFree) {
    auto *button = new ImageButton(&window);
    button->setGeometry(20, 20, 64, 64);
    art::applyButtonArt(*button, art::ButtonIcon::Search, QSize(64, 64));
    std::optional<::testing::AssertionResult> freeInHandler;
    QObject scope;
    QObject::connect(button, &ImageButton::Click, &scope,
                     [&] { freeInHandler = XPointer::pointerIsFree(); });

    ASSERT_TRUE(showAndActivate(window));
    ASSERT_TRUE(pointer.moveTo(XPointer::centreOf(*button)));
    ASSERT_TRUE(QTest::qWaitFor([&] { return button->mouseInside(); }, kDisplayWaitMs));
    EXPECT_FALSE(XPointer::pointerIsFree()) << "hovering, the button holds the pointer";

    ASSERT_TRUE(pointer.click());
    ASSERT_TRUE(QTest::qWaitFor([&] { return freeInHandler.has_value(); }, kDisplayWaitMs));
    EXPECT_TRUE(*freeInHandler);
    EXPECT_TRUE(button->mouseInside()) << "the pointer is still over the button";
}

// Why the button must give the grab back: any widget holding a grab while a modal box is open
// takes the click meant for the box, and the box stays open.
TEST_F(DisplayTest, AGrabHeldWhileAModalBoxIsOpenLosesTheClick) {
    auto *holder = new QWidget(&window);
    holder->setGeometry(20, 20, 64, 64);
    ASSERT_TRUE(showAndActivate(window));
    holder->grabMouse();
    ASSERT_EQ(QWidget::mouseGrabber(), holder);
    ASSERT_FALSE(XPointer::pointerIsFree()) << "the grab is the server's";

    bool okClicked = false;
    QMessageBox box(QMessageBox::Information, QStringLiteral("Pairing"),
                    QStringLiteral("The module is paired."), QMessageBox::Ok, &window);
    box.setWindowModality(Qt::ApplicationModal);
    QObject::connect(box.button(QMessageBox::Ok), &QAbstractButton::clicked,
                     [&] { okClicked = true; });
    ASSERT_TRUE(showAndActivate(box));
    ASSERT_TRUE(pointer.moveTo(XPointer::centreOf(*box.button(QMessageBox::Ok))));
    ASSERT_TRUE(pointer.click());

    // The Shift key goes to the focused box after the click's events: once it is there, Qt has
    // handled the click, wherever the server sent it.
    ShiftWatcher shift(&box);
    ASSERT_TRUE(pointer.tapShift());
    ASSERT_TRUE(QTest::qWaitFor([&] { return shift.seen(); }, kDisplayWaitMs));
    EXPECT_FALSE(okClicked);
    EXPECT_TRUE(box.isVisible()) << "the click reached the box despite the grab";

    // Once the grab is given back, the same click closes the box.
    holder->releaseMouse();
    ASSERT_TRUE(pointer.click());
    EXPECT_TRUE(QTest::qWaitFor([&] { return !box.isVisible(); }, kDisplayWaitMs));
    EXPECT_TRUE(okClicked);
    EXPECT_EQ(box.result(), QMessageBox::Ok);
}
