#pragma once
// The stop window, shown while actions run: one big button that stops the run and the job list.

#include <QElapsedTimer>
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
    //   Focus::Now        always asks for the focus (the copy window has just appeared)
    //   Focus::WhenLost   asks only when the window lost it, and at most a few times a second:
    //                     before every action line this is one test, not a request to the display
    enum class Focus { Now, WhenLost };
    void takeFocus(Focus when = Focus::Now);

public slots:
    void BitBtn1Click();

private:
    TForm1* main_;
    QElapsedTimer lastRequest_;
};

} // namespace paritas::gui
