#include "cli/driver/job_loader.h"

#include <cerrno>
#include <cstring>

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

LoadResult LoadJob(const std::string& input_path, const std::string& output_path,
                   const std::string& verify_path, CompileJob* job, std::string* reason) {
  errno = 0;
  std::optional<std::string> script = platform::ReadFile(input_path);
  if (!script) {
    if (reason) *reason = errno != 0 ? std::strerror(errno) : "unknown error";
    return LoadResult::kInputUnreadable;
  }
  if (!verify_path.empty()) {
    std::string verify_text = platform::ReadFile(verify_path).value_or(std::string());
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
