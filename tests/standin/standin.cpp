// akqp-standin: one small program that stands in for the outside programs the tests need
// (a compiler, an opener, an assembler that is not one), the same on every system, so
// that no test depends on a shell and its tools.
//
//   akqp-standin MODE ARGS...   or a copy named MODE (MODE.exe), which takes ARGS alone
//
//   args A B ...    writes "A|B|" (each argument followed by "|")
//   lines A B ...   writes "[A]", "[B]", ... one line each
//   raw TEXT        writes TEXT with \n, \r, \t and \\ decoded, nothing added
//   fill N          writes N bytes of "y\n"
//   exit N          ends with status N
//   true            ends with status 0
//   false           ends with status 1
//   count N         writes "line0" to "line<N-1>", one line each (N from the first number
//                   among the arguments, 2000 when there is none)
//   countgate ARGS...  writes "line0" to "line999", then waits as gate does (a compiler
//                   whose long output comes before its end)
//   gate ARGS...    writes "first", waits until the file named by the second argument
//                   exists, then writes "second\r\nthird" (a compiler whose output comes
//                   in two parts; the second argument is a compiler run's input)
//   late ARGS...    writes "start", waits a second, writes "late" and creates the file
//                   named by the second argument
//   sleep MS        waits MS milliseconds, then ends with status 0
//   cwd             writes the current folder and a line end
//   log ARGS...     appends "cli", each argument and "--", one per line, to log.txt in
//                   the current folder, then fails when the second argument (the input
//                   of a compiler run) holds the word "fail" (a stand-in compiler)
//   opener ARGS...  writes its arguments, separated by line ends, to the file "opened"
//                   beside the program, through a temporary name (a stand-in desktop
//                   opener)
//   hold FILE       opens FILE for reading as an ordinary program does (others may read
//                   it, not replace it), writes "held" and keeps it open until killed
//   cwdfile         waits 300 ms, then writes the current folder to the file "opened" in
//                   that folder
//   busy ARGS...    creates the file "busy" in the current folder and keeps it open (so
//                   that it cannot be removed) for a minute: a program that runs until it
//                   is ended, and shows whether it still runs
//   slow ARGS...    waits 1.3 s, then runs the program named by $AKQP_STANDIN_PROGRAM with
//                   ARGS (its output where ours goes) and ends with its status
//   crash           ends as a crashed program does (on Windows with an access violation's
//                   status, elsewhere by SIGSEGV)
//   compiler ARGS...  appends "cli" and the second argument (a compiler run's input) as one
//                   line to log.txt in the current folder, then acts on words in that
//                   argument: "kill" ends as a crashed program does, "int" as a console
//                   program that Ctrl+C ended (Windows statuses; elsewhere the signals),
//                   "sleep" as busy; else it ends with status 0
#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "common/platform/console.h"
#include "common/platform/environment.h"
#include "common/platform/fs.h"
#include "common/platform/process.h"

namespace {

std::string Decode(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\' || i + 1 == text.size()) {
      out.push_back(text[i]);
      continue;
    }
    char c = text[++i];
    out.push_back(c == 'n' ? '\n' : c == 'r' ? '\r' : c == 't' ? '\t' : c);
  }
  return out;
}

// Keeps the file "busy" open for a minute.
int Busy() {
  std::FILE* busy = std::fopen("busy", "wb");
  if (busy == nullptr) return 1;
  std::this_thread::sleep_for(std::chrono::minutes(1));
  std::fclose(busy);
  return 0;
}

// Ends as a program that a crash (`crash`) or the user's Ctrl+C ended.
int EndAbruptly(bool crash) {
#ifdef _WIN32
  // The statuses that Windows gives such programs: an access violation, and the console's
  // Ctrl+C.
  return static_cast<int>(crash ? 0xC0000005u : 0xC000013Au);
#else
  int signal_number = crash ? SIGSEGV : SIGINT;
  std::signal(signal_number, SIG_DFL);
  std::raise(signal_number);
  return 1;
#endif
}

std::string ModeFromName(const std::string& argv0) {
  std::string name = platform::FileName(argv0);
  size_t dot = name.rfind('.');
  if (dot != std::string::npos) name.resize(dot);
  return name;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  std::string mode = ModeFromName(argv[0]);
  if (mode == "akqp-standin") {
    if (args.empty()) return 2;
    mode = args.front();
    args.erase(args.begin());
  }
  if (mode == "args") {
    std::string out;
    for (const std::string& a : args) out += a + "|";
    platform::ConsoleWriteRaw(out);
  } else if (mode == "lines") {
    for (const std::string& a : args) platform::ConsoleWriteRaw("[" + a + "]\n");
  } else if (mode == "raw") {
    platform::ConsoleWriteRaw(args.empty() ? std::string() : Decode(args[0]));
  } else if (mode == "fill") {
    long n = args.empty() ? 0 : std::atol(args[0].c_str());
    std::string block;
    for (int i = 0; i < 4096; ++i) block += "y\n";
    for (long done = 0; done < n; done += static_cast<long>(block.size()))
      platform::ConsoleWriteRaw(block.substr(0, static_cast<size_t>(std::min<long>(n - done, block.size()))));
  } else if (mode == "exit") {
    return args.empty() ? 0 : std::atoi(args[0].c_str());
  } else if (mode == "true") {
    return 0;
  } else if (mode == "false") {
    return 1;
  } else if (mode == "count") {
    long n = 2000;
    for (const std::string& a : args)
      if (!a.empty() && a[0] >= '0' && a[0] <= '9') n = std::atol(a.c_str());
    for (long i = 0; i < n; ++i) platform::ConsoleWriteRaw("line" + std::to_string(i) + "\n");
  } else if (mode == "countgate") {
    for (int i = 0; i < 1000; ++i) platform::ConsoleWriteRaw("line" + std::to_string(i) + "\n");
    const std::string file = args.size() > 1 ? args[1] : std::string();
    while (!platform::PathExists(file)) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  } else if (mode == "gate" || mode == "late") {
    const std::string file = args.size() > 1 ? args[1] : std::string();
    platform::ConsoleWriteRaw(mode == "gate" ? "first\n" : "start\n");
    if (mode == "gate") {
      while (!platform::PathExists(file)) std::this_thread::sleep_for(std::chrono::milliseconds(10));
      platform::ConsoleWriteRaw("second\r\nthird");
    } else {
      std::this_thread::sleep_for(std::chrono::seconds(1));
      platform::ConsoleWriteRaw("late\n");
      platform::CreateEmptyFile(file);
    }
  } else if (mode == "sleep") {
    std::this_thread::sleep_for(std::chrono::milliseconds(args.empty() ? 0 : std::atol(args[0].c_str())));
  } else if (mode == "cwd") {
    platform::ConsoleWriteRaw(platform::CurrentDirectory() + "\n");
  } else if (mode == "log") {
    std::string text = "cli\n";
    for (const std::string& a : args) text += a + "\n";
    text += "--\n";
    std::FILE* log = std::fopen("log.txt", "ab");
    if (log == nullptr) return 1;
    std::fwrite(text.data(), 1, text.size(), log);
    std::fclose(log);
    if (args.size() > 1 && args[1].find("fail") != std::string::npos) return 1;
  } else if (mode == "opener") {
    std::string text;
    for (const std::string& a : args) text += (text.empty() ? "" : "\n") + a;
    if (!platform::WriteFileAtomic(platform::ProgramFolder() + "opened", text)) return 1;
  } else if (mode == "hold") {
    std::FILE* held = args.empty() ? nullptr : std::fopen(args[0].c_str(), "rb");
    if (held == nullptr) return 1;
    platform::ConsoleWriteRaw("held\n");
    std::this_thread::sleep_for(std::chrono::minutes(5));
    std::fclose(held);
  } else if (mode == "cwdfile") {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    if (!platform::WriteFileAtomic("opened", platform::CurrentDirectory())) return 1;
  } else if (mode == "busy") {
    return Busy();
  } else if (mode == "slow") {
    std::this_thread::sleep_for(std::chrono::milliseconds(1300));
    std::vector<std::string> argv = {platform::GetEnvironment("AKQP_STANDIN_PROGRAM").value_or("")};
    argv.insert(argv.end(), args.begin(), args.end());
    platform::ProcessOptions options;
    options.capture_output = false;
    platform::ProcessResult r = platform::RunProcess(argv, options);
    return r.started && r.exit_code >= 0 ? r.exit_code : 1;
  } else if (mode == "crash") {
    return EndAbruptly(true);
  } else if (mode == "compiler") {
    const std::string input = args.size() > 1 ? args[1] : std::string();
    std::FILE* log = std::fopen("log.txt", "ab");
    if (log == nullptr) return 1;
    std::fprintf(log, "cli %s\n", input.c_str());
    std::fclose(log);
    if (input.find("kill") != std::string::npos) return EndAbruptly(true);
    if (input.find("int") != std::string::npos) return EndAbruptly(false);
    if (input.find("sleep") != std::string::npos) return Busy();
  } else {
    std::fprintf(stderr, "akqp-standin: unknown mode '%s'\n", mode.c_str());
    return 2;
  }
  return 0;
}
