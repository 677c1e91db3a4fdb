#include "common/platform/test_pipes.h"

#include <atomic>
#include <vector>

#include "common/platform/win32_support.h"

namespace platform {
namespace {

std::string PipeName(const char* kind) {
  static std::atomic<int> count{0};
  return "\\\\.\\pipe\\akqp-" + std::string(kind) + "-" + std::to_string(GetCurrentProcessId()) +
         "-" + std::to_string(count++);
}

HANDLE NewInstance(const std::string& name, DWORD direction) {
  return CreateNamedPipeA(name.c_str(), direction, PIPE_TYPE_BYTE | PIPE_WAIT,
                          PIPE_UNLIMITED_INSTANCES, 1 << 16, 1 << 16, 0, nullptr);
}

// Opens and closes the pipe (from the client's side of its direction), so that a server
// waiting for a client wakes up.
void Knock(const std::string& name, DWORD access) {
  HANDLE self = CreateFileA(name.c_str(), access, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  if (self != INVALID_HANDLE_VALUE) CloseHandle(self);
}

}  // namespace

EndlessSource::EndlessSource() : path_(PipeName("endless")) {
  // The first instance exists before the name is given out, so that no reader finds
  // the name missing.
  HANDLE first = NewInstance(path_, PIPE_ACCESS_OUTBOUND);
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
      HANDLE next = NewInstance(path_, PIPE_ACCESS_OUTBOUND);
      DWORD written = 0;
      while (connected && WriteFile(pipe, zeros.data(), static_cast<DWORD>(zeros.size()),
                                    &written, nullptr)) {
      }
      CloseHandle(pipe);
      if (next == INVALID_HANDLE_VALUE) return;
      pipe = next;
    }
  });
}

EndlessSource::~EndlessSource() {
  if (!server_.joinable()) return;
  stopping_ = true;
  Knock(path_, GENERIC_READ);
  server_.join();
}

PipeSink::PipeSink(const std::string&) : path_(PipeName("sink")) {
  // Several instances wait at once: a writer may look at the file before it opens it
  // for writing (each look is a connection), and every connection finds one waiting.
  constexpr int kInstances = 4;
  for (int i = 0; i < kInstances; ++i) {
    HANDLE pipe = NewInstance(path_, PIPE_ACCESS_INBOUND);
    if (pipe == INVALID_HANDLE_VALUE) break;
    readers_.emplace_back([this, pipe] {
      char buffer[1 << 16];
      while (ConnectNamedPipe(pipe, nullptr) || GetLastError() == ERROR_PIPE_CONNECTED ||
             GetLastError() == ERROR_NO_DATA) {
        if (stopping_) break;
        std::string data;
        DWORD n = 0;
        while (ReadFile(pipe, buffer, sizeof buffer, &n, nullptr) && n > 0) data.append(buffer, n);
        {
          std::lock_guard<std::mutex> lock(mutex_);
          received_ += data;
        }
        DisconnectNamedPipe(pipe);
      }
      CloseHandle(pipe);
    });
  }
  if (readers_.empty()) path_.clear();
}

void PipeSink::ReleaseReaders() {
  stopping_ = true;
  // Each waiting instance takes one knock; an instance still reading a writer ends
  // with it.
  for (size_t i = 0; i < readers_.size(); ++i) Knock(path_, GENERIC_WRITE);
}

}  // namespace platform
