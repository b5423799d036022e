#pragma once
// Helpers shared by the layer tests: building layer trees and objects, and a memory source
// that records what the layer asks of it.

#include "globe/GLayer.h"

#include <memory>
#include <string>
#include <vector>

namespace vtrtest {

class WatchedSource : public vtr::TGMemoryObjectSource
{
public:
  using TGMemoryObjectSource::NewIterator;
  std::unique_ptr<vtr::TGIterator> NewIterator(const vtr::TGMER& aMER) override
  {
    queries.push_back(aMER);
    return TGMemoryObjectSource::NewIterator(aMER);
  }
  void Post() override { ++posts; }

  std::vector<vtr::TGMER> queries; // the rectangles asked for, in order
  int posts = 0;
};

// Gives the layer a watched source and returns it (the layer owns it).
inline WatchedSource& Watch(vtr::TGLayer& layer)
{
  auto source = std::make_unique<WatchedSource>();
  WatchedSource& ref = *source;
  layer.SetObjectSource(std::move(source));
  return ref;
}

// A new named layer on top of parent's store (the store owns it).
inline vtr::TGLayer& AddLayer(vtr::TGLayer& parent, const std::string& name)
{
  auto layer = std::make_unique<vtr::TGLayer>();
  layer->SetName(name);
  vtr::TGLayer& ref = *layer;
  parent.LayerStore().Add(std::move(layer));
  return ref;
}

inline std::shared_ptr<vtr::TGMapPoint> AddPoint(vtr::TGLayer& layer, const std::string& userID,
                                                 int32_t lon, int32_t lat)
{
  auto p = std::make_shared<vtr::TGMapPoint>();
  p->SetUserID(userID);
  p->SetCentroid(vtr::PointLL(lon, lat));
  layer.ObjectSource().Add(p);
  return p;
}

inline std::string IDOf(const std::shared_ptr<vtr::IGMapPoint>& obj)
{
  return obj ? obj->UserID() : "none";
}

} // namespace vtrtest
