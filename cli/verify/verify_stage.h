// Stage 1 of a compile: the verification section, found in the script text and turned
// into records.
#pragma once

#include <string>

#include "common/qpfile/verification_record.h"

// Runs extraction and the XML checks on the job's script text. False when the compile
// must stop here (the messages were printed); otherwise `records` holds the records
// (empty when there is no section or it is ignored).
bool RunVerificationStage(const std::string& script, VerificationRecords* records);

// A --verify file takes the place of the script's own sections. When its text, appended
// to the script, forms no section (bare XML without the <akqp:verify> root, or an XML
// declaration before it), the QP file gets no records: print a warning naming the file
// ("compiler::warnings" on, sections not ignored). `script` is the job's script text
// with the file's text appended.
void WarnWhenVerifyFileGivesNoSection(const std::string& script, const std::string& verify_path);

// Every embedded verification section cut out of `text` (used for --verify files).
std::string RemoveVerificationSections(const std::string& text);
