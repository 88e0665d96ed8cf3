#pragma once
// The activity log (Memo3): whole lines appended by every operation. Lines are buffered and handed
// to the memo in batches when the window pumps messages, so a scan that logs fifteen thousand folders
// does not lay the memo out fifteen thousand times. Readers (export, tests) see every line.

#include "core/app/host.h"

#include <QStringList>

class QPlainTextEdit;

namespace paritas::gui {

class ActivityLog : public ActivityHost {
public:
    explicit ActivityLog(QPlainTextEdit* memo) : memo_(memo) {}
    void append(const QString& line);
    void append(std::string_view line) { append(QString::fromUtf8(line.data(), qsizetype(line.size()))); }
    void log(std::string_view line) override { append(line); }
    void flush();
    void clear();
    QStringList lines();

private:
    QPlainTextEdit* memo_;
    QStringList pending_;
};

} // namespace paritas::gui
