#include "gui/path_rules.h"

#include "common/platform/fs.h"

namespace gui {
namespace {

size_t LastSeparator(const std::string& path) {
  return path.find_last_of("/\\");
}

char Lower(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

}  // namespace

std::string FileNamePart(const std::string& path) {
  size_t pos = LastSeparator(path);
  return pos == std::string::npos ? path : path.substr(pos + 1);
}

std::string FolderPart(const std::string& path) {
  size_t pos = LastSeparator(path);
  if (pos == std::string::npos) return std::string();
  return pos == 0 ? path.substr(0, 1) : path.substr(0, pos);
}

std::string LinkedOutput(const std::string& input) {
  size_t name_start = LastSeparator(input);
  name_start = name_start == std::string::npos ? 0 : name_start + 1;
  size_t dot = input.find_last_of('.');
  std::string stem = (dot != std::string::npos && dot >= name_start) ? input.substr(0, dot) : input;
  return stem + ".qp";
}

FileQueries RealFileQueries() {
  return {[](const std::string& p) { return platform::IsFile(p); },
          [](const std::string& p) { return platform::IsDirectory(p); }};
}

bool CompileAllowed(const std::string& input, const std::string& output,
                    const FileQueries& files) {
  if (input.empty() || output.empty()) return false;
  if (!files.is_file(input)) return false;
  std::string folder = FolderPart(output);
  if (folder.empty() || !files.is_folder(folder)) return false;
  // Both paths are canonical, so the same text means the same file; the compiler would
  // replace the script with its QP file.
  return !SameInputPath(input, output, kPathsIgnoreCase);
}

std::string LogWindowTitle(const std::string& input, const std::string& output) {
  return "Compilation - " + FileNamePart(input) + " -> " + FileNamePart(output);
}

bool SameInputPath(const std::string& a, const std::string& b, bool ignore_case) {
  if (!ignore_case) return a == b;
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (Lower(a[i]) != Lower(b[i])) return false;
  }
  return true;
}

int FindLogByInput(const std::vector<std::string>& log_inputs, const std::string& input,
                   bool ignore_case) {
  for (size_t i = 0; i < log_inputs.size(); ++i) {
    if (SameInputPath(log_inputs[i], input, ignore_case)) return static_cast<int>(i);
  }
  return -1;
}

std::string CanonicalChoice(const std::string& path) {
  if (path.empty()) return path;
  return platform::CanonicalPath(path);
}

}  // namespace gui
