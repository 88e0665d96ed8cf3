#pragma once
// What the program sets on the application before it creates its windows.

class QApplication;

namespace paritas::gui {

// The application's name ("Paritas"), the window icon of every window, the desktop entry the
// windows belong to (paritas.desktop), and the user's locale for date and time texts. No display
// name is set: the desktop would append it to every caption, and the main window's caption is
// "Paritas 1.0" exactly.
void setUpApplication(QApplication& app);

} // namespace paritas::gui
