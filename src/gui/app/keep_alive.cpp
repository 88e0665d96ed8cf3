#include "gui/app/keep_alive.h"

#include <QCoreApplication>
#include <QElapsedTimer>

namespace paritas::gui {
namespace {

constexpr qint64 kPumpIntervalMs = 40;

QElapsedTimer& lastPump() {
    static QElapsedTimer timer;
    return timer;
}

std::function<void()>& beforePump() {
    static std::function<void()> hook;
    return hook;
}

} // namespace

void KeepAlive::pump() {
    QElapsedTimer& timer = lastPump();
    if (timer.isValid() && timer.elapsed() < kPumpIntervalMs)
        return;
    pumpNow();
}

void KeepAlive::pumpNow() {
    if (beforePump())
        beforePump()();
    QCoreApplication::processEvents();
    lastPump().start();
}

void KeepAlive::setBeforePump(std::function<void()> hook) {
    beforePump() = std::move(hook);
}

} // namespace paritas::gui
