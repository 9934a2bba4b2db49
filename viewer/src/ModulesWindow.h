#pragma once

#include "ModulesModel.h"

#include "lyx/tags/tag_table.hpp"

#include <QWidget>

#include <array>
#include <cstdint>
#include <functional>
#include <optional>

class QLabel;
class QTableView;
class QTimer;

namespace lyx::viewer {

/// The window "Lyx Glance - All modules": every module heard since start-up in a table (see
/// ModulesModel), refreshed at most three times a second while the window is shown. A
/// double-click or Enter on a row asks the main window to follow that module (`follow`);
/// Escape closes the window.
///
/// A window of its own that belongs to the main window and does not block it. Its sort,
/// place and size, and whether it was open, are kept in config.ini, section "Modules":
/// "Open" (1 or 0), "Left" and "Top" (the outside's top-left corner, twips), "Width" and
/// "Height" (the inside, twips), "SortColumn" (0 to 9, the columns' order) and "SortOrder"
/// (0 ascending, 1 descending).
///
/// GUI thread only; the table of tags must outlive the window.
class ModulesWindow : public QWidget {
    Q_OBJECT
  public:
    /// Refreshes are at least this far apart.
    static constexpr int kRefreshInterval = 334;  // milliseconds

    /// `view` gives what a refresh needs besides the table: the followed tag, the display's
    /// digit budget, the decimal separator and the time.
    ModulesWindow(const tags::TagTable &table, std::function<ModulesModel::View()> view,
                  QWidget *parent = nullptr);

    ModulesModel *model() const { return model_; }
    QTableView *table() const { return table_; }
    /// Takes a new picture of the table now; returns the rows that changed.
    int refresh();
    /// Refreshes since the window was made.
    std::uint64_t refreshes() const { return refreshes_; }

    /// Whether config.ini says the window was open when the program last ended.
    static bool storedOpen(const QString &iniPath);
    /// Applies the stored sort, place and size; with none stored, the window takes a size
    /// of its own and its top-left corner goes to `defaultCorner`.
    void readSettings(const QString &iniPath, QPoint defaultCorner);
    /// Stores the sort and whether the window is open, and its place and size unless it is
    /// minimised, maximised or was never shown.
    void writeSettings(const QString &iniPath) const;

  Q_SIGNALS:
    /// The user asked to follow the module of `tag`.
    void follow(int tag);

  protected:
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

  private:
    void followRow(int row);
    void sizeColumns();
    void fitColumns();
    void showCount();

    const tags::TagTable &tags_;
    std::function<ModulesModel::View()> view_;
    ModulesModel *model_ = nullptr;
    QTableView *table_ = nullptr;
    QLabel *count_ = nullptr;
    QTimer *timer_ = nullptr;
    std::array<int, kModuleColumns> columnWidths_{};  ///< for the usual texts
    std::uint64_t refreshes_ = 0;
    bool shownOnce_ = false;
};

}  // namespace lyx::viewer
