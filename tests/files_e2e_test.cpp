// The files the programs read and write, end to end: reads of user-named files are
// bounded, the output never replaces an input, and every writer replaces a file only
// where that is safe (links followed, modes kept, devices and pipes written in place).
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "common/platform/environment.h"
#include "common/platform/fs.h"
#include "common/platform/test_pipes.h"
#include "tests/e2e_support.h"

namespace {

namespace fs = std::filesystem;
using Lines = std::vector<std::string>;

const char kScript[] = "return { info = { name = \"Files\" } }\n";
const char kSuccessPrefix[] = "Compilation successful, script compiled to '";

#ifdef _WIN32
const char kNullDevice[] = "NUL";
// Why the cases of symbolic links do not run on Windows.
const char kNoSymlinks[] =
    "symbolic links: Windows makes them only with a privilege, and neither mingw's "
    "std::filesystem nor Wine makes them";
#else
const char kNullDevice[] = "/dev/null";
#endif

bool HasLineStartingWith(const Lines& lines, const std::string& prefix) {
  return std::any_of(lines.begin(), lines.end(),
                     [&](const std::string& line) { return line.rfind(prefix, 0) == 0; });
}

class FilesTest : public ::testing::Test {
 protected:
  e2e::RunResult Cli(const std::vector<std::string>& args) {
    e2e::RunOptions options;
    options.env = scratch_.Env();
    options.cwd = scratch_.path();
    return e2e::Run("akqp-cli", args, options);
  }
  e2e::RunResult Run(const std::string& program, const std::vector<std::string>& args) {
    e2e::RunOptions options;
    options.env = scratch_.Env();
    options.cwd = scratch_.path();
    return e2e::Run(program, args, options);
  }
  std::string Path(const std::string& name) const { return scratch_.Path(name); }
  // Names in the scratch folder that look like a writer's temporary file.
  Lines Temporaries() const {
    Lines found;
    for (const auto& entry : fs::recursive_directory_iterator(scratch_.path())) {
      std::string name = entry.path().filename().string();
      if (name.find(".tmp") != std::string::npos) found.push_back(name);
    }
    return found;
  }
#ifdef _WIN32
  // The short (8.3) name the system gives a file in the scratch folder, as "dir /x" lists
  // it before the long one; empty when the volume makes none.
  std::string ShortName(const std::string& name) {
    e2e::RunOptions options;
    options.cwd = scratch_.path();
    const std::string cmd = platform::GetEnvironment("ComSpec").value_or("cmd.exe");
    e2e::RunResult r = e2e::Run(cmd, {"/c", "dir", "/x", name}, options);
    for (std::string line : r.lines) {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      const std::string tail = " " + name;
      if (line.size() <= tail.size() || line.compare(line.size() - tail.size(), tail.size(), tail))
        continue;
      line.resize(line.size() - tail.size());
      const std::string last = line.substr(line.find_last_of(' ') + 1);
      return last.find('~') == std::string::npos ? std::string() : last;
    }
    return std::string();
  }
#endif
  e2e::Scratch scratch_;
};

TEST_F(FilesTest, EndlessInputsAreRefusedAtTheirCap) {
  scratch_.Write("s.lua", kScript);
  // A device that never ends ("/dev/zero"; on Windows a pipe that this test feeds).
  platform::EndlessSource endless;
#ifdef _WIN32
  // akqp-cli takes only what the system lists as a file, which a pipe is not: files one
  // byte over each cap (sparse, so nothing is written) meet the same limits.
  const std::string script = "huge.lua";
  const std::string verify = "huge.xml";
  std::filesystem::resize_file(scratch_.Write(script, ""), (256u << 20) + 1);
  std::filesystem::resize_file(scratch_.Write(verify, ""), (64u << 20) + 1);
#else
  const std::string script = endless.path();
  const std::string verify = endless.path();
#endif
  e2e::RunResult lua = Cli({"--lua", script, "--out", "o.qp"});
  EXPECT_EQ(lua.exit_code, 2);
  EXPECT_EQ(lua.lines, Lines{"[ERROR] akqp-cli: Input file '" + script + "' is larger than 256 MiB "
                             "(268435456 bytes), the most a script may hold."});
  e2e::RunResult checked = Cli({"--lua", "s.lua", "--out", "o.qp", "--verify", verify});
  EXPECT_EQ(checked.exit_code, 2);
  EXPECT_EQ(checked.lines, Lines{"[ERROR] akqp-cli: Verification file '" + verify +
                                 "' is larger than 64 MiB (67108864 bytes), the most it may hold."});
  EXPECT_FALSE(platform::PathExists(Path("o.qp")));

  e2e::RunResult info = Run("qpinfo", {endless.path()});
  EXPECT_EQ(info.exit_code, 1);
  EXPECT_EQ(info.output,
            "qpinfo: cannot load '" + endless.path() + "': not a QP file (the magic \"KSQP\" is "
            "missing or the header is cut short) (result -1)\n");
}

TEST_F(FilesTest, TheOutputIsNeverTheInput) {
  const std::string script = scratch_.Write("s.lua", kScript);
  const std::string verify = scratch_.Write("v.xml", "<akqp:verify></akqp:verify>");
  fs::create_hard_link(script, Path("hard.lua"));
  // Every other spelling of the same file: through "./", a hard link, the absolute path,
  // and a symbolic link on POSIX; on Windows either separator, any letter case, a detour
  // through "..", and (below) the short 8.3 name of a long one.
  Lines spellings{"s.lua", "./s.lua", "hard.lua", Path("s.lua")};
#ifdef _WIN32
  std::string absolute = Path("s.lua");
  std::replace(absolute.begin(), absolute.end(), '\\', '/');
  fs::create_directory(Path("a"));
  for (const char* other : {".\\s.lua", "S.LUA", "a\\..\\s.lua", "a/../S.lua", "HARD.lua"})
    spellings.push_back(other);
  spellings.push_back(absolute);
#else
  fs::create_symlink("s.lua", Path("soft.lua"));
  spellings.push_back("soft.lua");
#endif
  const std::string input_message =
      "[ERROR] akqp-cli: The output file is the input script; choose another output path.";
  for (const std::string& out : spellings) {
    e2e::RunResult r = Cli({"--lua", "s.lua", "--out", out});
    EXPECT_EQ(r.exit_code, 2) << out;
    EXPECT_EQ(r.lines, Lines{input_message}) << out;
  }
  e2e::RunResult v = Cli({"--lua", "s.lua", "--out", "./v.xml", "--verify", "v.xml"});
  EXPECT_EQ(v.exit_code, 2);
  EXPECT_EQ(v.lines, Lines{"[ERROR] akqp-cli: The output file is the verification file; choose "
                           "another output path."});
  EXPECT_EQ(scratch_.Read("s.lua"), kScript);
  EXPECT_EQ(scratch_.Read("v.xml"), "<akqp:verify></akqp:verify>");
  EXPECT_EQ(scratch_.Read("hard.lua"), kScript);
#ifndef _WIN32
  EXPECT_TRUE(fs::is_symlink(Path("soft.lua")));
#endif

  // A script that moves to another folder meets the check again when the file is written.
  scratch_.Write("sub/t.lua", "sys.cwd('sub')\n" + std::string(kScript));
  e2e::RunResult moved = Cli({"--lua", "sub/t.lua", "--out", "t.lua"});
  EXPECT_EQ(moved.exit_code, 1) << moved.output;
  EXPECT_NE(std::find(moved.lines.begin(), moved.lines.end(), input_message), moved.lines.end())
      << moved.output;
  EXPECT_EQ(scratch_.Read("sub/t.lua"), "sys.cwd('sub')\n" + std::string(kScript));

#ifdef _WIN32
  // The short name of a long one is the same file too.
  const std::string long_name = "longscriptname.lua";
  scratch_.Write(long_name, kScript);
  const std::string short_name = ShortName(long_name);
  if (short_name.empty()) GTEST_SKIP() << "this volume makes no short (8.3) names";
  e2e::RunResult shortened = Cli({"--lua", long_name, "--out", short_name});
  EXPECT_EQ(shortened.exit_code, 2) << short_name;
  EXPECT_EQ(shortened.lines, Lines{input_message}) << short_name;
  EXPECT_EQ(scratch_.Read(long_name), kScript);
#endif
}

TEST_F(FilesTest, WhatTheWriterWritesTheReaderLoads) {
  // A string constant of 65 MiB makes a chunk beyond what a reader accepts: refused, and
  // the previous output stays.
  std::string big = "return { info = { name = \"Big\" }, s = \"" + std::string(65u << 20, 'x') +
                    "\" }\n";
  scratch_.Write("big.lua", big);
  big.clear();
  scratch_.Write("big.qp", "previous output");
  e2e::RunResult r = Cli({"--lua", "big.lua", "--out", "big.qp"});
  // Reading so long a string takes the script most of its second: on a busy machine the
  // time limit may come first.
  if (HasLineStartingWith(r.lines, "An execution time of one second is way too long"))
    GTEST_SKIP() << "the script ran out of time before the output stage";
  EXPECT_EQ(r.exit_code, 1) << r.output;
  EXPECT_TRUE(HasLineStartingWith(
      r.lines, "[ERROR] The QP file 'big.qp' could not be written: the Lua chunk is "))
      << r.output;
  EXPECT_FALSE(HasLineStartingWith(r.lines, kSuccessPrefix));
  EXPECT_EQ(scratch_.Read("big.qp"), "previous output");
  EXPECT_TRUE(Temporaries().empty());
}

TEST_F(FilesTest, OutputsAreReplacedOnlyWhereThatIsSafe) {
  scratch_.Write("s.lua", kScript);

  // A file keeps its mode. Windows' read-only mark means "do not write": such a file is
  // refused and kept.
  scratch_.Write("private.qp", "old");
#ifdef _WIN32
  fs::permissions(Path("private.qp"), fs::perms::owner_read);
  e2e::RunResult locked = Cli({"--lua", "s.lua", "--out", "private.qp"});
  EXPECT_EQ(locked.exit_code, 1) << locked.output;
  EXPECT_TRUE(HasLineStartingWith(locked.lines, "[ERROR] The QP file 'private.qp' could not be "
                                                "written: access is denied (the file is "
                                                "read-only"))
      << locked.output;
  EXPECT_EQ(scratch_.Read("private.qp"), "old");
  EXPECT_EQ(fs::status(Path("private.qp")).permissions() & fs::perms::owner_write,
            fs::perms::none);
#else
  fs::permissions(Path("private.qp"), fs::perms::owner_read | fs::perms::owner_write);
  ASSERT_EQ(Cli({"--lua", "s.lua", "--out", "private.qp"}).exit_code, 0);
  EXPECT_EQ(fs::status(Path("private.qp")).permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write);
  EXPECT_EQ(scratch_.Read("private.qp").substr(0, 4), "KSQP");
#endif

  // A device is written in place (as root a rename would replace the null device).
  e2e::RunResult null = Cli({"--lua", "s.lua", "--out", kNullDevice});
  EXPECT_EQ(null.exit_code, 0) << null.output;
  EXPECT_TRUE(HasLineStartingWith(
      null.lines, std::string(kSuccessPrefix) + platform::FileName(kNullDevice) + "' ("))
      << null.output;
#ifndef _WIN32
  EXPECT_TRUE(fs::is_character_file("/dev/null"));
#endif

  // So is a pipe (a FIFO; on Windows a named pipe): the reader at its other end gets the
  // file.
  platform::PipeSink pipe(Path("pipe.qp"));
  ASSERT_FALSE(pipe.path().empty());
  e2e::RunResult piped = Cli({"--lua", "s.lua", "--out", pipe.path()});
  EXPECT_EQ(piped.exit_code, 0) << piped.output;
  EXPECT_EQ(pipe.Received().substr(0, 4), "KSQP");
#ifndef _WIN32
  EXPECT_TRUE(fs::is_fifo(pipe.path()));
#endif

  // The longest names the system allows leave room for the temporary file: on Windows
  // the limit is on the whole path (259 characters).
#ifdef _WIN32
  const size_t longest = 259 - scratch_.path().size() - 1;
  const std::vector<size_t> lengths{longest - 11, longest};
#else
  const std::vector<size_t> lengths{244, 255};
#endif
  for (size_t length : lengths) {
    std::string name(length - 3, 'q');
    name += ".qp";
    e2e::RunResult r = Cli({"--lua", "s.lua", "--out", name});
    EXPECT_EQ(r.exit_code, 0) << length << r.output;
    EXPECT_EQ(scratch_.Read(name).substr(0, 4), "KSQP");
  }
  EXPECT_TRUE(Temporaries().empty());
}

TEST_F(FilesTest, AnOutputLinkIsFollowed) {
#ifdef _WIN32
  GTEST_SKIP() << kNoSymlinks;
#else
  scratch_.Write("s.lua", kScript);

  // A link is followed: its target gets the file, the link stays.
  fs::create_directory(Path("real"));
  scratch_.Write("real/target.qp", "old");
  fs::create_symlink("real/target.qp", Path("link.qp"));
  e2e::RunResult linked = Cli({"--lua", "s.lua", "--out", "link.qp"});
  ASSERT_EQ(linked.exit_code, 0) << linked.output;
  EXPECT_TRUE(fs::is_symlink(Path("link.qp")));
  EXPECT_EQ(scratch_.Read("real/target.qp").substr(0, 4), "KSQP");
  EXPECT_TRUE(Temporaries().empty());
#endif
}

TEST_F(FilesTest, QpinfoWritesItsChunkSafelyAndNeverOverItsInput) {
  scratch_.Write("s.lua", kScript);
  ASSERT_EQ(Cli({"--lua", "s.lua", "--out", "s.qp"}).exit_code, 0);
  const std::string qp = scratch_.Read("s.qp");
  e2e::RunResult self = Run("qpinfo", {"--chunk", "./s.qp", "s.qp"});
  EXPECT_EQ(self.exit_code, 2);
  EXPECT_EQ(self.output, "qpinfo: the chunk file './s.qp' is the QP file; choose another path\n");
  EXPECT_EQ(scratch_.Read("s.qp"), qp);

  e2e::RunResult null = Run("qpinfo", {"--chunk", kNullDevice, "s.qp"});
  EXPECT_EQ(null.exit_code, 0) << null.output;
#ifdef _WIN32
  // A read-only chunk file is refused and kept; a writable one is replaced.
  scratch_.Write("chunk.bin", "old");
  fs::permissions(Path("chunk.bin"), fs::perms::owner_read);
  e2e::RunResult locked = Run("qpinfo", {"--chunk", "chunk.bin", "s.qp"});
  EXPECT_EQ(locked.exit_code, 1);
  EXPECT_NE(locked.output.find("qpinfo: cannot write 'chunk.bin': access is denied"),
            std::string::npos)
      << locked.output;
  EXPECT_EQ(scratch_.Read("chunk.bin"), "old");
  fs::permissions(Path("chunk.bin"), fs::perms::owner_write, fs::perm_options::add);
  ASSERT_EQ(Run("qpinfo", {"--chunk", "chunk.bin", "s.qp"}).exit_code, 0);
  EXPECT_EQ(scratch_.Read("chunk.bin").substr(0, 4), "\x1bLua");
#else
  EXPECT_TRUE(fs::is_character_file("/dev/null"));
  scratch_.Write("chunk.bin", "old");
  fs::permissions(Path("chunk.bin"), fs::perms::owner_read | fs::perms::owner_write);
  ASSERT_EQ(Run("qpinfo", {"--chunk", "chunk.bin", "s.qp"}).exit_code, 0);
  EXPECT_EQ(scratch_.Read("chunk.bin").substr(0, 4), "\x1bLua");
  EXPECT_EQ(fs::status(Path("chunk.bin")).permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write);
#endif
}

TEST_F(FilesTest, QpmakeNeverBuildsATargetOverItsScript) {
  scratch_.Write("a.lua", kScript);
  scratch_.Write("v.xml", "<akqp:verify></akqp:verify>");
  scratch_.Write("makefile.cfg",
                 "[verify]\r\nverify = v.xml\r\n[make]\r\na.lua = a.lua\r\na.lua = ./v.xml\r\n"
                 "a.lua = out.qp\r\n");
  e2e::RunResult r = Run("qpmake", {"makefile.cfg"});
  EXPECT_EQ(r.exit_code, 1) << r.output;
  ASSERT_GE(r.lines.size(), 2u) << r.output;
  EXPECT_EQ(r.lines[0],
            "qpmake: skipped 'a.lua': its output file 'a.lua' is its input script; choose another "
            "output path");
  // Paths are named in the system's form.
  EXPECT_EQ(r.lines[1], "qpmake: skipped 'a.lua': its output file '" +
                            platform::NativePath("./v.xml") +
                            "' is the verification file; choose another output path");
  EXPECT_EQ(scratch_.Read("a.lua"), kScript);
  EXPECT_EQ(scratch_.Read("v.xml"), "<akqp:verify></akqp:verify>");
  EXPECT_EQ(scratch_.Read("out.qp").substr(0, 4), "KSQP");
}

TEST_F(FilesTest, QpmakeChecksumFilesAreReplacedOnlyWhereThatIsSafe) {
  scratch_.Write("nine", "123456789");
  scratch_.Write("real/sum.txt", "old");
  scratch_.Write("kept.txt", "old");
  // A read-only file is kept on Windows; elsewhere it is replaced and keeps its mode.
  fs::permissions(Path("kept.txt"), fs::perms::owner_read);
  platform::PipeSink pipe(Path("sum.pipe"));
  ASSERT_FALSE(pipe.path().empty());
  scratch_.Write("makefile.cfg", std::string("[crc32]\r\nnine = real/sum.txt\r\nnine = ") +
                                     kNullDevice + "\r\nnine = kept.txt\r\nnine = " +
                                     pipe.path() + "\r\n");
  e2e::RunResult r = Run("qpmake", {"makefile.cfg"});
  EXPECT_EQ(r.exit_code, 0) << r.output;
  EXPECT_EQ(r.output, "");
  EXPECT_EQ(scratch_.Read("real/sum.txt"), "-873187034");
  EXPECT_EQ(pipe.Received(), "-873187034");
#ifdef _WIN32
  // Passed over, as every checksum file that cannot be written.
  EXPECT_EQ(scratch_.Read("kept.txt"), "old");
#else
  EXPECT_EQ(scratch_.Read("kept.txt"), "-873187034");
  EXPECT_TRUE(fs::is_fifo(pipe.path()));
  EXPECT_EQ(fs::status(Path("kept.txt")).permissions() & fs::perms::all, fs::perms::owner_read);
  EXPECT_TRUE(fs::is_character_file("/dev/null"));
#endif
  EXPECT_TRUE(Temporaries().empty());
}

TEST_F(FilesTest, QpmakeChecksumsGoThroughLinksAndToStandardOutput) {
#ifdef _WIN32
  GTEST_SKIP() << kNoSymlinks << "; and standard output has no file name on Windows (CONOUT$ "
                                 "is the console)";
#else
  scratch_.Write("nine", "123456789");
  scratch_.Write("real/sum.txt", "old");
  fs::create_symlink("real/sum.txt", Path("sum-link.txt"));
  scratch_.Write("makefile.cfg", "[crc32]\r\nnine = sum-link.txt\r\nnine = /dev/stdout\r\n");
  e2e::RunResult r = Run("qpmake", {"makefile.cfg"});
  EXPECT_EQ(r.exit_code, 0) << r.output;
  // Standard output is a pipe to this test: the checksum arrives there.
  EXPECT_EQ(r.output, "-873187034");
  EXPECT_EQ(scratch_.Read("real/sum.txt"), "-873187034");
  EXPECT_TRUE(fs::is_symlink(Path("sum-link.txt")));
  EXPECT_TRUE(Temporaries().empty());
#endif
}

TEST_F(FilesTest, ALinkedSettingsFileIsRewrittenThroughItsLink) {
#ifdef _WIN32
  GTEST_SKIP() << kNoSymlinks;
#else
  // Dotfile managers keep settings.cfg as a link into their own folder.
  const std::string folder = scratch_.path() + "/.config/Ardent Kestrel QP";
  fs::create_directories(folder);
  scratch_.Write("dotfiles/settings.cfg",
                 "[keep]\r\ny = two words \r\n[settings]\r\ncompiler::warnings = 0\r\n");
  fs::permissions(Path("dotfiles/settings.cfg"), fs::perms::owner_read | fs::perms::owner_write);
  fs::create_symlink(Path("dotfiles/settings.cfg"), folder + "/settings.cfg");
  scratch_.Write("s.lua", kScript);
  e2e::RunOptions options;
  options.env = scratch_.Env();
  options.env["AKQP_CONFIG_HOME"] = scratch_.path() + "/.config";
  options.cwd = scratch_.path();
  ASSERT_EQ(e2e::Run("akqp-cli", {"--lua", "s.lua", "--out", "s.qp"}, options).exit_code, 0);
  EXPECT_TRUE(fs::is_symlink(folder + "/settings.cfg"));
  const std::string text = scratch_.Read("dotfiles/settings.cfg");
  EXPECT_EQ(text.rfind("[keep]\r\ny = two words \r\n[settings]\r\ncompiler::warnings = 0\r\n"
                       "general::winpos = 1\r\n",
                       0),
            0u)
      << text;
  EXPECT_EQ(fs::status(Path("dotfiles/settings.cfg")).permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write);
#endif
}

}  // namespace
