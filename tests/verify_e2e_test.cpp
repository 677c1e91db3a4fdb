// akqp-cli with verification sections: the records that reach the QP file, a separate
// verification file, and the compile stopping at a bad section.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "common/qpfile/verification_record.h"
#include "tests/e2e_support.h"

namespace {

using ::testing::Contains;
using ::testing::HasSubstr;
using ::testing::Not;

constexpr const char* kFinished = "Script execution has finished.";
const std::string kCode = "return { info = { name = \"verified\" } }\r\n";

uint32_t Crc(const std::string& s, uint32_t crc = 0) {
  return static_cast<uint32_t>(
      crc32(crc, reinterpret_cast<const Bytef*>(s.data()), static_cast<uInt>(s.size())));
}

uint32_t Word(const std::string& bytes, size_t at) {
  uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(bytes.at(at + i));
  return v;
}

// The records of a QP file as stored: the header's count and CRC, and the records,
// which are the last part of the file.
struct StoredRecords {
  uint32_t count = 0;
  uint32_t crc = 0;
  VerificationRecords records;
  std::string raw;
};

StoredRecords ReadRecords(const std::string& file) {
  StoredRecords out;
  if (file.size() < 48 || file.compare(0, 4, "KSQP") != 0) return out;
  out.count = Word(file, 40);
  out.crc = Word(file, 44);
  size_t bytes = size_t{out.count} * 16;
  if (bytes > file.size() - 48) return out;
  out.raw = file.substr(file.size() - bytes);
  for (size_t at = 0; at < bytes; at += 16)
    out.records.push_back({Word(out.raw, at), Word(out.raw, at + 4), Word(out.raw, at + 8),
                           Word(out.raw, at + 12)});
  return out;
}

std::vector<uint32_t> Flatten(const VerificationRecords& records) {
  std::vector<uint32_t> words;
  for (const VerificationRecord& r : records)
    words.insert(words.end(), {r.kind, r.flags, r.firstCrc, r.secondCrc});
  return words;
}

bool HasLine(const e2e::RunResult& run, const std::string& line) {
  return std::find(run.lines.begin(), run.lines.end(), line) != run.lines.end();
}

TEST(VerifyE2eTest, TheQpFileCarriesTheRecordsTheSectionAskedFor) {
  e2e::Scratch scratch;
  std::string script = scratch.Write(
      "s.lua", kCode +
                   "--[=[\r\n<akqp:verify>\r\n"
                   "  <version><major>2</major></version>\r\n"
                   "  <globals>\r\n"
                   "    <global name=\" x \" type=\"string\" value=\"abc\"/>\r\n"
                   "    <global name=\"t\" type=\"table\"/>\r\n"
                   "  </globals>\r\n"
                   "  <mainWindow><title>Line one\r\nline two</title></mainWindow>\r\n"
                   "  <currentPage><name>Main</name><object>b1</object><object>b2</object>"
                   "</currentPage>\r\n"
                   "</akqp:verify>\r\n]=]\r\n\r\n");
  e2e::RunResult run = e2e::Compile(scratch, script, scratch.Path("s.qp"));
  ASSERT_EQ(run.exit_code, 0) << run.output;
  EXPECT_THAT(run.output, HasSubstr("[Info]: The verify section will add 112 bytes to the product."));

  VerificationRecords expected = {
      {1, 0, Crc("major"), Crc("2")},
      {2, 1, Crc("x"), 0x19A77502},
      {2, 0, Crc("t"), Crc("table")},
      {3, 1, 0x1F5E44AF, Crc("Line one\r\nline two")},
      {4, 1, 0x140AB620, Crc("Main")},
      {4, 2, 0xA8ADABEC, Crc("b1")},
      {4, 2, 0xA8ADABEC, Crc("b2")},
  };
  StoredRecords stored = ReadRecords(scratch.Read("s.qp"));
  EXPECT_EQ(stored.count, 7u);
  EXPECT_EQ(Flatten(stored.records), Flatten(expected));
  EXPECT_EQ(stored.crc, Crc(stored.raw));
}

TEST(VerifyE2eTest, ScriptsWithoutASectionOrWithItIgnoredStoreNoRecords) {
  e2e::Scratch scratch;
  std::string plain = scratch.Write("plain.lua", kCode);
  scratch.WriteSettings("[settings]\r\nverify::remind = 1\r\n");
  e2e::RunResult run = e2e::Compile(scratch, plain, scratch.Path("plain.qp"));
  ASSERT_EQ(run.exit_code, 0) << run.output;
  EXPECT_TRUE(HasLine(run, "[Reminder]: There was no verification section found in the code!"))
      << run.output;
  StoredRecords stored = ReadRecords(scratch.Read("plain.qp"));
  EXPECT_EQ(stored.count, 0u);
  EXPECT_EQ(stored.crc, 0u);

  // Ignored: even two sections with code after them draw no error.
  scratch.WriteSettings("[settings]\r\nverify::ignore = 1\r\nverify::remind = 1\r\n");
  std::string section = "--[=[<akqp:verify><a></akqp:verify>]=]\r\n";
  std::string twice = scratch.Write("twice.lua", section + section + kCode);
  run = e2e::Compile(scratch, twice, scratch.Path("twice.qp"));
  ASSERT_EQ(run.exit_code, 0) << run.output;
  EXPECT_TRUE(HasLine(run, "[Info]: Verification sections are being ignored! Check settings -> "
                           "compiler to disable this feature."))
      << run.output;
  EXPECT_THAT(run.output, Not(HasSubstr("[ERROR]")));
  EXPECT_THAT(run.output, Not(HasSubstr("[Reminder]")));
  EXPECT_EQ(ReadRecords(scratch.Read("twice.qp")).count, 0u);
}

TEST(VerifyE2eTest, AVerificationFileTakesThePlaceOfTheScriptsSection) {
  e2e::Scratch scratch;
  // The script ends in a line comment without a line break: the appended section must
  // still start on a line of its own.
  std::string script = scratch.Write(
      "s.lua", kCode +
                   "--[=[\n<akqp:verify><mainWindow><title>embedded</title></mainWindow>"
                   "</akqp:verify>\n]=]\n-- the end");
  std::string file = scratch.Write(
      "checks.xml",
      "  <akqp:verify>\r\n<mainWindow><title>from file</title></mainWindow>\r\n</akqp:verify>  ");
  e2e::RunResult run =
      e2e::Compile(scratch, script, scratch.Path("s.qp"), {"--verify", file});
  ASSERT_EQ(run.exit_code, 0) << run.output;
  StoredRecords stored = ReadRecords(scratch.Read("s.qp"));
  ASSERT_EQ(stored.count, 1u) << run.output;
  EXPECT_EQ(stored.records[0].secondCrc, Crc("from file"));
}

TEST(VerifyE2eTest, AFailedSectionStopsTheCompileBeforeTheScriptRuns) {
  e2e::Scratch scratch;
  const std::string section = "--[=[<akqp:verify></akqp:verify>]=]";
  struct Case {
    std::string name;
    std::string script;
    std::vector<std::string> lines;
  } cases[] = {
      {"two", kCode + section + "\n" + section,
       {"[ERROR]: Too many verify directives found, only one allowed and end of file!"}},
      {"after", kCode + section + "\n\tprint('x')",
       {"[ERROR]: When a verify section is added, nothing may follow!"}},
      {"malformed",
       kCode + "--[=[\n<akqp:verify>\n  <globals>\n</akqp:verify>\n]=]",
       {"[ERROR]: Verify section's XML format is malformed!", "[ERROR]: mismatched tag",
        "[ERROR]: At line: 4", "[ERROR]: At position: 2"}},
  };
  for (const Case& c : cases) {
    std::string script = scratch.Write(c.name + ".lua", "print('ran')\n" + c.script);
    std::string out = scratch.Path(c.name + ".qp");
    e2e::RunResult run = e2e::Compile(scratch, script, out);
    EXPECT_EQ(run.exit_code, 1) << c.name << "\n" << run.output;
    for (const std::string& line : c.lines)
      EXPECT_TRUE(HasLine(run, line)) << c.name << " lacks " << line << "\n" << run.output;
    EXPECT_THAT(run.lines, Not(Contains(kFinished))) << c.name;
    EXPECT_THAT(run.lines, Not(Contains("ran"))) << c.name;
    EXPECT_EQ(scratch.Read(out), "") << c.name;
  }
}

}  // namespace
