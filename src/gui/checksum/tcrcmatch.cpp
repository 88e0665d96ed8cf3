#include "gui/checksum/tcrcmatch.h"

#include "gui/app/app_icons.h"
#include "gui/app/dialog_seam.h"
#include "gui/app/font_fit.h"
#include "gui/app/keep_alive.h"
#include "gui/app/repaint_throttle.h"
#include "gui/app/tform1.h"

#include "core/platform/beneath.h"

#include <QHeaderView>
#include <QProgressBar>
#include <QPushButton>
#include <QResizeEvent>
#include <QTableView>

#include <algorithm>

namespace paritas::gui {

void CrcMatchModel::setTable(CrcMatchTable table) {
    beginResetModel();
    table_ = std::move(table);
    endResetModel();
}

void CrcMatchModel::rowChanged(std::size_t row) {
    emit dataChanged(index(int(row), 0), index(int(row), 2));
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

QVariant CrcMatchModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid())
        return {};
    switch (role) {
    case Qt::DisplayRole:
        return cell(index.row(), index.column());
    case Qt::ToolTipRole: {
        const QString problem = readProblem(index.row());
        return problem.isEmpty() ? QVariant() : QVariant(problem);
    }
    case Qt::DecorationRole:
        if (index.column() == 0 && !readProblem(index.row()).isEmpty())
            return warningIcon();
        return {};
    default:
        return {};
    }
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
            emit w_.grid->dataChanged(w_.grid->index(int(changedFirst_), 0),
                                      w_.grid->index(int(changedLast_), 2));
        changedFirst_ = SIZE_MAX;
        changedLast_ = 0;
        if (selected_ != SIZE_MAX) {
            const QModelIndex row = w_.grid->index(int(selected_), 0);
            w_.StringGrid1->setCurrentIndex(row);
            w_.StringGrid1->scrollTo(row);
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
    grid = new CrcMatchModel(this);
    StringGrid1 = new QTableView(this);
    StringGrid1->setModel(grid);
    StringGrid1->setSelectionBehavior(QAbstractItemView::SelectRows);
    StringGrid1->setSelectionMode(QAbstractItemView::SingleSelection);
    StringGrid1->setEditTriggers(QAbstractItemView::NoEditTriggers);
    StringGrid1->verticalHeader()->setVisible(false);
    StringGrid1->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    StringGrid1->verticalHeader()->setDefaultSectionSize(18);
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
    resize(576, 518);
    if (mainWindow)
        move(mainWindow->geometry().center() - QPoint(576 / 2, 518 / 2));
}

void TCRCMatch::setPairs(CrcMatchTable table) {
    grid->setTable(std::move(table));
    ProgressBar1->setRange(0, 1);
    ProgressBar1->setValue(0);
    if (!grid->table().empty())
        StringGrid1->setCurrentIndex(grid->index(0, 0));
}

void TCRCMatch::FormCreate() {
    stopRequested = false;
    const int widths[5] = {79, 87, 93, 127, 166};
    for (int c = 0; c < 5; ++c)
        StringGrid1->setColumnWidth(c, widths[c]);
}

void TCRCMatch::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    FormResize();
}

// Columns 3 and 4 (the two paths) each take a third of the table's width.
void TCRCMatch::FormResize() {
    StringGrid1->setGeometry(0, 38, width(), height() - 38 - 18);
    ProgressBar1->setGeometry(0, height() - 16, width(), 16);
    StringGrid1->setColumnWidth(3, StringGrid1->width() / 3);
    StringGrid1->setColumnWidth(4, StringGrid1->width() / 3);
}

void TCRCMatch::previewColumn(int column) {
    const QModelIndex current = StringGrid1->currentIndex();
    if (!current.isValid())
        return;
    const QString path = grid->cell(current.row(), column);
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
