#pragma once
// The text the CRC matching shows and compares for a file: not the file's CRC-32 itself but a CRC of
// its eight-digit hex text. The file CRC is written as eight upper-case hex digits; a second register,
// started at 0 (not 0xFFFFFFFF), folds in those eight characters and is inverted; its eight upper-case
// hex digits are the display text.
//   "abc" (CRC-32 352441C2) shows 5A963463; an empty file, or one that cannot be opened (CRC 0),
//   shows 5AD5AD95.

#include <cstdint>
#include <string>

namespace paritas {

std::string crcDisplayText(uint32_t fileCrc);

// crcDisplayText of CRC32File(path); a file that cannot be read counts with the CRC CRC32File gives.
std::string fileCrcDisplayText(const std::string& path);

} // namespace paritas
