#include "common/settings/settings.h"

#include <new>
#include <vector>

#include "common/platform/fs.h"
#include "common/settings/default_syntax.h"
#include "common/settings/settings_file.h"

namespace settings {
namespace {

constexpr std::string_view kProductFolderName = "Ardent Kestrel QP";
constexpr std::string_view kGroup = "settings";

struct KeyDefault {
  std::string_view key;
  bool is_text;
  int32_t integer;
  std::string_view text;
};

// Every known key in the order in which it is loaded; keys missing from a settings file
// are appended in this order too.
constexpr KeyDefault kKeys[] = {
    {"general::winpos", false, 1, ""},
    {"general::lastsource", false, 1, ""},
    {"general::showsplash", false, 1, ""},
    {"ams::xmlfiles", false, 1, ""},
    {"ams::lmdfiles", false, 1, ""},
    {"ams::helpfiles", false, 1, ""},
    {"editor::monitor", false, 1, ""},
    {"editor::autosave", false, 0, ""},
    {"editor::font-size", false, 9, ""},
    {"editor::font", true, 0, "Courier New"},
    {"editor::tabsize", false, 4, ""},
    {"editor::real-tab", false, 0, ""},
    {"syntax::current", true, 0, "default"},
    {"compiler::warnings", false, 1, ""},
    {"compiler::information", false, 1, ""},
    {"verify::ignore", false, 0, ""},
    {"verify::remind", false, 0, ""},
};

// A key uses one of the two fields: text keys the text, integer keys the integer.
struct Record {
  std::string key;
  std::string text;
  int32_t integer = 0;
};

// Written during start-up only, read afterwards without locks.
std::vector<Record> g_table;

Record& RecordFor(std::string_view key) {
  for (Record& record : g_table)
    if (record.key == key) return record;
  g_table.push_back(Record{std::string(key), {}, 0});
  return g_table.back();
}

void FillDefaults() {
  g_table.clear();
  for (const KeyDefault& k : kKeys) {
    Record& record = RecordFor(k.key);
    if (k.is_text)
      record.text = std::string(k.text);
    else
      record.integer = k.integer;
  }
}

// Makes every folder of product_folder + relative that is missing, one level at a time,
// then an empty file of that name when none exists. True when the file exists afterwards.
bool EnsureFile(const std::string& product_folder, std::string_view relative) {
  std::string full = product_folder + platform::NativePath(std::string(relative));
  for (size_t pos = 1; pos < full.size(); ++pos) {
    if (!platform::IsSeparator(full[pos])) continue;
    std::string prefix = full.substr(0, pos + 1);
    if (!platform::IsDirectory(prefix)) platform::MakeDirectory(prefix);  // failures pass
  }
  if (platform::IsDirectory(platform::FolderOf(full)) && !platform::IsFile(full))
    platform::CreateEmptyFile(full);
  return platform::IsFile(full);
}

// Fills the table from the opened file; the number of keys loaded.
int LoadSettings(const SettingsFile& file) {
  g_table.clear();
  for (const KeyDefault& k : kKeys) {
    Record& record = RecordFor(k.key);
    if (k.is_text)
      record.text = file.ReadText(kGroup, k.key, k.text);
    else
      record.integer = file.ReadInt(kGroup, k.key, k.integer);
  }
  return static_cast<int>(g_table.size());
}

// Writes every key of the table back, so that the file always lists them all. A text key
// whose text is empty is written as its integer field (0).
bool SaveSettings(SettingsFile& file) {
  for (const Record& record : g_table) {
    if (!record.text.empty())
      file.WriteText(kGroup, record.key, record.text);
    else
      file.WriteInt(kGroup, record.key, record.integer);
  }
  return file.Close();
}

}  // namespace

std::string ProductFolder() {
  return platform::ConfigBaseFolder() + std::string(kProductFolderName) + platform::kSeparator;
}

namespace {

void Prepare(const std::string& product_folder) {
  // The default syntax file is written whole and atomically (the editor may be reading
  // it); when it already holds exactly the built-in text it is left alone.
  if (EnsureFile(product_folder, kDefaultSyntaxFileName)) {
    std::string path = product_folder + platform::NativePath(std::string(kDefaultSyntaxFileName));
    const std::string& text = DefaultSyntaxText();
    // A built-in text that does not unpack (empty) is not written. Of the file on disk no
    // more is read than could equal it.
    std::optional<std::string> current = platform::ReadFile(path, text.size());
    if (!text.empty() && (!current || *current != text)) platform::WriteFileAtomic(path, text);
  }
  EnsureFile(product_folder, kCustomSyntaxFileName);
  EnsureFile(product_folder, kSettingsFileName);

  // The file is read once: the table is loaded from it and written back into it.
  SettingsFile file;
  if (file.Open(product_folder + std::string(kSettingsFileName)) && LoadSettings(file) > 0) {
    SaveSettings(file);
  } else {
    // An unreadable settings file is left untouched, and the compiler runs with the
    // defaults rather than with every key at 0 (which would silence every warning).
    FillDefaults();
  }
}

}  // namespace

void PrepareInFolder(const std::string& product_folder) {
  try {
    Prepare(product_folder);
  } catch (const std::bad_alloc&) {
    // Out of memory at start-up: the compiler runs with the defaults, if it can at all.
    try {
      FillDefaults();
    } catch (const std::bad_alloc&) {
      g_table.clear();
    }
  }
}

void PrepareAtStartup() { PrepareInFolder(ProductFolder()); }

void EnsureFolderAndConfigIn(const std::string& product_folder) {
  if (!platform::IsDirectory(product_folder) && !platform::MakeDirectory(product_folder)) return;
  std::string config = product_folder + std::string(kConfigFileName);
  if (!platform::PathExists(config)) platform::CreateEmptyFile(config);
}

void EnsureProductFolderAndConfig() { EnsureFolderAndConfigIn(ProductFolder()); }

int32_t Lookup(std::string_view key) {
  for (const Record& record : g_table)
    if (record.key == key) return record.integer;
  return 0;
}

void SetForTest(std::string_view key, int32_t value) { RecordFor(key).integer = value; }

void ClearForTest() { g_table.clear(); }

}  // namespace settings
