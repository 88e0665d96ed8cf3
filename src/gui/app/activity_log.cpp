#include "gui/app/activity_log.h"

#include "gui/app/log_view.h"
#include "gui/app/repaint_throttle.h"

namespace paritas::gui {

ActivityLog::ActivityLog()
    : repaint_(std::make_unique<RepaintThrottle>([this] {
          if (view_)
              view_->storeChanged();
      })) {}

ActivityLog::~ActivityLog() = default;

void ActivityLog::setView(LogView* view) {
    view_ = view;
    flush();
}

void ActivityLog::append(const QString& line) {
    const QByteArray bytes = line.toUtf8();
    append(std::string_view(bytes.constData(), std::size_t(bytes.size())));
}

void ActivityLog::append(std::string_view line) {
    store_.append(line);
    repaint_->request();
}

void ActivityLog::flush() {
    repaint_->flush();
}

void ActivityLog::clear() {
    store_.clear();
    repaint_->request();
    repaint_->flush();
}

QStringList ActivityLog::lines() const {
    QStringList all;
    all.reserve(qsizetype(store_.size()));
    store_.forEach(
        [&](std::string_view line) { all << QString::fromUtf8(line.data(), qsizetype(line.size())); });
    return all;
}

std::vector<std::string> ActivityLog::lineBytes() const {
    std::vector<std::string> all;
    all.reserve(store_.size());
    store_.forEach([&](std::string_view line) { all.emplace_back(line); });
    return all;
}

} // namespace paritas::gui
