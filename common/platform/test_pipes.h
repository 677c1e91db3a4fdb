// For tests: names whose reading never ends and pipes that take what a writer writes,
// to check that readers stop at their cap and that writers write such files in place.
// POSIX has them as files ("/dev/zero", a FIFO); on Windows, which has neither, they are
// named pipes that this process serves for as long as the object lives.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace platform {

// Every reader that opens path() gets its own endless stream of zero bytes.
class EndlessSource {
 public:
  EndlessSource();
  ~EndlessSource();
  EndlessSource(const EndlessSource&) = delete;
  EndlessSource& operator=(const EndlessSource&) = delete;

  const std::string& path() const { return path_; }

 private:
  std::string path_;
  intptr_t listening_ = -1;  // the pipe the next reader connects to (Windows)
  std::atomic<bool> stopping_{false};
  std::thread server_;
};

// A pipe whose reader is this object: a FIFO made at `fifo_path` on POSIX, a named pipe
// (path() tells its name) on Windows. Everything written into it is kept.
class PipeSink {
 public:
  explicit PipeSink(const std::string& fifo_path);
  ~PipeSink();
  PipeSink(const PipeSink&) = delete;
  PipeSink& operator=(const PipeSink&) = delete;

  // Empty when the pipe could not be made.
  const std::string& path() const { return path_; }
  // Stops reading (once the writers are done) and gives what arrived, in the order of
  // the writers' connections.
  std::string Received();

 private:
  // Ends the readers' waits (each system's own way), joins them.
  void Stop();
  void ReleaseReaders();
  std::string path_;
  std::atomic<bool> stopping_{false};
  std::atomic<bool> done_{false};
  std::mutex mutex_;
  std::string received_;
  std::vector<std::thread> readers_;
};

}  // namespace platform
