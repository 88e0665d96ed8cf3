#include "gui/app/repaint_throttle.h"

#include <QTimer>

namespace paritas::gui {

RepaintThrottle::RepaintThrottle(std::function<void()> update, QObject* parent)
    : QObject(parent), update_(std::move(update)), timer_(new QTimer(this)) {
    timer_->setSingleShot(true);
    connect(timer_, &QTimer::timeout, this, [this] { flush(); });
}

void RepaintThrottle::request() {
    if (pending_)
        return;
    if (!last_.isValid() || last_.elapsed() >= kIntervalMs) {
        updateNow();
        return;
    }
    pending_ = true;
    timer_->start(int(kIntervalMs - last_.elapsed()));
}

void RepaintThrottle::flush() {
    if (!pending_)
        return;
    timer_->stop();
    updateNow();
}

void RepaintThrottle::updateNow() {
    pending_ = false;
    last_.start();
    update_();
}

} // namespace paritas::gui
