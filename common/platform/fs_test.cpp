#include "common/platform/fs.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <thread>
#include <string>
#include <vector>

namespace {

TEST(Fs, AtomicWriteReplacesWholeFileAndLeavesNoTemporary) {
  std::string dir = platform::MakeTempFolder("fs-test");
  ASSERT_FALSE(dir.empty());
  std::string file = dir + "/a.txt";
  ASSERT_TRUE(platform::WriteFileAtomic(file, "first"));
  ASSERT_TRUE(platform::WriteFileAtomic(file, "second"));
  EXPECT_EQ(*platform::ReadFile(file), "second");
  std::string error;
  EXPECT_FALSE(platform::WriteFileAtomic(dir + "/missing/b.txt", "x", &error));
  EXPECT_FALSE(error.empty());
  EXPECT_EQ(platform::FileSize(file), 6);
  platform::RemoveTree(dir);
  EXPECT_FALSE(platform::PathExists(dir));
}

TEST(Fs, PathPieces) {
  // Either separator as the user wrote it comes out as the native one.
  const std::string sep(1, platform::kSeparator);
  EXPECT_EQ(platform::NativePath("a\\b/c.lua"), "a" + sep + "b" + sep + "c.lua");
  EXPECT_EQ(platform::FileName("x/y/z.qp"), "z.qp");
  EXPECT_EQ(platform::FileName("z.qp"), "z.qp");
  EXPECT_EQ(platform::FolderOf("x/y/z.qp"), "x/y/");
  EXPECT_EQ(platform::FolderOf("z.qp"), "");
  // The root is "/" on POSIX and the current drive's ("C:\\") on Windows.
  const std::string root = platform::CanonicalPath("/");
  EXPECT_TRUE(platform::IsAbsolutePath(root));
  EXPECT_EQ(platform::CanonicalPath(root + "a/b/../c/./d"), root + "a" + sep + "c" + sep + "d");
}

TEST(Fs, ReadFileRefusesFoldersAndMissingFiles) {
  EXPECT_FALSE(platform::ReadFile("/").has_value());
  EXPECT_FALSE(platform::ReadFile("/nonexistent/file").has_value());
}

}  // namespace

// What WriteFileAtomic does with the kinds of file it may meet, and what reads refuse.
// These use POSIX calls to make links, pipes and modes.
namespace {

class FsFileTest : public testing::Test {
 protected:
  void SetUp() override { dir_ = platform::MakeTempFolder("fs-file-test"); }
  void TearDown() override {
    chmod(dir_.c_str(), 0700);
    platform::RemoveTree(dir_);
  }
  std::string Path(const std::string& name) const { return dir_ + "/" + name; }
  // The names in the folder, to show that no temporary file was left behind.
  std::vector<std::string> Names(const std::string& folder = "") const {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder.empty() ? dir_ : folder))
      names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }
  static mode_t Mode(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0;
  }
  std::string dir_;
};

TEST_F(FsFileTest, ARegularFileKeepsItsModeAndNewFilesFollowTheUmask) {
  std::string file = Path("private.cfg");
  ASSERT_TRUE(platform::WriteFileAtomic(file, "one"));
  mode_t mask = umask(0);
  umask(mask);
  EXPECT_EQ(Mode(file), 0666 & ~mask);
  ASSERT_EQ(chmod(file.c_str(), 0600), 0);
  ASSERT_TRUE(platform::WriteFileAtomic(file, "two"));
  EXPECT_EQ(Mode(file), 0600u);
  EXPECT_EQ(platform::ReadFile(file).value(), "two");
  EXPECT_EQ(Names(), std::vector<std::string>{"private.cfg"});
}

TEST_F(FsFileTest, ASymbolicLinkIsFollowedAndItsTargetReplaced) {
  ASSERT_TRUE(platform::MakeDirectory(Path("real")));
  std::string target = Path("real/settings.cfg");
  ASSERT_TRUE(platform::WriteFileAtomic(target, "old"));
  ASSERT_EQ(symlink("real/settings.cfg", Path("link.cfg").c_str()), 0);
  ASSERT_EQ(symlink("link.cfg", Path("link2.cfg").c_str()), 0);
  ASSERT_TRUE(platform::WriteFileAtomic(Path("link2.cfg"), "new"));
  EXPECT_EQ(platform::ReadFile(target).value(), "new");
  struct stat st;
  ASSERT_EQ(lstat(Path("link.cfg").c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  EXPECT_EQ(Names(Path("real")), std::vector<std::string>{"settings.cfg"});
  // A link to nothing yet: the file is made where it points.
  ASSERT_EQ(symlink("real/fresh.cfg", Path("dangling.cfg").c_str()), 0);
  ASSERT_TRUE(platform::WriteFileAtomic(Path("dangling.cfg"), "x"));
  EXPECT_EQ(platform::ReadFile(Path("real/fresh.cfg")).value(), "x");
  // A loop of links is an error, and nothing is made.
  ASSERT_EQ(symlink("loop.b", Path("loop.a").c_str()), 0);
  ASSERT_EQ(symlink("loop.a", Path("loop.b").c_str()), 0);
  std::string error;
  EXPECT_FALSE(platform::WriteFileAtomic(Path("loop.a"), "x", &error));
  EXPECT_FALSE(error.empty());
}

TEST_F(FsFileTest, APipeOrADeviceIsWrittenInPlaceNeverRenamedOver) {
  std::string fifo = Path("pipe");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  std::string received;
  std::thread reader([&] { received = platform::ReadFile(fifo).value_or("<failed>"); });
  ASSERT_TRUE(platform::WriteFileAtomic(fifo, "through the pipe"));
  reader.join();
  EXPECT_EQ(received, "through the pipe");
  struct stat st;
  ASSERT_EQ(lstat(fifo.c_str(), &st), 0);
  EXPECT_TRUE(S_ISFIFO(st.st_mode));
  EXPECT_EQ(Names(), std::vector<std::string>{"pipe"});

  ASSERT_TRUE(platform::WriteFileAtomic("/dev/null", "nothing"));
  ASSERT_EQ(stat("/dev/null", &st), 0);
  EXPECT_TRUE(S_ISCHR(st.st_mode));
}

TEST_F(FsFileTest, AWritableFileInAFolderWithoutWriteAccessIsWrittenInPlace) {
  if (geteuid() == 0) GTEST_SKIP() << "root may write in any folder";
  std::string file = Path("locked/settings.cfg");
  ASSERT_TRUE(platform::MakeDirectory(Path("locked")));
  ASSERT_TRUE(platform::WriteFileAtomic(file, "a much longer old text"));
  ASSERT_EQ(chmod(Path("locked").c_str(), 0500), 0);
  ASSERT_TRUE(platform::WriteFileAtomic(file, "short"));
  EXPECT_EQ(platform::ReadFile(file).value(), "short");
  // A file that does not exist there cannot be made.
  EXPECT_FALSE(platform::WriteFileAtomic(Path("locked/new.cfg"), "x"));
  ASSERT_EQ(chmod(Path("locked").c_str(), 0700), 0);
  EXPECT_EQ(Names(Path("locked")), std::vector<std::string>{"settings.cfg"});
}

TEST_F(FsFileTest, TemporaryNamesHaveAFixedLength) {
  for (size_t length : {244u, 250u, 255u}) {
    std::string name(length, 'n');
    ASSERT_TRUE(platform::WriteFileAtomic(Path(name), "long")) << length;
    ASSERT_TRUE(platform::WriteFileAtomic(Path(name), "longer")) << length;
    EXPECT_EQ(platform::ReadFile(Path(name)).value(), "longer");
    ASSERT_TRUE(std::filesystem::remove(Path(name)));
  }
  EXPECT_TRUE(Names().empty());
}

TEST_F(FsFileTest, ReadsStopAtTheirLimit) {
  ASSERT_TRUE(platform::WriteFileAtomic(Path("ten"), "0123456789"));
  platform::ReadStatus status = platform::ReadStatus::kOk;
  std::string error;
  EXPECT_EQ(platform::ReadFile(Path("ten"), 10, &status).value(), "0123456789");
  EXPECT_EQ(status, platform::ReadStatus::kOk);
  EXPECT_FALSE(platform::ReadFile(Path("ten"), 9, &status, &error));
  EXPECT_EQ(status, platform::ReadStatus::kTooLarge);
  EXPECT_EQ(error, "larger than 9 bytes");
  // A device that never ends stops at the limit.
  EXPECT_FALSE(platform::ReadFile("/dev/zero", 1 << 20, &status));
  EXPECT_EQ(status, platform::ReadStatus::kTooLarge);
  EXPECT_FALSE(platform::ReadFile(Path("missing"), 10, &status, &error));
  EXPECT_EQ(status, platform::ReadStatus::kCannotRead);
  EXPECT_EQ(error, "No such file or directory");
  EXPECT_FALSE(platform::ReadFile(dir_, 10, &status, &error));
  EXPECT_EQ(error, "Is a directory");
}

TEST_F(FsFileTest, AReaderReadsOnlyWhatItIsAskedFor) {
  ASSERT_TRUE(platform::WriteFileAtomic(Path("f"), "header+body"));
  platform::FileReader reader;
  std::string error;
  EXPECT_FALSE(reader.Open(Path("missing"), &error));
  EXPECT_EQ(error, "No such file or directory");
  EXPECT_FALSE(reader.Open(dir_));
  ASSERT_TRUE(reader.Open(Path("f")));
  EXPECT_EQ(reader.RegularFileSize(), 11);
  std::string data;
  ASSERT_TRUE(reader.Read(6, &data));
  EXPECT_EQ(data, "header");
  // Asking for more than the file holds gives what is there, and costs no more.
  ASSERT_TRUE(reader.Read(size_t{1} << 40, &data));
  EXPECT_EQ(data, "header+body");
  ASSERT_TRUE(reader.Open("/dev/zero"));
  EXPECT_EQ(reader.RegularFileSize(), -1);
  data.clear();
  ASSERT_TRUE(reader.Read(5, &data));
  EXPECT_EQ(data, std::string(5, '\0'));
}

TEST_F(FsFileTest, IdentityNamesTheFileWhateverThePath) {
  ASSERT_TRUE(platform::WriteFileAtomic(Path("s.lua"), "return {}"));
  ASSERT_TRUE(platform::WriteFileAtomic(Path("other.lua"), "return {}"));
  ASSERT_EQ(link(Path("s.lua").c_str(), Path("hard.lua").c_str()), 0);
  ASSERT_EQ(symlink("s.lua", Path("soft.lua").c_str()), 0);
  auto id = platform::FileIdentity(Path("s.lua"));
  ASSERT_TRUE(id);
  EXPECT_EQ(platform::FileIdentity(dir_ + "/./s.lua"), id);
  EXPECT_EQ(platform::FileIdentity(Path("hard.lua")), id);
  EXPECT_EQ(platform::FileIdentity(Path("soft.lua")), id);
  EXPECT_NE(platform::FileIdentity(Path("other.lua")), id);
  EXPECT_FALSE(platform::FileIdentity(Path("missing.lua")));
}

// A process ended by SIGTERM while its temporary file exists leaves no temporary file:
// a child writes a large file, and is ended as soon as the temporary file shows.
TEST_F(FsFileTest, ATemporaryFileDoesNotOutliveSigterm) {
  const std::string data(64 << 20, 'd');
  bool seen = false;
  for (int attempt = 0; attempt < 5 && !seen; ++attempt) {
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      platform::WriteFileAtomic(dir_ + "/big.out", data);
      _exit(0);
    }
    while (!seen) {
      std::vector<std::string> names = Names();
      seen = std::any_of(names.begin(), names.end(),
                         [](const std::string& n) { return n.find(".tmp") != std::string::npos; });
      if (seen) kill(child, SIGTERM);
      int status = 0;
      if (waitpid(child, &status, seen ? 0 : WNOHANG) == child) break;
    }
    if (!seen) std::filesystem::remove(dir_ + "/big.out");
  }
  if (!seen) GTEST_SKIP() << "the write always ended before its temporary file was seen";
  std::vector<std::string> left = Names();
  left.erase(std::remove(left.begin(), left.end(), "big.out"), left.end());
  EXPECT_TRUE(left.empty()) << left.front();
}

}  // namespace
