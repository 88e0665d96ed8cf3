#pragma once
// The desktop's trash, laid out the way freedesktop.org desktops share it, so that the file manager
// lists what was put there and can put it back.
//
//   a file on the file system of the home trash  ->  $XDG_DATA_HOME/Trash (~/.local/share/Trash)
//   a file on another file system, whose top is T ->  T/.Trash/$uid when T/.Trash is a real folder
//                                                    (not a link) with the sticky bit, else
//                                                    T/.Trash-$uid (made when missing)
//   in each trash: files/NAME, the file itself, and info/NAME.trashinfo:
//       [Trash Info]
//       Path=/home/ann/My%20Documents/report.txt   (percent-encoded; relative to T in a trash of T)
//       DeletionDate=2026-09-12T10:15:30           (local time)
//
// A file goes into a trash only by a rename on its own file system, never by a copy: when no trash on
// its file system can be used the file stays where it is and the caller is told why. The info file is
// made first, exclusively, and so reserves the name; a name already taken gets ".2", ".3", ... before
// its extension.
//
// One Trash serves every thread of a run; the trash of each file system is found (and made) once.

#include "core/platform/beneath.h"
#include "core/platform/disposal.h"

#include <sys/types.h>

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

namespace paritas {

// ".Trash" or ".Trash-" + digits: the names a trash has at the top of a file system.
bool isTrashFolderName(std::string_view name);
// True when the folder at `path` (links followed) is the top of its file system: its parent lies on
// another one, or it is the root.
bool isFileSystemTop(const std::string& path);

// $XDG_DATA_HOME/Trash, or $HOME/.local/share/Trash (XDG_DATA_HOME unset, empty or relative).
std::string homeTrashFolder();

class Trash {
public:
    Trash(std::string homeTrash, uid_t uid);
    Trash(const Trash&) = delete;
    Trash& operator=(const Trash&) = delete;
    ~Trash();

    // Whether files of the open folder `folder` have a trash (made here when missing).
    Disposed ready(int folder);
    // Moves the entry `name` of the open folder `folder` into the trash; `path` is where the file
    // stood for the user, and its last name is the name the trash shows. keptAt is the file's place
    // in the trash.
    Disposed put(int folder, const std::string& name, const std::string& path);

private:
    struct Can;
    std::shared_ptr<const Can> canFor(int folder, dev_t device);
    std::shared_ptr<const Can> findCan(int folder, dev_t device) const;

    std::string homeTrash_;
    uid_t uid_;
    std::mutex mutex_;
    std::map<dev_t, std::shared_ptr<const Can>> cans_;
};

} // namespace paritas
