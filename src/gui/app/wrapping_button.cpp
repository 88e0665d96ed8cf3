#include "gui/app/wrapping_button.h"

#include <QStyleOptionButton>
#include <QStylePainter>

namespace paritas::gui {
namespace {

constexpr int kPadding = 6;

} // namespace

WrappingButton::WrappingButton(const QString& caption, QWidget* parent) : QPushButton(caption, parent) {
    setProperty("wrapsText", true);
}

QRect WrappingButton::captionRect(const QRect& frame) const {
    const int iconRoom = icon().isNull() ? 0 : iconSize().width() + kPadding;
    return frame.adjusted(kPadding + iconRoom, kPadding / 2, -kPadding, -kPadding / 2);
}

int WrappingButton::heightForWidth(int width) const {
    const QRect room = captionRect(QRect(0, 0, width, 10000));
    const QRect text = fontMetrics().boundingRect(room, Qt::AlignCenter | Qt::TextWordWrap, this->text());
    return std::max(text.height(), iconSize().height()) + kPadding + 4;
}

void WrappingButton::paintEvent(QPaintEvent*) {
    QStylePainter painter(this);
    QStyleOptionButton option;
    initStyleOption(&option);
    option.text.clear();
    option.icon = QIcon();
    painter.drawControl(QStyle::CE_PushButton, option);
    const QRect caption = captionRect(rect());
    const QRect text = fontMetrics().boundingRect(caption, Qt::AlignCenter | Qt::TextWordWrap, this->text());
    if (!icon().isNull()) {
        const QSize size = iconSize();
        const QPoint at(text.left() - kPadding - size.width(), rect().center().y() - size.height() / 2);
        painter.drawPixmap(at, icon().pixmap(size, isEnabled() ? QIcon::Normal : QIcon::Disabled));
    }
    painter.setPen(
        palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::ButtonText));
    painter.drawText(caption, Qt::AlignCenter | Qt::TextWordWrap, this->text());
}

} // namespace paritas::gui
