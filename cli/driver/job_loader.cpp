#include "cli/driver/job_loader.h"

#include <new>

#include "cli/verify/verify_stage.h"
#include "common/platform/fs.h"

std::string TrimSpaces(const std::string& text) {
  size_t first = text.find_first_not_of(' ');
  if (first == std::string::npos) return std::string();
  size_t last = text.find_last_not_of(' ');
  return text.substr(first, last - first + 1);
}

std::string AppendVerificationText(const std::string& script, const std::string& verify_text) {
  std::string result = RemoveVerificationSections(script);
  // A script whose last line is a line comment would swallow the opener: start the
  // section on a line of its own.
  if (!result.empty() && result.back() != '\n' && result.back() != '\r') result += "\r\n";
  result += "--[=[\r\n";
  result += verify_text;
  result += "\r\n]=]";
  return result;
}

namespace {

std::string MiB(size_t bytes) {
  return std::to_string(bytes >> 20) + " MiB (" + std::to_string(bytes) + " bytes)";
}

LoadResult Load(const std::string& input_path, const std::string& output_path,
                const std::string& verify_path, CompileJob* job, std::string* reason) {
  platform::ReadStatus status = platform::ReadStatus::kOk;
  std::string error;
  std::optional<std::string> script =
      platform::ReadFile(input_path, kMaxScriptFileSize, &status, &error);
  if (status == platform::ReadStatus::kTooLarge) {
    *reason = "Input file '" + input_path + "' is larger than " + MiB(kMaxScriptFileSize) +
              ", the most a script may hold.";
    return LoadResult::kRefused;
  }
  if (status == platform::ReadStatus::kOutOfMemory) {
    *reason = "Input file could not be read (out of memory).";
    return LoadResult::kRefused;
  }
  if (!script) {
    *reason = error.empty() ? "unknown error" : error;
    return LoadResult::kInputUnreadable;
  }
  job->input_id = platform::FileIdentity(input_path);
  if (!verify_path.empty()) {
    std::string verify_text =
        platform::ReadFile(verify_path, kMaxVerifyFileSize, &status).value_or(std::string());
    if (status == platform::ReadStatus::kTooLarge) {
      *reason = "Verification file '" + verify_path + "' is larger than " +
                MiB(kMaxVerifyFileSize) + ", the most it may hold.";
      return LoadResult::kRefused;
    }
    if (status == platform::ReadStatus::kOutOfMemory) {
      *reason = "Verification file could not be read (out of memory).";
      return LoadResult::kRefused;
    }
    job->verify_id = platform::FileIdentity(verify_path);
    // The file's text ends at its first NUL byte.
    size_t nul = verify_text.find('\0');
    if (nul != std::string::npos) verify_text.resize(nul);
    verify_text = TrimSpaces(verify_text);
    if (verify_text.empty()) return LoadResult::kVerifyFileEmpty;
    *script = AppendVerificationText(*script, verify_text);
  }
  job->input_file_name = platform::FileName(input_path);
  job->script = std::move(*script);
  job->output_path = output_path;
  job->args.script_text = &job->script;
  job->args.job = job;
  job->args.compile_flag = 1;
  job->compile_flag_copy = 1;
  return LoadResult::kOk;
}

}  // namespace

LoadResult LoadJob(const std::string& input_path, const std::string& output_path,
                   const std::string& verify_path, CompileJob* job, std::string* reason) {
  std::string local;
  if (reason == nullptr) reason = &local;
  try {
    return Load(input_path, output_path, verify_path, job, reason);
  } catch (const std::bad_alloc&) {
    *reason = "The job could not be loaded (out of memory).";
    return LoadResult::kRefused;
  }
}
