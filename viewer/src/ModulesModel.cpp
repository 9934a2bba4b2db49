#include "ModulesModel.h"

#include <QFont>

#include <algorithm>

namespace lyx::viewer {

namespace {

using Clock = tags::TagTable::Clock;

QString fromBytes(const std::string &text) {
    return QString::fromUtf8(text.data(), qsizetype(text.size()));
}

/// -1, 0 or 1 as `a` is less than, equal to or greater than `b`.
template <typename T>
int compare(const T &a, const T &b) {
    return a < b ? -1 : (b < a ? 1 : 0);
}

}  // namespace

ModulesModel::ModulesModel(QObject *parent) : QAbstractTableModel(parent) {}

int ModulesModel::refresh(const tags::TagTable &table, const View &view) {
    std::vector<Row *> added;
    for (const auto &[tag, entry] : table) {
        auto [it, isNew] = rows_.try_emplace(tag);
        Row &row = it->second;
        const auto was = row.cells;
        const bool wasFollowed = row.followed;
        const bool wasLost = row.lost;
        if (isNew) {
            row.tag = tag;
            row.cells[int(ModuleColumn::Tag)] = tagText(tag);
            added.push_back(&row);
        }
        const tags::Reading &last = entry.last;
        const tags::TagInfo &info = table.info(tag);
        row.cells[int(ModuleColumn::Name)] = fromBytes(info.name);
        row.cells[int(ModuleColumn::Unit)] = fromBytes(info.unit);
        // The value is formatted again only when a packet came (the scale follows values).
        if (isNew || entry.packets != row.packets || view.digitBudget != row.budget) {
            row.cells[int(ModuleColumn::Value)] =
                row.format.format(last.value, view.digitBudget, view.decimalSeparator);
            row.number = ModuleValueFormat::number(last.value);
            row.packets = entry.packets;
            row.budget = view.digitBudget;
        }
        row.rate = table.rate(entry, view.now);
        row.cells[int(ModuleColumn::Rate)] = rateText(row.rate, view.decimalSeparator);
        row.quality = linkQuality(last.rssi, last.cv);
        row.cells[int(ModuleColumn::Quality)] = qualityText(last.rssi, last.cv);
        row.battLow = last.battLow;
        row.cells[int(ModuleColumn::Battery)] = last.battLow ? QStringLiteral("Low") : QString();
        row.error = last.error;
        row.cells[int(ModuleColumn::Error)] = last.error ? QStringLiteral("Error") : QString();
        row.lost = !table.available(entry, view.now);
        row.age = std::chrono::duration_cast<std::chrono::milliseconds>(view.now - entry.lastHeard);
        row.cells[int(ModuleColumn::LastHeard)] = lastHeardText(row.age, row.lost);
        row.station = last.station;
        row.cells[int(ModuleColumn::Station)] = QString::number(last.station);
        row.followed = view.followedTag != 0 && (view.followedTag & 0xFFFF) == (tag & 0xFFFF);
        row.changed =
            !isNew && (row.cells != was || row.followed != wasFollowed || row.lost != wasLost);
    }

    if (!added.empty()) {
        const int first = int(order_.size());
        beginInsertRows({}, first, first + int(added.size()) - 1);
        order_.insert(order_.end(), added.begin(), added.end());
        endInsertRows();
    }
    applyOrder();

    // Only the rows whose cells changed are announced, in runs of neighbouring rows.
    int count = int(added.size());
    const auto changedAt = [this](std::size_t r) { return order_[r]->changed; };
    for (std::size_t r = 0; r < order_.size();) {
        if (!changedAt(r)) {
            ++r;
            continue;
        }
        std::size_t end = r;
        while (end + 1 < order_.size() && changedAt(end + 1))
            ++end;
        Q_EMIT dataChanged(index(int(r), 0), index(int(end), kModuleColumns - 1));
        count += int(end - r + 1);
        r = end + 1;
    }
    return count;
}

int ModulesModel::rowCount(const QModelIndex &parent) const {
    return parent.isValid() ? 0 : int(order_.size());
}

int ModulesModel::columnCount(const QModelIndex &parent) const {
    return parent.isValid() ? 0 : kModuleColumns;
}

QVariant ModulesModel::data(const QModelIndex &index, int role) const {
    if (!index.isValid() || index.row() >= int(order_.size()) || index.column() >= kModuleColumns)
        return {};
    const Row &row = *order_[std::size_t(index.row())];
    const auto column = ModuleColumn(index.column());
    switch (role) {
        case Qt::DisplayRole:
        case Qt::AccessibleTextRole:
            return row.cells[std::size_t(index.column())];
        case Qt::AccessibleDescriptionRole:
            return row.followed ? QStringLiteral("followed") : QString();
        case Qt::FontRole:
            if (row.followed) {
                QFont bold;
                bold.setBold(true);
                return bold;
            }
            return {};
        case Qt::ForegroundRole:
            if (row.lost) return lostColour();
            if ((column == ModuleColumn::Battery && row.battLow) ||
                (column == ModuleColumn::Error && row.error))
                return warningColour();
            if (row.followed) return followedColour();
            return {};
        case Qt::TextAlignmentRole:
            return QVariant::fromValue(Qt::AlignVCenter |
                                       (isNumericColumn(column) ? Qt::AlignRight : Qt::AlignLeft));
        case TagRole:
            return row.tag;
        default:
            return {};
    }
}

QVariant ModulesModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || section < 0 || section >= kModuleColumns) return {};
    const auto column = ModuleColumn(section);
    switch (role) {
        case Qt::DisplayRole:
        case Qt::AccessibleTextRole:
            return moduleColumnTitle(column);
        case Qt::TextAlignmentRole:
            return QVariant::fromValue(Qt::AlignVCenter |
                                       (isNumericColumn(column) ? Qt::AlignRight : Qt::AlignLeft));
        default:
            return {};
    }
}

void ModulesModel::sort(int column, Qt::SortOrder order) {
    if (column < 0 || column >= kModuleColumns) return;
    sortColumn_ = column;
    sortOrder_ = order;
    applyOrder();
}

bool ModulesModel::before(const Row &a, const Row &b) const {
    int c = 0;
    switch (ModuleColumn(sortColumn_)) {
        case ModuleColumn::Tag:
            break;
        case ModuleColumn::Name:
        case ModuleColumn::Unit:
            c = QString::compare(a.cells[std::size_t(sortColumn_)],
                                 b.cells[std::size_t(sortColumn_)], Qt::CaseInsensitive);
            break;
        case ModuleColumn::Value:
            // Numbers first, in order; then the binary values.
            if (a.number && b.number) {
                c = compare(*a.number, *b.number);
            } else {
                c = compare(!a.number.has_value(), !b.number.has_value());
            }
            break;
        case ModuleColumn::Rate:
            c = compare(a.rate, b.rate);
            break;
        case ModuleColumn::Quality:
            c = compare(a.quality, b.quality);
            break;
        case ModuleColumn::Battery:
            c = compare(a.battLow, b.battLow);
            break;
        case ModuleColumn::Error:
            c = compare(a.error, b.error);
            break;
        case ModuleColumn::LastHeard:
            c = compare(a.age, b.age);
            break;
        case ModuleColumn::Station:
            c = compare(a.station, b.station);
            break;
    }
    if (c == 0) c = compare(a.tag, b.tag);
    return sortOrder_ == Qt::AscendingOrder ? c < 0 : c > 0;
}

void ModulesModel::applyOrder() {
    std::vector<Row *> sorted = order_;
    std::stable_sort(sorted.begin(), sorted.end(),
                     [this](const Row *a, const Row *b) { return before(*a, *b); });
    if (sorted == order_) return;
    Q_EMIT layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    // Indexes held by the view (its current and selected cells) follow their rows.
    std::map<const Row *, int> newRow;
    for (std::size_t r = 0; r < sorted.size(); ++r)
        newRow[sorted[r]] = int(r);
    const QModelIndexList held = persistentIndexList();
    QModelIndexList moved;
    moved.reserve(held.size());
    for (const QModelIndex &i : held)
        moved.append(index(newRow[order_[std::size_t(i.row())]], i.column()));
    order_ = std::move(sorted);
    changePersistentIndexList(held, moved);
    Q_EMIT layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

std::optional<int> ModulesModel::tagAt(int row) const {
    if (row < 0 || row >= int(order_.size())) return std::nullopt;
    return order_[std::size_t(row)]->tag;
}

std::optional<int> ModulesModel::rowOf(int tag) const {
    for (std::size_t r = 0; r < order_.size(); ++r)
        if (order_[r]->tag == tag) return int(r);
    return std::nullopt;
}

QString ModulesModel::cell(int row, ModuleColumn column) const {
    if (row < 0 || row >= int(order_.size())) return {};
    return order_[std::size_t(row)]->cells[std::size_t(column)];
}

bool ModulesModel::isFollowed(int row) const {
    return row >= 0 && row < int(order_.size()) && order_[std::size_t(row)]->followed;
}

bool ModulesModel::isLost(int row) const {
    return row >= 0 && row < int(order_.size()) && order_[std::size_t(row)]->lost;
}

QColor ModulesModel::textColour() {
    return QColor(226, 226, 226);
}

QColor ModulesModel::followedColour() {
    return QColor(255, 72, 72);
}

QColor ModulesModel::lostColour() {
    return QColor(122, 122, 122);
}

QColor ModulesModel::warningColour() {
    return QColor(255, 176, 48);
}

}  // namespace lyx::viewer
