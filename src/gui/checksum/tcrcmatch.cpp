#include "gui/checksum/tcrcmatch.h"

#include "gui/app/tform1.h"

#include <QHeaderView>
#include <QProgressBar>
#include <QPushButton>
#include <QResizeEvent>
#include <QTableWidget>

namespace paritas::gui {

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
        b->setGeometry(x, 6, b == BitBtn3 ? 140 : 110, 26);
        x += b->width() + 6;
    }
    StringGrid1 = new QTableWidget(1, 5, this);
    StringGrid1->setHorizontalHeaderLabels({QStringLiteral("Status"), QStringLiteral("File A CRC"),
                                            QStringLiteral("File B CRC"), QStringLiteral("FilePath A"),
                                            QStringLiteral("FilePath B")});
    StringGrid1->setSelectionBehavior(QAbstractItemView::SelectRows);
    StringGrid1->setEditTriggers(QAbstractItemView::NoEditTriggers);
    StringGrid1->verticalHeader()->setVisible(false);
    StringGrid1->verticalHeader()->setDefaultSectionSize(18);
    const int widths[5] = {79, 87, 93, 127, 166};
    for (int c = 0; c < 5; ++c)
        StringGrid1->setColumnWidth(c, widths[c]);
    ProgressBar1 = new QProgressBar(this);
    ProgressBar1->setTextVisible(false);
    resize(576, 518);
    if (mainWindow)
        move(mainWindow->geometry().center() - QPoint(576 / 2, 518 / 2));
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

} // namespace paritas::gui
