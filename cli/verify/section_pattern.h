// The one regular expression that finds verification sections in a script text, with
// bounded searching: a search never takes more than a bounded amount of memory, and a
// section too large for the fast matcher is searched for again with a linear one.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// PCRE2's own types, declared here so that users need not include its header.
struct pcre2_real_code_8;
struct pcre2_real_match_data_8;
struct pcre2_real_match_context_8;
struct pcre2_real_jit_stack_8;

namespace verify {

// The pattern put together from its three pieces: the opener, one body character, and
// the lazy repetition with the closer. Whitespace around the root tags is exactly space,
// tab, LF, FF and CR: PCRE2's "\s" would also take a vertical tab, which would make a
// section of text that is no section.
inline constexpr std::string_view kSectionOpeningPiece =
    "(--\\[=\\[([ \\t\\n\\f\\r]+)?<akqp:verify>";
inline constexpr std::string_view kSectionBodyPiece =
    "((?!(<akqp:verify>|</akqp:verify>|--\\[=\\[|--\\]\\])).)";
inline constexpr std::string_view kSectionClosingPiece =
    "*?\\</akqp:verify>([ \\t\\n\\f\\r]+)?\\]=\\])";

// Where one search ended.
struct SectionSearch {
  enum class Outcome { kFound, kNotFound, kError };
  Outcome outcome = Outcome::kNotFound;
  size_t start = 0;   // kFound: the match is [start, end)
  size_t end = 0;
  std::string error;  // kError: the matcher's own words for what went wrong
};

// A compiled section pattern. Not copyable; one per use.
class SectionPattern {
 public:
  SectionPattern();
  ~SectionPattern();
  SectionPattern(const SectionPattern&) = delete;
  SectionPattern& operator=(const SectionPattern&) = delete;

  // False when the pattern could not be compiled (then Search always gives kError).
  bool ok() const { return code_ != nullptr; }

  // Finds the first match in `text` that begins at or after `offset`. The text is
  // searched byte by byte over its whole length, NUL bytes included.
  SectionSearch Search(std::string_view text, size_t offset) const;

 private:
  SectionSearch SearchLinear(std::string_view text, size_t offset) const;

  pcre2_real_code_8* code_ = nullptr;
  pcre2_real_match_data_8* match_data_ = nullptr;
  pcre2_real_match_context_8* context_ = nullptr;
  pcre2_real_jit_stack_8* jit_stack_ = nullptr;  // null when JIT is not in use
};

}  // namespace verify
