// Stage 1 of a compile: the verification section, found in the script text and turned
// into records.
#pragma once

#include <string>

#include "common/qpfile/verification_record.h"

// Runs extraction and the XML checks on the job's script text. False when the compile
// must stop here (the messages were printed); otherwise `records` holds the records
// (empty when there is no section or it is ignored).
bool RunVerificationStage(const std::string& script, VerificationRecords* records);

// Every embedded verification section cut out of `text` (used for --verify files).
std::string RemoveVerificationSections(const std::string& text);
