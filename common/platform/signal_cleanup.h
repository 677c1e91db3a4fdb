// Files, folders and child processes that must not outlive the process when it is ended
// by a signal (SIGINT, SIGTERM, SIGHUP, SIGQUIT), such as the temporary folder of a child
// program that is running or a temporary file that is about to be renamed over an output.
// The handler first ends the registered children (asks them to end, waits for them a
// short while, then kills what is left), so that none writes into a folder being removed
// or runs on without us; then it unlinks files and removes empty folders, in the order
// given, and ends the process as the signal would have.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace platform {

// Registers paths for removal on a signal; several registrations (from several threads)
// can be active at once. Returns a token for RemoveSignalCleanup, or -1 when every slot is
// taken (at most 8 registrations of at most 8 paths each; longer paths are not taken).
// The first call installs the handlers, for each signal that still has its default action.
int AddSignalCleanup(const std::vector<std::string>& paths);

// Ends a registration; -1 is ignored.
void RemoveSignalCleanup(int token);

// Registers a child process (its process id; 0 for one that is about to be started and is
// named later with SetSignalCleanupProcess). Same slots and tokens as AddSignalCleanup;
// RemoveSignalCleanup ends the registration. RunProcess registers its children itself.
int AddSignalCleanupProcess(int64_t process_id);
void SetSignalCleanupProcess(int token, int64_t process_id);

// Registers the paths under one fixed registration of the caller's own, replacing what it
// held (the assembler's temporary folder).
void SetSignalCleanupPaths(const std::vector<std::string>& paths);

// Empties that fixed registration.
void ClearSignalCleanupPaths();

}  // namespace platform
