// Loading the job of one run of akqp-cli: the script text, with a verification file
// taking the place of the script's own verification sections.
#pragma once

#include <string>

#include "cli/script/compile_job.h"

enum class LoadResult {
  kOk,
  kInputUnreadable,     // the input file exists but cannot be read
  kVerifyFileEmpty,     // the verification file holds nothing but spaces
};

// Fills `job` from the checked paths. `verify_path` is empty when no file was named.
// On failure `reason` says why (for the input file).
LoadResult LoadJob(const std::string& input_path, const std::string& output_path,
                   const std::string& verify_path, CompileJob* job, std::string* reason);

// The script text with a verification file's text appended as a section.
std::string AppendVerificationText(const std::string& script, const std::string& verify_text);

// Trims the space character (only) at both ends.
std::string TrimSpaces(const std::string& text);
