// The main window's job list: adding and deleting jobs, saving and loading job-list files, and the
// job runner that processes the list from top to bottom without the review window.
//
//   BitBtn3Click ─(confirm unless scheduled)─> StartJoblist
//     statuses back to "Waiting", stop flags cleared, run buttons off
//     for each job row, while the job-list stop flag is clear: ProccesJobListItem
//        locations + subfolders into the window ─> scan A, scan B ─(stop?)─> planner of the job's
//        mode ─(stop?)─> executor (prompts only when started by hand) ─> status
//     run buttons on; after a scheduled run: save/clear the log, back to the schedule-active state
//
// A job's status says what happened: "Finished" only when it did everything, else "Failed",
// "Not Run" or "Stopped", with one line in the activity log saying why.

#include "gui/app/activity_log.h"
#include "gui/app/dialog_seam.h"
#include "gui/app/tform1.h"
#include "gui/planning/window_planner_host.h"
#include "gui/settings/tform2.h"

#include "core/app/modes.h"
#include "core/app/text_file.h"
#include "core/platform/path_text.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QToolButton>

#include <string_view>

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

void setStatus(QTableWidget* grid, int row, const char* status) {
    if (row < grid->rowCount())
        setCellText(grid, row, kStatus, status);
}

// Why a job's location cannot be run, or empty. Locations come from the choosers (absolute, ending
// with the separator) or from a job-list file, which anyone may have edited.
std::string unusableLocation(const std::string& location) {
    if (!isAbsolutePath(location))
        return "location \"" + location + "\" is not an absolute folder path";
    if (holdsUncarriableCharacter(location))
        return "location \"" + location + "\" holds a character that action lines cannot carry";
    return {};
}

// How a job ended: its status and, unless it did everything, the log text after "Job <n> ".
struct JobEnd {
    const char* status;
    std::string why;
};

// What a job that ran did not do, or empty: "1 action(s) failed; the scan of location B ...".
std::string shortfalls(const TForm1& f, const ExecutionCounts& counts, std::size_t leftAlone) {
    std::vector<std::string> parts;
    if (counts.bad > 0)
        parts.push_back(std::to_string(counts.bad) + " action(s) failed");
    if (!f.coverageA.complete())
        parts.push_back("the scan of location A could not see everything");
    if (!f.coverageB.complete())
        parts.push_back("the scan of location B could not see everything");
    if (leftAlone > 0)
        parts.push_back("the plan left " + std::to_string(leftAlone) +
                        " file(s) alone because the other side could not be read");
    std::string text;
    for (const std::string& part : parts)
        text += (text.empty() ? "" : "; ") + part;
    return text;
}

// Scans, plans and executes one job whose locations are in the window. A stop request that arrives
// while the job scans or plans ends it before its actions: the executor clears the action stop flag
// when it starts, so only the job-list stop flag still tells of the request by then.
JobEnd runJob(TForm1& f, const Job& job) {
    const int mode = paritas::modeIndex(job.modeName);
    if (mode < 0)
        return {kJobNotRun, "not run: its Synch Mode names none of the synchronisation modes"};
    for (const std::string& location : {job.locationA, job.locationB}) {
        const std::string why = unusableLocation(location);
        if (!why.empty())
            return {kJobNotRun, "not run: " + why};
    }

    f.SearchAGrid();
    f.SearchBGrid();
    if (f.stopFlags.jobList)
        return {kJobStopped, "stopped before its actions ran"};
    const Settings settings = f.currentSettings();
    PlanInput input = f.planInput(settings);
    WindowPlannerHost host(f);
    PlanResult result = planForMode(mode, input, host);
    // A refused plan runs nothing; in a job run its reason goes to the log, not a box.
    const bool refused = result.refused;
    const std::string refusal = result.refusal;
    const std::size_t leftAlone = result.leftAlone;
    result.refused = false;
    takePlan(f, std::move(result), settings); // a refused plan leaves an empty action list
    if (refused)
        return {kJobNotRun, "not run: " + refusal};
    if (f.stopFlags.jobList)
        return {kJobStopped, "stopped before its actions ran"};

    const ExecutionCounts counts = f.PerformActions();
    // The action flag alone: "Cancel All" of a copy ended this job's actions; later jobs still run.
    if (f.stopFlags.jobList || f.stopFlags.action)
        return {kJobStopped, "stopped during its actions"};
    const std::string missed = shortfalls(f, counts, leftAlone);
    if (!missed.empty())
        return {kJobFailed, "failed: " + missed};
    return {kJobFinished, {}};
}

// After a scheduled run: the log goes to an action log file when the settings ask for it, and the
// schedule resumes.
void endScheduledRun(TForm1& f, TForm2& settingsWindow) {
    if (settingsWindow.SaveLog->isChecked()) {
        const std::string fileName = actionLogFileName(settingsWindow.now());
        std::vector<std::string> lines;
        for (const QString& line : f.activityLog().lines())
            lines.push_back(line.toStdString());
        const std::string error = writeTextLines(fileName, lines);
        // Nobody may be at the desk: a failed save keeps the log and says so in it, and the
        // schedule goes on rather than waiting behind a message box.
        if (error.empty())
            f.activityLog().clear();
        else
            f.log("Cannot create file \"" + fileName + "\". " + error);
    }
    settingsWindow.resumeSchedule();
}

// The message at the end of a run started by hand in which not every job did everything.
QString runSummary(int notRun, int failed) {
    QStringList parts;
    if (failed > 0)
        parts << QStringLiteral("%1 job(s) of the job list failed").arg(failed);
    if (notRun > 0)
        parts << QStringLiteral("%1 job(s) of the job list were not run").arg(notRun);
    return parts.join(QStringLiteral(" and ")) + QStringLiteral("; the activity log says why.");
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
    jobsNotRun_ = jobsFailed_ = 0;

    const int rows = StringGrid3->rowCount();
    for (int r = 0; r < rows; ++r)
        if (!cellText(StringGrid3, r, kStatus).empty())
            setStatus(StringGrid3, r, kJobWaiting);
    stopFlags = StopFlags{};
    setRunButtonsEnabled(false);

    for (int r = 0; r < rows && r < StringGrid3->rowCount(); ++r) {
        if (stopFlags.jobList)
            break;
        if (cellText(StringGrid3, r, kStatus).empty())
            continue;
        currentJobRow = r;
        ProccesJobListItem();
    }

    // A schedule activated during a run started by hand holds the run buttons from here on (see
    // tform2_schedule.cpp); that run's log is the user's and stays in the window.
    setRunButtonsEnabled(true);
    const bool scheduled = jobListScheduled_;
    jobListRunning_ = jobListScheduled_ = false;
    endBusy();

    if (scheduled && windows_.form2)
        endScheduledRun(*this, *windows_.form2);
    CheckBox1->setChecked(true);

    if (!scheduled && jobsNotRun_ + jobsFailed_ > 0)
        DialogSeam::current().message(this, runSummary(jobsNotRun_, jobsFailed_));
}

void TForm1::ProccesJobListItem() {
    const int row = currentJobRow;
    const Job job = jobAt(row);
    // A location from a hand-edited file may lack its closing separator; the planners build paths by
    // concatenation, so it gets one, as the location choosers give it.
    Edit1->setText(text(withTrailingSeparator(job.locationA)));
    Edit2->setText(text(withTrailingSeparator(job.locationB)));
    CheckBox1->setChecked(job.includesSubfolders());
    setStatus(StringGrid3, row, kJobInProgress);

    const JobEnd end = runJob(*this, job);
    if (!end.why.empty())
        log("Job " + std::to_string(row + 1) + " " + end.why);
    jobsNotRun_ += std::string_view(end.status) == kJobNotRun;
    jobsFailed_ += std::string_view(end.status) == kJobFailed;
    setStatus(StringGrid3, row, end.status);
}

} // namespace paritas::gui
