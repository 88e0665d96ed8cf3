#pragma once
// The stop window, shown while actions run: one big button that stops the run and the job list.

#include <QWidget>

class QPushButton;

namespace paritas::gui {

class TForm1;

class TForm11 : public QWidget {
    Q_OBJECT
public:
    TForm11(TForm1* mainWindow);
    QPushButton* BitBtn1;

    // Shows the window 200 pixels right of and 40 below the main window's top-left corner.
    void showBesideMainWindow();
    // Gives the button the input focus so that the space bar presses it. A window the user has
    // closed during a run is shown again: the run must keep its means of being stopped.
    void takeFocus();

public slots:
    void BitBtn1Click();

private:
    TForm1* main_;
};

} // namespace paritas::gui
