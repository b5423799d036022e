#include "globe/GGeodesy.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <utility>

namespace vtr {

namespace {

// SpheroidDistance works in double: its results are rounded to whole GU, and double carries
// the distance to about 1e-7 GU, far below the methods' own error (~0.004 GU). Extended
// precision made the transcendental functions several times slower for nothing.
constexpr double kPi = 3.14159265358979323846;

double Sq(double x)
{
  return x * x;
}

// Constants of one spheroid for the azimuth method below: axes, eccentricities, and the
// coefficients (polynomials in the third flattening n) of the longitude integral's series,
// left as polynomials in eps (Karney 2013, "Algorithms for geodesics", eqs. 23-25; the
// coefficients re-derived here to fifth order).
struct SpheroidConstants
{
  double a, f, b, e2, ep2;
  double A3x[6];    // A3 = sum A3x[j] eps^j
  double C3x[5][6]; // C3[l] = sum C3x[l-1][j] eps^j
};

SpheroidConstants MakeConstants(const TGSpheroidData& sd)
{
  SpheroidConstants k{};
  k.a = sd.AxisGU;
  k.f = sd.Flattening;
  k.b = k.a * (1 - k.f);
  k.e2 = k.f * (2 - k.f);
  k.ep2 = k.e2 / Sq(1 - k.f);
  const double n = k.f / (2 - k.f), n2 = n * n;
  k.A3x[0] = 1;
  k.A3x[1] = (n - 1) / 2;
  k.A3x[2] = (3 * n2 - n - 2) / 8;
  k.A3x[3] = -(n2 + 3 * n + 1) / 16;
  k.A3x[4] = -(2 * n + 3) / 64;
  k.A3x[5] = -3.0 / 128;
  auto& c = k.C3x;
  c[0][1] = (1 - n) / 4;
  c[0][2] = (1 - n2) / 8;
  c[0][3] = (3 + 3 * n - n2) / 64;
  c[0][4] = (5 + 2 * n) / 128;
  c[0][5] = 3.0 / 128;
  c[1][2] = (2 - 3 * n + n2) / 32;
  c[1][3] = (3 - 2 * n - 3 * n2) / 64;
  c[1][4] = (3 + n) / 128;
  c[1][5] = 5.0 / 256;
  c[2][3] = (5 - 9 * n + 5 * n2) / 192;
  c[2][4] = (9 - 10 * n) / 384;
  c[2][5] = 7.0 / 512;
  c[3][4] = (7 - 14 * n) / 512;
  c[3][5] = 7.0 / 512;
  c[4][5] = 21.0 / 2560;
  return k;
}

const SpheroidConstants& Constants(TGSpheroid spheroid)
{
  static const auto table = [] {
    std::array<SpheroidConstants, kSpheroidCount> t{};
    for (int i = 0; i < kSpheroidCount; ++i)
      t[i] = MakeConstants(SpheroidData(static_cast<TGSpheroid>(i)));
    return t;
  }();
  return table[static_cast<int>(spheroid)];
}

// Vincenty's inverse solution in the arrangement of the U.S. National Geodetic Survey's
// inverse program; angles in radians. Nothing for nearly antipodal pairs (the spherical
// distance of the first pass within 2 degrees of half the globe), where the longitude
// iteration creeps (tens to hundreds of passes) or never settles, and nothing when the
// numbers degenerate.
std::optional<double> VincentyInverse(double phiA, double phiB, double L, double a, double f)
{
  // The iteration gains 2-3 digits a pass; |dx| <= 1e-12 rad is 3e-4 GU at most in the
  // distance. More than 2 degrees from the antipode it settles within 20 passes.
  constexpr double kTolerance = 1e-12;
  constexpr int kMaxPasses = 30;
  const double kAntipodalCos = -0.99939082701909573; // cos 178 degrees

  const double r = 1 - f;
  double tu1 = r * std::sin(phiA) / std::cos(phiA);
  double tu2 = r * std::sin(phiB) / std::cos(phiB);
  const double cu1 = 1 / std::sqrt(tu1 * tu1 + 1);
  const double su1 = cu1 * tu1;
  const double cu2 = 1 / std::sqrt(tu2 * tu2 + 1);
  double s = cu1 * cu2;
  const double baz = s * tu2;
  const double faz = baz * tu1;
  double x = L;

  double sy = 0, cy = 0, y = 0, c2a = 0, cz = 0, e = 0, c = 0, d = 0;
  bool converged = false;
  for (int pass = 0; pass < kMaxPasses; ++pass) {
    const double sx = std::sin(x);
    const double cx = std::cos(x);
    tu1 = cu2 * sx;
    tu2 = baz - su1 * cu2 * cx;
    sy = std::sqrt(tu1 * tu1 + tu2 * tu2);
    cy = s * cx + faz;
    if (pass == 0 && cy < kAntipodalCos) return std::nullopt;
    y = std::atan2(sy, cy);
    const double sa = s * sx / sy;
    c2a = 1 - sa * sa;
    cz = 2 * faz;
    if (c2a > 0) cz = cy - cz / c2a;
    e = 2 * cz * cz - 1;
    c = ((-3 * c2a + 4) * f + 4) * c2a * f / 16;
    d = x;
    x = (1 - c) * ((e * cy * c + cz) * sy * c + y) * sa * f + L;
    if (!std::isfinite(x)) return std::nullopt;
    if (std::fabs(d - x) <= kTolerance) {
      converged = true;
      break;
    }
  }
  if (!converged) return std::nullopt;

  x = std::sqrt((1 / (r * r) - 1) * c2a + 1) + 1;
  x = (x - 2) / x;
  c = (x * x / 4 + 1) / (1 - x);
  d = (0.375 * x * x - 1) * x;
  x = e * cy;
  s = 1 - 2 * e;
  const double dist =
      (((((sy * sy * 4 - 3) * s * cz * d / 6) - x) * d / 4 + cz) * sy * d + y) * c * a * r;
  if (!std::isfinite(dist)) return std::nullopt;
  return dist;
}

// The azimuth method: the geodesic on the auxiliary sphere (Karney 2013, sections 3-5), with
// the start azimuth alpha1 found by Newton's method so that the geodesic reaches B's
// longitude. Everything below is parametrised by eps = (sqrt(1 + k^2) - 1) / (sqrt(1 + k^2) + 1),
// k^2 = e'^2 cos^2 alpha0, alpha0 the azimuth where the geodesic crosses the equator.

double Eps(const SpheroidConstants& k, double cosAlpha0)
{
  const double k2 = Sq(cosAlpha0) * k.ep2;
  return k2 / (2 * (1 + std::sqrt(1 + k2)) + k2);
}

// sum c[l-1] sin(2 l sigma), l = 1..N, from sin and cos of sigma (Clenshaw summation).
template <int N> double SinSeries(const double* c, double sinSigma, double cosSigma)
{
  const double twoCos2 = 2 * (cosSigma - sinSigma) * (cosSigma + sinSigma);
  double b1 = 0, b2 = 0;
  for (int l = N - 1; l >= 0; --l) {
    const double t = c[l] + twoCos2 * b1 - b2;
    b2 = b1;
    b1 = t;
  }
  return b1 * 2 * sinSigma * cosSigma;
}

// Series of the distance integral I1 = int sqrt(1 + k^2 sin^2 s) ds = A1 (sigma + sum C1 ...)
// and of I2 = int 1 / sqrt(1 + k^2 sin^2 s) ds (for the reduced length), both to eps^6, and
// of the longitude integral I3 to fifth order.
struct Series
{
  double A1, C1[6];
  double A2, C2[6];
  double A3, C3[5];
};

Series SeriesAt(const SpheroidConstants& k, double eps, bool reducedLength)
{
  Series r{};
  const double e2 = eps * eps;
  r.A1 = (1 + e2 * (1.0 / 4 + e2 * (1.0 / 64 + e2 / 256))) / (1 - eps);
  r.C1[0] = eps * (-1.0 / 2 + e2 * (3.0 / 16 - e2 / 32));
  r.C1[1] = e2 * (-1.0 / 16 + e2 * (1.0 / 32 - e2 * 9.0 / 2048));
  r.C1[2] = e2 * eps * (-1.0 / 48 + e2 * 3.0 / 256);
  r.C1[3] = e2 * e2 * (-5.0 / 512 + e2 * 3.0 / 512);
  r.C1[4] = e2 * e2 * eps * (-7.0 / 1280);
  r.C1[5] = e2 * e2 * e2 * (-7.0 / 2048);
  if (reducedLength) {
    r.A2 = (1 + e2 * (1.0 / 4 + e2 * (9.0 / 64 + e2 * 25.0 / 256))) * (1 - eps);
    r.C2[0] = eps * (1.0 / 2 + e2 * (1.0 / 16 + e2 / 32));
    r.C2[1] = e2 * (3.0 / 16 + e2 * (1.0 / 32 + e2 * 35.0 / 2048));
    r.C2[2] = e2 * eps * (5.0 / 48 + e2 * 5.0 / 256);
    r.C2[3] = e2 * e2 * (35.0 / 512 + e2 * 7.0 / 512);
    r.C2[4] = e2 * e2 * eps * (63.0 / 1280);
    r.C2[5] = e2 * e2 * e2 * (77.0 / 2048);
  }
  auto poly = [eps](const double* c) {
    double v = c[5];
    for (int j = 4; j >= 0; --j)
      v = v * eps + c[j];
    return v;
  };
  r.A3 = poly(k.A3x);
  for (int l = 0; l < 5; ++l)
    r.C3[l] = poly(k.C3x[l]);
  return r;
}

// Root mu > 0 of x^2 / (1 + mu)^2 + y^2 / mu^2 = 1 (y != 0 or |x| > 1), the astroid of
// Karney's eq. 55. The left side falls and is convex in mu, so Newton's method from the lower
// bound max(|y|, |x| - 1) climbs to the root without overshooting.
double AstroidRoot(double x, double y)
{
  const double x2 = x * x, y2 = y * y;
  double mu = std::max(std::fabs(y), std::fabs(x) - 1);
  for (int i = 0; i < 50 && mu > 0; ++i) {
    const double p = 1 + mu;
    const double g = x2 / (p * p) + y2 / (mu * mu) - 1;
    const double dg = -2 * x2 / (p * p * p) - 2 * y2 / (mu * mu * mu);
    const double step = -g / dg;
    mu += step;
    if (!(std::fabs(step) > 1e-9 * mu)) break;
  }
  return mu;
}

struct Unit2
{
  double s, c; // sine and cosine of one angle
};
// The components here are sines and cosines (at most about 1), so the plain square root is
// safe and much cheaper than std::hypot.
Unit2 Normalized(double s, double c)
{
  const double h = std::sqrt(s * s + c * c);
  return {s / h, c / h};
}

// Distance in GU for any pair: lam the longitude step in [-pi, pi]; meridional when the
// points lie on one meridian or its opposite (lam 0 or pi exactly) or one is on a pole.
double AzimuthInverse(double phi1, double phi2, double lam, bool meridional,
                      const SpheroidConstants& k)
{
  const double f = k.f;
  // The distance keeps its value under swapping the points and mirroring in the equator or
  // a meridian; bring the pair to phi1 <= -|phi2|, 0 <= lam <= pi.
  lam = std::fabs(lam);
  if (std::fabs(phi1) < std::fabs(phi2)) std::swap(phi1, phi2);
  if (phi1 > 0) {
    phi1 = -phi1;
    phi2 = -phi2;
  }
  // Reduced latitudes; a pole's cosine is kept off 0.
  Unit2 b1 = Normalized((1 - f) * std::sin(phi1), std::cos(phi1));
  Unit2 b2 = Normalized((1 - f) * std::sin(phi2), std::cos(phi2));
  b1.c = std::max(b1.c, 1e-300);
  b2.c = std::max(b2.c, 1e-300);

  auto distance = [&](const Series& se, Unit2 s1, Unit2 s2, double sig12) {
    return k.b * se.A1 *
           (sig12 + SinSeries<6>(se.C1, s2.s, s2.c) - SinSeries<6>(se.C1, s1.s, s1.c));
  };

  if (meridional) {
    // North along the meridian for lam 0, else south over the pole (from a pole either).
    const double ca1 = lam < kPi / 2 ? 1 : -1;
    const Unit2 s1 = Normalized(b1.s, ca1 * b1.c), s2{b2.s, b2.c};
    const double sig12 =
        std::atan2(std::max(0.0, s1.c * s2.s - s1.s * s2.c), s1.c * s2.c + s1.s * s2.s);
    return distance(SeriesAt(k, Eps(k, 1), false), s1, s2, sig12);
  }

  if (phi1 == 0) { // both on the equator
    // Along the equator up to its first conjugate point at (1 - f) pi; beyond, the geodesic
    // leaves the equator and meets it again after sigma = pi, where
    // lam = pi - f sin(alpha0) A3 pi (eq. 8 with the sine terms 0): solve for sin(alpha0).
    if (lam <= (1 - f) * kPi) return k.a * lam;
    double sa0 = (kPi - lam) / (f * kPi);
    for (int i = 0; i < 10; ++i) {
      const double next =
          (kPi - lam) / (f * kPi * SeriesAt(k, Eps(k, std::sqrt(1 - Sq(sa0))), false).A3);
      const bool settled = std::fabs(next - sa0) <= 1e-16;
      sa0 = std::min(next, 1.0);
      if (settled) break;
    }
    return k.b * SeriesAt(k, Eps(k, std::sqrt(1 - Sq(sa0))), false).A1 * kPi;
  }

  const double slam = std::sin(lam), clam = std::cos(lam);
  // Start azimuth. Near the antipode: the astroid solution in longitude and latitude offsets
  // scaled by f pi cos(beta1) (eqs. 53-57); elsewhere the great circle on a sphere whose
  // longitudes are scaled by the mean radius of the parallels (eq. 48).
  Unit2 a1{1, 0};
  {
    const double lamScale = f * b1.c * SeriesAt(k, Eps(k, b1.s), false).A3 * kPi;
    const double x = (lam - kPi) / lamScale;
    const double y = (b1.s * b2.c + b1.c * b2.s) / (lamScale * b1.c);
    const bool onEquator = y > -1e-12; // beta2 == -beta1
    if (std::fabs(x) < 6 && std::fabs(y) < 6 && !(onEquator && x < -1)) {
      if (onEquator) {
        a1 = {-x, -std::sqrt(std::max(0.0, 1 - x * x))};
      } else {
        const double mu = AstroidRoot(x, y);
        a1 = {-x / (1 + mu), y / mu};
      }
    } else {
      const double wbar = std::sqrt(1 - k.e2 * Sq((b1.c + b2.c) / 2));
      const double omg = std::min(lam / wbar, kPi);
      a1 = {b2.c * std::sin(omg), b1.c * b2.s - b1.s * b2.c * std::cos(omg)};
    }
    a1 = Normalized(a1.s, a1.c);
    if (!(a1.s > 0)) a1 = {1, 0};
  }

  // Newton's method on alpha1 in [0, pi], where the longitude reached grows with alpha1;
  // the root stays bracketed and a step that would leave the bracket becomes a bisection.
  // alpha1 is carried as its sine and cosine, turned by each step, so that a cosine near 0
  // (nearly equatorial geodesics through points close to the equator) keeps its digits.
  constexpr double kTolerance = 1e-14; // rad of longitude: 3e-6 GU
  constexpr int kMaxSteps = 100;
  double lo = 0, hi = kPi;
  Series se{};
  Unit2 s1{0, 1}, s2{0, 1};
  double sig12 = 0;
  for (int step = 0; step < kMaxSteps; ++step) {
    const double sa0 = a1.s * b1.c, ca0 = std::sqrt(Sq(a1.c) + Sq(a1.s * b1.s));
    s1 = Normalized(b1.s, a1.c * b1.c);
    const Unit2 w1 = Normalized(sa0 * b1.s, a1.c * b1.c);
    // Clairaut: cos(alpha2) from cos^2 a2 cos^2 b2 = cos^2 a1 cos^2 b1 + cos^2 b2 - cos^2 b1,
    // with the difference taken in the better-conditioned form.
    const double ca2 = std::sqrt(Sq(a1.c * b1.c) + (b1.c < -b1.s ? (b2.c - b1.c) * (b1.c + b2.c)
                                                                 : (b1.s - b2.s) * (b1.s + b2.s))) /
                       b2.c;
    s2 = Normalized(b2.s, ca2 * b2.c);
    const Unit2 w2 = Normalized(sa0 * b2.s, ca2 * b2.c);
    sig12 = std::atan2(std::max(0.0, s1.c * s2.s - s1.s * s2.c), s1.c * s2.c + s1.s * s2.s);
    // omega12 - lam directly, so that omega12 past pi does not wrap.
    const double sw12 = w2.s * w1.c - w2.c * w1.s, cw12 = w2.c * w1.c + w2.s * w1.s;
    const double eta = std::atan2(sw12 * clam - cw12 * slam, cw12 * clam + sw12 * slam);
    se = SeriesAt(k, Eps(k, ca0), true);
    const double v =
        eta - f * sa0 * se.A3 *
                  (sig12 + SinSeries<5>(se.C3, s2.s, s2.c) - SinSeries<5>(se.C3, s1.s, s1.c));
    if (std::fabs(v) <= kTolerance) break;
    const double alpha1 = std::atan2(a1.s, a1.c);
    if (v > 0)
      hi = std::min(hi, alpha1);
    else
      lo = std::max(lo, alpha1);
    // d lam / d alpha1 = m12 / (a cos(alpha2) cos(beta2)), m12 the reduced length (eq. 38).
    const double k2 = Sq(ca0) * k.ep2;
    const double dn1 = std::sqrt(1 + k2 * Sq(s1.s)), dn2 = std::sqrt(1 + k2 * Sq(s2.s));
    const double j12 = (se.A1 - se.A2) * sig12 +
                       se.A1 * (SinSeries<6>(se.C1, s2.s, s2.c) - SinSeries<6>(se.C1, s1.s, s1.c)) -
                       se.A2 * (SinSeries<6>(se.C2, s2.s, s2.c) - SinSeries<6>(se.C2, s1.s, s1.c));
    const double m12 = dn2 * s1.c * s2.s - dn1 * s1.s * s2.c - s1.c * s2.c * j12; // / b
    const double dv = (1 - f) * m12 / (ca2 * b2.c);
    const double d = -v / dv;
    if (dv > 0 && (v < 0 ? d < hi - alpha1 : -d < alpha1 - lo)) {
      const double sd = std::sin(d), cd = std::cos(d);
      const Unit2 next{a1.s * cd + a1.c * sd, a1.c * cd - a1.s * sd};
      if (next.s == a1.s && next.c == a1.c) break;
      a1 = next;
      continue;
    }
    if (!(hi - lo > 1e-16)) break;
    a1 = {std::sin((lo + hi) / 2), std::cos((lo + hi) / 2)};
  }
  return distance(se, s1, s2, sig12);
}

struct PairRadians
{
  double phiA, phiB, lam; // lam: B's longitude less A's, wrapped into [-pi, pi]
  bool meridional;        // on one meridian or its opposite, or a point on a pole
  bool same;              // one point (also two on one pole)
};

PairRadians ToRadians(const TGPointLL& a, const TGPointLL& b)
{
  const int32_t latA = std::clamp<int32_t>(a.iLatY, -GU_90, GU_90);
  const int32_t latB = std::clamp<int32_t>(b.iLatY, -GU_90, GU_90);
  int64_t dl = (static_cast<int64_t>(b.iLongX) - a.iLongX) % GU_360;
  if (dl > GU_180) dl -= GU_360;
  if (dl < -GU_180) dl += GU_360;
  const bool pole = std::abs(latA) == GU_90 || std::abs(latB) == GU_90;
  const double radiansPerGU = kPi / GU_180;
  return {latA * radiansPerGU, latB * radiansPerGU, static_cast<double>(dl) * radiansPerGU,
          dl == 0 || dl == GU_180 || dl == -GU_180 || pole, latA == latB && (dl == 0 || pole)};
}

long double ArcSin(long double y)
{
  if (std::fabs(y) < 1) return std::atan2(y, std::sqrt(1 - y * y));
  return y < 0 ? -GU_PI / 2 : GU_PI / 2;
}

// Distances lie in [0, 1.1e9] GU; RoundToInt32 (extended precision, saturating) only for
// anything outside, which would be a fault.
int32_t RoundDistance(double d)
{
  if (d >= 0 && d < 2e9) return static_cast<int32_t>(std::nearbyint(d));
  return RoundToInt32(d);
}

} // namespace

int32_t SpheroidDistance(const TGPointLL& a, const TGPointLL& b, TGSpheroid spheroid)
{
  const PairRadians p = ToRadians(a, b);
  if (p.same) return 0;
  const SpheroidConstants& k = Constants(spheroid);
  if (auto d = VincentyInverse(p.phiA, p.phiB, p.lam, k.a, k.f)) return RoundDistance(*d);
  return RoundDistance(AzimuthInverse(p.phiA, p.phiB, p.lam, p.meridional, k));
}

bool SpheroidDistanceConverges(const TGPointLL& a, const TGPointLL& b, TGSpheroid spheroid)
{
  const PairRadians p = ToRadians(a, b);
  if (p.same) return true;
  const SpheroidConstants& k = Constants(spheroid);
  return VincentyInverse(p.phiA, p.phiB, p.lam, k.a, k.f).has_value();
}

int32_t GreatCircleBearing(const TGPointLL& a, const TGPointLL& b)
{
  const long double phiA = a.iLatY * RADIANS_PER_GU;
  const long double phiB = b.iLatY * RADIANS_PER_GU;
  const long double delta = LongDiff(b.iLongX, a.iLongX) * RADIANS_PER_GU; // A - B, never 0
  const long double theta = std::atan2(std::sin(delta) * std::cos(phiB),
                                       std::cos(phiA) * std::sin(phiB) -
                                           std::sin(phiA) * std::cos(phiB) * std::cos(delta));
  return RoundToInt32(WrapRadians(theta) * GU_PER_RADIAN);
}

TGPointLL GreatCircleDestination(const TGPointLL& start, int32_t angle, int32_t distance)
{
  const long double phi1 = start.iLatY * RADIANS_PER_GU;
  const long double lambda1 = start.iLongX * RADIANS_PER_GU;
  const long double delta = distance / EarthRadiusGU;
  const long double theta = angle * RADIANS_PER_GU;
  const long double phi2 =
      ArcSin(std::sin(phi1) * std::cos(delta) + std::cos(phi1) * std::sin(delta) * std::cos(theta));
  const long double dLambda = std::atan2(std::sin(theta) * std::sin(delta) * std::cos(phi1),
                                         std::cos(delta) - std::sin(phi1) * std::sin(phi2));
  // In [-2 pi, 0]; PointLL brings the longitude back into range.
  const long double lambda2 = WrapRadians(lambda1 - dLambda + GU_PI) - GU_PI;
  return PointLL(RoundToInt32(lambda2 * GU_PER_RADIAN), RoundToInt32(phi2 * GU_PER_RADIAN));
}

TGPoint3D LLToPoint3D(long double iLong, long double iLat, long double iHeight)
{
  const long double rho = EarthRadiusGU + iHeight;
  const long double phi = iLat * RADIANS_PER_GU;
  const long double lambda = iLong * RADIANS_PER_GU;
  return {rho * std::cos(phi) * std::sin(lambda), rho * std::sin(phi),
          rho * std::cos(phi) * std::cos(lambda)};
}

TGPointLL Point3DToLL(const TGPoint3D& v)
{
  const int32_t lon = TruncToInt32(std::atan2(v.X, v.Z) * GU_PER_RADIAN);
  const int32_t lat = TruncToInt32(ArcSin(v.Y) * GU_PER_RADIAN);
  return {LongWrap(lon), lat, 0};
}

TGPoint3D V3Normalize(const TGPoint3D& v)
{
  const long double l2 = v.X * v.X + v.Y * v.Y + v.Z * v.Z;
  if (l2 <= 1e-10L) return v;
  const long double l = std::sqrt(l2);
  return {v.X / l, v.Y / l, v.Z / l};
}

TGPoint3D V3Make(long double x, long double y, long double z)
{
  return V3Normalize({x, y, z});
}

TGPoint3D V3Cross(const TGPoint3D& a, const TGPoint3D& b)
{
  return V3Normalize({a.Y * b.Z - a.Z * b.Y, a.Z * b.X - a.X * b.Z, a.X * b.Y - a.Y * b.X});
}

double V3Dot(const TGPoint3D& a, const TGPoint3D& b)
{
  return static_cast<double>(a.X * b.X + a.Y * b.Y + a.Z * b.Z);
}

TGPoint3D V3Add(const TGPoint3D& a, const TGPoint3D& b)
{
  return V3Normalize({a.X + b.X, a.Y + b.Y, a.Z + b.Z});
}

TGPoint3D V3Scale(const TGPoint3D& a, long double k)
{
  return {a.X * k, a.Y * k, a.Z * k};
}

TGPoint3D V3MulMatrix(const TGPoint3D& v, const TGMatrix& m)
{
  const auto& t = m.terms;
  return V3Normalize({v.X * t[0] + v.Y * t[1] + v.Z * t[2], v.X * t[4] + v.Y * t[5] + v.Z * t[6],
                      v.X * t[8] + v.Y * t[9] + v.Z * t[10]});
}

TGPoint3D LLToUnitVector(const TGPointLL& pt)
{
  return V3Normalize(LLToPoint3D(pt.iLongX, pt.iLatY, pt.iHeightZ));
}

TGQuaternion QuatFromAxisAngle(const TGPoint3D& axis, double angle)
{
  const double s = std::sin(angle / 2);
  return {s * static_cast<double>(axis.X), s * static_cast<double>(axis.Y),
          s * static_cast<double>(axis.Z), std::cos(angle / 2)};
}

TGQuaternion QuatFromEuler(double p, double q, double r)
{
  constexpr double kPi = 3.14159265358979323846;
  const double a = (kPi - p * kPi / 180) / 2;
  const double b = q * kPi / 180 / 2;
  const double c = r * kPi / 180 / 2;
  const double sA = std::sin(a), cA = std::cos(a);
  const double sB = std::sin(b), cB = std::cos(b);
  const double sC = std::sin(c), cC = std::cos(c);
  return {cB * sA * cC - sB * cA * sC, cB * sA * sC + sB * cA * cC, cB * cA * sC - sB * sA * cC,
          cB * cA * cC + sB * sA * sC};
}

TGMatrix MatrixIdentity()
{
  TGMatrix m;
  m.terms[0] = m.terms[5] = m.terms[10] = m.terms[15] = 1;
  return m;
}

TGMatrix QuatToMatrix(const TGQuaternion& q)
{
  TGMatrix m = MatrixIdentity();
  auto& t = m.terms;
  const double X = q.X, Y = q.Y, Z = q.Z, W = q.W;
  t[0] = 1 - 2 * (Y * Y + Z * Z);
  t[1] = 2 * X * Y + 2 * Z * W;
  t[2] = 2 * X * Z - 2 * Y * W;
  t[4] = 2 * X * Y - 2 * Z * W;
  t[5] = 1 - 2 * (X * X + Z * Z);
  t[6] = 2 * Y * Z + 2 * X * W;
  t[8] = 2 * X * Z + 2 * Y * W;
  t[9] = 2 * Y * Z - 2 * X * W;
  t[10] = 1 - 2 * (X * X + Y * Y);
  return m;
}

TGMatrix MatrixScale(const TGMatrix& m, double k)
{
  TGMatrix r = m;
  for (double& t : r.terms)
    t *= k;
  return r;
}

TGMatrix MatrixTranspose3(const TGMatrix& m)
{
  TGMatrix r = m;
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j)
      r.terms[i * 4 + j] = m.terms[j * 4 + i];
  return r;
}

} // namespace vtr
