// One run of qpmake over a read makefile: before commands, targets, after commands,
// checksums, in that order whatever the order of the groups in the file.
#pragma once

#include "make/makefile.h"

namespace qpmake {

// Exit statuses of qpmake.
constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;  // a command or a compiler run failed; every entry still ran
constexpr int kExitAbort = 2;   // usage, unreadable makefile, or an output folder not made
// The user's interrupt (Ctrl-C) ended a command or the compiler: 128 + the signal, so 130
// for Ctrl-C, as a shell reports it; nothing after it runs.
constexpr int kExitInterrupted = 130;

// Works through the plan in the current working directory and gives the exit status.
int RunPlan(const MakePlan& plan);

}  // namespace qpmake
