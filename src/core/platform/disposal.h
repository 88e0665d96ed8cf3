#pragma once
// What becomes of a file that an action removes or replaces. The checked operations (deleting a
// planned file, placing a copy over a planned file) decide *which* file goes and when; a Disposal
// decides *where* it goes: nowhere (the file is deleted), the trash, a versions folder.
//
// A Disposal serves every thread of a run at once (the copy workers and the executor's own thread).

#include <string>

namespace paritas {

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
};

} // namespace paritas
