// Test support for the verification stage: captures console lines and sets the four
// settings the stage reads.
#pragma once

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "common/platform/console.h"
#include "common/settings/settings.h"

namespace verify {

class VerifyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    settings::ClearForTest();
    settings::SetForTest("compiler::warnings", 1);
    settings::SetForTest("compiler::information", 1);
    settings::SetForTest("verify::ignore", 0);
    settings::SetForTest("verify::remind", 0);
    platform::ConsoleSetSink([this](std::string_view line) { lines_.emplace_back(line); });
  }
  void TearDown() override {
    platform::ConsoleSetSink(nullptr);
    settings::ClearForTest();
  }

  std::vector<std::string> lines_;
};

}  // namespace verify
