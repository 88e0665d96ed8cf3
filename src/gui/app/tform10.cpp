#include "gui/app/tform10.h"

#include "gui/app/dialog_seam.h"
#include "gui/app/tform1.h"

#include <QLabel>
#include <QStyle>

namespace paritas::gui {

TForm10::TForm10(QWidget* mainWindow) : QWidget(mainWindow, Qt::Tool | Qt::WindowCloseButtonHint) {
    setWindowTitle(QStringLiteral("Developer Info"));
    setFixedSize(205, 54);
    Image1 = new QLabel(this);
    Image1->setGeometry(4, 6, 49, 41);
    Image1->setPixmap(style()->standardIcon(QStyle::SP_ComputerIcon).pixmap(40, 40));
    Label2 = new QLabel(QStringLiteral("Paritas developers"), this);
    Label2->setGeometry(60, 6, 140, 18);
    Label1 = new QLabel(this);
    Label1->setGeometry(60, 28, 140, 18);
    Label1->setText(QStringLiteral("<a href=\"%1\">paritas.example.org</a>").arg(QLatin1String(kWebSite)));
    Label1->setTextInteractionFlags(Qt::LinksAccessibleByMouse);
    Label1->setCursor(Qt::PointingHandCursor);
    connect(Label1, &QLabel::linkActivated, this, &TForm10::Label1Click);
    if (mainWindow)
        move(mainWindow->geometry().center() - QPoint(205 / 2, 54 / 2));
}

void TForm10::Label1Click() {
    DialogSeam::current().open(QString::fromLatin1(kWebSite));
}

} // namespace paritas::gui
