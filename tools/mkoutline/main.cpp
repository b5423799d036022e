// mkoutline: makes the world outline layer file from Natural Earth's land polygons at 1:50m,
// as the npm package world-atlas ships them (TopoJSON, land-50m.json).
//
//   mkoutline PACKAGE_DIR OUT.lyr
//
// One closed poly object per land polygon (its first ring the coast, further rings lakes and
// other holes), all drawn by one polygon presenter: a lime outline and no fill, so the blue
// surface shows through. Prints the object and vertex counts.
#include "LYRFileWriter.h"

#include "globe/GObjectSource.h"
#include "globe/GPresenter.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <cmath>
#include <iostream>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

struct Degrees
{
  double lon = 0;
  double lat = 0;
  friend bool operator==(const Degrees&, const Degrees&) = default;
};
using Arc = std::vector<Degrees>;

constexpr int32_t kLandPresenterID = 1;

[[noreturn]] void Fail(const std::string& message)
{
  throw std::runtime_error(message);
}

QJsonObject ReadJson(const QString& fileName)
{
  QFile f(fileName);
  if (!f.open(QIODevice::ReadOnly)) Fail("cannot read " + fileName.toStdString());
  QJsonParseError error;
  const QJsonDocument doc = QJsonDocument::fromJson(f.readAll(), &error);
  if (!doc.isObject())
    Fail(fileName.toStdString() + ": not a JSON object: " + error.errorString().toStdString());
  return doc.object();
}

double Number(const QJsonValue& v, const char* what)
{
  if (!v.isDouble() || !std::isfinite(v.toDouble())) Fail(std::string("bad number in ") + what);
  return v.toDouble();
}

// The topology's arcs in degrees. Quantised topologies store each arc's positions as
// differences from the previous position (the first from 0); the transform then maps
// x, y to longitude = x * scale[0] + translate[0], latitude = y * scale[1] + translate[1].
std::vector<Arc> DecodeArcs(const QJsonObject& topology)
{
  double sx = 1, sy = 1, tx = 0, ty = 0;
  const bool quantised = topology.contains("transform");
  if (quantised) {
    const QJsonObject t = topology["transform"].toObject();
    const QJsonArray scale = t["scale"].toArray();
    const QJsonArray translate = t["translate"].toArray();
    if (scale.size() != 2 || translate.size() != 2) Fail("bad transform");
    sx = Number(scale[0], "transform");
    sy = Number(scale[1], "transform");
    tx = Number(translate[0], "transform");
    ty = Number(translate[1], "transform");
  }
  std::vector<Arc> arcs;
  for (const QJsonValue& a : topology["arcs"].toArray()) {
    Arc arc;
    double x = 0, y = 0;
    for (const QJsonValue& p : a.toArray()) {
      const QJsonArray pos = p.toArray();
      if (pos.size() < 2) Fail("bad arc position");
      if (quantised) {
        x += Number(pos[0], "arcs");
        y += Number(pos[1], "arcs");
        arc.push_back({x * sx + tx, y * sy + ty});
      } else {
        arc.push_back({Number(pos[0], "arcs"), Number(pos[1], "arcs")});
      }
    }
    arcs.push_back(std::move(arc));
  }
  return arcs;
}

// A ring from its arc indexes: index i is arc i, ~i that arc reversed; each arc after the
// first starts where the one before it ended, so its first position is left out. The closing
// position (equal to the first) is dropped: the poly is closed.
std::vector<Degrees> Ring(const QJsonArray& indexes, const std::vector<Arc>& arcs)
{
  std::vector<Degrees> ring;
  for (const QJsonValue& v : indexes) {
    const int64_t i = static_cast<int64_t>(Number(v, "ring"));
    const int64_t arcIndex = i >= 0 ? i : ~i;
    if (arcIndex >= static_cast<int64_t>(arcs.size())) Fail("arc index out of range");
    Arc arc = arcs[static_cast<size_t>(arcIndex)];
    if (i < 0) std::reverse(arc.begin(), arc.end());
    ring.insert(ring.end(), arc.begin() + (ring.empty() ? 0 : 1), arc.end());
  }
  if (ring.size() > 1 && ring.front() == ring.back()) ring.pop_back();
  return ring;
}

// The polygons of a geometry as lists of rings.
std::vector<QJsonArray> Polygons(const QJsonObject& geometry)
{
  const QString type = geometry["type"].toString();
  const QJsonArray arcs = geometry["arcs"].toArray();
  if (type == "Polygon") return {arcs};
  std::vector<QJsonArray> polygons;
  if (type == "MultiPolygon")
    for (const QJsonValue& p : arcs)
      polygons.push_back(p.toArray());
  return polygons;
}

int Run(const QString& packageDir, const std::string& outFile)
{
  const QJsonObject package = ReadJson(packageDir + "/package.json");
  const QJsonObject topology = ReadJson(packageDir + "/land-50m.json");
  if (topology["type"].toString() != "Topology") Fail("land-50m.json is not a TopoJSON topology");
  const std::vector<Arc> arcs = DecodeArcs(topology);
  const QJsonObject land = topology["objects"].toObject()["land"].toObject();
  QJsonArray geometries = land["geometries"].toArray();
  if (land["type"].toString() != "GeometryCollection") geometries = QJsonArray{land};

  vtr::TGMemoryObjectSource source;
  source.MetaData().SetValue("ColumnNames", "Title");
  source.MetaData().SetValue("Source", "Natural Earth 1:50m land polygons (public domain), npm " +
                                           package["name"].toString().toStdString() + " " +
                                           package["version"].toString().toStdString());
  auto presenter = std::make_unique<vtr::TGPolygonPresenter>();
  presenter->SetPresenterID(kLandPresenterID);
  presenter->SetName("Land");
  presenter->PolyPen().Define(vtr::clLime, vtr::gpsSolid, 1, vtr::guPixel);
  presenter->PolyBrush().Define(vtr::clWhite, vtr::clWhite, vtr::gbsClear);
  source.Presenters().Add(std::move(presenter));

  int64_t vertices = 0;
  for (const QJsonValue& g : geometries) {
    for (const QJsonArray& polygon : Polygons(g.toObject())) {
      auto poly = std::make_shared<vtr::TGMapPoly>();
      for (const QJsonValue& ringArcs : polygon) {
        const std::vector<Degrees> ring = Ring(ringArcs.toArray(), arcs);
        if (ring.size() < 3) continue; // no area to outline
        auto chain = std::make_unique<vtr::TGPointStore>();
        for (const Degrees& d : ring)
          chain->AddDD(d.lat, d.lon);
        vertices += chain->Count();
        poly->Chains().Add(std::move(chain));
      }
      if (poly->Chains().Count() == 0) continue;
      poly->SetClosed(true);
      poly->SetPresenterID(kLandPresenterID);
      source.Add(poly);
    }
  }
  if (source.ObjectCount() == 0) Fail("no land polygons in land-50m.json");
  vtr::SaveLYRFile(outFile, source);
  std::cout << "objects\t" << source.ObjectCount() << "\nvertices\t" << vertices << "\n";
  return 0;
}

} // namespace

int main(int argc, char** argv)
{
  if (argc != 3) {
    std::cerr << "usage: mkoutline WORLD_ATLAS_PACKAGE_DIR OUT.lyr\n";
    return 1;
  }
  try {
    return Run(QString::fromLocal8Bit(argv[1]), argv[2]);
  } catch (const std::exception& e) {
    std::cerr << "mkoutline: " << e.what() << "\n";
    return 2;
  }
}
