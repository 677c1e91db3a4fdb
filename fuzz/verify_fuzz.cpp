// Arbitrary script text through the verification stage: the section search, the
// removal of sections, and the XML checks (also on the raw bytes as XML, so that the
// parser and the tree see inputs that no section would hand them).
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "cli/verify/verify_extract.h"
#include "cli/verify/verify_stage.h"
#include "cli/verify/verify_xml.h"
#include "common/platform/console.h"
#include "common/settings/settings.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool ready = [] {
    platform::ConsoleSetSink([](std::string_view) {});
    settings::SetForTest("compiler::warnings", 1);
    settings::SetForTest("compiler::information", 1);
    settings::SetForTest("verify::remind", 1);
    return true;
  }();
  (void)ready;

  std::string text(reinterpret_cast<const char*>(data), size);
  VerificationRecords records;
  RunVerificationStage(text, &records);

  // Removal only ever cuts text out.
  std::string removed = RemoveVerificationSections(text);
  if (removed.size() > text.size()) __builtin_trap();
  RunVerificationStage(removed, &records);

  records.clear();
  verify::CheckVerificationXml(text, &records);
  return 0;
}
