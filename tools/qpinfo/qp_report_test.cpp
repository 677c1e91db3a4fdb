#include "tools/qpinfo/qp_report.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "common/platform/fs.h"
#include "common/qpfile/chunk_layout.h"

namespace {

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
  EXPECT_TRUE(has("record: kind=4 flags=1 first=0xABCDEF01 second=0x00000002"));

  std::string json = ReportJson(report);
  EXPECT_NE(json.find("\"result\":1"), std::string::npos);
  EXPECT_NE(json.find("\"name\":\"Name \\\"q\\\"\""), std::string::npos);
  EXPECT_NE(json.find("\"code\":[{\"name\":\"two words\",\"size\":2,"), std::string::npos);
  EXPECT_NE(json.find("\"records\":[{\"kind\":4,\"flags\":1,\"first_crc\":2882400001,"),
            std::string::npos);
}

}  // namespace
