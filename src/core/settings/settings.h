#pragma once
// Every user setting as one plain value. The configuration window owns the settings; whoever starts
// an operation fills this value from the window at that moment and hands it to the core, so a change
// in the window applies to the next operation. Members carry the names of the window's controls.

#include <array>
#include <string>

namespace paritas {

struct Settings {
    // "Confirm Actions for Synchronize Now Option"
    bool CheckDelete = false;    // prompt before each file delete and folder removal
    bool CheckCreate = false;    // prompt before each folder creation
    bool CheckCopy = false;      // prompt before each copy and each move or rename
    bool CheckBoxConfirm = true; // review the action list before it runs
    // "Identify same file criteria"
    bool CheckSize = true;
    bool CheckName = true;
    bool CheckTimeStamp = false;
    // "Same FileName and Location coflict resolution"
    bool CheckNewer = true;    // folder synch keeps the newer file (unticked: the older)
    bool CheckKeepOld = false; // folder synch also keeps the other file under a dated name
    // "Job List Scheduler": Monday (index 0) to Sunday (index 6)
    std::array<bool, 7> days{};
    bool Every = false;
    std::string timeText = "12:00";
    bool SaveLog = false;

    int criteriaCount() const { return int(CheckSize) + int(CheckName) + int(CheckTimeStamp); }
};

} // namespace paritas
