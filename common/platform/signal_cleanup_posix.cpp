#include "common/platform/signal_cleanup.h"

#include <errno.h>
#include <signal.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <mutex>

namespace platform {
namespace {

constexpr int kSlots = 8;
constexpr int kMaxPaths = 8;
constexpr size_t kMaxPath = 4096;

// A slot is filled while it is not published, then published with one atomic store, so
// the handler only ever reads complete lists.
struct Slot {
  std::atomic<bool> published{false};
  std::atomic<int> process{0};  // a child to end first, 0 for none
  bool taken = false;  // guarded by g_mutex
  int count = 0;
  char paths[kMaxPaths][kMaxPath];
};

Slot g_slots[kSlots];
std::mutex g_mutex;
int g_fixed_token = -1;  // SetSignalCleanupPaths's own registration, guarded by g_mutex

// How long the handler waits for children that were asked to end, before it kills them.
constexpr int kChildGraceMs = 2000;
constexpr int kChildPollMs = 10;

// True when the child has ended (reaped here, or already reaped elsewhere).
bool ChildGone(pid_t pid) {
  pid_t r = waitpid(pid, nullptr, WNOHANG);
  return r == pid || (r < 0 && errno != EINTR);
}

// Only async-signal-safe calls: kill, waitpid, nanosleep.
void EndChildren() {
  pid_t children[kSlots];
  int count = 0;
  for (Slot& slot : g_slots) {
    if (!slot.published.load()) continue;
    pid_t pid = slot.process.load();
    if (pid <= 0) continue;
    kill(pid, SIGTERM);
    children[count++] = pid;
  }
  for (int waited = 0; count > 0; waited += kChildPollMs) {
    int left = 0;
    for (int i = 0; i < count; ++i)
      if (!ChildGone(children[i])) children[left++] = children[i];
    count = left;
    if (count == 0 || waited >= kChildGraceMs) break;
    struct timespec pause = {0, kChildPollMs * 1000000L};
    nanosleep(&pause, nullptr);
  }
  for (int i = 0; i < count; ++i) {
    kill(children[i], SIGKILL);
    while (waitpid(children[i], nullptr, 0) < 0 && errno == EINTR) {
    }
  }
}

void RemovePaths() {
  // A child may still create a file in a folder while it is being removed: try twice.
  for (int attempt = 0; attempt < 2; ++attempt) {
    for (Slot& slot : g_slots) {
      if (!slot.published.load()) continue;
      for (int i = 0; i < slot.count; ++i) {
        if (unlink(slot.paths[i]) != 0) rmdir(slot.paths[i]);
      }
    }
  }
}

void Handler(int signal_number) {
  int saved_errno = errno;
  EndChildren();
  RemovePaths();
  errno = saved_errno;
  // The handler was installed with SA_RESETHAND: the default action ends the process.
  raise(signal_number);
}

void InstallHandlers() {
  static bool installed = false;
  if (installed) return;
  installed = true;
  for (int signal_number : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) {
    struct sigaction current;
    if (sigaction(signal_number, nullptr, &current) != 0 || current.sa_handler != SIG_DFL) continue;
    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_handler = Handler;
    action.sa_flags = SA_RESETHAND;
    sigemptyset(&action.sa_mask);
    sigaction(signal_number, &action, nullptr);
  }
}

int AddLocked(const std::vector<std::string>& paths) {
  InstallHandlers();
  for (int token = 0; token < kSlots; ++token) {
    Slot& slot = g_slots[token];
    if (slot.taken) continue;
    slot.taken = true;
    slot.count = 0;
    slot.process.store(0);
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
  g_slots[token].process.store(0);
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

int AddSignalCleanupProcess(int64_t process_id) {
  std::lock_guard<std::mutex> lock(g_mutex);
  int token = AddLocked({});
  if (token >= 0) g_slots[token].process.store(static_cast<int>(process_id));
  return token;
}

void SetSignalCleanupProcess(int token, int64_t process_id) {
  if (token < 0 || token >= kSlots) return;
  g_slots[token].process.store(static_cast<int>(process_id));
}

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
