#include "make/make_run.h"

#include "common/platform/console.h"
#include "common/platform/fs.h"
#include "common/platform/process.h"
#include "common/platform/shell.h"
#include "make/checksum.h"
#include "make/targets.h"

namespace qpmake {
namespace {

// Each command runs to its end before the next; a failure is remembered, not fatal.
bool RunCommands(const std::vector<std::string>& commands) {
  bool all_ok = true;
  for (const std::string& command : commands)
    if (platform::RunShellCommand(command) != 0) all_ok = false;
  return all_ok;
}

// The compiler is started directly, never through the shell, so that blanks, quotes,
// "$" or ";" in a path are plain characters. Its output goes straight to our console.
bool Compile(const std::string& compiler, const Target& target, const std::string& verify_file) {
  if (compiler.empty()) {
    platform::ConsoleWriteLine("qpmake: could not find akqp-cli");
    return false;
  }
  platform::ProcessOptions options;
  options.capture_output = false;
  platform::ProcessResult result =
      platform::RunProcess(CompilerArguments(compiler, target, verify_file), options);
  // akqp-cli exits 0 only when it wrote the QP file.
  return result.started && result.exit_code == 0;
}

void WriteChecksum(const Checksum& entry) {
  std::optional<uint32_t> crc = FileCrc32(entry.input);
  // A checksum file that cannot be written is passed over.
  if (!platform::WriteFileAtomic(entry.output, SignedDecimal(crc.value_or(0)))) return;
  if (!crc)
    platform::ConsoleWriteLine("qpmake: could not read '" + entry.input + "', wrote checksum 0");
}

}  // namespace

int RunPlan(const MakePlan& plan) {
  bool all_ok = RunCommands(plan.before);

  // Fixed once, before the first target, and the same for all of them.
  std::string verify_file = ChooseVerifyFile(plan.verify_value);
  std::string compiler = plan.targets.empty() ? std::string() : FindCompiler();
  for (const Target& target : plan.targets) {
    if (!MakeOutputFolders(target.output)) {
      platform::ConsoleWriteLine(
          "qpmake: could not create directory for output files, aborting...");
      return kExitAbort;
    }
    if (std::string conflict = TargetConflict(target, verify_file); !conflict.empty()) {
      platform::ConsoleWriteLine(conflict);
      all_ok = false;
      continue;
    }
    if (!Compile(compiler, target, verify_file)) all_ok = false;
  }

  if (!RunCommands(plan.after)) all_ok = false;
  for (const Checksum& entry : plan.checksums) WriteChecksum(entry);
  return all_ok ? kExitOk : kExitFailed;
}

}  // namespace qpmake
