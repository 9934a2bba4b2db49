// The viewer's small modules: numbers as config.ini keeps them, the command line, how message
// box requests look, folders, and what assistive tools read from the controls.

#include "ViewerFixture.h"

#include "Accessibility.h"
#include "CommandLine.h"
#include "INIFileModule.h"
#include "MessageBoxHost.h"
#include "SpecialFolders.h"
#include "StoredNumbers.h"

#include "LyxPlatform.h"
#include "lyx/controls/ImageButton.h"
#include "lyx/controls/eLCD.h"
#include "lyx/controls/eLCDBar.h"
#include "lyx/controls/eLCDText.h"

#include <QAccessible>
#include <QDir>
#include <QFile>
#include <QLocale>
#include <QWidget>

using namespace lyx::viewer;
using namespace lyx::viewer::testing;

TEST(StoredNumbers, AreWrittenAsTheShortestTextOfTheSingle) {
    EXPECT_EQ(storedNumberText(12000), QStringLiteral("12000"));
    EXPECT_EQ(storedNumberText(6495), QStringLiteral("6495"));
    EXPECT_EQ(storedNumberText(-15), QStringLiteral("-15"));
    EXPECT_EQ(storedNumberText(0), QStringLiteral("0"));
    EXPECT_EQ(storedNumberText(0.1), QStringLiteral("0.1"));
    EXPECT_EQ(storedNumberText(1234.5678), QStringLiteral("1234.5677"));  // single precision
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    EXPECT_EQ(storedNumberText(7.5), QStringLiteral("7.5"));
    QLocale::setDefault(QLocale::c());
}

TEST(StoredNumbers, AreReadFromTheStartOfTheTextAndHeldWithinReach) {
    EXPECT_EQ(storedNumberValue(QStringLiteral("12000")), 12000);
    EXPECT_EQ(storedNumberValue(QStringLiteral("  -15 ")), -15);
    EXPECT_EQ(storedNumberValue(QStringLiteral("+30")), 30);
    EXPECT_EQ(storedNumberValue(QStringLiteral("12.5twips")), 12.5);
    EXPECT_EQ(storedNumberValue(QStringLiteral("abc")), 0);
    EXPECT_EQ(storedNumberValue(QString()), 0);
    EXPECT_EQ(storedNumberValue(QStringLiteral("1e30")), 1e6);
    EXPECT_EQ(storedNumberValue(QStringLiteral("-1e30")), -1e6);
    EXPECT_EQ(storedNumberValue(QStringLiteral("nan")), 0);
    EXPECT_EQ(storedNumberValue(QStringLiteral("inf")), 0);
}

TEST(CommandLineOptions, SelectASerialPortWithItsRate) {
    CommandLine usb = parseCommandLine({});
    EXPECT_TRUE(usb.ok);
    EXPECT_EQ(usb.port, 0);
    EXPECT_EQ(usb.baudRate, 0);

    CommandLine serial = parseCommandLine({QStringLiteral("--port"), QStringLiteral("5")});
    EXPECT_TRUE(serial.ok);
    EXPECT_EQ(serial.port, 5);
    EXPECT_EQ(serial.baudRate, 115200);

    CommandLine rate = parseCommandLine({QStringLiteral("--port=12"), QStringLiteral("--baud"),
                                         QStringLiteral("9600"), QStringLiteral("DELTA")});
    EXPECT_TRUE(rate.ok);
    EXPECT_EQ(rate.port, 12);
    EXPECT_EQ(rate.baudRate, 9600);
    EXPECT_EQ(rate.text, QStringLiteral("--port=12 --baud 9600 DELTA"));
    EXPECT_TRUE(hasDeltaSwitch(rate.text));

    CommandLine rateOnly = parseCommandLine({QStringLiteral("--baud=9600")});
    EXPECT_TRUE(rateOnly.ok);
    EXPECT_EQ(rateOnly.baudRate, 0) << "the USB base stations take no rate";
}

TEST(CommandLineOptions, RefuseBadValuesButNotUnknownWords) {
    for (const QStringList &bad : {QStringList{QStringLiteral("--port")},
                                   QStringList{QStringLiteral("--port"), QStringLiteral("0")},
                                   QStringList{QStringLiteral("--port"), QStringLiteral("256")},
                                   QStringList{QStringLiteral("--port=x")},
                                   QStringList{QStringLiteral("--port"), QStringLiteral("3"),
                                               QStringLiteral("--baud"), QStringLiteral("-5")},
                                   QStringList{QStringLiteral("--bogus")},
                                   QStringList{QStringLiteral("delta"), QStringLiteral("-x=1")}}) {
        CommandLine line = parseCommandLine(bad);
        EXPECT_FALSE(line.ok) << bad.join(QLatin1Char(' ')).toStdString();
        EXPECT_FALSE(line.error.isEmpty());
    }
    EXPECT_EQ(parseCommandLine({QStringLiteral("--bogus")}).error,
              QStringLiteral("Unknown option \"--bogus\"."));
    // Words, options holding the switch and Qt's own options (with their values) are taken.
    CommandLine words = parseCommandLine(
        {QStringLiteral("-delta"), QStringLiteral("/x"), QStringLiteral("--ShowDeltas"),
         QStringLiteral("-platform"), QStringLiteral("-offscreen"), QStringLiteral("--reverse"),
         QStringLiteral("--style=fusion"), QStringLiteral("-")});
    EXPECT_TRUE(words.ok) << words.error.toStdString();
    EXPECT_TRUE(hasDeltaSwitch(words.text));
    EXPECT_TRUE(parseCommandLine({QStringLiteral("--help")}).help);
    EXPECT_TRUE(parseCommandLine({QStringLiteral("--version")}).version);
}

TEST(MessageBoxLooks, FollowTheFlags) {
    EXPECT_EQ(messageBoxLook(LYX_MB_OK).icon, QMessageBox::NoIcon);
    EXPECT_EQ(messageBoxLook(LYX_MB_OK).buttons, QMessageBox::Ok);
    EXPECT_EQ(messageBoxLook(LYX_MB_OK | LYX_MB_ICONERROR).icon, QMessageBox::Critical);
    EXPECT_EQ(messageBoxLook(LYX_MB_ICONWARNING).icon, QMessageBox::Warning);
    EXPECT_EQ(messageBoxLook(LYX_MB_ICONINFORMATION).icon, QMessageBox::Information);
    const MessageBoxLook question = messageBoxLook(LYX_MB_YESNO | LYX_MB_ICONQUESTION);
    EXPECT_EQ(question.icon, QMessageBox::Question);
    EXPECT_EQ(question.buttons, QMessageBox::Yes | QMessageBox::No);
    EXPECT_EQ(messageBoxLook(LYX_MB_OKCANCEL | LYX_MB_TASKMODAL).buttons,
              QMessageBox::Ok | QMessageBox::Cancel);

    EXPECT_EQ(messageBoxAnswer(QMessageBox::Yes, LYX_MB_YESNO), LYX_IDYES);
    EXPECT_EQ(messageBoxAnswer(QMessageBox::NoButton, LYX_MB_YESNO), LYX_IDNO);
    EXPECT_EQ(messageBoxAnswer(QMessageBox::NoButton, LYX_MB_OKCANCEL), LYX_IDCANCEL);
    EXPECT_EQ(messageBoxAnswer(QMessageBox::NoButton, LYX_MB_OK), LYX_IDOK);
}

class Folders : public ViewerTest {};

TEST_F(Folders, TheUserFolderIsTheConfigHomeAndIsMadeWhenMissing) {
    {
        ScopedEnv config("XDG_CONFIG_HOME", path(QStringLiteral("new/config")));
        EXPECT_EQ(GetSpecialFolder(CSIDL_LOCAL_APPDATA), path(QStringLiteral("new/config")));
        EXPECT_TRUE(QDir(path(QStringLiteral("new/config"))).exists());
        EXPECT_EQ(GetSpecialFolder(5), QString()) << "only the local application-data folder";
    }
    {
        // A relative XDG_CONFIG_HOME is not used; the home folder's .config is.
        ScopedEnv config("XDG_CONFIG_HOME", QStringLiteral("relative/config"));
        ScopedEnv home("HOME", path(QStringLiteral("home")));
        EXPECT_EQ(GetSpecialFolder(CSIDL_LOCAL_APPDATA), path(QStringLiteral("home/.config")));
    }
    {
        ScopedEnv config("XDG_CONFIG_HOME", QString(), false);
        ScopedEnv home("HOME", QString(), false);
        EXPECT_EQ(GetSpecialFolder(CSIDL_LOCAL_APPDATA), QString());
    }
}

TEST_F(Folders, CreateFolderReportsOnlyFailuresOtherThanAccess) {
    CreateFolder(path(QStringLiteral("made")));
    EXPECT_TRUE(QDir(path(QStringLiteral("made"))).exists());
    CreateFolder(path(QStringLiteral("made")));  // exists: nothing happens
    QFile file(path(QStringLiteral("file")));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.close();
    CreateFolder(path(QStringLiteral("file")));  // a file has the name: an access error
    EXPECT_TRUE(boxes_.shown.empty());

    const QString missing = path(QStringLiteral("no/such/parent"));
    CreateFolder(missing);
    ASSERT_EQ(boxes_.shown.size(), 1u);
    EXPECT_EQ(boxes_.shown[0].caption, QStringLiteral("Error"));
    EXPECT_EQ(boxes_.shown[0].flags, std::uint32_t(LYX_MB_OK | LYX_MB_ICONERROR));
    EXPECT_EQ(boxes_.shown[0].text,
              QStringLiteral("Error Path not found while attempting to create folder: ") + missing);
}

TEST_F(Folders, IniValuesReadDefaultsForMissingAndEmptyAndLongValuesWhole) {
    const QString file = path(QStringLiteral("config/settings.ini"));
    const QString section = QStringLiteral("Files");
    EXPECT_EQ(ReadIniString(file, section, QStringLiteral("LogInitDir"), QStringLiteral("dflt")),
              QStringLiteral("dflt"));
    ASSERT_TRUE(WriteIniString(file, section, QStringLiteral("LogInitDir"), QString()));
    EXPECT_EQ(ReadIniString(file, section, QStringLiteral("loginitdir"), QStringLiteral("dflt")),
              QStringLiteral("dflt"));
    const QString longPath = QStringLiteral("/data/") + QString(400, QLatin1Char('x'));
    ASSERT_TRUE(WriteIniString(file, section, QStringLiteral("LogInitDir"), longPath));
    EXPECT_EQ(ReadIniString(file, QStringLiteral("FILES"), QStringLiteral("LogInitDir"), {}),
              longPath);
    EXPECT_FALSE(WriteIniString(path(QStringLiteral("absent/x.ini")), section,
                                QStringLiteral("Key"), QStringLiteral("v")))
        << "a missing folder is not made";
}

class AccessibleControls : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { accessibility::install(); }
    static QAccessibleInterface *of(QWidget *w) { return QAccessible::queryAccessibleInterface(w); }
    QWidget window;
};

TEST_F(AccessibleControls, ImageButtonsArePushButtonsWithTheirEnabledState) {
    auto *button = new lyx::controls::ImageButton(&window);
    button->setAccessibleName(QStringLiteral("Search"));
    button->setToolTip(QStringLiteral("Search for another module."));
    QAccessibleInterface *a = of(button);
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a->role(), QAccessible::Button);
    EXPECT_EQ(a->text(QAccessible::Name), QStringLiteral("Search"));
    EXPECT_EQ(a->text(QAccessible::Description), QStringLiteral("Search for another module."));
    EXPECT_FALSE(a->state().disabled);
    button->setButtonEnabled(false);
    EXPECT_TRUE(a->state().disabled);

    int clicks = 0;
    QObject::connect(button, &lyx::controls::ImageButton::Click, [&] { ++clicks; });
    QAccessibleActionInterface *act = a->actionInterface();
    ASSERT_NE(act, nullptr);
    act->doAction(QAccessibleActionInterface::pressAction());
    EXPECT_EQ(clicks, 0) << "a disabled button is not pressed";
    button->setButtonEnabled(true);
    act->doAction(QAccessibleActionInterface::pressAction());
    EXPECT_EQ(clicks, 1);
}

TEST_F(AccessibleControls, TheDisplayAndLabelsAreNamedByTheirCaptions) {
    auto *display = new lyx::controls::eLCD(&window);
    display->setAccessibleDescription(QStringLiteral("Value"));
    display->setCaption(QStringLiteral(" 12.500"));
    EXPECT_EQ(of(display)->role(), QAccessible::StaticText);
    EXPECT_EQ(of(display)->text(QAccessible::Name), QStringLiteral("12.500"));
    EXPECT_EQ(of(display)->text(QAccessible::Description), QStringLiteral("Value"));

    auto *label = new lyx::controls::eLCDText(&window);
    label->setCaption(QStringLiteral("RF Channel: 7"));
    EXPECT_EQ(of(label)->role(), QAccessible::StaticText);
    EXPECT_EQ(of(label)->text(QAccessible::Name), QStringLiteral("RF Channel: 7"));

    auto *indicator = new lyx::controls::eLCDText(&window);
    accessibility::setRole(indicator, QAccessible::CheckBox);
    indicator->setCaption(QStringLiteral("Lo Batt"));
    EXPECT_EQ(of(indicator)->role(), QAccessible::CheckBox);
    EXPECT_FALSE(of(indicator)->state().checked);
    indicator->setState(true);
    EXPECT_TRUE(of(indicator)->state().checked);
    EXPECT_TRUE(of(indicator)->state().checkable);
}

TEST_F(AccessibleControls, TheBarReportsItsPercentUnrounded) {
    auto *bar = new lyx::controls::eLCDBar(&window);
    QAccessibleInterface *a = of(bar);
    ASSERT_EQ(a->role(), QAccessible::ProgressBar);
    ASSERT_NE(a->valueInterface(), nullptr);
    for (auto [set, reported] : {std::pair{76.05f, 76.05},
                                 {99.45f, 99.45},
                                 {100.0f, 100.0},
                                 {0.0f, 0.0},
                                 {12.34567f, 12.34567}}) {
        bar->setPercent(set);
        EXPECT_EQ(a->valueInterface()->currentValue().toDouble(), reported);
    }
    bar->setPercent(-3.9f);
    EXPECT_EQ(a->valueInterface()->currentValue().toDouble(), -3.9)
        << "a negative value is reported as it is";
    EXPECT_EQ(a->valueInterface()->maximumValue().toDouble(), 100.0);
}
