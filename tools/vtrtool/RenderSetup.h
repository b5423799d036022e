#pragma once
// The globe a map view starts with, built headless for vtrtool render: the view's initial
// configuration, then the options of the command line. Later sources of map content (layer
// files, the spatial database, scenarios) plug in through RenderContent.

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

// A globe of options.width x options.height configured as a map view and then by the options
// (projection, centre, scale, texture, shadow, content). Raises InputError for a texture or
// content that cannot be read.
std::unique_ptr<vtr::TGGlobe> MakeRenderGlobe(const RenderOptions& options);

} // namespace vtrtool
