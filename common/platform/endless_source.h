// For tests: a file name whose reading never ends, to check that readers stop at their
// cap. "/dev/zero" on POSIX; on Windows, which has no such device, a named pipe that
// this process feeds with zero bytes for as long as the source lives.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>

namespace platform {

class EndlessSource {
 public:
  EndlessSource();
  ~EndlessSource();
  EndlessSource(const EndlessSource&) = delete;
  EndlessSource& operator=(const EndlessSource&) = delete;

  // The name to open; every reader that opens it gets its own endless stream.
  const std::string& path() const { return path_; }

 private:
  std::string path_;
  intptr_t listening_ = -1;  // the pipe a next reader connects to (Windows)
  std::atomic<bool> stopping_{false};
  std::thread server_;
};

}  // namespace platform
