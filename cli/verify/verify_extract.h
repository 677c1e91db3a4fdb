// Finding the one verification section of a script: a Lua long comment of level one
// ("--[=[" ... "]=]") that holds an XML document with the root <akqp:verify>.
#pragma once

#include <string>
#include <string_view>

namespace verify {

// Space, CR and LF: the characters trimmed around a section and its XML. Tab is not
// one of them.
inline constexpr std::string_view kTrimSet = "   \r\n";

enum class ExtractOutcome {
  kNoSection,  // nothing to verify (none found, or sections are ignored): go on
  kSection,    // `xml` holds the section's XML text
  kFailed,     // the messages were printed; the compile stops here
};

struct Extraction {
  ExtractOutcome outcome = ExtractOutcome::kNoSection;
  std::string xml;
};

// Looks for the section in the whole script text (every byte, NULs included, exactly
// as Lua will see it), honouring "verify::ignore", "verify::remind" and
// "compiler::information", and prints the stage's lines.
Extraction ExtractVerificationSection(std::string_view script);

// Whether `text` holds at least one complete section (a search that cannot be completed
// counts as one: stage 1 reports it).
bool HasVerificationSection(std::string_view text);

// `text` with every complete section cut out (the line breaks around them stay). Used
// when a separate verification file replaces the script's own sections.
std::string RemoveVerificationSections(std::string_view text);

// `text` without the leading and trailing characters that belong to `set`.
std::string TrimChars(std::string_view text, std::string_view set);

}  // namespace verify
