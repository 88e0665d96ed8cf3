#pragma once
// Every user setting as one plain value. The configuration window owns the settings; whoever starts
// an operation fills this value from the window at that moment and hands it to the core, so a change
// in the window applies to the next operation. Members carry the names of the window's controls.

#include <array>
#include <string>
#include <vector>

namespace paritas {

// What becomes of a file that an action removes or replaces (a deleted file, the old version under a
// copy, a deleted duplicate).
enum class RemovedFiles {
    Delete,   // gone for good
    Trash,    // moved to the desktop's trash on the file's own file system
    Versions, // moved into a versions folder, under its relative path and the run's time
};

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

    // Kept in unattended.ini (config.ini has no line for them).
    RemovedFiles removedFiles = RemovedFiles::Delete;
    // Versions: this folder, or when empty ".paritas-versions" at the top of the file's location.
    std::string versionsFolder;
    // Versions older than this many days are removed at the end of a run; 0 keeps them all.
    int versionsKeepDays = 0;
    // Every copy is read back and its CRC compared with the source's before it takes its name.
    bool verifyCopies = false;
    // "Leave out": the configuration window's box, one line a pattern in ignore-file syntax (filters.h),
    // as typed (comments and blank lines included). Every run of the window and every job obeys them.
    std::vector<std::string> leaveOut;
    // Backup: names of A that share one file are made to share one file in B.
    bool hardLinks = false;
    // Backup: extended attributes and ACLs are compared too (a read per file on both sides); a change of
    // them alone in A is then carried. Copies carry them always.
    bool compareAttributes = false;
};

// The settings of a first start, when no config.ini exists anywhere yet. They differ from the values
// above, which are what a reader assumes for an entry its file lacks: the modified time is a same-file
// criterion too (with size and name alone, a file edited without a change of size would count as
// unchanged and never be copied), and what actions remove or replace goes to the trash.
inline Settings firstStartSettings() {
    Settings settings;
    settings.CheckTimeStamp = true;
    settings.removedFiles = RemovedFiles::Trash;
    return settings;
}

} // namespace paritas
