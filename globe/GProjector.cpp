#include "globe/GProjector.h"

#include "base/TextLists.h"
#include "globe/GBitmap.h"
#include "globe/GGeodesy.h"
#include "globe/GPointStore.h"
#include "globe/GXML.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstring>
#include <limits>
#include <optional>
#include <type_traits>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace vtr {

namespace {

constexpr long double kMinScale = 5e-8L;
constexpr long double kMaxScale = 1.0L;
constexpr long double kMaxViewGU = 2'147'483'647.0L;
constexpr int32_t kOffMap = 972'000'000; // DeviceXYToLL's answer off the map
constexpr long double kOffMapDegrees = 2'147'483'647.0L;
constexpr int32_t kStep5 = 27'000'000;          // 5 degrees
constexpr int32_t kStep10 = 54'000'000;         // 10 degrees
constexpr int32_t kMercatorLimit = 480'600'000; // 89 degrees
constexpr int32_t kSphereExtent = 309'754'585;  // EarthRadiusGU rounded up

// RoundToInt32 (half to even, saturating, NaN to 0) through the hardware conversion. The
// library's nearbyint saves and restores the floating-point environment on every call, which
// costs more than the rest of a projection; lrint is still a library call (it may set errno),
// so doubles go straight to the SSE conversion, which rounds the same way (to nearest even in
// the default rounding mode).
template <class Real> int32_t Round32(Real v)
{
  if (v >= Real(-2147483648.0) && v <= Real(2147483647.0)) {
#if defined(__SSE2__)
    if constexpr (std::is_same_v<Real, double>) return _mm_cvtsd_si32(_mm_set_sd(v));
#endif
    return static_cast<int32_t>(std::lrint(v));
  }
  return std::isnan(v)
             ? 0
             : (v > 0 ? std::numeric_limits<int32_t>::max() : std::numeric_limits<int32_t>::min());
}

// Round32 of a double, one compare on the common path: the SSE conversion answers 0x80000000
// for NaN and for values out of range, and only that answer needs a closer look.
inline int32_t RoundPixel(double v)
{
#if defined(__SSE2__)
  const int32_t r = _mm_cvtsd_si32(_mm_set_sd(v));
  if (r != std::numeric_limits<int32_t>::min()) [[likely]]
    return r;
#endif
  return Round32(v);
}

// DeviceCoord of a double, without the 64-bit detour on the common path.
inline int32_t DevicePixel(double offset, int32_t origin)
{
  const int32_t r = RoundPixel(offset);
  int32_t d = 0;
  if (__builtin_add_overflow(r, origin, &d)) [[unlikely]]
    return ClampToInt32(int64_t{r} + origin);
  return d;
}

long double DegToGU(long double degrees)
{
  return degrees * GU_DEGREE;
}

// Device coordinate = rounded offset + origin, saturating instead of wrapping.
template <class Real> int32_t DeviceCoord(Real offset, int32_t origin)
{
  return ClampToInt32(static_cast<int64_t>(Round32(offset)) + origin);
}

// Longitude in GU of a real value, wrapped into (-GU_180, GU_180].
int32_t WrapRealLong(long double gu)
{
  if (!std::isfinite(gu) || std::fabs(gu) > 9e18L) return 0;
  return LongWrap64(std::llrint(gu));
}

// How much a captured view must grow to fill the current client area (by the diagonals).
long double POZScale(const TGPOZ& POZ, const IGProjectorHost& host)
{
  const long double now = std::hypot(static_cast<long double>(host.ClientHeight()),
                                     static_cast<long double>(host.ClientWidth()));
  const long double then =
      std::hypot(static_cast<long double>(POZ.iHeight), static_cast<long double>(POZ.iWidth));
  // A view captured from an empty control keeps its scale.
  return then > 0 ? now / then : 1.0L;
}

bool IsRotation(TGProjectionProperty index)
{
  return index == ppXRotation || index == ppYRotation || index == ppZRotation;
}

// Gathers the runs of PointStoreRunsToXY in the point buffer: each visible point is written at
// Next() and then kept, unless it landed on the pixel of the point before; End() hands the run
// on and starts the next at index 0.
class RunCollector
{
public:
  // Both are borrowed for the collector's life.
  RunCollector(TGPointBuffer& buffer, const std::function<void(int32_t)>& run)
      : buffer_(buffer), run_(run)
  {
  }
  int32_t Next() const { return count_; }
  void Keep()
  {
    ++visible_;
    if (count_ == 0 || !(buffer_[count_] == buffer_[count_ - 1])) ++count_;
  }
  void End()
  {
    if (visible_ >= 2) {
      // Several points on one pixel still make a (dot-sized) line.
      if (count_ == 1) buffer_.Put(count_++, buffer_[0]);
      run_(count_);
    }
    count_ = 0;
    visible_ = 0;
  }

private:
  TGPointBuffer& buffer_;
  const std::function<void(int32_t)>& run_;
  int32_t count_ = 0;   // points kept in this run
  int64_t visible_ = 0; // visible points of this run, kept or not
};

} // namespace

TGRect WorldExtentsLL()
{
  return {-971'999'999, -GU_90, GU_180, GU_90};
}

// ---------------------------------------------------------------------------------------------
// TGCustomProjectionModel

TGProjector& TGCustomProjectionModel::Projector() const
{
  G_ASSERT_MSG(FProjector != nullptr, "Projection model is not installed in a projector");
  return *FProjector;
}

TGPointBuffer& TGCustomProjectionModel::Points() const
{
  return Projector().Host().Renderer().Points();
}

void TGCustomProjectionModel::Assign(const TGCustomProjectionModel& /*source*/) {}

void TGCustomProjectionModel::SaveToXML(TGXML_Element& el) const
{
  el.AddAttribute("Class", ClassName());
}

// ---------------------------------------------------------------------------------------------
// TGProjectionModel

int32_t TGProjectionModel::PointStoreToXY(const TGPointStore& points, int32_t iStart)
{
  G_ASSERT(iStart >= 0);
  const std::span<const TGPointLL> pts = points.Points();
  Points().Reserve(ClampToInt32(static_cast<int64_t>(iStart) + static_cast<int64_t>(pts.size())));
  int32_t index = iStart;
  for (const TGPointLL& pt : pts)
    if (PointLLToXY(pt, index)) ++index;
  return index;
}

void TGProjectionModel::PointStoreRunsToXY(const TGPointStore& points, bool closed,
                                           const std::function<void(int32_t)>& run)
{
  const std::span<const TGPointLL> pts = points.Points();
  const size_t n = pts.size();
  RunCollector runs(Points(), run);
  for (size_t k = 0; n > 0 && k < n + (closed ? 1 : 0); ++k) {
    if (PointLLToXY(pts[k < n ? k : 0], runs.Next()))
      runs.Keep();
    else
      runs.End();
  }
  runs.End();
}

bool TGProjectionModel::LLToXY(int32_t iLong, int32_t iLat, int32_t iIndex)
{
  return PointLLToXY({iLong, iLat, 0}, iIndex);
}

bool TGProjectionModel::LLHToXY(int32_t iLong, int32_t iLat, int32_t iHeight, int32_t iIndex)
{
  return PointLLToXY({iLong, iLat, iHeight}, iIndex);
}

TGRect TGProjectionModel::ExtentsLL() const
{
  return WorldExtentsLL();
}

bool TGProjectionModel::VisibleMER(const TGMER& MER, TGRenderStateSet& State)
{
  State &= static_cast<TGRenderStateSet>(~(rsFace | rsBackFace));
  try {
    if (MER.iWidthX >= GU_360) return true;
    const int64_t west = MER.iLongX;
    const int64_t south = MER.iLatY;
    const int64_t east = MERRight(MER);
    const int64_t north = MERTop(MER);
    if (MER.iWidthX <= GU_180 && east < GU_180 + 1)
      return VisibleRect(west, south, east, north, State);
    // Across +-180 (or very wide): the part up to the meridian and the part beyond it.
    return VisibleRect(west, south, GU_180, north, State) ||
           VisibleRect(-GU_180, south, east - GU_360, north, State);
  } catch (const std::exception&) {
    return true;
  }
}

bool TGProjectionModel::VisibleRect(int64_t west, int64_t south, int64_t east, int64_t north,
                                    TGRenderStateSet& State)
{
  int32_t count = 0;
  int32_t visible = 0;
  auto sample = [&](int64_t iLong, int64_t iLat) {
    if (LLToXY(ClampToInt32(iLong), ClampToInt32(iLat), count++)) ++visible;
  };
  sample(west, south);
  sample(west, north);
  sample(east, north);
  sample(east, south);
  for (int64_t x = west + kStep5; x < east; x += kStep5) {
    sample(x, south);
    sample(x, north);
  }
  for (int64_t y = south + kStep5; y < north; y += kStep5) {
    sample(west, y);
    sample(east, y);
  }
  if (visible == 0) return false;
  IGRenderSurface& renderer = Projector().Host().Renderer();
  if (!renderer.XYListVisible(renderer.Points().Data(), count)) return false;
  if (visible < count) State |= rsBackFace;
  State |= rsFace;
  return true;
}

std::unique_ptr<TGCustomProjectionModel> TGProjectionModel::Clone(TGProjector& projector) const
{
  std::unique_ptr<TGCustomProjectionModel> model = NewInstance(projector.Globe());
  model->FProjector = &projector;
  model->Assign(*this);
  return model;
}

// ---------------------------------------------------------------------------------------------
// TGSphericalPrj

void TGSphericalPrj::Assign(const TGCustomProjectionModel& source)
{
  TGProjectionModel::Assign(source);
  if (const auto* other = dynamic_cast<const TGSphericalPrj*>(&source)) {
    Transform = other->Transform;
    InvTransform = other->InvTransform;
    GlobeRadius = other->GlobeRadius;
    GlobeRadiusSquared = other->GlobeRadiusSquared;
  }
}

void TGSphericalPrj::RebuildMatrices()
{
  const TGProjector& p = Projector();
  const TGMatrix m = QuatToMatrix(QuatFromEuler(static_cast<double>(p.XRotation()),
                                                static_cast<double>(p.YRotation()),
                                                static_cast<double>(p.ZRotation())));
  const auto sf = static_cast<double>(p.ScaleFactor());
  Transform = MatrixScale(m, sf);
  InvTransform = MatrixScale(MatrixTranspose3(m), 1.0 / sf);
}

void TGSphericalPrj::PropertyChanged(TGProjectionProperty ProjectionProperty)
{
  TGProjector& p = Projector();
  switch (ProjectionProperty) {
  case ppXRotation: {
    const long double x = p.XRotation();
    const long double clamped = std::clamp(x, -90.0L, 90.0L);
    if (clamped != x) p.SetXRotation(clamped);
    break;
  }
  case ppYRotation: {
    const long double y = p.YRotation();
    const long double wrapped = WrapDegrees(static_cast<double>(y));
    if (wrapped != y) p.SetYRotation(wrapped);
    break;
  }
  case ppZRotation: {
    const long double z = p.ZRotation();
    const long double wrapped = WrapDegrees(static_cast<double>(z));
    if (wrapped != z) p.SetZRotation(wrapped);
    break;
  }
  case ppScaleFactor:
    GlobeRadius = p.ScaleFactor() * EarthRadiusGU;
    GlobeRadiusSquared = GlobeRadius * GlobeRadius;
    break;
  default:
    return;
  }
  RebuildMatrices();
}

bool TGSphericalPrj::PointLLToXY(const TGPointLL& ptLL, int32_t iIndex)
{
  // The point's vector as LLToPoint3D gives it, in double precision: extended sines and
  // cosines would cost ten times the rest of the projection, for digits far below a pixel.
  constexpr auto kRadians = static_cast<double>(RADIANS_PER_GU);
  const double phi = ptLL.iLatY * kRadians;
  const double lambda = ptLL.iLongX * kRadians;
  const double rho = static_cast<double>(EarthRadiusGU) + ptLL.iHeightZ;
  const double cosPhi = std::cos(phi);
  const double vx = rho * cosPhi * std::sin(lambda);
  const double vy = rho * std::sin(phi);
  const double vz = rho * cosPhi * std::cos(lambda);
  const auto& t = Transform.terms;
  const double x = vx * t[0] + vy * t[1] + vz * t[2];
  const double y = vx * t[4] + vy * t[5] + vz * t[6];
  const double z = vx * t[8] + vy * t[9] + vz * t[10];
  bool visible = z < 0;
  // A raised point behind the globe still shows where it stands out beyond the rim.
  if (!visible && ptLL.iHeightZ > 0) visible = x * x + y * y > GlobeRadiusSquared;
  const TGProjector& p = Projector();
  Points().Put(iIndex, {DeviceCoord(x, p.XOrigin()), DeviceCoord(y, p.YOrigin())});
  return visible;
}

int32_t TGSphericalPrj::PointStoreToXY(const TGPointStore& points, int32_t iStart)
{
  G_ASSERT(iStart >= 0);
  const std::vector<TGPoint3DD>& vectors = points.Point3DArray();
  if (vectors.empty()) return iStart;
  TGPointBuffer& buffer = Points();
  buffer.Reserve(ClampToInt32(static_cast<int64_t>(iStart) + static_cast<int64_t>(vectors.size())));
  TGPoint* out = buffer.Data();
  const TGProjector& p = Projector();
  const int32_t xo = p.XOrigin();
  const int32_t yo = p.YOrigin();
  // Double precision is ample for pixels (the matrix is double already) and keeps the loop
  // off the x87 unit.
  const auto& t = Transform.terms;
  const double t0 = t[0], t1 = t[1], t2 = t[2], t4 = t[4], t5 = t[5], t6 = t[6];
  const double t8 = t[8], t9 = t[9], t10 = t[10];
  const auto radius = static_cast<double>(GlobeRadius);

  // Every point is written at the next free slot, and the slot is kept only when the point
  // differs from the last one kept: no branch on the duplicate test, which mispredicts often
  // (consecutive points of a detailed chain often land on the same pixel). No int32 equals
  // lastX before the first point.
  TGPoint* o = out + iStart;
  TGPoint* const end = out + buffer.Capacity();
  int64_t lastX = std::numeric_limits<int64_t>::min();
  int32_t lastY = 0;
  for (const TGPoint3DD& p3 : vectors) {
    const double vx = p3.X, vy = p3.Y, vz = p3.Z;
    double x = vx * t0 + vy * t1 + vz * t2;
    double y = vx * t4 + vy * t5 + vz * t6;
    const double z = vx * t8 + vy * t9 + vz * t10;
    if (z > 0) {
      // Behind the globe: onto the rim in the same direction from the centre.
      const double d = std::sqrt(x * x + y * y);
      if (d > 0) {
        const double k = radius / d;
        x *= k;
        y *= k;
      } else {
        x = radius;
        y = 0;
      }
    }
    const int32_t ix = RoundPixel(x);
    const int32_t iy = RoundPixel(y);
    if (o == end) break; // only when iStart + count exceeds 2^31
    int32_t dx = 0, dy = 0;
    if (__builtin_add_overflow(ix, xo, &dx) | __builtin_add_overflow(iy, yo, &dy)) [[unlikely]] {
      dx = ClampToInt32(int64_t{ix} + xo);
      dy = ClampToInt32(int64_t{iy} + yo);
    }
    *o = {dx, dy};
    o += (ix != lastX) | (iy != lastY);
    lastX = ix;
    lastY = iy;
  }
  return static_cast<int32_t>(o - out);
}

void TGSphericalPrj::PointStoreRunsToXY(const TGPointStore& points, bool closed,
                                        const std::function<void(int32_t)>& run)
{
  const std::vector<TGPoint3DD>& vectors = points.Point3DArray();
  const std::span<const TGPointLL> pts = points.Points();
  const size_t n = vectors.size();
  if (n == 0) return;
  TGPointBuffer& buffer = Points();
  buffer.Reserve(ClampToInt32(static_cast<int64_t>(n) + 1));
  const TGProjector& p = Projector();
  const int32_t xo = p.XOrigin();
  const int32_t yo = p.YOrigin();
  const auto& t = Transform.terms;
  RunCollector runs(buffer, run);
  for (size_t k = 0; k < n + (closed ? 1 : 0); ++k) {
    const size_t i = k < n ? k : 0;
    const double vx = vectors[i].X, vy = vectors[i].Y, vz = vectors[i].Z;
    // The same terms in the same order as PointLLToXY, so both give the same pixels.
    const double x = vx * t[0] + vy * t[1] + vz * t[2];
    const double y = vx * t[4] + vy * t[5] + vz * t[6];
    const double z = vx * t[8] + vy * t[9] + vz * t[10];
    const bool visible = z < 0 || (pts[i].iHeightZ > 0 && x * x + y * y > GlobeRadiusSquared);
    if (!visible) {
      runs.End();
      continue;
    }
    buffer[runs.Next()] = {DevicePixel(x, xo), DevicePixel(y, yo)};
    runs.Keep();
  }
  runs.End();
}

bool TGSphericalPrj::XYToLL(int32_t iX, int32_t iY, int32_t iIndex)
{
  // Double precision as in the forward direction: the pointer and the shadow ask per pixel.
  const TGProjector& p = Projector();
  const double dx = static_cast<double>(iX) - p.XOrigin();
  const double dy = static_cast<double>(iY) - p.YOrigin();
  const double a = static_cast<double>(GlobeRadiusSquared) - dx * dx - dy * dy;
  if (!(a >= 0)) return false;
  const double z = -std::sqrt(a);
  const auto& t = InvTransform.terms;
  const double wx = dx * t[0] + dy * t[1] + z * t[2];
  const double wy = dx * t[4] + dy * t[5] + z * t[6];
  const double wz = dx * t[8] + dy * t[9] + z * t[10];
  // Rounding can carry the vector a hair past the pole.
  const double s = std::clamp(wy / static_cast<double>(EarthRadiusGU), -1.0, 1.0);
  constexpr auto kGUPerRadian = static_cast<double>(GU_PER_RADIAN);
  const int32_t lat = Round32(std::asin(s) * kGUPerRadian);
  const int32_t lon = Round32(std::atan2(wx, wz) * kGUPerRadian);
  Points().Put(iIndex, {lon, lat});
  return true;
}

TGRect TGSphericalPrj::ExtentsLL() const
{
  return {-kSphereExtent, -kSphereExtent, kSphereExtent, kSphereExtent};
}

TGPOZ TGSphericalPrj::GetPOZ()
{
  const TGProjector& p = Projector();
  TGPOZ POZ;
  POZ.eSF = p.ScaleFactor();
  POZ.CenterXY = p.CenterXY();
  POZ.iRotX = Round32(DegToGU(p.XRotation()));
  POZ.iRotY = Round32(DegToGU(p.YRotation()));
  POZ.iRotZ = Round32(DegToGU(p.ZRotation()));
  POZ.iWidth = p.Host().ClientWidth();
  POZ.iHeight = p.Host().ClientHeight();
  return POZ;
}

void TGSphericalPrj::SetPOZ(const TGPOZ& POZ)
{
  try {
    TGProjector& p = Projector();
    const long double k = POZScale(POZ, p.Host());
    p.SetScaleFactor(k * POZ.eSF);
    p.SetXRotation(POZ.iRotX / static_cast<long double>(GU_DEGREE));
    p.SetYRotation(POZ.iRotY / static_cast<long double>(GU_DEGREE));
    p.SetZRotation(POZ.iRotZ / static_cast<long double>(GU_DEGREE));
    p.SetCenterXY({Round32(k * POZ.CenterXY.X), Round32(k * POZ.CenterXY.Y)});
  } catch (const std::exception&) {
    // A view that cannot be restored leaves what was applied so far.
  }
}

void TGSphericalPrj::PaintSurface()
{
  const TGProjector& p = Projector();
  IGRenderSurface& renderer = p.Host().Renderer();
  TGPointBuffer& buffer = renderer.Points();
  constexpr int32_t kPoints = 180;
  buffer.Reserve(kPoints);
  const long double step = 2.0L * GU_PI / 180.0L;
  const long double s = std::sin(step), c = std::cos(step);
  long double dx = GlobeRadius - 1, dy = 0;
  for (int32_t i = 0; i < kPoints; ++i) {
    buffer[i] = {DeviceCoord(dx, p.XOrigin()), DeviceCoord(dy, p.YOrigin())};
    const long double nx = dx * c - dy * s;
    dy = dx * s + dy * c;
    dx = nx;
  }
  renderer.BeginDrawPoly(true);
  renderer.AddClippedPoly(kPoints, 0);
  renderer.EndDrawPoly();
}

namespace {

// Geographic position of an octahedron vertex (unit vector). The western faces force their
// longitudes negative so that their seam stays at -180 and the eastern faces' at +180.
TGPointLL FaceCornerLL(const TGPoint3D& v, bool western)
{
  constexpr auto kGUPerRadian = static_cast<double>(GU_PER_RADIAN);
  const auto x = static_cast<double>(v.X), y = static_cast<double>(v.Y);
  const auto z = static_cast<double>(v.Z);
  int32_t lon = Round32(std::atan2(x, z) * kGUPerRadian - 1);
  if (western) lon = -std::abs(lon);
  const int32_t lat = Round32(std::asin(std::clamp(y, -1.0, 1.0)) * kGUPerRadian);
  return {lon, lat, 0};
}

// Texture pixel of a position for an image spanning the world.
TGPoint WorldTexturePoint(const TGPointLL& pt, int32_t width, int32_t height)
{
  const long double tx = (pt.iLongX + 972'000'000.0L) / 1'944'000'000.0L * (width - 1);
  const long double ty = (pt.iLatY + 486'000'000.0L) / 972'000'000.0L * (height - 1);
  return {Round32(tx), height - Round32(ty)};
}

} // namespace

void TGSphericalPrj::SubdivideFace(const TGPoint3D& a, const TGPoint3D& b, const TGPoint3D& c,
                                   int depth, bool western, TGBitmap& image)
{
  if (depth > 0) {
    // A spherical triangle lies wholly behind the globe when all its corners do.
    if (!PointLLToXY(FaceCornerLL(a, western), 0) && !PointLLToXY(FaceCornerLL(b, western), 0) &&
        !PointLLToXY(FaceCornerLL(c, western), 0))
      return;
    const TGPoint3D ab = V3Add(a, b);
    const TGPoint3D bc = V3Add(b, c);
    const TGPoint3D ca = V3Add(c, a);
    SubdivideFace(a, ca, ab, depth - 1, western, image);
    SubdivideFace(b, ab, bc, depth - 1, western, image);
    SubdivideFace(c, bc, ca, depth - 1, western, image);
    SubdivideFace(ab, ca, bc, depth - 1, western, image);
    return;
  }
  TGTriangleLL world{FaceCornerLL(a, western), FaceCornerLL(b, western), FaceCornerLL(c, western)};
  // A pole has no longitude of its own; taking the face's would stretch the texture point of
  // a polar triangle across half the image. It takes its neighbours' mean instead.
  const TGPoint3D* corners[3] = {&a, &b, &c};
  for (size_t i = 0; i < 3; ++i) {
    if (corners[i]->X != 0 || corners[i]->Z != 0) continue;
    const TGPointLL& p = world[(i + 1) % 3];
    const TGPointLL& q = world[(i + 2) % 3];
    world[i].iLongX =
        static_cast<int32_t>((static_cast<int64_t>(p.iLongX) + static_cast<int64_t>(q.iLongX)) / 2);
  }
  const int32_t w = image.Width();
  const int32_t h = image.Height();
  const TGTriangle tex{WorldTexturePoint(world[0], w, h), WorldTexturePoint(world[1], w, h),
                       WorldTexturePoint(world[2], w, h)};
  Projector().Host().RenderTextureTriangle(tex, world, image, false);
}

void TGSphericalPrj::PaintSurfaceImage(TGBitmap& image)
{
  if (image.Empty()) return;
  const long double sf = Projector().ScaleFactor();
  const int depth = 4 + (sf > 2e-7L) + (sf > 2e-6L) + (sf > 2e-5L);
  const TGPoint3D X{1, 0, 0}, Y{0, 1, 0}, Z{0, 0, 1};
  const TGPoint3D nX{-1, 0, 0}, nY{0, -1, 0}, nZ{0, 0, -1};
  // The eastern faces (with +X) first, then the four western ones.
  const TGPoint3D faces[8][3] = {{X, Z, Y},   {X, Y, nZ}, {nY, Z, X},   {nY, X, nZ},
                                 {Y, nX, nZ}, {Y, Z, nX}, {nX, nY, nZ}, {nX, Z, nY}};
  for (int f = 0; f < 8; ++f)
    SubdivideFace(faces[f][0], faces[f][1], faces[f][2], depth, f >= 4, image);
}

// ---------------------------------------------------------------------------------------------
// TGCartesianPrj

void TGCartesianPrj::Assign(const TGCustomProjectionModel& source)
{
  TGProjectionModel::Assign(source);
  // The last rotations travel with a copy, or its first rotation would jump the map by the
  // whole rotation.
  if (const auto* other = dynamic_cast<const TGCartesianPrj*>(&source)) {
    LastXrotation = other->LastXrotation;
    LastYrotation = other->LastYrotation;
  }
}

int32_t TGCartesianPrj::MeridianOffset(int32_t iLong) const
{
  const int64_t meridian = Round32(DegToGU(Projector().CentralMeridian()));
  return LongWrap64(static_cast<int64_t>(iLong) - meridian);
}

bool TGCartesianPrj::PointLLToXY(const TGPointLL& ptLL, int32_t iIndex)
{
  const TGProjector& p = Projector();
  const int32_t x = MeridianOffset(ptLL.iLongX);
  const long double sf = p.ScaleFactor();
  Points().Put(iIndex,
               {DeviceCoord(x * sf, p.XOrigin()), DeviceCoord(-(ptLL.iLatY * sf), p.YOrigin())});
  const TGRect e = ExtentsLL();
  // The east edge is exclusive so that the edge meridian belongs to the west edge only.
  return e.Left <= x && x < e.Right && e.Top <= ptLL.iLatY && ptLL.iLatY <= e.Bottom;
}

bool TGCartesianPrj::XYToLL(int32_t iX, int32_t iY, int32_t iIndex)
{
  const TGProjector& p = Projector();
  const long double sf = p.ScaleFactor();
  const long double x = (static_cast<long double>(iX) - p.XOrigin()) / sf;
  const long double y = -(static_cast<long double>(iY) - p.YOrigin()) / sf;
  const TGRect e = ExtentsLL();
  if (!(e.Left <= x && x <= e.Right && e.Top <= y && y <= e.Bottom)) return false;
  Points().Put(iIndex, {WrapRealLong(DegToGU(p.CentralMeridian()) + x), Round32(y)});
  return true;
}

TGPOZ TGCartesianPrj::GetPOZ()
{
  TGProjector& p = Projector();
  TGPOZ POZ;
  POZ.eSF = p.ScaleFactor();
  POZ.CenterXY = p.CenterXY();
  POZ.iRotX = Round32(DegToGU(p.CenterLatitude()));
  POZ.iRotY = Round32(DegToGU(p.CenterLongitude()));
  POZ.iRotZ = 0;
  POZ.iWidth = p.Host().ClientWidth();
  POZ.iHeight = p.Host().ClientHeight();
  return POZ;
}

void TGCartesianPrj::SetPOZ(const TGPOZ& POZ)
{
  try {
    TGProjector& p = Projector();
    p.SetScaleFactor(POZScale(POZ, p.Host()) * POZ.eSF);
    p.SetCenterLongitude(LongWrap(POZ.iRotY) / static_cast<long double>(GU_DEGREE));
    p.SetCenterLatitude(POZ.iRotX / static_cast<long double>(GU_DEGREE));
    p.SetZRotation(0);
  } catch (const std::exception&) {
    // As for the sphere: what was applied stays.
  }
}

void TGCartesianPrj::PropertyChanged(TGProjectionProperty ProjectionProperty)
{
  TGProjector& p = Projector();
  if (ProjectionProperty == ppXRotation) {
    switch (p.XAxisChanges()) {
    case xaYOrigin: {
      // The map moves vertically by the change of rotation.
      const int32_t lon = Round32(DegToGU(p.YRotation()));
      const int32_t lat = -Round32(DegToGU(p.XRotation() - LastXrotation));
      PointLLToXY({lon, lat, 0}, 0);
      p.SetYOrigin(Points()[0].Y);
      break;
    }
    case xaCentralParallel:
      p.SetCentralParallel(
          WrapDegrees(static_cast<double>(p.XRotation() - LastXrotation + p.CentralParallel())));
      break;
    case xaNoAction:
      break;
    }
    LastXrotation = p.XRotation();
  } else if (ProjectionProperty == ppYRotation) {
    switch (p.YAxisChanges()) {
    case yaXOrigin: {
      const int32_t lon = -Round32(DegToGU(p.YRotation() - LastYrotation));
      const int32_t lat = -Round32(DegToGU(p.XRotation()));
      PointLLToXY({lon, lat, 0}, 0);
      p.SetXOrigin(Points()[0].X);
      break;
    }
    case yaCentralMeridian:
      p.SetCentralMeridian(
          WrapDegrees(static_cast<double>(p.YRotation() - LastYrotation + p.CentralMeridian())));
      break;
    case yaNoAction:
      break;
    }
    LastYrotation = p.YRotation();
  }
}

void TGCartesianPrj::PaintSurface()
{
  TGProjector& p = Projector();
  const TGRect e = ExtentsLL();
  const long double meridian = p.CentralMeridian();
  // With the central meridian at 0 the world's edges land on the map's edges instead of
  // wrapping into its middle; the map spans 360 degrees whatever its centre.
  p.SetCentralMeridian(0);
  int32_t k = 0;
  for (int32_t i = 0; i < 36; ++i)
    LLToXY(e.Left + i * kStep10, e.Top, k++);
  for (int32_t j = 0; j < 18; ++j)
    LLToXY(e.Right - 1, e.Top + j * kStep10, k++);
  for (int32_t i = 0; i < 36; ++i)
    LLToXY(e.Right - i * kStep10 - 1, e.Bottom, k++);
  for (int32_t j = 0; j < 18; ++j)
    LLToXY(e.Left, e.Bottom - j * kStep10, k++);
  p.SetCentralMeridian(meridian);
  IGRenderSurface& renderer = p.Host().Renderer();
  renderer.BeginDrawPoly(true);
  renderer.AddClippedPoly(k, 0);
  renderer.EndDrawPoly();
}

void TGCartesianPrj::PaintSurfaceImage(TGBitmap& image)
{
  if (image.Empty()) return;
  IGProjectorHost& host = Projector().Host();
  const long double H = image.Height();
  const long double cw = image.Width() / 36.0L;
  const long double ch = image.Height() / 18.0L;
  auto texPoint = [](long double x, long double y) -> TGPoint { return {Round32(x), Round32(y)}; };
  for (int32_t i = 0; i < 36; ++i) {
    const int32_t west = -GU_180 + i * kStep10;
    const long double x0 = i * cw;
    for (int32_t j = 0; j < 18; ++j) {
      const int32_t south = -GU_90 + j * kStep10;
      const int32_t north = south + kStep10;
      const long double y0 = j * ch;
      // 1 GU in from the cell's west and east edges, so no corner sits on +-180.
      const TGPointLL sw{west + 1, south, 0}, se{west + 53'999'999, south, 0};
      const TGPointLL nw{west + 1, north, 0}, ne{west + 53'999'999, north, 0};
      host.RenderTextureTriangle(
          {texPoint(x0, H - y0), texPoint(x0 + cw, H - y0), texPoint(x0, H - (y0 + ch))},
          {sw, se, nw}, image, false);
      host.RenderTextureTriangle({texPoint(x0 + cw, H - (y0 + ch)), texPoint(x0 + cw, H - y0),
                                  texPoint(x0, H - (y0 + ch))},
                                 {ne, se, nw}, image, false);
    }
  }
}

// ---------------------------------------------------------------------------------------------
// TGMercatorPrj

bool TGMercatorPrj::PointLLToXY(const TGPointLL& ptLL, int32_t iIndex)
{
  const TGProjector& p = Projector();
  const int32_t x = MeridianOffset(ptLL.iLongX);
  const int32_t lat = std::clamp(ptLL.iLatY, -kMercatorLimit, kMercatorLimit);
  // Double precision keeps y within a millionth of a GU, far below a pixel, at a fraction of
  // the cost of extended transcendentals.
  const double phi = static_cast<double>(lat * RADIANS_PER_GU);
  const long double y =
      std::log(std::tan(phi / 2 + static_cast<double>(GU_PI) / 4)) * GU_PER_RADIAN;
  const long double sf = p.ScaleFactor();
  Points().Put(iIndex, {DeviceCoord(x * sf, p.XOrigin()), DeviceCoord(-(y * sf), p.YOrigin())});
  const TGRect e = ExtentsLL();
  return e.Left <= x && x <= e.Right && e.Top <= ptLL.iLatY && ptLL.iLatY <= e.Bottom;
}

bool TGMercatorPrj::XYToLL(int32_t iX, int32_t iY, int32_t iIndex)
{
  const TGProjector& p = Projector();
  const long double sf = p.ScaleFactor();
  const long double x = (static_cast<long double>(iX) - p.XOrigin()) / sf;
  const long double y = (static_cast<long double>(iY) - p.YOrigin()) / sf;
  const double k = std::exp(static_cast<double>(-y * RADIANS_PER_GU));
  const long double lat = (2 * std::atan(k) - static_cast<double>(GU_PI) / 2) * GU_PER_RADIAN;
  const TGRect e = ExtentsLL();
  if (!(e.Left <= x && x <= e.Right && e.Top <= lat && lat <= e.Bottom)) return false;
  Points().Put(iIndex, {WrapRealLong(DegToGU(p.CentralMeridian()) + x), Round32(lat)});
  return true;
}

// ---------------------------------------------------------------------------------------------
// TGProjector

TGProjector::TGProjector(IGProjectorHost& host, TGGlobe* globe) : FHost(host), FGlobe(globe)
{
  const int32_t w = RendererWidth();
  const int32_t h = RendererHeight();
  FXOrigin = w / 2;
  FYOrigin = h / 2;
  // The scale never leaves [5e-8, 1], also for a renderer that has no size yet.
  FScaleFactor = std::clamp(std::min(w, h) / 972'000'000.0L, kMinScale, kMaxScale);
}

TGProjector::~TGProjector() = default;

int32_t TGProjector::RendererWidth() const
{
  return FHost.Renderer().Width();
}

int32_t TGProjector::RendererHeight() const
{
  return FHost.Renderer().Height();
}

void TGProjector::Assign(const TGProjector& source)
{
  if (&source == this) return;
  FXOrigin = source.FXOrigin;
  FYOrigin = source.FYOrigin;
  FXRotation = source.FXRotation;
  FYRotation = source.FYRotation;
  FZRotation = source.FZRotation;
  FMaxLatitude = source.FMaxLatitude;
  FMinLatitude = source.FMinLatitude;
  FMaxLongitude = source.FMaxLongitude;
  FMinLongitude = source.FMinLongitude;
  FMaxZoom = source.FMaxZoom;
  FMinZoom = source.FMinZoom;
  FScaleFactor = source.FScaleFactor;
  FFieldOfViewAngle = source.FFieldOfViewAngle;
  FCentralMeridian = source.FCentralMeridian;
  FCentralParallel = source.FCentralParallel;
  FFirstParallel = source.FFirstParallel;
  FSecondParallel = source.FSecondParallel;
  FSpheroid = source.FSpheroid;
  FXAxisChanges = source.FXAxisChanges;
  FYAxisChanges = source.FYAxisChanges;
  FProjectionModel.reset();
  if (source.FProjectionModel) FProjectionModel = source.FProjectionModel->Clone(*this);
}

std::unique_ptr<TGProjector> TGProjector::Clone() const
{
  auto copy = std::make_unique<TGProjector>(FHost, FGlobe);
  copy->Assign(*this);
  return copy;
}

// --- XML form

void TGProjector::SaveToXML(TGXML_Element& el) const
{
  el.AddAttribute("Class", ClassName());
  el.AddFloatAttribute("ScaleFactor", FScaleFactor, 0);
  el.AddFloatAttribute("CentralMeridian", FCentralMeridian, 0);
  el.AddFloatAttribute("CentralParallel", FCentralParallel, 0);
  el.AddFloatAttribute("FirstParallel", FFirstParallel, 0);
  el.AddFloatAttribute("SecondParallel", FSecondParallel, 0);
  el.AddFloatAttribute("MaxLatitude", FMaxLatitude, 90);
  el.AddFloatAttribute("MaxLongitude", FMaxLongitude, 180);
  el.AddFloatAttribute("MaxZoom", FMaxZoom, 0);
  el.AddFloatAttribute("MinLatitude", FMinLatitude, -90);
  el.AddFloatAttribute("MinLongitude", FMinLongitude, -180);
  el.AddFloatAttribute("MinZoom", FMinZoom, 0);
  el.AddBoolAttribute("UseMinMax", FUseMinMaxLimits, false);
  el.AddFloatAttribute("FOV", FFieldOfViewAngle, 50);
  el.AddIntAttribute("Spheroid", static_cast<int32_t>(FSpheroid),
                     static_cast<int32_t>(TGSpheroid::WGS84));
  el.AddFloatAttribute("XRotation", FXRotation, 0);
  el.AddFloatAttribute("YRotation", FYRotation, 0);
  el.AddFloatAttribute("ZRotation", FZRotation, 0);
  el.AddIntAttribute("XOrigin", FXOrigin, 0);
  el.AddIntAttribute("YOrigin", FYOrigin, 0);
  el.AddIntAttribute("XAxisChanges", FXAxisChanges, xaYOrigin);
  el.AddIntAttribute("YAxisChanges", FYAxisChanges, yaCentralMeridian);
  if (FProjectionModel) FProjectionModel->SaveToXML(el.AddElement("ProjectionModel"));
}

void TGProjector::LoadFromXML(const TGXML_Element& el)
{
  std::unique_ptr<TGCustomProjectionModel> model = CreateFromXMLAs<TGCustomProjectionModel>(
      FGlobe, el.Element("ProjectionModel"), "TGSphericalPrj");
  if (!model) model = std::make_unique<TGSphericalPrj>(FGlobe);
  SetProjectionModel(std::move(model));
  // The limits only apply to the Cartesian model; "UseMinMax" below may switch them on.
  FUseMinMaxLimits = false;

  SetSpheroid(EnumAttribute(el, "Spheroid", TGSpheroid::WGS84, kSpheroidCount));
  SetXAxisChanges(EnumAttribute(el, "XAxisChanges", xaYOrigin, xaNoAction + 1));
  SetYAxisChanges(EnumAttribute(el, "YAxisChanges", yaCentralMeridian, yaNoAction + 1));
  SetScaleFactor(el.FloatAttribute("ScaleFactor", 0));
  SetMaxLatitude(el.FloatAttribute("MaxLatitude", 90));
  SetMinLatitude(el.FloatAttribute("MinLatitude", -90));
  SetMaxLongitude(el.FloatAttribute("MaxLongitude", 180));
  SetMinLongitude(el.FloatAttribute("MinLongitude", -180));
  SetMaxZoom(el.FloatAttribute("MaxZoom", 0));
  SetMinZoom(el.FloatAttribute("MinZoom", 0));
  SetUseMinMaxLimits(el.BoolAttribute("UseMinMax", false));
  SetFieldOfViewAngle(el.FloatAttribute("FOV", 50));
  SetXRotation(el.FloatAttribute("XRotation", 0));
  SetYRotation(el.FloatAttribute("YRotation", 0));
  SetZRotation(el.FloatAttribute("ZRotation", 0));
  SetCenterXY({el.IntAttribute("XOrigin", 0), el.IntAttribute("YOrigin", 0)});
  SetCentralParallel(el.FloatAttribute("CentralParallel", 0));
  SetFirstParallel(el.FloatAttribute("FirstParallel", 0));
  SetSecondParallel(el.FloatAttribute("SecondParallel", 0));
  SetCentralMeridian(el.FloatAttribute("CentralMeridian", 0));
}

// --- Setters

void TGProjector::ModelChanged(TGProjectionProperty index)
{
  if (FProjectionModel) FProjectionModel->PropertyChanged(index);
}

void TGProjector::SetOrigin(TGProjectionProperty index, int32_t value)
{
  int32_t& field = index == ppXOrigin ? FXOrigin : FYOrigin;
  if (field == value) return;
  field = value;
  if (OnPanned) OnPanned();
  ModelChanged(index);
  Redraw();
}

void TGProjector::SetXOrigin(int32_t value)
{
  SetOrigin(ppXOrigin, value);
}

void TGProjector::SetYOrigin(int32_t value)
{
  SetOrigin(ppYOrigin, value);
}

void TGProjector::SetCenterXY(const TGPoint& pt)
{
  if (pt == CenterXY()) return;
  SetXOrigin(pt.X);
  SetYOrigin(pt.Y);
  FHost.UpdateScrollBars();
  Redraw();
}

void TGProjector::SetXAxisChanges(TGXAxisChanges value)
{
  if (FXAxisChanges == value) return;
  FXAxisChanges = value;
  ModelChanged(ppXAxisChanges);
}

void TGProjector::SetYAxisChanges(TGYAxisChanges value)
{
  if (FYAxisChanges == value) return;
  FYAxisChanges = value;
  ModelChanged(ppYAxisChanges);
}

long double TGProjector::Property(TGProjectionProperty index) const
{
  switch (index) {
  case ppXRotation:
    return FXRotation;
  case ppYRotation:
    return FYRotation;
  case ppZRotation:
    return FZRotation;
  case ppScaleFactor:
    return FScaleFactor;
  case ppXOrigin:
    return FXOrigin;
  case ppYOrigin:
    return FYOrigin;
  case ppCentralMeridian:
    return FCentralMeridian;
  case ppCentralParallel:
    return FCentralParallel;
  case ppFirstParallel:
    return FFirstParallel;
  case ppSecondParallel:
    return FSecondParallel;
  case ppSpheroid:
    return static_cast<long double>(FSpheroid);
  case ppXAxisChanges:
    return FXAxisChanges;
  case ppYAxisChanges:
    return FYAxisChanges;
  case ppMaxLatitude:
    return FMaxLatitude;
  case ppMinLatitude:
    return FMinLatitude;
  case ppMaxLongitude:
    return FMaxLongitude;
  case ppMinLongitude:
    return FMinLongitude;
  case ppMaxZoom:
    return FMaxZoom;
  case ppMinZoom:
    return FMinZoom;
  }
  return 0;
}

void TGProjector::SetProperty(TGProjectionProperty index, long double value)
{
  // Not a number or infinite: nothing sensible to store, and the view must survive it.
  if (!std::isfinite(value)) return;
  long double* field = nullptr;
  switch (index) {
  case ppScaleFactor:
    SetScaleFactor(value);
    return;
  case ppXOrigin:
    SetXOrigin(Round32(value));
    return;
  case ppYOrigin:
    SetYOrigin(Round32(value));
    return;
  case ppSpheroid: {
    const int32_t i = Round32(value);
    if (i >= 0 && i < kSpheroidCount) SetSpheroid(static_cast<TGSpheroid>(i));
    return;
  }
  case ppXAxisChanges: {
    const int32_t i = Round32(value);
    if (i >= xaYOrigin && i <= xaNoAction) SetXAxisChanges(static_cast<TGXAxisChanges>(i));
    return;
  }
  case ppYAxisChanges: {
    const int32_t i = Round32(value);
    if (i >= yaXOrigin && i <= yaNoAction) SetYAxisChanges(static_cast<TGYAxisChanges>(i));
    return;
  }
  case ppXRotation:
    field = &FXRotation;
    break;
  case ppYRotation:
    field = &FYRotation;
    break;
  case ppZRotation:
    field = &FZRotation;
    break;
  case ppCentralMeridian:
    field = &FCentralMeridian;
    break;
  case ppCentralParallel:
    field = &FCentralParallel;
    break;
  case ppFirstParallel:
    field = &FFirstParallel;
    break;
  case ppSecondParallel:
    field = &FSecondParallel;
    break;
  case ppMaxLatitude:
    field = &FMaxLatitude;
    break;
  case ppMinLatitude:
    field = &FMinLatitude;
    break;
  case ppMaxLongitude:
    field = &FMaxLongitude;
    break;
  case ppMinLongitude:
    field = &FMinLongitude;
    break;
  case ppMaxZoom:
    field = &FMaxZoom;
    break;
  case ppMinZoom:
    field = &FMinZoom;
    break;
  }
  if (field == nullptr || *field == value) return;
  switch (index) {
  case ppYRotation:
    value = WrapDegrees(static_cast<double>(value));
    break;
  case ppMaxLatitude:
    value = std::min(90.0L, value);
    break;
  case ppMinLatitude:
    value = std::max(-90.0L, value);
    break;
  case ppMaxLongitude:
    value = std::min(180.0L, value);
    break;
  case ppMinLongitude:
    value = std::max(-180.0L, value);
    break;
  case ppMaxZoom:
    value = std::min(kMaxScale, value);
    break;
  case ppMinZoom:
    value = std::max(kMinScale, value);
    break;
  default:
    break;
  }
  *field = value;
  if (IsRotation(index) && OnRotated) OnRotated();
  ModelChanged(index);
  FHost.UpdateScrollBars();
  Redraw();
}

// --- Zoom

void TGProjector::SetScaleFactor(long double x)
{
  if (!std::isfinite(x) || x < 0 || std::fabs(x - FScaleFactor) <= 1e-10L) return;
  if (FMaxZoom > FMinZoom) x = std::clamp(x, FMinZoom, FMaxZoom);
  const int32_t w = RendererWidth();
  const int32_t h = RendererHeight();
  if (x == 0) {
    // Fit: the model's extents fill the renderer, centred.
    SetXOrigin(Round32(w / 2.0L));
    SetYOrigin(Round32(h / 2.0L));
    const TGRect r = ExtentsLL();
    const long double rh = std::fabs(static_cast<long double>(r.Bottom) - r.Top);
    const long double rw = std::fabs(static_cast<long double>(r.Right) - r.Left);
    x = std::min(h / rh, w / rw);
    if (!(x > 0) || !std::isfinite(x)) x = 1;
  }
  AdjustScaleFactor({w / 2, h / 2}, static_cast<double>(x / FScaleFactor));
}

void TGProjector::AdjustScaleFactor(const TGPoint& ptXY, double delta)
{
  if (FHost.PeriodicUpdateTime() > 0) FHost.RestartRender();
  if (std::isnan(delta)) return;
  const int32_t w = RendererWidth();
  const int32_t h = RendererHeight();
  long double c = FScaleFactor * delta;
  if (c > kMaxScale) c = kMaxScale;
  if (c < kMinScale) c = kMinScale;
  const long double side = std::max(w, h);
  if (side / c > kMaxViewGU) c = side / kMaxViewGU;
  if (delta == 0) return;

  // Zoom about ptXY: its distance to each origin scales with the zoom.
  const long double ratio = c / FScaleFactor;
  SetXOrigin(Round32(ptXY.X + (static_cast<long double>(FXOrigin) - ptXY.X) * ratio));
  SetYOrigin(Round32(ptXY.Y + (static_cast<long double>(FYOrigin) - ptXY.Y) * ratio));

  const long double altitude = (w / c) / std::tan(FFieldOfViewAngle * GU_PI / 180.0L);
  constexpr auto kMaxAltitude = std::numeric_limits<uint32_t>::max();
  if (!(altitude > 0))
    FAltitude = 0;
  else if (altitude >= kMaxAltitude)
    FAltitude = kMaxAltitude;
  else
    FAltitude = static_cast<uint32_t>(std::rint(altitude));
  FHost.StoreViewRect({0, 0, Round32(w / c), Round32(h / c)});

  FScaleFactor = c;
  ModelChanged(ppScaleFactor);
  Redraw();
  if (OnZoomed) OnZoomed();
  FHost.UpdateScrollBars();
}

int32_t TGProjector::GUPerPixel() const
{
  return Round32(1.0L / FScaleFactor);
}

void TGProjector::SetGUPerPixel(int32_t value)
{
  if (value > 0) SetScaleFactor(1.0L / value);
}

int32_t TGProjector::GUPerInch() const
{
  return Round32(FHost.Renderer().PixelsPerInch() / FScaleFactor);
}

void TGProjector::SetGUPerInch(int32_t value)
{
  if (value > 0) SetScaleFactor(static_cast<long double>(FHost.ScreenPixelsPerInch()) / value);
}

int32_t TGProjector::PixelTolerance() const
{
  return Round32(2.0L / FScaleFactor);
}

// --- Models

std::string TGProjector::ProjectionClass() const
{
  return FProjectionModel ? FProjectionModel->ClassName() : std::string();
}

void TGProjector::SetProjectionClass(std::string_view name)
{
  if (FProjectionModel && SameText(FProjectionModel->ClassName(), name)) return;
  if (FindGlobeClass(name) == nullptr)
    throw EGException("Class " + std::string(name) + " does not inherit from TProjectionModel");
  std::unique_ptr<TGCustomProjectionModel> model =
      CreateGlobeObjectAs<TGCustomProjectionModel>(name, FGlobe);
  if (!model) return; // registered, but not a projection model
  SetProjectionModel(std::move(model));
  // The limits only apply to the Cartesian model.
  if (FUseMinMaxLimits && !SameText(FProjectionModel->ClassName(), "TGCartesianPrj"))
    FUseMinMaxLimits = false;
}

void TGProjector::SetProjectionModel(std::unique_ptr<TGCustomProjectionModel> model)
{
  const std::string newClass = model ? model->ClassName() : std::string("TGSphericalPrj");
  const int32_t cx = FHost.ClientWidth() / 2;
  const int32_t cy = FHost.ClientHeight() / 2;
  std::optional<TGPointLL> centre;
  if (FProjectionModel && FProjectionModel->ClassName() != newClass &&
      FProjectionModel->XYToLL(cx, cy, 0)) {
    const TGPoint p = FHost.Renderer().Points()[0];
    centre = PointLL(p.X, p.Y);
  }

  FProjectionModel.reset();
  if (!model) model = std::make_unique<TGSphericalPrj>(FGlobe);
  model->FProjector = this;
  FProjectionModel = std::move(model);

  SetCentralMeridian(0);
  for (int i = 0; i < kProjectionPropertyCount; ++i)
    FProjectionModel->PropertyChanged(static_cast<TGProjectionProperty>(i));

  if (centre) {
    FHost.SetViewRect(FHost.ViewRect());
    SetCenterXY({cx, cy});
    LocateToLL(*centre);
  }
  Redraw();
}

void TGProjector::SetUseMinMaxLimits(bool value)
{
  FUseMinMaxLimits = value;
  if (!value) return;
  SetYAxisChanges(yaXOrigin);
  SetXAxisChanges(xaYOrigin);
  SetCentralMeridian(0);
  SetCentralParallel(0);
  SetProjectionClass("TGCartesianPrj");
}

// --- Centre

long double TGProjector::CenterLatitude()
{
  TGPointLL pt;
  if (!DeviceXYToLL(FHost.ClientWidth() / 2, FHost.ClientHeight() / 2, pt)) return kOffMapDegrees;
  return pt.iLatY / static_cast<long double>(GU_DEGREE);
}

long double TGProjector::CenterLongitude()
{
  TGPointLL pt;
  if (!DeviceXYToLL(FHost.ClientWidth() / 2, FHost.ClientHeight() / 2, pt)) return kOffMapDegrees;
  return pt.iLongX / static_cast<long double>(GU_DEGREE);
}

void TGProjector::SetCenterLatitude(long double x)
{
  SetYOrigin(FHost.ClientHeight() / 2);
  TGPointLL pt;
  // The origin always lies on the map; should it not, the rotation cannot be corrected.
  if (DeviceXYToLL(FXOrigin, FYOrigin, pt))
    SetXRotation(FXRotation - (pt.iLatY / static_cast<long double>(GU_DEGREE) - x));
}

void TGProjector::SetCenterLongitude(long double x)
{
  SetXOrigin(FHost.ClientWidth() / 2);
  SetYRotation(x);
}

void TGProjector::LocateToLL(int32_t iLong, int32_t iLat)
{
  SetCenterLongitude(LongWrap(iLong) / static_cast<long double>(GU_DEGREE));
  SetCenterLatitude(iLat / static_cast<long double>(GU_DEGREE));
}

// --- Point operations

bool TGProjector::PointLLToXY(const TGPointLL& ptLL, TGPoint& ptXY)
{
  if (!FProjectionModel) return false;
  const bool visible = FProjectionModel->PointLLToXY(ptLL, 0);
  ptXY = FHost.Renderer().Points()[0];
  return visible;
}

bool TGProjector::LLToDeviceXY(int32_t iLong, int32_t iLat, TGPoint& ptXY)
{
  if (!FProjectionModel) return false;
  const bool visible = FProjectionModel->LLToXY(iLong, iLat, 0);
  ptXY = FHost.Renderer().Points()[0];
  return visible;
}

bool TGProjector::DDToDeviceXY(TGDecimalDegree Long, TGDecimalDegree Lat, TGPoint& ptXY)
{
  return LLToDeviceXY(DDToGU(Long), DDToGU(Lat), ptXY);
}

bool TGProjector::DeviceXYToLL(int32_t iX, int32_t iY, TGPointLL& ptLL)
{
  if (FProjectionModel && FProjectionModel->XYToLL(iX, iY, 0)) {
    const TGPoint p = FHost.Renderer().Points()[0];
    ptLL = PointLL(p.X, p.Y);
    return true;
  }
  ptLL = {kOffMap, kOffMap, 0};
  return false;
}

bool TGProjector::DeviceXYToDD(int32_t iX, int32_t iY, TGPointDD& ptDD)
{
  TGPointLL pt;
  if (!DeviceXYToLL(iX, iY, pt)) {
    ptDD = {180.0L, 180.0L, 0};
    return false;
  }
  ptDD = {GUToDD(pt.iLongX), GUToDD(pt.iLatY), 0};
  return true;
}

bool TGProjector::TriangleLLToXY(const TGTriangleLL& worldTri, TGTriangle& screenTri)
{
  if (!FProjectionModel) return false;
  for (int32_t i = 0; i < 3; ++i)
    if (!FProjectionModel->PointLLToXY(worldTri[static_cast<size_t>(i)], i)) return false;
  const TGPointBuffer& buffer = FHost.Renderer().Points();
  for (int32_t i = 0; i < 3; ++i)
    screenTri[static_cast<size_t>(i)] = buffer[i];
  return true;
}

TGRect TGProjector::ExtentsLL() const
{
  return FProjectionModel ? FProjectionModel->ExtentsLL() : WorldExtentsLL();
}

bool TGProjector::IsContinuous() const
{
  return FProjectionModel && FProjectionModel->IsContinuous();
}

TGPOZ TGProjector::GetPOZ()
{
  return FProjectionModel ? FProjectionModel->GetPOZ() : TGPOZ{};
}

void TGProjector::SetPOZ(const TGPOZ& POZ)
{
  if (FProjectionModel) FProjectionModel->SetPOZ(POZ);
}

} // namespace vtr
