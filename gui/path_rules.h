// The rules of the main window's two path fields and of the compilation logs, kept apart
// from the widgets so that they can be checked without a display.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "common/platform/fs.h"

namespace gui {

// The file part of a path: the text after the last "/" or "\".
std::string FileNamePart(const std::string& path);

// The folder part of a path: everything before its last "/" or "\" (empty for a bare
// name). "/demo.qp" gives "/", so a file in the root has a folder.
std::string FolderPart(const std::string& path);

// The output that the link toggle derives from an input: the input with the extension of
// its file name replaced by ".qp" (a name without extension just gets ".qp").
std::string LinkedOutput(const std::string& input);

// What the file system is asked while validating; tests supply their own answers.
struct FileQueries {
  std::function<bool(const std::string&)> is_file;
  std::function<bool(const std::string&)> is_folder;
};
FileQueries RealFileQueries();

// Whether "Compile" may be pressed: both fields are filled, the input is an existing file,
// the output's folder exists, and the output is not the input itself (compiling would
// overwrite the script with its own QP file).
bool CompileAllowed(const std::string& input, const std::string& output,
                    const FileQueries& files);

// The title of a compilation log's window.
std::string LogWindowTitle(const std::string& input, const std::string& output);

// Whether two input paths name the same compilation log. File systems that ignore letter
// case (Windows) compare without case; elsewhere "Demo.lua" and "demo.lua" are two files.
bool SameInputPath(const std::string& a, const std::string& b, bool ignore_case);
constexpr bool kPathsIgnoreCase = platform::kPathsIgnoreCase;

// The index of the compilation log whose input is `input`, or -1.
int FindLogByInput(const std::vector<std::string>& log_inputs, const std::string& input,
                   bool ignore_case = kPathsIgnoreCase);

// The form in which a chosen path is shown and used: absolute, with "." and ".." parts
// resolved. Empty stays empty.
std::string CanonicalChoice(const std::string& path);

}  // namespace gui
