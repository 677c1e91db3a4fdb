// qpmake: builds several QP files from one makefile by running akqp-cli once per target,
// with shell commands before and after and a CRC-32 report of chosen files.
#include <new>

#include "common/platform/console.h"
#include "common/settings/settings_file.h"
#include "make/make_run.h"
#include "make/makefile.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    platform::ConsoleWriteLine("usage: qpmake <makefile>");
    return qpmake::kExitAbort;
  }
  settings::SettingsFile makefile;
  if (!makefile.Open(argv[1])) {
    platform::ConsoleWriteLine("qpmake: could not open makefile");
    return qpmake::kExitAbort;
  }
  // No exception reaches the user: a shortage of memory ends the run with a message.
  try {
    return qpmake::RunPlan(qpmake::ReadPlan(makefile));
  } catch (const std::bad_alloc&) {
    platform::ConsoleWriteLine("qpmake: out of memory");
    return qpmake::kExitAbort;
  }
}
