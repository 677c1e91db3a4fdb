#include "gui/compile_run.h"

#include <cstdlib>
#include <deque>
#include <mutex>
#include <system_error>
#include <thread>

#include "common/platform/process.h"

namespace gui {

// What the reader thread and the window's thread share. The reader owns a reference, so
// the state outlives an abandoned run until the compiler has ended.
struct CompileRun::Shared {
  std::mutex mutex;
  std::deque<std::string> lines;
  bool finished = false;
  bool dropping = false;   // lines are read and dropped; the end is still announced
  bool abandoned = false;  // nothing is announced any more
  bool notified = false;  // a wake-up is on its way and nothing has been taken since
  std::function<void()> notify;

  // Hands a line (or the end) to the window's side, unless nobody listens any more.
  void Deliver(const std::string* line, bool end) {
    std::lock_guard<std::mutex> lock(mutex);
    if (abandoned) return;
    if (line && !dropping) lines.push_back(*line);
    if (!end && dropping) return;
    if (end) finished = true;
    // One wake-up at a time: the event loop's wake-up channel never fills however fast
    // the compiler writes.
    if (notify && !notified) {
      notified = true;
      notify();
    }
  }
};

namespace {

// The exit status with which a child reports that its program could not be run.
constexpr int kExecFailed = 127;

void ReadCompiler(std::shared_ptr<CompileRun::Shared> shared, std::vector<std::string> argv,
                  std::string working_directory) {
  platform::ChildProcess child;
  if (!child.Start(argv, working_directory)) {
    std::string line = "[ERROR] akqp: The compiler '" + argv[0] + "' could not be started.";
    shared->Deliver(&line, true);
    return;
  }
  bool any_output = false;
  std::string line;
  while (child.ReadLine(&line)) {
    any_output = true;
    shared->Deliver(&line, false);
  }
  int status = child.Wait();
  if (status == kExecFailed && !any_output) {
    line = "[ERROR] akqp: The compiler '" + argv[0] + "' could not be started.";
    shared->Deliver(&line, true);
    return;
  }
  shared->Deliver(nullptr, true);
}

}  // namespace

std::string FindCompiler(const std::string& program_folder) {
  const char* own = std::getenv("AKQP_CLI");
  if (own && *own) return own;
  return platform::FindProgram("akqp-cli", program_folder);
}

std::vector<std::string> CompilerArguments(const std::string& compiler, const std::string& input,
                                           const std::string& output) {
  return {compiler, "--lua", input, "--out", output};
}

CompileRun::CompileRun(const std::string& compiler, const std::string& input,
                       const std::string& output, const std::string& working_directory,
                       std::function<void()> notify)
    : shared_(std::make_shared<Shared>()) {
  shared_->notify = std::move(notify);
  if (compiler.empty()) {
    std::string line =
        "[ERROR] akqp: The compiler akqp-cli could not be started: it is neither beside akqp "
        "nor on the PATH.";
    shared_->Deliver(&line, true);
    return;
  }
  try {
    // Detached: nothing ever waits for the reader, so neither closing a window nor ending
    // the program can hang on a compiler that is still running.
    std::thread(ReadCompiler, shared_, CompilerArguments(compiler, input, output),
                working_directory)
        .detach();
  } catch (const std::system_error&) {
    std::string line = "[ERROR] akqp: No thread could be started for the compiler.";
    shared_->Deliver(&line, true);
  }
}

CompileRun::~CompileRun() {
  Abandon();
}

CompileRun::Batch CompileRun::TakeLines(size_t max_bytes) {
  Batch batch;
  std::lock_guard<std::mutex> lock(shared_->mutex);
  std::deque<std::string>& waiting = shared_->lines;
  size_t bytes = 0;
  while (!waiting.empty() && (batch.lines.empty() || bytes + waiting.front().size() < max_bytes)) {
    bytes += waiting.front().size() + 1;
    batch.lines.push_back(std::move(waiting.front()));
    waiting.pop_front();
  }
  batch.more = !waiting.empty();
  batch.finished = shared_->finished && waiting.empty();
  // The next line that arrives wakes the window again; lines left behind here are the
  // taker's to come back for.
  shared_->notified = false;
  return batch;
}

void CompileRun::DropOutput() {
  std::lock_guard<std::mutex> lock(shared_->mutex);
  shared_->dropping = true;
  shared_->lines.clear();
}

void CompileRun::Abandon() {
  std::lock_guard<std::mutex> lock(shared_->mutex);
  shared_->dropping = true;
  shared_->abandoned = true;
  shared_->lines.clear();
  shared_->notify = nullptr;
}

}  // namespace gui
