#include "cli/assembler/assembler_messages.h"

#include <gtest/gtest.h>

namespace {

TEST(AssemblerMessagesTest, TableHoldsExactlyItsRows) {
  BuildAssemblerMessageTable();
  BuildAssemblerMessageTable();  // a second build changes nothing
  int rows = 0;
  for (int32_t code = -300; code <= 300; ++code)
    if (!AssemblerMessage(code).empty()) ++rows;
  EXPECT_EQ(rows, 49);
  EXPECT_EQ(AssemblerMessage(0), "Assembled succesfully.");
  EXPECT_EQ(AssemblerMessage(-1), "Invalid parameter");
  EXPECT_EQ(AssemblerMessage(-109), "Invalid operand.");
  EXPECT_EQ(AssemblerMessage(-112), "Sizes do not match.");
  EXPECT_EQ(AssemblerMessage(-141), "Assertion failed.");
  for (int32_t missing : {-137, -138, -139, -9, 3, -142})
    EXPECT_EQ(AssemblerMessage(missing), "") << missing;
}

}  // namespace
