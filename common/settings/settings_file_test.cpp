#include "common/settings/settings_file.h"

#include <gtest/gtest.h>

#include "common/platform/fs.h"
#include "common/platform/test_pipes.h"

namespace settings {
namespace {

// How the system names a missing file (the platform layer's own words on Windows).
#ifdef _WIN32
const char kMissingReason[] = "the file does not exist";
#else
const char kMissingReason[] = "No such file or directory";
#endif

SettingsFile Parsed(std::string_view text) {
  SettingsFile file;
  file.Parse(text);
  return file;
}

class TempFolder {
 public:
  TempFolder() : path_(platform::MakeTempFolder("akqp-settings-file")) {}
  ~TempFolder() { platform::RemoveTree(path_); }
  std::string Path(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

TEST(SettingsFileReadTest, SplitsLinesAtEveryLineEndAndDropsBlankLines) {
  SettingsFile file = Parsed("[g]\ra = 1\nb = 2\r\n\r\n   \t\r\n\n\tc = 3");
  ASSERT_EQ(file.lines().size(), 4u);
  EXPECT_EQ(file.ReadInt("g", "a", -1), 1);
  EXPECT_EQ(file.ReadInt("g", "b", -1), 2);
  EXPECT_EQ(file.ReadInt("g", "c", -1), 3);
}

TEST(SettingsFileReadTest, ParsesGroupsCommentsAndEntries) {
  SettingsFile file = Parsed(
      "  [ spaced ] tail\r\n"
      "[open\r\n"
      ";comment\r\n"
      "; one blank dropped\r\n"
      ";  two blanks\r\n"
      "key \t=\t value with blanks \t\r\n"
      "no equals sign  \r\n"
      "= empty key\r\n"
      "a = b = c\r\n");
  const auto& lines = file.lines();
  ASSERT_EQ(lines.size(), 9u);
  EXPECT_EQ(lines[0].kind, LineKind::kGroup);
  EXPECT_EQ(lines[0].name, " spaced ");
  EXPECT_EQ(lines[0].raw, "  [ spaced ] tail");
  EXPECT_EQ(lines[1].kind, LineKind::kGroup);
  EXPECT_EQ(lines[1].name, "open");
  EXPECT_EQ(lines[2].kind, LineKind::kComment);
  EXPECT_EQ(lines[2].name, "comment");
  EXPECT_EQ(lines[3].name, "one blank dropped");
  EXPECT_EQ(lines[4].name, " two blanks");
  EXPECT_EQ(lines[5].kind, LineKind::kEntry);
  EXPECT_EQ(lines[5].name, "key");
  EXPECT_EQ(lines[5].value, "value with blanks");
  EXPECT_EQ(lines[5].value_text, "value with blanks \t");
  EXPECT_EQ(lines[5].raw, "key \t=\t value with blanks \t");
  EXPECT_EQ(lines[6].name, "no equals sign");
  EXPECT_EQ(lines[6].value, "");
  EXPECT_EQ(lines[7].name, "");
  EXPECT_EQ(lines[7].value, "empty key");
  EXPECT_EQ(lines[8].name, "a");
  EXPECT_EQ(lines[8].value, "b = c");
}

TEST(SettingsFileReadTest, FindsGroupsAndKeysWithoutRegardToCase) {
  SettingsFile file = Parsed(
      "orphan = 9\r\n"
      "[Settings]\r\n"
      "COMPILER::WARNINGS = 0\r\n"
      "dup = first\r\n"
      "dup = second\r\n"
      "[other]\r\n"
      "x = 1\r\n"
      "[SETTINGS]\r\n"
      "late = 5\r\n");
  EXPECT_TRUE(file.HasGroup("settings"));
  EXPECT_EQ(file.ReadInt("settings", "compiler::warnings", 1), 0);
  EXPECT_EQ(file.ReadText("settings", "dup", ""), "first");
  // Only the first group of a name counts, and its entries end at the next header.
  EXPECT_EQ(file.ReadInt("settings", "x", -1), -1);
  EXPECT_EQ(file.ReadInt("settings", "late", -1), -1);
  // Entries before the first header belong to no group.
  EXPECT_EQ(file.ReadInt("", "orphan", -1), -1);
  EXPECT_FALSE(file.HasGroup("missing"));
  EXPECT_EQ(file.ReadText("missing", "x", "fallback"), "fallback");
  EXPECT_EQ(file.Entries("settings").size(), 3u);
  EXPECT_EQ(file.Entries(" settings").size(), 0u);
}

TEST(SettingsFileReadTest, ReadsIntegersFromTheStartOfTheValue) {
  EXPECT_EQ(ParseLeadingInt("42"), 42);
  EXPECT_EQ(ParseLeadingInt("-12abc"), -12);
  EXPECT_EQ(ParseLeadingInt("+7"), 7);
  EXPECT_EQ(ParseLeadingInt("off"), 0);
  EXPECT_EQ(ParseLeadingInt(""), 0);
  EXPECT_EQ(ParseLeadingInt("-"), 0);
  EXPECT_EQ(ParseLeadingInt("2147483647"), 2147483647);
  EXPECT_EQ(ParseLeadingInt("-2147483648"), INT32_MIN);
  EXPECT_EQ(ParseLeadingInt("2147483648"), INT32_MAX);
  EXPECT_EQ(ParseLeadingInt("-99999999999999999999999999"), INT32_MIN);
  EXPECT_EQ(ParseLeadingInt(std::string(100000, '9')), INT32_MAX);

  SettingsFile file = Parsed("[g]\r\nflag = off\r\nempty =\r\n");
  EXPECT_EQ(file.ReadInt("g", "flag", 1), 0);
  EXPECT_EQ(file.ReadInt("g", "empty", 1), 0);
  EXPECT_EQ(file.ReadInt("g", "absent", 7), 7);
}

TEST(SettingsFileWriteTest, RewritesEveryLineInItsWrittenForm) {
  // A value keeps its text as parsed, trailing blanks included: they go only when the
  // value is read.
  SettingsFile file = Parsed(
      "\xEF\xBB\xBF"
      "\r\n"
      "  [g] dropped\r\n"
      ";comment\r\n"
      "\r\n"
      "\tkey=value  \r\n"
      "bare\r\n"
      "y = two words \r\n");
  EXPECT_TRUE(file.has_bom());
  EXPECT_EQ(file.ReadText("g", "y", ""), "two words");
  EXPECT_EQ(file.Serialize(),
            "\xEF\xBB\xBF"
            "[g]\r\n; comment\r\nkey = value  \r\nbare = \r\ny = two words \r\n");
  EXPECT_FALSE(file.changed());
}

TEST(SettingsFileWriteTest, UnknownEntriesKeepTrailingBlanksWhenOthersAreWritten) {
  SettingsFile file = Parsed("[keep]\r\ny = two words \r\n[settings]\r\nk = 1\t\r\n");
  file.WriteInt("settings", "k", 2);
  file.WriteText("settings", "font", "Courier New ");
  EXPECT_EQ(file.Serialize(),
            "[keep]\r\ny = two words \r\n[settings]\r\nk = 2\r\nfont = Courier New \r\n");
}

TEST(SettingsFileWriteTest, WritesInsertAtTheGroupsEndAndReplaceInPlace) {
  SettingsFile file = Parsed("[a]\r\nx = 1\r\n; note\r\n[b]\r\ny = 2\r\n");
  file.WriteText("A", "new", "v");
  file.WriteText("a", "X", "9");
  file.WriteText("c", "z", "3");
  file.WriteText("a", "new", "w");
  EXPECT_TRUE(file.changed());
  EXPECT_EQ(file.Serialize(),
            "[a]\r\nX = 9\r\n; note\r\nnew = w\r\n[b]\r\ny = 2\r\n[c]\r\nz = 3\r\n");
  EXPECT_EQ(file.line_count(), 8u);
}

TEST(SettingsFileWriteTest, RewrittenTextReadsBackTheSame) {
  // Blanks before the mark's bytes: an entry, not a mark, and it must stay one.
  SettingsFile file = Parsed("\t\xEF\xBB\xBFkey = 1\r\n[g]\r\n");
  EXPECT_FALSE(file.has_bom());
  SettingsFile again = Parsed(file.Serialize());
  EXPECT_FALSE(again.has_bom());
  EXPECT_EQ(again.Serialize(), file.Serialize());
  EXPECT_EQ(again.lines().size(), 2u);
}

TEST(SettingsFileWriteTest, KeepsWrittenTextOnOneLine) {
  SettingsFile file = Parsed("");
  file.WriteText("g", "k", "one\r\ntwo");
  SettingsFile again = Parsed(file.Serialize());
  EXPECT_EQ(again.lines().size(), 2u);
  EXPECT_EQ(again.ReadText("g", "k", ""), "one  two");
}

TEST(SettingsFileDiskTest, RewritesOnlyAfterAChange) {
  TempFolder folder;
  std::string path = folder.Path("s.cfg");
  const std::string original = "[g]\n\nk=1\n";
  ASSERT_TRUE(platform::WriteFileAtomic(path, original));

  SettingsFile file;
  ASSERT_TRUE(file.Open(path));
  EXPECT_EQ(file.ReadInt("g", "k", 0), 1);
  EXPECT_TRUE(file.Close());
  EXPECT_EQ(platform::ReadFile(path).value(), original);

  ASSERT_TRUE(file.Open(path));
  file.WriteInt("g", "k", 2);
  EXPECT_TRUE(file.Close());
  EXPECT_EQ(platform::ReadFile(path).value(), "[g]\r\nk = 2\r\n");
}

TEST(SettingsFileDiskTest, RefusesWhatCannotBeRead) {
  TempFolder folder;
  SettingsFile file;
  std::string error;
  EXPECT_FALSE(file.Open(folder.Path("missing.cfg"), &error));
  EXPECT_EQ(error, kMissingReason);
  // A device (on Windows a pipe) that never ends is cut off at the cap.
  platform::EndlessSource endless;
  EXPECT_FALSE(file.Open(endless.path(), &error));
  EXPECT_EQ(error, "larger than 67108864 bytes");
  ASSERT_TRUE(platform::MakeDirectory(folder.Path("dir.cfg")));
  EXPECT_FALSE(file.Open(folder.Path("dir.cfg")));
  // A failed open leaves nothing to write.
  file.WriteInt("g", "k", 1);
  EXPECT_TRUE(file.Close());
  EXPECT_TRUE(platform::IsDirectory(folder.Path("dir.cfg")));
  EXPECT_FALSE(platform::PathExists(folder.Path("missing.cfg")));
}

TEST(SettingsFileDiskTest, KeepsNulBytesAndHugeLinesAsData) {
  TempFolder folder;
  std::string path = folder.Path("odd.cfg");
  std::string huge(5 << 20, 'x');
  std::string text = std::string("[g]\r\nnul = a\0b\r\n", 16) + "long = " + huge + "\r\n";
  ASSERT_TRUE(platform::WriteFileAtomic(path, text));
  SettingsFile file;
  ASSERT_TRUE(file.Open(path));
  EXPECT_EQ(file.ReadText("g", "nul", ""), std::string("a\0b", 3));
  EXPECT_EQ(file.ReadText("g", "long", "").size(), huge.size());
  file.WriteInt("g", "n", 1);
  ASSERT_TRUE(file.Close());
  EXPECT_EQ(platform::ReadFile(path).value(), text + "n = 1\r\n");
}

}  // namespace
}  // namespace settings
