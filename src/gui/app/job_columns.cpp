#include "gui/app/job_columns.h"

#include "core/base/modes.h"
#include "core/jobs/job_list.h"

#include <QHeaderView>
#include <QStyle>
#include <QTableWidget>

#include <algorithm>

namespace paritas::gui {
namespace {

enum Column { kStatus = 0, kLocationA = 1, kMode = 2, kLocationB = 3, kSubfolders = 4 };

// Room around a cell's text: the focus frame's margin on each side and a little air.
constexpr int kCellRoom = 12;

QStringList textsOf(Column column) {
    QStringList texts;
    switch (column) {
    case kStatus:
        for (const char* status :
             {kJobWaiting, kJobInProgress, kJobFinished, kJobFailed, kJobNotRun, kJobRefused, kJobStopped})
            texts << QString::fromLatin1(status);
        break;
    case kMode:
        for (std::string_view name : kModeNames)
            texts << QString::fromUtf8(name.data(), qsizetype(name.size()));
        break;
    case kSubfolders:
        texts << QStringLiteral("Yes") << QStringLiteral("No");
        break;
    default:
        break;
    }
    return texts;
}

// What the column needs to show its header and each of its texts whole.
int neededWidth(const QTableWidget& grid, Column column) {
    const QHeaderView* header = grid.horizontalHeader();
    int needed = header->sectionSizeHint(column);
    QStringList texts = textsOf(column);
    for (int row = 0; row < grid.rowCount(); ++row)
        if (const QTableWidgetItem* item = grid.item(row, column))
            texts << item->text();
    const QFontMetrics metrics = grid.fontMetrics();
    for (const QString& text : texts)
        needed = std::max(needed, metrics.horizontalAdvance(text) + kCellRoom);
    return needed;
}

} // namespace

std::array<int, 5> fittedJobColumns(const QTableWidget& grid, std::array<int, 5> rule) {
    for (Column column : {kStatus, kMode, kSubfolders})
        rule[column] = std::max(rule[column], neededWidth(grid, column));
    // The columns fit inside the frame beside a vertical scroll bar (shown or not, so that the columns
    // keep their widths as jobs are added): no column hides under the bar.
    const int room = grid.width() - 2 * grid.frameWidth() -
                     grid.style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, &grid);
    int total = 0;
    for (int width : rule)
        total += width;
    const int excess = std::max(0, total - room);
    const int firstShare = excess / 2;
    for (auto [column, share] :
         {std::pair{kLocationA, firstShare}, std::pair{kLocationB, excess - firstShare}}) {
        const int least = grid.horizontalHeader()->sectionSizeHint(column);
        rule[column] = std::max(least, rule[column] - share);
    }
    return rule;
}

} // namespace paritas::gui
