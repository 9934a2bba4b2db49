// The window "All modules" of the real main window, fed through the component's TriggerEvent,
// on clocks the test moves; and the trend chart's auto scale.

#include "PacketFeed.h"
#include "ViewerFixture.h"

#include "ChartScaleSwitch.h"
#include "INIFileModule.h"
#include "ModulesWindow.h"
#include "PictureBox.h"

#include "lyx/controls/ImageButton.h"
#include "lyx/controls/eLCD.h"
#include "lyx/controls/eLCDText.h"

#include <QAccessible>
#include <QAction>
#include <QDir>
#include <QFile>
#include <QHeaderView>
#include <QMenu>
#include <QSignalSpy>
#include <QTableView>
#include <QTest>

using namespace lyx::viewer;
using namespace lyx::viewer::testing;
using lyx::controls::eLCD;
using lyx::controls::eLCDText;
using lyx::controls::ImageButton;
using std::chrono::milliseconds;

namespace {

class ModuleList : public RunningWindowTest {
  protected:
    void open() {
        RunningWindowTest::open();
        window->setModuleClock([this] { return moduleNow; });
    }
    /// Delivers `frame` `later` after the last one on both clocks.
    void feedAt(lyx::platform::ByteArray frame, milliseconds later = milliseconds(310)) {
        moduleNow += later;
        now += double(later.count()) / 1000.0;
        feed(std::move(frame));
    }
    void pass(milliseconds later) {
        moduleNow += later;
        now += double(later.count()) / 1000.0;
    }
    /// Three modules heard, 0x4D2 followed.
    void hearThree() {
        feedAt(floatFrame(0x4D2, 12.5f));
        feedAt(int32Frame(0x4D3, 99));
        feedAt(stringFrame(0x10, "on", {.battLow = true, .station = 2}));
        feedAt(floatFrame(0x4D2, 12.75f, {.error = true}));
    }
    ModulesWindow *list() {
        window->showModules();
        return window->modulesWindow();
    }
    ModulesModel *model() { return list()->model(); }
    int rowOf(int tag) { return model()->rowOf(tag).value_or(-1); }
    QString cell(int tag, ModuleColumn column) { return model()->cell(rowOf(tag), column); }

    lyx::tags::TagTable::Clock::time_point moduleNow{std::chrono::hours(5)};
};

}  // namespace

TEST_F(ModuleList, TheButtonAndCtrlMOpenOneWindowThatListsEveryModuleHeard) {
    open();
    auto *button = control<ImageButton>(*window, "CBMODULES");
    EXPECT_EQ(button->accessibleName(), QStringLiteral("All modules"));
    EXPECT_EQ(button->toolTip(), QStringLiteral("Show every module heard"));
    EXPECT_GT(button->x(), control<ImageButton>(*window, "bROADCASTwake")->x());
    hearThree();
    EXPECT_EQ(window->modulesWindow(), nullptr) << "made on first use";

    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    Q_EMIT button->Click();
    ModulesWindow *w = window->modulesWindow();
    ASSERT_NE(w, nullptr);
    EXPECT_TRUE(w->isVisible());
    EXPECT_EQ(w->windowTitle(), QStringLiteral("Lyx Glance - All modules"));
    EXPECT_EQ(w->parentWidget(), window.get());
    EXPECT_TRUE(w->isWindow());
    EXPECT_EQ(w->windowModality(), Qt::NonModal);
    w->hide();
    window->activateWindow();
    QTest::keyClick(window.get(), Qt::Key_M, Qt::ControlModifier);
    EXPECT_EQ(window->modulesWindow(), w) << "the same window again";
    EXPECT_TRUE(w->isVisible());
    w->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(w));
    QTest::keyClick(w->table(), Qt::Key_Escape);
    EXPECT_FALSE(w->isVisible()) << "Escape closes it";
    Q_EMIT button->Click();
    EXPECT_TRUE(w->isVisible());

    // One row per tag, with the columns' texts.
    ModulesModel *m = w->model();
    ASSERT_EQ(m->rowCount(), 3);
    EXPECT_EQ(m->headerData(int(ModuleColumn::Rate), Qt::Horizontal).toString(),
              QStringLiteral("Packets/s"));
    EXPECT_EQ(cell(0x4D2, ModuleColumn::Tag), QStringLiteral("04D2"));
    EXPECT_EQ(cell(0x4D2, ModuleColumn::Value), QStringLiteral("12.750"));
    EXPECT_EQ(cell(0x4D2, ModuleColumn::Error), QStringLiteral("Error"));
    EXPECT_EQ(cell(0x4D2, ModuleColumn::Battery), QString());
    EXPECT_EQ(cell(0x4D2, ModuleColumn::Quality), QStringLiteral("76"));
    EXPECT_EQ(cell(0x4D2, ModuleColumn::LastHeard), QStringLiteral("now"));
    EXPECT_EQ(cell(0x4D3, ModuleColumn::Value), QStringLiteral("99.000"));
    EXPECT_EQ(cell(0x10, ModuleColumn::Value), QStringLiteral("binary"));
    EXPECT_EQ(cell(0x10, ModuleColumn::Battery), QStringLiteral("Low"));
    EXPECT_EQ(cell(0x10, ModuleColumn::Station), QStringLiteral("2"));
    EXPECT_EQ(cell(0x10, ModuleColumn::Name), QString()) << "no names yet";

    // The followed module's row is bold and described as followed; the others are not.
    const QModelIndex followed = m->index(rowOf(0x4D2), int(ModuleColumn::Value));
    const QModelIndex other = m->index(rowOf(0x4D3), int(ModuleColumn::Value));
    EXPECT_TRUE(m->data(followed, Qt::FontRole).value<QFont>().bold());
    EXPECT_EQ(m->data(followed, Qt::AccessibleDescriptionRole).toString(),
              QStringLiteral("followed"));
    EXPECT_FALSE(m->data(other, Qt::FontRole).isValid());
    EXPECT_EQ(m->data(other, Qt::AccessibleDescriptionRole).toString(), QString());

    // The table tells assistive tools what it holds: a table, a cell per value, the titles.
    QAccessibleInterface *table = QAccessible::queryAccessibleInterface(w->table());
    ASSERT_NE(table, nullptr);
    EXPECT_EQ(table->role(), QAccessible::Table);
    QAccessibleTableInterface *cells = table->tableInterface();
    ASSERT_NE(cells, nullptr);
    EXPECT_EQ(cells->rowCount(), 3);
    EXPECT_EQ(cells->columnCount(), kModuleColumns);
    EXPECT_EQ(cells->columnDescription(int(ModuleColumn::LastHeard)), QStringLiteral("Last heard"));
    QAccessibleInterface *valueCell = cells->cellAt(rowOf(0x4D2), int(ModuleColumn::Value));
    ASSERT_NE(valueCell, nullptr);
    EXPECT_EQ(valueCell->role(), QAccessible::Cell);
    EXPECT_EQ(valueCell->text(QAccessible::Name), QStringLiteral("12.750"));
    EXPECT_EQ(valueCell->text(QAccessible::Description), QStringLiteral("followed"));
}

TEST_F(ModuleList, TheTagFileNamesTheModulesAndAMalformedOneIsReportedWithItsLine) {
    // The file lyx and its gateway read, in the per-user configuration folder.
    ASSERT_TRUE(QDir().mkpath(path(QStringLiteral("config/lyx"))));
    const auto write = [&](const char *text) {
        QFile file(path(QStringLiteral("config/lyx/tags.ini")));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(text);
    };
    write("[0x4D2]\nname = Crane load\nunit = kg\n[16]\nname = Gate\n");
    open();
    hearThree();
    EXPECT_EQ(cell(0x4D2, ModuleColumn::Name), QStringLiteral("Crane load"));
    EXPECT_EQ(cell(0x4D2, ModuleColumn::Unit), QStringLiteral("kg"));
    EXPECT_EQ(cell(0x10, ModuleColumn::Name), QStringLiteral("Gate"));
    EXPECT_EQ(cell(0x4D3, ModuleColumn::Name), QString());
    EXPECT_TRUE(boxes_.shown.empty());
    closeWindow(*window);

    write("[0x4D2]\nname = Crane load\nunits = kg\n");
    auto second = makeWindow();
    ASSERT_EQ(second->load(), MainFrm::LoadResult::Running);
    ASSERT_EQ(boxes_.shown.size(), 1u);
    EXPECT_EQ(boxes_.shown[0].caption, QStringLiteral("Tag file"));
    EXPECT_EQ(boxes_.shown[0].flags, std::uint32_t(LYX_MB_OK | LYX_MB_ICONWARNING));
    EXPECT_TRUE(boxes_.shown[0].text.startsWith(path(QStringLiteral("config/lyx/tags.ini")) +
                                                QStringLiteral(":3: unknown key 'units'")))
        << boxes_.shown[0].text.toStdString();
    closeWindow(*second);
}

TEST_F(ModuleList, AModuleSilentBeyondTheLostSignalTimeIsDimmedAndOnlyChangedRowsAreAnnounced) {
    open();
    hearThree();
    ModulesModel *m = model();
    EXPECT_EQ(list()->refresh(), 0) << "nothing changed since the window opened";

    // 0x4D3 falls silent; 0x4D2 keeps sending (three packets a second).
    for (int i = 0; i < 10; ++i)
        feedAt(floatFrame(0x4D2, 12.75f, {.error = true}), milliseconds(334));
    QSignalSpy changes(m, &QAbstractItemModel::dataChanged);
    list()->refresh();
    const int silent = rowOf(0x4D3);
    EXPECT_TRUE(m->isLost(silent));
    EXPECT_EQ(cell(0x4D3, ModuleColumn::LastHeard), QStringLiteral("Lost Signal (3 s)"));
    EXPECT_EQ(m->data(m->index(silent, 0), Qt::ForegroundRole).value<QColor>(),
              ModulesModel::lostColour());
    EXPECT_FALSE(m->isLost(rowOf(0x4D2)));
    EXPECT_EQ(cell(0x4D2, ModuleColumn::LastHeard), QStringLiteral("now"));
    EXPECT_EQ(cell(0x4D2, ModuleColumn::Rate), QStringLiteral("3.0"));
    // The rows of 0x10 and 0x4D3 went quiet, 0x4D2's rate changed: every row, and each once.
    int announced = 0;
    for (const QList<QVariant> &signal : changes)
        announced += signal[1].toModelIndex().row() - signal[0].toModelIndex().row() + 1;
    EXPECT_EQ(announced, 3);
    changes.clear();
    EXPECT_EQ(list()->refresh(), 0);
    EXPECT_TRUE(changes.isEmpty());

    // The lost-signal time is the main window's: 3 s is still heard, a moment more is not.
    feedAt(int32Frame(0x4D3, 5));
    pass(milliseconds(3000));
    list()->refresh();
    EXPECT_FALSE(m->isLost(rowOf(0x4D3)));
    pass(milliseconds(1));
    list()->refresh();
    EXPECT_TRUE(m->isLost(rowOf(0x4D3)));
    EXPECT_GE(ModulesWindow::kRefreshInterval, 1000 / 3) << "at most three refreshes a second";
}

TEST_F(ModuleList, SortsByEachColumnsMeaningAndKeepsTheOrderAsValuesChange) {
    open();
    feedAt(int32Frame(0x30, 9));
    feedAt(int32Frame(0x20, 100));
    feedAt(stringFrame(0x40, "abc"));
    feedAt(int32Frame(0x10, -5));
    ModulesWindow *w = list();
    ModulesModel *m = w->model();
    const auto order = [&] {
        std::vector<int> tags;
        for (int r = 0; r < m->rowCount(); ++r)
            tags.push_back(*m->tagAt(r));
        return tags;
    };
    EXPECT_EQ(order(), (std::vector<int>{0x10, 0x20, 0x30, 0x40})) << "by tag at first";

    // By value: as numbers (9 before 100, not as text), binary values after the numbers.
    w->table()->sortByColumn(int(ModuleColumn::Value), Qt::AscendingOrder);
    EXPECT_EQ(order(), (std::vector<int>{0x10, 0x30, 0x20, 0x40}));
    w->table()->sortByColumn(int(ModuleColumn::Value), Qt::DescendingOrder);
    EXPECT_EQ(order(), (std::vector<int>{0x40, 0x20, 0x30, 0x10}));

    // A new value moves its row at the next refresh; the current row stays on its module.
    w->table()->sortByColumn(int(ModuleColumn::Value), Qt::AscendingOrder);
    w->table()->setCurrentIndex(m->index(0, 0));  // 0x10
    feedAt(int32Frame(0x10, 500));
    w->refresh();
    EXPECT_EQ(order(), (std::vector<int>{0x30, 0x20, 0x10, 0x40}));
    EXPECT_EQ(*m->tagAt(w->table()->currentIndex().row()), 0x10);

    // By last heard: the most recent first when ascending (the youngest age).
    w->table()->horizontalHeader()->setSortIndicator(int(ModuleColumn::LastHeard),
                                                     Qt::AscendingOrder);
    EXPECT_EQ(m->sortColumn(), int(ModuleColumn::LastHeard));
    EXPECT_EQ(order(), (std::vector<int>{0x10, 0x40, 0x20, 0x30}));
}

TEST_F(ModuleList, EnterOrADoubleClickFollowsTheModuleAtOnce) {
    open();
    hearThree();
    window->show();
    ModulesWindow *w = list();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(w));
    QTableView *table = w->table();
    ASSERT_EQ(window->followedTag(), 0x4D2);

    table->setCurrentIndex(w->model()->index(rowOf(0x4D3), 0));
    QTest::keyClick(table, Qt::Key_Return);
    EXPECT_EQ(window->followedTag(), 0x4D3);
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Lyx Glance - 4D3"));
    EXPECT_EQ(control<eLCDText>(*window, "TagLabel")->caption(), QStringLiteral("4D3"));
    EXPECT_EQ(control<eLCD>(*window, "eLCD1")->caption(), QStringLiteral(" 99.000"))
        << "its last reading at once";
    EXPECT_FALSE(control<eLCDText>(*window, "SearchLabel")->isVisibleTo(window.get()));
    EXPECT_EQ(window->chart()->sampleCount(), 0) << "the chart starts afresh";
    EXPECT_TRUE(control<ImageButton>(*window, "CBZERO")->buttonEnabled());
    // Its packets are shown from then on; the old module's are not.
    feedAt(int32Frame(0x4D2, 7));
    feedAt(int32Frame(0x4D3, 42));
    EXPECT_EQ(control<eLCD>(*window, "eLCD1")->caption(), QStringLiteral(" 42.000"));
    EXPECT_EQ(window->chart()->sampleCount(), 1);
    w->refresh();
    EXPECT_TRUE(w->model()->isFollowed(rowOf(0x4D3)));
    EXPECT_FALSE(w->model()->isFollowed(rowOf(0x4D2)));

    // A double-click on a module gone quiet follows it and shows the lost signal.
    pass(milliseconds(5000));
    feedAt(floatFrame(0x4D2, 1.0f));
    w->refresh();
    const QRect quiet = table->visualRect(w->model()->index(rowOf(0x10), 0));
    // A widget test's double-click is one event; a user's starts with a click.
    QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, quiet.center());
    QTest::mouseDClick(table->viewport(), Qt::LeftButton, {}, quiet.center());
    EXPECT_EQ(window->followedTag(), 0x10);
    EXPECT_TRUE(control<eLCDText>(*window, "NoCommsLabel")->isVisibleTo(window.get()));
    EXPECT_EQ(control<eLCD>(*window, "eLCD1")->caption(), QStringLiteral("------"));
    EXPECT_FALSE(control<ImageButton>(*window, "CBZERO")->buttonEnabled());
}

TEST_F(ModuleList, SortPlaceSizeAndOpennessAreStoredAndRestored) {
    open();
    hearThree();
    window->show();
    ModulesWindow *w = list();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(w));
    w->table()->sortByColumn(int(ModuleColumn::Rate), Qt::DescendingOrder);
    w->setGeometry(120, 90, 600, 300);
    const QPoint place = w->pos();  // the outside's corner
    closeWindow(*window);
    window.reset();
    const auto stored = [&](const char *key) {
        return ReadIniString(iniFile(), QStringLiteral("Modules"), QString::fromLatin1(key), {});
    };
    EXPECT_EQ(stored("Open"), QStringLiteral("1"));
    EXPECT_EQ(stored("SortColumn"), QStringLiteral("4"));
    EXPECT_EQ(stored("SortOrder"), QStringLiteral("1"));
    EXPECT_EQ(stored("Width"), QStringLiteral("9000"));
    EXPECT_EQ(stored("Height"), QStringLiteral("4500"));

    // The next start opens the list where it was, sorted as it was.
    open();
    window->show();
    QCoreApplication::processEvents();
    ModulesWindow *again = window->modulesWindow();
    ASSERT_NE(again, nullptr) << "opened by the start-up";
    EXPECT_TRUE(again->isVisible());
    EXPECT_EQ(again->pos(), place);
    EXPECT_EQ(again->size(), QSize(600, 300));
    EXPECT_EQ(again->model()->sortColumn(), int(ModuleColumn::Rate));
    EXPECT_EQ(again->model()->sortOrder(), Qt::DescendingOrder);
    EXPECT_EQ(again->table()->horizontalHeader()->sortIndicatorSection(), int(ModuleColumn::Rate));

    // Closed by the user, it stays closed at the next start.
    again->close();
    closeWindow(*window);
    window.reset();
    EXPECT_EQ(stored("Open"), QStringLiteral("0"));
    EXPECT_EQ(stored("Width"), QStringLiteral("9000"));
    open();
    QCoreApplication::processEvents();
    EXPECT_EQ(window->modulesWindow(), nullptr);
}

TEST_F(ModuleList, ADoubleClickOrTheMenuSwitchesTheChartToItsAutoScaleAndItIsKept) {
    open();
    auto *panel = control<PictureBox>(*window, "ChartPanel");
    EXPECT_FALSE(window->chartAutoScale()) << "the fixed scale by default";
    EXPECT_FALSE(window->chart()->autoScale());
    QTest::mouseDClick(panel, Qt::LeftButton);
    EXPECT_TRUE(window->chartAutoScale());
    EXPECT_TRUE(window->chart()->autoScale());
    EXPECT_TRUE(panel->toolTip().contains(QStringLiteral("fixed scale")));
    auto *menu = panel->findChild<QMenu *>(QStringLiteral("ChartMenu"));
    ASSERT_NE(menu, nullptr);
    QAction *entry = menu->actions().value(0);
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(entry->text(), QStringLiteral("Auto scale"));
    EXPECT_TRUE(entry->isCheckable() && entry->isChecked()) << "the check mark";

    // Values 975 to 1 025 fill the chart's height instead of one row.
    for (int i = 0; i < 40; ++i)
        feedAt(floatFrame(0x4D2, 975.0f + float(i % 3) * 25.0f), milliseconds(310));
    ASSERT_TRUE(window->chart()->autoRange());
    EXPECT_NEAR(window->chart()->autoRange()->top - window->chart()->autoRange()->bottom, 60.0,
                1e-3);
    EXPECT_EQ(ReadIniString(iniFile(), QStringLiteral("Chart"), QStringLiteral("AutoScale"), {}),
              QStringLiteral("1"));

    // A search starts the chart afresh in the same scale; the next start reads it back.
    Q_EMIT control<ImageButton>(*window, "btnSearch")->Click();
    EXPECT_TRUE(window->chart()->autoScale());
    closeWindow(*window);
    window.reset();
    open();
    EXPECT_TRUE(window->chartAutoScale());
    EXPECT_TRUE(window->chart()->autoScale());
    panel = control<PictureBox>(*window, "ChartPanel");
    panel->findChild<QMenu *>(QStringLiteral("ChartMenu"))->actions().value(0)->trigger();
    EXPECT_FALSE(window->chart()->autoScale());
    EXPECT_EQ(ReadIniString(iniFile(), QStringLiteral("Chart"), QStringLiteral("AutoScale"), {}),
              QStringLiteral("0"));
}
