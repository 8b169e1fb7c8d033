#include <gtest/gtest.h>

#include <string>

#include "platform/core/format.h"

using platform::FormatText;

TEST(Format, DirectivesAsTheLogUsesThem) {
  EXPECT_EQ(FormatText("hr = 0x%x. %s", 0x8878122Fu, "text"), "hr = 0x8878122f. text");
  EXPECT_EQ(FormatText("%d %u %X %%", -5, 4000000000u, 0xabu), "-5 4000000000 AB %");
  EXPECT_EQ(FormatText("%02d:%02d", 5, 7), "05:07");
  EXPECT_EQ(FormatText("%-4d|%4s|", 1, "ab"), "1   |  ab|");
  EXPECT_EQ(FormatText("%d", -2147483647 - 1), "-2147483648");
}

TEST(Format, OutputStopsAtTheLimit) {
  const std::string big(2000, 'a');
  const std::string out = FormatText("x%s", big.c_str());
  ASSERT_EQ(out.size(), platform::kFormatLimit);
  EXPECT_EQ(out[0], 'x');
}
