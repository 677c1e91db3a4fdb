#include "cli/verify/verify_extract.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>

#include "cli/verify/verify_test_support.h"

namespace verify {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

constexpr const char* kTooMany =
    "[ERROR]: Too many verify directives found, only one allowed and end of file!";
constexpr const char* kTrailing = "[ERROR]: When a verify section is added, nothing may follow!";
constexpr const char* kReminder =
    "[Reminder]: There was no verification section found in the code!";
constexpr const char* kIgnored =
    "[Info]: Verification sections are being ignored! Check settings -> compiler to disable "
    "this feature.";

const std::string kCode = "return { info = { name = \"m\" } }\r\n";
const std::string kSection = "--[=[\r\n<akqp:verify>\r\n  <version/>\r\n</akqp:verify>\r\n]=]";

TEST(TrimCharsTest, RemovesSetMembersAtBothEndsOnly) {
  EXPECT_EQ(TrimChars("  \r\n a b \n\r ", kTrimSet), "a b");
  EXPECT_EQ(TrimChars("\ta\t", kTrimSet), "\ta\t");  // tab is not in the set
  EXPECT_EQ(TrimChars(" \r\n", kTrimSet), "");
  EXPECT_EQ(TrimChars("", kTrimSet), "");
  EXPECT_EQ(TrimChars("  x  ", " "), "x");
}

class ExtractTest : public VerifyTest {};

TEST_F(ExtractTest, SectionAtTheEndGivesItsTrimmedXml) {
  Extraction e = ExtractVerificationSection(kCode + kSection + "  \r\n\r\n  ");
  EXPECT_EQ(e.outcome, ExtractOutcome::kSection);
  EXPECT_EQ(e.xml, "<akqp:verify>\r\n  <version/>\r\n</akqp:verify>");
  EXPECT_THAT(lines_, IsEmpty());
}

TEST_F(ExtractTest, BlanksAroundTheRootTagsMayBeAnyWhitespaceOrNone) {
  Extraction none = ExtractVerificationSection(kCode + "--[=[<akqp:verify></akqp:verify>]=]");
  EXPECT_EQ(none.outcome, ExtractOutcome::kSection);
  EXPECT_EQ(none.xml, "<akqp:verify></akqp:verify>");

  // Tabs and form feeds match the pattern but are not trimmed from the XML text.
  Extraction mixed = ExtractVerificationSection(
      kCode + "--[=[\t\r\n\n\f <akqp:verify><a/></akqp:verify> \t\r\n\n]=]\n");
  EXPECT_EQ(mixed.outcome, ExtractOutcome::kSection);
  EXPECT_EQ(mixed.xml, "\t\r\n\n\f <akqp:verify><a/></akqp:verify> \t");
}

TEST_F(ExtractTest, AnythingButSpaceCrLfAfterTheSectionFails) {
  for (const char* tail : {"\t", "x", "\n-- comment", "\r\n\f"}) {
    lines_.clear();
    Extraction e = ExtractVerificationSection(kCode + kSection + tail);
    EXPECT_EQ(e.outcome, ExtractOutcome::kFailed) << tail;
    EXPECT_THAT(lines_, ElementsAre(kTrailing)) << tail;
  }
}

TEST_F(ExtractTest, TwoSectionsFailEvenWhenBothEndTheScript) {
  Extraction e = ExtractVerificationSection(kCode + kSection + "\r\n" + kSection + "\r\n");
  EXPECT_EQ(e.outcome, ExtractOutcome::kFailed);
  EXPECT_THAT(lines_, ElementsAre(kTooMany));

  lines_.clear();
  e = ExtractVerificationSection(kSection + "\n" + kCode + kSection);
  EXPECT_EQ(e.outcome, ExtractOutcome::kFailed);
  EXPECT_THAT(lines_, ElementsAre(kTooMany));
}

TEST_F(ExtractTest, BodiesHoldingForbiddenTextsDoNotMatch) {
  const char* sections[] = {
      "--[=[<akqp:verify> --]] </akqp:verify>]=]",                 // a Lua comment closer
      "--[=[<akqp:verify><akqp:verify></akqp:verify>]=]",          // a second root tag
      "--[=[<?xml version=\"1.0\"?><akqp:verify></akqp:verify>]=]",  // a declaration first
      "--[=[<!-- c --><akqp:verify></akqp:verify>]=]",             // a comment first
      "--[=[<AKQP:verify></AKQP:verify>]=]",                       // other letter case
      "--[==[<akqp:verify></akqp:verify>]==]",                     // another comment level
      "--[=[<akqp:verify></akqp:verify>",                          // no closer
      "--[=[\v<akqp:verify></akqp:verify>]=]",                    // a vertical tab before
      "--[=[<akqp:verify></akqp:verify>\v]=]",                    // or after the root
      "--[=[ \r\n\v\r\n<akqp:verify></akqp:verify>]=]",            // even among blanks
  };
  settings::SetForTest("verify::remind", 1);
  for (const char* section : sections) {
    lines_.clear();
    Extraction e = ExtractVerificationSection(kCode + section);
    EXPECT_EQ(e.outcome, ExtractOutcome::kNoSection) << section;
    EXPECT_THAT(lines_, ElementsAre(kReminder)) << section;
  }
}

TEST_F(ExtractTest, AnInnerOpenerCanStartTheOneSection) {
  // The outer opener cannot match past "--[=["; the inner one begins a complete section.
  Extraction e = ExtractVerificationSection(
      "--[=[<akqp:verify> --[=[<akqp:verify><b/></akqp:verify>]=]");
  EXPECT_EQ(e.outcome, ExtractOutcome::kSection);
  EXPECT_EQ(e.xml, "<akqp:verify><b/></akqp:verify>");
}

TEST_F(ExtractTest, ACloserInsideTheBodyIsStillOneSection) {
  // The pattern accepts it; Lua will fail on the rest of the section later.
  Extraction e = ExtractVerificationSection("--[=[<akqp:verify>]=]</akqp:verify>]=]");
  EXPECT_EQ(e.outcome, ExtractOutcome::kSection);
  EXPECT_EQ(e.xml, "<akqp:verify>]=]</akqp:verify>");
}

TEST_F(ExtractTest, NoSectionRemindsOnlyWhenAsked) {
  EXPECT_EQ(ExtractVerificationSection(kCode).outcome, ExtractOutcome::kNoSection);
  EXPECT_THAT(lines_, IsEmpty());
  settings::SetForTest("verify::remind", 1);
  EXPECT_EQ(ExtractVerificationSection(kCode).outcome, ExtractOutcome::kNoSection);
  EXPECT_THAT(lines_, ElementsAre(kReminder));
}

TEST_F(ExtractTest, IgnoredSectionsAreNotLookedFor) {
  settings::SetForTest("verify::ignore", 1);
  settings::SetForTest("verify::remind", 1);
  const std::string two = kCode + kSection + kSection + "tail";
  Extraction e = ExtractVerificationSection(two);
  EXPECT_EQ(e.outcome, ExtractOutcome::kNoSection);
  EXPECT_THAT(lines_, ElementsAre(kIgnored));

  lines_.clear();
  settings::SetForTest("compiler::information", 0);
  EXPECT_EQ(ExtractVerificationSection(two).outcome, ExtractOutcome::kNoSection);
  EXPECT_THAT(lines_, IsEmpty());
}

TEST_F(ExtractTest, TheWholeTextIsSearchedNulBytesIncluded) {
  std::string script = kCode + std::string("-- a\0b\n", 7) + kSection;
  Extraction e = ExtractVerificationSection(script);
  EXPECT_EQ(e.outcome, ExtractOutcome::kSection);
  EXPECT_EQ(e.xml, "<akqp:verify>\r\n  <version/>\r\n</akqp:verify>");
}

TEST_F(ExtractTest, ManyOpenersWithoutASectionAreNoSection) {
  std::string script;
  for (int i = 0; i < 100'000; ++i) script += i % 2 ? "--[=[\n" : "--[=[<akqp:verify>";
  EXPECT_EQ(ExtractVerificationSection(script).outcome, ExtractOutcome::kNoSection);
  EXPECT_THAT(lines_, IsEmpty());
}

TEST(HasSectionTest, TellsWhetherAnyCompleteSectionIsThere) {
  EXPECT_TRUE(HasVerificationSection(kCode + kSection));
  EXPECT_TRUE(HasVerificationSection(kSection + kSection));  // too many is still "there"
  EXPECT_TRUE(HasVerificationSection(kCode + kSection + "x"));
  EXPECT_FALSE(HasVerificationSection(kCode));
  EXPECT_FALSE(HasVerificationSection(kCode + "--[=[\r\n<version/>\r\n]=]"));
  EXPECT_FALSE(HasVerificationSection(
      kCode + "--[=[\r\n<?xml version=\"1.0\"?><akqp:verify></akqp:verify>\r\n]=]"));
}

TEST(RemoveSectionsTest, CutsEveryCompleteSectionAndKeepsTheRest) {
  const std::string text = "a\r\n" + kSection + "\r\nb\n" + kSection + "\n";
  EXPECT_EQ(RemoveVerificationSections(text), "a\r\n\r\nb\n\n");
  EXPECT_EQ(RemoveVerificationSections("x --[=[<akqp:verify> --]] </akqp:verify>]=]"),
            "x --[=[<akqp:verify> --]] </akqp:verify>]=]");
  EXPECT_EQ(RemoveVerificationSections(""), "");
}

}  // namespace
}  // namespace verify
