#include "gui/execution/tform3.h"

#include "gui/app/tform1.h"

#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QResizeEvent>
#include <QScreen>

namespace paritas::gui {

TForm3::TForm3(TForm1* mainWindow)
    : QWidget(mainWindow, Qt::Window | Qt::WindowStaysOnTopHint), main_(mainWindow) {
    setWindowTitle(QStringLiteral("File Action List"));
    setMinimumSize(300, 300);
    BitBtn1 = new QPushButton(QStringLiteral("Preview File"), this);
    BitBtn1->setGeometry(8, 8, 105, 25);
    Label1 = new QLabel(this);
    Label1->setWordWrap(true);
    Label1->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    CheckListBox1 = new QListWidget(this);
    CheckListBox1->setContextMenuPolicy(Qt::CustomContextMenu);
    PopupMenu1 = new QMenu(this);
    OriginalToDup = PopupMenu1->addAction(QStringLiteral("Switch Original to duplicate"));
    OriginalToDup->setEnabled(false);
    BitBtn3 = new QPushButton(QStringLiteral("Confirm/Perform Actions"), this);
    QFont bold = BitBtn3->font();
    bold.setBold(true);
    BitBtn3->setFont(bold);
    resize(568, 494);
    if (const QScreen* screen = this->screen())
        move(screen->availableGeometry().center() - QPoint(568 / 2, 494 / 2));
}

void TForm3::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    const int w = width(), h = height();
    Label1->setGeometry(120, 8, w - 141, 33);
    CheckListBox1->setGeometry(8, 40, w - 23, h - 93);
    BitBtn3->setGeometry(8, h - 50, w - 23, 25);
}

} // namespace paritas::gui
