// Test helper: runs the start-up steps of the settings, as akqp-cli does, so that tests
// can start many of them at once against one settings folder.
#include "common/settings/settings.h"

int main() {
  settings::PrepareAtStartup();
  settings::EnsureProductFolderAndConfig();
  return settings::Lookup("compiler::warnings") == 0 ? 10 : 0;
}
