#pragma once
// What a caption needs of its control at the control's own font. The windows keep their specified
// pixel sizes at the default font and grow a control only where a larger font needs more: every
// width below is a "max(design width, what the caption needs)".

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

} // namespace paritas::gui
