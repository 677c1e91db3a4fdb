#include "common/platform/endless_source.h"

#include <atomic>
#include <vector>

#include "common/platform/win32_support.h"

namespace platform {
namespace {

HANDLE NewInstance(const std::string& name) {
  return CreateNamedPipeA(name.c_str(), PIPE_ACCESS_OUTBOUND, PIPE_TYPE_BYTE | PIPE_WAIT,
                          PIPE_UNLIMITED_INSTANCES, 1 << 16, 0, 0, nullptr);
}

}  // namespace

EndlessSource::EndlessSource() {
  static std::atomic<int> count{0};
  path_ = "\\\\.\\pipe\\akqp-endless-" + std::to_string(GetCurrentProcessId()) + "-" +
          std::to_string(count++);
  // The first instance exists before the name is given out, so that no reader finds
  // the name missing.
  HANDLE first = NewInstance(path_);
  if (first == INVALID_HANDLE_VALUE) return;
  listening_ = reinterpret_cast<intptr_t>(first);
  server_ = std::thread([this] {
    const std::vector<char> zeros(1 << 16, '\0');
    HANDLE pipe = reinterpret_cast<HANDLE>(listening_);
    for (;;) {
      bool connected = ConnectNamedPipe(pipe, nullptr) || GetLastError() == ERROR_PIPE_CONNECTED;
      if (stopping_) {
        CloseHandle(pipe);
        return;
      }
      // The next reader finds an instance waiting while this one is fed.
      HANDLE next = NewInstance(path_);
      DWORD written = 0;
      while (connected && WriteFile(pipe, zeros.data(), static_cast<DWORD>(zeros.size()),
                                    &written, nullptr)) {
      }
      CloseHandle(pipe);
      if (next == INVALID_HANDLE_VALUE) return;
      pipe = next;
      listening_ = reinterpret_cast<intptr_t>(next);
    }
  });
}

EndlessSource::~EndlessSource() {
  if (!server_.joinable()) return;
  stopping_ = true;
  // A reader of our own wakes the server from its wait for one.
  HANDLE self = CreateFileA(path_.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  if (self != INVALID_HANDLE_VALUE) CloseHandle(self);
  server_.join();
}

}  // namespace platform
