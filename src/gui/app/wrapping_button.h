#pragma once
// A push button whose caption wraps onto several lines beside its icon, where a plain button would cut
// it. text() stays the caption. heightForWidth() says how high the button must be for its caption at
// a given width, so that a window can grow with a larger font. The property "wrapsText" tells the
// layout checks to measure it by height.

#include <QPushButton>

namespace paritas::gui {

class WrappingButton : public QPushButton {
    Q_OBJECT
public:
    WrappingButton(const QString& caption, QWidget* parent);
    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QRect captionRect(const QRect& frame) const;
};

} // namespace paritas::gui
