#include "gui/app/app_icons.h"

#include <QApplication>
#include <QPainter>
#include <QStyle>
#include <QSvgRenderer>

namespace paritas::gui {

// Rendered once at the sizes desktops ask for, so that no image plugin is needed to show it.
const QIcon& appIcon() {
    static const QIcon icon = [] {
        QIcon rendered;
        QSvgRenderer svg(QStringLiteral(":/paritas/paritas.svg"));
        if (!svg.isValid())
            return rendered;
        for (int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
            QPixmap pixmap(size, size);
            pixmap.fill(Qt::transparent);
            QPainter painter(&pixmap);
            svg.render(&painter);
            painter.end();
            rendered.addPixmap(pixmap);
        }
        return rendered;
    }();
    return icon;
}

const QIcon& cancelIcon() {
    static const QIcon icon = QApplication::style()->standardIcon(QStyle::SP_DialogCancelButton);
    return icon;
}

const QIcon& warningIcon() {
    static const QIcon icon = QApplication::style()->standardIcon(QStyle::SP_MessageBoxWarning);
    return icon;
}

const QIcon& deleteIcon() {
    static const QIcon icon = QApplication::style()->standardIcon(QStyle::SP_TrashIcon);
    return icon;
}

const QIcon& missingIcon() {
    static const QIcon icon = QApplication::style()->standardIcon(QStyle::SP_MessageBoxQuestion);
    return icon;
}

} // namespace paritas::gui
