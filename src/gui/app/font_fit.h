#pragma once
// What a caption needs of its control at the control's own font. The windows keep their designed
// pixel sizes at the default font and grow a control only where a larger font needs more: every
// width below is a "max(design width, what the caption needs)".

#include <QRect>

class QWidget;

namespace paritas::gui {

// How much room a push button leaves around its caption: its frame alone (the least that shows the
// caption whole), or a comfortable margin.
enum class ButtonRoom { Tight, Comfortable };

// The width in which the control shows its caption whole: a label's text and margins; a push
// button's text, icon and room; a check box's or radio button's indicator and text. 0 for other
// controls and empty captions.
int captionWidth(const QWidget* control, ButtonRoom room = ButtonRoom::Comfortable);
// The height of one line of the control's caption, with the same room around it.
int captionHeight(const QWidget* control);
// max(design, captionWidth) and max(design, captionHeight).
int grownWidth(const QWidget* control, int design, ButtonRoom room = ButtonRoom::Comfortable);
int grownHeight(const QWidget* control, int design);

// A window laid out in pixels for the default font, scaled as a whole to the font it has now: every
// position and size is multiplied by the least factors (across and down) that show each caption whole,
// which are 1 at the default font, where the design holds. Controls that stand apart or side by side
// at the design size still do when scaled, because a rectangle is scaled by its edges.
struct FontScale {
    double x = 1.0;
    double y = 1.0;
    int sx(int design) const;
    int sy(int design) const;
    QRect scaled(const QRect& design) const;
};
// The factors for the captions of the window's controls at their present (design) geometry.
FontScale fontScaleOf(const QWidget* window);
// Scales the geometry of every control inside the window (not the window itself).
void scaleControls(QWidget* window, const FontScale& scale);

} // namespace paritas::gui
