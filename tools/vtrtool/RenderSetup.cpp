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

std::unique_ptr<vtr::TGGlobe> MakeRenderGlobe(const RenderOptions& options)
{
  auto globe = std::make_unique<vtr::TGGlobe>();
  globe->SetScrollBars(vtr::ssNone);
  vtr::ApplyMapViewConfiguration(*globe);
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
