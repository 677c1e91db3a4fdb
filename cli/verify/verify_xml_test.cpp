#include "cli/verify/verify_xml.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <zlib.h>

#include <string>

#include "cli/verify/verify_stage.h"
#include "cli/verify/verify_test_support.h"

namespace verify {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

uint32_t Crc(const std::string& s) {
  return static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(s.data()),
                                     static_cast<uInt>(s.size())));
}

constexpr const char* kInvalidType =
    "[Warning]: One of the 'globals' verify fields has been ignored. It used an invalid type!";
constexpr const char* kAllowedTypes =
    "[Warning]: Allowed types are: string, number, boolean, table, function, userdata and "
    "thread.";
constexpr const char* kNameAndType =
    "[Warning]: One of the 'globals' verify fields has been ignored. Those fields require a "
    "name and type!";

void ExpectRecord(const VerificationRecord& r, uint32_t kind, uint32_t flags, uint32_t first,
                  uint32_t second) {
  EXPECT_EQ(r.kind, kind);
  EXPECT_EQ(r.flags, flags);
  EXPECT_EQ(r.firstCrc, first);
  EXPECT_EQ(r.secondCrc, second);
}

class CheckXmlTest : public VerifyTest {
 protected:
  bool Check(const std::string& body) {
    records_.clear();
    return CheckVerificationXml("<akqp:verify>" + body + "</akqp:verify>", &records_);
  }
  VerificationRecords records_;
};

TEST_F(CheckXmlTest, GlobalWithValueCoversTypeAndValue) {
  ASSERT_TRUE(Check("<globals><global name=' x ' type='string' value='abc'/></globals>"));
  ASSERT_EQ(records_.size(), 1u);
  ExpectRecord(records_[0], 2, 1, Crc("x"), 0x19A77502);
  EXPECT_EQ(Crc("stringabc"), 0x19A77502u);
  EXPECT_THAT(lines_, ElementsAre("[Info]: The verify section will add 16 bytes to the product."));
}

TEST_F(CheckXmlTest, GlobalsAreCheckedOneByOne) {
  ASSERT_TRUE(Check(
      "<globals>"
      "<global name='a' type='number'/>"
      "<global name='b' type='String' value='1'/>"  // types compare case-sensitively
      "<global name='c' type='table' value='t'/>"   // no value check for tables
      "<global name='d' type='boolean' value=''/>"  // an empty value is no value
      "<global name='  ' type='string'/>"
      "<global name='e'/>"
      "<other name='f' type='string'/><!-- comment -->"
      "</globals>"
      "<globals><global name='g' type='string'/></globals>"));  // only the first counts
  ASSERT_EQ(records_.size(), 3u);
  ExpectRecord(records_[0], 2, 0, Crc("a"), Crc("number"));
  ExpectRecord(records_[1], 2, 0, Crc("c"), Crc("table"));
  ExpectRecord(records_[2], 2, 0, Crc("d"), Crc("boolean"));
  EXPECT_THAT(lines_,
              ElementsAre(kInvalidType, kAllowedTypes,
                          "[Warning]: Global 'c' has a type which does not allow for value "
                          "verification, value ignored.",
                          kNameAndType, kNameAndType,
                          "[Info]: The verify section will add 48 bytes to the product."));
}

TEST_F(CheckXmlTest, WarningsOffSkipsTheSameGlobalsSilently) {
  settings::SetForTest("compiler::warnings", 0);
  settings::SetForTest("compiler::information", 0);
  ASSERT_TRUE(Check("<globals><global name='b' type='String'/><global type='string'/>"
                    "<global name='c' type='thread' value='v'/></globals>"));
  ASSERT_EQ(records_.size(), 1u);
  ExpectRecord(records_[0], 2, 0, Crc("c"), Crc("thread"));
  EXPECT_THAT(lines_, IsEmpty());
}

TEST_F(CheckXmlTest, RecordsComeInTheirFixedOrder) {
  // Written in the opposite order to the records.
  ASSERT_TRUE(Check(
      "<currentPage><object>o1</object><x>no</x><name>Main</name><object>o2</object>"
      "<name>second</name></currentPage>"
      "<mainWindow><other/><title> My App </title></mainWindow>"
      "<mainWindow><title>ignored</title></mainWindow>"
      "<globals><global name='v' type='string'/></globals>"
      "<version>text<major>2</major><!--c--><minor>1<b>not</b></minor></version>"));
  ASSERT_EQ(records_.size(), 7u);
  ExpectRecord(records_[0], 1, 0, Crc("major"), Crc("2"));
  ExpectRecord(records_[1], 1, 0, Crc("minor"), Crc("1"));
  ExpectRecord(records_[2], 2, 0, Crc("v"), Crc("string"));
  ExpectRecord(records_[3], 3, 1, 0x1F5E44AF, Crc(" My App "));
  ExpectRecord(records_[4], 4, 1, 0x140AB620, Crc("Main"));
  ExpectRecord(records_[5], 4, 2, 0xA8ADABEC, Crc("o1"));
  ExpectRecord(records_[6], 4, 2, 0xA8ADABEC, Crc("o2"));
  EXPECT_EQ(Crc("wnd"), 0x1F5E44AFu);
  EXPECT_EQ(Crc("page"), 0x140AB620u);
  EXPECT_EQ(Crc("object"), 0xA8ADABECu);
}

TEST_F(CheckXmlTest, MissingPartsMakeNoRecords) {
  ASSERT_TRUE(Check("<mainWindow><name>x</name></mainWindow><currentPage><object/>"
                    "<Object>no</Object></currentPage><title>x</title>"));
  ASSERT_EQ(records_.size(), 1u);
  ExpectRecord(records_[0], 4, 2, 0xA8ADABEC, 0);  // an empty text gives CRC 0

  lines_.clear();
  ASSERT_TRUE(Check(""));
  EXPECT_THAT(records_, IsEmpty());
  EXPECT_THAT(lines_, ElementsAre("[Info]: The verify section will add 0 bytes to the product."));
}

TEST_F(CheckXmlTest, MalformedXmlPrintsFourLines) {
  records_.clear();
  EXPECT_FALSE(CheckVerificationXml(
      "<akqp:verify>\r\n  <globals>\r\n    <global name='a' type='string'/>\r\n</akqp:verify>",
      &records_));
  EXPECT_THAT(lines_, ElementsAre("[ERROR]: Verify section's XML format is malformed!",
                                  "[ERROR]: mismatched tag", "[ERROR]: At line: 5",
                                  "[ERROR]: At position: 2"));
}

TEST_F(CheckXmlTest, OtherRootIsInvalid) {
  records_.clear();
  EXPECT_FALSE(CheckVerificationXml("<verify><version/></verify>", &records_));
  EXPECT_THAT(lines_, ElementsAre("[ERROR]: Verify section's main node is invalid!"));
}

TEST_F(CheckXmlTest, HugeDocumentsFailWithinBounds) {
  std::string deep;
  for (int i = 0; i < 100'000; ++i) deep += "<d>";
  records_.clear();
  EXPECT_FALSE(CheckVerificationXml("<akqp:verify>" + deep, &records_));
  ASSERT_EQ(lines_.size(), 2u);
  EXPECT_EQ(lines_[0], "[ERROR]: Memory error while pre-processing!");
  EXPECT_EQ(lines_[1].rfind("[ERROR]: The verify section is too large: elements are nested", 0),
            0u)
      << lines_[1];
}

// The stage as the pipeline calls it: extraction, then the checks.
TEST_F(CheckXmlTest, StageGivesRecordsOrStops) {
  VerificationRecords records(3);  // left over from elsewhere: replaced
  EXPECT_TRUE(RunVerificationStage(
      "return {}\n--[=[\n<akqp:verify><mainWindow><title>T</title></mainWindow></akqp:verify>\n]=]\n",
      &records));
  ASSERT_EQ(records.size(), 1u);
  ExpectRecord(records[0], 3, 1, 0x1F5E44AF, Crc("T"));

  EXPECT_TRUE(RunVerificationStage("return {}\n", &records));
  EXPECT_THAT(records, IsEmpty());

  EXPECT_FALSE(RunVerificationStage("--[=[<akqp:verify><a></akqp:verify>]=]", &records));
  EXPECT_THAT(records, IsEmpty());
  EXPECT_FALSE(RunVerificationStage("--[=[<akqp:verify></akqp:verify>]=]x", &records));

  EXPECT_EQ(RemoveVerificationSections("a\n--[=[<akqp:verify></akqp:verify>]=]\nb"), "a\n\nb");
}

}  // namespace
}  // namespace verify
