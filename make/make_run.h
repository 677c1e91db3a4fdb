// One run of qpmake over a read makefile: before commands, targets, after commands,
// checksums, in that order whatever the order of the groups in the file.
#pragma once

#include "make/makefile.h"

namespace qpmake {

// Exit statuses of qpmake.
constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;  // a command or a compiler run failed; every entry still ran
constexpr int kExitAbort = 2;   // usage, unreadable makefile, or an output folder not made

// Works through the plan in the current working directory and gives the exit status.
int RunPlan(const MakePlan& plan);

}  // namespace qpmake
