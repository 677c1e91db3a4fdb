// Loading the job of one run of akqp-cli: the script text, with a verification file
// taking the place of the script's own verification sections.
#pragma once

#include <cstddef>
#include <string>

#include "cli/script/compile_job.h"

// The most that is read of the files the user names: far beyond any real script or
// verification file, and well inside the script state's memory limit, so that a device
// or pipe that never ends (/dev/zero) is refused instead of filling the memory.
constexpr size_t kMaxScriptFileSize = 256u << 20;
constexpr size_t kMaxVerifyFileSize = 64u << 20;

enum class LoadResult {
  kOk,
  kInputUnreadable,     // the input file exists but cannot be read
  kVerifyFileEmpty,     // the verification file holds nothing but spaces
  kRefused,             // too large, or out of memory: `reason` is the whole message
};

// Fills `job` from the checked paths, with the identities of the files read. `verify_path`
// is empty when no file was named. On failure `reason` says why (for the input file).
LoadResult LoadJob(const std::string& input_path, const std::string& output_path,
                   const std::string& verify_path, CompileJob* job, std::string* reason);

// The script text with a verification file's text appended as a section.
std::string AppendVerificationText(const std::string& script, const std::string& verify_text);

// Trims the space character (only) at both ends.
std::string TrimSpaces(const std::string& text);
