// What the file services do on Windows: "\" paths, drive letters, the application-data
// folder, replacement of a file that another program holds open or marks read-only or
// that a link leads to, long and non-ASCII names.
#include <windows.h>

#include <gtest/gtest.h>

#include "common/platform/environment.h"
#include "common/platform/fs.h"

namespace {

class FsWin32 : public testing::Test {
 protected:
  void SetUp() override {
    dir_ = platform::MakeTempFolder("fs-win32");
    ASSERT_FALSE(dir_.empty());
  }
  void TearDown() override { platform::RemoveTree(dir_); }
  std::string dir_;
};

TEST_F(FsWin32, BackslashPathsAndDriveLetters) {
  EXPECT_EQ(platform::kSeparator, '\\');
  EXPECT_EQ(platform::NativePath("a/b/c.lua"), "a\\b\\c.lua");
  EXPECT_EQ(platform::NativePath("C:/work\\x.qp"), "C:\\work\\x.qp");
  EXPECT_EQ(platform::FileName("C:\\a\\b.lua"), "b.lua");
  EXPECT_EQ(platform::FileName("C:/a/b.lua"), "b.lua");
  EXPECT_EQ(platform::FolderOf("C:\\a\\b.lua"), "C:\\a\\");
  EXPECT_TRUE(platform::IsAbsolutePath("C:\\a"));
  EXPECT_TRUE(platform::IsAbsolutePath("c:/a"));
  EXPECT_TRUE(platform::IsAbsolutePath("\\\\server\\share\\a"));
  EXPECT_FALSE(platform::IsAbsolutePath("a\\b"));
  EXPECT_FALSE(platform::IsAbsolutePath("/a"));  // the root of the current drive only
  EXPECT_EQ(platform::CanonicalPath("C:\\a\\b\\..\\c\\.\\d"), "C:\\a\\c\\d");
  EXPECT_EQ(platform::CanonicalPath("C:/a/b"), "C:\\a\\b");
  EXPECT_TRUE(platform::IsDirectory("C:\\"));
  const std::string program = platform::ProgramFolder();
  ASSERT_GE(program.size(), 3u);
  EXPECT_EQ(program[1], ':');
  EXPECT_EQ(program.back(), '\\');
}

TEST_F(FsWin32, ReplacedFileIsWholeAndLeavesNoTemporary) {
  const std::string file = dir_ + "\\a.qp";
  ASSERT_TRUE(platform::WriteFileAtomic(file, "first"));
  ASSERT_TRUE(platform::WriteFileAtomic(file, "second, longer"));
  EXPECT_EQ(platform::ReadFile(file).value_or(""), "second, longer");
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA((dir_ + "\\*").c_str(), &found);
  ASSERT_NE(search, INVALID_HANDLE_VALUE);
  int files = 0;
  do {
    if (std::string(found.cFileName) != "." && std::string(found.cFileName) != "..") ++files;
  } while (FindNextFileA(search, &found));
  FindClose(search);
  EXPECT_EQ(files, 1);
}

TEST_F(FsWin32, AFileOpenInAnotherProgramIsKept) {
  const std::string file = dir_ + "\\locked.qp";
  ASSERT_TRUE(platform::WriteFileAtomic(file, "previous"));
  // Another program holds it open without letting others delete or rename it.
  HANDLE held = CreateFileA(file.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  std::string error;
  EXPECT_FALSE(platform::WriteFileAtomic(file, "new", &error));
  CloseHandle(held);
  EXPECT_FALSE(error.empty());
  EXPECT_EQ(platform::ReadFile(file).value_or(""), "previous");
  EXPECT_TRUE(platform::WriteFileAtomic(file, "new"));
  EXPECT_EQ(platform::ReadFile(file).value_or(""), "new");
}

TEST_F(FsWin32, AReadOnlyFileIsKeptAndADeviceIsWrittenInPlace) {
  const std::string file = dir_ + "\\kept.qp";
  ASSERT_TRUE(platform::WriteFileAtomic(file, "previous"));
  ASSERT_TRUE(SetFileAttributesA(file.c_str(), FILE_ATTRIBUTE_READONLY));
  std::string error;
  EXPECT_FALSE(platform::WriteFileAtomic(file, "new", &error));
  EXPECT_EQ(error, "access is denied (the file is read-only, or open in another program)");
  EXPECT_EQ(platform::ReadFile(file).value_or(""), "previous");
  EXPECT_EQ(GetFileAttributesA(file.c_str()) & FILE_ATTRIBUTE_READONLY,
            DWORD{FILE_ATTRIBUTE_READONLY});
  // The null device takes the data and stays a device.
  EXPECT_TRUE(platform::WriteFileAtomic("NUL", "data"));
  EXPECT_TRUE(platform::WriteFileAtomic(dir_ + "\\nul", "data"));
  EXPECT_EQ(platform::ReadFile(dir_ + "\\nul").value_or("x"), "");
}

TEST_F(FsWin32, AMissingFolderAndAFileUsedAsAFolderAreToldApart) {
  ASSERT_TRUE(platform::WriteFileAtomic(dir_ + "\\plain", "a file"));
  std::string error;
  EXPECT_FALSE(platform::WriteFileAtomic(dir_ + "\\plain\\a.qp", "x", &error));
  EXPECT_EQ(error, "its folder is a file");
  EXPECT_FALSE(platform::WriteFileAtomic(dir_ + "\\missing\\a.qp", "x", &error));
  EXPECT_EQ(error, "the folder does not exist");
  EXPECT_EQ(platform::ReadFile(dir_ + "\\plain").value_or(""), "a file");
}

TEST_F(FsWin32, ALinkIsFollowedAndStays) {
  const std::string target = dir_ + "\\real.qp";
  ASSERT_TRUE(platform::WriteFileAtomic(target, "old"));
  const std::string link = dir_ + "\\link.qp";
  // Unprivileged links need developer mode (and a Windows that knows the flag).
  if (!CreateSymbolicLinkA(link.c_str(), target.c_str(),
                           SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE))
    CreateSymbolicLinkA(link.c_str(), target.c_str(), 0);
  const DWORD attributes = GetFileAttributesA(link.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_REPARSE_POINT))
    GTEST_SKIP() << "no symbolic link could be made: Windows makes them for administrators and "
                    "in developer mode only, Wine makes none";
  ASSERT_TRUE(platform::WriteFileAtomic(link, "new"));
  EXPECT_EQ(platform::ReadFile(target).value_or(""), "new");
  EXPECT_NE(GetFileAttributesA(link.c_str()) & FILE_ATTRIBUTE_REPARSE_POINT, 0u);
  EXPECT_EQ(platform::ReadFile(link).value_or(""), "new");
}

TEST_F(FsWin32, APathLongerThanWindowsAllowsIsRefusedWithAReason) {
  std::string folder = dir_;
  while (folder.size() < 200) {
    folder += "\\" + std::string(40, 'd');
    ASSERT_TRUE(platform::MakeDirectory(folder)) << folder;
  }
  const std::string file = folder + "\\" + std::string(80, 'f') + ".qp";
  ASSERT_GT(file.size(), 260u);
  std::string error;
  EXPECT_FALSE(platform::WriteFileAtomic(file, "x", &error));
  EXPECT_NE(error.find("longer than Windows allows"), std::string::npos) << error;
  // Nothing was written under a shortened name either.
  EXPECT_FALSE(platform::PathExists(file.substr(0, 259)));
  EXPECT_FALSE(platform::ReadFile(file).has_value());
}

TEST_F(FsWin32, NamesInTheAnsiCodePage) {
  // "Übung ä.lua" in Windows-1252, the ANSI code page of Wine's and Windows' default
  // western set-up; names are passed through as bytes.
  if (GetACP() != 1252) GTEST_SKIP() << "the ANSI code page is " << GetACP() << ", not 1252";
  const std::string file = dir_ + "\\\xDC" "bung \xE4.lua";
  ASSERT_TRUE(platform::WriteFileAtomic(file, "return {}"));
  EXPECT_TRUE(platform::IsFile(file));
  EXPECT_EQ(platform::FileSize(file), 9);
  EXPECT_EQ(platform::FileName(file), "\xDC" "bung \xE4.lua");
  EXPECT_EQ(platform::ReadFile(file).value_or(""), "return {}");
}

TEST_F(FsWin32, TheSettingsFolderIsTheRoamingApplicationDataFolder) {
  std::optional<std::string> own = platform::GetEnvironment("AKQP_CONFIG_HOME");
  platform::SetEnvironment("AKQP_CONFIG_HOME", dir_ + "/config");
  EXPECT_EQ(platform::ConfigBaseFolder(), dir_ + "\\config\\");
  platform::UnsetEnvironment("AKQP_CONFIG_HOME");
  const std::string base = platform::ConfigBaseFolder();
  const std::optional<std::string> appdata = platform::GetEnvironment("APPDATA");
  if (own) platform::SetEnvironment("AKQP_CONFIG_HOME", *own);
  ASSERT_TRUE(appdata.has_value());
  EXPECT_EQ(base, *appdata + "\\");
}

TEST_F(FsWin32, ModificationTimeIsInSecondsSince1970) {
  const std::string file = dir_ + "\\t.lua";
  ASSERT_TRUE(platform::WriteFileAtomic(file, "x"));
  int64_t seconds = platform::FileModifiedTime(file);
  // Some time after 2020 and before 2100.
  EXPECT_GT(seconds, 1577836800);
  EXPECT_LT(seconds, 4102444800);
}

}  // namespace
