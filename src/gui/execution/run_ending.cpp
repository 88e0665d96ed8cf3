#include "gui/execution/run_ending.h"

#include "gui/execution/tprogressform.h"

#include <QLocale>

#include <algorithm>

namespace paritas::gui {

QString countOf(uint64_t count, const char* one, const char* many) {
    return QLocale().toString(qulonglong(count)) + QLatin1Char(' ') +
           QString::fromLatin1(count == 1 ? one : many);
}

QString sizeText(uint64_t bytes) {
    return QLocale().formattedDataSize(qint64(bytes), 1, QLocale::DataSizeTraditionalFormat);
}

QString criteriaText(const Settings& settings) {
    QStringList criteria;
    if (settings.CheckSize)
        criteria << QStringLiteral("size");
    if (settings.CheckName)
        criteria << QStringLiteral("name");
    if (settings.CheckTimeStamp)
        criteria << QStringLiteral("time");
    if (criteria.isEmpty())
        return QStringLiteral("compared by no criterion");
    const QString last = criteria.takeLast();
    return QStringLiteral("compared by ") +
           (criteria.isEmpty() ? last : criteria.join(QStringLiteral(", ")) + QStringLiteral(" and ") + last);
}

namespace {

QString withDetails(const QString& text, const QStringList& details) {
    return details.isEmpty() ? text : text + QStringLiteral(" (") + details.join(QStringLiteral(", ")) + ')';
}

QString keptAsideText(const ExecutionCounts& counts, const Settings& settings) {
    if (counts.keptAside == 0)
        return {};
    const QString files = countOf(uint64_t(counts.keptAside), "file", "files");
    if (counts.removedTo == RemovedFiles::Trash)
        return files + QStringLiteral(" went to the trash; the file manager can put them back.");
    const QString folder = settings.versionsFolder.empty()
                               ? QStringLiteral(".paritas-versions at the top of each location")
                               : QString::fromStdString(settings.versionsFolder);
    return files + QStringLiteral(" went to the versions folder, ") + folder + '.';
}

} // namespace

QString runCountsText(const ExecutionCounts& counts) {
    const QLocale locale;
    QStringList failures, skips;
    if (counts.cancelled > 0)
        failures << locale.toString(counts.cancelled) + QStringLiteral(" cancelled");
    if (counts.dependencySkipped > 0)
        failures << locale.toString(counts.dependencySkipped) +
                        QStringLiteral(" not run after an earlier failure");
    if (counts.promptSkipped > 0)
        skips << locale.toString(counts.promptSkipped) + QStringLiteral(" left out at the prompt");
    if (counts.notReached > 0)
        skips << locale.toString(counts.notReached) + QStringLiteral(" not reached");
    return locale.toString(counts.good) + QStringLiteral(" done, ") +
           withDetails(locale.toString(counts.bad) + QStringLiteral(" failed"), failures) +
           QStringLiteral(", ") +
           withDetails(locale.toString(counts.promptSkipped + counts.notReached) + QStringLiteral(" skipped"),
                       skips);
}

QString runDoneText(const ExecutionCounts& counts) {
    QStringList parts;
    if (counts.copied > 0)
        parts << countOf(uint64_t(counts.copied), "file copied", "files copied") +
                     (counts.bytesCopied > 0 ? QStringLiteral(" (%1)").arg(sizeText(counts.bytesCopied))
                                             : QString());
    if (counts.moved > 0)
        parts << countOf(uint64_t(counts.moved), "file moved", "files moved");
    if (counts.deleted > 0)
        parts << countOf(uint64_t(counts.deleted), "file deleted", "files deleted");
    if (counts.created > 0)
        parts << countOf(uint64_t(counts.created), "new folder", "new folders");
    if (counts.removedFolders > 0)
        parts << countOf(uint64_t(counts.removedFolders), "folder removed", "folders removed");
    if (counts.linked > 0)
        parts << countOf(uint64_t(counts.linked), "hard link made", "hard links made");
    if (counts.attributesChanged > 0)
        parts << countOf(uint64_t(counts.attributesChanged), "change of attributes", "changes of attributes");
    return parts.join(QStringLiteral(", "));
}

bool runEndingIsWarning(const ExecutionCounts& counts) {
    return counts.bad > 0 || counts.promptSkipped > 0 || counts.notReached > 0 || counts.stopped;
}

QString runEndingText(const ExecutionCounts& counts, const Settings& settings, PlanKind kind,
                      bool nothingToDo) {
    QStringList lines;
    // The first line of a finished run is the one it always was; a stopped run no longer claims to
    // have finished.
    lines << (counts.stopped ? QStringLiteral("Synchronisation Stopped")
                             : QStringLiteral("Synchronisation FINISHED!"));
    if (nothingToDo) {
        lines << nothingToDoText(kind, settings);
        return lines.join('\n');
    }
    lines << runCountsText(counts);
    if (const QString done = runDoneText(counts); !done.isEmpty())
        lines << done + '.';
    if (const QString kept = keptAsideText(counts, settings); !kept.isEmpty())
        lines << kept;
    if (!counts.firstFailures.empty()) {
        lines << (std::size_t(counts.bad) > counts.firstFailures.size()
                      ? QStringLiteral("The first failures:")
                      : QStringLiteral("Failures:"));
        for (const std::string& failure : counts.firstFailures)
            lines << QStringLiteral("  ") + QString::fromStdString(failure);
    }
    lines << QStringLiteral("Files ") + criteriaText(settings) + '.';
    return lines.join('\n');
}

bool holdsAnAction(const ActionList& actions) {
    return std::any_of(actions.begin(), actions.end(), [](const PlanItem& item) { return item.isAction(); });
}

QString nothingToDoText(PlanKind kind, const Settings& settings) {
    QString what;
    switch (kind) {
    case PlanKind::Backup:
        what = QStringLiteral("B already holds what A holds");
        break;
    case PlanKind::FolderSynch:
        what = QStringLiteral("A and B already hold the same files");
        break;
    case PlanKind::CopyMissing:
        what = QStringLiteral("every file of A is already in B");
        break;
    case PlanKind::DeleteDuplicates:
        what = QStringLiteral("B holds no duplicate of a file in A");
        break;
    case PlanKind::DuplicatesWithinA:
        what = QStringLiteral("A holds no duplicates");
        break;
    }
    return QStringLiteral("Nothing to do: ") + what + QStringLiteral(" (") + criteriaText(settings) +
           QStringLiteral(").");
}

QString removalNote(uint64_t deletions, uint64_t replaced, const Settings& settings) {
    const uint64_t total = deletions + replaced;
    if (total == 0)
        return {};
    QStringList details;
    if (deletions > 0)
        details << countOf(deletions, "deletion", "deletions");
    if (replaced > 0)
        details << countOf(replaced, "replaced by a copy", "replaced by copies");
    const QString files = countOf(total, "file", "files");
    const bool one = total == 1;
    const QString why = QStringLiteral(" (") + details.join(QStringLiteral(", ")) + ')';
    switch (settings.removedFiles) {
    case RemovedFiles::Trash:
        return files + (one ? QStringLiteral(" goes") : QStringLiteral(" go")) +
               QStringLiteral(" to the trash") + why +
               QStringLiteral("; the file manager can put them back.");
    case RemovedFiles::Versions:
        return files + (one ? QStringLiteral(" goes") : QStringLiteral(" go")) +
               QStringLiteral(" to the versions folder") + why + QStringLiteral(", ") +
               (settings.versionsFolder.empty()
                    ? QStringLiteral(".paritas-versions at the top of each location")
                    : QString::fromStdString(settings.versionsFolder)) +
               '.';
    case RemovedFiles::Delete:
        break;
    }
    return files + (one ? QStringLiteral(" is") : QStringLiteral(" are")) +
           QStringLiteral(" deleted for good") + why + '.';
}

QString runBytesDoneText(uint64_t done, uint64_t planned, int64_t elapsedMs) {
    const int64_t seconds = std::max<int64_t>(0, (elapsedMs + 500) / 1000);
    const QString took =
        seconds >= 3600
            ? QStringLiteral("%1:%2:%3")
                  .arg(seconds / 3600)
                  .arg(seconds / 60 % 60, 2, 10, QLatin1Char('0'))
                  .arg(seconds % 60, 2, 10, QLatin1Char('0'))
            : QStringLiteral("%1:%2").arg(seconds / 60).arg(seconds % 60, 2, 10, QLatin1Char('0'));
    return sizeText(done) + QStringLiteral(" of ") + sizeText(planned) + QStringLiteral(" done in ") + took;
}

QString runBytesText(uint64_t done, uint64_t planned, int64_t elapsedMs) {
    const QString bytes = sizeText(done) + QStringLiteral(" of ") + sizeText(planned);
    const QString speed = copySpeedText(done, planned, elapsedMs);
    return speed.isEmpty() ? bytes : bytes + QStringLiteral(", ") + speed;
}

} // namespace paritas::gui
