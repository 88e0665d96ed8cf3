#include "gui/execution/action_review_model.h"

#include "gui/app/app_icons.h"

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

void ActionReviewModel::fill(const ActionList& lines, const PlanFacts& facts) {
    beginResetModel();
    lines_ = lines;
    ticks_.assign(lines_.size(), 1);
    marks_.assign(lines_.size(), Mark::Plain);
    overwrites_.assign(lines_.size(), 0);
    bytes_.assign(lines_.size(), 0);
    const bool withFacts = facts.lines.size() == lines_.size();
    tickedKinds_ = {};
    tickedLines_ = tickedOverwrites_ = 0;
    tickedBytes_ = 0;
    longest_ = 0;
    for (std::size_t i = 0; i < lines_.size(); ++i) {
        longest_ = std::max(longest_, lines_[i].size());
        const ActionKind kind = actionKind(lines_[i]);
        if (withFacts && kind == ActionKind::Copy) {
            const ActionFacts& f = facts.lines[i];
            overwrites_[i] = f.destination.kind == DestinationPlan::Kind::Planned;
            bytes_[i] = f.sourceKnown && f.source.size > 0 ? uint64_t(f.source.size) : 0;
        }
        if (destroysData(kind, overwrites_[i]))
            marks_[i] = Mark::Destroys;
        count(i, +1);
    }
    endResetModel();
    emit ticksChanged();
}

void ActionReviewModel::count(std::size_t row, int delta) {
    tickedKinds_[std::size_t(actionKind(lines_[row]))] += std::size_t(delta);
    tickedLines_ += std::size_t(delta);
    tickedOverwrites_ += std::size_t(delta * overwrites_[row]);
    tickedBytes_ += uint64_t(delta) * bytes_[row];
}

bool ActionReviewModel::isTickable(std::string_view line) {
    return actionKind(line) != ActionKind::CreateFolder && !isOriginalLine(line);
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
        if (ticks_[r] == char(ticked) || !isTickable(lines_[r]))
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

void ActionReviewModel::setLine(int row, std::string text) {
    const std::size_t r = std::size_t(row);
    if (ticks_[r])
        count(r, -1);
    lines_[r] = std::move(text);
    longest_ = std::max(longest_, lines_[r].size());
    marks_[r] = destroysData(actionKind(lines_[r]), overwrites_[r]) ? Mark::Destroys : Mark::Plain;
    if (ticks_[r])
        count(r, +1);
    const QModelIndex i = index(row);
    emit dataChanged(i, i);
    emit ticksChanged();
}

ActionList ActionReviewModel::tickedLines() const {
    ActionList kept;
    kept.reserve(lines_.size());
    for (std::size_t i = 0; i < lines_.size(); ++i)
        if (ticks_[i])
            kept.push_back(lines_[i]);
    return kept;
}

std::string ActionReviewModel::folderOf(std::string_view line) {
    const std::string path = singlePathOf(line);
    const ActionKind kind = actionKind(line);
    if (path.empty() || kind == ActionKind::CreateFolder || kind == ActionKind::RemoveFolder)
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
    for (std::size_t i = 0; i < lines_.size(); ++i) {
        const std::string_view line = lines_[i];
        const ActionKind kind = actionKind(line);
        bool under = false;
        if (kind == ActionKind::MoveRename || kind == ActionKind::Copy) {
            const CutPair pair = pairFrom(line, kind == ActionKind::Copy ? 6 : 13);
            under = isUnder(pair.source, folder) || isUnder(pair.destination, folder);
        } else {
            under = isUnder(singlePathOf(line), folder);
        }
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
    auto n = [&](std::size_t count) { return locale.toString(qulonglong(count)); };
    auto kinds = [&](ActionKind k) { return tickedKinds_[std::size_t(k)]; };
    QStringList parts;
    if (kinds(ActionKind::CreateFolder) > 0)
        parts << QStringLiteral("%1 new folders").arg(n(kinds(ActionKind::CreateFolder)));
    if (kinds(ActionKind::MoveRename) > 0)
        parts << QStringLiteral("%1 moves").arg(n(kinds(ActionKind::MoveRename)));
    if (kinds(ActionKind::Copy) > 0) {
        QStringList details;
        if (tickedOverwrites_ > 0)
            details << QStringLiteral("%1 over existing files").arg(n(tickedOverwrites_));
        if (tickedBytes_ > 0)
            details << locale.formattedDataSize(qint64(tickedBytes_), 1, QLocale::DataSizeTraditionalFormat);
        parts << QStringLiteral("%1 copies").arg(n(kinds(ActionKind::Copy))) +
                     (details.isEmpty() ? QString()
                                        : QStringLiteral(" (%1)").arg(details.join(QStringLiteral(", "))));
    }
    if (kinds(ActionKind::DeleteFile) > 0)
        parts << QStringLiteral("%1 file deletions").arg(n(kinds(ActionKind::DeleteFile)));
    if (kinds(ActionKind::RemoveFolder) > 0)
        parts << QStringLiteral("%1 folder removals").arg(n(kinds(ActionKind::RemoveFolder)));
    const QString ticked = QStringLiteral("%1 of %2 lines ticked").arg(n(tickedLines_), n(lines_.size()));
    return parts.isEmpty() ? ticked : ticked + QStringLiteral(": ") + parts.join(QStringLiteral(", "));
}

int ActionReviewModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : int(lines_.size());
}

QVariant ActionReviewModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount())
        return {};
    const std::size_t row = std::size_t(index.row());
    const std::string& line = lines_[row];
    switch (role) {
    case Qt::DisplayRole:
    case Qt::ToolTipRole:
        return QString::fromStdString(line);
    case Qt::CheckStateRole:
        return ticks_[row] ? Qt::Checked : Qt::Unchecked;
    case Qt::ForegroundRole:
        if (!isTickable(line))
            return QBrush(QColor(Qt::gray));
        return marks_[row] == Mark::Destroys ? QVariant(QBrush(QColor(Qt::red))) : QVariant();
    case Qt::DecorationRole:
        if (marks_[row] != Mark::Destroys)
            return {};
        return overwrites_[row] ? warningIcon() : deleteIcon();
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
    if (role != Qt::CheckStateRole || !index.isValid() || !isTickable(lines_[std::size_t(index.row())]))
        return false;
    setTicked(index.row(), value.toInt() == Qt::Checked);
    return true;
}

Qt::ItemFlags ActionReviewModel::flags(const QModelIndex& index) const {
    if (!index.isValid())
        return Qt::NoItemFlags;
    Qt::ItemFlags f = Qt::ItemIsSelectable | Qt::ItemIsEnabled | Qt::ItemNeverHasChildren;
    if (isTickable(lines_[std::size_t(index.row())]))
        f |= Qt::ItemIsUserCheckable;
    return f;
}

} // namespace paritas::gui
