#include "gui/execution/action_review_model.h"

#include "gui/app/app_icons.h"
#include "gui/execution/run_ending.h"

#include "core/platform/path_text.h"

#include <QBrush>
#include <QColor>
#include <QLocale>

#include <algorithm>

namespace paritas::gui {
namespace {

bool destroysData(ActionKind kind, bool overwrites) {
    return kind == ActionKind::DeleteFile || kind == ActionKind::RemoveFolder || overwrites;
}

bool isUnder(const std::string& path, const std::string& folder) {
    if (path.size() < folder.size() || path.compare(0, folder.size(), folder) != 0)
        return false;
    return path.size() == folder.size() || folder.ends_with(kSeparator) || path[folder.size()] == kSeparator;
}

} // namespace

void ActionReviewModel::fill(const ActionList* items) {
    beginResetModel();
    items_ = items;
    const std::size_t n = size();
    ticks_.assign(n, 1);
    tickedKinds_ = {};
    tickedLines_ = tickedOverwrites_ = 0;
    tickedBytes_ = 0;
    longest_ = 0;
    for (std::size_t i = 0; i < n; ++i) {
        longest_ = std::max(longest_, lineLength(item(i)));
        count(i, +1);
    }
    endResetModel();
    emit ticksChanged();
}

bool ActionReviewModel::overwrites(const PlanItem& item) {
    return (item.kind == ActionKind::Copy || item.kind == ActionKind::HardLink) &&
           item.facts.destination.kind == DestinationPlan::Kind::Planned;
}

uint64_t ActionReviewModel::bytesOf(const PlanItem& item) {
    return item.kind == ActionKind::Copy && item.facts.sourceKnown && item.facts.source.size > 0
               ? uint64_t(item.facts.source.size)
               : 0;
}

void ActionReviewModel::count(std::size_t row, int delta) {
    const PlanItem& it = item(row);
    tickedKinds_[std::size_t(it.kind)] += std::size_t(delta);
    tickedLines_ += std::size_t(delta);
    tickedOverwrites_ += std::size_t(delta * int(overwrites(it)));
    tickedBytes_ += uint64_t(delta) * bytesOf(it);
}

bool ActionReviewModel::isTickable(const PlanItem& item) {
    return item.kind != ActionKind::CreateFolder && item.kind != ActionKind::Original;
}

void ActionReviewModel::setTicked(int row, bool ticked) {
    setTickedRange(row, row, ticked);
}

void ActionReviewModel::setTickedRange(int first, int last, bool ticked) {
    first = std::max(first, 0);
    last = std::min(last, rowCount() - 1);
    bool changed = false;
    for (int row = first; row <= last; ++row) {
        const std::size_t r = std::size_t(row);
        if (ticks_[r] == char(ticked) || !isTickable(item(r)))
            continue;
        ticks_[r] = ticked ? 1 : 0;
        count(r, ticked ? +1 : -1);
        changed = true;
    }
    if (!changed)
        return;
    emit dataChanged(index(first), index(last), {Qt::CheckStateRole});
    emit ticksChanged();
}

void ActionReviewModel::rowsChanged(int first, int last) {
    for (int row = first; row <= last; ++row)
        longest_ = std::max(longest_, lineLength(item(std::size_t(row))));
    emit dataChanged(index(first), index(last));
    emit ticksChanged();
}

const std::vector<char>& ActionReviewModel::ticks() const {
    return ticks_;
}

std::string ActionReviewModel::folderOf(const PlanItem& item) {
    const std::string& path = shownPath(item);
    if (path.empty() || item.kind == ActionKind::RemoveFolder)
        return path;
    const std::size_t cut = path.rfind(kSeparator);
    if (cut == std::string::npos)
        return {};
    return cut == 0 ? path.substr(0, 1) : path.substr(0, cut);
}

std::vector<int> ActionReviewModel::rowsUnder(const std::string& folder) const {
    std::vector<int> rows;
    if (folder.empty())
        return rows;
    for (std::size_t i = 0; i < size(); ++i) {
        const PlanItem& it = item(i);
        const bool under = isUnder(it.path, folder) ||
                           ((it.kind == ActionKind::MoveRename || it.kind == ActionKind::Copy ||
                             it.kind == ActionKind::HardLink) &&
                            isUnder(it.destination, folder));
        if (under)
            rows.push_back(int(i));
    }
    return rows;
}

bool ActionReviewModel::ticksDestroyData() const {
    return tickedKinds_[std::size_t(ActionKind::DeleteFile)] +
               tickedKinds_[std::size_t(ActionKind::RemoveFolder)] + tickedOverwrites_ >
           0;
}

// Only the kinds the list holds are named, so that the line stays short enough to read.
QString ActionReviewModel::summary() const {
    const QLocale locale;
    auto kinds = [&](ActionKind k) { return uint64_t(tickedKinds_[std::size_t(k)]); };
    QStringList parts;
    if (kinds(ActionKind::CreateFolder) > 0)
        parts << countOf(kinds(ActionKind::CreateFolder), "new folder", "new folders");
    if (kinds(ActionKind::MoveRename) > 0)
        parts << countOf(kinds(ActionKind::MoveRename), "move", "moves");
    if (kinds(ActionKind::Copy) > 0) {
        QStringList details;
        if (tickedOverwrites_ > 0)
            details << countOf(tickedOverwrites_, "over an existing file", "over existing files");
        if (tickedBytes_ > 0)
            details << sizeText(tickedBytes_);
        parts << countOf(kinds(ActionKind::Copy), "copy", "copies") +
                     (details.isEmpty() ? QString()
                                        : QStringLiteral(" (%1)").arg(details.join(QStringLiteral(", "))));
    }
    if (kinds(ActionKind::DeleteFile) > 0)
        parts << countOf(kinds(ActionKind::DeleteFile), "file deletion", "file deletions");
    if (kinds(ActionKind::RemoveFolder) > 0)
        parts << countOf(kinds(ActionKind::RemoveFolder), "folder removal", "folder removals");
    if (kinds(ActionKind::Attributes) > 0)
        parts << countOf(kinds(ActionKind::Attributes), "change of attributes", "changes of attributes");
    if (kinds(ActionKind::HardLink) > 0)
        parts << countOf(kinds(ActionKind::HardLink), "hard link", "hard links");
    const QString ticked = locale.toString(qulonglong(tickedLines_)) + QStringLiteral(" of ") +
                           countOf(size(), "line", "lines") + QStringLiteral(" ticked");
    return parts.isEmpty() ? ticked : ticked + QStringLiteral(": ") + parts.join(QStringLiteral(", "));
}

int ActionReviewModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : int(size());
}

QVariant ActionReviewModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount())
        return {};
    const std::size_t row = std::size_t(index.row());
    const PlanItem& it = item(row);
    switch (role) {
    case Qt::DisplayRole:
    case Qt::ToolTipRole:
        return QString::fromStdString(lineText(it));
    case Qt::CheckStateRole:
        return ticks_[row] ? Qt::Checked : Qt::Unchecked;
    case Qt::ForegroundRole:
        if (!isTickable(it))
            return QBrush(QColor(Qt::gray));
        return destroysData(it.kind, overwrites(it)) ? QVariant(QBrush(QColor(Qt::red))) : QVariant();
    case Qt::DecorationRole:
        if (!destroysData(it.kind, overwrites(it)))
            return {};
        return overwrites(it) ? warningIcon() : deleteIcon();
    default:
        return {};
    }
}

QVariant ActionReviewModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (section != 0 || orientation != Qt::Horizontal || (role != Qt::DisplayRole && role != Qt::ToolTipRole))
        return {};
    return summary();
}

bool ActionReviewModel::setData(const QModelIndex& index, const QVariant& value, int role) {
    if (role != Qt::CheckStateRole || !index.isValid() || !isTickable(item(std::size_t(index.row()))))
        return false;
    setTicked(index.row(), value.toInt() == Qt::Checked);
    return true;
}

Qt::ItemFlags ActionReviewModel::flags(const QModelIndex& index) const {
    if (!index.isValid())
        return Qt::NoItemFlags;
    Qt::ItemFlags f = Qt::ItemIsSelectable | Qt::ItemIsEnabled | Qt::ItemNeverHasChildren;
    if (isTickable(item(std::size_t(index.row()))))
        f |= Qt::ItemIsUserCheckable;
    return f;
}

} // namespace paritas::gui
