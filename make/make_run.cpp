#include "make/make_run.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "common/platform/console.h"
#include "common/platform/fs.h"
#include "common/platform/process.h"
#include "common/platform/shell.h"
#include "make/checksum.h"
#include "make/targets.h"

namespace qpmake {
namespace {

// What a finished command or compiler run means for the rest of the run.
enum class Outcome { kOk, kFailed, kStop };

// The status qpmake ends with when the user's interrupt stopped a command: as a shell
// reports a program ended by that signal (130 for Ctrl-C).
int g_stop_status = kExitInterrupted;

// A run ended by the user's interrupt stops everything at once, as make does; other
// signals are reported and count as a failure. `what` names the program or command.
Outcome Judge(const platform::ProcessResult& result, const std::string& what) {
  if (result.signal != 0) {
    platform::ConsoleWriteLine("qpmake: " + what + " was ended by " +
                               platform::SignalDescription(result.signal));
    if (result.interrupted) {
      g_stop_status = 128 + result.signal;
      return Outcome::kStop;
    }
    return Outcome::kFailed;
  }
  return result.exit_code == 0 ? Outcome::kOk : Outcome::kFailed;
}

// Each command runs to its end before the next; a failure is remembered, not fatal.
Outcome RunCommands(const std::vector<std::string>& commands) {
  Outcome all = Outcome::kOk;
  for (const std::string& command : commands) {
    platform::ProcessResult result = platform::RunShellCommand(command);
    if (!result.started) {
      platform::ConsoleWriteLine("qpmake: could not start the command interpreter '" +
                                 platform::ShellProgram() + "': " + result.error);
      all = Outcome::kFailed;
      continue;
    }
    Outcome outcome = Judge(result, "the command '" + command + "'");
    if (outcome == Outcome::kStop) return outcome;
    if (outcome == Outcome::kFailed) all = outcome;
  }
  return all;
}

// The compiler is started directly, never through the shell, so that blanks, quotes,
// "$" or ";" in a path are plain characters. Its output goes straight to our console.
Outcome Compile(const std::string& compiler, const Target& target,
                const std::string& verify_file) {
  if (compiler.empty()) {
    platform::ConsoleWriteLine("qpmake: could not find akqp-cli");
    return Outcome::kFailed;
  }
  std::fflush(stdout);
  platform::ProcessOptions options;
  options.capture_output = false;
  options.wait_through_interrupt = true;
  platform::ProcessResult result =
      platform::RunProcess(CompilerArguments(compiler, target, verify_file), options);
  if (!result.started) {
    platform::ConsoleWriteLine("qpmake: could not start the compiler '" + compiler +
                               "': " + result.error);
    return Outcome::kFailed;
  }
  // akqp-cli exits 0 only when it wrote the QP file.
  return Judge(result, "the compiler '" + compiler + "'");
}

void WriteChecksum(const Checksum& entry) {
  std::optional<uint32_t> crc = FileCrc32(entry.input);
  // A checksum file that cannot be written is passed over.
  if (!platform::WriteFileAtomic(entry.output, SignedDecimal(crc.value_or(0)))) return;
  if (!crc)
    platform::ConsoleWriteLine("qpmake: could not read '" + entry.input + "', wrote checksum 0");
}

// Why the first missing folder of `output` cannot be made, as one line naming it.
void ExplainOutputFolder(const std::string& output) {
  for (const std::string& folder : OutputFolders(output)) {
    if (platform::IsDirectory(folder)) continue;
    errno = 0;
    if (platform::MakeDirectory(folder)) continue;
    int reason = errno;
    platform::ConsoleWriteLine("qpmake: '" + folder + "': " +
                               (reason != 0 ? std::strerror(reason) : "not a folder"));
    return;
  }
}

}  // namespace

int RunPlan(const MakePlan& plan) {
  Outcome before = RunCommands(plan.before);
  if (before == Outcome::kStop) return g_stop_status;
  bool all_ok = before == Outcome::kOk;

  // Fixed once, before the first target, and the same for all of them.
  std::string verify_file = ChooseVerifyFile(plan.verify_value);
  std::string compiler = plan.targets.empty() ? std::string() : FindCompiler();
  for (const Target& target : plan.targets) {
    if (!MakeOutputFolders(target.output)) {
      platform::ConsoleWriteLine(
          "qpmake: could not create directory for output files, aborting...");
      ExplainOutputFolder(target.output);
      return kExitAbort;
    }
    Outcome outcome = Compile(compiler, target, verify_file);
    if (outcome == Outcome::kStop) return g_stop_status;
    if (outcome == Outcome::kFailed) all_ok = false;
  }

  Outcome after = RunCommands(plan.after);
  if (after == Outcome::kStop) return g_stop_status;
  if (after == Outcome::kFailed) all_ok = false;
  for (const Checksum& entry : plan.checksums) WriteChecksum(entry);
  return all_ok ? kExitOk : kExitFailed;
}

}  // namespace qpmake
