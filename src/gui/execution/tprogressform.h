#pragma once
// The copy progress window: how much of the file is done, how fast and how long it will take, with
// Cancel (this copy) and Cancel All (this copy and the rest of the run).
//
// A run of two hundred thousand small files must not pay for a window per file: CopyWithProgress
// makes the window only once a copy has run for showAfterMs, and its texts and bar follow the copy a
// few times a second. The window never takes the input focus: the stop window keeps it, so the space
// bar stops the run rather than pressing a button here.

#include <QElapsedTimer>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <memory>
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

class RepaintThrottle;
class TForm1;

class TProgressForm : public QWidget {
    Q_OBJECT
public:
    TProgressForm(TForm1* mainWindow, StopFlags& flags, ActivityHost& log);
    ~TProgressForm() override;

    QProgressBar* ProgressBar;
    QLabel *Label1, *Label2;
    QLabel* LabelSpeed; // speed and time left, left of the megabyte count
    QPushButton *BitBtn1, *AbortButton;
    bool cancelFlag = false;

    // One progress report of the copy under way. The window shows the latest report a few times a
    // second; flush() shows it now.
    void CopyProgressCallback(const QString& copyName, uint64_t done, uint64_t total);
    void flush();

    // Bytes seen by the progress callback for each report; the main window's bar follows a single
    // large copy through it.
    using BytesReport = std::function<void(uint64_t done, uint64_t total)>;

    // Runs one copy. The window appears once the copy has run for showAfterMs (at once when 0) and
    // the stop window then takes the focus back. Cancel, Cancel All and a stop request (the stop
    // window, "Stop All Actions") cancel the copy under way.
    static CopyResult CopyWithProgress(TForm1& mainWindow, StopFlags& flags, ActivityHost& log,
                                       CopyTask& copy, const QString& copyName,
                                       const BytesReport& bytes = {});
    static inline int showAfterMs = 300;

public slots:
    void AbortButtonClick();
    void BitBtn1Click();

private:
    void update();
    void placeControls();

    StopFlags& flags_;
    ActivityHost& log_;
    QString name_;
    uint64_t done_ = 0;
    uint64_t total_ = 0;
    QElapsedTimer started_;
    std::unique_ptr<RepaintThrottle> repaint_;
};

// "12.5 MB/s, 0:42 left" for `done` of `total` bytes after `elapsedMs`; empty until there is a speed.
QString copySpeedText(uint64_t done, uint64_t total, int64_t elapsedMs);

} // namespace paritas::gui
