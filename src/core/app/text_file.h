#pragma once
// Text files the program writes (exported logs, job lists, config.ini): lines ended with CR LF,
// written to a temporary file beside the target and renamed over it, so a failed write never leaves a
// half-written file in place of a good one. Readers accept CR LF and LF alike.

#include <optional>
#include <string>
#include <vector>

namespace paritas {

// Returns an empty text on success, else the system's error text.
std::string writeTextLines(const std::string& path, const std::vector<std::string>& lines);
// Reads all lines; nullopt with `error` set when the file cannot be read.
std::optional<std::vector<std::string>> readTextLines(const std::string& path, std::string* error = nullptr);

} // namespace paritas
