// The command line of akqp-cli and the job it loads: arguments (split at NUL bytes) are
// parsed, and the last one is taken as the text of a --verify file appended to a script.
// The parse must account for every argument, and the appended script must hold the
// file's text as its one verification section, with the script's own sections gone.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "cli/driver/command_line.h"
#include "cli/driver/job_loader.h"
#include "cli/verify/verify_extract.h"

namespace {

void Check(bool condition) {
  if (!condition) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string input(reinterpret_cast<const char*>(data), size);
  std::vector<std::string> args;
  size_t start = 0;
  for (;;) {
    size_t end = input.find('\0', start);
    args.push_back(input.substr(start, end == std::string::npos ? std::string::npos : end - start));
    if (end == std::string::npos) break;
    start = end + 1;
  }
  if (args.size() > 64) return 0;

  CommandLine line = ParseCommandLine(args);
  Check(line.count == args.size());
  // Every value is an argument that does not begin with "-", right after an option.
  for (const auto& [name, value] : line.values) {
    Check(value.empty() || value[0] != '-');
    bool found = false;
    for (size_t i = 1; i < args.size() && !found; ++i) {
      const std::string& option = args[i - 1];
      size_t dashes = option.find_first_not_of('-');
      std::string option_name = dashes == std::string::npos ? std::string() : option.substr(dashes);
      found = args[i] == value && option.size() > 1 && option[0] == '-' && option_name == name;
    }
    Check(found);
  }
  for (const auto& [name, one] : line.switches) Check(one == 1);
  // No argument holds a NUL byte, so no option has this name.
  Check(line.Value(std::string(1, '\0')).empty());

  // The script is the first argument, the verification file's text the last.
  const std::string& script = args.front();
  std::string verify = TrimSpaces(args.back());
  Check(verify.empty() || (verify.front() != ' ' && verify.back() != ' '));
  if (verify.empty()) return 0;
  std::string appended = AppendVerificationText(script, verify);
  std::string own = verify::RemoveVerificationSections(script);
  // The script's text (less its sections) comes first, unchanged, and the file's text
  // follows inside one long comment that begins on a line of its own.
  Check(appended.compare(0, own.size(), own) == 0);
  std::string tail = appended.substr(own.size());
  Check(tail == "--[=[\r\n" + verify + "\r\n]=]" || tail == "\r\n--[=[\r\n" + verify + "\r\n]=]");
  Check(own.empty() || own.back() == '\n' || own.back() == '\r' || tail[0] == '\r');
  return 0;
}
