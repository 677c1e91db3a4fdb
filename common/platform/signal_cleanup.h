// Files and folders that must not outlive the process when it is ended by a signal
// (SIGINT, SIGTERM, SIGHUP, SIGQUIT), such as the temporary folder of a child program
// that is running. The handler only unlinks files and removes empty folders, in the
// order given, and then ends the process as the signal would have.
#pragma once

#include <string>
#include <vector>

namespace platform {

// Replaces the list (at most 8 paths; longer paths are not taken). The first call
// installs the handlers, for each signal that still has its default action.
void SetSignalCleanupPaths(const std::vector<std::string>& paths);

// Empties the list.
void ClearSignalCleanupPaths();

}  // namespace platform
