#include "cli/driver/job_loader.h"

#include <gtest/gtest.h>

#include "common/platform/fs.h"

namespace {

class JobLoaderTest : public ::testing::Test {
 protected:
  void SetUp() override { dir_ = platform::MakeTempFolder("job-test"); }
  void TearDown() override { platform::RemoveTree(dir_); }
  std::string Write(const std::string& name, const std::string& content) {
    std::string path = dir_ + "/" + name;
    EXPECT_TRUE(platform::WriteFileAtomic(path, content));
    return path;
  }
  std::string dir_;
};

TEST_F(JobLoaderTest, FillsTheJobWithTheScriptAsBytes) {
  std::string script = std::string("return {}\r\n\0tail", 16);
  std::string input = Write("a.lua", script);
  CompileJob job;
  ASSERT_EQ(LoadJob(input, "out.qp", "", &job, nullptr), LoadResult::kOk);
  EXPECT_EQ(job.script, script);
  EXPECT_EQ(job.input_file_name, "a.lua");
  EXPECT_EQ(job.output_path, "out.qp");
  EXPECT_EQ(job.args.script_text, &job.script);
  EXPECT_EQ(job.args.job, &job);
  EXPECT_EQ(job.args.compile_flag, 1);
  EXPECT_EQ(job.compile_flag_copy, 1);
}

TEST_F(JobLoaderTest, VerificationFileIsTrimmedCutAtNulAndAppended) {
  std::string input = Write("a.lua", "return {}\n");
  std::string verify = Write("v.xml", std::string("  <akqp:verify></akqp:verify> \0junk", 35));
  CompileJob job;
  ASSERT_EQ(LoadJob(input, "o.qp", verify, &job, nullptr), LoadResult::kOk);
  EXPECT_EQ(job.script, "return {}\n--[=[\r\n<akqp:verify></akqp:verify>\r\n]=]");
}

TEST_F(JobLoaderTest, SectionStartsOnANewLineAfterATrailingComment) {
  EXPECT_EQ(AppendVerificationText("return {} -- done", "<x/>"),
            "return {} -- done\r\n--[=[\r\n<x/>\r\n]=]");
  EXPECT_EQ(AppendVerificationText("", "<x/>"), "--[=[\r\n<x/>\r\n]=]");
}

TEST_F(JobLoaderTest, VerificationFileOfSpacesIsEmpty) {
  std::string input = Write("a.lua", "return {}");
  std::string verify = Write("v.xml", "    ");
  CompileJob job;
  EXPECT_EQ(LoadJob(input, "o.qp", verify, &job, nullptr), LoadResult::kVerifyFileEmpty);
}

TEST(TrimSpaces, TrimsOnlyTheSpaceCharacter) {
  EXPECT_EQ(TrimSpaces("  a b  "), "a b");
  EXPECT_EQ(TrimSpaces("\t a \n"), "\t a \n");
  EXPECT_EQ(TrimSpaces("   "), "");
}

}  // namespace
