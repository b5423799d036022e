#include "base/TextLists.h"

#include <gtest/gtest.h>

using namespace vtr;

TEST(CommaText, WritesQuotedWhereNeeded)
{
  const struct
  {
    TextLines lines;
    const char* text;
  } cases[] = {
      {{}, ""},
      {{""}, "\"\""},
      {{"a", "b"}, "a,b"},
      {{"two words"}, "\"two words\""},
      {{"say \"hi\""}, "\"say \"\"hi\"\"\""},
      {{"a,b"}, "\"a,b\""},
      {{"tab\there"}, "\"tab\there\""},
      {{"a", ""}, "a,"},
      {{"", "a"}, ",a"},
      {{"", ""}, ","},
      {{"Zürich"}, "Zürich"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ToCommaText(c.lines), c.text);
    EXPECT_EQ(FromCommaText(c.text), c.lines) << c.text;
  }
}

TEST(CommaText, RoundTripsAwkwardLines)
{
  const TextLines awkward[] = {
      {" leading", "trailing ", "  "},
      {"\"", "\"\"", ",", ",,"},
      {"line\x01one", "\x1f", "x\x7fy"},
      {"", "", ""},
      {"ÄÖÜ é", "日本"},
  };
  for (const auto& lines : awkward)
    EXPECT_EQ(FromCommaText(ToCommaText(lines)), lines);
}

TEST(CommaText, ReadsLooseInput)
{
  EXPECT_EQ(FromCommaText("  a , b "), (TextLines{"a", "b"}));
  EXPECT_EQ(FromCommaText("\"unterminated, rest"), (TextLines{"unterminated, rest"}));
  EXPECT_EQ(FromCommaText("a b"), (TextLines{"a", "b"}));
  EXPECT_EQ(FromCommaText("\"a\"b"), (TextLines{"a", "b"}));
  EXPECT_EQ(FromCommaText("a,,b"), (TextLines{"a", "", "b"}));
  // A NUL ends the text rather than stalling the reader.
  EXPECT_EQ(FromCommaText(std::string("a,b\0c,d", 7)), (TextLines{"a", "b"}));
}

TEST(Lines, SplitAtEveryBreakWithoutAFinalEmptyLine)
{
  EXPECT_EQ(SplitLines("a\r\nb\rc\nd"), (TextLines{"a", "b", "c", "d"}));
  EXPECT_EQ(SplitLines("a\r\n"), (TextLines{"a"}));
  EXPECT_EQ(SplitLines("a\r\n\r\n"), (TextLines{"a", ""}));
  EXPECT_EQ(SplitLines(""), TextLines{});
  EXPECT_EQ(JoinLines({"a", ""}), "a\r\n\r\n");
}

TEST(KeyValueList, LookupIgnoresCaseAndTakesTheFirst)
{
  KeyValueList kv;
  kv.SetText("VersionSave=5\r\nName=a=b\r\nnoequals\r\nname=second\r\n");
  EXPECT_EQ(kv.Value("versionsave"), "5");
  EXPECT_EQ(kv.Value("NAME"), "a=b");
  EXPECT_EQ(kv.Value("missing"), "");
  EXPECT_EQ(kv.IndexOfName(""), 2); // a line without "=" has the empty name
  EXPECT_EQ(KeyValueList::NameOf("x=1=2"), "x");
  EXPECT_EQ(KeyValueList::ValueOf("x=1=2"), "1=2");
}

TEST(KeyValueList, SettingReplacesAppendsOrDeletes)
{
  KeyValueList kv({"a=1", "b=2"});
  kv.SetValue("A", "9");
  kv.SetValue("c", "3");
  kv.SetValue("b", "");
  kv.SetValue("missing", "");
  EXPECT_EQ(kv.Lines(), (TextLines{"A=9", "c=3"}));
  EXPECT_EQ(kv.Text(), "A=9\r\nc=3\r\n");
}
