#include "cli/verify/section_pattern.h"

#include <gtest/gtest.h>

#include <string>

namespace verify {
namespace {

TEST(SectionPatternTest, FindsMatchesFromTheGivenOffset) {
  SectionPattern pattern;
  ASSERT_TRUE(pattern.ok());
  const std::string s = "ab --[=[<akqp:verify>x</akqp:verify>]=] --[=[ <akqp:verify></akqp:verify>\n]=]";
  SectionSearch first = pattern.Search(s, 0);
  ASSERT_EQ(first.outcome, SectionSearch::Outcome::kFound);
  EXPECT_EQ(s.substr(first.start, first.end - first.start),
            "--[=[<akqp:verify>x</akqp:verify>]=]");
  SectionSearch second = pattern.Search(s, first.end);
  ASSERT_EQ(second.outcome, SectionSearch::Outcome::kFound);
  EXPECT_EQ(second.end, s.size());
  EXPECT_EQ(pattern.Search(s, second.end).outcome, SectionSearch::Outcome::kNotFound);
  EXPECT_EQ(pattern.Search(s, s.size() + 1).outcome, SectionSearch::Outcome::kNotFound);
}

// Bodies beyond the fast matcher's memory bound are found all the same, in the same
// place, by the linear matcher.
TEST(SectionPatternTest, LongBodiesAreFoundAsShortOnesAre) {
  SectionPattern pattern;
  for (size_t body : {size_t{1000}, size_t{3} << 20}) {
    std::string s = "code\n--[=[\n<akqp:verify>" + std::string(body, 'a') +
                     "</akqp:verify>\n]=]\n--[=[<akqp:verify>";
    SectionSearch search = pattern.Search(s, 0);
    ASSERT_EQ(search.outcome, SectionSearch::Outcome::kFound) << body << ": " << search.error;
    EXPECT_EQ(search.start, 5u);
    EXPECT_EQ(search.end, s.size() - 19);
    EXPECT_EQ(pattern.Search(s, search.end).outcome, SectionSearch::Outcome::kNotFound);
  }
}

TEST(SectionPatternTest, LongBodiesThatNeverCloseAreNotFound) {
  SectionPattern pattern;
  std::string s = "--[=[<akqp:verify>" + std::string(size_t{3} << 20, 'b') + "--]] </akqp:verify>]=]";
  EXPECT_EQ(pattern.Search(s, 0).outcome, SectionSearch::Outcome::kNotFound);
}

}  // namespace
}  // namespace verify
