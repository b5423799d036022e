#include "RenderSetup.h"

#include "Command.h"

#include "mapview/MapViewSetup.h"

#include <QFileInfo>

namespace vtrtool {

std::vector<RenderContent>& RenderContents()
{
  static std::vector<RenderContent> contents;
  return contents;
}

namespace {

class GlobeScene : public RenderScene
{
public:
  vtr::TGGlobe& Globe() override { return globe; }
  vtr::TGGlobe globe;
};

} // namespace

std::unique_ptr<RenderScene> MakeRenderScene(const RenderOptions& options)
{
  if (!options.scenario.empty()) return MakeScenarioScene(options);
  auto scene = std::make_unique<GlobeScene>();
  vtr::ApplyMapViewConfiguration(scene->globe);
  ConfigureRenderGlobe(scene->globe, options);
  return scene;
}

void ConfigureRenderGlobe(vtr::TGGlobe& g, const RenderOptions& options)
{
  vtr::TGGlobe* globe = &g;
  globe->SetScrollBars(vtr::ssNone);
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
}

} // namespace vtrtool
