// Times the verification stage on large and hostile scripts. Run one scenario per
// process under /usr/bin/time -v to see its peak memory:
//   verify_bench openers | script10mb | section50mb | deep50mb | wide50mb | all
#include <chrono>
#include <cstdio>
#include <string>
#include <string_view>

#include "cli/verify/verify_stage.h"
#include "common/platform/console.h"
#include "common/settings/settings.h"

namespace {

const std::string kCode = "local t = { value = 1, text = \"some text\" } -- a line of code\r\n";

std::string Section(const std::string& body) {
  return "--[=[\r\n<akqp:verify>\r\n" + body + "\r\n</akqp:verify>\r\n]=]\r\n";
}

std::string Build(const std::string& scenario) {
  std::string s;
  if (scenario == "openers") {
    for (int i = 0; i < 100'000; ++i) s += i % 2 ? "--[=[\r\n" : "--[=[<akqp:verify>";
  } else if (scenario == "script10mb") {
    while (s.size() < (10u << 20)) s += kCode;
    s += "return {}\r\n" +
         Section("<globals><global name='x' type='string' value='abc'/></globals>");
  } else if (scenario == "section50mb") {
    s = kCode + "return {}\r\n" +
        Section("<mainWindow><title>" + std::string(50u << 20, 't') + "</title></mainWindow>");
  } else if (scenario == "deep50mb") {
    std::string body;
    while (body.size() < (50u << 20)) body += "<d>";
    s = "return {}\r\n" + Section(body);
  } else if (scenario == "wide50mb") {
    std::string body;
    while (body.size() < (50u << 20)) body += "<a/>";
    s = "return {}\r\n" + Section(body);
  }
  return s;
}

}  // namespace

int main(int argc, char** argv) {
  std::string which = argc > 1 ? argv[1] : "all";
  settings::SetForTest("compiler::warnings", 1);
  settings::SetForTest("compiler::information", 1);
  size_t lines = 0;
  std::string last;
  platform::ConsoleSetSink([&](std::string_view line) {
    ++lines;
    last = line;
  });
  for (const char* scenario :
       {"openers", "script10mb", "section50mb", "deep50mb", "wide50mb"}) {
    if (which != "all" && which != scenario) continue;
    std::string script = Build(scenario);
    VerificationRecords records;
    lines = 0;
    last.clear();
    auto start = std::chrono::steady_clock::now();
    bool ok = RunVerificationStage(script, &records);
    double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                    .count();
    std::printf("%-12s %10zu bytes  %s  %zu records  %8.1f ms  last line: %s\n", scenario,
                script.size(), ok ? "ok    " : "failed", records.size(), ms, last.c_str());
  }
  platform::ConsoleSetSink(nullptr);
  return 0;
}
