#pragma once
// The copy progress window: one per copy, showing how much of the file is done, with Cancel (this
// copy) and Cancel All (this copy and the rest of the run).

#include <QWidget>

#include <cstdint>
#include <string>

class QLabel;
class QProgressBar;
class QPushButton;

namespace paritas {
struct StopFlags;
class ActivityHost;
class CopyTask;
struct CopyResult;
} // namespace paritas

namespace paritas::gui {

class TForm1;

class TProgressForm : public QWidget {
    Q_OBJECT
public:
    TProgressForm(TForm1* mainWindow, StopFlags& flags, ActivityHost& log);

    QProgressBar* ProgressBar;
    QLabel *Label1, *Label2;
    QPushButton *BitBtn1, *AbortButton;
    bool cancelFlag = false;

    // One progress report of the copy under way.
    void CopyProgressCallback(const QString& copyName, uint64_t done, uint64_t total);

    // Runs one copy with a progress window. The window shows itself only for a copy that takes a
    // noticeable time, so a tree of small files does not flash a window per file. Cancel, Cancel All
    // and a stop request (the stop window, "Stop All Actions") cancel the copy under way.
    static CopyResult CopyWithProgress(TForm1& mainWindow, StopFlags& flags, ActivityHost& log,
                                       CopyTask& copy, const QString& copyName);

public slots:
    void AbortButtonClick();
    void BitBtn1Click();

private:
    StopFlags& flags_;
    ActivityHost& log_;
};

} // namespace paritas::gui
