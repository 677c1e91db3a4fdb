#include "tests/e2e_support.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "common/platform/fs.h"
#include "common/platform/process.h"

namespace e2e {

std::string BuildDir() {
  const char* dir = std::getenv("AKQP_BUILD_DIR");
  return dir ? dir : AKQP_DEFAULT_BUILD_DIR;
}

std::string SourceDir() {
  const char* dir = std::getenv("AKQP_SOURCE_DIR");
  return dir ? dir : AKQP_DEFAULT_SOURCE_DIR;
}

RunResult Run(const std::string& program, const std::vector<std::string>& args,
              const RunOptions& options) {
  std::vector<std::string> argv;
  // Environment changes go through env(1) so that the child alone sees them.
  if (!options.env.empty()) {
    argv.push_back("env");
    for (const auto& [key, value] : options.env) argv.push_back(key + "=" + value);
  }
  argv.push_back(program.find('/') == std::string::npos ? BuildDir() + "/" + program : program);
  argv.insert(argv.end(), args.begin(), args.end());
  platform::ProcessOptions process;
  process.timeout_ms = options.timeout_ms;
  process.working_directory = options.cwd;
  process.output_limit = 64u << 20;
  platform::ProcessResult r = platform::RunProcess(argv, process);
  RunResult result;
  result.exit_code = r.exit_code;
  result.timed_out = r.timed_out;
  result.output = r.output;
  std::string line;
  std::istringstream in(r.output);
  while (std::getline(in, line)) result.lines.push_back(line);
  return result;
}

Scratch::Scratch() {
  path_ = platform::MakeTempFolder("akqp-test");
  std::filesystem::create_directories(path_ + "/config");
}

Scratch::~Scratch() {
  if (!path_.empty()) platform::RemoveTree(path_);
}

std::string Scratch::Write(const std::string& name, const std::string& content) const {
  std::string full = Path(name);
  std::filesystem::create_directories(std::filesystem::path(full).parent_path());
  std::ofstream out(full, std::ios::binary);
  out << content;
  return full;
}

std::string Scratch::Read(const std::string& name) const {
  auto data = platform::ReadFile(name.empty() || name[0] != '/' ? Path(name) : name);
  return data ? *data : std::string();
}

std::map<std::string, std::string> Scratch::Env() const {
  return {{"AKQP_CONFIG_HOME", path_ + "/config"}, {"NO_COLOR", "1"}};
}

void Scratch::WriteSettings(const std::string& content) const {
  Write("config/Ardent Kestrel QP/settings.cfg", content);
}

RunResult Compile(const Scratch& scratch, const std::string& script_path,
                  const std::string& out_path, const std::vector<std::string>& extra) {
  std::vector<std::string> args = {"--lua", script_path, "--out", out_path};
  args.insert(args.end(), extra.begin(), extra.end());
  RunOptions options;
  options.env = scratch.Env();
  options.cwd = scratch.path();
  return Run("akqp-cli", args, options);
}

}  // namespace e2e
