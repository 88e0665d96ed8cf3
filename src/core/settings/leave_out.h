#pragma once
// The configuration window's "Leave out" box as unattended.ini keeps it: one entry a line of the box,
// in the box's order, so that every pattern stays readable and editable in the file.
//
//   leave-out = # caches and build output
//   leave-out = node_modules/
//   leave-out = *.tmp
//
// The value is the line as typed: after the "=" one blank is dropped (the one a save writes), the
// rest is kept, trailing blanks included (the pattern reader trims them as git does).

#include "core/settings/settings_folder.h"

#include <string>
#include <vector>

namespace paritas {

// The lines of the "leave-out" entries, in file order; none when the file has none.
std::vector<std::string> readLeaveOut(const KeyValueFile& file);
// Replaces every "leave-out" entry by one per line (blank lines at the end of the box dropped): at
// the place of the first old entry, else at the end. Other lines stay as they are.
void storeLeaveOut(const std::vector<std::string>& lines, KeyValueFile& file);

// The box's text as lines: split at line ends (LF, CR LF or CR), blank lines at the end dropped.
std::vector<std::string> leaveOutLines(const std::string& text);

} // namespace paritas
