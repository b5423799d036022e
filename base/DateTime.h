#pragma once
// Date-times as days since 1899-12-30 00:00, the time of day as the fraction. The one place
// that converts them to and from calendar fields.

#include <cstdint>

namespace vtr {

using TDateTime = double;

struct DateTimeFields
{
  int year = 1899, month = 12, day = 30;
  int hour = 0, minute = 0, second = 0, millisecond = 0;
};

// Calendar fields (proleptic Gregorian) to days; the fields must be in range.
TDateTime EncodeDateTime(const DateTimeFields& f);
// Days to fields, to the nearest millisecond. Negative values count back from 1899-12-30
// with the fraction still meaning the time of day forwards (as the classic form does).
DateTimeFields DecodeDateTime(TDateTime t);

// Current local time.
TDateTime NowLocal();
// Current time in UTC.
TDateTime NowUTC();

} // namespace vtr
