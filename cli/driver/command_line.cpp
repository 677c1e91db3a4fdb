#include "cli/driver/command_line.h"

#include <algorithm>
#include <array>
#include <string_view>

namespace {

// Every option name the compiler reads.
constexpr std::array<std::string_view, 7> kKnownNames = {
    "lua", "out", "verify", "memory-limit", "help", "h", "version"};

}  // namespace

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
    bool is_option = arg.size() > 1 && arg[0] == '-';
    if (is_option && !name.empty()) result.options.emplace_back(arg, name);
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

bool CommandLine::Named(const std::string& name) const {
  return std::any_of(options.begin(), options.end(),
                     [&](const auto& option) { return option.second == name; });
}

bool AsksForHelp(const CommandLine& line) { return line.Named("help") || line.Named("h"); }

bool AsksForVersion(const CommandLine& line) { return line.Named("version"); }

std::vector<std::string> UnknownOptions(const CommandLine& line) {
  std::vector<std::string> unknown;
  for (const auto& [written, name] : line.options) {
    if (std::find(kKnownNames.begin(), kKnownNames.end(), name) == kKnownNames.end())
      unknown.push_back(written);
  }
  return unknown;
}

std::vector<std::string> HelpText() {
  return {
      kUsageLine,
      "",
      "  --lua <file>           the definition script to compile (required)",
      "  --out <file>           the QP file to write (required); its folder must exist",
      "  --verify <file>        a file whose XML replaces the script's own verification section",
      "  --memory-limit <MiB>   the most memory the script may use, in MiB (default 512)",
      "",
      "  --help, -h             this text",
      "  --version              the version of akqp-cli",
      "",
      "A single dash works like two (-lua a.lua). Exit status: 0 when the QP file was written,",
      "1 when the compile failed, 2 on a command-line error, 3 when the assembler cannot start.",
  };
}
