// The window program's command line:
//
//   akqp [--log-to FILE] [INPUT.lua [OUTPUT.qp]]
//
// INPUT and OUTPUT fill the two path fields at start (a file manager's "Open with" passes
// the script alone, and the output is then linked to it). --log-to appends every line
// that a log window shows to FILE as well, so that tests and scripts can read the logs.
#pragma once

#include <string>
#include <vector>

namespace gui {

struct CommandLine {
  std::string input;
  std::string output;
  std::string log_to;
  bool help = false;   // --help: print the usage line and end
  std::string error;   // not empty: the line to print before ending
};

// Parses the arguments after the program name. "--" ends the options, so a path that
// begins with "-" can still be given.
CommandLine ParseCommandLine(const std::vector<std::string>& args);

// The usage line printed for --help and after an error.
const char* UsageLine();

}  // namespace gui
