#include "media/strings.h"

#include <gtest/gtest.h>

struct SplitCase {
  std::string source, separator;
  bool cut;
  std::string head, rest;
};

void PrintTo(const SplitCase& c, std::ostream* os) {
  *os << '"' << c.source << "\" at \"" << c.separator << '"' << (c.cut ? " cut" : "");
}

class SplitAtSeparatorTest : public ::testing::TestWithParam<SplitCase> {};

TEST_P(SplitAtSeparatorTest, HeadAndRest) {
  const auto& c = GetParam();
  std::string source = c.source;
  EXPECT_EQ(SplitAtSeparator(source, c.separator, c.cut), c.head);
  EXPECT_EQ(source, c.rest);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SplitAtSeparatorTest,
    ::testing::Values(SplitCase{"a=b", "=", true, "a", "b"},
                      SplitCase{"a=b", "=", false, "a", "a=b"},
                      SplitCase{"abc", "=", true, "abc", ""},
                      SplitCase{"abc", "=", false, "abc", "abc"},
                      SplitCase{"=x", "=", true, "", "x"},
                      SplitCase{"a<CRLF>b<CRLF>", "<CRLF>", true, "a", "b<CRLF>"},
                      SplitCase{"a=b=c", "=", true, "a", "b=c"}, SplitCase{"", "=", true, "", ""},
                      SplitCase{"abc", "", true, "abc", ""}));

TEST(SameText, IgnoresAsciiCaseOnly) {
  EXPECT_TRUE(SameText("OutPutDir", "outputdir"));
  EXPECT_FALSE(SameText("abc", "abd"));
  EXPECT_FALSE(SameText("abc", "abcd"));
  EXPECT_EQ(LowerCase("FormatInfo101"), "formatinfo101");
}
