#pragma once
// The configuration window: every user setting, the weekly schedule's controls and the settings file
// commands. A setting is the state of one box (or the time field) here; operations take a plain
// Settings value from currentSettings() at the moment they need it.

#include "core/planning/deletion_guard.h"
#include "core/settings/config_file.h"
#include "core/settings/settings.h"
#include "core/settings/settings_folder.h"

#include <QWidget>

#include <array>
#include <ctime>
#include <functional>
#include <string>
#include <vector>

class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QRadioButton;
class QSpinBox;
class QTimer;

namespace paritas::gui {

class TForm1;
class TForm9;

class TForm2 : public QWidget {
    Q_OBJECT
public:
    explicit TForm2(QWidget* mainWindow);

    Settings currentSettings() const;
    void applySettings(const Settings& settings);

    QGroupBox *GroupBox1, *GroupBox2, *GroupBox3, *GroupBox4;
    QCheckBox *CheckDelete, *CheckCreate, *CheckCopy, *CheckBoxConfirm;
    QCheckBox *CheckSize, *CheckName, *CheckTimeStamp;
    QCheckBox *CheckNewer, *CheckKeepOld;
    QCheckBox *Monday, *Tuesday, *Wednesday, *Thursday, *Friday, *Saturday, *Sunday;
    QCheckBox *Every, *SaveLog;
    QLineEdit* Edit1; // time of day of the schedule
    QLabel* LabelMaxDelete;
    QLineEdit* EditMaxDelete; // the mass-deletion guard's bound for scheduled runs: "50%", "200", "none"
    // What becomes of the files that actions delete or replace, and copy verification
    // (unattended.ini; config.ini has no line for them).
    QGroupBox* GroupBox5;
    QRadioButton *RadioDelete, *RadioTrash, *RadioVersions;
    QLineEdit* EditVersions;     // the versions folder; empty: .paritas-versions in each location
    QPushButton* ButtonVersions; // "Choose...": the versions folder from a folder dialog
    QLabel* LabelKeepDays;
    QSpinBox* SpinKeepDays; // versions older than this many days are removed; 0 keeps them all
    QCheckBox* CheckVerify;
    // "Leave out": patterns in ignore-file syntax, one a line, that every run of the window and every
    // job leaves out (unattended.ini, leave_out.h).
    QGroupBox* GroupBox6;
    QPlainTextEdit* MemoLeaveOut;
    // What a backup keeps beyond contents (unattended.ini): hard links, and whether attributes and ACLs
    // are compared.
    QGroupBox* GroupBox7;
    QCheckBox *CheckHardLinks, *CheckXattrs;
    QLabel* Label2;                           // clock while the schedule is active
    QTimer* Timer1;                           // schedule timer
    QPushButton *BitBtn3, *BitBtn1, *BitBtn2; // Save Configuration, Deactivate, Activate Schedule
    QPushButton* ButtonClose;                 // hides the window, as its close box does
    bool scheduledStart = false;
    // The schedule's clock; the system clock when empty (tests put their own moment here).
    std::function<std::time_t()> clock;
    std::time_t now() const { return clock ? clock() : std::time(nullptr); }
    // Activated and not deactivated since (the timer is off during a scheduled run).
    bool scheduleActive() const { return scheduleActive_; }
    // The end of a scheduled run: timer on again and both windows in the schedule-active state.
    void resumeSchedule();
    // The bound of EditMaxDelete; the default (50%) while its text is no bound.
    DeletionBound scheduledDeletionBound() const;

    std::array<QCheckBox*, 7> dayBoxes() const {
        return {Monday, Tuesday, Wednesday, Thursday, Friday, Saturday, Sunday};
    }

    // The settings file holds the main window's view and size and the favourites table; both windows
    // are made known here before the favourites window loads the file.
    void setMainWindow(TForm1* mainWindow) { main_ = mainWindow; }
    void setFavouritesWindow(TForm9* favourites) { favourites_ = favourites; }
    // The folder of config.ini with a trailing separator, chosen at the load (settings_folder.h) and
    // kept for every later save: the current folder when it held a config.ini, else the user's
    // settings folder.
    const std::string& settingsFolder() const { return settingsFolder_; }

    // True when a save would write other settings or favourites than the settings files hold now:
    // config.ini's settings and favourites, and unattended.ini's deletion bound of scheduled runs, its
    // choices for removed files and copies, what a backup keeps, and its "Leave out" lines. Not counted:
    // the main window's size and view (they change with every move of the mouse) and the last locations
    // (kept without a question).
    bool changedSinceSave() const;
    // Keeps the main window's locations, mode and "Include Subfolders" in unattended.ini for the next
    // start (last_run.h); the rest of the file stays as it is on disk. Quietly does nothing when the
    // file cannot be written: the window is being left.
    void rememberLastRun();
    // The versions folder as typed or chosen: taken (cleaned, "/srv/versions/" as "/srv/versions")
    // when a run could use it, else refused with the reason in an error box and the field back at the
    // folder taken before. Returns whether it was taken.
    bool takeVersionsFolder(const QString& text);
    // Why the "Leave out" lines cannot be read ("Leave out:3: pattern ..."), or empty.
    std::string leaveOutProblem() const;
    // Every location the runs of this window may use: the main window's A and B, the job list's and
    // the favourites'.
    std::vector<std::string> knownLocations() const;

public slots:
    void EveryClick();
    // The versions folder and its days apply only to the versions choice.
    void RadioVersionsToggled();
    void EditVersionsEditingFinished();
    void ButtonVersionsClick();
    void BitBtn1Click();
    void BitBtn2Click();
    void BitBtn3Click();
    void Timer1Timer();
    // Reads config.ini and unattended.ini from the settings folder (or writes them on the first start).
    void LoadConfig();
    // Writes config.ini and unattended.ini from the current state; false (after the error box) when
    // they cannot be written.
    bool Saveconfig();

private:
    ConfigFile stateNow() const;
    void loadUnattended();
    // The locations, mode and subfolder option of the last session, onto the main window; a location
    // that is no folder any more is left empty.
    void restoreLastRun();
    void applyRemovalChoice(const Settings& settings);
    void applyLeaveOut(const std::vector<std::string>& lines);
    void setSchedulerControlsEnabled(bool enabled);
    // Activation's checks: a time field that the clock's time text can never equal is completed
    // (message) or refused (message, false); so is a bound that is none.
    bool scheduleCanBeActivated();
    // The schedule's record of when it last looked at the clock (schedule.state), for the days it
    // missed while the program was closed.
    void recordScheduleSeen(std::time_t moment, bool active);
    void logMissedRuns(std::time_t now);
    void logScheduleLine(const std::string& line);
    bool takeDueMoment(std::time_t previous, std::time_t moment);
    bool scheduleActive_ = false;
    // A matching tick found another operation under way; the start waits for its end.
    bool startDeferred_ = false;
    // Why the start waits ("the window was busy"), for the late start's log line.
    std::string deferredBecause_;
    // The moment the pending start was due (a late start says so).
    std::time_t dueMoment_ = 0;
    // The previous tick's moment: a scheduled moment between it and the next tick was not seen by a
    // tick of its own (the machine slept, the window was busy) and starts the run late.
    std::time_t lastTick_ = 0;
    std::time_t lastRecorded_ = 0;
    KeyValueFile unattended_;  // unattended.ini as read, so that unknown entries survive a save
    QString acceptedVersions_; // the versions folder last taken (the field goes back to it on refusal)
    TForm1* main_ = nullptr;
    TForm9* favourites_ = nullptr;
    std::string settingsFolder_;
    // Favourite lines of the loaded file that could not be read; every save writes them back.
    std::vector<std::string> unreadFavouriteLines_;
};

} // namespace paritas::gui
