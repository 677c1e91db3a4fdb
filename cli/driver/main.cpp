// akqp-cli: compiles one definition script into one QP file.
//
// Exit status: 0 when a QP file was written, 1 when the compile failed, 2 on a usage or
// command-line error, 3 when the assembler cannot be initialised.
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "cli/assembler/assembler.h"
#include "cli/driver/command_line.h"
#include "cli/driver/job_loader.h"
#include "cli/script/pipeline.h"
#include "cli/verify/verify_stage.h"
#include "common/platform/console.h"
#include "common/platform/fs.h"
#include "common/platform/process.h"
#include "common/platform/launch.h"
#include "common/settings/settings.h"

namespace {

constexpr int kExitCompiled = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;
constexpr int kExitAssembler = 3;

const char kPrefix[] = "[ERROR] akqp-cli: ";

// Ends the process. A script given up in a stuck C call may still be running on its
// thread: leave at once, without the clean-up that could touch its state.
[[noreturn]] void End(int status) {
  std::fflush(stdout);
  std::fflush(stderr);
  std::_Exit(status);
}

int Fail(const std::string& message) {
  platform::ConsoleWriteLine(std::string(kPrefix) + message);
  return kExitUsage;
}

int Run(int argc, char** argv) {
  // A console that cannot be written (a closed pipe) must not stop a compile.
  platform::IgnoreBrokenPipes();
  platform::ReportFileSizeLimitAsError();
  BuildAssemblerMessageTable();
  settings::PrepareAtStartup();
  if (!InitialiseAssembler()) {
    // Where the assembler comes from: Debian's package, or the fasm.exe of the zip.
    const std::string hint =
        *platform::kProgramSuffix == '\0'
            ? "Check that the flat assembler is installed (Debian package 'fasm'), or set "
              "AKQP_FASM to its path."
            : "Check that fasm.exe is beside akqp-cli.exe, or set AKQP_FASM to its path.";
    platform::ShowStartupError("Error", {"The assembler couldn't be initialized, unknown error.",
                                         "Please report this to Ardent Dodedovivaz.", hint});
    return kExitAssembler;
  }
  settings::EnsureProductFolderAndConfig();

  std::vector<std::string> args(argv + 1, argv + argc);
  CommandLine line = ParseCommandLine(args);
  if (line.count == 0) {
    platform::ConsoleWriteLine(kUsageLine);
    return kExitUsage;
  }
  // Unknown options are ignored, but said on standard error, so that standard output
  // stays what it always was.
  for (const std::string& option : UnknownOptions(line))
    platform::ConsoleWriteError("akqp-cli: unknown option '" + option + "' ignored");
  if (AsksForHelp(line)) {
    for (const std::string& text : HelpText()) platform::ConsoleWriteLine(text);
    return kExitCompiled;
  }
  if (AsksForVersion(line)) {
    platform::ConsoleWriteLine("akqp-cli " AKQP_VERSION);
    return kExitCompiled;
  }

  std::string input = platform::NativePath(line.Value("lua"));
  if (input.empty() || !platform::IsFile(input)) return Fail("Input file not found.");
  std::string output = platform::NativePath(line.Value("out"));
  if (output.empty()) return Fail("Output file empty, provide a valid path!");
  std::string verify = TrimSpaces(platform::NativePath(line.Value("verify")));
  if (!verify.empty() && !platform::IsFile(verify))
    return Fail("Verify file specified, but non existent or empty...");

  PipelineOptions options;
  std::string limit = line.Value("memory-limit");
  if (!limit.empty()) {
    char* end = nullptr;
    unsigned long long mib = std::strtoull(limit.c_str(), &end, 10);
    if (end == limit.c_str() || *end != '\0' || mib == 0 || mib > (1ull << 20))
      return Fail("--memory-limit takes a size in MiB from 1 to 1048576.");
    options.memory_limit = static_cast<size_t>(mib) << 20;
  }

  auto job = std::make_unique<CompileJob>();
  std::string reason;
  switch (LoadJob(input, output, verify, job.get(), &reason)) {
    case LoadResult::kOk:
      break;
    case LoadResult::kInputUnreadable:
      return Fail("Input file could not be read (" + reason + ").");
    case LoadResult::kVerifyFileEmpty:
      return Fail("Verification file was empty");
  }

  platform::ConsoleSetColor(2, 0);
  platform::ConsoleWriteLine("Compiling '" + job->input_file_name + "'...");
  if (!verify.empty()) WarnWhenVerifyFileGivesNoSection(job->script, verify);

  int result = 0;
  std::atomic<bool> done{false};
  std::thread compile([&] {
    result = RunCompile(&job->args, options);
    done = true;
  });
  // The main thread only waits, looking every 100 ms.
  while (!done) std::this_thread::sleep_for(std::chrono::milliseconds(100));
  compile.join();
  return result == 1 ? kExitCompiled : kExitFailed;
}

}  // namespace

int main(int argc, char** argv) {
  End(Run(argc, argv));
}
