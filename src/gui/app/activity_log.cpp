#include "gui/app/activity_log.h"

#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTimer>

namespace paritas::gui {

void ActivityLog::append(const QString& line) {
    // Lines reach the memo at the next pump, or when control returns to the message loop.
    if (pending_.isEmpty())
        QTimer::singleShot(0, memo_, [this] { flush(); });
    pending_.append(line);
    if (pending_.size() >= 4096)
        flush();
}

void ActivityLog::flush() {
    if (pending_.isEmpty())
        return;
    memo_->appendPlainText(pending_.join(QLatin1Char('\n')));
    pending_.clear();
    memo_->verticalScrollBar()->setValue(memo_->verticalScrollBar()->maximum());
}

void ActivityLog::clear() {
    pending_.clear();
    memo_->clear();
}

QStringList ActivityLog::lines() {
    flush();
    const QString text = memo_->toPlainText();
    if (text.isEmpty() && memo_->document()->blockCount() <= 1)
        return {};
    return text.split(QLatin1Char('\n'));
}

} // namespace paritas::gui
