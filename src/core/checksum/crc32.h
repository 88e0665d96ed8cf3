#pragma once
// CRC-32 of whole files (the checksum itself: core/base/crc32.h).

#include "core/base/crc32.h"

#include <cstdint>
#include <functional>
#include <string>

namespace paritas {

// Called after every block that CRC32File has folded in, so that a window can stay responsive
// while a large file is read. Should it throw, the file is closed and the exception passes on.
using CrcBlockHook = std::function<void()>;

// The CRC-32 of a whole file, read from start to end in blocks of kCrcReadBlockSize bytes.
//   crc        the finished CRC (initial value and final inversion applied);
//   totalBytes the number of bytes folded in; left as the caller set it when the file cannot be opened;
//   error      0, or the errno of the failed open or read (2 missing, 13 access denied, 21 a folder).
// A file that cannot be opened gives crc 0. A read failing part-way keeps the CRC and count of the
// bytes read before it. A symbolic link is not followed: its CRC is that of its target text, as the
// scan lists a link as a file of its own. FIFOs, sockets and device nodes are not read (reading one
// can block for ever or never end); they count as files that cannot be opened, with error EINVAL.
void CRC32File(const std::string& fileName, uint32_t& crc, int64_t& totalBytes, uint16_t& error);
void CRC32File(const std::string& fileName, uint32_t& crc, int64_t& totalBytes, uint16_t& error,
               const CrcBlockHook& afterEachBlock);

} // namespace paritas
