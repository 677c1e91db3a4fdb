// The command line of akqp-cli: options with values and switches.
#pragma once

#include <map>
#include <string>
#include <vector>

struct CommandLine {
  std::map<std::string, std::string> values;  // option name -> value
  std::map<std::string, int> switches;        // switch name -> 1
  size_t count = 0;                           // number of arguments seen

  // The value of an option, empty when it was not given.
  std::string Value(const std::string& name) const;
  bool Switch(const std::string& name) const { return switches.count(name) != 0; }
};

// Parses the arguments after the program name. Long options ("--name value"), groups of
// short options ("-abc" as switches a, b, c; "-name value" stores the value under the
// whole name), anything else ignored. A following argument that begins with "-" is never
// taken as a value. Names are compared exactly.
CommandLine ParseCommandLine(const std::vector<std::string>& args);
