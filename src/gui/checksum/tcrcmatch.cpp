#include "gui/checksum/tcrcmatch.h"

#include "gui/app/app_icons.h"
#include "gui/app/dialog_seam.h"
#include "gui/app/font_fit.h"
#include "gui/app/keep_alive.h"
#include "gui/app/repaint_throttle.h"
#include "gui/app/tform1.h"

#include "core/platform/beneath.h"

#include <QBrush>
#include <QCheckBox>
#include <QColor>
#include <QHeaderView>
#include <QProgressBar>
#include <QPushButton>
#include <QResizeEvent>
#include <QStyle>
#include <QTableView>

#include <algorithm>

namespace paritas::gui {
namespace {

// Room around a cell's text: the focus frame's margin on each side and a little air.
constexpr int kCellRoom = 12;
constexpr int kLeastPathWidth = 120;
constexpr int kOpeningWidth = 900;

} // namespace

void CrcMatchModel::setTable(CrcMatchTable table) {
    beginResetModel();
    table_ = std::move(table);
    endResetModel();
}

void CrcMatchModel::rowChanged(std::size_t row) {
    rowsChanged(row, row);
}

void CrcMatchModel::rowsChanged(std::size_t first, std::size_t last) {
    // Every column: the status colours the whole row.
    emit dataChanged(index(int(first), 0), index(int(last), columnCount() - 1));
}

QString CrcMatchModel::cell(int row, int column) const {
    if (row < 0 || std::size_t(row) >= table_.size())
        return {};
    const CrcMatchRow& r = table_[std::size_t(row)];
    const std::string* cells[5] = {&r.status, &r.crcA, &r.crcB, &r.pathA, &r.pathB};
    return column >= 0 && column < 5 ? QString::fromStdString(*cells[column]) : QString();
}

int CrcMatchModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : int(table_.size()) + 1;
}

int CrcMatchModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : 5;
}

QString CrcMatchModel::readProblem(int row) const {
    if (row < 0 || std::size_t(row) >= table_.size())
        return {};
    const CrcMatchRow& r = table_[std::size_t(row)];
    QStringList problems;
    if (r.errorA != 0)
        problems << QStringLiteral("File A could not be read: %1")
                        .arg(QString::fromStdString(failureText(r.errorA)));
    if (r.errorB != 0)
        problems << QStringLiteral("File B could not be read: %1")
                        .arg(QString::fromStdString(failureText(r.errorB)));
    return problems.join(QLatin1Char('\n'));
}

namespace {

enum class Verdict { None, Different, NoPartner };

Verdict verdictOf(const CrcMatchRow& r) {
    if (r.status == kCrcStatusDifferent || r.errorA != 0 || r.errorB != 0)
        return Verdict::Different;
    if (r.status == kCrcStatusNoFileMatch)
        return Verdict::NoPartner;
    return Verdict::None;
}

} // namespace

bool CrcMatchModel::isDifference(int row) const {
    return row >= 0 && std::size_t(row) < table_.size() &&
           verdictOf(table_[std::size_t(row)]) != Verdict::None;
}

QVariant CrcMatchModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid())
        return {};
    const int row = index.row();
    const Verdict verdict =
        std::size_t(row) < table_.size() ? verdictOf(table_[std::size_t(row)]) : Verdict::None;
    switch (role) {
    case Qt::DisplayRole:
        return cell(row, index.column());
    case Qt::ToolTipRole: {
        if (const QString problem = readProblem(row); !problem.isEmpty())
            return problem;
        if (verdict == Verdict::Different)
            return QStringLiteral("The two files differ: their CRCs are not the same");
        if (verdict == Verdict::NoPartner)
            return QStringLiteral("No file of B matches this file under the same-file criteria");
        return {};
    }
    case Qt::ForegroundRole:
        if (verdict == Verdict::Different)
            return QBrush(QColor(190, 0, 0));
        if (verdict == Verdict::NoPartner)
            return QBrush(QColor(160, 82, 0));
        return {};
    case Qt::DecorationRole:
        if (index.column() != 0)
            return {};
        if (verdict == Verdict::Different)
            return warningIcon();
        if (verdict == Verdict::NoPartner)
            return missingIcon();
        return {};
    default:
        return {};
    }
}

CrcDifferencesFilter::CrcDifferencesFilter(CrcMatchModel* source, QObject* parent)
    : QAbstractProxyModel(parent), source_(source) {
    QAbstractProxyModel::setSourceModel(source);
    connect(source, &QAbstractItemModel::modelAboutToBeReset, this, [this] { beginResetModel(); });
    connect(source, &QAbstractItemModel::modelReset, this, [this] {
        rebuild();
        endResetModel();
    });
    connect(source, &QAbstractItemModel::dataChanged, this, &CrcDifferencesFilter::sourceRowsChanged);
}

void CrcDifferencesFilter::setOnlyDifferences(bool only) {
    if (only == only_)
        return;
    beginResetModel();
    only_ = only;
    rebuild();
    endResetModel();
}

void CrcDifferencesFilter::rebuild() {
    rows_.clear();
    if (!only_)
        return;
    const int count = source_->rowCount();
    for (int row = 0; row < count; ++row)
        if (source_->isDifference(row))
            rows_.push_back(row);
}

void CrcDifferencesFilter::sourceRowsChanged(const QModelIndex& topLeft, const QModelIndex& bottomRight) {
    if (!topLeft.isValid() || !bottomRight.isValid())
        return;
    const int first = topLeft.row(), last = bottomRight.row();
    if (!only_) {
        emit dataChanged(index(first, topLeft.column()), index(last, bottomRight.column()));
        return;
    }
    const auto from = std::lower_bound(rows_.begin(), rows_.end(), first);
    const auto to = std::upper_bound(from, rows_.end(), last);
    std::vector<int> now;
    for (int row = first; row <= last; ++row)
        if (source_->isDifference(row))
            now.push_back(row);
    const int at = int(from - rows_.begin());
    if (std::equal(from, to, now.begin(), now.end())) {
        if (!now.empty())
            emit dataChanged(index(at, 0), index(at + int(now.size()) - 1, columnCount() - 1));
        return;
    }
    if (from != to) {
        beginRemoveRows({}, at, at + int(to - from) - 1);
        rows_.erase(from, to);
        endRemoveRows();
    }
    if (!now.empty()) {
        beginInsertRows({}, at, at + int(now.size()) - 1);
        rows_.insert(rows_.begin() + at, now.begin(), now.end());
        endInsertRows();
    }
}

QModelIndex CrcDifferencesFilter::index(int row, int column, const QModelIndex& parent) const {
    if (parent.isValid() || row < 0 || column < 0 || row >= rowCount() || column >= columnCount())
        return {};
    return createIndex(row, column);
}

QModelIndex CrcDifferencesFilter::parent(const QModelIndex&) const {
    return {};
}

int CrcDifferencesFilter::rowCount(const QModelIndex& parent) const {
    if (parent.isValid())
        return 0;
    return only_ ? int(rows_.size()) : source_->rowCount();
}

int CrcDifferencesFilter::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : source_->columnCount();
}

bool CrcDifferencesFilter::hasChildren(const QModelIndex& parent) const {
    return !parent.isValid() && rowCount() > 0;
}

QModelIndex CrcDifferencesFilter::mapToSource(const QModelIndex& proxyIndex) const {
    if (!proxyIndex.isValid())
        return {};
    const int row = only_ ? rows_[std::size_t(proxyIndex.row())] : proxyIndex.row();
    return source_->index(row, proxyIndex.column());
}

QModelIndex CrcDifferencesFilter::mapFromSource(const QModelIndex& sourceIndex) const {
    if (!sourceIndex.isValid())
        return {};
    if (!only_)
        return index(sourceIndex.row(), sourceIndex.column());
    const auto found = std::lower_bound(rows_.begin(), rows_.end(), sourceIndex.row());
    if (found == rows_.end() || *found != sourceIndex.row())
        return {};
    return index(int(found - rows_.begin()), sourceIndex.column());
}

QVariant CrcDifferencesFilter::headerData(int section, Qt::Orientation orientation, int role) const {
    return orientation == Qt::Horizontal ? source_->headerData(section, orientation, role) : QVariant();
}

QVariant CrcMatchModel::headerData(int section, Qt::Orientation orientation, int role) const {
    static const char* headers[5] = {"Status", "File A CRC", "File B CRC", "FilePath A", "FilePath B"};
    if (role != Qt::DisplayRole || orientation != Qt::Horizontal || section < 0 || section >= 5)
        return {};
    return QString::fromLatin1(headers[section]);
}

namespace {

// The compare reports every row; the grid, its selection and the bar follow a few times a second.
class WindowCompareHost final : public CrcCompareHost {
public:
    explicit WindowCompareHost(TCRCMatch& window) : w_(window), repaint_([this] { update(); }) {}
    ~WindowCompareHost() override { repaint_.flush(); }
    bool stopRequested() override { return w_.stopRequested; }
    void keepAlive() override { KeepAlive::pump(); }
    void setProgressMaximum(int64_t maximum) override {
        maximum_ = int(std::clamp<int64_t>(maximum, 1, INT32_MAX));
        repaint_.request();
    }
    void setProgressPosition(int64_t position) override {
        position_ = int(std::clamp<int64_t>(position, 0, INT32_MAX));
        repaint_.request();
    }
    void rowChanged(std::size_t row) override {
        changedFirst_ = std::min(changedFirst_, row);
        changedLast_ = std::max(changedLast_, row);
        repaint_.request();
    }
    void selectRow(std::size_t row) override {
        selected_ = row;
        repaint_.request();
    }

private:
    void update() {
        if (w_.ProgressBar1->maximum() != maximum_)
            w_.ProgressBar1->setRange(0, maximum_);
        w_.ProgressBar1->setValue(position_);
        if (changedFirst_ <= changedLast_)
            w_.grid->rowsChanged(changedFirst_, changedLast_);
        changedFirst_ = SIZE_MAX;
        changedLast_ = 0;
        if (selected_ != SIZE_MAX) {
            // A row the filter hides is not followed; the view stays where it is.
            const QModelIndex row = w_.shown->mapFromSource(w_.grid->index(int(selected_), 0));
            if (row.isValid()) {
                w_.StringGrid1->setCurrentIndex(row);
                w_.StringGrid1->scrollTo(row);
            }
            selected_ = SIZE_MAX;
        }
    }

    TCRCMatch& w_;
    int maximum_ = 1;
    int position_ = 0;
    std::size_t changedFirst_ = SIZE_MAX;
    std::size_t changedLast_ = 0;
    std::size_t selected_ = SIZE_MAX;
    RepaintThrottle repaint_;
};

} // namespace

TCRCMatch::TCRCMatch(TForm1* mainWindow) : QWidget(mainWindow, Qt::Window), main_(mainWindow) {
    setWindowTitle(QStringLiteral("CRC Matching A-B"));
    setMinimumSize(500, 300);
    BitBtn1 = new QPushButton(QStringLiteral("Preview File A"), this);
    BitBtn2 = new QPushButton(QStringLiteral("Preview File B"), this);
    BitBtn3 = new QPushButton(QStringLiteral("Start CRC Compare"), this);
    BitBtn4 = new QPushButton(QStringLiteral("Stop"), this);
    QFont bold = BitBtn3->font();
    bold.setBold(true);
    BitBtn3->setFont(bold);
    int x = 8;
    for (QPushButton* b : {BitBtn1, BitBtn2, BitBtn3, BitBtn4}) {
        b->setGeometry(x, 6, grownWidth(b, b == BitBtn3 ? 140 : 110), grownHeight(b, 26));
        x += b->width() + 6;
    }
    CheckDifferences = new QCheckBox(QStringLiteral("Show only differences"), this);
    CheckDifferences->setToolTip(QStringLiteral("Only the files that differ and the files of A without a "
                                                "partner in B"));
    CheckDifferences->setGeometry(x + 6, 6, CheckDifferences->sizeHint().width(),
                                  std::max(26, CheckDifferences->sizeHint().height()));
    grid = new CrcMatchModel(this);
    shown = new CrcDifferencesFilter(grid, this);
    StringGrid1 = new QTableView(this);
    StringGrid1->setModel(shown);
    // Paths keep both ends in sight: where they differ is mostly in the middle or at the end.
    StringGrid1->setTextElideMode(Qt::ElideMiddle);
    StringGrid1->setSelectionBehavior(QAbstractItemView::SelectRows);
    StringGrid1->setSelectionMode(QAbstractItemView::SingleSelection);
    StringGrid1->setEditTriggers(QAbstractItemView::NoEditTriggers);
    StringGrid1->verticalHeader()->setVisible(false);
    StringGrid1->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    StringGrid1->verticalHeader()->setDefaultSectionSize(
        std::max(18, StringGrid1->fontMetrics().height() + 4));
    // One line a row: a path wrapped at its dashes showed its first part and hid where it ends.
    StringGrid1->setWordWrap(false);
    StringGrid1->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    ProgressBar1 = new QProgressBar(this);
    ProgressBar1->setTextVisible(false);
    ProgressBar1->setRange(0, 1);
    ProgressBar1->setValue(0);
    FormCreate();
    connect(BitBtn1, &QPushButton::clicked, this, &TCRCMatch::BitBtn1Click);
    connect(BitBtn2, &QPushButton::clicked, this, &TCRCMatch::BitBtn2Click);
    connect(BitBtn3, &QPushButton::clicked, this, &TCRCMatch::BitBtn3Click);
    connect(BitBtn4, &QPushButton::clicked, this, &TCRCMatch::BitBtn4Click);
    connect(CheckDifferences, &QCheckBox::toggled, this, &TCRCMatch::CheckDifferencesClick);
    // Wide enough that both paths show their folders and names beside the status and the CRCs.
    const int width = std::max(kOpeningWidth, CheckDifferences->geometry().right() + 8);
    setMinimumSize(std::max(500, CheckDifferences->geometry().right() + 8), 300);
    resize(width, 518);
    if (mainWindow)
        move(mainWindow->geometry().center() - QPoint(width / 2, 518 / 2));
}

void TCRCMatch::setPairs(CrcMatchTable table) {
    grid->setTable(std::move(table));
    ProgressBar1->setRange(0, 1);
    ProgressBar1->setValue(0);
    if (!grid->table().empty())
        StringGrid1->setCurrentIndex(shown->index(0, 0));
}

int TCRCMatch::currentTableRow() const {
    const QModelIndex current = shown->mapToSource(StringGrid1->currentIndex());
    return current.isValid() ? current.row() : -1;
}

// The row that was current stays current (and in sight) when it is still shown.
void TCRCMatch::CheckDifferencesClick() {
    const int row = currentTableRow();
    shown->setOnlyDifferences(CheckDifferences->isChecked());
    const QModelIndex again = shown->mapFromSource(grid->index(row, 0));
    if (again.isValid()) {
        StringGrid1->setCurrentIndex(again);
        StringGrid1->scrollTo(again);
    }
}

// The status and CRC columns are as wide as the design, or as their header and their widest text
// (a status with its sign, eight hexadecimal digits) need at the window's font.
void TCRCMatch::FormCreate() {
    stopRequested = false;
    const int widths[5] = {79, 87, 93, 127, 166};
    const QFontMetrics metrics = StringGrid1->fontMetrics();
    const int sign = StringGrid1->style()->pixelMetric(QStyle::PM_SmallIconSize, nullptr, StringGrid1) + 6;
    const int texts[3] = {sign + std::max({metrics.horizontalAdvance(QString::fromLatin1(
                                               kCrcStatusDifferent.data(), kCrcStatusDifferent.size())),
                                           metrics.horizontalAdvance(QString::fromLatin1(
                                               kCrcStatusNoFileMatch.data(), kCrcStatusNoFileMatch.size()))}),
                          metrics.horizontalAdvance(QStringLiteral("DDDDDDDD")),
                          metrics.horizontalAdvance(QStringLiteral("DDDDDDDD"))};
    for (int c = 0; c < 5; ++c) {
        int width = widths[c];
        if (c < 3)
            width =
                std::max({width, texts[c] + kCellRoom, StringGrid1->horizontalHeader()->sectionSizeHint(c)});
        StringGrid1->setColumnWidth(c, width);
    }
}

void TCRCMatch::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    FormResize();
}

// Columns 3 and 4 (the two paths) share what the other columns leave beside the vertical scroll
// bar (a third of the table's width each at the design's size), and are never narrower than a
// path's last folder and name need to be told apart; below that the table scrolls across.
void TCRCMatch::FormResize() {
    const int top = std::max(38, BitBtn1->geometry().bottom() + 6);
    StringGrid1->setGeometry(0, top, width(), height() - top - 18);
    ProgressBar1->setGeometry(0, height() - 16, width(), 16);
    const int room = StringGrid1->width() - 2 * StringGrid1->frameWidth() -
                     StringGrid1->style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, StringGrid1);
    const int others =
        StringGrid1->columnWidth(0) + StringGrid1->columnWidth(1) + StringGrid1->columnWidth(2);
    const int path = std::max(kLeastPathWidth, (room - others) / 2);
    StringGrid1->setColumnWidth(3, path);
    StringGrid1->setColumnWidth(4, path);
}

void TCRCMatch::previewColumn(int column) {
    const int row = currentTableRow();
    if (row < 0)
        return;
    const QString path = grid->cell(row, column);
    if (!path.isEmpty())
        DialogSeam::current().open(path);
}

void TCRCMatch::BitBtn1Click() {
    previewColumn(3);
}
void TCRCMatch::BitBtn2Click() {
    previewColumn(4);
}

// "Start CRC Compare": row by row, the window kept alive between the blocks of a large file.
void TCRCMatch::BitBtn3Click() {
    if (comparing_ || (main_ && main_->isBusy()))
        return;
    comparing_ = true;
    if (main_)
        main_->beginBusy();
    stopRequested = false;
    {
        WindowCompareHost host(*this); // shows the last rows when it goes
        badMatches = compareCrcMatches(grid->table(), host);
    }
    if (main_)
        main_->endBusy();
    comparing_ = false;
    DialogSeam::current().message(this, QString::fromStdString(badCrcMatchMessage(badMatches)));
}

void TCRCMatch::BitBtn4Click() {
    stopRequested = true;
}

} // namespace paritas::gui
