#include "make/makefile.h"

#include "common/platform/fs.h"

namespace qpmake {
namespace {

using settings::TrimBlanks;

std::vector<std::string> Commands(const settings::SettingsFile& makefile, std::string_view group) {
  std::vector<std::string> result;
  for (const settings::Line& entry : makefile.Entries(group)) {
    std::string command = CommandOf(entry);
    if (!command.empty()) result.push_back(std::move(command));
  }
  return result;
}

// Entries that need both a key and a value; paths written with "\" work as on Windows.
template <typename Pair>
std::vector<Pair> PathPairs(const settings::SettingsFile& makefile, std::string_view group) {
  std::vector<Pair> result;
  for (const settings::Line& entry : makefile.Entries(group)) {
    if (TrimBlanks(entry.name).empty() || TrimBlanks(entry.value).empty()) continue;
    result.push_back(Pair{platform::NativePath(std::string(entry.name)),
                          platform::NativePath(std::string(entry.value))});
  }
  return result;
}

}  // namespace

std::string CommandOf(const settings::Line& entry) {
  if (TrimBlanks(entry.name).empty()) return std::string();
  size_t start = entry.raw.find_first_not_of(" \t");
  return start == std::string::npos ? std::string() : std::string(entry.raw.substr(start));
}

MakePlan ReadPlan(const settings::SettingsFile& makefile) {
  MakePlan plan;
  plan.before = Commands(makefile, "before");
  plan.verify_value = std::string(TrimBlanks(makefile.ReadText("verify", "verify", "")));
  plan.targets = PathPairs<Target>(makefile, "make");
  plan.after = Commands(makefile, "after");
  plan.checksums = PathPairs<Checksum>(makefile, "crc32");
  return plan;
}

std::string ChooseVerifyFile(const std::string& value) {
  std::string path = platform::NativePath(value);
  if (path.empty() || !platform::IsFile(path) || platform::FileSize(path) < 1) return std::string();
  return path;
}

}  // namespace qpmake
