// What a makefile asks for: the entries of its five groups, read with the settings-file
// reader and put in the order in which qpmake works through them.
#pragma once

#include <string>
#include <vector>

#include "common/settings/settings_file.h"

namespace qpmake {

// One "make" entry: the definition script and the QP file, in native form ("\" is "/").
struct Target {
  std::string input;
  std::string output;
};

// One "crc32" entry: the file to checksum and the file that receives the checksum.
struct Checksum {
  std::string input;
  std::string output;
};

struct MakePlan {
  std::vector<std::string> before;  // command lines, as written
  std::string verify_value;         // the "verify" key of the "verify" group, or empty
  std::vector<Target> targets;
  std::vector<std::string> after;
  std::vector<Checksum> checksums;
};

// Collects the groups "before", "verify", "make", "after" and "crc32" (first group of each
// name, names without regard to case), skipping entries with an empty key or, where a
// value is needed, an empty value.
MakePlan ReadPlan(const settings::SettingsFile& makefile);

// The command line of a "before" or "after" entry: the line exactly as written (less the
// blanks in front of it), so that "set A=1" runs as "set A=1". Empty when the entry has
// no key and is skipped.
std::string CommandOf(const settings::Line& entry);

// The verification file for every compiler run: the value when it names a file of at
// least one byte, else empty (no message).
std::string ChooseVerifyFile(const std::string& value);

}  // namespace qpmake
