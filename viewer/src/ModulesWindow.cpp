#include "ModulesWindow.h"

#include "INIFileModule.h"
#include "StoredNumbers.h"

#include "lyx/controls/Twips.h"

#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QStyledItemDelegate>
#include <QTableView>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>

namespace lyx::viewer {

namespace {

const QString kSection = QStringLiteral("Modules");

// The list's face: the LCD panels' dark grey, a shade darker for the rows.
const QColor kRowColour(38, 38, 38);
const QColor kAlternateRowColour(45, 45, 45);
const QColor kPanelColour(53, 53, 53);
const QColor kGridColour(62, 62, 62);
const QColor kHeaderTextColour(200, 200, 200);
const QColor kSelectionColour(96, 24, 24);
const QColor kScrollHandleColour(96, 96, 96);

// The window's size in pixels when none is stored.
constexpr int kDefaultWidth = 800;
constexpr int kDefaultHeight = 340;

/// The table: Enter (or Return) on a row asks to follow it, Escape closes the window; a new
/// size spreads the columns.
class Table : public QTableView {
  public:
    Table(QWidget *parent, std::function<void(int)> enter, std::function<void()> resized)
        : QTableView(parent), enter_(std::move(enter)), resized_(std::move(resized)) {}

  protected:
    void resizeEvent(QResizeEvent *event) override {
        QTableView::resizeEvent(event);
        resized_();
    }
    void keyPressEvent(QKeyEvent *event) override {
        if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) &&
            currentIndex().isValid()) {
            enter_(currentIndex().row());
            event->accept();
            return;
        }
        // Escape closes the list, as it closes other small windows.
        if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
            window()->close();
            event->accept();
            return;
        }
        QTableView::keyPressEvent(event);
    }

  private:
    std::function<void(int)> enter_;
    std::function<void()> resized_;
};

/// Draws a selected row's text in the row's own colour (dimmed, lit, warning), which the
/// selection would otherwise replace with one colour for all.
class RowColours : public QStyledItemDelegate {
  public:
    using QStyledItemDelegate::QStyledItemDelegate;

  protected:
    void initStyleOption(QStyleOptionViewItem *option, const QModelIndex &index) const override {
        QStyledItemDelegate::initStyleOption(option, index);
        const QVariant colour = index.data(Qt::ForegroundRole);
        option->palette.setBrush(QPalette::HighlightedText, colour.isValid()
                                                                ? colour.value<QColor>()
                                                                : ModulesModel::textColour());
    }
};

QString listStyle() {
    const auto rgb = [](const QColor &c) { return c.name(QColor::HexRgb); };
    return QStringLiteral(
               "QTableView { background: %1; alternate-background-color: %2; color: %3;"
               " gridline-color: %4; selection-background-color: %5;"
               " border: none; }"
               "QTableView::item { padding: 0px 5px; border: none; }"
               "QHeaderView { background: %6; border: none; }"
               "QHeaderView::section { background: %6; color: %7; border: none;"
               " border-right: 1px solid %4; border-bottom: 1px solid %4; padding: 3px 6px; }"
               "QTableCornerButton::section { background: %6; border: none; }"
               "QScrollBar { background: %6; border: none; }"
               "QScrollBar:vertical { width: 12px; } QScrollBar:horizontal { height: 12px; }"
               "QScrollBar::handle { background: %8; border-radius: 4px; margin: 2px; }"
               "QScrollBar::handle:vertical { min-height: 24px; }"
               "QScrollBar::handle:horizontal { min-width: 24px; }"
               "QScrollBar::add-line, QScrollBar::sub-line { width: 0; height: 0; }"
               "QScrollBar::add-page, QScrollBar::sub-page { background: none; }"
               "QLabel#ModulesCount { color: %7; padding: 3px 8px; }")
        .arg(rgb(kRowColour), rgb(kAlternateRowColour), rgb(ModulesModel::textColour()),
             rgb(kGridColour), rgb(kSelectionColour), rgb(kPanelColour), rgb(kHeaderTextColour),
             rgb(kScrollHandleColour));
}

}  // namespace

ModulesWindow::ModulesWindow(const tags::TagTable &table, std::function<ModulesModel::View()> view,
                             QWidget *parent)
    : QWidget(parent, Qt::Window), tags_(table), view_(std::move(view)) {
    setObjectName(QStringLiteral("ModulesWindow"));
    setWindowTitle(QStringLiteral("Lyx Glance - All modules"));
    setAttribute(Qt::WA_DeleteOnClose, false);
    QPalette face = palette();
    face.setColor(QPalette::Window, kPanelColour);
    face.setColor(QPalette::WindowText, kHeaderTextColour);
    setPalette(face);
    setAutoFillBackground(true);
    setStyleSheet(listStyle());

    model_ = new ModulesModel(this);
    table_ = new Table(
        this, [this](int row) { followRow(row); }, [this] { fitColumns(); });
    table_->setObjectName(QStringLiteral("ModulesTable"));
    table_->setAccessibleName(QStringLiteral("All modules"));
    table_->setModel(model_);
    table_->setItemDelegate(new RowColours(table_));
    table_->setSelectionBehavior(QAbstractItemView::SelectRows);
    table_->setSelectionMode(QAbstractItemView::SingleSelection);
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table_->setAlternatingRowColors(true);
    table_->setShowGrid(false);
    table_->setWordWrap(false);
    table_->setTextElideMode(Qt::ElideRight);
    table_->verticalHeader()->setVisible(false);
    table_->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    table_->verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 8);
    table_->horizontalHeader()->setHighlightSections(false);
    table_->horizontalHeader()->setSectionsMovable(false);
    table_->setSortingEnabled(true);
    table_->sortByColumn(int(ModuleColumn::Tag), Qt::AscendingOrder);
    table_->setToolTip(
        QStringLiteral("Double-click a module, or press Enter on it, to follow it in the main "
                       "window"));
    connect(table_, &QTableView::doubleClicked, this,
            [this](const QModelIndex &index) { followRow(index.row()); });
    sizeColumns();

    count_ = new QLabel(this);
    count_->setObjectName(QStringLiteral("ModulesCount"));

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(table_);
    layout->addWidget(count_);
    showCount();

    timer_ = new QTimer(this);
    timer_->setInterval(kRefreshInterval);
    connect(timer_, &QTimer::timeout, this, [this] { refresh(); });
    resize(kDefaultWidth, kDefaultHeight);
    setMinimumSize(420, 160);
}

int ModulesWindow::refresh() {
    ++refreshes_;
    const int changed = model_->refresh(tags_, view_());
    if (changed > 0) showCount();
    return changed;
}

void ModulesWindow::showCount() {
    int lost = 0;
    const int rows = model_->rowCount();
    for (int r = 0; r < rows; ++r)
        if (model_->isLost(r)) ++lost;
    QString text = rows == 0   ? QStringLiteral("No module heard yet")
                   : rows == 1 ? QStringLiteral("1 module heard")
                               : QStringLiteral("%1 modules heard").arg(rows);
    if (lost > 0) text += QStringLiteral(", %1 with lost signal").arg(lost);
    text += QStringLiteral(". Double-click one, or press Enter, to follow it.");
    count_->setText(text);
}

void ModulesWindow::followRow(int row) {
    if (const auto tag = model_->tagAt(row)) Q_EMIT follow(*tag);
}

void ModulesWindow::sizeColumns() {
    // Wide enough for the title (and the sort mark) and for the longest usual text.
    const QFontMetrics metrics(font());
    QFont bold = font();
    bold.setBold(true);
    const QFontMetrics boldMetrics(bold);
    const auto sample = [](ModuleColumn c) {
        switch (c) {
            case ModuleColumn::Tag:
                return QStringLiteral("DDDD");
            case ModuleColumn::Name:
                return QStringLiteral("Crane hook left");
            case ModuleColumn::Value:
                return QStringLiteral("-0000.000");
            case ModuleColumn::Unit:
                return QStringLiteral("kg/m");
            case ModuleColumn::Rate:
                return QStringLiteral("000.0");
            case ModuleColumn::Quality:
                return QStringLiteral("100");
            case ModuleColumn::Battery:
                return QStringLiteral("Low");
            case ModuleColumn::Error:
                return QStringLiteral("Error");
            case ModuleColumn::LastHeard:
                return QStringLiteral("Lost Signal (12 s)");
            case ModuleColumn::Station:
                return QStringLiteral("3");
        }
        return QString();
    };
    QHeaderView *header = table_->horizontalHeader();
    for (int c = 0; c < kModuleColumns; ++c) {
        const auto column = ModuleColumn(c);
        const int title = metrics.horizontalAdvance(moduleColumnTitle(column)) + 22;
        const int content = boldMetrics.horizontalAdvance(sample(column)) + 14;
        columnWidths_[std::size_t(c)] = std::max(title, content);
        header->resizeSection(c, columnWidths_[std::size_t(c)]);
    }
}

void ModulesWindow::fitColumns() {
    // A wider table spreads its room over the columns in proportion to their widths, up to
    // twice those, so that no column grows alone into a gap and a row stays easy to follow
    // on a large screen; a narrower one scrolls.
    int total = 0;
    for (int w : columnWidths_)
        total += w;
    if (total <= 0) return;
    const int room = std::min(table_->viewport()->width(), 2 * total);
    QHeaderView *header = table_->horizontalHeader();
    int used = 0;
    for (int c = 0; c < kModuleColumns; ++c) {
        const int base = columnWidths_[std::size_t(c)];
        int width = room > total ? base * room / total : base;
        if (c == kModuleColumns - 1 && room > total) width = room - used;
        header->resizeSection(c, width);
        used += width;
    }
}

void ModulesWindow::showEvent(QShowEvent *event) {
    QWidget::showEvent(event);
    shownOnce_ = true;
    refresh();
    timer_->start();
    // The keyboard starts on the followed module's row.
    if (!table_->currentIndex().isValid()) {
        if (const auto row = model_->rowOf(view_().followedTag & 0xFFFF))
            table_->setCurrentIndex(model_->index(*row, 0));
    }
    table_->setFocus();
}

void ModulesWindow::hideEvent(QHideEvent *event) {
    timer_->stop();
    QWidget::hideEvent(event);
}

bool ModulesWindow::storedOpen(const QString &iniPath) {
    return ReadIniString(iniPath, kSection, QStringLiteral("Open"), QStringLiteral("0"))
               .trimmed() == QStringLiteral("1");
}

void ModulesWindow::readSettings(const QString &iniPath, QPoint defaultCorner) {
    const auto stored = [&](const char *key) -> std::optional<double> {
        const QString text = ReadIniString(iniPath, kSection, QString::fromLatin1(key), {});
        if (text.trimmed().isEmpty()) return std::nullopt;
        return storedNumberValue(text);
    };
    const int column = int(stored("SortColumn").value_or(0));
    const bool descending = stored("SortOrder").value_or(0) == 1;
    table_->sortByColumn(std::clamp(column, 0, kModuleColumns - 1),
                         descending ? Qt::DescendingOrder : Qt::AscendingOrder);

    const auto left = stored("Left");
    const auto top = stored("Top");
    const auto width = stored("Width");
    const auto height = stored("Height");
    if (left && top && width && height) {
        move(controls::twips::wholePixelsX(*this, *left),
             controls::twips::wholePixelsY(*this, *top));
        resize(std::max(minimumWidth(), controls::twips::wholePixelsX(*this, *width)),
               std::max(minimumHeight(), controls::twips::wholePixelsY(*this, *height)));
    } else {
        move(defaultCorner);
    }
}

void ModulesWindow::writeSettings(const QString &iniPath) const {
    const auto write = [&](const char *key, const QString &value) {
        WriteIniString(iniPath, kSection, QString::fromLatin1(key), value);
    };
    write("Open", isVisible() ? QStringLiteral("1") : QStringLiteral("0"));
    write("SortColumn", QString::number(model_->sortColumn()));
    write("SortOrder",
          model_->sortOrder() == Qt::DescendingOrder ? QStringLiteral("1") : QStringLiteral("0"));
    if (!shownOnce_ ||
        (windowState() & (Qt::WindowMinimized | Qt::WindowMaximized | Qt::WindowFullScreen)))
        return;
    write("Left", storedNumberText(controls::twips::fromPixelsX(*this, x())));
    write("Top", storedNumberText(controls::twips::fromPixelsY(*this, y())));
    write("Width", storedNumberText(controls::twips::fromPixelsX(*this, width())));
    write("Height", storedNumberText(controls::twips::fromPixelsY(*this, height())));
}

}  // namespace lyx::viewer
