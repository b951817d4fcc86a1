#include "media/strings.h"

#include <gtest/gtest.h>

using namespace std::string_literals;

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

struct TrimCase {
  std::string text, trimmed;
};

class TrimTest : public ::testing::TestWithParam<TrimCase> {};

TEST_P(TrimTest, DropsOuterWhitespaceOnly) {
  EXPECT_EQ(Trim(GetParam().text), GetParam().trimmed);
}

INSTANTIATE_TEST_SUITE_P(Cases, TrimTest,
                         ::testing::Values(TrimCase{"", ""}, TrimCase{" \t\r\n\v\f", ""},
                                           TrimCase{"a", "a"},
                                           TrimCase{"  key = value \t", "key = value"},
                                           TrimCase{"\r\nline\r\n", "line"},
                                           TrimCase{"\va b\f", "a b"}, TrimCase{"x\0y"s, "x\0y"s},
                                           TrimCase{"\xC3\xA9 ", "\xC3\xA9"}));

TEST(FormatText, HasNoLengthLimit) {
  EXPECT_EQ(FormatText("%d:%s", 42, "x"), "42:x");
  EXPECT_EQ(FormatText("%s", ""), "");
  const std::string longText(100000, 'z');  // longer than any fixed buffer the texts had
  EXPECT_EQ(FormatText("<%s>", longText.c_str()), "<" + longText + ">");
}
