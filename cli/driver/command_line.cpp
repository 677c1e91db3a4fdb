#include "cli/driver/command_line.h"

std::string CommandLine::Value(const std::string& name) const {
  auto it = values.find(name);
  return it == values.end() ? std::string() : it->second;
}

CommandLine ParseCommandLine(const std::vector<std::string>& args) {
  CommandLine result;
  result.count = args.size();
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    size_t dashes = arg.find_first_not_of('-');
    std::string name = dashes == std::string::npos ? std::string() : arg.substr(dashes);
    bool has_value = i + 1 < args.size() && (args[i + 1].empty() || args[i + 1][0] != '-');
    if (arg.size() > 2 && arg.compare(0, 2, "--") == 0) {
      if (has_value) {
        result.values[name] = args[++i];
      } else {
        result.switches[name] = 1;
      }
    } else if (arg.size() > 1 && arg[0] == '-') {
      if (has_value) {
        result.values[name] = args[++i];
      } else {
        for (char c : name) result.switches[std::string(1, c)] = 1;
      }
    }
  }
  return result;
}
