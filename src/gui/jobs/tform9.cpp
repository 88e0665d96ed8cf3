#include "gui/jobs/tform9.h"

#include "core/base/modes.h"
#include "gui/app/dialog_seam.h"
#include "gui/app/tform1.h"
#include "gui/settings/tform2.h"

#include <QCheckBox>
#include <QDropEvent>
#include <QLineEdit>

#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QResizeEvent>
#include <QStyle>
#include <QTableWidget>

#include <algorithm>
#include <functional>

namespace paritas::gui {
namespace {

enum Column { kName = 1, kLocationA = 2, kMode = 3, kLocationB = 4, kSubfolders = 5 };

// The favourites table lets the user drag a row to a new place. Qt's own internal move of table
// items would overwrite the cells at the drop place, so a drop moves the whole row instead.
class FavouritesTable : public QTableWidget {
public:
    FavouritesTable(int rows, int columns, QWidget* parent) : QTableWidget(rows, columns, parent) {
        setDragEnabled(true);
        setAcceptDrops(true);
        setDragDropMode(QAbstractItemView::InternalMove);
        setDragDropOverwriteMode(false);
        setDropIndicatorShown(true);
    }
    std::function<void(int, int)> onMove;

protected:
    void dropEvent(QDropEvent* event) override {
        if (event->source() != this) {
            event->ignore();
            return;
        }
        const int from = currentRow();
        int to = rowAt(event->position().toPoint().y());
        if (to < 0)
            to = rowCount() - 1;
        // Nothing is removed by the view itself: the row is moved here.
        event->setDropAction(Qt::IgnoreAction);
        event->accept();
        if (onMove)
            onMove(from, to);
    }
};

} // namespace

TForm9::TForm9(TForm1* mainWindow, TForm2* configuration)
    : QWidget(mainWindow, Qt::Window), main_(mainWindow), configuration_(configuration) {
    setWindowTitle(QStringLiteral("Favorites"));
    setMinimumSize(330, 320);
    auto* icon = new QLabel(this);
    icon->setPixmap(style()->standardIcon(QStyle::SP_DirLinkIcon).pixmap(24, 24));
    icon->setGeometry(8, 6, 24, 24);
    auto* title = new QLabel(QStringLiteral("Favorite Synchronizations"), this);
    title->setGeometry(40, 8, 260, 20);
    auto* table = new FavouritesTable(1, 6, this);
    table->onMove = [this](int from, int to) { moveFavourite(from, to); };
    StringGrid1 = table;
    StringGrid1->setSelectionBehavior(QAbstractItemView::SelectRows);
    StringGrid1->setSelectionMode(QAbstractItemView::SingleSelection);
    StringGrid1->setEditTriggers(QAbstractItemView::NoEditTriggers);
    StringGrid1->verticalHeader()->setVisible(false);
    StringGrid1->horizontalHeader()->setMinimumSectionSize(1);
    auto* details = new QGroupBox(this);
    details->setObjectName(QStringLiteral("details"));
    Mode = new QLabel(details);
    LocA = new QLabel(details);
    SubFolders = new QLabel(details);
    LocB = new QLabel(details);
    BitBtn1 = new QPushButton(QStringLiteral("Execute"), this);
    BitBtn1->setToolTip(QStringLiteral("Execute"));
    BitBtn3 = new QPushButton(QStringLiteral("Save Config"), this);
    BitBtn2 = new QPushButton(QStringLiteral("Delete"), this);
    connect(BitBtn1, &QPushButton::clicked, this, &TForm9::BitBtn1Click);
    connect(BitBtn2, &QPushButton::clicked, this, &TForm9::BitBtn2Click);
    connect(BitBtn3, &QPushButton::clicked, this, &TForm9::BitBtn3Click);
    connect(StringGrid1, &QTableWidget::cellClicked, this, &TForm9::StringGrid1Click);
    // Moving the selection with the keys shows the details as a click does.
    connect(StringGrid1, &QTableWidget::currentCellChanged, this, &TForm9::StringGrid1KeyPress);
    const char* captions[4] = {"Synch Mode:", "Location A:", "Subfolders:", "Location B:"};
    QLabel* values[4] = {Mode, LocA, SubFolders, LocB};
    for (int i = 0; i < 4; ++i) {
        auto* caption = new QLabel(QString::fromLatin1(captions[i]), details);
        QFont underlined = caption->font();
        underlined.setUnderline(true);
        caption->setFont(underlined);
        caption->setGeometry(8, 8 + i * 34, 120, 16);
        values[i]->setWordWrap(true);
        values[i]->setGeometry(8, 24 + i * 34, 290, 16);
    }
    // Laid out at the design size for the default font; a larger font scales the whole window.
    resize(330, 432);
    FormResize();
    scale_ = fontScaleOf(this);
    scaleControls(this, scale_);
    setMinimumSize(scale_.sx(330), scale_.sy(320));
    resize(scale_.sx(330), scale_.sy(432));
    if (configuration_)
        configuration_->setFavouritesWindow(this);
    FormCreate();
    if (mainWindow)
        move(mainWindow->geometry().center() - QPoint(width() / 2, height() / 2));
}

// Writes the headers, then loads the settings file: settings, the main window's view and size, and the
// stored favourites. This is why the main and configuration windows are created first.
void TForm9::FormCreate() {
    StringGrid1->setHorizontalHeaderLabels({QString(), QStringLiteral("Name"), QStringLiteral("Location A"),
                                            QStringLiteral("Synch Mode"), QStringLiteral("Location B"),
                                            QStringLiteral("Subfolders")});
    if (configuration_)
        configuration_->LoadConfig();
}

void TForm9::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    FormResize();
}

// The list shows only the names; the details panel shows the rest of the selected favourite.
void TForm9::FormResize() {
    const int w = width(), h = height();
    const FontScale& s = scale_;
    StringGrid1->setGeometry(s.sx(8), s.sy(36), w - s.sx(16), h - s.sy(36 + 190));
    if (auto* details = findChild<QGroupBox*>(QStringLiteral("details")))
        details->setGeometry(s.sx(8), h - s.sy(186), w - s.sx(16), s.sy(146));
    BitBtn1->setGeometry(s.sx(8), h - s.sy(34), s.sx(90), s.sy(26));
    BitBtn3->setGeometry(w / 2 - s.sx(45), h - s.sy(34), s.sx(90), s.sy(26));
    BitBtn2->setGeometry(w - s.sx(98), h - s.sy(34), s.sx(90), s.sy(26));
    StringGrid1->setColumnWidth(0, 12);
    StringGrid1->setColumnWidth(1, StringGrid1->width() / 3 * 2);
    for (int c = 2; c <= 5; ++c)
        StringGrid1->setColumnWidth(c, 1);
}

} // namespace paritas::gui

namespace paritas::gui {

QString TForm9::cell(int row, int column) const {
    const QTableWidgetItem* item = StringGrid1->item(row, column);
    return item ? item->text() : QString();
}

std::vector<Favourite> TForm9::favourites() const {
    std::vector<Favourite> list;
    for (int row = 0; row < StringGrid1->rowCount(); ++row) {
        if (cell(row, kName).isEmpty())
            continue;
        list.push_back({cell(row, kName).toStdString(), cell(row, kLocationA).toStdString(),
                        cell(row, kMode).toStdString(), cell(row, kLocationB).toStdString(),
                        cell(row, kSubfolders).toStdString()});
    }
    return list;
}

void TForm9::appendFavourite(const Favourite& f) {
    const int row = StringGrid1->rowCount() - 1;
    const std::pair<int, const std::string*> cells[] = {{kName, &f.name},
                                                        {kLocationA, &f.locationA},
                                                        {kMode, &f.modeName},
                                                        {kLocationB, &f.locationB},
                                                        {kSubfolders, &f.subfolders}};
    for (const auto& [column, text] : cells)
        StringGrid1->setItem(row, column, new QTableWidgetItem(QString::fromStdString(*text)));
    StringGrid1->insertRow(row + 1);
}

void TForm9::moveFavourite(int from, int to) {
    const int open = StringGrid1->rowCount() - 1;
    if (from < 0 || from >= open)
        return;
    to = std::clamp(to, 0, open - 1);
    if (to == from)
        return;
    QList<QTableWidgetItem*> items;
    for (int column = 0; column < StringGrid1->columnCount(); ++column)
        items << StringGrid1->takeItem(from, column);
    StringGrid1->removeRow(from);
    StringGrid1->insertRow(to);
    for (int column = 0; column < items.size(); ++column)
        if (items[column])
            StringGrid1->setItem(to, column, items[column]);
    StringGrid1->selectRow(to);
}

// The selected row in the details panel.
void TForm9::showDetails() {
    const int row = StringGrid1->currentRow();
    LocA->setText(row < 0 ? QString() : cell(row, kLocationA));
    Mode->setText(row < 0 ? QString() : cell(row, kMode));
    LocB->setText(row < 0 ? QString() : cell(row, kLocationB));
    SubFolders->setText(row < 0 ? QString() : cell(row, kSubfolders));
}

void TForm9::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    FormShow();
}

void TForm9::FormShow() {
    showDetails();
}
void TForm9::StringGrid1Click() {
    showDetails();
}
void TForm9::StringGrid1KeyPress() {
    showDetails();
}

// Execute: the favourite's locations, subfolder option and mode go to the main window, then its
// "Analyse/Synchronize Now" runs. While another run, a job list or the schedule holds that button, a
// favourite never starts inside it. A row without a name holds no favourite and runs nothing. A
// favourite without a mode (its stored mode digit names none) runs nothing either: the main window's
// mode is whatever the user last chose there, and a backup in its place would delete in B.
void TForm9::BitBtn1Click() {
    if (main_ == nullptr || main_->isBusy() || !main_->BitBtn6->isEnabled())
        return;
    const int row = StringGrid1->currentRow();
    if (row < 0 || cell(row, kName).isEmpty())
        return;
    const int mode = modeIndex(cell(row, kMode).toStdString());
    if (mode < 0) {
        const QString why = QStringLiteral("Favourite \"%1\" not run: its Synch Mode names none of the "
                                           "synchronisation modes")
                                .arg(cell(row, kName));
        main_->log(why);
        DialogSeam::current().message(this, why);
        return;
    }
    main_->Edit1->setText(cell(row, kLocationA));
    main_->Edit2->setText(cell(row, kLocationB));
    main_->CheckBox1->setChecked(!cell(row, kSubfolders).startsWith(QLatin1Char('N')));
    main_->setModeIndex(mode);
    main_->BitBtn6Click();
}

// Delete: the rows below move up one; the open last row never goes. Nothing is asked, and the file
// changes only with the next save.
void TForm9::BitBtn2Click() {
    const int row = StringGrid1->currentRow();
    if (row < 0 || row >= StringGrid1->rowCount() - 1)
        return;
    StringGrid1->removeRow(row);
    showDetails();
}

void TForm9::BitBtn3Click() {
    if (configuration_ && configuration_->Saveconfig())
        DialogSeam::current().message(this, QStringLiteral("Configuration saved"));
}

} // namespace paritas::gui
