#include "common/platform/signal_cleanup.h"

#include <atomic>
#include <cstring>

#include "common/platform/win32_support.h"

namespace platform {
namespace {

constexpr int kSlots = 8;
constexpr int kMaxPaths = 8;
constexpr size_t kMaxPath = MAX_PATH;

// A slot is filled while it is not published, then published with one atomic store, so
// the handler only ever reads complete lists.
struct Slot {
  std::atomic<bool> published{false};
  bool taken = false;  // guarded by g_mutex
  int count = 0;
  char paths[kMaxPaths][kMaxPath];
};

Slot g_slots[kSlots];
std::mutex g_mutex;
int g_fixed_token = -1;  // SetSignalCleanupPaths's own registration, guarded by g_mutex

void RemovePaths() {
  for (int attempt = 0; attempt < 2; ++attempt) {
    for (Slot& slot : g_slots) {
      if (!slot.published.load()) continue;
      for (int i = 0; i < slot.count; ++i) {
        if (!DeleteFileA(slot.paths[i])) RemoveDirectoryA(slot.paths[i]);
      }
    }
  }
}

// Runs on a thread of its own when the console sends Ctrl+C, Ctrl+Break or closes. Our
// children are ended first (a running assembler keeps its files open, and open files
// cannot be removed); then the default handler ends the process.
BOOL WINAPI Handler(DWORD event) {
  switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
      // While a child that shares the console runs, the interrupt is its to handle.
      if (win32::InterruptGuarded()) return FALSE;
      [[fallthrough]];
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT: {
      HANDLE job = win32::ChildJob();
      if (job != nullptr) TerminateJobObject(job, 1);
      Sleep(50);
      RemovePaths();
      return FALSE;
    }
    default:
      return FALSE;
  }
}

void InstallHandlers() {
  static bool installed = false;
  if (installed) return;
  installed = true;
  SetConsoleCtrlHandler(Handler, TRUE);
}

int AddLocked(const std::vector<std::string>& paths) {
  InstallHandlers();
  for (int token = 0; token < kSlots; ++token) {
    Slot& slot = g_slots[token];
    if (slot.taken) continue;
    slot.taken = true;
    slot.count = 0;
    for (const std::string& path : paths) {
      if (slot.count == kMaxPaths || path.empty() || path.size() >= kMaxPath) continue;
      std::memcpy(slot.paths[slot.count], path.c_str(), path.size() + 1);
      ++slot.count;
    }
    slot.published.store(true);
    return token;
  }
  return -1;
}

void RemoveLocked(int token) {
  if (token < 0 || token >= kSlots) return;
  g_slots[token].published.store(false);
  g_slots[token].taken = false;
}

}  // namespace

int AddSignalCleanup(const std::vector<std::string>& paths) {
  std::lock_guard<std::mutex> lock(g_mutex);
  return AddLocked(paths);
}

void RemoveSignalCleanup(int token) {
  std::lock_guard<std::mutex> lock(g_mutex);
  RemoveLocked(token);
}

// Children need no registration here: every child is in the job that the handler ends
// (and that the system ends with us). A token keeps the interface's bookkeeping.
int AddSignalCleanupProcess(int64_t) {
  std::lock_guard<std::mutex> lock(g_mutex);
  return AddLocked({});
}

void SetSignalCleanupProcess(int, int64_t) {}

void SetSignalCleanupPaths(const std::vector<std::string>& paths) {
  std::lock_guard<std::mutex> lock(g_mutex);
  RemoveLocked(g_fixed_token);
  g_fixed_token = AddLocked(paths);
}

void ClearSignalCleanupPaths() {
  std::lock_guard<std::mutex> lock(g_mutex);
  RemoveLocked(g_fixed_token);
  g_fixed_token = -1;
}

}  // namespace platform
