#include "gui/app/tform10.h"

#include "gui/app/app_icons.h"
#include "gui/app/dialog_seam.h"
#include "gui/app/font_fit.h"
#include "gui/app/tform1.h"

#include <QLabel>

#include <algorithm>

namespace paritas::gui {

TForm10::TForm10(QWidget* mainWindow)
    : QWidget(mainWindow,
              Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint) {
    setWindowTitle(QStringLiteral("Developer Info"));
    Image1 = new QLabel(this);
    Image1->setGeometry(4, 6, 49, 41);
    Image1->setPixmap(appIcon().pixmap(40, 40));
    Label2 = new QLabel(QStringLiteral("Paritas developers"), this);
    Label1 = new QLabel(this);
    Label1->setText(QStringLiteral("<a href=\"%1\">paritas.example.org</a>").arg(QLatin1String(kWebSite)));
    // A client area of 205 by 54 at the default font; wider and higher where a larger font needs it.
    const int width = std::max(grownWidth(Label2, 140), grownWidth(Label1, 140));
    const int height = std::max(grownHeight(Label2, 18), grownHeight(Label1, 18));
    Label2->setGeometry(60, 6, width, height);
    Label1->setGeometry(60, std::max(28, 6 + height + 4), width, height);
    setFixedSize(std::max(205, 60 + width + 5), std::max(54, Label1->y() + height + 8));
    Label1->setTextInteractionFlags(Qt::LinksAccessibleByMouse);
    Label1->setCursor(Qt::PointingHandCursor);
    connect(Label1, &QLabel::linkActivated, this, &TForm10::Label1Click);
    if (mainWindow)
        move(mainWindow->geometry().center() - QPoint(this->width() / 2, this->height() / 2));
}

void TForm10::Label1Click() {
    DialogSeam::current().open(QString::fromLatin1(kWebSite));
}

} // namespace paritas::gui
