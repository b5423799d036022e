#pragma once
// Globe units and the plain records built on them, the measuring units and spheroids, angle
// and longitude wrapping (this unit owns it), conversions, the text forms of angles, points and
// rectangles, and the rectangle (MER) algebra that understands the +-180 degree meridian.
// Plain C++ (no Qt); free functions without state.
//
// Globe units (GU): 5,400,000 per degree, 90,000 per minute of arc (one nautical mile along a
// meridian), 1,500 per second. Longitudes are kept in (-GU_180, GU_180] after wrapping,
// latitudes in [-GU_90, GU_90]. Coordinates are 32-bit integers; floating point is used only
// inside projections and geodesy, in extended precision (long double), and results are rounded
// back to GU half to even.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vtr {

// ---------------------------------------------------------------------------------------------
// Constants

inline constexpr int32_t GU_DEGREE = 5'400'000;
inline constexpr int32_t GU_MINUTE = 90'000;
inline constexpr int32_t GU_SECOND = 1'500;
inline constexpr int32_t GU_90 = 486'000'000;
inline constexpr int32_t GU_180 = 972'000'000;
inline constexpr int32_t GU_360 = 1'944'000'000; // full circle; still fits 32 bits

inline constexpr long double GU_PI = 3.141592653589793238462643383279502884L;
inline constexpr long double GU_PER_RADIAN = 309'397'209.37064453276L; // 5,400,000 * 180 / pi
inline constexpr long double RADIANS_PER_GU = GU_PI / 972'000'000.0L;  // 3.2320912073969064e-09
inline constexpr long double DEGREES_PER_GU = 1.0L / 5'400'000.0L;     // 1.8518518518518518e-07
inline constexpr long double EarthRadiusGU = 309'754'584.54206382096L; // 6,378,136 m
inline constexpr long double GU_PER_METRE = 48.56506423539163L;        // unit table's metre

// ---------------------------------------------------------------------------------------------
// Records

// A geographic point. iLongX: longitude in GU, (-GU_180, GU_180] once wrapped; iLatY:
// latitude in GU, [-GU_90, GU_90]; iHeightZ: height in GU above the sphere (0 for map points).
struct TGPointLL
{
  int32_t iLongX = 0;
  int32_t iLatY = 0;
  int32_t iHeightZ = 0;
  friend bool operator==(const TGPointLL&, const TGPointLL&) = default;
};

// A point in decimal degrees (height in degrees of arc too, as the point stores give it).
using TGDecimalDegree = long double;
struct TGPointDD
{
  TGDecimalDegree LongX = 0;
  TGDecimalDegree LatY = 0;
  TGDecimalDegree HeightZ = 0;
  friend bool operator==(const TGPointDD&, const TGPointDD&) = default;
};

// A 3-D vector. For points on the globe (GU): X towards (0, 90E), Y towards the north pole,
// Z towards (0, 0).
struct TGPoint3D
{
  long double X = 0;
  long double Y = 0;
  long double Z = 0;
  friend bool operator==(const TGPoint3D&, const TGPoint3D&) = default;
};
using TGPoint3DArray = std::vector<TGPoint3D>;

// Minimum enclosing rectangle: south-west corner and extent in GU. iLongX + iWidthX may exceed
// GU_180; such a MER runs across the +-180 meridian (east of the meridian it continues at
// -GU_180). Use MERRight/MERTop for the far edges: they are computed in 64 bits.
struct TGMER
{
  int32_t iLongX = 0;
  int32_t iLatY = 0;
  int32_t iWidthX = 0;
  int32_t iHeightY = 0;
  friend bool operator==(const TGMER&, const TGMER&) = default;
};

// 2-D vector (any unit; GU when built from a point).
struct TGVec
{
  long double X = 0;
  long double Y = 0;
  friend bool operator==(const TGVec&, const TGVec&) = default;
};

// A device point and rectangle in pixels (Right and Bottom exclusive).
struct TGPoint
{
  int32_t X = 0;
  int32_t Y = 0;
  friend bool operator==(const TGPoint&, const TGPoint&) = default;
};
struct TGRect
{
  int32_t Left = 0;
  int32_t Top = 0;
  int32_t Right = 0;
  int32_t Bottom = 0;
  friend bool operator==(const TGRect&, const TGRect&) = default;
};

using TGTriangle = std::array<TGPoint, 3>;
using TGTriangleLL = std::array<TGPointLL, 3>;

// 4 x 4 matrix, row-major; rotations use the upper-left 3 x 3 block (terms 0-2, 4-6, 8-10).
struct TGMatrix
{
  std::array<double, 16> terms{};
  friend bool operator==(const TGMatrix&, const TGMatrix&) = default;
};

// A rotation: (axis * sin(angle/2), cos(angle/2)).
struct TGQuaternion
{
  double X = 0;
  double Y = 0;
  double Z = 0;
  double W = 1;
  friend bool operator==(const TGQuaternion&, const TGQuaternion&) = default;
};

enum TGMERHitZone { hzNone, hzHit, hzPlus180, hzMinus180 };
enum TGTriState { tsUnknown, tsFalse, tsTrue };

// ---------------------------------------------------------------------------------------------
// Colours: red in bits 0-7, green 8-15, blue 16-23 (the platform's colour value).

using TColor = int32_t;
inline constexpr TColor clNone = 0x1FFFFFFF;
inline constexpr TColor clBlack = 0x000000;
inline constexpr TColor clWhite = 0xFFFFFF;
inline constexpr TColor clRed = 0x0000FF;
inline constexpr TColor clLime = 0x00FF00;
inline constexpr TColor clBlue = 0xFF0000;
inline constexpr TColor clGray = 0x808080;
inline constexpr TColor clSilver = 0xC0C0C0;
inline constexpr TColor clAqua = 0xFFFF00;
constexpr TColor RGBColor(uint8_t r, uint8_t g, uint8_t b)
{
  return static_cast<TColor>(r | (g << 8) | (b << 16));
}

// ---------------------------------------------------------------------------------------------
// Measuring units and spheroids

enum TGUnitTypes {
  guDegree,
  guMinute,
  guNauticalMile,
  guKilometer,
  guMile,
  guSecond,
  guThird,
  guHundreth,
  guThousanth,
  guMeter,
  guCentimeter,
  guFathom,
  guYard,
  guFeet,
  guInch,
  guGlobeUnit,
  guPixel
};
inline constexpr int kUnitTypeCount = 17;

// GU per one unit; 0 for guPixel, whose size depends on the projector's scale.
double UnitFactor(TGUnitTypes unit);

enum class TGSpheroid {
  Airy1830,
  Australian1965,
  Bessel1841,
  Clarke1866,
  Clarke1880,
  Everest1830,
  GRS1967,
  GRS1980,
  Helmert1906,
  Hough,
  International1920,
  Krassovsky1940,
  SouthAmerican1969,
  WGS60,
  WGS66,
  WGS72,
  WGS84
};
inline constexpr int kSpheroidCount = 17;

struct TGSpheroidData
{
  const char* Name;  // the enumeration name, "WGS84"
  int32_t AxisGU;    // semi-major axis in GU (metres * 90,000 / 1,852, rounded)
  double Flattening; // f
};
const TGSpheroidData& SpheroidData(TGSpheroid spheroid);
// By name without regard to letter case ("wgs84"); nothing when unknown.
std::optional<TGSpheroid> SpheroidFromName(std::string_view name);

// ---------------------------------------------------------------------------------------------
// Rounding and wrapping

// Round half to even into 32 bits; values beyond the 32-bit range saturate, NaN gives 0.
int32_t RoundToInt32(long double value);
// Truncate toward zero into 32 bits, saturating likewise.
int32_t TruncToInt32(long double value);
// Saturate a 64-bit integer into 32 bits.
int32_t ClampToInt32(int64_t value);

// One correction into (-GU_180, GU_180]: above GU_180 subtract GU_360, at or below -GU_180 add
// it. One correction reaches the range for every 32-bit input.
int32_t LongWrap(int32_t iLong);
// Full reduction of any 64-bit longitude into (-GU_180, GU_180].
int32_t LongWrap64(int64_t iLong);
// Signed longitude step from a to b the short way round, in [-GU_180, GU_180]; 0 comes back as
// 1 (callers divide by it). Inputs outside the wrapped range are reduced as far as needed.
int32_t LongDiff(int32_t a, int32_t b);
// True when one longitude lies west of 90W and the other east of 90E (quotients by GU_90,
// truncated, of opposite sign): the step between them is taken across +-180.
bool CrossesAntimeridian(int32_t longA, int32_t longB);
// Degrees: x >= 180 -> x - 360; x < -180 -> x + 360 (one correction).
double WrapDegrees(double x);
// Radians: x < -pi -> x + 2 pi; x > pi -> x - 2 pi (one correction).
long double WrapRadians(long double x);

// ---------------------------------------------------------------------------------------------
// Construction and conversion

// Longitude wrapped with LongWrap; height 0.
TGPointLL PointLL(int32_t iLong, int32_t iLat);
TGPointLL PointLLH(int32_t iLong, int32_t iLat, int32_t iHeight);
// Degrees to GU rounded half to even, then clamped: longitude to +-971,999,999, latitude to
// +-485,999,999 (so 180 and -180 both give 971,999,999 and -971,999,999); height 0.
TGPointLL DDToPointLL(long double longDeg, long double latDeg);
int32_t DDToGU(long double degrees);
long double GUToDD(long double gu);
TGMER MER(int32_t iLong, int32_t iLat, int32_t iWidth, int32_t iHeight);
TGMER DDToMER(long double longDeg, long double latDeg, long double widthDeg, long double heightDeg);
TGMER WorldMER();

// value units -> GU, rounded half to even.
int32_t UnitsToGU(TGUnitTypes unit, double value);
// GU -> units; guPixel (no factor) returns the value unchanged.
double GUToUnits(TGUnitTypes unit, double value);
long double UnitsToDD(TGUnitTypes unit, double value);
// Abbreviation lookup without regard to case, first match in ordinal order ("T" is guThird).
// Raises EGException "StrToUnits: Unknown Unit %s".
TGUnitTypes StrToUnits(std::string_view text);
std::string UnitsToStr(TGUnitTypes unit);

// ---------------------------------------------------------------------------------------------
// Text forms (never locale-dependent)

// Angle in GU to text by format letters: %D degrees, %M minutes (2 digits), %I thousandths of
// a minute (3), %S seconds (2), %T sixths of a second (2), %U remaining GU (2 or 3), %N "N"/"S",
// %E "E"/"W"; a minus sign precedes the first letter when negative and the format has no %N or
// %E. "%D.%M.%S%N" shows 126,900,000 as 23.30.00N.
std::string LLToStr(int32_t value, std::string_view format);
// Angle from text by the same letters (also %H hundredths of a second, 15 GU). Text that stops
// matching the format ends the parse with the fields read so far; an unknown letter raises
// EConvertError "StrToLL: format error". Results beyond 32 bits saturate.
int32_t StrToLL(std::string_view text, std::string_view format);

// "long,lat" plus ",height" when the height is not 0.
std::string PointLLToStr(const TGPointLL& pt);
// Items 0, 1, 2 of comma text as integers, 0 for missing or bad items; never raises.
TGPointLL StrToPointLL(std::string_view text);
std::string MERToStr(const TGMER& m);
std::string PointToStr(const TGPoint& pt);
TGPoint StrToPoint(std::string_view text);
// Item index of comma text; empty when the index is out of range.
std::string CSLGetItem(std::string_view list, int index);
// Sets item index (appending empty items as needed) and returns the new comma text; a negative
// index returns the list unchanged.
std::string CSLSetItem(std::string_view list, std::string_view item, int index);
// Shortest text that reads back to the same double, "." as separator, exponent form "1E20" /
// "1.5E-6" outside 1e-5 <= |x| < 1e15.
std::string FloatToStrDot(double x);
// Decimal text with "." as separator; anything else gives def.
long double StrToFloatDefDot(std::string_view text, long double def);

// ---------------------------------------------------------------------------------------------
// MER algebra. "right" = iLongX + iWidthX, "top" = iLatY + iHeightY, both 64-bit.

int64_t MERRight(const TGMER& m);
int64_t MERTop(const TGMER& m);
// (iLongX + iWidthX div 2, iLatY + iHeightY div 2), not wrapped; height 0.
TGPointLL MERCenter(const TGMER& m);
bool MERIsEmpty(const TGMER& m);
bool MEREqual(const TGMER& a, const TGMER& b);
void MERClear(TGMER& m);
TGMER MERInflate(const TGMER& m, int32_t dx, int32_t dy);
// Inner lies inside Outer, whose right and top edges are exclusive here.
bool MERContainsMER(const TGMER& outer, const TGMER& inner);
// Where P lies in M (all edges inclusive): hzHit in a MER that does not cross the meridian;
// hzPlus180 / hzMinus180 in the part west / east of the meridian of one that does.
TGMERHitZone MERHitZone(const TGMER& m, const TGPointLL& p);
bool LLInMER(const TGMER& m, const TGPointLL& p);
// Latitude bands overlap and longitude spans overlap, splitting crossing MERs at the meridian.
bool MERIntersects(const TGMER& a, const TGMER& b);
// The smaller of the direct and the across-the-meridian union; an empty MER yields the other.
TGMER MERUnion(const TGMER& a, const TGMER& b);
TGRect NormalizeRect(const TGRect& r);
// P lies within tolerance (perpendicular distance) of the segment, its foot on the segment. A
// zero-length segment is never hit.
bool PointOnSegment(double px, double py, double x1, double y1, double x2, double y2,
                    double tolerance);

// ---------------------------------------------------------------------------------------------
// 2-D vectors

TGVec V2FromLL(const TGPointLL& pt); // X = longitude, Y = latitude (GU)
TGVec V2Make(long double x, long double y);
long double V2Length(const TGVec& v);
TGVec V2Sub(const TGVec& a, const TGVec& b);
TGVec V2Add(const TGVec& a, const TGVec& b);
TGVec V2Scale(const TGVec& v, long double k);
TGVec V2Perp(const TGVec& v); // (-Y, X)
long double V2Dot(const TGVec& a, const TGVec& b);

} // namespace vtr
