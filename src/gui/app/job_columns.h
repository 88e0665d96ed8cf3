#pragma once
// The job list's column widths: the size rules' widths, widened where a header or a cell of the short
// columns (status, mode, subfolders) would be cut. The columns fit inside the list beside its vertical
// scroll bar: what the short columns gain, and what the scroll bar takes, the two location columns give
// up in equal parts (their paths are elided, so a narrower one still shows what matters), down to what
// their own headers need; beyond that the list scrolls across.

#include <array>

class QTableWidget;

namespace paritas::gui {

// `rule`: the widths the size rules give the five columns. The short columns are measured against
// every text they can hold (the four mode names, every status, "Yes" and "No") and what they hold
// now, so that a column does not change its width as jobs come and go.
std::array<int, 5> fittedJobColumns(const QTableWidget& grid, std::array<int, 5> rule);

} // namespace paritas::gui
