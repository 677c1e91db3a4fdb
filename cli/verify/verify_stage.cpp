#include "cli/verify/verify_stage.h"

#include "cli/verify/verify_extract.h"
#include "cli/verify/verify_xml.h"
#include "common/platform/console.h"
#include "common/settings/settings.h"

bool RunVerificationStage(const std::string& script, VerificationRecords* records) {
  records->clear();
  verify::Extraction extraction = verify::ExtractVerificationSection(script);
  switch (extraction.outcome) {
    case verify::ExtractOutcome::kNoSection:
      return true;
    case verify::ExtractOutcome::kFailed:
      return false;
    case verify::ExtractOutcome::kSection:
      break;
  }
  if (!verify::CheckVerificationXml(extraction.xml, records)) {
    records->clear();
    return false;
  }
  return true;
}

std::string RemoveVerificationSections(const std::string& text) {
  return verify::RemoveVerificationSections(text);
}

void WarnWhenVerifyFileGivesNoSection(const std::string& script, const std::string& verify_path) {
  if (settings::Lookup("compiler::warnings") == 0 || settings::Lookup("verify::ignore") != 0)
    return;
  if (verify::HasVerificationSection(script)) return;
  platform::ConsolePrint("[Warning]: Verify file '" + verify_path +
                         "' holds no <akqp:verify> section, so the QP file gets no "
                         "verification records.");
}
