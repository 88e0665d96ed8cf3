#include "gui/app/font_fit.h"

#include <QCheckBox>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>

#include <algorithm>
#include <cmath>

namespace paritas::gui {
namespace {

// A push button's frame takes two pixels on each side; a comfortable button has four more.
constexpr int kButtonFrame = 4;
constexpr int kButtonComfort = 12;

QString withoutMnemonic(QString caption) {
    return caption.remove(QLatin1Char('&'));
}

} // namespace

int captionWidth(const QWidget* control, ButtonRoom room) {
    const QFontMetrics fm = control->fontMetrics();
    if (const auto* label = qobject_cast<const QLabel*>(control))
        return label->text().isEmpty() ? 0 : label->sizeHint().width();
    if (qobject_cast<const QCheckBox*>(control) || qobject_cast<const QRadioButton*>(control))
        return control->sizeHint().width();
    if (const auto* button = qobject_cast<const QPushButton*>(control)) {
        if (button->text().isEmpty())
            return 0;
        const int icon = button->icon().isNull() ? 0 : button->iconSize().width() + 4;
        return fm.horizontalAdvance(withoutMnemonic(button->text())) + icon +
               (room == ButtonRoom::Tight ? kButtonFrame : kButtonComfort);
    }
    if (const auto* group = qobject_cast<const QGroupBox*>(control))
        return fm.horizontalAdvance(group->title()) + 16;
    return 0;
}

int captionHeight(const QWidget* control) {
    const int line = control->fontMetrics().height();
    if (qobject_cast<const QPushButton*>(control))
        return line + 6;
    return line;
}

int grownWidth(const QWidget* control, int design, ButtonRoom room) {
    return std::max(design, captionWidth(control, room));
}

int grownHeight(const QWidget* control, int design) {
    return std::max(design, captionHeight(control));
}

int FontScale::sx(int design) const {
    return int(std::lround(design * x));
}

int FontScale::sy(int design) const {
    return int(std::lround(design * y));
}

QRect FontScale::scaled(const QRect& design) const {
    const int left = sx(design.x());
    const int top = sy(design.y());
    return QRect(left, top, sx(design.x() + design.width()) - left, sy(design.y() + design.height()) - top);
}

namespace {

// What a control's caption needs across and down; empty for controls without one, and for word-wrapped
// labels, which find their own lines.
QSize captionNeeds(const QWidget* control) {
    if (const auto* label = qobject_cast<const QLabel*>(control))
        if (label->wordWrap() || !label->pixmap().isNull())
            return {};
    const int width = captionWidth(control, ButtonRoom::Tight);
    return width == 0 ? QSize() : QSize(width, control->fontMetrics().height());
}

// Group boxes and plain panels hold controls of the window's design; other controls' insides (a
// list's viewport, a spin box's editor) are their own.
bool holdsDesignedControls(const QWidget* control) {
    const QMetaObject* type = control->metaObject();
    return qobject_cast<const QGroupBox*>(control) || type == &QWidget::staticMetaObject ||
           type == &QFrame::staticMetaObject;
}

void widen(const QWidget* container, FontScale& scale) {
    for (const QWidget* control : container->findChildren<const QWidget*>(Qt::FindDirectChildrenOnly)) {
        if (control->isWindow())
            continue;
        const QSize needs = captionNeeds(control);
        // A scaled edge may move by half a pixel each way: one pixel to spare keeps the caption whole.
        if (needs.width() > control->width() && control->width() > 0)
            scale.x = std::max(scale.x, double(needs.width() + 1) / control->width());
        if (needs.height() > control->height() && control->height() > 0)
            scale.y = std::max(scale.y, double(needs.height() + 1) / control->height());
        if (holdsDesignedControls(control))
            widen(control, scale);
    }
}

void scaleWithin(QWidget* container, const FontScale& scale) {
    for (QWidget* control : container->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        if (control->isWindow())
            continue;
        control->setGeometry(scale.scaled(control->geometry()));
        if (holdsDesignedControls(control))
            scaleWithin(control, scale);
    }
}

} // namespace

FontScale fontScaleOf(const QWidget* window) {
    FontScale scale;
    widen(window, scale);
    return scale;
}

void scaleControls(QWidget* window, const FontScale& scale) {
    if (scale.x != 1.0 || scale.y != 1.0)
        scaleWithin(window, scale);
}

} // namespace paritas::gui
