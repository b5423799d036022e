// Globe units: wrapping at +-0, +-180 and the 32-bit limits, conversions and rounding, the
// unit table, angle and point text forms, and the MER algebra across the meridian.
#include "globe/GSysUtils.h"

#include "TestSupport.h"
#include "base/Convert.h"
#include "globe/GClasses.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>

namespace vtr {
namespace {

constexpr int32_t kMax = std::numeric_limits<int32_t>::max();
constexpr int32_t kMin = std::numeric_limits<int32_t>::min();

TEST(Wrapping, LongWrapMakesOneCorrection)
{
  struct Case
  {
    const char* name;
    int32_t in, want;
  };
  const Case cases[] = {
      {"zero", 0, 0},
      {"+180 stays", GU_180, GU_180},
      {"-180 becomes +180", -GU_180, GU_180},
      {"just past +180", GU_180 + 1, -GU_180 + 1},
      {"just past -180", -GU_180 - 1, GU_180 - 1},
      {"just inside -180", -GU_180 + 1, -GU_180 + 1},
      {"one correction only", 2'000'000'000, 56'000'000},
      {"32-bit maximum", kMax, kMax - GU_360},
      {"32-bit minimum", kMin, kMin + GU_360},
  };
  for (const auto& c : cases)
    EXPECT_EQ(LongWrap(c.in), c.want) << c.name;
  EXPECT_EQ(PointLL(-GU_180, 5), (TGPointLL{GU_180, 5, 0}));
  EXPECT_EQ(PointLLH(GU_180 + 10, -5, 7), (TGPointLL{-GU_180 + 10, -5, 7}));
}

TEST(Wrapping, LongWrap64ReducesFully)
{
  EXPECT_EQ(LongWrap64(3LL * GU_360 + 5), 5);
  EXPECT_EQ(LongWrap64(-3LL * GU_360 - GU_180), GU_180);
  EXPECT_EQ(LongWrap64(GU_180), GU_180);
  EXPECT_EQ(LongWrap64(-GU_180), GU_180);
  EXPECT_GT(LongWrap64(std::numeric_limits<int64_t>::min()), -GU_180);

  // Inputs within a turn of the range take a shortcut; at its edges and beyond it the answer
  // is still the full reduction.
  const auto reduced = [](int64_t v) {
    int64_t r = v % GU_360;
    if (r < 0) r += GU_360;
    return r > GU_180 ? r - GU_360 : r;
  };
  for (const int64_t edge :
       {int64_t{0}, int64_t{GU_180}, -int64_t{GU_180}, int64_t{GU_180} + GU_360,
        -int64_t{GU_180} - GU_360, int64_t{GU_180} + 2 * int64_t{GU_360}})
    for (const int64_t v : {edge - 1, edge, edge + 1})
      EXPECT_EQ(LongWrap64(v), reduced(v)) << v;
}

TEST(Wrapping, LongDiffTakesTheShortWayAndNeverZero)
{
  struct Case
  {
    const char* name;
    int32_t a, b, want;
  };
  const Case cases[] = {
      {"equal gives 1", 7, 7, 1},
      {"eastwards", 0, 5, 5},
      {"westwards", 5, 0, -5},
      {"east across the meridian", GU_180 - 2'000'000, -GU_180 + 2'000'000, 4'000'000},
      {"west across the meridian", -GU_180 + 2'000'000, GU_180 - 2'000'000, -4'000'000},
      {"half a turn east stays", 0, GU_180, GU_180},
      {"half a turn west stays", 0, -GU_180, -GU_180},
      {"-180 to +180 is one meridian", -GU_180, GU_180, 1},
      {"32-bit extremes", kMin, kMax, 406'967'295},
  };
  for (const auto& c : cases)
    EXPECT_EQ(LongDiff(c.a, c.b), c.want) << c.name;
}

TEST(Wrapping, CrossesAntimeridianNeedsBothBeyondNinetyDegrees)
{
  struct Case
  {
    int32_t a, b;
    bool want;
  };
  const Case cases[] = {
      {-500'000'000, 500'000'000, true},
      {500'000'000, -486'000'000, true},
      {-GU_90, GU_90, true},
      {-400'000'000, 500'000'000, false},
      {GU_90 - 1, -500'000'000, false},
      {0, 0, false},
      {-GU_180, -GU_90, false},
      {kMin, kMax, true},
  };
  for (const auto& c : cases)
    EXPECT_EQ(CrossesAntimeridian(c.a, c.b), c.want) << c.a << " " << c.b;
}

TEST(Wrapping, DegreesAndRadians)
{
  EXPECT_EQ(WrapDegrees(180), -180);
  EXPECT_EQ(WrapDegrees(-180), -180);
  EXPECT_EQ(WrapDegrees(179.5), 179.5);
  EXPECT_DOUBLE_EQ(WrapDegrees(-180.5), 179.5);
  EXPECT_EQ(WrapDegrees(540), 180); // one correction only
  EXPECT_TRUE(std::signbit(WrapDegrees(-0.0)));
  EXPECT_EQ(WrapRadians(-GU_PI), -GU_PI);
  EXPECT_EQ(WrapRadians(GU_PI), GU_PI);
  EXPECT_NEAR(static_cast<double>(WrapRadians(GU_PI + 0.25L)), -GU_PI + 0.25, 1e-15);
  EXPECT_NEAR(static_cast<double>(WrapRadians(-GU_PI - 0.25L)), GU_PI - 0.25, 1e-15);
}

TEST(Conversion, DegreesToGlobeUnitsRoundAndClamp)
{
  EXPECT_EQ(DDToPointLL(180, 90), (TGPointLL{971'999'999, 485'999'999, 0}));
  EXPECT_EQ(DDToPointLL(-180, -90), (TGPointLL{-971'999'999, -485'999'999, 0}));
  EXPECT_EQ(DDToPointLL(1e30L, -1e30L), (TGPointLL{971'999'999, -485'999'999, 0}));
  EXPECT_EQ(DDToPointLL(std::nanl(""), 0), (TGPointLL{0, 0, 0}));
  EXPECT_EQ(DDToGU(23.5L), 126'900'000);
  EXPECT_EQ(DDToGU(1e30L), kMax);
  EXPECT_EQ(DDToMER(-1, -2, 3, 4),
            (TGMER{-GU_DEGREE, -2 * GU_DEGREE, 3 * GU_DEGREE, 4 * GU_DEGREE}));
  EXPECT_EQ(GUToDD(GU_DEGREE), 1.0L);
  EXPECT_EQ(GUToDD(-GU_180), -180.0L);
  EXPECT_EQ(WorldMER(), (TGMER{-GU_180, -GU_90, GU_360, GU_180}));
  EXPECT_EQ(MER(1, 2, 3, 4), (TGMER{1, 2, 3, 4}));
}

TEST(Conversion, RoundingIsHalfToEven)
{
  struct Case
  {
    double in;
    int32_t want;
  };
  const Case cases[] = {{0.5, 0},   {1.5, 2},     {2.5, 2},    {-0.5, 0},   {-1.5, -2},
                        {-2.5, -2}, {0.49999, 0}, {3e9, kMax}, {-3e9, kMin}};
  for (const auto& c : cases)
    EXPECT_EQ(UnitsToGU(guGlobeUnit, c.in), c.want) << c.in;
  EXPECT_EQ(RoundToInt32(std::nanl("")), 0);
  EXPECT_EQ(TruncToInt32(-2.9L), -2);
  EXPECT_EQ(ClampToInt32(int64_t{1} << 40), kMax);
}

TEST(Units, TableConversionsAndAbbreviations)
{
  EXPECT_EQ(UnitsToGU(guNauticalMile, 1.5), 135'000);
  EXPECT_EQ(GUToUnits(guNauticalMile, 90'000), 1.0);
  EXPECT_EQ(GUToUnits(guPixel, 7), 7.0);
  EXPECT_EQ(UnitsToDD(guMinute, 60), 1.0L);
  EXPECT_EQ(StrToUnits("t"), guThird);
  EXPECT_EQ(StrToUnits("km"), guKilometer);
  EXPECT_EQ(UnitsToStr(guThousanth), "T");
  try {
    StrToUnits("XX");
    ADD_FAILURE() << "no exception";
  } catch (const EGException& e) {
    EXPECT_STREQ(e.what(), "StrToUnits: Unknown Unit XX");
  }
  for (int u = 0; u < kUnitTypeCount; ++u) {
    const auto unit = static_cast<TGUnitTypes>(u);
    if (unit != guThousanth) {
      EXPECT_EQ(StrToUnits(UnitsToStr(unit)), unit) << u;
    }
  }
}

// The length units are the metre's factor times their size in metres (international yard and
// mile, fathom of 6 feet); the imperial factors of the table were derived from a metre factor
// 1.3e-9 larger, hence the tolerance.
TEST(Units, LengthFactorsAgreeWithTheMetre)
{
  struct Case
  {
    TGUnitTypes unit;
    double metres;
  };
  const Case cases[] = {{guKilometer, 1000}, {guMile, 1609.344}, {guFathom, 1.8288},
                        {guYard, 0.9144},    {guFeet, 0.3048},   {guInch, 0.0254},
                        {guCentimeter, 0.01}};
  for (const auto& c : cases)
    EXPECT_NEAR(UnitFactor(c.unit) / (UnitFactor(guMeter) * c.metres), 1.0, 2e-9) << c.unit;
  EXPECT_NEAR(UnitFactor(guMeter), static_cast<double>(EarthRadiusGU) / 6'378'136, 1e-9);
}

TEST(AngleText, LLToStrFormats)
{
  struct Case
  {
    int32_t value;
    const char* format;
    const char* want;
  };
  const Case cases[] = {
      {126'900'000, "%D.%M.%S%N", "23.30.00N"},
      {-67'522'500, "%D.%M.%S%N", "12.30.15S"},
      {-67'522'500, "%D:%M:%S", "-12:30:15"},
      {0, "%D.%M.%S%E", "0.00.00E"},
      {-GU_180, "%D.%M.%S%E", "180.00.00W"},
      {1'749, "%d.%m.%s.%t%N", "0.00.01.00N"},
      {1'749, "%I %U", "019 249"},
      {GU_90 + 249, "%D %U", "90 249"},
      {7, "%U", "07"},
      {5, "x%Xy%%", "xXy%"},
      {-5, "no letters", "no letters"},
      {-5, "%U%", "-05"},
      {kMin, "%D.%M.%S%N", "397.40.55S"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(LLToStr(c.value, c.format), c.want) << c.format;
}

TEST(AngleText, StrToLLParses)
{
  struct Case
  {
    const char* text;
    const char* format;
    int32_t want;
  };
  const Case cases[] = {
      {"12.30.15N", "%D.%M.%S%N", 67'522'500},
      {"12.30.15n", "%D.%M.%S%N", 67'522'500},
      {"12.30.15S", "%D.%M.%S%N", -67'522'500},
      {"12.30.15", "%D.%M.%S%N", -67'522'500}, // the letter test sees the "1"
      {"12.30.15E", "%D.%M.%S%E", 67'522'500},
      {"12.30.15W", "%D.%M.%S%E", -67'522'500},
      {"12-30-15N", "%D.%M.%S%N", 12 * GU_DEGREE}, // mismatching separator stops
      {"0.00.01.00N", "%d.%m.%s.%t%N", 1'500},
      {"1.2.3.4.5E", "%D.%M.%S.%H.%U%E", GU_DEGREE + 2 * GU_MINUTE + 3 * GU_SECOND + 60 + 5},
      {"", "%D%N", 0},
      {"999999999999999", "%D", kMax},
  };
  for (const auto& c : cases)
    EXPECT_EQ(StrToLL(c.text, c.format), c.want) << c.text << " " << c.format;
  try {
    StrToLL("12", "%X");
    ADD_FAILURE() << "no exception";
  } catch (const EConvertError& e) {
    EXPECT_STREQ(e.what(), "StrToLL: format error");
  }
}

TEST(AngleText, DegreesMinutesSecondsSixthsAndUnitsRoundTrip)
{
  std::mt19937_64 rng(31);
  for (int i = 0; i < 2000; ++i) {
    const auto v = static_cast<int32_t>(static_cast<int64_t>(rng() % GU_360) - GU_180 + 1);
    const char* f = "%D.%M.%S.%T.%U%E";
    ASSERT_EQ(StrToLL(LLToStr(v, f), f), v) << LLToStr(v, f);
  }
}

TEST(PointText, PointsRectanglesAndCommaLists)
{
  EXPECT_EQ(PointLLToStr({1, -2, 0}), "1,-2");
  EXPECT_EQ(PointLLToStr({1, -2, 3}), "1,-2,3");
  EXPECT_EQ(StrToPointLL("1,-2,3"), (TGPointLL{1, -2, 3}));
  EXPECT_EQ(StrToPointLL("x,5,"), (TGPointLL{0, 5, 0}));
  EXPECT_EQ(StrToPointLL(""), (TGPointLL{}));
  EXPECT_EQ(StrToPointLL(PointLLToStr({kMin, kMax, 0})), (TGPointLL{kMin, kMax, 0}));
  EXPECT_EQ(MERToStr({1, 2, 3, -4}), "1,2,3,-4");
  EXPECT_EQ(PointToStr({-7, 8}), "-7,8");
  EXPECT_EQ(StrToPoint("-7,8"), (TGPoint{-7, 8}));
  EXPECT_EQ(StrToPoint("bad"), (TGPoint{}));

  EXPECT_EQ(CSLGetItem("a,b,c", 1), "b");
  EXPECT_EQ(CSLGetItem("a,b,c", 3), "");
  EXPECT_EQ(CSLGetItem("a,b,c", -1), "");
  EXPECT_EQ(CSLGetItem("\"x,y\",z", 0), "x,y");
  EXPECT_EQ(CSLSetItem("a", "b", 2), "a,,b");
  EXPECT_EQ(CSLSetItem("a,b", "x y", 0), "\"x y\",b");
  EXPECT_EQ(CSLSetItem("a,b", "c", -1), "a,b");
}

TEST(FloatText, ShortestDotTextWhateverTheLocale)
{
  vtrtest::CommaDecimalLocale comma;
  struct Case
  {
    double x;
    const char* want;
  };
  const Case cases[] = {{0, "0"},
                        {0.1, "0.1"},
                        {-2.5, "-2.5"},
                        {100, "100"},
                        {123.456, "123.456"},
                        {0.00001, "0.00001"},
                        {1.5e-6, "1.5E-6"},
                        {1e20, "1E20"},
                        {1e15, "1E15"},
                        {123456789012345, "123456789012345"},
                        {0.1 + 0.2, "0.30000000000000004"}};
  for (const auto& c : cases)
    EXPECT_EQ(FloatToStrDot(c.x), c.want) << c.want;
  std::mt19937_64 rng(8);
  for (int i = 0; i < 1000; ++i) {
    const double x =
        std::ldexp(static_cast<double>(rng() >> 11), static_cast<int>(rng() % 120) - 90);
    ASSERT_EQ(StrToFloatDefDot(FloatToStrDot(x), -1), x) << FloatToStrDot(x);
  }
  EXPECT_EQ(StrToFloatDefDot("1,5", 7), 7);
  EXPECT_EQ(StrToFloatDefDot("2.5", 0), 2.5);
  EXPECT_EQ(StrToFloatDefDot("", 3), 3);
}

TEST(MERAlgebra, HitZonesAcrossTheMeridian)
{
  const TGMER across = MER(962'000'000, 0, 20'000'000, 1'000);
  struct Case
  {
    const char* name;
    TGPointLL p;
    TGMERHitZone want;
  };
  const Case cases[] = {
      {"east of the meridian", {-971'000'000, 500, 0}, hzMinus180},
      {"west of the meridian", {965'000'000, 500, 0}, hzPlus180},
      {"far away", {0, 500, 0}, hzNone},
      {"on +180 itself", {GU_180, 500, 0}, hzPlus180},
      {"east edge inclusive", {-962'000'000, 500, 0}, hzMinus180},
      {"past the east edge", {-961'999'999, 500, 0}, hzNone},
      {"west edge inclusive", {962'000'000, 0, 0}, hzPlus180},
      {"top inclusive", {965'000'000, 1'000, 0}, hzPlus180},
      {"above the top", {965'000'000, 1'001, 0}, hzNone},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(MERHitZone(across, c.p), c.want) << c.name;
    EXPECT_EQ(LLInMER(across, c.p), c.want != hzNone) << c.name;
  }
  const TGMER plain = MER(0, 0, 100, 100);
  EXPECT_EQ(MERHitZone(plain, {100, 100, 0}), hzHit);
  EXPECT_EQ(MERHitZone(plain, {101, 0, 0}), hzNone);
  EXPECT_EQ(MERHitZone(plain, {0, -1, 0}), hzNone);
}

TEST(MERAlgebra, Intersects)
{
  const TGMER across = MER(175 * GU_DEGREE, 0, 10 * GU_DEGREE, GU_DEGREE); // 175E to 175W
  struct Case
  {
    const char* name;
    TGMER a, b;
    bool want;
  };
  const Case cases[] = {
      {"crossing MER and one at 178W", across, MER(-178 * GU_DEGREE, 0, GU_DEGREE / 2, GU_DEGREE),
       true},
      {"other way round", MER(-178 * GU_DEGREE, 0, GU_DEGREE / 2, GU_DEGREE), across, true},
      {"one at 170W", across, MER(-170 * GU_DEGREE, 0, GU_DEGREE, GU_DEGREE), false},
      {"one at 176E", across, MER(176 * GU_DEGREE, 0, GU_DEGREE, GU_DEGREE), true},
      {"both crossing", across, MER(179 * GU_DEGREE, 0, 2 * GU_DEGREE, GU_DEGREE), true},
      {"latitudes apart", across, MER(176 * GU_DEGREE, 2 * GU_DEGREE, GU_DEGREE, GU_DEGREE), false},
      {"touching edges", MER(0, 0, 10, 10), MER(10, 10, 5, 5), true},
      {"side by side", MER(0, 0, 10, 10), MER(11, 0, 5, 5), false},
  };
  for (const auto& c : cases)
    EXPECT_EQ(MERIntersects(c.a, c.b), c.want) << c.name;
}

TEST(MERAlgebra, UnionTakesTheNarrowerWayRound)
{
  const TGMER m = MER(5, 6, 7, 8);
  EXPECT_EQ(MERUnion(TGMER{}, m), m);
  EXPECT_EQ(MERUnion(m, TGMER{}), m);
  struct Case
  {
    const char* name;
    TGMER a, b, want;
  };
  const int32_t D = GU_DEGREE;
  const Case cases[] = {
      {"same side", MER(10 * D, 0, D, D), MER(20 * D, 2 * D, D, D), MER(10 * D, 0, 11 * D, 3 * D)},
      {"same side, first wider", MER(10 * D, 0, 30 * D, D), MER(20 * D, 0, D, D),
       MER(10 * D, 0, 30 * D, D)},
      {"either side of 180", MER(-179 * D, 0, D, D), MER(178 * D, 0, D, D),
       MER(178 * D, 0, 4 * D, D)},
      {"either side of 180, swapped", MER(178 * D, 0, D, D), MER(-179 * D, 0, D, D),
       MER(178 * D, 0, 4 * D, D)},
      {"either side of 0", MER(-2 * D, 0, D, D), MER(3 * D, 0, D, D), MER(-2 * D, 0, 6 * D, D)},
      {"wide west part forces the direct span", MER(-179 * D, 0, 100 * D, D), MER(178 * D, 0, D, D),
       MER(-179 * D, 0, 358 * D, D)},
  };
  for (const auto& c : cases)
    EXPECT_EQ(MERUnion(c.a, c.b), c.want) << c.name;
  EXPECT_GT(MERRight(MERUnion(MER(-179 * D, 0, D, D), MER(178 * D, 0, D, D))), GU_180);
}

TEST(MERAlgebra, ContainsCenterInflateAndRects)
{
  const TGMER outer = MER(0, 0, 100, 100);
  EXPECT_FALSE(MERContainsMER(outer, outer)); // right and top exclusive
  EXPECT_TRUE(MERContainsMER(outer, MER(0, 0, 99, 99)));
  EXPECT_FALSE(MERContainsMER(outer, MER(-1, 0, 10, 10)));
  EXPECT_EQ(MERCenter(MER(0, 0, 3, 5)), (TGPointLL{1, 2, 0}));
  EXPECT_EQ(MERCenter(MER(-3, -3, 3, 3)), (TGPointLL{-2, -2, 0}));
  EXPECT_EQ(MERCenter(MER(962'000'000, 0, 20'000'000, 0)).iLongX, 972'000'000);
  EXPECT_EQ(MERInflate(MER(10, 10, 5, 5), 2, 3), MER(8, 7, 9, 11));
  EXPECT_EQ(MERInflate(MER(kMin, 0, 0, 0), 5, 0).iLongX, kMin);
  EXPECT_EQ(MERRight(MER(kMax, 0, kMax, 0)), 2LL * kMax);
  EXPECT_TRUE(MERIsEmpty(TGMER{7, 8, 0, 0}));
  EXPECT_FALSE(MERIsEmpty(TGMER{0, 0, 1, 0}));
  TGMER c = MER(1, 2, 3, 4);
  MERClear(c);
  EXPECT_TRUE(MEREqual(c, TGMER{}));
  EXPECT_EQ(NormalizeRect({10, 20, 0, 5}), (TGRect{0, 5, 10, 20}));
}

TEST(Segments, PointOnSegment)
{
  struct Case
  {
    const char* name;
    double px, py, x1, y1, x2, y2, tol;
    bool want;
  };
  const Case cases[] = {
      {"zero length never hits", 0, 0, 0, 0, 0, 0, 10, false},
      {"on the segment", 5, 0, 0, 0, 10, 0, 0, true},
      {"within tolerance", 5, 2, 0, 0, 10, 0, 2, true},
      {"beyond tolerance", 5, 2.1, 0, 0, 10, 0, 2, false},
      {"foot before the start", -1, 0, 0, 0, 10, 0, 5, false},
      {"foot past the end", 11, 0, 0, 0, 10, 0, 5, false},
      {"diagonal", 1, 0, 0, 0, 10, 10, 0.71, true},
  };
  for (const auto& c : cases)
    EXPECT_EQ(PointOnSegment(c.px, c.py, c.x1, c.y1, c.x2, c.y2, c.tol), c.want) << c.name;
}

TEST(Vectors2D, Operations)
{
  const TGVec a = V2FromLL({3, 4, 99});
  EXPECT_EQ(a, V2Make(3, 4));
  EXPECT_EQ(V2Length(a), 5);
  EXPECT_EQ(V2Sub(a, V2Make(1, 1)), V2Make(2, 3));
  EXPECT_EQ(V2Add(a, V2Make(1, 1)), V2Make(4, 5));
  EXPECT_EQ(V2Scale(a, 2), V2Make(6, 8));
  EXPECT_EQ(V2Perp(a), V2Make(-4, 3));
  EXPECT_EQ(V2Dot(a, V2Perp(a)), 0);
}

TEST(Colours, RedAndBlueSwapIntoPixelOrder)
{
  EXPECT_EQ(RGBColor(0x12, 0x34, 0x56), 0x563412);
  EXPECT_EQ(clRed, RGBColor(255, 0, 0));
}

} // namespace
} // namespace vtr
