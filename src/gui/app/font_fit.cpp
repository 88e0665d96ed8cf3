#include "gui/app/font_fit.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>

#include <algorithm>

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

} // namespace paritas::gui
