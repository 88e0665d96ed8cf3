#pragma once
// The activity log (Memo3): whole lines appended by every operation, all kept (the export writes them
// all) in a compact store, and shown by a view that paints only the lines in sight. The view catches
// up with new lines a few times a second (RepaintThrottle), so a scan that logs thirty thousand folders
// costs the store, not thirty thousand repaints. Readers (export, tests) see every line at once.

#include "core/base/host.h"
#include "gui/app/log_store.h"

#include <QStringList>

#include <memory>

namespace paritas::gui {

class LogView;
class RepaintThrottle;

class ActivityLog : public ActivityHost {
public:
    ActivityLog();
    ~ActivityLog() override;
    // The view that shows the log; it must outlive the log's use of it (the main window owns both).
    void setView(LogView* view);
    const LogStore& store() const { return store_; }

    void append(const QString& line);
    void append(std::string_view line);
    void log(std::string_view line) override { append(line); }
    // Brings the view up to date now.
    void flush();
    void clear();
    QStringList lines() const;
    // Every line as bytes, for the export.
    std::vector<std::string> lineBytes() const;

private:
    LogStore store_;
    LogView* view_ = nullptr;
    std::unique_ptr<RepaintThrottle> repaint_;
};

} // namespace paritas::gui
