#include "gui/jobs/job_list_ending.h"

#include "gui/execution/run_ending.h"

#include "core/jobs/job_list.h"

#include <QLocale>
#include <QStringList>

#include <iterator>
#include <string_view>

namespace paritas::gui {
namespace {

bool finished(const EndedJob& job) {
    return std::string_view(job.report.status) == kJobFinished;
}

QString jobLine(const EndedJob& job) {
    return QStringLiteral("Job %1 %2").arg(job.row + 1).arg(QString::fromStdString(job.report.why));
}

} // namespace

ExecutionCounts summedCounts(const std::vector<EndedJob>& jobs) {
    ExecutionCounts sum;
    for (const EndedJob& job : jobs) {
        const ExecutionCounts& c = job.report.counts;
        sum.good += c.good;
        sum.bad += c.bad;
        sum.cancelled += c.cancelled;
        sum.dependencySkipped += c.dependencySkipped;
        sum.promptSkipped += c.promptSkipped;
        sum.notReached += c.notReached;
        sum.created += c.created;
        sum.moved += c.moved;
        sum.copied += c.copied;
        sum.deleted += c.deleted;
        sum.removedFolders += c.removedFolders;
        sum.bytesCopied += c.bytesCopied;
        sum.keptAside += c.keptAside;
        sum.stopped = sum.stopped || c.stopped;
    }
    return sum;
}

QString jobCountsText(const std::vector<EndedJob>& jobs, int waiting) {
    // In the order a reader wants them: what went well first, then what did not.
    const char* order[] = {kJobFinished, kJobFailed, kJobRefused, kJobNotRun, kJobStopped};
    const char* words[] = {"finished", "failed", "refused", "not run", "stopped"};
    QStringList parts;
    for (std::size_t k = 0; k < std::size(order); ++k) {
        int n = 0;
        for (const EndedJob& job : jobs)
            n += std::string_view(job.report.status) == order[k];
        if (n > 0)
            parts << QLocale().toString(n) + ' ' + QLatin1String(words[k]);
    }
    if (waiting > 0)
        parts << QLocale().toString(waiting) + QStringLiteral(" waiting");
    const QString total = countOf(uint64_t(jobs.size()) + uint64_t(waiting), "job", "jobs");
    return parts.isEmpty() ? total : total + QStringLiteral(": ") + parts.join(QStringLiteral(", "));
}

bool jobListEndingIsWarning(const std::vector<EndedJob>& jobs, int waiting, bool stopped) {
    if (stopped || waiting > 0)
        return true;
    for (const EndedJob& job : jobs)
        if (!finished(job))
            return true;
    return false;
}

QString jobListEndingText(const std::vector<EndedJob>& jobs, int waiting, bool stopped) {
    QStringList lines;
    lines << (stopped ? QStringLiteral("Job list Stopped") : QStringLiteral("Job list FINISHED!"));
    lines << jobCountsText(jobs, waiting);
    for (const EndedJob& job : jobs)
        if (!finished(job))
            lines << jobLine(job);
    const ExecutionCounts sum = summedCounts(jobs);
    lines << QStringLiteral("Actions: ") + runCountsText(sum);
    if (const QString done = runDoneText(sum); !done.isEmpty())
        lines << done + '.';
    return lines.join('\n');
}

QString jobListStatusText(const std::vector<EndedJob>& jobs, int waiting, bool stopped) {
    QString text = (stopped ? QStringLiteral("Job list Stopped: ") : QStringLiteral("Job list FINISHED: ")) +
                   jobCountsText(jobs, waiting);
    for (const EndedJob& job : jobs)
        if (!finished(job))
            return text + QStringLiteral("; ") + jobLine(job);
    return text;
}

} // namespace paritas::gui
