#include "base/DateTime.h"

#include <gtest/gtest.h>

using namespace vtr;

TEST(DateTime, DaysSince1899)
{
  const struct
  {
    DateTimeFields f;
    double days;
  } cases[] = {
      {{1899, 12, 30, 0, 0, 0, 0}, 0.0},
      {{1900, 1, 1, 0, 0, 0, 0}, 2.0},
      {{2000, 1, 1, 12, 0, 0, 0}, 36526.5},
      {{2013, 12, 26, 20, 47, 0, 0}, 41634.8659722222},
      {{1899, 12, 29, 6, 0, 0, 0}, -1.25},
  };
  for (const auto& c : cases) {
    EXPECT_NEAR(EncodeDateTime(c.f), c.days, 1e-9);
    const DateTimeFields back = DecodeDateTime(c.days);
    EXPECT_EQ(back.year, c.f.year);
    EXPECT_EQ(back.month, c.f.month);
    EXPECT_EQ(back.day, c.f.day);
    EXPECT_EQ(back.hour, c.f.hour);
    EXPECT_EQ(back.minute, c.f.minute);
  }
}
