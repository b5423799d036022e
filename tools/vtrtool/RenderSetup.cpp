#include "RenderSetup.h"

#include "Command.h"

#include "globe/GGraticule.h"

#include <QFileInfo>

namespace vtrtool {

namespace {

// The map form's size at design time: its origin (156, 153) is that size's centre.
constexpr int32_t kDesignWidth = 312;
constexpr int32_t kDesignHeight = 306;

} // namespace

std::vector<RenderContent>& RenderContents()
{
  static std::vector<RenderContent> contents;
  return contents;
}

void ApplyMapViewConfiguration(vtr::TGGlobe& globe)
{
  using namespace vtr;
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
  g.GraticulePen().Define(12632256, gpsSolid, 1, guPixel);
  g.SetLatitudeStep(10);
  g.SetLongitudeStep(10);
  globe.SetCullObjectPixels(0.75L);
  globe.SetMinObjectPixels(1.5L);
  globe.SetMinObjectColor(8421504);
  globe.SetSurfaceColor(clBlue);
  globe.SetGlobeOptions(goFixedCenterXYOnResize);
}

std::unique_ptr<vtr::TGGlobe> MakeRenderGlobe(const RenderOptions& options)
{
  auto globe = std::make_unique<vtr::TGGlobe>();
  globe->SetScrollBars(vtr::ssNone);
  ApplyMapViewConfiguration(*globe);
  // Aligned to its panel: the resize rule scales the view to the new size.
  globe->SetClientSize(options.width, options.height);
  vtr::TGProjector& p = globe->Projector();
  if (!options.projection.empty()) p.SetProjectionClass(options.projection);
  if (options.guPerPixel) p.SetGUPerPixel(*options.guPerPixel);
  if (options.center) globe->LocateToLL(*options.center);
  if (!options.texture.empty()) {
    if (!QFileInfo::exists(QString::fromStdString(options.texture)))
      throw InputError{"cannot read texture \"" + options.texture + "\": no such file"};
    try {
      globe->SetSurfaceTextureName(
          QFileInfo(QString::fromStdString(options.texture)).absoluteFilePath().toStdString());
    } catch (const std::exception& e) {
      throw InputError{std::string("cannot read texture: ") + e.what()};
    }
    if (globe->SurfaceTexture().Empty())
      throw InputError{"cannot read texture \"" + options.texture + "\""};
  }
  if (options.shadowUTC) {
    const double moment = *options.shadowUTC;
    globe->OnRender = [moment](vtr::TGGlobe& g) {
      vtr::TGPointLL sun;
      g.RenderShadow(8421504, 1, sun, 80, moment);
    };
  }
  for (const RenderContent& content : RenderContents())
    content.apply(*globe, options);
  return globe;
}

} // namespace vtrtool
