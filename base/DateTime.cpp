#include "base/DateTime.h"

#include <cmath>
#include <ctime>

namespace vtr {

namespace {

// Days from 1970-01-01 to a civil date (H. Hinnant's algorithm).
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d)
{
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const auto yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

void CivilFromDays(int64_t z, int& y, int& m, int& d)
{
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const auto doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  y = static_cast<int>(static_cast<int64_t>(yoe) + era * 400 + (m <= 2));
}

// 1899-12-30 relative to 1970-01-01.
const int64_t kEpochOffset = DaysFromCivil(1899, 12, 30);

TDateTime FromTm(const std::tm& tm, int ms)
{
  return EncodeDateTime({tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min,
                         tm.tm_sec, ms});
}

} // namespace

TDateTime EncodeDateTime(const DateTimeFields& f)
{
  const auto days = static_cast<double>(
      DaysFromCivil(f.year, static_cast<unsigned>(f.month), static_cast<unsigned>(f.day)) -
      kEpochOffset);
  const double frac =
      ((f.hour * 60.0 + f.minute) * 60.0 + f.second + f.millisecond / 1000.0) / 86400.0;
  // Before the epoch the fraction still runs forwards from midnight.
  return days >= 0 ? days + frac : days - frac;
}

DateTimeFields DecodeDateTime(TDateTime t)
{
  const double whole = std::trunc(t);
  auto ms = static_cast<int64_t>(std::llround(std::fabs(t - whole) * 86400000.0));
  auto days = static_cast<int64_t>(whole);
  if (ms >= 86400000) {
    ms -= 86400000;
    days += t >= 0 ? 1 : -1;
  }
  DateTimeFields f;
  CivilFromDays(days + kEpochOffset, f.year, f.month, f.day);
  f.hour = static_cast<int>(ms / 3600000);
  f.minute = static_cast<int>(ms / 60000 % 60);
  f.second = static_cast<int>(ms / 1000 % 60);
  f.millisecond = static_cast<int>(ms % 1000);
  return f;
}

TDateTime NowLocal()
{
  timespec ts{};
  clock_gettime(CLOCK_REALTIME, &ts);
  std::tm tm{};
  localtime_r(&ts.tv_sec, &tm);
  return FromTm(tm, static_cast<int>(ts.tv_nsec / 1000000));
}

TDateTime NowUTC()
{
  timespec ts{};
  clock_gettime(CLOCK_REALTIME, &ts);
  std::tm tm{};
  gmtime_r(&ts.tv_sec, &tm);
  return FromTm(tm, static_cast<int>(ts.tv_nsec / 1000000));
}

} // namespace vtr
