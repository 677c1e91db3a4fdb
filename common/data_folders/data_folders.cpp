#include "common/data_folders/data_folders.h"

#include <filesystem>

#include "common/platform/fs.h"

namespace data_folders {
namespace {

constexpr char kSep = platform::kSeparator;

// A folder the caller wrote with "/" on Windows already ends with a separator.
std::string WithSeparator(std::string folder) {
  if (!folder.empty() && !platform::IsSeparator(folder.back())) folder += kSep;
  return folder;
}

}  // namespace

std::string DataFolder(const std::string& program_folder, const std::string& entry) {
  const std::string beside = WithSeparator(program_folder);
  if (platform::PathExists(beside + entry)) return beside;
  // Resolved by hand rather than through the file system: the program's folder is a
  // real path (the system gives it with links resolved), so ".." is its parent.
  std::string shared = std::filesystem::path(beside + ".." + kSep + "share" + kSep + "akqp" + kSep)
                           .lexically_normal()
                           .string();
  if (platform::PathExists(shared + entry)) return WithSeparator(shared);
  return beside;
}

std::string IncludeFolder(const std::string& program_folder) {
  return DataFolder(program_folder, "asm") + kSep + "asm";
}

std::string HelpPage(const std::string& program_folder) {
  return DataFolder(program_folder, "help") + "help" + kSep + "akqp.html";
}

}  // namespace data_folders
