#include "gui/command_line.h"

namespace gui {

const char* UsageLine() {
  return "Usage: akqp [--log-to <file>] [<input script> [<output QP>]]";
}

CommandLine ParseCommandLine(const std::vector<std::string>& args) {
  CommandLine result;
  std::vector<std::string> paths;
  bool options_done = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (!options_done && arg == "--") {
      options_done = true;
    } else if (!options_done && arg == "--log-to") {
      if (i + 1 >= args.size() || args[i + 1].empty()) {
        result.error = "akqp: --log-to needs a file name";
        return result;
      }
      result.log_to = args[++i];
    } else if (!options_done && (arg == "--help" || arg == "-h")) {
      result.help = true;
    } else if (!options_done && arg.size() > 1 && arg[0] == '-') {
      result.error = "akqp: unknown option '" + arg + "'";
      return result;
    } else {
      paths.push_back(arg);
    }
  }
  if (paths.size() > 2) {
    result.error = "akqp: too many paths (an input script and an output QP at most)";
    return result;
  }
  if (!paths.empty()) result.input = paths[0];
  if (paths.size() > 1) result.output = paths[1];
  return result;
}

}  // namespace gui
