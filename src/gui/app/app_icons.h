#pragma once
// Pictures the windows share, each made once: a window made per copy must not decode its pictures
// again per copy.

#include <QIcon>

namespace paritas::gui {

// The program's own icon (the window icon, the developer-info picture), from the SVG that is also
// installed for the desktop.
const QIcon& appIcon();

// The cancel-style cross of the stop and Cancel All buttons.
const QIcon& cancelIcon();
// The warning sign beside a row or a line that needs the user's eye.
const QIcon& warningIcon();
// The sign of a line that deletes a file or removes a folder.
const QIcon& deleteIcon();
// The sign of a row that found no partner (a file of A that no file of B matches).
const QIcon& missingIcon();

} // namespace paritas::gui
