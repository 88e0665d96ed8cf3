#include "gui/app/app_icons.h"

#include <QApplication>
#include <QStyle>

namespace paritas::gui {

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

} // namespace paritas::gui
