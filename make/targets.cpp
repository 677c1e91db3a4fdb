#include "make/targets.h"

#include <cstdlib>

#include "common/platform/fs.h"
#include "common/platform/process.h"

namespace qpmake {

std::vector<std::string> OutputFolders(const std::string& output) {
  std::vector<std::string> folders;
  std::string folder = platform::FolderOf(output);
  for (size_t pos = 0; pos < folder.size(); ++pos)
    if (platform::IsSeparator(folder[pos])) folders.push_back(folder.substr(0, pos + 1));
  return folders;
}

bool MakeOutputFolders(const std::string& output) {
  for (const std::string& folder : OutputFolders(output))
    if (!platform::IsDirectory(folder) && !platform::MakeDirectory(folder)) return false;
  return true;
}

std::string TargetConflict(const Target& target, const std::string& verify_file) {
  std::optional<platform::FileId> output = platform::FileIdentity(target.output);
  if (!output) return std::string();
  const char* what = nullptr;
  if (output == platform::FileIdentity(target.input))
    what = "is its input script";
  else if (!verify_file.empty() && output == platform::FileIdentity(verify_file))
    what = "is the verification file";
  if (what == nullptr) return std::string();
  return "qpmake: skipped '" + target.input + "': its output file '" + target.output + "' " +
         what + "; choose another output path";
}

std::string FindCompiler() {
  const char* chosen = std::getenv("AKQP_CLI");
  if (chosen && *chosen) return chosen;
  return platform::FindProgram("akqp-cli", platform::ProgramFolder());
}

std::vector<std::string> CompilerArguments(const std::string& compiler, const Target& target,
                                           const std::string& verify_file) {
  std::vector<std::string> argv = {compiler, "--lua", target.input, "--out", target.output};
  if (!verify_file.empty()) {
    argv.push_back("--verify");
    argv.push_back(verify_file);
  }
  return argv;
}

}  // namespace qpmake
