// qpinfo: shows what a QP file holds, checks it the way a reader does, and can write
// out its Lua chunk.
//
// Exit status: 0 when the file loaded (and the chunk, when asked for, was written), 1
// when it did not, 2 on a usage error.
#include <new>
#include <string>
#include <vector>

#include "common/platform/console.h"
#include "common/platform/fs.h"
#include "tools/qpinfo/qp_report.h"

namespace {

constexpr const char* kUsage = "usage: qpinfo [--json] [--chunk OUT] FILE.qp";

struct Options {
  bool json = false;
  std::string chunk_path;
  std::string file;
};

// False on a usage error.
bool ParseArguments(const std::vector<std::string>& args, Options* options) {
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "--json") {
      options->json = true;
    } else if (arg == "--chunk") {
      if (i + 1 >= args.size() || !options->chunk_path.empty()) return false;
      options->chunk_path = args[++i];
    } else if (arg.size() > 1 && arg[0] == '-') {
      return false;
    } else {
      if (!options->file.empty()) return false;
      options->file = arg;
    }
  }
  return !options->file.empty();
}

int Run(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h")) {
    platform::ConsoleWriteLine(kUsage);
    return 0;
  }
  Options options;
  if (!ParseArguments(args, &options)) {
    platform::ConsoleWriteError(kUsage);
    return 2;
  }

  // The chunk must never replace the file it comes from.
  if (!options.chunk_path.empty()) {
    std::optional<platform::FileId> chunk = platform::FileIdentity(options.chunk_path);
    if (chunk && chunk == platform::FileIdentity(options.file)) {
      platform::ConsoleWriteError("qpinfo: the chunk file '" + options.chunk_path +
                                  "' is the QP file; choose another path");
      return 2;
    }
  }
  QpReport report = MakeReport(options.file);
  if (report.result != qp::kLoaded) {
    if (options.json)
      platform::ConsoleWriteLine(ReportJson(report));
    else
      platform::ConsoleWriteError(FailureLine(report));
    return 1;
  }
  if (options.json) {
    platform::ConsoleWriteLine(ReportJson(report));
  } else {
    for (const std::string& line : ReportLines(report)) platform::ConsoleWriteLine(line);
  }
  if (!options.chunk_path.empty()) {
    std::string error;
    if (!platform::WriteFileAtomic(options.chunk_path, report.chunk, &error)) {
      platform::ConsoleWriteError("qpinfo: cannot write '" + options.chunk_path + "': " + error);
      return 1;
    }
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return Run(argc, argv);
  } catch (const std::bad_alloc&) {
    platform::ConsoleWriteError("qpinfo: out of memory");
    return 1;
  }
}
