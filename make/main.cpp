// qpmake: builds several QP files from one makefile by running akqp-cli once per target,
// with shell commands before and after and a CRC-32 report of chosen files.
#include <cerrno>
#include <cstring>
#include <string>

#include "common/platform/console.h"
#include "common/platform/fs.h"
#include "common/platform/launch.h"
#include "common/settings/settings_file.h"
#include "make/make_run.h"
#include "make/makefile.h"

namespace {

const char kUsage[] = "usage: qpmake <makefile>";

void PrintHelp() {
  platform::ConsoleWriteLine(kUsage);
  platform::ConsoleWriteLine("");
  platform::ConsoleWriteLine("Runs, in this order: the commands of [before]; akqp-cli once per entry of");
  platform::ConsoleWriteLine("[make] (input script = output QP file), with --verify and the file named by");
  platform::ConsoleWriteLine("'verify' in [verify]; the commands of [after]; then writes the CRC-32 of each");
  platform::ConsoleWriteLine("[crc32] entry's file into the file it names (file = checksum file).");
  platform::ConsoleWriteLine("Paths are taken from the current folder.");
  platform::ConsoleWriteLine("");
  platform::ConsoleWriteLine("  --help     this text");
  platform::ConsoleWriteLine("  --version  the version of qpmake");
}

// Why the makefile could not be opened, in the system's words where it gave any.
std::string OpenFailure(const std::string& path, int error_number) {
  if (platform::IsDirectory(path)) return std::strerror(EISDIR);
  if (error_number != 0) return std::strerror(error_number);
  int64_t size = platform::FileSize(path);
  if (size >= 0 && static_cast<uint64_t>(size) > settings::kMaxSettingsFileSize)
    return "larger than the " + std::to_string(settings::kMaxSettingsFileSize >> 20) +
           " MiB a makefile may hold";
  return "it could not be read";
}

}  // namespace

int main(int argc, char** argv) {
  // A console that cannot be written (a closed pipe) must not stop a build.
  platform::IgnoreBrokenPipes();
  if (argc == 2) {
    std::string option = argv[1];
    if (option == "--help") {
      PrintHelp();
      return qpmake::kExitOk;
    }
    if (option == "--version") {
      platform::ConsoleWriteLine("qpmake " AKQP_VERSION);
      return qpmake::kExitOk;
    }
  }
  if (argc != 2) {
    platform::ConsoleWriteLine(kUsage);
    return qpmake::kExitAbort;
  }
  settings::SettingsFile makefile;
  errno = 0;
  if (!makefile.Open(argv[1])) {
    int reason = errno;
    platform::ConsoleWriteLine("qpmake: could not open makefile");
    platform::ConsoleWriteLine(std::string("qpmake: '") + argv[1] + "': " + OpenFailure(argv[1], reason));
    return qpmake::kExitAbort;
  }
  return qpmake::RunPlan(qpmake::ReadPlan(makefile));
}
