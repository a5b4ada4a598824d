#include "pipeline/sanitize_field.h"

#include <gtest/gtest.h>

#include <string>

namespace boardmill::pipeline {
namespace {

using namespace std::string_literals;

TEST(SanitizeFieldTest, ReplacesOnlyTabLineFeedAndCarriageReturnKeepingTheLength) {
  EXPECT_EQ(SanitizeField("a\tb\nc\rd"), "a b c d");
  EXPECT_EQ(SanitizeField("\t\t"), "  ");
  EXPECT_EQ(SanitizeField(""), "");

  // Other control characters, NUL and bytes above 0x7F pass through untouched.
  const std::string untouched = "x\x01\x0b\x0c\x1f\x7f\x80\xff\xc3\xa9"s + '\0' + "y";
  EXPECT_EQ(SanitizeField(untouched), untouched);
}

TEST(SanitizeFieldTest, AppendLeavesWhatIsAlreadyInTheBuffer) {
  std::string row = "kept\t";
  AppendSanitizedField(row, "one\ttwo\r\n");
  EXPECT_EQ(row, "kept\tone two  ");
}

}  // namespace
}  // namespace boardmill::pipeline
