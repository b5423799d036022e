#include "base/Convert.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <limits>

using namespace vtr;

TEST(NumberText, SixSignificantDigits)
{
  const struct
  {
    double value;
    const char* text;
  } cases[] = {
      {36.5, "36.5"},
      {51.123456789, "51.1235"},
      {-0.125, "-.125"},
      {0.5, ".5"},
      {1234567, "1234570"},
      {123456789, "1.23457E8"},
      {0.00001, "1E-5"},
      {41634.8665, "41634.9"},
      {0, "0"},
      {-0.0, "0"},
      {1, "1"},
      {100, "100"},
      {999999.5, "1000000"}, // rounds up into the next decade
      {12345650, "12345600"}, // half to even: 123456.5 -> 123456
      {0.05, ".05"},
      {0.005, "5E-3"},
      {-180, "-180"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(FloatToNumText(c.value), c.text) << c.value;
}

TEST(NumberText, ReadsBackWhatItWrites)
{
  for (double v : {36.5, -0.125, 1e-5, 1.23457e8, 41634.9, 0.5, 89.9999})
    EXPECT_DOUBLE_EQ(StrToFloat(FloatToNumText(v)), v);
}

TEST(IsNumericText, Table)
{
  const struct
  {
    const char* text;
    bool numeric;
  } cases[] = {
      {"12", true},   {"  -3.5E+2", true}, {".", true},    {"E5", true},   {"5.", true},
      {".5", true},   {"+7", true},        {"1e-3", true}, {"", false},    {"-", false},
      {"e", false},   {"1 ", false},       {"1,5", false}, {"0x10", false}, {"1.2.3", false},
      {"+", false},   {"1e", false},       {"1e+", false}, {"\t1", false}, {"--1", false},
      {"000000000002", true},
  };
  for (const auto& c : cases)
    EXPECT_EQ(IsNumericText(c.text), c.numeric) << '"' << c.text << '"';
}

TEST(StrToNumber, AcceptsAndRejects)
{
  EXPECT_EQ(StrToInt("90"), 90);
  EXPECT_EQ(StrToInt("-2147483648"), std::numeric_limits<int32_t>::min());
  EXPECT_EQ(StrToInt(" +15"), 15);
  EXPECT_EQ(StrToInt64("4294967295"), 4294967295LL);
  EXPECT_DOUBLE_EQ(StrToFloat(" -0.5 "), -0.5);
  EXPECT_DOUBLE_EQ(StrToFloat("5."), 5.0);
  EXPECT_DOUBLE_EQ(StrToFloat("1E-5"), 1e-5);
  // Below the smallest double reads as zero, whatever the digits before the exponent.
  for (const char* tiny : {"1e-400", "0.1e-330", "-5e-999", "123e-400", ".000e-400"})
    EXPECT_DOUBLE_EQ(StrToFloat(tiny), 0.0) << tiny;

  for (const char* bad : {"90.0", "12.5", "", "abc", "2147483648", "1 ", "+-1", "0x10"})
    EXPECT_FALSE(TryStrToInt(bad).has_value()) << bad;
  for (const char* bad : {"abc", "", ".", "E5", "1,5", "inf", "nan", "1e999", "1.2.3",
                          "0.1e400", ".5e999", "-0.9e309", "1e99999999999999999999"})
    EXPECT_FALSE(TryStrToFloat(bad).has_value()) << bad;
}

TEST(StrToNumber, ErrorMessagesNameTheText)
{
  try {
    StrToInt("90.0");
    FAIL();
  } catch (const EConvertError& e) {
    EXPECT_STREQ(e.what(), "'90.0' is not a valid integer value");
  }
  try {
    StrToFloat("abc");
    FAIL();
  } catch (const EConvertError& e) {
    EXPECT_STREQ(e.what(), "'abc' is not a valid floating point value");
  }
}

TEST(StrToNumber, IndependentOfTheProcessLocale)
{
  vtrtest::CommaDecimalLocale locale;
  if (!locale.Active())
    GTEST_SKIP() << "no locale with a decimal comma: " << locale.Why();
  // The C library now writes a comma...
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.1f", 1.5);
  ASSERT_STREQ(buf, "1,5");
  // ...and ours still reads and writes ".".
  EXPECT_DOUBLE_EQ(StrToFloat("51.1235"), 51.1235);
  EXPECT_FALSE(TryStrToFloat("51,1235").has_value());
  EXPECT_EQ(FloatToNumText(-0.125), "-.125");
  EXPECT_EQ(FloatToNumText(51.123456789), "51.1235");
  EXPECT_TRUE(IsNumericText("3.5"));
  EXPECT_FALSE(IsNumericText("3,5"));
}
