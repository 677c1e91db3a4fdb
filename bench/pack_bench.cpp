// Measures the packer on what it packs in practice: stripped Lua 5.3 chunks in the
// host's layout (every Lua file of the installed Penlight library, the compiler's core
// chunk) and the default syntax text. Prints zlib's raw deflate at level 9 on the same
// items, then for pack levels 0, 5 and 9 the total packed size, its ratio to zlib's, and
// the packing and unpacking speeds with their ratios to zlib's, all from the one run.
//
// Usage: pack_bench [repeat count [level...]]   (run from the source folder, or set
// AKQP_SOURCE_DIR). Each speed is that of the fastest repeat, in processor time, so that
// other work on the machine skews it less.

#include <zlib.h>

#include <algorithm>
#include <ctime>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

extern "C" {
#include <lauxlib.h>
#include <lua.h>
#include <lualib.h>
}

#include "cli/script/lua_helpers.h"
#include "common/platform/console.h"
#include "common/platform/fs.h"
#include "common/platform/process.h"
#include "common/qpfile/chunk_layout.h"
#include "common/qpfile/jcalg.h"

namespace {

// The editor's syntax file that the compiler writes at every start: 442 bytes.
const char kDefaultSyntax[] =
    "[syntax]\r\n"
    "; Do not remove this one!!\r\n"
    "text::normal = 16777215\r\n"
    "text::background = 0\r\n"
    "text::current-line = 1973790\r\n"
    "fold::margin = 5921370\r\n"
    "fold::margin-highlight = 5921370\r\n"
    "brace-match::correct = 16711680\r\n"
    "brace-match::incorrect = 255\r\n"
    "lua::comments = 32768\r\n"
    "lua::strings = 8388736\r\n"
    "lua::long-strings = 8405120\r\n"
    "lua::broken-string = 255\r\n"
    "lua::numbers = 255\r\n"
    "lua::operators = 255\r\n"
    "lua::keywords::1 = 16737380\r\n"
    "lua::keywords::2 = 12615680\r\n"
    "\r\n"
    "\r\n";

using Item = std::string;

// A stripped chunk of `source`, in the host's layout as QP files store it.
std::optional<std::string> StoredChunk(lua_State* L, const std::string& source,
                                       const std::string& name) {
  std::optional<std::string> native = CompileToChunk(L, source, name, true, true);
  if (!native) return std::nullopt;
  return ChunkToHostLayout(*native);
}

std::vector<Item> BuildCorpus(const std::string& source_dir) {
  std::vector<Item> items;
  lua_State* L = luaL_newstate();
  platform::ProcessOptions options;
  options.output_limit = 1 << 24;
  platform::ProcessResult listing = platform::RunProcess({"dpkg", "-L", "lua-penlight"}, options);
  std::istringstream lines(listing.output);
  std::string path;
  while (std::getline(lines, path)) {
    if (path.size() < 4 || path.compare(path.size() - 4, 4, ".lua") != 0) continue;
    if (!platform::IsFile(path)) continue;
    std::optional<std::string> text = platform::ReadFile(path);
    if (!text) continue;
    if (auto chunk = StoredChunk(L, *text, "Main::[" + platform::FileName(path) + "]"))
      items.push_back(*chunk);
  }
  if (auto core = platform::ReadFile(source_dir + "/cli/script/core/core.lua")) {
    if (auto chunk = StoredChunk(L, *core, "KSTRL::[QP::Core]")) items.push_back(*chunk);
  }
  lua_close(L);
  items.push_back(kDefaultSyntax);
  return items;
}

// Raw deflate at level 9 into `out` (resized to fit); gives the packed size.
size_t Deflate(const std::string& in, std::vector<uint8_t>* out) {
  z_stream z{};
  if (deflateInit2(&z, 9, Z_DEFLATED, -15, 9, Z_DEFAULT_STRATEGY) != Z_OK) return 0;
  out->resize(deflateBound(&z, in.size()) + 16);
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(in.data()));
  z.avail_in = static_cast<uInt>(in.size());
  z.next_out = out->data();
  z.avail_out = static_cast<uInt>(out->size());
  deflate(&z, Z_FINISH);
  size_t size = z.total_out;
  deflateEnd(&z);
  out->resize(size);
  return size;
}

// Raw inflate of `in` into `out` (room for the unpacked size); gives the bytes written.
size_t Inflate(const std::vector<uint8_t>& in, std::vector<uint8_t>* out) {
  z_stream z{};
  if (inflateInit2(&z, -15) != Z_OK) return 0;
  z.next_in = const_cast<Bytef*>(in.data());
  z.avail_in = static_cast<uInt>(in.size());
  z.next_out = out->data();
  z.avail_out = static_cast<uInt>(out->size());
  inflate(&z, Z_FINISH);
  size_t size = z.total_out;
  inflateEnd(&z);
  return size;
}

// Processor time of this process: time spent waiting for the processor while other
// programs run does not count.
struct Clock {
  using time_point = std::clock_t;
  static time_point now() { return std::clock(); }
};

double Seconds(Clock::time_point start) {
  return static_cast<double>(std::clock() - start) / CLOCKS_PER_SEC;
}

std::string Format(const char* format, double a, double b = 0, double c = 0, double d = 0) {
  char line[256];
  std::snprintf(line, sizeof line, format, a, b, c, d);
  return line;
}

}  // namespace

int main(int argc, char** argv) {
  int repeats = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
  const char* env = std::getenv("AKQP_SOURCE_DIR");
  std::string source_dir = env != nullptr && *env != '\0' ? env : ".";
  std::vector<Item> corpus = BuildCorpus(source_dir);

  size_t total = 0, largest = 0;
  for (const Item& item : corpus) {
    total += item.size();
    largest = std::max(largest, item.size());
  }
  std::vector<uint8_t> out(largest + 8);
  const double mb = static_cast<double>(total) / 1e6;

  // zlib level 9 raw deflate on the same items, timed as the packer is below, so that
  // the ratios of sizes and speeds hold on a busy machine.
  std::vector<std::vector<uint8_t>> deflated_items(corpus.size());
  size_t deflated = 0;
  double deflate_seconds = 1e30, inflate_seconds = 1e30;
  for (int r = 0; r < repeats; ++r) {
    Clock::time_point start = Clock::now();
    deflated = 0;
    for (size_t i = 0; i < corpus.size(); ++i) deflated += Deflate(corpus[i], &deflated_items[i]);
    deflate_seconds = std::min(deflate_seconds, Seconds(start));
  }
  bool zlib_ok = true;
  for (int r = 0; r < repeats * 10; ++r) {
    Clock::time_point start = Clock::now();
    for (size_t i = 0; i < corpus.size(); ++i)
      zlib_ok = Inflate(deflated_items[i], &out) == corpus[i].size() && zlib_ok;
    inflate_seconds = std::min(inflate_seconds, Seconds(start));
  }
  platform::ConsoleWriteLine(Format("corpus: %.0f items, %.0f bytes", static_cast<double>(corpus.size()),
                                    static_cast<double>(total)));
  platform::ConsoleWriteLine(
      Format("zlib -9 raw deflate: %.0f bytes, pack %.2f MB/s, unpack %.1f MB/s",
             static_cast<double>(deflated), mb / deflate_seconds, mb / inflate_seconds) +
      (zlib_ok ? "" : "  ROUND TRIP FAILED"));

  std::vector<int> levels = {0, 5, 9};
  if (argc > 2) {
    levels.clear();
    for (int i = 2; i < argc; ++i) levels.push_back(std::atoi(argv[i]));
  }
  for (int level : levels) {
    uint32_t window = jcalg::WindowForLevel(level);
    std::vector<std::vector<uint8_t>> packed(corpus.size());
    // The fastest of the repeats: the others were slowed by other work on the machine.
    double pack_seconds = 1e30;
    for (int r = 0; r < repeats; ++r) {
      Clock::time_point start = Clock::now();
      for (size_t i = 0; i < corpus.size(); ++i) {
        const auto* data = reinterpret_cast<const uint8_t*>(corpus[i].data());
        packed[i] = jcalg::Encode(data, corpus[i].size(), window);
      }
      pack_seconds = std::min(pack_seconds, Seconds(start));
    }

    size_t packed_total = 0;
    bool all_ok = true;
    for (size_t i = 0; i < corpus.size(); ++i) {
      size_t n = jcalg::Decode(packed[i].data(), packed[i].size(), out.data(), corpus[i].size() + 8);
      all_ok = all_ok && n == corpus[i].size() &&
               std::equal(out.begin(), out.begin() + n, corpus[i].begin(), corpus[i].end(),
                          [](uint8_t a, char b) { return a == static_cast<uint8_t>(b); });
      packed_total += packed[i].size();
    }
    double unpack_seconds = 1e30;
    for (int r = 0; r < repeats * 10; ++r) {
      Clock::time_point start = Clock::now();
      for (size_t i = 0; i < corpus.size(); ++i)
        jcalg::Decode(packed[i].data(), packed[i].size(), out.data(), corpus[i].size() + 8);
      unpack_seconds = std::min(unpack_seconds, Seconds(start));
    }

    platform::ConsoleWriteLine(
        Format("level %.0f: packed %.0f bytes, ratio to zlib %.4f", level,
               static_cast<double>(packed_total),
               static_cast<double>(packed_total) / static_cast<double>(deflated)) +
        Format(", pack %.2f MB/s (%.3f of zlib), unpack %.1f MB/s (%.3f of zlib)",
               mb / pack_seconds, deflate_seconds / pack_seconds, mb / unpack_seconds,
               inflate_seconds / unpack_seconds) +
        (all_ok ? "" : "  ROUND TRIP FAILED"));
  }

  const auto* syntax = reinterpret_cast<const uint8_t*>(kDefaultSyntax);
  size_t syntax_size = sizeof kDefaultSyntax - 1;
  std::vector<uint8_t> packed = jcalg::Encode(syntax, syntax_size, jcalg::WindowForLevel(9));
  platform::ConsoleWriteLine(Format("default syntax text: %.0f bytes, packed %.0f bytes (level 9)",
                                    static_cast<double>(syntax_size),
                                    static_cast<double>(packed.size())));
  return 0;
}
