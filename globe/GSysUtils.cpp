#include "globe/GSysUtils.h"

#include "base/Convert.h"
#include "base/TextLists.h"
#include "globe/GClasses.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>

namespace vtr {

namespace {

struct UnitEntry
{
  const char* Abbrev;
  double Factor; // GU per unit
};

constexpr UnitEntry kUnits[kUnitTypeCount] = {
    {"D", 5400000.0},           // guDegree
    {"MN", 90000.0},            // guMinute
    {"NM", 90000.0},            // guNauticalMile
    {"KM", 48565.06423539163},  // guKilometer
    {"MI", 78157.89483968144},  // guMile
    {"S", 1500.0},              // guSecond
    {"T", 250.0},               // guThird
    {"H", 15.0},                // guHundreth
    {"T", 1.0},                 // guThousanth (reads back as guThird)
    {"M", 48.56506423539163},   // guMeter
    {"CM", 0.4856506423539163}, // guCentimeter
    {"F", 88.8157895905471},    // guFathom
    {"YD", 44.40789479527355},  // guYard
    {"FT", 14.802631598424515}, // guFeet
    {"IN", 1.233552633202043},  // guInch
    {"GU", 1.0},                // guGlobeUnit
    {"PI", 0.0},                // guPixel: scale-dependent
};

// Axes are metres converted at 90,000 / 1,852 GU per metre.
constexpr TGSpheroidData kSpheroids[kSpheroidCount] = {
    {"Airy1830", 309924787, 0.0033408506414970775},
    {"Australian1965", 309953780, 0.0033528918692372171},
    {"Bessel1841", 309916708, 0.0033427731821748059},
    {"Clarke1866", 309956035, 0.0033900753040885176},
    {"Clarke1880", 309958112, 0.003407561378699334},
    {"Everest1830", 309910838, 0.0033244492966628845},
    {"GRS1967", 309953780, 0.0033529237129964139},
    {"GRS1980", 309952662, 0.0033528106811823188},
    {"Helmert1906", 309955724, 0.003352329869259135},
    {"Hough", 309959125, 0.0033670033670033669},
    {"International1920", 309964860, 0.0033670033670033669},
    {"Krassovsky1940", 309957910, 0.003352329869259135},
    {"SouthAmerican1969", 309953780, 0.0033528918692372171},
    {"WGS60", 309954023, 0.003352329869259135},
    {"WGS66", 309953051, 0.0033528918692372171},
    {"WGS72", 309952565, 0.003352779454167505},
    {"WGS84", 309952662, 0.0033528106647474809},
};

const UnitEntry& Unit(TGUnitTypes unit)
{
  const int i = static_cast<int>(unit);
  G_ASSERT_MSG(i >= 0 && i < kUnitTypeCount, "Bad unit type");
  return kUnits[i];
}

char Upper(char c)
{
  return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

// Decimal digits of v, at least minDigits wide, zero padded ("%2.2d").
std::string Digits(int64_t v, int minDigits)
{
  std::string s = std::to_string(v);
  if (static_cast<int>(s.size()) < minDigits)
    s.insert(0, static_cast<size_t>(minDigits) - s.size(), '0');
  return s;
}

// A decimal integer at the start of s: leading blanks and a sign allowed. Returns the value and
// the 1-based position of the first character after the number, 0 when the number runs to the
// end of s. Without digits the value is 0 and nothing counts as read (position 1).
std::pair<int64_t, size_t> ReadLeadingInt(std::string_view s)
{
  size_t i = 0;
  while (i < s.size() && s[i] == ' ')
    ++i;
  bool negative = false;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
  const size_t digitsStart = i;
  int64_t value = 0;
  constexpr int64_t kCap = 1'000'000'000'000; // far beyond any angle; keeps the sum in 64 bits
  while (i < s.size() && s[i] >= '0' && s[i] <= '9') {
    value = std::min<int64_t>(kCap, value * 10 + (s[i] - '0'));
    ++i;
  }
  if (i == digitsStart) return {0, 1};
  return {negative ? -value : value, i == s.size() ? 0 : i + 1};
}

// Item i of a comma list as an integer; 0 when missing or not a number.
int32_t CommaInt(const TextLines& items, size_t i)
{
  return i < items.size() ? StrToIntDef(items[i], 0) : 0;
}

} // namespace

double UnitFactor(TGUnitTypes unit)
{
  return Unit(unit).Factor;
}

const TGSpheroidData& SpheroidData(TGSpheroid spheroid)
{
  const int i = static_cast<int>(spheroid);
  G_ASSERT_MSG(i >= 0 && i < kSpheroidCount, "Bad spheroid");
  return kSpheroids[i];
}

std::optional<TGSpheroid> SpheroidFromName(std::string_view name)
{
  for (int i = 0; i < kSpheroidCount; ++i)
    if (SameText(kSpheroids[i].Name, name)) return static_cast<TGSpheroid>(i);
  return std::nullopt;
}

// ---------------------------------------------------------------------------------------------
// Rounding and wrapping

int32_t RoundToInt32(long double value)
{
  if (std::isnan(value)) return 0;
  const long double r = std::rint(value);
  if (r >= 2147483647.0L) return std::numeric_limits<int32_t>::max();
  if (r <= -2147483648.0L) return std::numeric_limits<int32_t>::min();
  return static_cast<int32_t>(r);
}

int32_t TruncToInt32(long double value)
{
  if (std::isnan(value)) return 0;
  const long double r = std::trunc(value);
  if (r >= 2147483647.0L) return std::numeric_limits<int32_t>::max();
  if (r <= -2147483648.0L) return std::numeric_limits<int32_t>::min();
  return static_cast<int32_t>(r);
}

int32_t ClampToInt32(int64_t value)
{
  return static_cast<int32_t>(std::clamp<int64_t>(value, std::numeric_limits<int32_t>::min(),
                                                  std::numeric_limits<int32_t>::max()));
}

int32_t LongWrap(int32_t iLong)
{
  // 32-bit inputs need one correction at most: 2^31 - GU_360 lies well inside the range.
  if (iLong > GU_180) return iLong - GU_360;
  if (iLong <= -GU_180) return iLong + GU_360;
  return iLong;
}

int32_t LongWrap64(int64_t iLong)
{
  // Within a turn of the range (every difference of two wrapped longitudes): no division,
  // which renderers pay for on every vertex.
  if (iLong > -GU_180 && iLong <= GU_180) return static_cast<int32_t>(iLong);
  if (iLong > GU_180 && iLong <= int64_t{GU_180} + GU_360)
    return static_cast<int32_t>(iLong - GU_360);
  if (iLong <= -GU_180 && iLong > -int64_t{GU_180} - GU_360)
    return static_cast<int32_t>(iLong + GU_360);
  int64_t r = iLong % GU_360;
  if (r < 0) r += GU_360;
  if (r > GU_180) r -= GU_360;
  return static_cast<int32_t>(r);
}

int32_t LongDiff(int32_t a, int32_t b)
{
  int64_t d = static_cast<int64_t>(b) - a;
  // One move suffices for wrapped inputs; unwrapped 32-bit extremes may need two.
  while (d > GU_180)
    d -= GU_360;
  while (d < -GU_180)
    d += GU_360;
  return d == 0 ? 1 : static_cast<int32_t>(d);
}

bool CrossesAntimeridian(int32_t longA, int32_t longB)
{
  const int32_t qA = longA / GU_90;
  const int32_t qB = longB / GU_90;
  return (qA < 0 && qB > 0) || (qA > 0 && qB < 0);
}

double WrapDegrees(double x)
{
  if (x >= 180) return x - 360;
  if (x < -180) return x + 360;
  return x;
}

long double WrapRadians(long double x)
{
  if (x < -GU_PI) return x + 2 * GU_PI;
  if (x > GU_PI) return x - 2 * GU_PI;
  return x;
}

// ---------------------------------------------------------------------------------------------
// Construction and conversion

TGPointLL PointLL(int32_t iLong, int32_t iLat)
{
  return {LongWrap(iLong), iLat, 0};
}

TGPointLL PointLLH(int32_t iLong, int32_t iLat, int32_t iHeight)
{
  return {LongWrap(iLong), iLat, iHeight};
}

TGPointLL DDToPointLL(long double longDeg, long double latDeg)
{
  const int32_t lon = std::clamp(DDToGU(longDeg), -(GU_180 - 1), GU_180 - 1);
  const int32_t lat = std::clamp(DDToGU(latDeg), -(GU_90 - 1), GU_90 - 1);
  return {lon, lat, 0};
}

int32_t DDToGU(long double degrees)
{
  return RoundToInt32(degrees * GU_DEGREE);
}

long double GUToDD(long double gu)
{
  return gu / GU_DEGREE;
} // exact where the degrees are

TGMER MER(int32_t iLong, int32_t iLat, int32_t iWidth, int32_t iHeight)
{
  return {iLong, iLat, iWidth, iHeight};
}

TGMER DDToMER(long double longDeg, long double latDeg, long double widthDeg, long double heightDeg)
{
  return {DDToGU(longDeg), DDToGU(latDeg), DDToGU(widthDeg), DDToGU(heightDeg)};
}

TGMER WorldMER()
{
  return {-GU_180, -GU_90, GU_360, GU_180};
}

int32_t UnitsToGU(TGUnitTypes unit, double value)
{
  return RoundToInt32(static_cast<long double>(value) * Unit(unit).Factor);
}

double GUToUnits(TGUnitTypes unit, double value)
{
  const double f = Unit(unit).Factor;
  return f == 0 ? value : value / f;
}

long double UnitsToDD(TGUnitTypes unit, double value)
{
  return static_cast<long double>(value) * Unit(unit).Factor / GU_DEGREE;
}

TGUnitTypes StrToUnits(std::string_view text)
{
  for (int i = 0; i < kUnitTypeCount; ++i)
    if (SameText(kUnits[i].Abbrev, text)) return static_cast<TGUnitTypes>(i);
  throw EGException("StrToUnits: Unknown Unit " + std::string(text));
}

std::string UnitsToStr(TGUnitTypes unit)
{
  return Unit(unit).Abbrev;
}

// ---------------------------------------------------------------------------------------------
// Text forms

std::string LLToStr(int32_t value, std::string_view format)
{
  const bool negative = value < 0;
  int64_t v = negative ? -static_cast<int64_t>(value) : value;

  std::string upper(format);
  for (char& c : upper)
    c = Upper(c);
  bool minusDue =
      negative && upper.find("%N") == std::string::npos && upper.find("%E") == std::string::npos;

  const int64_t D = v / GU_DEGREE;
  v -= D * GU_DEGREE;
  const int64_t M = v / GU_MINUTE;
  v -= M * GU_MINUTE;
  const int64_t I = v / 90; // thousandths of a minute, before the seconds come off
  const int64_t S = v / GU_SECOND;
  v -= S * GU_SECOND;
  const int64_t T = v / 250; // sixths of a second
  v -= T * 250;
  const int64_t U = v;

  std::string out;
  for (size_t i = 0; i < format.size(); ++i) {
    if (format[i] != '%') {
      out += format[i];
      continue;
    }
    if (minusDue) {
      out += '-';
      minusDue = false;
    }
    if (++i >= format.size()) break;
    const char letter = Upper(format[i]);
    switch (letter) {
    case 'D':
      out += std::to_string(D);
      break;
    case 'M':
      out += Digits(M, 2);
      break;
    case 'I':
      out += Digits(I, 3);
      break;
    case 'S':
      out += Digits(S, 2);
      break;
    case 'T':
      out += Digits(T, 2);
      break;
    case 'U':
      out += Digits(U, 2);
      break;
    case 'N':
      out += negative ? 'S' : 'N';
      break;
    case 'E':
      out += negative ? 'W' : 'E';
      break;
    default:
      out += letter;
      break;
    }
  }
  return out;
}

int32_t StrToLL(std::string_view text, std::string_view format)
{
  constexpr size_t kMaxWork = 255;
  std::string work(text.substr(0, std::min(text.size(), kMaxWork)));
  int64_t D = 0, M = 0, I = 0, S = 0, T = 0, H = 0, U = 0;
  bool positive = true;
  size_t consumed = 1; // 1-based: characters up to consumed - 1 are used up
  size_t i = 0;
  while (work.size() >= consumed && i < format.size()) {
    if (consumed > 1) work.erase(0, consumed - 1);
    consumed = 2; // a matched character or letter uses one character
    if (format[i] == '%') {
      ++i;
      const char letter = i < format.size() ? Upper(format[i]) : '\0';
      int64_t* field = nullptr;
      switch (letter) {
      case 'D':
        field = &D;
        break;
      case 'M':
        field = &M;
        break;
      case 'I':
        field = &I;
        break;
      case 'S':
        field = &S;
        break;
      case 'H':
        field = &H;
        break;
      case 'T':
        field = &T;
        break;
      case 'U':
        field = &U;
        break;
      case 'E':
        positive = Upper(work[0]) == 'E';
        break;
      case 'N':
        positive = Upper(work[0]) == 'N';
        break;
      default:
        throw EConvertError("StrToLL: format error");
      }
      if (field) {
        // A number running to the end leaves the text in place for the next items.
        const auto [value, next] = ReadLeadingInt(work);
        *field = value;
        consumed = next;
      }
    } else if (work[0] != format[i]) {
      break;
    }
    ++i;
  }
  const int64_t gu = D * GU_DEGREE + M * GU_MINUTE + I * 90 + S * GU_SECOND + T * 250 + H * 15 + U;
  return ClampToInt32(positive ? gu : -gu);
}

std::string PointLLToStr(const TGPointLL& pt)
{
  std::string s = std::to_string(pt.iLongX) + "," + std::to_string(pt.iLatY);
  if (pt.iHeightZ != 0) s += "," + std::to_string(pt.iHeightZ);
  return s;
}

TGPointLL StrToPointLL(std::string_view text)
{
  const TextLines items = FromCommaText(text);
  return {CommaInt(items, 0), CommaInt(items, 1), CommaInt(items, 2)};
}

std::string MERToStr(const TGMER& m)
{
  return std::to_string(m.iLongX) + "," + std::to_string(m.iLatY) + "," +
         std::to_string(m.iWidthX) + "," + std::to_string(m.iHeightY);
}

std::string PointToStr(const TGPoint& pt)
{
  return std::to_string(pt.X) + "," + std::to_string(pt.Y);
}

TGPoint StrToPoint(std::string_view text)
{
  const TextLines items = FromCommaText(text);
  return {CommaInt(items, 0), CommaInt(items, 1)};
}

std::string CSLGetItem(std::string_view list, int index)
{
  if (index < 0) return {};
  const TextLines items = FromCommaText(list);
  return static_cast<size_t>(index) < items.size() ? items[static_cast<size_t>(index)]
                                                   : std::string();
}

std::string CSLSetItem(std::string_view list, std::string_view item, int index)
{
  if (index < 0) return std::string(list);
  TextLines items = FromCommaText(list);
  if (items.size() <= static_cast<size_t>(index)) items.resize(static_cast<size_t>(index) + 1);
  items[static_cast<size_t>(index)] = std::string(item);
  return ToCommaText(items);
}

std::string FloatToStrDot(double x)
{
  if (std::isnan(x)) return "NAN";
  if (std::isinf(x)) return x < 0 ? "-INF" : "INF";
  if (x == 0) return "0";
  // Shortest round-trip digits, then laid out by hand so no locale is involved.
  char buf[64];
  auto res = std::to_chars(buf, buf + sizeof buf, x, std::chars_format::scientific);
  std::string sci(buf, res.ptr);
  const size_t ePos = sci.find('e');
  int exp10 = std::stoi(sci.substr(ePos + 1));
  std::string mant = sci.substr(0, ePos);
  const bool negative = mant[0] == '-';
  if (negative) mant.erase(0, 1);
  std::string digits;
  for (char c : mant)
    if (c != '.') digits += c;
  std::string out = negative ? "-" : "";
  if (exp10 >= -5 && exp10 < 15) {
    if (exp10 < 0) {
      out += "0." + std::string(static_cast<size_t>(-exp10 - 1), '0') + digits;
    } else if (static_cast<size_t>(exp10) + 1 >= digits.size()) {
      out += digits + std::string(static_cast<size_t>(exp10) + 1 - digits.size(), '0');
    } else {
      out += digits.substr(0, static_cast<size_t>(exp10) + 1) + "." +
             digits.substr(static_cast<size_t>(exp10) + 1);
    }
  } else {
    out += digits.substr(0, 1);
    if (digits.size() > 1) out += "." + digits.substr(1);
    out += "E" + std::to_string(exp10);
  }
  return out;
}

long double StrToFloatDefDot(std::string_view text, long double def)
{
  if (auto v = TryStrToFloat(text)) return *v;
  return def;
}

// ---------------------------------------------------------------------------------------------
// MER algebra

int64_t MERRight(const TGMER& m)
{
  return static_cast<int64_t>(m.iLongX) + m.iWidthX;
}
int64_t MERTop(const TGMER& m)
{
  return static_cast<int64_t>(m.iLatY) + m.iHeightY;
}

TGPointLL MERCenter(const TGMER& m)
{
  return {ClampToInt32(static_cast<int64_t>(m.iLongX) + m.iWidthX / 2),
          ClampToInt32(static_cast<int64_t>(m.iLatY) + m.iHeightY / 2), 0};
}

bool MERIsEmpty(const TGMER& m)
{
  return m.iWidthX == 0 && m.iHeightY == 0;
}

bool MEREqual(const TGMER& a, const TGMER& b)
{
  return a == b;
}

void MERClear(TGMER& m)
{
  m = TGMER{};
}

TGMER MERInflate(const TGMER& m, int32_t dx, int32_t dy)
{
  return {ClampToInt32(static_cast<int64_t>(m.iLongX) - dx),
          ClampToInt32(static_cast<int64_t>(m.iLatY) - dy),
          ClampToInt32(static_cast<int64_t>(m.iWidthX) + 2 * static_cast<int64_t>(dx)),
          ClampToInt32(static_cast<int64_t>(m.iHeightY) + 2 * static_cast<int64_t>(dy))};
}

bool MERContainsMER(const TGMER& outer, const TGMER& inner)
{
  return !(inner.iLongX < outer.iLongX || MERRight(inner) >= MERRight(outer) ||
           inner.iLatY < outer.iLatY || MERTop(inner) >= MERTop(outer));
}

TGMERHitZone MERHitZone(const TGMER& m, const TGPointLL& p)
{
  if (p.iLatY < m.iLatY || p.iLatY > MERTop(m)) return hzNone;
  const int64_t right = MERRight(m);
  if (right <= GU_180) return (m.iLongX <= p.iLongX && p.iLongX <= right) ? hzHit : hzNone;
  // Across the meridian. +180 itself (the wrapped form of -180) belongs to the west part.
  if (m.iLongX <= p.iLongX && p.iLongX <= GU_180) return hzPlus180;
  if (p.iLongX >= -GU_180 && p.iLongX <= LongWrap64(right)) return hzMinus180;
  return hzNone;
}

bool LLInMER(const TGMER& m, const TGPointLL& p)
{
  return MERHitZone(m, p) != hzNone;
}

bool MERIntersects(const TGMER& a, const TGMER& b)
{
  if (!(MERTop(a) >= b.iLatY && MERTop(b) >= a.iLatY)) return false;
  if (MERRight(a) > GU_180) {
    const int64_t w = static_cast<int64_t>(GU_180) - a.iLongX;
    const TGMER west{a.iLongX, a.iLatY, ClampToInt32(w), a.iHeightY};
    const TGMER east{-GU_180, a.iLatY, ClampToInt32(a.iWidthX - w), a.iHeightY};
    return MERIntersects(west, b) || MERIntersects(east, b);
  }
  if (MERRight(b) > GU_180) {
    const int64_t w = static_cast<int64_t>(GU_180) - b.iLongX;
    const TGMER west{b.iLongX, b.iLatY, ClampToInt32(w), b.iHeightY};
    const TGMER east{-GU_180, b.iLatY, ClampToInt32(b.iWidthX - w), b.iHeightY};
    return MERIntersects(a, west) || MERIntersects(a, east);
  }
  return a.iLongX <= MERRight(b) && MERRight(a) >= b.iLongX;
}

TGMER MERUnion(const TGMER& a, const TGMER& b)
{
  if (MERIsEmpty(a)) return b;
  if (MERIsEmpty(b)) return a;
  const int32_t lat = std::min(a.iLatY, b.iLatY);
  const int64_t height = std::max(MERTop(a), MERTop(b)) - lat;

  int64_t start = 0, span = 0, minimum = 0;
  const bool aEast = a.iLongX >= 0; // zero counts as positive
  const bool bEast = b.iLongX >= 0;
  if (aEast == bEast) {
    const TGMER& first = a.iLongX <= b.iLongX ? a : b;
    const TGMER& other = &first == &a ? b : a;
    start = first.iLongX;
    span = MERRight(other) - first.iLongX;
    minimum = first.iWidthX;
  } else {
    // w starts west of 0, e east of it: either the direct span from w eastwards, or the span
    // from e eastwards across the meridian to w's right edge.
    const TGMER& w = aEast ? b : a;
    const TGMER& e = aEast ? a : b;
    const int64_t across = MERRight(w) - e.iLongX + GU_360;
    const int64_t direct = MERRight(e) - w.iLongX;
    if (std::llabs(across) > std::llabs(direct) || w.iWidthX > GU_90) {
      start = w.iLongX;
      span = direct;
      minimum = w.iWidthX;
    } else {
      start = e.iLongX;
      span = across;
      minimum = e.iWidthX;
    }
  }
  return {ClampToInt32(start), lat, ClampToInt32(std::max(minimum, span)), ClampToInt32(height)};
}

TGRect NormalizeRect(const TGRect& r)
{
  return {std::min(r.Left, r.Right), std::min(r.Top, r.Bottom), std::max(r.Left, r.Right),
          std::max(r.Top, r.Bottom)};
}

bool PointOnSegment(double px, double py, double x1, double y1, double x2, double y2,
                    double tolerance)
{
  const double dx = x2 - x1;
  const double dy = y2 - y1;
  const double l2 = dx * dx + dy * dy;
  if (l2 == 0) return false;
  const double r = ((px - x1) * dx + (py - y1) * dy) / l2;
  if (r < 0 || r > 1) return false;
  return tolerance >= std::sqrt(l2) * std::fabs((y1 - py) * dx - (x1 - px) * dy) / l2;
}

// ---------------------------------------------------------------------------------------------
// 2-D vectors

TGVec V2FromLL(const TGPointLL& pt)
{
  return {static_cast<long double>(pt.iLongX), pt.iLatY * 1.0L};
}
TGVec V2Make(long double x, long double y)
{
  return {x, y};
}
long double V2Length(const TGVec& v)
{
  return std::hypot(v.X, v.Y);
}
TGVec V2Sub(const TGVec& a, const TGVec& b)
{
  return {a.X - b.X, a.Y - b.Y};
}
TGVec V2Add(const TGVec& a, const TGVec& b)
{
  return {a.X + b.X, a.Y + b.Y};
}
TGVec V2Scale(const TGVec& v, long double k)
{
  return {v.X * k, v.Y * k};
}
TGVec V2Perp(const TGVec& v)
{
  return {-v.Y, v.X};
}
long double V2Dot(const TGVec& a, const TGVec& b)
{
  return a.X * b.X + a.Y * b.Y;
}

} // namespace vtr
