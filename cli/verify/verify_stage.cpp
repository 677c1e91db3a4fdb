#include "cli/verify/verify_stage.h"

#include "cli/verify/verify_extract.h"
#include "cli/verify/verify_xml.h"

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
