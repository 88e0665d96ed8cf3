#pragma once
// The configuration window: every user setting, the weekly schedule's controls and the settings file
// commands. A setting is the state of one box (or the time field) here; operations take a plain
// Settings value from currentSettings() at the moment they need it.

#include "core/settings/config_file.h"
#include "core/settings/settings.h"

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
class QPushButton;
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
    QLineEdit* Edit1;                         // time of day of the schedule
    QLabel* Label2;                           // clock while the schedule is active
    QTimer* Timer1;                           // schedule timer
    QPushButton *BitBtn3, *BitBtn1, *BitBtn2; // Save Configuration, Deactivate, Activate Schedule
    bool scheduledStart = false;
    // The schedule's clock; the system clock when empty (tests put their own moment here).
    std::function<std::time_t()> clock;
    std::time_t now() const { return clock ? clock() : std::time(nullptr); }
    // Activated and not deactivated since (the timer is off during a scheduled run).
    bool scheduleActive() const { return scheduleActive_; }
    // The end of a scheduled run: timer on again and both windows in the schedule-active state.
    void resumeSchedule();

    std::array<QCheckBox*, 7> dayBoxes() const {
        return {Monday, Tuesday, Wednesday, Thursday, Friday, Saturday, Sunday};
    }

    // The settings file holds the main window's view and size and the favourites table; both windows
    // are made known here before the favourites window loads the file.
    void setMainWindow(TForm1* mainWindow) { main_ = mainWindow; }
    void setFavouritesWindow(TForm9* favourites) { favourites_ = favourites; }
    // The folder of config.ini with a trailing separator: the current folder at the load, kept for
    // every later save.
    const std::string& settingsFolder() const { return settingsFolder_; }

public slots:
    void EveryClick();
    void BitBtn1Click();
    void BitBtn2Click();
    void BitBtn3Click();
    void Timer1Timer();
    // Reads config.ini from the settings folder (or writes it on the first start).
    void LoadConfig();
    // Writes config.ini from the current state; false (after the error box) when it cannot be written.
    bool Saveconfig();

private:
    ConfigFile stateNow() const;
    void setSchedulerControlsEnabled(bool enabled);
    bool scheduleActive_ = false;
    // A matching tick found another operation under way; the start waits for its end.
    bool startDeferred_ = false;
    TForm1* main_ = nullptr;
    TForm9* favourites_ = nullptr;
    std::string settingsFolder_;
    // Favourite lines of the loaded file that could not be read; every save writes them back.
    std::vector<std::string> unreadFavouriteLines_;
};

} // namespace paritas::gui
