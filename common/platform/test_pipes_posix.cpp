#include "common/platform/test_pipes.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>

#include "common/platform/fs.h"

namespace platform {

EndlessSource::EndlessSource() : path_("/dev/zero") {}

EndlessSource::~EndlessSource() = default;

PipeSink::PipeSink(const std::string& fifo_path) {
  if (mkfifo(fifo_path.c_str(), 0600) != 0) return;
  path_ = fifo_path;
  // Opening a FIFO for reading waits for a writer; its data ends when the writer closes.
  readers_.emplace_back([this] {
    std::string data = ReadFile(path_).value_or("");
    std::lock_guard<std::mutex> lock(mutex_);
    received_ = std::move(data);
    done_ = true;
  });
}

void PipeSink::ReleaseReaders() {
  // A reader still waiting for a writer is released by a writer of our own that writes
  // nothing; until the reader has opened, that open fails and is tried again.
  while (!done_) {
    int fd = open(path_.c_str(), O_WRONLY | O_NONBLOCK);
    if (fd >= 0) close(fd);
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

}  // namespace platform
