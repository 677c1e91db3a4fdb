// Where the programs find their data: the assembler include folder ("asm") and the
// window program's help page ("help/akqp.html").
//
// Two layouts are looked at, in this order: beside the program (the build folder, the
// Windows zip), then "../share/akqp/" from the program's folder (an installed tree,
// wherever its prefix is and after it has been moved).
#pragma once

#include <string>

namespace data_folders {

// The folder, ending with its separator, that holds `entry` for a program in
// `program_folder`: the program's folder when `entry` is there, else its
// "../share/akqp/" when `entry` is there, else the program's folder (so that a missing
// file is reported where it was looked for first).
std::string DataFolder(const std::string& program_folder, const std::string& entry);

// The text "%incdir%" stands for: the data folder of "asm" ending with its separator,
// then a separator and "asm", so two separators stand in a row (".../bin//asm"); the
// assembler reads such a path like any other.
std::string IncludeFolder(const std::string& program_folder);

// The window program's help page.
std::string HelpPage(const std::string& program_folder);

}  // namespace data_folders
