#pragma once

#include "ModuleCells.h"

#include "lyx/tags/tag_table.hpp"

#include <QAbstractTableModel>
#include <QColor>

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <vector>

namespace lyx::viewer {

/// The module list as an item model: one row per tag of a table of tags, the columns of
/// `ModuleColumn`, the texts of ModuleCells.h.
///
/// The rows are a picture taken by `refresh`: it adds the tags heard since, recomputes every
/// cell and announces only the rows whose cells changed (and a new order when the sort puts
/// them in another one). Between refreshes the model does not change, so the view may ask
/// for cells as often as it likes.
///
/// The followed module's row is bold, in the display's lit colour, with the accessible
/// description "followed"; a module no longer heard is dimmed. Sorting (`sort`, called by a
/// view's header) is by each column's meaning: numbers as numbers (binary values after
/// them), ages by time, texts without regard to case; ties by tag.
class ModulesModel : public QAbstractTableModel {
    Q_OBJECT
  public:
    /// The tag of a row, for `data` and views.
    static constexpr int TagRole = Qt::UserRole + 1;

    explicit ModulesModel(QObject *parent = nullptr);

    /// What a refresh needs besides the table.
    struct View {
        std::int32_t followedTag = 0;  ///< 0: none (searching)
        std::int16_t digitBudget = 5;  ///< the display's digit budget, 2 to 5
        QString decimalSeparator = QStringLiteral(".");
        tags::TagTable::Clock::time_point now;
    };
    /// Takes a new picture of `table`. Returns how many rows changed (new ones included).
    int refresh(const tags::TagTable &table, const View &view);

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    void sort(int column, Qt::SortOrder order = Qt::AscendingOrder) override;

    int sortColumn() const { return sortColumn_; }
    Qt::SortOrder sortOrder() const { return sortOrder_; }
    /// The tag shown in `row`; nothing outside the rows.
    std::optional<int> tagAt(int row) const;
    /// The row that shows `tag`; nothing when it is not listed.
    std::optional<int> rowOf(int tag) const;
    /// The text of a cell, as the view shows it.
    QString cell(int row, ModuleColumn column) const;
    bool isFollowed(int row) const;
    bool isLost(int row) const;

    /// The colours of the list on its dark face.
    static QColor textColour();
    static QColor followedColour();
    static QColor lostColour();
    static QColor warningColour();

  private:
    struct Row {
        int tag = 0;
        std::array<QString, kModuleColumns> cells;
        ModuleValueFormat format;
        std::uint64_t packets = 0;  ///< when the value was last formatted
        std::int16_t budget = -1;
        std::optional<double> number;
        double rate = 0;
        float quality = 0;
        std::chrono::milliseconds age{0};
        int station = 0;
        bool battLow = false;
        bool error = false;
        bool followed = false;
        bool lost = false;
        bool changed = false;  ///< by the last refresh (new rows are announced as inserted)
    };
    /// Whether `a` goes before `b` in the current sort.
    bool before(const Row &a, const Row &b) const;
    /// Puts the rows in the order of the sort, announcing a new order if there is one.
    void applyOrder();

    std::map<int, Row> rows_;   ///< by tag
    std::vector<Row *> order_;  ///< the rows as shown
    int sortColumn_ = 0;
    Qt::SortOrder sortOrder_ = Qt::AscendingOrder;
};

}  // namespace lyx::viewer
