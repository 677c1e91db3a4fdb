// The command line of akqp-cli: options with values and switches.
#pragma once

#include <map>
#include <string>
#include <vector>

// The line printed when akqp-cli is started without arguments.
inline constexpr char kUsageLine[] = "Usage: akqp-cli --lua <input script> --out <output QP>";

struct CommandLine {
  std::map<std::string, std::string> values;  // option name -> value
  std::map<std::string, int> switches;        // switch name -> 1
  size_t count = 0;                           // number of arguments seen
  // Every argument read as an option (not as a value), in order: as written, and its
  // name without the leading dashes.
  std::vector<std::pair<std::string, std::string>> options;

  // The value of an option, empty when it was not given.
  std::string Value(const std::string& name) const;
  bool Switch(const std::string& name) const { return switches.count(name) != 0; }
  // Whether an option of this name was given, with one dash or two, with a value or not.
  bool Named(const std::string& name) const;
};

// Parses the arguments after the program name. Long options ("--name value"), groups of
// short options ("-abc" as switches a, b, c; "-name value" stores the value under the
// whole name), anything else ignored. A following argument that begins with "-" is never
// taken as a value. Names are compared exactly.
CommandLine ParseCommandLine(const std::vector<std::string>& args);

// Whether the help text or the version was asked for ("--help", "-h", "--version"; one
// dash or two, with a value or without).
bool AsksForHelp(const CommandLine& line);
bool AsksForVersion(const CommandLine& line);

// The options akqp-cli does not know, as written ("--verfiy"), in order. They are
// ignored like anything else on the command line that is not an option's value, but a
// misspelt option would otherwise go unnoticed.
std::vector<std::string> UnknownOptions(const CommandLine& line);

// The lines of the help text: the usage line and every option.
std::vector<std::string> HelpText();
