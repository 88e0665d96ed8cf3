#pragma once
// The versions folder as the configuration window takes it: a folder that a run would refuse is
// refused when it is chosen, with the run's reason, rather than at night when the run keeps nothing.

#include <string>
#include <vector>

namespace paritas {

// Why `folder` cannot be the chosen versions folder of runs on `locations` (absolute, with or without
// their trailing separator), or empty when it can. An empty `folder` is the default (the
// .paritas-versions folder at the top of each location) and always can. Otherwise it must be an
// absolute path outside every location and holding none of them; and when it exists, a folder that
// is empty or already marked as a versions folder (.paritas-versions-folder), since a run takes
// nothing else. A folder that does not exist yet is made by the first run that keeps a file. Looks
// only: nothing is made or marked.
std::string chosenVersionsFolderProblem(const std::string& folder, const std::vector<std::string>& locations);

} // namespace paritas
