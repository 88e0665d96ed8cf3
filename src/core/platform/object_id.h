#pragma once
// Which file-system object a path leads to: its device and inode. Two paths name one object exactly
// when these are equal (a hard link, a bind mount, a link followed at the location).

#include <cstdint>

namespace paritas {

struct ObjectId {
    uint64_t device = 0;
    uint64_t inode = 0;
    bool operator==(const ObjectId&) const = default;
};

} // namespace paritas
