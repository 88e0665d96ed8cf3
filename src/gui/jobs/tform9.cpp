#include "gui/jobs/tform9.h"

#include "gui/app/tform1.h"
#include "gui/settings/tform2.h"

#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QResizeEvent>
#include <QStyle>
#include <QTableWidget>

namespace paritas::gui {

TForm9::TForm9(TForm1* mainWindow, TForm2* configuration)
    : QWidget(mainWindow, Qt::Window), main_(mainWindow), configuration_(configuration) {
    setWindowTitle(QStringLiteral("Favorites"));
    setMinimumSize(330, 320);
    auto* icon = new QLabel(this);
    icon->setPixmap(style()->standardIcon(QStyle::SP_DirLinkIcon).pixmap(24, 24));
    icon->setGeometry(8, 6, 24, 24);
    auto* title = new QLabel(QStringLiteral("Favorite Synchronizations"), this);
    title->setGeometry(40, 8, 260, 20);
    StringGrid1 = new QTableWidget(1, 6, this);
    StringGrid1->setSelectionBehavior(QAbstractItemView::SelectRows);
    StringGrid1->setSelectionMode(QAbstractItemView::SingleSelection);
    StringGrid1->setEditTriggers(QAbstractItemView::NoEditTriggers);
    StringGrid1->verticalHeader()->setVisible(false);
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
    resize(330, 432);
    FormCreate();
    if (mainWindow)
        move(mainWindow->geometry().center() - QPoint(330 / 2, 432 / 2));
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
    StringGrid1->setGeometry(8, 36, w - 16, h - 36 - 190);
    if (auto* details = findChild<QGroupBox*>(QStringLiteral("details")))
        details->setGeometry(8, h - 186, w - 16, 146);
    BitBtn1->setGeometry(8, h - 34, 90, 26);
    BitBtn3->setGeometry(w / 2 - 45, h - 34, 90, 26);
    BitBtn2->setGeometry(w - 98, h - 34, 90, 26);
    StringGrid1->setColumnWidth(0, 12);
    StringGrid1->setColumnWidth(1, StringGrid1->width() / 3 * 2);
    for (int c = 2; c <= 5; ++c)
        StringGrid1->setColumnWidth(c, 1);
}

} // namespace paritas::gui
