// The environment file: a globe written and read back to the same state (projection, view,
// layers with presenters, graticule), the dictionary form, the rescale from the saved client
// size, missing and damaged files (refused, nothing lost), deep layer trees, the file written
// on Clear, and the save and load events.
#include "globe/GGlobe.h"
#include "globe/GGraticule.h"
#include "globe/GLayer.h"
#include "globe/GPresenter.h"
#include "globe/GXML.h"

#include "GlobeTestSupport.h"
#include "TestSupport.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>

namespace vtr {
namespace {

using vtrtest::ErrorText;

class EnvironmentFile : public ::testing::Test
{
protected:
  std::string Path(const char* name) const { return dir.filePath(name).toStdString(); }
  static QByteArray Bytes(const std::string& path)
  {
    return vtrtest::ReadFile(QString::fromStdString(path));
  }
  static void Write(const std::string& path, const QByteArray& data)
  {
    vtrtest::WriteFile(QString::fromStdString(path), data);
  }
  static std::unique_ptr<TGGlobe> NewGlobe(int w, int h)
  {
    auto globe = std::make_unique<TGGlobe>();
    globe->SetClientSize(w, h);
    return globe;
  }
  static TGLayer& AddLayer(TGLayer& parent, const std::string& name)
  {
    auto layer = std::make_unique<TGLayer>(parent.ParentGlobe());
    layer->SetName(name);
    TGLayer& ref = *layer;
    parent.LayerStore().Add(std::move(layer));
    return ref;
  }

  QTemporaryDir dir;
};

// A globe with something to keep in every part of the document.
void Furnish(TGGlobe& globe)
{
  globe.SetSurfaceColor(clBlue);
  globe.SetMinObjectColor(clRed);
  TGGraticule& g = globe.Graticule();
  g.SetLongitudeStep(15);
  g.SetLatitudeStep(30);
  g.SetDrawMode(gdInFront);
  g.GraticulePen().Define(clRed, gpsDash, 2, guPixel);

  TGLayer& coast = globe.Layers().GetLayer(0);
  coast.SetAlphaBlend(200);
  coast.SetZoomUnits(guNauticalMile);
  coast.SetZoomMax(5000);
  coast.SetTitleColumn(1);
  coast.ObjectSource().SetColumnNames("Name,Pop");
  auto polygon = std::make_unique<TGPolygonPresenter>(&globe);
  polygon->SetName("land");
  polygon->PolyPen().Define(clBlue, gpsSolid, 2, guPixel);
  polygon->PolyBrush().Define(clLime, clWhite, gbsBDiagonal);
  coast.Presenters().Add(std::move(polygon));

  TGLayer& ports = coast.LayerStore().GetLayer(0);
  ports.SetVisible(false);
  auto point = std::make_unique<TGPointPresenter>(&globe);
  point->SetPointType(ppSquare);
  point->SetPointSize(8);
  point->TitleFont().Define("Courier", clBlue, clWhite, 12, guPixel, 0, 0, 255);
  ports.Presenters().Add(std::move(point));

  TGLayer& tracks = globe.Layers().GetLayer(1);
  tracks.SetSelectable(false);
  tracks.Presenters().Add(std::make_unique<TGPolylinePresenter>(&globe));
  tracks.UserXML().AddAttribute("Owner", "watch <2> & \"ops\" 'n'");
  tracks.UserXML().AddElement("Note").SetBodyText("plotted 'by hand'");
}

struct ProjectionCase
{
  const char* name;
  std::function<void(TGProjector&)> set;
};

const ProjectionCase kProjections[] = {
    {"tilted sphere zoomed in",
     [](TGProjector& p) {
       p.SetXRotation(30);
       p.SetYRotation(-45);
       p.SetScaleFactor(p.ScaleFactor() * 3);
       p.SetCenterXY({150, 120});
     }},
    {"Mercator about 100 E",
     [](TGProjector& p) {
       p.SetProjectionClass("TGMercatorPrj");
       p.SetScaleFactor(2.0L / GU_DEGREE);
       p.SetYRotation(100);
       p.SetCenterXY({-40, 90});
       p.SetSpheroid(TGSpheroid::Clarke1866);
       p.SetFieldOfViewAngle(35);
     }},
    {"plate carree within limits",
     [](TGProjector& p) {
       p.SetMaxLatitude(60);
       p.SetMinLatitude(-30);
       p.SetMaxLongitude(40);
       p.SetMinLongitude(-20);
       p.SetUseMinMaxLimits(true);
       p.SetScaleFactor(3.0L / GU_DEGREE);
       p.SetCenterXY({200, 150});
     }},
};

TEST_F(EnvironmentFile, AGlobeIsWrittenAndReadBackToTheSameState)
{
  for (const ProjectionCase& c : kProjections) {
    SCOPED_TRACE(c.name);
    auto a = NewGlobe(400, 300);
    AddLayer(AddLayer(a->GlobeLayer(), "Coast"), "Ports");
    AddLayer(a->GlobeLayer(), "Tracks");
    Furnish(*a);
    c.set(a->Projector());
    a->Renderer().SetMaxTextHeight(20);
    const std::string first = Path("first.env"), second = Path("second.env");
    a->SaveEnvironmentToFile(first);

    auto b = NewGlobe(400, 300);
    b->LoadEnvironmentFromFile(first);
    EXPECT_EQ(b->EnvironmentFile(), first);
    b->SaveEnvironmentToFile(second);
    EXPECT_EQ(Bytes(second), Bytes(first));

    const TGProjector& pa = a->Projector();
    const TGProjector& pb = b->Projector();
    EXPECT_EQ(pb.ProjectionClass(), pa.ProjectionClass());
    EXPECT_NEAR(pb.ScaleFactor() / pa.ScaleFactor(), 1, 1e-13);
    EXPECT_EQ(pb.CenterXY(), pa.CenterXY());
    // Numbers are written with 15 significant digits.
    EXPECT_NEAR(pb.XRotation(), pa.XRotation(), 1e-12);
    EXPECT_NEAR(pb.YRotation(), pa.YRotation(), 1e-12);
    EXPECT_NEAR(pb.CentralMeridian(), pa.CentralMeridian(), 1e-12);
    EXPECT_EQ(pb.UseMinMaxLimits(), pa.UseMinMaxLimits());
    EXPECT_EQ(pb.MaxLatitude(), pa.MaxLatitude());
    EXPECT_EQ(pb.MinLongitude(), pa.MinLongitude());
    EXPECT_EQ(pb.Spheroid(), pa.Spheroid());
    EXPECT_EQ(pb.FieldOfViewAngle(), pa.FieldOfViewAngle());
    TGPointLL centreA, centreB;
    ASSERT_EQ(a->Projector().DeviceXYToLL(200, 150, centreA),
              b->Projector().DeviceXYToLL(200, 150, centreB));
    EXPECT_EQ(centreB, centreA);

    EXPECT_EQ(b->SurfaceColor(), clBlue);
    EXPECT_EQ(b->MinObjectColor(), clRed);
    EXPECT_EQ(b->Graticule().LongitudeStep(), 15);
    EXPECT_EQ(b->Graticule().DrawMode(), gdInFront);
    EXPECT_TRUE(b->Graticule().GraticulePen().Equals(a->Graticule().GraticulePen()));
    // The renderer's element holds its class only: its settings are the loading globe's own.
    EXPECT_EQ(b->Renderer().ClassName(), a->Renderer().ClassName());
    EXPECT_EQ(b->Renderer().MaxTextHeight(), 50);

    ASSERT_EQ(b->Layers().Count(), 2);
    TGLayer& coast = b->Layers().GetLayer(0);
    EXPECT_EQ(coast.Name(), "Coast");
    EXPECT_EQ(coast.AlphaBlend(), 200);
    EXPECT_EQ(coast.ZoomUnits(), guNauticalMile);
    EXPECT_EQ(coast.ZoomMax(), 5000u);
    EXPECT_EQ(coast.TitleColumnName(), "Pop");
    EXPECT_EQ(coast.ObjectSource().UniqueID(), a->Layers().GetLayer(0).ObjectSource().UniqueID());
    ASSERT_EQ(coast.Presenters().Count(), 1);
    EXPECT_TRUE(coast.Presenters().GetPresenter(0).Equals(
        a->Layers().GetLayer(0).Presenters().GetPresenter(0)));
    ASSERT_EQ(coast.LayerStore().Count(), 1);
    TGLayer& ports = coast.LayerStore().GetLayer(0);
    EXPECT_FALSE(ports.Visible());
    EXPECT_EQ(ports.Presenters().GetPresenter(0).TitleFont().Name(), "Courier");
    TGLayer& tracks = b->Layers().GetLayer(1);
    EXPECT_FALSE(tracks.Selectable());
    EXPECT_EQ(tracks.UserXML().Attribute("Owner"), "watch <2> & \"ops\" 'n'");
    EXPECT_EQ(tracks.UserXML().Element("Note")->BodyText(), "plotted 'by hand'");
    EXPECT_EQ(b->GlobeLayer().Presenters().Count(), 2); // the root's default presenters
  }
}

TEST_F(EnvironmentFile, LayersKeptByTheLayerTreeUpdateAreFoundByGUIDNotDuplicated)
{
  // As the spatial database does: the update puts its layer back at the root when the tree
  // lacks it.
  const TGUID dbID = NewGUID();
  int updates = 0;
  const auto keepDatabaseLayer = [&dbID, &updates](TGGlobe& g) {
    ++updates;
    if (g.Layers().LayerByID(dbID)) return;
    auto layer = std::make_unique<TGLayer>(&g);
    layer->SetName("db");
    auto source = std::make_unique<TGMemoryObjectSource>(&g);
    source->SetUniqueID(dbID);
    layer->SetObjectSource(std::move(source));
    g.Layers().Add(std::move(layer));
  };
  auto a = NewGlobe(200, 200);
  a->OnUpdateLayerTree = keepDatabaseLayer;
  a->NotifyLayerTreeChanged();
  TGLayer* db = a->Layers().LayerByID(dbID);
  ASSERT_NE(db, nullptr);
  a->BeginUpdate();
  AddLayer(a->GlobeLayer(), "Group").LayerStore().Add(db);
  a->EndUpdate();
  db->SetName("Coastline");
  const std::string path = Path("db.env");
  a->SaveEnvironmentToFile(path);

  auto b = NewGlobe(200, 200);
  b->OnUpdateLayerTree = keepDatabaseLayer;
  b->NotifyLayerTreeChanged();
  ASSERT_EQ(b->Layers().Count(), 1);
  updates = 0;
  b->LoadEnvironmentFromFile(path);
  // Once after the Clear that begins the load, once at its end; none with the tree half built.
  EXPECT_EQ(updates, 2);
  ASSERT_EQ(b->Layers().Count(), 1);
  TGLayer& loadedGroup = b->Layers().GetLayer(0);
  EXPECT_EQ(loadedGroup.Name(), "Group");
  ASSERT_EQ(loadedGroup.LayerStore().Count(), 1);
  EXPECT_EQ(loadedGroup.LayerStore().GetLayer(0).Name(), "Coastline");
  EXPECT_EQ(b->Layers().LayerByID(dbID), &loadedGroup.LayerStore().GetLayer(0));
}

TEST_F(EnvironmentFile, TheDictionaryFormLoadsToTheSameGlobeAsThePlainForm)
{
  auto a = NewGlobe(300, 300);
  AddLayer(AddLayer(a->GlobeLayer(), "Coast"), "Ports");
  AddLayer(a->GlobeLayer(), "Tracks");
  Furnish(*a);
  const std::string plain = Path("plain.env"), compressed = Path("dict.env");
  const std::string again = Path("again.env");
  a->SaveEnvironmentToFile(plain);

  TGXML_Document doc("Globe");
  doc.LoadFromFile(plain);
  doc.SetCompressed(true);
  doc.SaveToFile(compressed);
  ASSERT_TRUE(Bytes(compressed).startsWith("<DICT>"));
  ASSERT_EQ(Bytes(compressed).indexOf("<Layer "), -1);

  auto b = NewGlobe(300, 300);
  b->LoadEnvironmentFromFile(compressed);
  b->SaveEnvironmentToFile(again);
  EXPECT_EQ(Bytes(again), Bytes(plain));
  EXPECT_EQ(b->Layers().GetLayer(1).Name(), "Tracks");
}

TEST_F(EnvironmentFile, TheViewIsRescaledFromTheSavedClientSize)
{
  struct Case
  {
    const char* name;
    const char* width; // null: attribute removed
    const char* height;
    long double factor;
  };
  const Case cases[] = {
      {"saved at 600 x 800", "600", "800", 2},
      {"saved at 1200 x 1600", "1200", "1600", 1},
      {"no saved size: the present one", nullptr, nullptr, 1},
      {"saved size 0: no rescale", "0", "0", 1},
      {"negative size: no rescale", "-600", "-800", 1},
  };
  auto a = NewGlobe(600, 800);
  a->Projector().SetScaleFactor(1e-6L);
  a->Projector().SetCenterXY({100, -250});
  TGXML_Document doc("Globe");
  a->SaveToXML(doc.Document());
  ASSERT_EQ(doc.Document().Attribute("Width"), "600");
  ASSERT_EQ(doc.Document().Attribute("Height"), "800");

  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TGXML_Element& root = doc.Document();
    root.DeleteAttribute("Width");
    root.DeleteAttribute("Height");
    if (c.width) root.AddAttribute("Width", c.width);
    if (c.height) root.AddAttribute("Height", c.height);
    auto b = NewGlobe(1200, 1600);
    b->LoadFromXML(root);
    EXPECT_NEAR(b->Projector().ScaleFactor() / 1e-6L, c.factor, 1e-12);
    EXPECT_EQ(b->Projector().CenterXY(), (TGPoint{static_cast<int32_t>(100 * c.factor),
                                                  static_cast<int32_t>(-250 * c.factor)}));
  }
}

TEST_F(EnvironmentFile, AMissingFileLoadsNothingAndForgetsTheName)
{
  auto globe = NewGlobe(200, 200);
  AddLayer(globe->GlobeLayer(), "Keep").ObjectSource();
  const std::string good = Path("good.env");
  globe->SaveEnvironmentToFile(good);
  globe->LoadEnvironmentFromFile(good);
  ASSERT_EQ(globe->EnvironmentFile(), good);

  globe->LoadEnvironmentFromFile(Path("missing.env"));
  EXPECT_EQ(globe->EnvironmentFile(), "");
  EXPECT_EQ(globe->Layers().Count(), 1);
  EXPECT_FALSE(std::filesystem::exists(Path("missing.env")));
}

// Elements nested depth deep: a "Globe" root holding the rest.
std::string NestedGlobe(int depth)
{
  std::string text = "<Globe>";
  for (int i = 1; i < depth; ++i)
    text += "<E>";
  for (int i = 1; i < depth; ++i)
    text += "</E>";
  return text + "</Globe>";
}

TEST_F(EnvironmentFile, DamagedFilesAreRefusedAndLoseNothing)
{
  auto source = NewGlobe(200, 200);
  AddLayer(source->GlobeLayer(), "Keep").SetZoomUnits(guNauticalMile);
  const std::string path = Path("temp.env");
  source->SaveEnvironmentToFile(path);
  const QByteArray good = Bytes(path);

  struct Case
  {
    const char* name;
    QByteArray text;
    const char* error;
    bool parsed; // the document was read, so loading had begun
  };
  const Case cases[] = {
      {"cut short", good.left(good.size() / 2), "not closed", false},
      {"nested 1001 deep", QByteArray::fromStdString(NestedGlobe(1001)),
       "elements nested deeper than 1000 levels", false},
      {"open attribute", "<Globe SurfaceColor=\"clRed />", "attribute value not closed", false},
      {"another document", "<Scenario><Unit /></Scenario>", "is not an environment file", false},
      {"empty", "", "is not an environment file", false},
      {"unknown unit", QByteArray(good).replace("ZoomUnits=\"NM\"", "ZoomUnits=\"XX\""),
       "StrToUnits: Unknown Unit XX", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto globe = NewGlobe(200, 200);
    Write(path, good);
    globe->LoadEnvironmentFromFile(path);
    ASSERT_EQ(globe->Layers().Count(), 1);
    ASSERT_EQ(globe->EnvironmentFile(), path);

    Write(path, c.text);
    const std::string error = ErrorText([&] { globe->LoadEnvironmentFromFile(path); });
    EXPECT_NE(error.find(c.error), std::string::npos) << error;
    if (!c.parsed) {
      // Refused before anything changed.
      EXPECT_NE(error.find(path), std::string::npos) << error;
      EXPECT_EQ(globe->Layers().Count(), 1);
    }
    // The file is as it was, and the name is forgotten, so a later Clear writes nowhere.
    EXPECT_EQ(globe->EnvironmentFile(), "");
    globe->Clear();
    EXPECT_EQ(Bytes(path), c.text);
  }
}

TEST_F(EnvironmentFile, ARefusedFileLeavesTheGlobeAsItWas)
{
  auto globe = NewGlobe(200, 200);
  AddLayer(globe->GlobeLayer(), "Keep").ObjectSource();
  globe->SetSurfaceColor(clRed);
  const std::string path = Path("bad.env");
  Write(path, QByteArray::fromStdString(NestedGlobe(5000)));
  EXPECT_NE(ErrorText([&] { globe->LoadEnvironmentFromFile(path); }), "no exception");
  EXPECT_EQ(globe->Layers().Count(), 1);
  EXPECT_EQ(globe->SurfaceColor(), clRed);
}

TEST_F(EnvironmentFile, DeepLayerTreesLoadUpToTheNestingLimit)
{
  // Globe, GlobeLayer, then a "Layers" and a "Layer" element per level, each layer holding an
  // "ObjectSource": 3 + 2 x levels elements deep.
  const auto text = [](int levels) {
    std::string t = "<Globe><GlobeLayer Class=\"TGLayer\">";
    for (int i = 0; i < levels; ++i)
      t += "<Layers><Layer Class=\"TGLayer\" Name=\"L" + std::to_string(i) +
           "\"><ObjectSource Class=\"TGMemoryObjectSource\" ID=\"" + GUIDToString(NewGUID()) +
           "\" />";
    for (int i = 0; i < levels; ++i)
      t += "</Layer></Layers>";
    return t + "</GlobeLayer></Globe>";
  };
  const std::string path = Path("deep.env");
  auto globe = NewGlobe(200, 200);

  Write(path, QByteArray::fromStdString(text(498)));
  globe->LoadEnvironmentFromFile(path);
  int depth = 0;
  for (TGLayer* l = &globe->GlobeLayer(); l->LayerStore().Count() > 0;
       l = &l->LayerStore().GetLayer(0))
    ++depth;
  EXPECT_EQ(depth, 498);
  globe->SaveEnvironmentToFile(Path("deep2.env"));
  EXPECT_EQ(Bytes(Path("deep2.env")).count("<Layer "), 498);

  Write(path, QByteArray::fromStdString(text(499)));
  EXPECT_NE(ErrorText([&] {
              globe->LoadEnvironmentFromFile(path);
            }).find("nested deeper than 1000 levels"),
            std::string::npos);
}

TEST_F(EnvironmentFile, ClearingWritesTheClearedStateToTheRememberedFile)
{
  auto globe = NewGlobe(200, 200);
  AddLayer(globe->GlobeLayer(), "Keep").ObjectSource();
  const std::string path = Path("temp.env");
  globe->SaveEnvironmentToFile(path);
  globe->LoadEnvironmentFromFile(path);
  ASSERT_EQ(globe->Layers().Count(), 1);
  // Loading cleared the globe first, but did not write over the file it was reading.
  ASSERT_NE(Bytes(path).indexOf("Name=\"Keep\""), -1);

  globe->Clear();
  TGXML_Document doc("Globe");
  doc.LoadFromFile(path);
  ASSERT_NE(doc.Document().Element("GlobeLayer"), nullptr);
  EXPECT_EQ(doc.Document().Element("GlobeLayer")->Element("Layers"), nullptr);

  // Without a remembered file nothing is written.
  globe->SetEnvironmentFile("");
  std::filesystem::remove(path);
  globe->Clear();
  EXPECT_FALSE(std::filesystem::exists(path));
}

TEST_F(EnvironmentFile, TheEventsSeeTheDocumentBeforeWritingAndAfterLoading)
{
  auto a = NewGlobe(200, 200);
  a->OnSaveEnvironment = [](TGGlobe&, TGXML_Document& doc) {
    doc.Document().AddElement("Program").AddAttribute("Scale", "1:50000");
  };
  const std::string path = Path("events.env");
  a->SaveEnvironmentToFile(path);
  EXPECT_NE(Bytes(path).indexOf("<Program Scale=\"1:50000\" />"), -1);

  auto b = NewGlobe(200, 200);
  std::string seen;
  b->OnLoadEnvironment = [&seen, &path](TGGlobe& globe, TGXML_Document& doc) {
    EXPECT_EQ(globe.EnvironmentFile(), path);
    seen = doc.Document().Element("Program")->Attribute("Scale");
  };
  b->LoadEnvironmentFromFile(path);
  EXPECT_EQ(seen, "1:50000");
}

} // namespace
} // namespace vtr
