#include "tests/e2e_support.h"

#include <algorithm>
#include <cstdlib>
#include <optional>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "common/platform/environment.h"
#include "common/platform/fs.h"
#include "common/platform/process.h"
#include "common/platform/shell.h"

namespace e2e {

namespace {

// The folders are given without a drive under Wine ("/work/x"), which names a folder of
// the current drive only; the programs the tests start run in scratch folders on another
// drive, so the folders are made whole first (a no-op for a POSIX absolute path).
std::string Whole(const char* dir) {
  std::error_code ec;
  std::filesystem::path whole = std::filesystem::absolute(dir, ec);
  return ec ? dir : whole.string();
}

}  // namespace

std::string BuildDir() {
  const char* dir = std::getenv("AKQP_BUILD_DIR");
  return Whole(dir ? dir : AKQP_DEFAULT_BUILD_DIR);
}

std::string SourceDir() {
  const char* dir = std::getenv("AKQP_SOURCE_DIR");
  return Whole(dir ? dir : AKQP_DEFAULT_SOURCE_DIR);
}

RunResult Run(const std::string& program, const std::vector<std::string>& args,
              const RunOptions& options) {
  std::vector<std::string> argv;
  bool bare = std::none_of(program.begin(), program.end(), platform::IsSeparator);
  argv.push_back(bare ? BuildDir() + platform::kSeparator + program : program);
  argv.insert(argv.end(), args.begin(), args.end());
  platform::ProcessOptions process;
  process.timeout_ms = options.timeout_ms;
  process.working_directory = options.cwd;
  process.output_limit = 64u << 20;
  platform::ProcessResult r;
  {
    // The child inherits the variables; ours are put back afterwards (tests run one at a
    // time within a test program).
    ScopedEnvironment environment(options.env);
    r = platform::RunProcess(argv, process);
  }
  RunResult result;
  result.exit_code = r.exit_code;
  result.timed_out = r.timed_out;
  result.raw_output = r.output;
  result.output.reserve(r.output.size());
  for (size_t i = 0; i < r.output.size(); ++i)
    if (!(r.output[i] == '\r' && i + 1 < r.output.size() && r.output[i + 1] == '\n'))
      result.output.push_back(r.output[i]);
  std::string line;
  std::istringstream in(result.output);
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    result.lines.push_back(line);
  }
  return result;
}

ScopedEnvironment::ScopedEnvironment(const std::map<std::string, std::string>& values) {
  for (const auto& [key, value] : values) {
    saved_.emplace_back(key, platform::GetEnvironment(key));
    platform::SetEnvironment(key, value);
  }
}

ScopedEnvironment::~ScopedEnvironment() {
  for (const auto& [key, value] : saved_) {
    if (value)
      platform::SetEnvironment(key, *value);
    else
      platform::UnsetEnvironment(key);
  }
}

std::string Program(const std::string& name) {
  return BuildDir() + platform::kSeparator + name + platform::kProgramSuffix;
}

FirstLine ReadFirstLineThenHangUp(const std::vector<std::string>& argv, const std::string& cwd,
                                  const std::map<std::string, std::string>& env) {
  FirstLine result;
  ScopedEnvironment environment(env);
  platform::ChildProcess child;
  if (!child.Start(argv, cwd)) return result;
  std::string line;
  if (child.ReadLine(&line)) result.lines.push_back(line);
  child.CloseOutput();
  result.exit_code = child.Wait();
  return result;
}

Scratch::Scratch() {
  path_ = platform::MakeTempFolder("akqp-test");
  platform::MakeDirectory(Path("config"));
}

std::string Scratch::Path(const std::string& name) const {
  return path_ + platform::kSeparator + platform::NativePath(name);
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
  auto data = platform::ReadFile(platform::IsAbsolutePath(name) ? name : Path(name));
  return data ? *data : std::string();
}

std::map<std::string, std::string> Scratch::Env() const {
  // No message box may wait for a click in a test.
  return {{"AKQP_CONFIG_HOME", Path("config")}, {"NO_COLOR", "1"}, {"AKQP_NO_MESSAGE_BOX", "1"}};
}

void Scratch::WriteSettings(const std::string& content) const {
  Write("config/Ardent Kestrel QP/settings.cfg", content);
}

bool Built(const std::string& name) {
  return platform::IsFile(BuildDir() + platform::kSeparator + name + platform::kProgramSuffix);
}

std::string StandIn() {
  return platform::FindProgram("akqp-standin", BuildDir() + platform::kSeparator + "tests");
}

std::string StandInCopy(const std::string& folder, const std::string& mode) {
  std::string program = StandIn();
  std::string extension = platform::FileName(program).find('.') == std::string::npos ? "" : ".exe";
  std::string copy = folder + platform::kSeparator + mode + extension;
  std::error_code ec;
  std::filesystem::copy_file(program, copy, std::filesystem::copy_options::overwrite_existing, ec);
  return ec ? std::string() : copy;
}

std::string HostLua(std::string* why) {
  std::string path = platform::GetEnvironment("AKQP_HOST_LUA").value_or(AKQP_DEFAULT_HOST_LUA);
  std::optional<std::string> image = platform::ReadFile(path, 64u << 20);
  if (!image || image->size() < 0x40) {
    *why = path + " is missing";
    return std::string();
  }
  auto byte = [&](size_t at) { return static_cast<size_t>(static_cast<uint8_t>((*image)[at])); };
  bool x86 = false;
  if (image->compare(0, 4, "\x7f" "ELF") == 0) {
    // ELF class 1 is 32-bit; machine 3 is x86.
    x86 = byte(4) == 1 && byte(18) == 3;
  } else if (image->compare(0, 2, "MZ") == 0) {
    // The PE header's machine field: 0x14C is x86.
    size_t pe = byte(0x3C) | byte(0x3D) << 8 | byte(0x3E) << 16 | byte(0x3F) << 24;
    x86 = pe + 6 <= image->size() && image->compare(pe, 4, std::string("PE\0\0", 4)) == 0 &&
          byte(pe + 4) == 0x4C && byte(pe + 5) == 0x01;
  }
  if (!x86) {
    *why = path + " is not a 32-bit x86 Lua 5.3 (install lua5.3:i386)";
    return std::string();
  }
  return path;
}

RunResult RunShellScript(const Scratch& scratch, const std::string& name, const std::string& text,
                         const RunOptions& options) {
  std::string path = scratch.Write(name, text);
  if (platform::kShellKind == platform::ShellKind::kCmd)
    return Run(platform::ShellProgram(), {"/c", path}, options);
  return Run(platform::ShellProgram(), {path}, options);
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

const SystemLibrary& TheSystemLibrary() {
#ifdef _WIN32
  static const SystemLibrary library{"kernel32.dll", "GetTickCount", "lstrlenA"};
#else
  static const SystemLibrary library{"libc.so.6", "puts", "strlen"};
#endif
  return library;
}

bool IsOtherSystemsLibraryWarning(const std::string& line) {
  static const std::string warning = "[WARNING] assemblies: In Assembly entry '";
  static const std::string tail = "' could not be loaded and thus not be checked.";
  if (line.rfind(warning, 0) != 0 || line.size() < tail.size() ||
      line.compare(line.size() - tail.size(), tail.size(), tail) != 0)
    return false;
  size_t at = line.find("', library '");
  if (at == std::string::npos) return false;
  at += 12;
  std::string library = line.substr(at, line.find('\'', at) - at);
#ifdef _WIN32
  return library.find(".so") != std::string::npos;
#else
  return library.size() > 4 && library.compare(library.size() - 4, 4, ".dll") == 0;
#endif
}

}  // namespace e2e
