#pragma once
// The journal of a location's temporary names, so that a run killed at any moment (SIGKILL, a power
// cut, an unplugged disk) is mended by the next run on the same location, on this machine or another.
//
// A run writes under temporary names (".paritas-" + 16 hex digits + ".tmp", copyTemporaryName()) in
// three cases: new content that cannot be made unnamed, new content that is about to be exchanged
// with the file it replaces, and the old version of a file that steps aside. Before any such name is
// made, one line naming it (its folder below the location, the name, and for an old version the name
// it belongs to and the stamps that tell old from new) is appended to the journal and written to the
// disk (fdatasync). The journal is a file at the top of the location,
//
//     <location>/.paritas-journal-<16 hex digits>
//
// made on the first name a run records, held under an flock(2) while the run lives, and removed at
// the end of the run once none of its names remains. The scans never list it. It lies in the location
// itself, not in a folder of this machine, because a USB stick or a share killed in the middle of a run
// may next be written from another machine, and because it must go wherever the location goes.
//
// The next run (under the run lock, before it scans) reads every journal that no live process holds:
//   new content                     -> removed (its source is still there and is copied again)
//   the old version of `original`   -> back under `original` when that name is free (the new content
//                                      never took its place), else where removed files go (deleted,
//                                      the trash, the versions folder: the Disposal of the run)
// An old version's line is written right before the exchange that makes it one, so a name whose line
// says "old version" may still hold the new content when the process died in between: the stamps in
// the line (size and modified time of both) tell which it holds, and only a name that holds exactly
// the new content's stamp, and not the old one's, is removed as new content.
// A journal whose every name is settled is removed; otherwise it stays for the run after, and the
// reason is told.

#include "core/platform/disposal.h"
#include "core/platform/file_stamp.h"

#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace paritas {

struct FileSystemCapabilities;

// Told before a temporary name is made. `folder` is the full path of the folder the name goes in
// (the location's text for its top; with or without the trailing separator). Returns 0 when the
// line is on the disk; otherwise the errno, and the name must not be made.
class TemporaryNameLog {
public:
    virtual ~TemporaryNameLog() = default;
    virtual int newContent(const std::string& folder, const std::string& name) = 0;
    // `name` is to hold the old version of `original` (same folder): `old` is that version's stamp,
    // `content` (nullptr when the name never holds anything else) the stamp of the new content
    // that stands under `name` until then.
    virtual int oldVersion(const std::string& folder, const std::string& name, const std::string& original,
                           const FileStamp& old, const FileStamp* content) = 0;
};

// The start of a journal's name; ".paritas-journal-" + 16 hex digits in full.
inline constexpr std::string_view kJournalPrefix = ".paritas-journal-";

// ".paritas-" + 16 lower-case hex digits + ".tmp": the names copies and placements use.
bool isTemporaryName(std::string_view name);
// ".paritas-journal-" + 16 lower-case hex digits.
bool isJournalName(std::string_view name);

// A fresh name for a run's journal in a location (kJournalPrefix and 16 hex digits).
std::string journalFileName();

// An old version that stepped aside for its replacement where no journal line can be written (a
// remote location): the name carries the name it belongs to, ".paritas-" + 16 hex digits + ".aside."
// + `original`, so that a run killed before the replacement stood is mended from the name alone.
// Empty when that name would be longer than a file name may be (255 bytes).
std::string asideName(std::string_view original);
// True for such a name; `original`, when given, gets the name it belongs to.
bool isAsideName(std::string_view name, std::string* original = nullptr);

// The journal of one location for one run (shared by every thread of the run).
class WorkJournal final : public TemporaryNameLog {
public:
    // `location`: the location's text (an absolute folder path, a link the user chose followed).
    explicit WorkJournal(std::string location);
    ~WorkJournal() override; // close()
    WorkJournal(const WorkJournal&) = delete;
    WorkJournal& operator=(const WorkJournal&) = delete;

    int newContent(const std::string& folder, const std::string& name) override;
    int oldVersion(const std::string& folder, const std::string& name, const std::string& original,
                   const FileStamp& old, const FileStamp* content) override;

    // The end of the run: the journal is removed when none of its names remains (else it stays for
    // the next run). True when nothing stays.
    bool close();
    // The journal's file name while one is open, else empty (for tests).
    std::string fileName() const;

private:
    int append(const std::string& line);

    std::string location_;
    mutable std::mutex mutex_;
    int root_ = -1;                                          // the location's folder, once opened
    int fd_ = -1;                                            // the journal, once made
    std::string name_;                                       // its name at the top of the location
    std::vector<std::pair<std::string, std::string>> names_; // (folder below the location, name)
};

struct JournalRecovery {
    std::vector<std::string> lines; // one log line per leftover settled or kept
    std::size_t settled = 0;        // temporary names removed, put back or disposed of
    std::size_t kept = 0;           // names that could not be settled (their journal stays)
};

// Settles every journal at the top of `location` that no live run holds (see above). `disposal`:
// where an old version goes whose name is taken (nullptr: it is deleted). Never follows a link below
// the location.
JournalRecovery recoverJournals(const std::string& location, Disposal* disposal,
                                const FileSystemCapabilities* capabilities);

} // namespace paritas
