#pragma once
// The main window's progress bar (ProgressBar1) and progress label (Label9) as the work last reported
// them. Scans, planners and the executor report after every row, folder or line; the widgets follow a
// few times a second (RepaintThrottle), and flush() brings them up to date at the end of an operation.
//
// The label takes the width its text needs, up to the right edge of the window's client area, so the
// counts and the red warning above 100 failures are seen whole. A second text, the detail (a run's
// bytes, speed and time left), stands right of it on its row and ends where the bar ends; it gives
// way to the label (cut short with an ellipsis, or hidden) and is hidden while empty.

#include <QColor>
#include <QString>

#include <cstdint>
#include <memory>

class QLabel;
class QProgressBar;

namespace paritas::gui {

class RepaintThrottle;

class ProgressArea {
public:
    ProgressArea(QProgressBar* bar, QLabel* label);
    ~ProgressArea();
    void setMaximum(int64_t maximum);
    void setPosition(int64_t position);
    void setStatus(const QString& text);
    void setStatusColour(const QColor& colour);
    void setDetail(const QString& text);
    QLabel* detailLabel() const { return detail_; }
    void flush();
    // Gives the label the width its text needs within its parent (after a change of size or font).
    void fitLabel();

private:
    void update();

    void placeDetail();

    QProgressBar* bar_;
    QLabel* label_;
    QLabel* detail_;
    QString detailText_;
    QString placedDetail_; // the detail text as last placed
    int maximum_ = 0;
    int position_ = 0;
    QString status_;
    QColor colour_;
    std::unique_ptr<RepaintThrottle> repaint_;
};

} // namespace paritas::gui
