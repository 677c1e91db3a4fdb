#include "cli/verify/verify_extract.h"

#include <vector>

#include "cli/verify/section_pattern.h"
#include "common/platform/console.h"
#include "common/settings/settings.h"

namespace verify {
namespace {

constexpr std::string_view kIgnoredLine =
    "[Info]: Verification sections are being ignored! Check settings -> compiler to disable "
    "this feature.";
constexpr std::string_view kReminderLine =
    "[Reminder]: There was no verification section found in the code!";
constexpr std::string_view kTooManyLine =
    "[ERROR]: Too many verify directives found, only one allowed and end of file!";
constexpr std::string_view kTrailingLine =
    "[ERROR]: When a verify section is added, nothing may follow!";

bool IsSet(std::string_view key) { return settings::Lookup(key) != 0; }

// The opener and closer of a level-one long comment.
constexpr size_t kOpenerLength = 5;  // "--[=["
constexpr size_t kCloserLength = 3;  // "]=]"

// Trimming without a copy: scripts and sections can be large.
std::string_view TrimView(std::string_view text, std::string_view set) {
  size_t first = text.find_first_not_of(set);
  if (first == std::string_view::npos) return {};
  size_t last = text.find_last_not_of(set);
  return text.substr(first, last - first + 1);
}

}  // namespace

std::string TrimChars(std::string_view text, std::string_view set) {
  return std::string(TrimView(text, set));
}

Extraction ExtractVerificationSection(std::string_view script) {
  Extraction result;
  SectionPattern pattern;

  if (IsSet("verify::ignore")) {
    if (IsSet("compiler::information")) platform::ConsolePrint(kIgnoredLine);
    return result;
  }
  // Without a pattern there is nothing to look for; the compile goes on unverified.
  if (!pattern.ok()) return result;

  // Every match, each search starting where the last match ended.
  std::vector<std::string_view> matches;
  size_t offset = 0;
  for (;;) {
    SectionSearch search = pattern.Search(script, offset);
    if (search.outcome == SectionSearch::Outcome::kNotFound) break;
    if (search.outcome == SectionSearch::Outcome::kError) {
      // Reporting "no section" here would let a script through unverified, so a search
      // that cannot be completed stops the compile.
      platform::ConsolePrint("[ERROR]: The script could not be searched for a verify section: " +
                             search.error + ".");
      result.outcome = ExtractOutcome::kFailed;
      return result;
    }
    if (search.end <= search.start) break;  // an empty match ends the search
    matches.push_back(script.substr(search.start, search.end - search.start));
    if (matches.size() > 1) break;  // one more is already one too many
    offset = search.end;
  }

  if (matches.empty()) {
    if (IsSet("verify::remind")) platform::ConsolePrint(kReminderLine);
    return result;
  }
  if (matches.size() > 1) {
    platform::ConsolePrint(kTooManyLine);
    result.outcome = ExtractOutcome::kFailed;
    return result;
  }

  // Only spaces, CRs and LFs may follow the section: the trimmed script must end with it.
  std::string_view section = TrimView(matches.front(), kTrimSet);
  std::string_view trimmed_script = TrimView(script, kTrimSet);
  if (!trimmed_script.ends_with(section)) {
    platform::ConsolePrint(kTrailingLine);
    result.outcome = ExtractOutcome::kFailed;
    return result;
  }

  std::string_view inner = section;
  inner.remove_suffix(kCloserLength);
  inner.remove_prefix(kOpenerLength);
  result.outcome = ExtractOutcome::kSection;
  result.xml = TrimChars(inner, kTrimSet);
  return result;
}

bool HasVerificationSection(std::string_view text) {
  SectionPattern pattern;
  if (!pattern.ok()) return false;
  return pattern.Search(text, 0).outcome != SectionSearch::Outcome::kNotFound;
}

std::string RemoveVerificationSections(std::string_view text) {
  SectionPattern pattern;
  if (!pattern.ok()) return std::string(text);
  std::string out;
  out.reserve(text.size());
  size_t offset = 0;
  for (;;) {
    SectionSearch search = pattern.Search(text, offset);
    // A search that cannot be completed leaves the rest as it is; stage 1 runs the same
    // search over the text and reports the failure there.
    if (search.outcome != SectionSearch::Outcome::kFound || search.end <= search.start) break;
    out.append(text.substr(offset, search.start - offset));
    offset = search.end;
  }
  out.append(text.substr(offset));
  return out;
}

}  // namespace verify
