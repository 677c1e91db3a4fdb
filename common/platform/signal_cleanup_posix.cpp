#include "common/platform/signal_cleanup.h"

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <mutex>

namespace platform {
namespace {

constexpr int kMaxPaths = 8;
constexpr size_t kMaxPath = 4096;

struct PathList {
  int count = 0;
  char paths[kMaxPaths][kMaxPath];
};

// Two lists: a new one is filled while the handler may still read the published one.
PathList g_lists[2];
std::atomic<int> g_published{-1};
std::mutex g_set_mutex;

void RemovePaths() {
  int index = g_published.load();
  if (index < 0) return;
  const PathList& list = g_lists[index];
  // A child may still create a file in a folder while it is being removed: try twice.
  for (int attempt = 0; attempt < 2; ++attempt) {
    for (int i = 0; i < list.count; ++i) {
      if (unlink(list.paths[i]) != 0) rmdir(list.paths[i]);
    }
  }
}

void Handler(int signal_number) {
  RemovePaths();
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

}  // namespace

void SetSignalCleanupPaths(const std::vector<std::string>& paths) {
  std::lock_guard<std::mutex> lock(g_set_mutex);
  InstallHandlers();
  int next = g_published.load() == 0 ? 1 : 0;
  PathList& list = g_lists[next];
  list.count = 0;
  for (const std::string& path : paths) {
    if (list.count == kMaxPaths || path.empty() || path.size() >= kMaxPath) continue;
    std::memcpy(list.paths[list.count], path.c_str(), path.size() + 1);
    ++list.count;
  }
  g_published.store(next);
}

void ClearSignalCleanupPaths() {
  std::lock_guard<std::mutex> lock(g_set_mutex);
  g_published.store(-1);
}

}  // namespace platform
