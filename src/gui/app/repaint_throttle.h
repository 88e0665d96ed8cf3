#pragma once
// Views of changing state (a progress bar, a count label, the last lines of the log, the rows of a
// grid) are brought up to date at most a few times a second, however often the work reports.
//
// request() says the state changed. When the last update is long enough ago the update runs at once;
// otherwise a timer runs it at the end of the interval (long work serves the timer from its
// keep-alive pumps). flush() runs a pending update now: at the end of an operation, and before
// anything reads the widgets. A request costs one flag test while an update is pending.

#include <QElapsedTimer>
#include <QObject>

#include <functional>

class QTimer;

namespace paritas::gui {

class RepaintThrottle : public QObject {
public:
    explicit RepaintThrottle(std::function<void()> update, QObject* parent = nullptr);
    void request();
    void flush();
    bool pending() const { return pending_; }

    static constexpr int kIntervalMs = 200;

private:
    void updateNow();

    std::function<void()> update_;
    QTimer* timer_;
    QElapsedTimer last_;
    bool pending_ = false;
};

} // namespace paritas::gui
