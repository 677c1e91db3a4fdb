// The output stage of a compile: the name check, the stored chunk, the QP file written
// and reported.
#pragma once

#include "cli/script/compile_job.h"
#include "common/qpfile/verification_record.h"

// Runs the output stage after the section walk. Gives the compile result: 1 when a QP
// file was written, else 0. Always clears the compile flag in the job and its arguments.
int RunOutputStage(CompileJob& job, SectionTables& tables, const VerificationRecords& records);

// The "name" entry of the information table with spaces trimmed (empty when missing).
std::string ModuleName(const SectionTables& tables);

// The reason the output path may not be written, without the "[ERROR] akqp-cli: " prefix:
// it names the job's input script or verification file (by identity, so also through
// "./", a hard link or a symbolic link). Empty when it may be written.
std::string OutputConflict(const CompileJob& job, const std::string& output_path);
