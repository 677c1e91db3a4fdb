// A makefile comes from the user: whatever its bytes, the plan read from it holds only
// runnable entries, every output folder is a proper prefix of its output, and every
// compiler command line carries each path as one argument of its own.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "common/settings/settings_file.h"
#include "make/makefile.h"
#include "make/targets.h"

namespace {

void Check(bool condition) {
  if (!condition) __builtin_trap();
}

bool Blank(const std::string& text) {
  return text.find_first_not_of(" \t") == std::string::npos;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  settings::SettingsFile makefile;
  makefile.Parse(text);
  qpmake::MakePlan plan = qpmake::ReadPlan(makefile);

  for (const auto* commands : {&plan.before, &plan.after}) {
    for (const std::string& command : *commands) {
      Check(!Blank(command));
      Check(command[0] != ' ' && command[0] != '\t');
      // A command is one line of the file, never two.
      Check(command.find_first_of("\r\n") == std::string::npos);
      Check(text.find(command) != std::string_view::npos);
    }
  }
  Check(plan.verify_value.find_first_of("\r\n") == std::string::npos);
  Check(plan.verify_value.empty() ||
        (plan.verify_value.front() != ' ' && plan.verify_value.front() != '\t' &&
         plan.verify_value.back() != ' ' && plan.verify_value.back() != '\t'));

  for (const qpmake::Target& target : plan.targets) {
    Check(!Blank(target.input) && !Blank(target.output));
    Check(target.input.find('\\') == std::string::npos);
    Check(target.output.find('\\') == std::string::npos);
    std::string previous;
    for (const std::string& folder : qpmake::OutputFolders(target.output)) {
      // Each folder ends with "/", is a prefix of the output and grows by one level.
      Check(!folder.empty() && folder.back() == '/');
      Check(target.output.compare(0, folder.size(), folder) == 0);
      Check(folder.size() > previous.size() && folder.compare(0, previous.size(), previous) == 0);
      Check(folder.find('/', previous.size()) == folder.size() - 1);
      previous = folder;
    }
    // Everything after the last folder is the file name.
    Check(target.output.find('/', previous.size()) == std::string::npos);
    for (const std::string& verify : {std::string(), plan.verify_value}) {
      std::vector<std::string> argv = qpmake::CompilerArguments("akqp-cli", target, verify);
      Check(argv.size() == (verify.empty() ? 5u : 7u));
      Check(argv[0] == "akqp-cli" && argv[1] == "--lua" && argv[2] == target.input &&
            argv[3] == "--out" && argv[4] == target.output);
      if (!verify.empty()) Check(argv[5] == "--verify" && argv[6] == verify);
    }
  }
  for (const qpmake::Checksum& entry : plan.checksums)
    Check(!Blank(entry.input) && !Blank(entry.output));
  return 0;
}
