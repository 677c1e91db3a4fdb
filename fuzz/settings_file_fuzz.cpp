// Settings files and makefiles come from users: parsing, lookups, writes and the
// rewritten text must hold for any bytes, and the rewritten text must parse back to the
// same lines.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/settings/settings_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  settings::SettingsFile file;
  file.Parse(text);
  for (const char* group : {"settings", "make", "before", "verify", ""}) {
    // Every entry of a group is found by its key (the lookup's quick comparison and the
    // parser agree).
    std::vector<settings::Line> entries = file.Entries(group);
    if (entries.size() > 64) entries.resize(64);
    for (const settings::Line& entry : entries) {
      const settings::Line* first = &entry;
      for (const settings::Line& earlier : entries) {
        if (settings::EqualsIgnoreCase(earlier.name, entry.name)) {
          first = &earlier;
          break;
        }
      }
      std::optional<std::string> found = file.Find(group, entry.name);
      if (!found || *found != first->value) __builtin_trap();
    }
    file.ReadInt(group, "compiler::warnings", 1);
    file.ReadText(group, "verify", "");
  }
  file.WriteInt("settings", "compiler::warnings", 0);
  file.WriteText("Settings", "editor::font", "Courier New");
  std::string written = file.Serialize();

  settings::SettingsFile again;
  again.Parse(written);
  if (again.Serialize() != written) __builtin_trap();
  if (again.ReadInt("settings", "compiler::warnings", 1) != 0) __builtin_trap();
  return 0;
}
