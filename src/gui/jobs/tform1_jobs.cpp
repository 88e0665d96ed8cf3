// The main window's job list: adding and deleting jobs, saving and loading job-list files, and the
// job runner that processes the list from top to bottom without the review window.
//
//   BitBtn3Click ─(confirm unless scheduled)─> StartJoblist
//     statuses back to "Waiting", stop flags cleared, run buttons off
//     the core's job runner (core/jobs/job_runner.h) with the window as its host: per job the
//        locations go into the window, the window's scans, planner and executor run (prompts only
//        when started by hand; the mass-deletion guard only when scheduled)
//     run buttons on; the last job's locations scanned again when a job changed anything (the
//        status bar counts what is there now); one line in the progress label and the log sums the
//        jobs up, and a run started by hand ends with one box that does so (job_list_ending.h)
//     after a scheduled run: the log's new lines saved (the window keeps them), back to the
//        schedule-active state
//
// A job's status says what happened: "Finished" only when it did everything, else "Failed",
// "Not Run", "Refused" or "Stopped", with one line in the activity log saying why; the cell's tooltip
// says it too.

#include "gui/app/activity_log.h"
#include "gui/app/dialog_seam.h"
#include "gui/app/keep_alive.h"
#include "gui/app/tform1.h"
#include "gui/inventory/window_run_host.h"
#include "gui/jobs/job_list_ending.h"
#include "gui/settings/tform2.h"

#include "core/app/text_file.h"
#include "core/base/modes.h"
#include "core/jobs/job_runner.h"
#include "core/platform/path_text.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QToolButton>

#include <optional>
#include <string_view>
#include <vector>

namespace paritas::gui {
namespace {

constexpr int kStatus = 0, kLocationA = 1, kMode = 2, kLocationB = 3, kSubfolders = 4;

const QString kJobListFilter = QStringLiteral("Job List (*.jbl)");
const QString kJobListSuffix = QStringLiteral("jbl");

const QString kRunConfirmation = QStringLiteral(
    "This will start job list procesing. All actions will be done without prompting. Continue with "
    "actions? (Warning! Actions are non reversable, this step moves, copies, deletes and creates data!)");

QString text(const std::string& s) {
    return QString::fromStdString(s);
}

std::string cellText(const QTableWidget* grid, int row, int column) {
    const QTableWidgetItem* item = grid->item(row, column);
    return item ? item->text().toStdString() : std::string();
}

void setCellText(QTableWidget* grid, int row, int column, const std::string& value) {
    if (QTableWidgetItem* item = grid->item(row, column))
        item->setText(text(value));
    else
        grid->setItem(row, column, new QTableWidgetItem(text(value)));
}

void setStatus(QTableWidget* grid, int row, const char* status, const std::string& why = {}) {
    if (row >= grid->rowCount())
        return;
    setCellText(grid, row, kStatus, status);
    grid->item(row, kStatus)->setToolTip(text(why));
}

// The job runner's host in the window: the job table's statuses, the window's scans and planner
// host, and its executor (stop window, copy window, prompts as the run allows them).
class WindowJobHost final : public JobRunHost {
public:
    // `mayAsk`: someone started the list by hand and is there to answer (the password of an
    // encrypted rclone configuration, once for the list); a scheduled list asks nobody, and a job
    // whose remote needs the password is refused with that reason.
    WindowJobHost(TForm1& form, bool mayAsk) : f_(form), run_(form), mayAsk_(mayAsk) {}

    std::unique_ptr<Location> openLocation(const std::string& text) override {
        if (!mayAsk_)
            return JobRunHost::openLocation(text);
        std::unique_ptr<Location> location = run_.openLocation(text);
        openProblem_ = run_.takeOpenProblem();
        return location;
    }

    void log(std::string_view line) override { f_.log(line); }
    void jobStarted(std::size_t row, const Job& job) override {
        f_.currentJobRow = int(row);
        job_ = RunLocations{withTrailingSeparator(job.locationA), withTrailingSeparator(job.locationB),
                            job.includesSubfolders()};
        f_.Edit1->setText(text(job_.a));
        f_.Edit2->setText(text(job_.b));
        f_.CheckBox1->setChecked(job.includesSubfolders());
        setStatus(f_.StringGrid3, int(row), kJobInProgress);
    }
    void jobEnded(std::size_t row, const Job&, const JobReport& report) override {
        setStatus(f_.StringGrid3, int(row), report.status, report.why);
        ended_.push_back(EndedJob{row, report});
    }
    ScanHost& scanHost(Side side) override { return run_.scanHost(side); }
    PlannerHost& plannerHost() override { return run_.plannerHost(); }
    void scanStarting(Side side) override {
        lastScanned_ = job_;
        run_.scanStarting(side);
    }
    void scanEnded(Side side, const ScanResult& result) override { run_.scanEnded(side, result); }
    void whileWaiting() override { run_.whileWaiting(); }
    Settings settings() override { return f_.currentSettings(); }
    // A job's plan shows in the count label, a refused one as none of its actions run; the refusal
    // goes to the log and the job list's ending, not a box of its own (runJobList logs it). The
    // review window never shows a job's plan.
    void planned(const RunSession& run) override {
        QString count = QString::fromStdString(run.planned().countText);
        f_.lblActionCount->setToolTip({});
        if (const auto& refusal = run.refusal()) {
            const QString actions = QString::number(run.actions().size());
            const QString prefix =
                count.startsWith(QStringLiteral("Actions: ")) ? QStringLiteral("Actions: ") : QString();
            // Refused before a plan was made (a location missing): no "0 of 0".
            if (run.actions().empty()) {
                count = prefix + QStringLiteral("0");
                f_.lblActionCount->setToolTip(QStringLiteral("Refused: ") + text(refusal->reason));
            } else {
                count = prefix + QStringLiteral("0 of ") + actions;
                f_.lblActionCount->setToolTip(QStringLiteral("Refused, none of the %1 planned actions ran: %2")
                                                  .arg(actions, text(refusal->reason)));
            }
        }
        f_.lblActionCount->setText(count);
        f_.flushProgress();
    }
    ExecutionCounts execute(RunSession& run) override {
        const ExecutionCounts counts = f_.PerformActions(run);
        changedAnything_ = changedAnything_ || counts.good > 0 || counts.bad > 0;
        return counts;
    }
    bool jobListStopped() override { return f_.stopFlags.jobList; }
    bool actionsStopped() override { return f_.stopFlags.action; }

    const std::vector<EndedJob>& ended() const { return ended_; }
    // The locations of the last job that was scanned, when a job acted on anything.
    std::optional<RunLocations> toScanAgain() const { return changedAnything_ ? lastScanned_ : std::nullopt; }

private:
    TForm1& f_;
    WindowRunHost run_;
    RunLocations job_;
    std::optional<RunLocations> lastScanned_;
    bool changedAnything_ = false; // a line of some job succeeded or failed (a failure may change too)
    std::vector<EndedJob> ended_;
    bool mayAsk_;
};

// After a scheduled run: the log's lines since the last save go to an action log file when the
// settings ask for it, and the schedule resumes. The window keeps every line: whoever comes to the
// desk next reads there what the night's run did.
void endScheduledRun(TForm1& f, TForm2& settingsWindow) {
    if (settingsWindow.SaveLog->isChecked()) {
        // Beside config.ini: the folder the program started from when it holds one, else the
        // user's settings folder.
        const std::string fileName =
            settingsWindow.settingsFolder() + actionLogFileName(settingsWindow.now());
        f.activityLog().flush();
        const LogStore& store = f.activityLog().store();
        if (f.logLinesSaved > store.size())
            f.logLinesSaved = 0; // the log was emptied since
        std::vector<std::string> lines;
        for (std::size_t i = f.logLinesSaved; i < store.size(); ++i)
            lines.push_back(store.line(i));
        const std::string error = writeTextLines(fileName, lines);
        // Nobody may be at the desk: a failed save says so in the log, and the schedule goes on
        // rather than waiting behind a message box.
        if (error.empty()) {
            f.log("Activity log saved to \"" + fileName + "\"");
            f.logLinesSaved = store.size();
        } else {
            f.log("Cannot create file \"" + fileName + "\". " + error);
        }
    }
    settingsWindow.resumeSchedule();
}

} // namespace

Job TForm1::jobAt(int tableRow) const {
    return Job{cellText(StringGrid3, tableRow, kStatus), cellText(StringGrid3, tableRow, kLocationA),
               cellText(StringGrid3, tableRow, kMode), cellText(StringGrid3, tableRow, kLocationB),
               cellText(StringGrid3, tableRow, kSubfolders)};
}

void TForm1::setJobAt(int tableRow, const Job& job) {
    setCellText(StringGrid3, tableRow, kStatus, job.status);
    setCellText(StringGrid3, tableRow, kLocationA, job.locationA);
    setCellText(StringGrid3, tableRow, kMode, job.modeName);
    setCellText(StringGrid3, tableRow, kLocationB, job.locationB);
    setCellText(StringGrid3, tableRow, kSubfolders, job.subfolders);
}

std::vector<Job> TForm1::jobRows() const {
    std::vector<Job> rows;
    for (int r = 0; r < StringGrid3->rowCount(); ++r)
        rows.push_back(jobAt(r));
    return rows;
}

void TForm1::ListJobs(const std::vector<Job>& jobs) {
    StringGrid3->clearContents();
    StringGrid3->setRowCount(int(jobs.size()) + 1);
    for (std::size_t i = 0; i < jobs.size(); ++i)
        setJobAt(int(i), jobs[i]);
}

// Add: the current selection becomes a job in the open last row, and a new open row follows.
void TForm1::BitBtn1Click() {
    Normal1Click();
    const int mode = modeIndex();
    Job job;
    job.status = kJobWaiting;
    job.locationA = locationA();
    job.modeName = mode < 0 ? std::string() : std::string(kModeNames[std::size_t(mode)]);
    job.locationB = locationB();
    job.subfolders = CheckBox1->isChecked() ? "Yes" : "No";
    const int open = StringGrid3->rowCount() - 1;
    setJobAt(open, job);
    StringGrid3->insertRow(open + 1);
}

// Delete: the selected job goes and the rows below move up. The open last row is never removed, so
// the table keeps at least its open row; without a selected row nothing happens.
void TForm1::BitBtn2Click() {
    const int selected = StringGrid3->currentRow();
    if (selected < 0 || selected >= StringGrid3->rowCount() - 1)
        return;
    StringGrid3->removeRow(selected);
}

void TForm1::ToolButton4Click() {
    const QString fileName =
        DialogSeam::current().saveFileName(this, QString(), kJobListSuffix, kJobListFilter);
    if (fileName.isEmpty())
        return;
    const std::string error = writeJobListFile(fileName.toStdString(), jobRows());
    if (!error.empty())
        DialogSeam::current().error(
            this, QStringLiteral("Cannot create file \"%1\". %2").arg(fileName, text(error)));
}

void TForm1::ToolButton5Click() {
    // The runner reads the table row by row; replacing it under a run would mislabel the jobs.
    if (jobListRunning_) {
        DialogSeam::current().message(
            this, QStringLiteral("A job list cannot be loaded while the job list is being processed."));
        return;
    }
    const QString fileName = DialogSeam::current().openFileName(this, kJobListSuffix, kJobListFilter);
    if (fileName.isEmpty())
        return;
    bool fileRead = false;
    const JobListReading reading = readJobListFile(fileName.toStdString(), &fileRead);
    if (!fileRead) {
        DialogSeam::current().error(
            this, QStringLiteral("Cannot open file \"%1\". %2").arg(fileName, text(reading.error)));
        return;
    }
    ListJobs(reading.jobs);
    Normal1Click();
    if (!reading.error.empty())
        DialogSeam::current().error(this, text(reading.error));
}

// "Process Job List": after the confirmation (none for a scheduled start), run the whole list.
void TForm1::BitBtn3Click() {
    if (isBusy())
        return;
    const bool scheduled = windows_.form2 && windows_.form2->scheduledStart;
    if (!scheduled && DialogSeam::current().confirm(this, kRunConfirmation, false) != Answer::Ok)
        return;
    StartJoblist();
}

void TForm1::StartJoblist() {
    if (isBusy())
        return;
    beginBusy();
    jobListRunning_ = true;
    jobListScheduled_ = windows_.form2 && windows_.form2->scheduledStart;

    const int rows = StringGrid3->rowCount();
    for (int r = 0; r < rows; ++r)
        if (!cellText(StringGrid3, r, kStatus).empty())
            setStatus(StringGrid3, r, kJobWaiting);
    stopFlags = StopFlags{};
    setRunButtonsEnabled(false);

    // Nobody may watch a scheduled run: its plans meet the mass-deletion guard. A run started by hand
    // was confirmed by the user and asks what the settings ask.
    JobRunOptions options;
    if (jobListScheduled_ && windows_.form2)
        options.deletionBound = windows_.form2->scheduledDeletionBound();
    runLogStart_ = log_->store().size();
    WindowJobHost host(*this, !jobListScheduled_);
    runJobList(jobRows(), options, host);
    // The status bar counts what the jobs left behind, of the locations the boxes show.
    if (const std::optional<RunLocations> again = host.toScanAgain())
        SearchBothGrids(*again);

    // A schedule activated during a run started by hand holds the run buttons from here on (see
    // tform2_schedule.cpp); that run's log is the user's and stays in the window.
    setRunButtonsEnabled(true);
    const bool scheduled = jobListScheduled_;
    const bool stopped = stopFlags.jobList;
    jobListRunning_ = jobListScheduled_ = false;
    endBusy();

    int waiting = 0;
    for (int r = 0; r < StringGrid3->rowCount(); ++r)
        waiting += cellText(StringGrid3, r, kStatus) == kJobWaiting;
    showRunProgress();
    const QString status = jobListStatusText(host.ended(), waiting, stopped);
    setProgressStatus(status);
    log(status);
    flushProgress();
    if (scheduled && windows_.form2)
        endScheduledRun(*this, *windows_.form2);
    CheckBox1->setChecked(true);
    if (scheduled)
        return; // nobody may be at the desk: the label and the log say how it went
    const QString ending = jobListEndingText(host.ended(), waiting, stopped);
    const bool showLog =
        DialogSeam::current().endOfRun(this, ending, jobListEndingIsWarning(host.ended(), waiting, stopped));
    takeBackKeyboard();
    if (showLog)
        showRunLog();
}

} // namespace paritas::gui
