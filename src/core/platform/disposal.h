#pragma once
// What becomes of a file that an action removes or replaces. The checked operations (deleting a
// planned file, placing a copy over a planned file) decide *which* file goes and when; a Disposal
// decides *where* it goes: nowhere (the file is deleted), the trash, a versions folder.
//
// A Disposal serves every thread of a run at once (the copy workers and the executor's own thread).

#include <string>

namespace paritas {

// What a Disposal does with files, told to locations that keep removed files themselves instead of
// handing them over by an open folder (a remote keeps them on its own server, moved there in one step).
struct KeepingRule {
    enum class Kind { Delete, Trash, Versions };
    Kind kind = Kind::Delete;
    // Versions: the folder the user chose (a local folder), or empty for the location's own
    // ".paritas-versions" at its top.
    std::string chosenFolder;
};

struct Disposed {
    int error = 0;      // errno or a code of beneath.h; 0 when the file went where it should
    std::string detail; // more about a failure, for the reason line; may be empty
    std::string keptAt; // where the file is now; empty when it was deleted
    bool ok() const { return error == 0; }
};

class Disposal {
public:
    virtual ~Disposal() = default;
    // Whether a file in the open folder `folder`, at `path`, could be disposed of now (the places it
    // would go are made here when missing). Asked before a copy begins, so that a copy over a file
    // that could not be kept fails before it copies anything.
    virtual Disposed ready(int folder, const std::string& path) = 0;
    // Takes the entry `name` of the open folder `folder` away. `path` is where the file stood for the
    // user (the name may be a temporary one the file was exchanged to): the trash records it, a
    // versions folder keeps the file under it. On failure the entry stays where it was.
    virtual Disposed dispose(int folder, const std::string& name, const std::string& path) = 0;

    // ---- for locations that keep removed files themselves ----
    virtual KeepingRule keepingRule() const { return {}; }
    // The name a version of the file `name` gets in a versions folder: the run's date and time in it,
    // and for attempt 1, 2, ... (the name was taken) " (2)", " (3)", ... after the time.
    virtual std::string versionName(const std::string& name, int /*attempt*/) const { return name; }
    // Such a location kept a file at `place` (its versions folder), for the run's closing count.
    virtual void keptElsewhere(const std::string& /*place*/) {}
};

} // namespace paritas
