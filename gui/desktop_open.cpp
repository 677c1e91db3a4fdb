#include "gui/desktop_open.h"

#include <cstdlib>

#include "common/data_folders/data_folders.h"
#include "common/platform/fs.h"
#include "common/platform/launch.h"
#include "gui/path_rules.h"

namespace gui {
namespace {

bool Open(const std::string& opener, const std::vector<std::string>& arguments,
          std::string* error) {
  std::vector<std::string> argv = {opener};
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  return platform::StartDetached(argv, std::string(), error);
}

}  // namespace

std::string DesktopOpener() {
  const char* own = std::getenv("AKQP_OPENER");
  if (own && *own) return own;
  return platform::kDesktopOpener;
}

std::string HelpPagePath(const std::string& program_folder) {
  return data_folders::HelpPage(program_folder);
}

bool OpenOutputFolder(const std::string& output, const std::string& opener,
                      std::string* error) {
  if (output.empty()) return false;
  const std::string folder = FolderPart(output);
  return Open(opener, platform::ShowFileArguments(output, folder.empty() ? CanonicalChoice(".") : folder),
              error);
}

bool OpenHelpPage(const std::string& program_folder, const std::string& opener,
                  std::string* error) {
  return Open(opener, {HelpPagePath(program_folder)}, error);
}

}  // namespace gui
