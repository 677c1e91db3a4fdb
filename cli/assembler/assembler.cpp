#include "cli/assembler/assembler.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <optional>
#include <vector>

#include "cli/assembler/fasm_report.h"
#include "common/platform/environment.h"
#include "common/platform/fs.h"
#include "common/platform/process.h"
#include "common/platform/signal_cleanup.h"

namespace {

std::string g_program;  // set once at start-up
AssemblerLimits g_limits;

// Owns one assembly's temporary folder for the length of the call. If the process is
// ended by a signal meanwhile, the assembler is ended and the folder and its two files
// are removed on the way out.
//
// The assembler looks for a relative include first beside the file that includes it,
// then in the current folder. The two files are named with "%%", which the assembler
// reads in an include path as an empty environment name: no include of a routine can
// name them, so `include 'src.asm'` finds the user's src.asm and never this copy.
class TempFolder {
 public:
  TempFolder() {
    errno = 0;
    path_ = platform::MakeTempFolder("akqp-asm");
    error_ = errno;
    if (!path_.empty())
      platform::SetSignalCleanupPaths({Source(), Output(), path_});
  }
  ~TempFolder() {
    if (path_.empty()) return;
    platform::ClearSignalCleanupPaths();
    platform::RemoveTree(path_);
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  const std::string& path() const { return path_; }
  int error() const { return error_; }  // why the folder could not be made
  std::string Source() const { return path_ + platform::kSeparator + "akqp%%src.asm"; }
  std::string Output() const { return path_ + platform::kSeparator + "akqp%%out.bin"; }

 private:
  std::string path_;
  int error_ = 0;
};

void Fail(AssemblerError* error, int32_t code, const std::string& what, int32_t line = 0) {
  if (error == nullptr) return;
  error->code = code;
  error->message = AssemblerMessage(code);
  if (!what.empty()) {
    if (!error->message.empty()) error->message += " ";
    error->message += what;
  }
  error->line = line;
}

std::string Size(size_t bytes) {
  if (bytes % (1u << 20) == 0) return std::to_string(bytes >> 20) + " MiB";
  return std::to_string(bytes) + " bytes";
}

std::string Duration(int ms) {
  if (ms % 1000 == 0) return std::to_string(ms / 1000) + " seconds";
  return std::to_string(ms) + " ms";
}

using Clock = std::chrono::steady_clock;

// The system's reason for the last failure, or a plain phrase when it gave none.
std::string Reason(int error_number) {
  return error_number != 0 ? std::strerror(error_number) : "unknown error";
}

// Written in place (not through a temporary name), so that the signal clean-up knows
// every file the folder can hold. On failure gives the system's reason.
bool WriteSource(const std::string& path, const std::string& text, std::string* reason) {
  errno = 0;
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (out) out.write(text.data(), static_cast<std::streamsize>(text.size()));
  if (out) out.close();
  if (!out.fail()) return true;
  *reason = Reason(errno);
  return false;
}

// The report's last lines say which error it is: a routine that displays more than the
// kept output loses its first lines, never the report.
constexpr size_t kReportOutputKept = 4u << 20;

std::unique_ptr<platform::CodeBlock> AssembleIn(const TempFolder& folder,
                                                const std::string& text, size_t* length,
                                                AssemblerError* error) {
  const AssemblerLimits limits = g_limits;
  const std::string source = folder.Source();
  const std::string output = folder.Output();
  std::string reason;
  if (!WriteSource(source, text, &reason)) {
    Fail(error, -8, "The source could not be written to the temporary folder '" + folder.path() +
                        "': " + reason + ".");
    return nullptr;
  }
  const Clock::time_point deadline =
      Clock::now() + std::chrono::milliseconds(limits.total_timeout_ms);
  for (size_t kib = limits.first_block_kib;; kib += limits.block_step_kib) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) {
      Fail(error, -6, "The assembler did not finish within " + Duration(limits.total_timeout_ms) + ".");
      return nullptr;
    }
    platform::ProcessOptions options;
    options.timeout_ms = static_cast<int>(std::min<int64_t>(left.count(), limits.run_timeout_ms));
    options.output_limit = kReportOutputKept;
    options.keep_last_output = true;
    // Sources and includes named by a relative path are found from the current folder,
    // as for the assembler's library form; only the two files live in the temporary one.
    platform::ProcessResult run = platform::RunProcess(
        {g_program, "-m", std::to_string(kib), "-p", "100", source, output}, options);
    if (!run.started) {
      Fail(error, 2, "The assembler program '" + g_program + "' could not be started: " +
                         run.error + ".");
      return nullptr;
    }
    // 127 without a word: the program's own loader could not run it.
    if (run.exit_code == 127 && run.output.empty()) {
      Fail(error, 2, "The assembler program '" + g_program + "' could not be started.");
      return nullptr;
    }
    if (run.timed_out) {
      int limit = options.timeout_ms == limits.run_timeout_ms ? limits.run_timeout_ms
                                                               : limits.total_timeout_ms;
      Fail(error, -6, "The assembler did not finish within " + Duration(limit) + ".");
      return nullptr;
    }
    if (run.exit_code != 0) {
      FasmReport report = ParseFasmReport(run.output, source, text);
      if (!report.has_error) {
        Fail(error, 2,
             run.signal != 0 ? "The assembler program was stopped by " +
                                   platform::SignalDescription(run.signal) + "."
                             : "The assembler ended without a readable report.");
        return nullptr;
      }
      int32_t code = FasmErrorCode(report.error_text);
      if (code == -2) {
        if (kib + limits.block_step_kib > limits.max_block_kib) {
          Fail(error, -2, "The assembler needed more than " + Size(limits.max_block_kib << 10) + ".");
          return nullptr;
        }
        continue;
      }
      if (code == 0) {
        Fail(error, 2, "The assembler reported: " + report.error_text + ".",
             report.has_line ? report.line : 0);
        return nullptr;
      }
      error->code = code;
      error->message = AssemblerMessage(code);
      error->line = report.has_line ? report.line : 0;
      return nullptr;
    }
    int64_t size = platform::FileSize(output);
    if (size < 0) {
      Fail(error, -8, "The assembler wrote no output file.");
      return nullptr;
    }
    if (size == 0) {
      Fail(error, -6, "The text assembled to zero bytes.");
      return nullptr;
    }
    if (static_cast<uint64_t>(size) > limits.max_output) {
      Fail(error, -7, "The machine code is larger than " + Size(limits.max_output) + ".");
      return nullptr;
    }
    std::optional<std::string> bytes = platform::ReadFile(output);
    if (!bytes || bytes->size() != static_cast<size_t>(size)) {
      Fail(error, -8, "The assembler's output could not be read.");
      return nullptr;
    }
    std::unique_ptr<platform::CodeBlock> block = platform::CodeBlock::Commit(bytes->size());
    if (!block) {
      Fail(error, -2, "No block for the machine code could be committed.");
      return nullptr;
    }
    std::memcpy(block->data(), bytes->data(), bytes->size());
    *length = bytes->size();
    return block;
  }
}

}  // namespace

bool InitialiseAssembler() {
  std::string program;
  const char* own = std::getenv("AKQP_FASM");
  if (own != nullptr && *own != '\0') {
    program = own;
    // A bare name is looked up on PATH, as the run would.
    if (std::none_of(program.begin(), program.end(), platform::IsSeparator))
      program = platform::FindProgram(program, "");
  } else {
    program = platform::FindProgram("fasm", platform::ProgramFolder());
  }
  // Present and executable is all that is checked here: the assembler first runs when a
  // routine is assembled, and a program that does not work fails that routine then.
  if (program.empty() || !platform::IsExecutableFile(program)) return false;
  g_program = program;
  return true;
}

const std::string& AssemblerProgram() {
  return g_program;
}

std::unique_ptr<platform::CodeBlock> Assemble(const std::string& text, size_t* length,
                                              AssemblerError* error) {
  AssemblerError ignored;
  if (error == nullptr) error = &ignored;
  size_t ignored_length = 0;
  if (length == nullptr) length = &ignored_length;
  if (g_program.empty()) {
    Fail(error, 2, "The assembler is not initialised.");
    return nullptr;
  }
  // The text is a NUL-ended string: whatever follows an embedded NUL is not part of it.
  std::string source(text.c_str());
  TempFolder folder;
  if (folder.path().empty()) {
    std::string tmp = platform::GetEnvironment(platform::kTempFolderVariable).value_or("");
    std::string where = tmp.empty() ? "" : " in '" + tmp + "'";
    Fail(error, -8, "No temporary folder could be made for the source" + where + ": " +
                        Reason(folder.error()) + ".");
    return nullptr;
  }
  return AssembleIn(folder, source, length, error);
}

void ReleaseMachineCode(std::unique_ptr<platform::CodeBlock> block) {
  block.reset();
}

void SetAssemblerLimits(const AssemblerLimits& limits) {
  g_limits = limits;
}

AssemblerLimits GetAssemblerLimits() {
  return g_limits;
}
