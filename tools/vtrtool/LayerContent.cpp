// Layer files as render content: each --layer file becomes a layer on top of the ones before;
// without --layer (and without --sdb or a scenario, whose map view brings its own) the program
// folder's world outline is drawn when it is there.
#include "Command.h"
#include "RenderSetup.h"

#include "app/ProgramFolder.h"
#include "globe/GLYRReader.h"
#include "globe/GLayer.h"

#include <filesystem>

namespace vtrtool {

namespace {

void AddLayerFiles(vtr::TGGlobe& globe, const RenderOptions& options)
{
  std::vector<std::string> files = options.layerFiles;
  if (files.empty() && options.sdb.empty() && options.scenario.empty()) {
    const std::string outline = (vtr::ProgramFolder() + "GIS/WorldOutline.lyr").toStdString();
    std::error_code ec;
    if (std::filesystem::is_regular_file(outline, ec)) files.push_back(outline);
  }
  for (const std::string& file : files) {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(file, ec))
      throw InputError{"cannot read layer file \"" + file + "\": no such file"};
    std::unique_ptr<vtr::TGFileDataReader> reader = vtr::DataReaderForFile(&globe, file);
    if (!reader) throw InputError{"cannot read layer file \"" + file + "\": unknown file type"};
    auto source = std::make_unique<vtr::TGMemoryObjectSource>(&globe);
    try {
      source->SetDataReader(std::move(reader));
    } catch (const std::exception& e) {
      throw InputError{e.what()};
    }
    auto layer = std::make_unique<vtr::TGLayer>(&globe);
    layer->SetObjectSource(std::move(source));
    globe.Layers().Add(std::move(layer));
  }
}

const bool registered = (RenderContents().push_back({"layer", AddLayerFiles}), true);

} // namespace

} // namespace vtrtool
