#pragma once
// The main window: location choosers, mode choice, job list, progress area and activity log. It owns
// the synchronisation state (locations, mode, "Include Subfolders"), the folder lists and
// inventories, the action list and the stop flags; the commands of its menus, tool bar and buttons
// are its slots, named after the control and event that call them.

#include "core/app/layout_rules.h"
#include "core/app/run.h"
#include "core/execution/executor.h"
#include "core/execution/stop_flags.h"
#include "core/inventory/inventory.h"
#include "core/inventory/scan.h"
#include "core/jobs/job_list.h"
#include "core/planning/action_list.h"
#include "core/planning/planners.h"
#include "core/settings/settings.h"
#include "gui/app/windows.h"

#include <QMainWindow>
#include <QPointer>

#include <memory>

class QAction;
class QButtonGroup;
class QCheckBox;
class QColor;
class QComboBox;
class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QTableWidget;
class QTimer;
class QToolButton;
class QTreeView;

namespace paritas::gui {

class ActivityLog;
class LocationChooser;
class LogView;
class ProgressArea;

// What a command works on, taken from the window once, when its button is pressed: its scans, its
// planning, its run and the scans after the run all use these, whatever the user picks meanwhile.
struct RunLocations {
    std::string a; // location A as Edit1 showed it
    std::string b; // location B as Edit2 showed it
    bool includeSubfolders = true;
};

inline constexpr const char* kWebSite = "https://paritas.example.org/";

class TForm1 : public QMainWindow {
    Q_OBJECT
public:
    explicit TForm1(QWidget* parent = nullptr);
    ~TForm1() override;

    void setWindows(const Windows& windows) { windows_ = windows; }
    const Windows& windows() const { return windows_; }

    // The main progress bar, for hosts that count in 64 bits, and the progress label (Label9). The
    // widgets follow a few times a second; flushProgress() brings them up to date now.
    void setProgressMaximum(int64_t maximum);
    void setProgressPosition(int64_t position);
    void setProgressStatus(const QString& text);
    void setProgressStatusColour(const QColor& colour);
    // The text right of the progress label: a run's bytes, speed and time left; empty hides it.
    void setProgressDetail(const QString& text);
    void flushProgress();
    // The bar and its detail as a run left them. The scans after a run show their own progress on
    // the bar; the end of the command shows the run's again, so that a stopped run never ends on a
    // full bar.
    void keepRunProgress(int64_t maximum, int64_t position, const QString& detail);
    void showRunProgress();

    // Appends one line to the activity log.
    void log(const QString& line);
    void log(std::string_view line);
    ActivityLog& activityLog() { return *log_; }

    // The selected mode's index (0 to 3), or -1 when none is selected.
    int modeIndex() const;
    void setModeIndex(int index);
    std::string locationA() const;
    std::string locationB() const;
    // Both locations and "Include Subfolders" as the window shows them now.
    RunLocations chosenLocations() const;
    WindowLayout layoutChoice() const;
    // The settings as the configuration window holds them at this moment.
    Settings currentSettings() const;

    // Controls, named as on the form.
    QAction *Configuration1, *ExportActivityLog1, *Exit1, *CRCMatchingAB1, *DeleteduplicateswithinA1;
    QAction *Compact1, *Normal1, *Help1, *Developerinfo1, *ShowDescriptions1;
    QToolButton *ToolButton1, *ToolButton2, *ToolButton4, *ToolButton5, *SpeedButton1, *SpeedButton2;
    QLabel *Label2, *Label3, *Label4, *Label5; // the big letters and their captions
    QComboBox *ShellComboBox1, *ShellComboBox2;
    QTreeView *ShellTreeView1, *ShellTreeView2;
    QLineEdit *Edit1, *Edit2;
    QGroupBox* RadioGroup1;
    QButtonGroup* radioButtons;
    QFrame* Panel1;
    QCheckBox* CheckBox1;
    QPushButton *BitBtn7, *BitBtn6, *BitBtn1;
    QLabel* Label10;
    QTableWidget* StringGrid3;
    QPushButton *BitBtn2, *BitBtn3, *BitBtn4, *BitBtn5;
    QLabel* Label9;
    QProgressBar* ProgressBar1;
    QLabel *Label1, *Label6, *Label7, *lblActionCount;
    LogView* Memo3;
    QLabel *StatusPanelA, *StatusPanelB;     // the two panels of StatusBar1
    QTableWidget *StringGrid1, *StringGrid2; // hidden inventory grids (the tables live in the core)
    QTimer *Timer1, *Timer2;
    LocationChooser *chooserA, *chooserB;

    // The run the window works on: its request, its locations, its scans and its plan (run.h). Every
    // command that scans or plans replaces it; the review window edits its plan through it.
    RunSession& session() { return session_; }
    const RunSession& session() const { return session_; }
    // Replaces the run (the review window lets go of the old plan first).
    void replaceSession(RunSession next);
    StopFlags stopFlags;

    // Scans of location A and B, of the locations given, or of those the window shows now, into the
    // run (a new one when the locations differ from its own). A scan is three steps, so that both
    // sides can be walked at once: beginScan (the side's chooser locked, its label blinking), the
    // walk (reporting to the side's scan host), endScan (the panel and label set, the chooser freed).
    void SearchAGrid();
    void SearchBGrid();
    void SearchAGrid(const RunLocations& run);
    void SearchBGrid(const RunLocations& run);
    // Both scans, A's and B's, with B walked while A is scanned.
    void SearchBothGrids(const RunLocations& run);
    void beginScan(Side side);
    void endScan(Side side, const ScanResult& result);
    // The locations of the current run, for the scans after its actions.
    RunLocations planLocations() const;
    // While a command runs or a side is scanned, its folder tree and drop-down are disabled; locks
    // nest, and a chooser is enabled again when its last lock is released.
    void lockChooser(Side side);
    void unlockChooser(Side side);
    // Fills the review window's check list from the action list.
    void PrepareActionForm();
    // Runs the plan of `run` (the window's own by default) with the main window as host.
    ExecutionCounts PerformActions();
    ExecutionCounts PerformActions(RunSession& run);
    // A run of `kind` on `run`'s locations with the settings of the configuration window.
    RunRequest runRequest(PlanKind kind, const RunLocations& run) const;
    // Shows the current run's plan: the count label, the review window's list when the review is on,
    // the message box of a refused plan. Returns false when the run was refused.
    bool showPlan(bool planned);
    // The log line and message of a run the lock refused.
    void showRefusal();
    // True while a synchronisation, a job list or a CRC compare is under way: commands that would
    // start a second one are unavailable meanwhile.
    bool isBusy() const { return busy_ > 0; }
    void beginBusy();
    void endBusy();
    enum class RescanAfterRun { BothSides, SideAOnly };
    void reviewOrRun(bool planned, const Settings& settings, RescanAfterRun rescan);
    // The end of a run started by hand: the run's bar again, and the box (run_ending.h) that begins
    // "Synchronisation FINISHED!" ("Synchronisation Stopped" after a stop) with the counts the log's
    // "Actions summary:" line and the status label give, what the lines did and the criteria; a
    // warning when anything failed, was skipped or stopped. Its "Show Log" selects the run's lines
    // in the activity log. The keyboard is the main window's again afterwards.
    void reportRunEnd(const ExecutionCounts& counts);
    // Selects the lines of the last run (or job list) in the activity log and gives it the focus.
    void showRunLog();
    // The stop window and the copy window take the keyboard while actions run; when they are gone,
    // the main window takes it back (it is activated and its focus goes back where the user had it
    // before the command), so that typing and Alt shortcuts work at once.
    void takeBackKeyboard();
    // The buttons that a running executor or job list disables ("Stop All Actions" the other way).
    void setRunButtonsEnabled(bool enabled);

    // The job list (StringGrid3): table row i is job row i + 1 of the grid (the header is row 0);
    // the last table row is the open empty row.
    Job jobAt(int tableRow) const;
    void setJobAt(int tableRow, const Job& job);
    std::vector<Job> jobRows() const;
    // Replaces the table's jobs by `jobs` (header, the jobs, one open row).
    void ListJobs(const std::vector<Job>& jobs);
    // Runs every job of the table in order through the core's job runner (see tform1_jobs.cpp); the
    // job in progress is currentJobRow (a table row).
    void StartJoblist();
    int currentJobRow = 0;
    // True while a scheduled job list runs: nobody may be at the desk, so the executor asks nothing,
    // whatever the prompt settings say. A job list started by hand asks what the settings ask.
    bool runsWithoutPrompts() const { return jobListRunning_ && jobListScheduled_; }
    bool jobListRunning() const { return jobListRunning_; }
    // The activity log's lines before this one are in an action log file already: a scheduled run
    // saves the lines after it and keeps them all in the window.
    std::size_t logLinesSaved = 0;

public slots:
    void FormResize();
    void Configuration1Click();
    void ExportActivityLog1Click();
    void Exit1Click();
    void CRCMatchingAB1Click();
    void DeleteduplicateswithinA1Click();
    void Compact1Click();
    void Normal1Click();
    void Help1Click();
    void Developerinfo1Click();
    void ShowDescriptions1Click();
    void ToolButton4Click();
    void ToolButton5Click();
    void SpeedButton1Click();
    void SpeedButton2Click();
    void BitBtn7Click();
    void BitBtn6Click();
    void BitBtn1Click();
    void BitBtn2Click();
    void BitBtn3Click();
    void BitBtn4Click();
    void BitBtn5Click();
    void Timer1Timer();
    void Timer2Timer();

public:
    // Writes the activity log to a file; false (after the error box) when it cannot be created.
    bool ExportLog(const QString& fileName);

    // True when the settings or the favourites differ from what the settings files hold.
    bool configurationChangedSinceSave() const;

protected:
    void resizeEvent(QResizeEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void buildMenus();
    void buildToolBar(QWidget* client);
    void buildLocationSide(QWidget* client);
    void buildMiddle(QWidget* client);
    void buildJobArea(QWidget* client);
    void buildProgressArea(QWidget* client);
    void placeAnchoredControls(const MainLayout& layout);
    void placeProgressArea(const MainLayout& layout);
    void fitCompactProgressArea(MainLayout& layout, int outerHeight) const;
    void fitToFont();
    MainLayout widenedMiddle(MainLayout layout) const;
    void showSecondary(QWidget* window);
    void setChooserEnabled(Side side, bool enabled);

    Windows windows_;
    RunSession session_;
    std::unique_ptr<ActivityLog> log_;
    std::unique_ptr<ProgressArea> progress_;
    int chooserLocksA_ = 0;
    int chooserLocksB_ = 0;
    QWidget* client_ = nullptr;
    int middleWidth_ = 290; // the middle column's width at the window's font
    bool resizing_ = false;
    int busy_ = 0;
    bool jobListRunning_ = false;
    bool jobListScheduled_ = false;
    bool runRefused_ = false; // the last run was refused before its first line (another run holds B)
    std::size_t runLogStart_ = 0;   // the activity log's first line of the last run or job list
    QPointer<QWidget> focusBeforeBusy_; // the main window's focus when the command began
    struct RunProgress {
        int64_t maximum = 0;
        int64_t position = 0;
        QString detail;
        bool kept = false;
    } runProgress_;
};

} // namespace paritas::gui
