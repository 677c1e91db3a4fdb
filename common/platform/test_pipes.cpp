#include "common/platform/test_pipes.h"

namespace platform {

void PipeSink::Stop() {
  if (readers_.empty()) return;
  ReleaseReaders();
  for (std::thread& reader : readers_) reader.join();
  readers_.clear();
}

std::string PipeSink::Received() {
  Stop();
  std::lock_guard<std::mutex> lock(mutex_);
  return received_;
}

PipeSink::~PipeSink() {
  Stop();
}

}  // namespace platform
