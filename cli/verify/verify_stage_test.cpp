#include "cli/verify/verify_stage.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>

#include "cli/driver/job_loader.h"
#include "cli/verify/verify_test_support.h"

namespace verify {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

const std::string kScript = "return { info = { name = \"m\" } }\n";
const std::string kWarning =
    "[Warning]: Verify file 'checks/v.xml' holds no <akqp:verify> section, so the QP file "
    "gets no verification records.";

class VerifyFileWarningTest : public VerifyTest {
 protected:
  // The job's text for a verification file, as the job loader builds it.
  std::vector<std::string> Warn(const std::string& file_text) {
    lines_.clear();
    WarnWhenVerifyFileGivesNoSection(AppendVerificationText(kScript, file_text), "checks/v.xml");
    return lines_;
  }
};

TEST_F(VerifyFileWarningTest, AFileThatFormsNoSectionIsNamed) {
  EXPECT_THAT(Warn("<version><ams>9</ams></version>"), ElementsAre(kWarning));
  EXPECT_THAT(Warn("<?xml version=\"1.0\"?>\r\n<akqp:verify></akqp:verify>"), ElementsAre(kWarning));
  EXPECT_THAT(Warn("<akqp:verify><version/></akqp:verify>"), IsEmpty());
  // A file that forms a section the checks then refuse is reported by the checks.
  EXPECT_THAT(Warn("<akqp:verify><bogus/></akqp:verify>"), IsEmpty());
}

TEST_F(VerifyFileWarningTest, TheWarningFollowsTheSettings) {
  settings::SetForTest("compiler::warnings", 0);
  EXPECT_THAT(Warn("<version/>"), IsEmpty());
  settings::SetForTest("compiler::warnings", 1);
  settings::SetForTest("verify::ignore", 1);  // ignored anyway, and said so by stage 1
  EXPECT_THAT(Warn("<version/>"), IsEmpty());
}

}  // namespace
}  // namespace verify
