#include "gui/path_rules.h"

#include <gtest/gtest.h>

#include <set>

#include "common/platform/fs.h"

namespace gui {
namespace {

TEST(LinkedOutputTest, ReplacesTheExtensionOfTheFileName) {
  EXPECT_EQ(LinkedOutput("/work/demo.lua"), "/work/demo.qp");
  EXPECT_EQ(LinkedOutput("C:\\work\\demo.lua"), "C:\\work\\demo.qp");
  EXPECT_EQ(LinkedOutput("/work/demo.test.lua"), "/work/demo.test.qp");
  EXPECT_EQ(LinkedOutput("/work/demo.qp"), "/work/demo.qp");
}

TEST(LinkedOutputTest, AddsTheExtensionToANameWithoutOne) {
  EXPECT_EQ(LinkedOutput("/work/demo"), "/work/demo.qp");
  EXPECT_EQ(LinkedOutput("C:\\work\\demo"), "C:\\work\\demo.qp");
  // A dot in a folder's name is not the file's extension.
  EXPECT_EQ(LinkedOutput("/work.d/demo"), "/work.d/demo.qp");
  EXPECT_EQ(LinkedOutput("C:\\a.b\\demo"), "C:\\a.b\\demo.qp");
}

TEST(LogWindowTitleTest, NamesBothFilesWithoutTheirFolders) {
  EXPECT_EQ(LogWindowTitle("C:\\a\\b.lua", "D:\\c\\b.qp"), "Compilation - b.lua -> b.qp");
  EXPECT_EQ(LogWindowTitle("/home/u/scripts/x.lua", "/tmp/out/y.qp"),
            "Compilation - x.lua -> y.qp");
  EXPECT_EQ(LogWindowTitle("bare.lua", "bare.qp"), "Compilation - bare.lua -> bare.qp");
}

TEST(FolderPartTest, KeepsTheRootOfAFileInTheRoot) {
  EXPECT_EQ(FolderPart("/work/demo.qp"), "/work");
  EXPECT_EQ(FolderPart("/demo.qp"), "/");
  EXPECT_EQ(FolderPart("C:\\work\\demo.qp"), "C:\\work");
  EXPECT_EQ(FolderPart("demo.qp"), "");
}

// A file system of a few known files and folders.
FileQueries FakeFiles() {
  static const std::set<std::string> files = {"/work/demo.lua", "/work/demo.qp"};
  static const std::set<std::string> folders = {"/", "/work", "/out"};
  return {[](const std::string& p) { return files.count(p) > 0; },
          [](const std::string& p) { return folders.count(p) > 0; }};
}

TEST(CompileAllowedTest, NeedsAnExistingInputAndAnExistingOutputFolder) {
  const FileQueries fs = FakeFiles();
  EXPECT_TRUE(CompileAllowed("/work/demo.lua", "/out/demo.qp", fs));
  EXPECT_TRUE(CompileAllowed("/work/demo.lua", "/work/demo.qp", fs));  // replacing is fine
  EXPECT_TRUE(CompileAllowed("/work/demo.lua", "/demo.qp", fs));
  EXPECT_FALSE(CompileAllowed("", "/out/demo.qp", fs));
  EXPECT_FALSE(CompileAllowed("/work/demo.lua", "", fs));
  EXPECT_FALSE(CompileAllowed("/work/missing.lua", "/out/demo.qp", fs));
  EXPECT_FALSE(CompileAllowed("/work", "/out/demo.qp", fs));  // a folder is no script
  EXPECT_FALSE(CompileAllowed("/work/demo.lua", "/nowhere/demo.qp", fs));
  EXPECT_FALSE(CompileAllowed("/work/demo.lua", "demo.qp", fs));  // no folder at all
}

TEST(CompileAllowedTest, RefusesToWriteTheOutputOverTheInput) {
  // Linking an input named "x.qp" gives the same path; compiling would destroy it.
  const FileQueries fs = FakeFiles();
  EXPECT_FALSE(CompileAllowed("/work/demo.qp", LinkedOutput("/work/demo.qp"), fs));
}

TEST(CompileAllowedTest, AsksTheRealFileSystem) {
  std::string folder = platform::MakeTempFolder("akqp-gui-test");
  ASSERT_FALSE(folder.empty());
  const std::string input = folder + "/demo.lua";
  ASSERT_TRUE(platform::WriteFileAtomic(input, "return {}\n"));
  EXPECT_TRUE(CompileAllowed(input, folder + "/demo.qp", RealFileQueries()));
  EXPECT_FALSE(CompileAllowed(input, folder + "/missing/demo.qp", RealFileQueries()));
  EXPECT_FALSE(CompileAllowed(folder + "/none.lua", folder + "/demo.qp", RealFileQueries()));
  platform::RemoveTree(folder);
}

TEST(FindLogByInputTest, MatchesWithOrWithoutLetterCase) {
  const std::vector<std::string> inputs = {"C:\\Work\\Demo.lua", "C:\\work\\other.lua"};
  EXPECT_EQ(FindLogByInput(inputs, "c:\\work\\demo.LUA", true), 0);
  EXPECT_EQ(FindLogByInput(inputs, "C:\\WORK\\OTHER.lua", true), 1);
  EXPECT_EQ(FindLogByInput(inputs, "C:\\work\\third.lua", true), -1);
  // Where letter case makes two files, it makes two logs.
  EXPECT_EQ(FindLogByInput(inputs, "c:\\work\\demo.LUA", false), -1);
  EXPECT_EQ(FindLogByInput(inputs, "C:\\Work\\Demo.lua", false), 0);
  EXPECT_EQ(FindLogByInput({}, "/a.lua", false), -1);
  EXPECT_FALSE(SameInputPath("/a.lua", "/a.lu", true));
  // By default the system decides: Windows ignores letter case, POSIX does not.
  EXPECT_EQ(FindLogByInput(inputs, "c:\\work\\demo.LUA"), platform::kPathsIgnoreCase ? 0 : -1);
}

TEST(CanonicalChoiceTest, GivesAbsolutePathsWithoutDotParts) {
  const std::string root = platform::CanonicalPath("/");  // "/" or the drive's "C:\\"
  const std::string sep(1, platform::kSeparator);
  EXPECT_EQ(CanonicalChoice("/work/./x/../demo.lua"), root + "work" + sep + "demo.lua");
  EXPECT_EQ(CanonicalChoice(""), "");
  const std::string relative = CanonicalChoice("demo.lua");
  ASSERT_FALSE(relative.empty());
  EXPECT_TRUE(platform::IsAbsolutePath(relative));
  EXPECT_EQ(FileNamePart(relative), "demo.lua");
  // Long paths are kept whole: no 260-character cut.
  const std::string deep = root + std::string(300, 'd') + sep + "demo.lua";
  EXPECT_EQ(CanonicalChoice(deep), deep);
}

}  // namespace
}  // namespace gui
