#include "cli/verify/section_pattern.h"

#define PCRE2_CODE_UNIT_WIDTH 8
#include <pcre2.h>

#include <algorithm>
#include <cstdint>
#include <limits>
#include <vector>

namespace verify {
namespace {

// Case-sensitive, byte-wise, "." crosses line breaks; no UTF, no anchoring.
constexpr uint32_t kCompileOptions = PCRE2_DOTALL | PCRE2_NEWLINE_ANYCRLF;

// The lazy body repetition keeps one backtracking frame per body character. These bounds
// keep a search's memory small; a body too long for them is searched for again with the
// linear matcher (SearchLinear). With JIT a frame takes about 32 bytes, so 64 MiB covers
// a body of about two million characters; the interpreter needs about ten times that.
constexpr size_t kJitStackStart = 32 * 1024;
constexpr size_t kJitStackMax = 64u << 20;
constexpr uint32_t kHeapLimitKiB = 64 * 1024;

// The linear matcher makes one internal call per body character (the lookahead) and a
// few per candidate start, so its call budget grows with the text: it is a guard
// against a fault of the matcher, not a limit that real texts meet.
uint32_t LinearCallBudget(size_t length) {
  uint64_t budget = 10'000'000ull + 8ull * length;
  return static_cast<uint32_t>(std::min<uint64_t>(budget, std::numeric_limits<uint32_t>::max()));
}

bool IsResourceLimit(int rc) {
  return rc == PCRE2_ERROR_JIT_STACKLIMIT || rc == PCRE2_ERROR_MATCHLIMIT ||
         rc == PCRE2_ERROR_DEPTHLIMIT || rc == PCRE2_ERROR_HEAPLIMIT ||
         rc == PCRE2_ERROR_NOMEMORY;
}

std::string ErrorText(int rc) {
  PCRE2_UCHAR buffer[256];
  int n = pcre2_get_error_message(rc, buffer, sizeof buffer);
  if (n < 0) return "unknown matcher error " + std::to_string(rc);
  return std::string(reinterpret_cast<const char*>(buffer), static_cast<size_t>(n));
}

}  // namespace

SectionPattern::SectionPattern() {
  std::string pattern;
  pattern.append(kSectionOpeningPiece).append(kSectionBodyPiece).append(kSectionClosingPiece);
  int error_code = 0;
  PCRE2_SIZE error_offset = 0;
  code_ = pcre2_compile(reinterpret_cast<PCRE2_SPTR>(pattern.data()), pattern.size(),
                        kCompileOptions, &error_code, &error_offset, nullptr);
  if (code_ == nullptr) return;
  match_data_ = pcre2_match_data_create_from_pattern(code_, nullptr);
  context_ = pcre2_match_context_create(nullptr);
  if (match_data_ == nullptr || context_ == nullptr) {
    pcre2_code_free(code_);
    code_ = nullptr;
    return;
  }
  pcre2_set_heap_limit(context_, kHeapLimitKiB);
  // JIT where the machine has it; without it pcre2_match uses the interpreter.
  if (pcre2_jit_compile(code_, PCRE2_JIT_COMPLETE) == 0) {
    jit_stack_ = pcre2_jit_stack_create(kJitStackStart, kJitStackMax, nullptr);
    if (jit_stack_ != nullptr) pcre2_jit_stack_assign(context_, nullptr, jit_stack_);
  }
}

SectionPattern::~SectionPattern() {
  if (jit_stack_ != nullptr) pcre2_jit_stack_free(jit_stack_);
  if (context_ != nullptr) pcre2_match_context_free(context_);
  if (match_data_ != nullptr) pcre2_match_data_free(match_data_);
  if (code_ != nullptr) pcre2_code_free(code_);
}

SectionSearch SectionPattern::Search(std::string_view text, size_t offset) const {
  SectionSearch result;
  if (code_ == nullptr) {
    result.outcome = SectionSearch::Outcome::kError;
    result.error = "the section pattern could not be compiled";
    return result;
  }
  if (offset > text.size()) return result;
  int rc = pcre2_match(code_, reinterpret_cast<PCRE2_SPTR>(text.data()), text.size(), offset,
                       PCRE2_NO_UTF_CHECK, match_data_, context_);
  if (rc == PCRE2_ERROR_NOMATCH) return result;
  if (IsResourceLimit(rc)) return SearchLinear(text, offset);
  if (rc < 0) {
    result.outcome = SectionSearch::Outcome::kError;
    result.error = ErrorText(rc);
    return result;
  }
  const PCRE2_SIZE* ovector = pcre2_get_ovector_pointer(match_data_);
  result.outcome = SectionSearch::Outcome::kFound;
  result.start = ovector[0];
  result.end = ovector[1];
  return result;
}

// The same search with PCRE2's DFA matcher, which keeps no backtracking frames and so
// runs in small, fixed memory over a body of any length. It gives the same match: from
// a given start the pattern can match in one way only (the body cannot run past the
// first "</akqp:verify>", and whitespace never matches "<" or "]"), so the leftmost
// shortest match that the DFA matcher reports is the match the backtracking one finds.
SectionSearch SectionPattern::SearchLinear(std::string_view text, size_t offset) const {
  SectionSearch result;
  pcre2_match_context* context = pcre2_match_context_create(nullptr);
  pcre2_match_data* match_data = pcre2_match_data_create(1, nullptr);
  if (context == nullptr || match_data == nullptr) {
    if (context != nullptr) pcre2_match_context_free(context);
    if (match_data != nullptr) pcre2_match_data_free(match_data);
    result.outcome = SectionSearch::Outcome::kError;
    result.error = ErrorText(PCRE2_ERROR_NOMEMORY);
    return result;
  }
  pcre2_set_match_limit(context, LinearCallBudget(text.size() - offset));
  pcre2_set_heap_limit(context, kHeapLimitKiB);
  std::vector<int> workspace(4096);
  int rc = pcre2_dfa_match(code_, reinterpret_cast<PCRE2_SPTR>(text.data()), text.size(),
                           offset, PCRE2_NO_UTF_CHECK | PCRE2_DFA_SHORTEST, match_data,
                           context, workspace.data(), workspace.size());
  if (rc == PCRE2_ERROR_NOMATCH) {
    // not found
  } else if (rc < 0) {
    result.outcome = SectionSearch::Outcome::kError;
    result.error = ErrorText(rc);
  } else {
    const PCRE2_SIZE* ovector = pcre2_get_ovector_pointer(match_data);
    result.outcome = SectionSearch::Outcome::kFound;
    result.start = ovector[0];
    result.end = ovector[1];
  }
  pcre2_match_data_free(match_data);
  pcre2_match_context_free(context);
  return result;
}

}  // namespace verify
