// Times the start-up step of the settings on a large settings.cfg: read, load the table,
// write every key back. Run one scenario per process under /usr/bin/time -v to see its
// peak memory:
//   settings_bench entries16mb | short16mb | long16mb
// "entries": lines like "key0000001 = value"; "short": lines of one letter (the most
// lines a file of that size can hold); "long": a few lines of a megabyte each.
#include <chrono>
#include <cstdio>
#include <string>

#include "common/platform/fs.h"
#include "common/settings/settings.h"

namespace {

std::string Build(const std::string& scenario) {
  const size_t size = 16u << 20;
  std::string s = "[settings]\r\n";
  if (scenario == "entries16mb") {
    char line[64];
    for (int i = 0; s.size() < size; ++i) {
      std::snprintf(line, sizeof line, "key%07d = value\r\n", i);
      s += line;
    }
  } else if (scenario == "short16mb") {
    while (s.size() < size) s += "a\r\n";
  } else if (scenario == "long16mb") {
    while (s.size() < size) s += "k = " + std::string(1u << 20, 'v') + "\r\n";
  } else {
    return std::string();
  }
  return s;
}

}  // namespace

int main(int argc, char** argv) {
  std::string scenario = argc > 1 ? argv[1] : "";
  std::string text = Build(scenario);
  if (text.empty()) {
    std::fprintf(stderr, "usage: settings_bench entries16mb | short16mb | long16mb\n");
    return 2;
  }
  std::string folder = platform::MakeTempFolder("akqp-settings-bench");
  std::string product = folder + "/Ardent Kestrel QP/";
  platform::MakeDirectory(product);
  platform::WriteFileAtomic(product + "settings.cfg", text);
  const long long before = static_cast<long long>(text.size());
  text.clear();
  text.shrink_to_fit();

  auto start = std::chrono::steady_clock::now();
  settings::PrepareInFolder(product);
  double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                  .count();
  std::printf("%s: %.1f ms, settings.cfg %lld -> %lld bytes\n", scenario.c_str(), ms, before,
              static_cast<long long>(platform::FileSize(product + "settings.cfg")));
  platform::RemoveTree(folder);
  return 0;
}
