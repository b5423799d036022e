#include "mapview/MapViewSetup.h"

#include "globe/GGlobe.h"
#include "globe/GGraticule.h"
#include "globe/GSysUtils.h"

#include <algorithm>

namespace vtr {

namespace {

// The view's globe at design time: its origin (156, 153) is that size's centre.
constexpr int32_t kDesignWidth = 312;
constexpr int32_t kDesignHeight = 306;

// Beyond the last zoom band sizes shrink with the scale.
constexpr int32_t kFarZoom = 1'666'667;
constexpr int32_t kFarScale = 20'000'000;

} // namespace

void ApplyMapViewConfiguration(TGGlobe& globe)
{
  globe.SetClientSize(kDesignWidth, kDesignHeight);
  TGProjector& p = globe.Projector();
  p.SetProjectionClass("TGSphericalPrj");
  p.SetScaleFactor(2.42127166576e-07L);
  p.SetXRotation(23.5L);
  p.SetFieldOfViewAngle(50.0L);
  p.SetMinLatitude(-90);
  p.SetMaxLatitude(90);
  p.SetMinLongitude(-180);
  p.SetMaxLongitude(180);
  p.SetUseMinMaxLimits(false);
  p.SetXAxisChanges(xaYOrigin);
  p.SetYAxisChanges(yaCentralMeridian);
  p.SetCenterXY({156, 153});
  p.SetCenterLatitude(23.5L);
  TGRenderer& r = globe.Renderer();
  r.SetDoubleBuffer(true);
  r.SetMinTextHeight(5);
  r.SetMaxTextHeight(50);
  r.SelectedBrush().Define(clNone, clNone, gbsClear);
  r.SelectedPen().Define(clRed, gpsSolid, 2, guPixel);
  TGGraticule& g = globe.Graticule();
  g.GraticulePen().Define(clSilver, gpsSolid, 1, guPixel);
  g.SetLatitudeStep(10);
  g.SetLongitudeStep(10);
  globe.SetCullObjectPixels(0.75L);
  globe.SetMinObjectPixels(1.5L);
  globe.SetMinObjectColor(clGray);
  globe.SetSurfaceColor(clBlue);
  globe.SetGlobeOptions(goFixedCenterXYOnResize);
}

int32_t UnitSymbolSize(int32_t guPerPixel)
{
  const int32_t g = std::max(guPerPixel, 1);
  if (g <= 10'000) return 32;
  if (g <= 100'000) return 28;
  if (g <= kFarZoom) return 24;
  return kFarScale / g * 2;
}

int32_t ArrowSize(int32_t guPerPixel, int32_t arrowLength)
{
  const int32_t g = std::max(guPerPixel, 1);
  if (g <= 10'000) return RoundToInt32(arrowLength * 0.8666666L);
  if (g <= 100'000) return RoundToInt32(arrowLength * 0.7466666L);
  if (g <= kFarZoom) return RoundToInt32(arrowLength * 0.6533333L);
  return kFarScale / g * 3;
}

} // namespace vtr
