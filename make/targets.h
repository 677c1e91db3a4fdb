// Building one "make" target: the folders of its output, and the compiler's arguments.
#pragma once

#include <string>
#include <vector>

#include "make/makefile.h"

namespace qpmake {

// The folders of an output path from the outermost in, each with its trailing "/":
// "build/out/a.qp" gives "build/" and "build/out/"; "a.qp" gives none.
std::vector<std::string> OutputFolders(const std::string& output);

// Makes every missing folder of the output path, one level at a time. False as soon as
// one cannot be made (a file of that name is in the way, no permission).
bool MakeOutputFolders(const std::string& output);

// Why a target must not be built, as a whole "qpmake: ..." line: its output is its own
// script or the verification file (compared by identity, so also through "./", hard
// links and symbolic links), which the compiler would refuse anyway. Empty when it may
// be built.
std::string TargetConflict(const Target& target, const std::string& verify_file);

// The compiler: $AKQP_CLI when set, else akqp-cli beside qpmake, else on PATH. Empty when
// none is found.
std::string FindCompiler();

// The compiler's argument vector for one target; `verify_file` empty: no --verify.
std::vector<std::string> CompilerArguments(const std::string& compiler, const Target& target,
                                           const std::string& verify_file);

}  // namespace qpmake
