#include "tools/qpinfo/qp_report.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "common/platform/fs.h"
#include "common/qpfile/chunk_layout.h"

namespace {

// How the system names a missing file and a folder opened as a file (the platform
// layer's own words on Windows).
#ifdef _WIN32
const char kMissingReason[] = "the file does not exist";
const char kFolderReason[] = "it is a folder";
#else
const char kMissingReason[] = "No such file or directory";
const char kFolderReason[] = "Is a directory";
#endif

TEST(QpReportTest, JsonStringsAreEscaped) {
  EXPECT_EQ(JsonString("plain"), "\"plain\"");
  EXPECT_EQ(JsonString("a\"b\\c"), "\"a\\\"b\\\\c\"");
  EXPECT_EQ(JsonString("\n\r\t"), "\"\\n\\r\\t\"");
  EXPECT_EQ(JsonString(std::string("\x01\0", 2)), "\"\\u0001\\u0000\"");
  EXPECT_EQ(JsonString("caf\xE9"), "\"caf\\u00E9\"");  // Latin-1 stays readable
}

TEST(QpReportTest, ChunkLayouts) {
  EXPECT_EQ(ChunkLayoutName("return 1"), "text");
  EXPECT_EQ(ChunkLayoutName("\x1bLua"), "other");
  std::string host = std::string("\x1bLua\x53\0\x19\x93\r\n\x1a\n", 12) + "\x04\x04\x04\x08\x08";
  EXPECT_EQ(ChunkLayoutName(host), "host");
  host[13] = 8;
  EXPECT_EQ(ChunkLayoutName(host), sizeof(size_t) == 8 ? "native" : "other");
}

class QpReportFileTest : public testing::Test {
 protected:
  void SetUp() override { folder_ = platform::MakeTempFolder("akqp-qpreport"); }
  void TearDown() override { platform::RemoveTree(folder_); }
  std::string folder_;
};

TEST_F(QpReportFileTest, LinesAndJsonOfALoadedFile) {
  QpFile qp;
  ASSERT_TRUE(qp.SetMainChunk("return {}", "Name \"q\"", false));
  const uint8_t code[] = {0x90, 0xC3};
  ASSERT_TRUE(qp.AddMachineCode("two words", code, sizeof code));
  qp.SetVerificationRecords({{4, 1, 0xABCDEF01, 2}});
  const std::string path = folder_ + "/r.qp";
  ASSERT_EQ(qp.Write(path), qp::kWritten);

  QpReport report = MakeReport(path);
  ASSERT_EQ(report.result, qp::kLoaded);
  std::vector<std::string> lines = ReportLines(report);
  auto has = [&](const std::string& line) {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
  };
  EXPECT_TRUE(has("magic: KSQP"));
  EXPECT_TRUE(has("code count: 1"));
  EXPECT_TRUE(has("format a: 0x00050003"));
  EXPECT_TRUE(has("chunk name: Name \"q\""));
  EXPECT_TRUE(has("chunk layout: host"));
  EXPECT_TRUE(std::any_of(lines.begin(), lines.end(), [](const std::string& l) {
    return l.starts_with("code: size=2 crc=0x") && l.ends_with(" name=two words");
  }));
  EXPECT_TRUE(has("record: kind=4 (current page) flags=1 (page name) first=0xABCDEF01 "
                  "second=0x00000002"));

  std::string json = ReportJson(report);
  EXPECT_NE(json.find("\"result\":1"), std::string::npos);
  EXPECT_NE(json.find("\"name\":\"Name \\\"q\\\"\""), std::string::npos);
  EXPECT_NE(json.find("\"code\":[{\"name\":\"two words\",\"size\":2,"), std::string::npos);
  EXPECT_NE(json.find("\"records\":[{\"kind\":4,\"kind_name\":\"current page\",\"flags\":1,"
                      "\"flags_name\":\"page name\",\"first_crc\":2882400001,"),
            std::string::npos);
}

TEST(QpReportTest, RecordKindsAndFlagsHaveNames) {
  EXPECT_STREQ(RecordKindName(1), "version item");
  EXPECT_STREQ(RecordKindName(2), "global");
  EXPECT_STREQ(RecordKindName(3), "main window");
  EXPECT_STREQ(RecordKindName(0), "unknown");
  EXPECT_STREQ(RecordFlagsName(1, 0), "element text");
  EXPECT_STREQ(RecordFlagsName(2, 0), "type");
  EXPECT_STREQ(RecordFlagsName(2, 1), "type and value");
  EXPECT_STREQ(RecordFlagsName(3, 1), "title");
  EXPECT_STREQ(RecordFlagsName(4, 2), "object");
  EXPECT_STREQ(RecordFlagsName(3, 0), "unknown");
  EXPECT_STREQ(RecordFlagsName(1, 16), "unknown");
}

TEST_F(QpReportFileTest, AFileThatCannotBeOpenedSaysWhy) {
  QpReport report = MakeReport(folder_ + "/missing.qp");
  EXPECT_EQ(report.result, qp::kCannotOpen);
  EXPECT_EQ(FailureLine(report), "qpinfo: cannot load '" + folder_ +
                                     "/missing.qp': the file cannot be opened: " +
                                     kMissingReason + " (result -2)");
  EXPECT_NE(ReportJson(report).find("\"reason\":\"" + std::string(kMissingReason) + "\""),
            std::string::npos);
  report = MakeReport(folder_);
  EXPECT_EQ(FailureLine(report), "qpinfo: cannot load '" + folder_ +
                                     "': the file cannot be opened: " + kFolderReason +
                                     " (result -2)");
}

}  // namespace
