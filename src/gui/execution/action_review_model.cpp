#include "gui/execution/action_review_model.h"

#include <QBrush>
#include <QColor>

namespace paritas::gui {

void ActionReviewModel::fill(const ActionList& lines) {
    beginResetModel();
    lines_ = lines;
    ticks_.assign(lines_.size(), 1);
    endResetModel();
}

bool ActionReviewModel::isTickable(std::string_view line) {
    return actionKind(line) != ActionKind::CreateFolder && !isOriginalLine(line);
}

void ActionReviewModel::setTicked(int row, bool ticked) {
    if (row < 0 || row >= rowCount() || !isTickable(lines_[std::size_t(row)]))
        return;
    ticks_[std::size_t(row)] = ticked ? 1 : 0;
    const QModelIndex i = index(row);
    emit dataChanged(i, i, {Qt::CheckStateRole});
}

void ActionReviewModel::setLine(int row, std::string text) {
    lines_[std::size_t(row)] = std::move(text);
    const QModelIndex i = index(row);
    emit dataChanged(i, i);
}

ActionList ActionReviewModel::tickedLines() const {
    ActionList kept;
    kept.reserve(lines_.size());
    for (std::size_t i = 0; i < lines_.size(); ++i)
        if (ticks_[i])
            kept.push_back(lines_[i]);
    return kept;
}

int ActionReviewModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : int(lines_.size());
}

QVariant ActionReviewModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount())
        return {};
    const std::string& line = lines_[std::size_t(index.row())];
    switch (role) {
    case Qt::DisplayRole:
        return QString::fromStdString(line);
    case Qt::CheckStateRole:
        return ticks_[std::size_t(index.row())] ? Qt::Checked : Qt::Unchecked;
    case Qt::ForegroundRole:
        return isTickable(line) ? QVariant() : QVariant(QBrush(QColor(Qt::gray)));
    default:
        return {};
    }
}

bool ActionReviewModel::setData(const QModelIndex& index, const QVariant& value, int role) {
    if (role != Qt::CheckStateRole || !index.isValid() || !isTickable(lines_[std::size_t(index.row())]))
        return false;
    setTicked(index.row(), value.toInt() == Qt::Checked);
    return true;
}

Qt::ItemFlags ActionReviewModel::flags(const QModelIndex& index) const {
    if (!index.isValid())
        return Qt::NoItemFlags;
    Qt::ItemFlags f = Qt::ItemIsSelectable | Qt::ItemIsEnabled;
    if (isTickable(lines_[std::size_t(index.row())]))
        f |= Qt::ItemIsUserCheckable;
    return f;
}

} // namespace paritas::gui
