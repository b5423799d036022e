#pragma once
// What vtrtool render draws, built headless: a globe with the map view's initial
// configuration, or a map view showing a scenario, then the options of the command line.
// Sources of map content (layer files, the spatial database) plug in through RenderContent.

#include "globe/GGlobe.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace vtrtool {

struct RenderOptions
{
  int32_t width = 1024; // pixels
  int32_t height = 768;
  std::string projection; // projection class name; empty: the view's (spherical)
  std::optional<vtr::TGPointLL> center;
  std::optional<int32_t> guPerPixel;
  std::string texture;             // surface texture file
  std::optional<double> shadowUTC; // day/night shadow for this UTC moment (TDateTime)
  // Layer files to show, each on top of the ones before; none: the program folder's
  // GIS/WorldOutline.lyr when it is there.
  std::vector<std::string> layerFiles;
  std::string sdb; // a spatial database whose layers to show
  // A scenario file: drawn as the map view shows it (over the program folder's world outline).
  std::string scenario;
};

// Adds map content to the globe (layers and their presenters). Each kind of content that
// vtrtool can read registers one; RenderContent() lists them in registration order.
struct RenderContent
{
  std::string name;
  // Called with the globe and the options; raises InputError for content it cannot read.
  std::function<void(vtr::TGGlobe&, const RenderOptions&)> apply;
};
std::vector<RenderContent>& RenderContents();

// What is drawn: a globe configured as a map view, or, for a scenario, a whole map view (with
// its own database in a scratch folder) with the scenario's units on it.
class RenderScene
{
public:
  virtual ~RenderScene() = default;
  virtual vtr::TGGlobe& Globe() = 0;
};

// The scene of options.width x options.height set up by the options (projection, centre,
// scale, texture, shadow, content). Raises InputError for a scenario, texture or content that
// cannot be read.
std::unique_ptr<RenderScene> MakeRenderScene(const RenderOptions& options);

// Sizes a globe that starts as a map view's and applies the options to it.
void ConfigureRenderGlobe(vtr::TGGlobe& globe, const RenderOptions& options);

// The scene of a scenario file (ScenarioScene.cpp).
std::unique_ptr<RenderScene> MakeScenarioScene(const RenderOptions& options);

} // namespace vtrtool
